// Turning the template into the desktop page. The template and the page are ANSI text; the
// work is done on their bytes, which gives the same bytes as converting to wide text and back
// (the delimiters and the digits are ASCII and never occur as the second byte of a
// double-byte character in the Windows code pages).
#pragma once

#include <string>
#include <string_view>

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
class TemplateReader {
public:
    explicit TemplateReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }

    // The next item; a view into the template text. Requires !AtEnd().
    std::string_view ReadItem();

private:
    void SkipDelimiter();

    std::string_view text_;
    size_t pos_ = 0;
};

// Appends text to out with every "800" replaced by width and every "600" by height, in one
// left-to-right pass: text inserted for either is never searched again.
void AppendSubstituted(std::string& out, std::string_view text, std::string_view width, std::string_view height);

struct PageResult {
    std::string pageText;      // each item after substitution followed by CR LF
    std::string lastItem;      // the last item read, before substitution
};

// Reads every item of the template and builds the page's text. The page file is CR LF, then
// pageText, then CR LF.
PageResult BuildPageText(std::string_view templateText, std::string_view width, std::string_view height);

}  // namespace tarnwick
