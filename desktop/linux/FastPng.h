// A PNG encoder for the drawn page, quicker than a general one: 8-bit RGB, a row the same as the
// one above with the Up filter (all zeros), every other with the Sub filter (a byte less its left
// neighbour's, which suits flat colours and gradients alike), deflated at zlib's fastest level
// with run-length matching in as many strips at once as there are processors, the raw deflate
// streams of the strips joined into the one zlib stream a PNG holds.
#pragma once

#include <string>

class QImage;

namespace tarnwick {

// image in QImage::Format_RGB32; the alpha byte is dropped.
std::string FastPng(const QImage& image);

}  // namespace tarnwick
