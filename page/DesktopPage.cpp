#include "page/DesktopPage.h"

#include <cstring>

namespace tarnwick {

namespace {
bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}
}  // namespace

void TemplateReader::SkipDelimiter()
{
    if (pos_ >= text_.size())
        return;
    char c = text_[pos_++];
    if (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n')
        ++pos_;
}

std::string_view TemplateReader::ReadItem()
{
    while (pos_ < text_.size() && IsBlank(text_[pos_]))
        ++pos_;

    if (pos_ < text_.size() && text_[pos_] == '"') {
        size_t start = pos_ + 1;
        size_t close = text_.find('"', start);
        if (close == std::string_view::npos) {
            pos_ = text_.size();
            return text_.substr(start);
        }
        std::string_view item = text_.substr(start, close - start);
        pos_ = close + 1;
        while (pos_ < text_.size() && text_[pos_] != ',' && !IsLineEnd(text_[pos_]))
            ++pos_;
        SkipDelimiter();
        return item;
    }

    size_t start = pos_;
    const char* data = text_.data();
    size_t size = text_.size();
    while (pos_ < size && data[pos_] != ',' && !IsLineEnd(data[pos_]))
        ++pos_;
    size_t end = pos_;
    while (end > start && IsBlank(data[end - 1]))
        --end;
    SkipDelimiter();
    return text_.substr(start, end - start);
}

void AppendSubstituted(std::string& out, std::string_view text, std::string_view width, std::string_view height)
{
    // Every match ends in "00": find each '0' followed by '0' and look at the digit before it.
    const char* data = text.data();
    size_t size = text.size();
    size_t copied = 0;
    size_t i = 2;
    while (i < size) {
        const void* hit = std::memchr(data + i - 1, '0', size - (i - 1));
        if (hit == nullptr)
            break;
        size_t zero = static_cast<size_t>(static_cast<const char*>(hit) - data);  // first '0' of "00"
        if (zero + 1 >= size)
            break;
        if (data[zero + 1] != '0' || zero == 0 || zero - 1 < copied) {
            i = zero + 2;
            continue;
        }
        char lead = data[zero - 1];
        if (lead == '8' || lead == '6') {
            out.append(data + copied, zero - 1 - copied);
            out.append(lead == '8' ? width : height);
            copied = zero + 2;
            i = copied + 2;
        } else {
            i = zero + 2;
        }
    }
    out.append(data + copied, size - copied);
}

PageResult BuildPageText(std::string_view templateText, std::string_view width, std::string_view height)
{
    PageResult result;
    // Items lose their delimiters and gain CR LF; replacements may be longer than the
    // placeholders. A little headroom avoids most regrowth on ordinary pages.
    result.pageText.reserve(templateText.size() + templateText.size() / 16 + 64);
    TemplateReader reader(templateText);
    std::string_view item;
    while (!reader.AtEnd()) {
        item = reader.ReadItem();
        AppendSubstituted(result.pageText, item, width, height);
        result.pageText.append("\r\n");
    }
    result.lastItem.assign(item);
    return result;
}

}  // namespace tarnwick
