// Turning the template into the desktop page. The template and the page are ANSI text; the
// work is done on their bytes, which gives the same bytes as converting to wide text and back
// (the delimiters and the digits are ASCII and never occur as the second byte of a
// double-byte character in the Windows code pages).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/FilePath.h"

namespace tarnwick {

// Reads a template item by item.
//
// - Spaces and tabs before an item are skipped.
// - An item that begins with a double quote runs to the next double quote; both quotes are
//   dropped, and commas and line ends between them belong to the item. Without a closing quote
//   it runs to the end of the file. Characters after the closing quote up to the next
//   delimiter are dropped.
// - Any other item runs up to the next comma or line end, or the end of the file; spaces and
//   tabs before that delimiter are not part of the item. Double quotes inside it are kept.
// - A line end is CR LF, a lone CR or a lone LF. The delimiter is consumed with the item.
// - A blank line, and a line end right after a comma, give an empty item; after the last line
//   end of the file there is no further item.
//
// The text may be the whole template, or a window of it that more text will follow (final
// false): then an item is only read once its delimiter lies inside the window.
class TemplateReader {
public:
    explicit TemplateReader(std::string_view text, bool final = true) : text_(text), final_(final) {}

    // True once every item of a final text has been read.
    bool AtEnd() const { return final_ && pos_ >= text_.size(); }

    // The next item, a view into the text. Requires !AtEnd() and a final text.
    std::string_view ReadItem() { return *TryReadItem(); }

    // The next item, or nothing when the window holds no further complete item.
    std::optional<std::string_view> TryReadItem();

    // How much of the text the items read so far took up.
    size_t Consumed() const { return pos_; }

private:
    // Moves past the delimiter at pos_; false when a CR ends the window and an LF may follow.
    bool SkipDelimiter(size_t& pos) const;

    std::string_view text_;
    bool final_;
    size_t pos_ = 0;
};

// Appends text to out with every "800" replaced by width and every "600" by height, in one
// left-to-right pass: text inserted for either is never searched again.
void AppendSubstituted(std::string& out, std::string_view text, std::string_view width, std::string_view height);

// Streams template text into page text: each item, substituted, followed by CR LF. The template
// may come in windows of any size.
class PageBuilder {
public:
    PageBuilder(std::string_view width, std::string_view height) : width_(width), height_(height) {}

    // Appends the page text of every complete item at the start of window to out and answers
    // how many bytes of window they took; the rest must be offered again with more text behind
    // it. With final, the window is the rest of the template and all of it is used.
    size_t Feed(std::string_view window, bool final, std::string& out);

    // The last item read, before substitution.
    const std::string& LastItem() const { return lastItem_; }

private:
    std::string width_;
    std::string height_;
    std::string lastItem_;
};

struct PageResult {
    std::string pageText;  // each item after substitution followed by CR LF
    std::string lastItem;  // the last item read, before substitution
};

// The page text of a whole template. The page file is CR LF, then pageText, then CR LF.
PageResult BuildPageText(std::string_view templateText, std::string_view width, std::string_view height);

// Reads the template and writes the page file (CR LF, each item substituted and followed by CR
// LF, CR LF) in its place, a window at a time; answers the last item read. A missing template
// stops before the page is touched; any failure leaves an older page as it was. Failures are
// raised as AppError naming the file.
std::string WriteDesktopPage(const FilePath& templatePath, const FilePath& pagePath, std::string_view width,
                             std::string_view height);

}  // namespace tarnwick
