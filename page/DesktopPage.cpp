#include "page/DesktopPage.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

bool IsDelimiter(char c)
{
    return c == ',' || IsLineEnd(c);
}

// Items and lines are short, so the delimiter is looked for 16 bytes at a time rather than by
// one library search per delimiter.
size_t FindDelimiter(const char* data, size_t from, size_t size)
{
    size_t i = from;
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 16 <= size; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(block, comma),
                                          _mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf)));
        if (const int mask = _mm_movemask_epi8(hits); mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    while (i < size && !IsDelimiter(data[i]))
        ++i;
    return i;
}

// Positions p (from first on) where text[p - 1] is '8' or '6' and text[p], text[p + 1] are '0':
// calls match(p - 1) for each, in order. Two placeholders can never overlap.
template <typename Match>
void ForEachPlaceholder(const char* data, size_t size, Match&& match)
{
    size_t p = 1;
#if defined(__SSE2__)
    const __m128i zero = _mm_set1_epi8('0');
    const __m128i eight = _mm_set1_epi8('8');
    const __m128i six = _mm_set1_epi8('6');
    // One block looks at the 16 positions p..p+15 and reads data[p - 1] to data[p + 16].
    auto block = [&](size_t at) {
        const __m128i lead = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at - 1));
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
        const __m128i hits = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(lead, eight), _mm_cmpeq_epi8(lead, six)),
                                           _mm_and_si128(_mm_cmpeq_epi8(first, zero), _mm_cmpeq_epi8(second, zero)));
        return static_cast<unsigned>(_mm_movemask_epi8(hits));
    };
    if (size >= 18) {
        for (; p + 17 <= size; p += 16)
            for (unsigned mask = block(p); mask != 0; mask &= mask - 1)
                match(p - 1 + static_cast<size_t>(__builtin_ctz(mask)));
        // The rest as one more block that ends with the text (it starts at 1 or later, as size
        // is 18 or more), its positions before p left out.
        if (p + 1 < size) {
            const size_t last = size - 17;
            for (unsigned mask = block(last) >> (p - last); mask != 0; mask &= mask - 1)
                match(p - 1 + static_cast<size_t>(__builtin_ctz(mask)));
        }
        return;
    }
#endif
    for (; p + 1 < size; ++p)
        if (data[p] == '0' && data[p + 1] == '0' && (data[p - 1] == '8' || data[p - 1] == '6'))
            match(p - 1);
}
}  // namespace

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
        pos = FindDelimiter(text_.data(), pos, size);
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
    const char* data = text.data();
    size_t copied = 0;  // text before this is in out already
    ForEachPlaceholder(data, text.size(), [&](size_t at) {
        out.append(data + copied, at - copied);
        out.append(data[at] == '8' ? width : height);
        copied = at + 3;
    });
    out.append(data + copied, text.size() - copied);
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
