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

#if defined(__SSE2__)
namespace {
// The texts put in place of "800" and "600", each padded to one block so it is stored at once.
struct Replacements {
    Replacements(std::string_view width, std::string_view height)
    {
        char padded[2][16] = {};
        std::memcpy(padded[0], width.data(), width.size());
        std::memcpy(padded[1], height.data(), height.size());
        text[0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(padded[0]));
        text[1] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(padded[1]));
        shift[0] = static_cast<ptrdiff_t>(width.size()) - 3;
        shift[1] = static_cast<ptrdiff_t>(height.size()) - 3;
    }
    __m128i text[2];
    ptrdiff_t shift[2];  // how much longer the text is than its placeholder
};

constexpr size_t kNone = static_cast<size_t>(-1);

// One pass over the text from `from` in blocks: each block is copied to w as it is looked at, and
// placeholders are replaced in the copy where a "00" shows one. Stops at the first comma or line
// end (Quoted: the first double quote), answering its position and leaving w where that byte
// would go. Answers kNone when a block would cross the end of the text or of the room at w; the
// caller then takes the general path, as nothing before w has changed.
template <bool Quoted>
size_t CopyUntilStop(const char* data, size_t size, size_t from, char*& w, const char* end, const Replacements& r)
{
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i zero = _mm_set1_epi8('0');
    char* out = w;             // where the byte at i goes
    unsigned zerosBefore = 0;  // the previous block's '0' mask, for pairs across blocks
    if (size < 16 || end - w < 64)
        return kNone;
    const size_t lastBlock = size - 16;
    const char* const roomEnd = end - 32;
    for (size_t i = from;; i += 16) {
        if (i > lastBlock || out > roomEnd)
            return kNone;
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
        const __m128i stops = Quoted ? _mm_cmpeq_epi8(block, quote)
                                     : _mm_or_si128(_mm_cmpeq_epi8(block, comma),
                                                    _mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf)));
        const unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(stops));
        const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, zero)));
        // Bit k: bytes i + k - 1 and i + k are both '0' (the first of them at from or later).
        unsigned pairs = zeros & ((zeros << 1) | (zerosBefore >> 15));
        zerosBefore = zeros;
        if (pairs != 0 && stop != 0)
            pairs &= (1u << __builtin_ctz(stop)) - 1;
        for (; pairs != 0; pairs &= pairs - 1) {
            const size_t last = i + static_cast<size_t>(__builtin_ctz(pairs));  // the second '0'
            if (last < from + 2 || (data[last - 2] != '8' && data[last - 2] != '6'))
                continue;
            const int which = data[last - 2] == '8' ? 0 : 1;
            char* at = out + (last - i) - 2;
            // The text, then the bytes after the placeholder moved to follow it; later blocks go
            // to the new place too. Placeholders never overlap.
            if (size - last < 17 || end - at < 48)
                return kNone;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at), r.text[which]);
            out += r.shift[which];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + r.shift[which] + 3),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + last + 1)));
        }
        if (stop != 0) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(stop));
            w = out + k;
            return i + k;
        }
        out += 16;
    }
}

// Index of the first byte from pos on that is not a space or a tab; kNone past the last block.
size_t SkipBlanks(const char* data, size_t size, size_t pos)
{
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    for (; size - pos >= 16; pos += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
        const unsigned blanks = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, space), _mm_cmpeq_epi8(block, tab))));
        if (blanks != 0xFFFF)
            return pos + static_cast<size_t>(__builtin_ctz(~blanks));
    }
    return kNone;
}

