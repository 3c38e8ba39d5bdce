#include "page/DesktopPage.h"

#include <algorithm>
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

size_t TemplateReader::Next(char c, std::ptrdiff_t& cache) const
{
    if (cache < static_cast<std::ptrdiff_t>(pos_)) {
        const void* hit = std::memchr(text_.data() + pos_, c, text_.size() - pos_);
        cache = hit != nullptr ? static_cast<const char*>(hit) - text_.data() : static_cast<std::ptrdiff_t>(text_.size());
    }
    return static_cast<size_t>(cache);
}

bool TemplateReader::SkipDelimiter(size_t& pos) const
{
    if (pos >= text_.size())
        return final_;
    if (text_[pos] == '\r') {
        if (pos + 1 >= text_.size() && !final_)
            return false;
        if (pos + 1 < text_.size() && text_[pos + 1] == '\n')
            ++pos;
    }
    ++pos;
    return true;
}

std::optional<std::string_view> TemplateReader::TryReadItem()
{
    size_t pos = pos_;
    const size_t size = text_.size();
    while (pos < size && IsBlank(text_[pos]))
        ++pos;
    if (pos >= size && !final_)
        return std::nullopt;

    std::string_view item;
    if (pos < size && text_[pos] == '"') {
        const size_t start = pos + 1;
        const size_t close = text_.find('"', start);
        if (close == std::string_view::npos) {
            if (!final_)
                return std::nullopt;
            pos_ = size;
            return text_.substr(start);
        }
        item = text_.substr(start, close - start);
        pos = close + 1;
        while (pos < size && text_[pos] != ',' && !IsLineEnd(text_[pos]))
            ++pos;
    } else {
        const size_t start = pos;
        pos_ = pos;  // the delimiter searches start here
        pos = std::min({Next(',', nextComma_), Next('\r', nextCr_), Next('\n', nextLf_)});
        size_t end = pos;
        while (end > start && IsBlank(text_[end - 1]))
            --end;
        item = text_.substr(start, end - start);
    }
    if (!SkipDelimiter(pos))
        return std::nullopt;
    pos_ = pos;
    return item;
}

void AppendSubstituted(std::string& out, std::string_view text, std::string_view width, std::string_view height)
{
    // Every match ends in "00": find each '0' followed by '0' and look at the digit before it.
    const char* data = text.data();
    const size_t size = text.size();
    size_t copied = 0;  // text before this is in out already
    size_t from = 1;    // where the next "00" may begin
    while (from + 1 < size) {
        const void* hit = std::memchr(data + from, '0', size - from - 1);
        if (hit == nullptr)
            break;
        const size_t zero = static_cast<size_t>(static_cast<const char*>(hit) - data);
        if (data[zero + 1] != '0') {
            from = zero + 2;
            continue;
        }
        const char lead = data[zero - 1];
        if ((lead == '8' || lead == '6') && zero - 1 >= copied) {
            out.append(data + copied, zero - 1 - copied);
            out.append(lead == '8' ? width : height);
            copied = zero + 2;
            from = copied + 1;
        } else {
            from = zero + 1;
        }
    }
    out.append(data + copied, size - copied);
}

size_t PageBuilder::Feed(std::string_view window, bool final, std::string& out)
{
    TemplateReader reader(window, final);
    std::string_view item;
    bool any = false;
    while (!reader.AtEnd()) {
        std::optional<std::string_view> next = reader.TryReadItem();
        if (!next)
            break;
        item = *next;
        any = true;
        AppendSubstituted(out, item, width_, height_);
        out.append("\r\n");
    }
    if (any)
        lastItem_.assign(item);
    return reader.Consumed();
}

PageResult BuildPageText(std::string_view templateText, std::string_view width, std::string_view height)
{
    PageResult result;
    result.pageText.reserve(templateText.size() + templateText.size() / 16 + 64);
    PageBuilder builder(width, height);
    builder.Feed(templateText, true, result.pageText);
    result.lastItem = builder.LastItem();
    return result;
}

}  // namespace tarnwick