// The page text of the item at pos, followed by CR LF, written at w; pos moves past its
// delimiter. False, with nothing changed, for an item the general path must read: one that ends
// near the end of the window, or needs more room than w to end has.
bool FastItem(const char* data, size_t size, size_t& pos, char*& w, const char* end, const Replacements& r,
              std::string_view& item)
{
    const size_t start = SkipBlanks(data, size, pos);
    if (start == kNone)
        return false;
    char* out = w;
    size_t next;  // the delimiter
    if (data[start] == '"') {
        const size_t close = CopyUntilStop<true>(data, size, start + 1, out, end, r);
        if (close == kNone)
            return false;
        item = std::string_view(data + start + 1, close - start - 1);
        next = close + 1;
        while (next < size && !IsDelimiter(data[next]))
            ++next;
    } else {
        next = CopyUntilStop<false>(data, size, start, out, end, r);
        if (next == kNone)
            return false;
        size_t itemEnd = next;
        for (; itemEnd > start && IsBlank(data[itemEnd - 1]); --itemEnd)
            --out;
        item = std::string_view(data + start, itemEnd - start);
    }
    // A CR at the end of the window may have its LF in the next one.
    if (size - next < 2 || end - out < 2)
        return false;
    next += data[next] == '\r' && data[next + 1] == '\n' ? 2 : 1;
    out[0] = '\r';
    out[1] = '\n';
    w = out + 2;
    pos = next;
    return true;
}

// Room to write into after the used bytes of out, in small steps: growing a string fills the new
// bytes first, which is cheapest for short runs.
constexpr size_t kRoom = 1536;

void MakeRoom(std::string& out, size_t used)
{
    out.resize(used + kRoom);
}
}  // namespace
#endif

#if defined(__SSE2__)
namespace {
// The SSE2 road: items are written straight into out's storage; the general reader takes any
// item this one cannot, one at a time. Replacements of up to 16 bytes only.
size_t FeedSse2(std::string_view window, bool final, std::string& out, std::string_view width, std::string_view height,
                std::optional<std::string_view>& last)
{
    std::string_view item;
    bool any = false;
    size_t pos = 0;
    const Replacements replacements(width, height);
    const char* data = window.data();
    const size_t size = window.size();
    size_t used = out.size();
    MakeRoom(out, used);
    char* w = out.data() + used;
    const char* end = out.data() + out.size();
    bool grown = false;  // room was just made for the item at pos
    while (pos < size) {
        if (FastItem(data, size, pos, w, end, replacements, item)) {
            any = true;
            grown = false;
            continue;
        }
        used = static_cast<size_t>(w - out.data());
        if (!grown && end - w < static_cast<ptrdiff_t>(kRoom / 2)) {  // more room may be all it needs
            MakeRoom(out, used);
            w = out.data() + used;
            end = out.data() + out.size();
            grown = true;
            continue;
        }
        grown = false;
        out.resize(used);
        TemplateReader reader(window.substr(pos), final);
        const std::optional<std::string_view> next = reader.TryReadItem();
        if (!next) {
            w = out.data() + out.size();
            break;
        }
        item = *next;
        any = true;
        AppendSubstituted(out, item, width, height);
        out.append("\r\n");
        pos += reader.Consumed();
        used = out.size();
        MakeRoom(out, used);
        w = out.data() + used;
        end = out.data() + out.size();
    }
    out.resize(static_cast<size_t>(w - out.data()));
    if (any)
        last = item;
    return pos;
}
}  // namespace
#endif

size_t PageBuilder::Feed(std::string_view window, bool final, std::string& out)
{
    std::optional<std::string_view> last;
    size_t used = 0;
#if defined(__SSE2__)
    if (width_.size() <= 16 && height_.size() <= 16) {
        used = FeedSse2(window, final, out, width_, height_, last);
    } else
#endif
    {
        TemplateReader reader(window, final);
        while (!reader.AtEnd()) {
            std::optional<std::string_view> next = reader.TryReadItem();
            if (!next)
                break;
            last = next;
            AppendSubstituted(out, *next, width_, height_);
            out.append("\r\n");
        }
        used = reader.Consumed();
    }
    if (last)
        lastItem_.assign(*last);
    return used;
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
