#include "base/FilePath.h"

#include <cstdint>

#ifndef _WIN32
#include <unistd.h>

#include <cerrno>
#endif

#include "base/AnsiText.h"
#include "base/AppError.h"

namespace tarnwick {

namespace {

bool IsSeparator(FilePath::String::value_type c)
{
#ifdef _WIN32
    return c == L'\\' || c == L'/';
#else
    return c == '/';
#endif
}

#ifndef _WIN32
// Length of the valid UTF-8 sequence at text[i], or 0 when there is none.
size_t Utf8SequenceLength(std::string_view text, size_t i)
{
    const auto b = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    uint32_t c = 0;
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        length = 2, c = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF)
        length = 3, c = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4)
        length = 4, c = b & 0x07;
    else
        return 0;
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto t = static_cast<unsigned char>(text[i + k]);
        if ((t & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (t & 0x3F);
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}
#endif

}  // namespace

FilePath FilePath::operator/(std::string_view name) const
{
    return *this / FilePath(String(name.begin(), name.end()));
}

FilePath FilePath::operator/(const FilePath& name) const
{
    String joined = native_;
    if (!joined.empty() && !IsSeparator(joined.back()))
        joined.push_back(kSeparator);
    joined += name.native_;
    return FilePath(std::move(joined));
}

FilePath FilePath::operator+(std::string_view text) const
{
    String joined = native_;
    joined.append(text.begin(), text.end());
    return FilePath(std::move(joined));
}

FilePath::String FilePath::FileName() const
{
    size_t start = native_.size();
    while (start > 0 && !IsSeparator(native_[start - 1]))
        --start;
    return native_.substr(start);
}

FilePath FilePath::Parent() const
{
    size_t end = native_.size();
    while (end > 0 && !IsSeparator(native_[end - 1]))
        --end;
    if (end == 0)
        return FilePath(String(1, '.'));
    size_t keep = end - 1;  // the separator before the last component
    while (keep > 0 && IsSeparator(native_[keep - 1]))
        --keep;
    if (keep == 0)
        return FilePath(native_.substr(0, 1));  // "/x" -> "/"
#ifdef _WIN32
    if (keep == 2 && native_[1] == L':')
        return FilePath(native_.substr(0, 3));  // "C:\x" -> "C:\"
#endif
    return FilePath(native_.substr(0, keep));
}

#ifdef _WIN32
std::u16string FilePath::ToUtf16() const
{
    return std::u16string(native_.begin(), native_.end());
}

FilePath FilePath::FromUtf16(std::u16string_view text)
{
    return FilePath(String(text.begin(), text.end()));
}
#else
std::u16string FilePath::ToUtf16() const
{
    std::u16string out;
    for (size_t i = 0; i < native_.size();) {
        const size_t length = Utf8SequenceLength(native_, i);
        if (length == 0) {
            out.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(native_[i])));
            ++i;
            continue;
        }
        out.append(FromUtf8(std::string_view(native_).substr(i, length)));
        i += length;
    }
    return out;
}

FilePath FilePath::FromUtf16(std::u16string_view text)
{
    String out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool pair =
            c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (pair) {
            out.append(tarnwick::ToUtf8(text.substr(i, 2)));
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out.push_back(static_cast<char>(c - 0xDC00));  // a byte that was not valid UTF-8
        } else {
            out.append(tarnwick::ToUtf8(text.substr(i, 1)));
        }
    }
    return FilePath(std::move(out));
}
#endif

std::string FilePath::ToUtf8() const
{
    return tarnwick::ToUtf8(ToUtf16());
}

#ifndef _WIN32
std::string FilePath::FileUri() const
{
    std::string absolute = native_;
    if (absolute.empty() || absolute.front() != '/') {
        std::string folder(256, '\0');
        while (getcwd(folder.data(), folder.size()) == nullptr) {
            if (errno != ERANGE)
                throw SystemError(static_cast<uint32_t>(errno),
                                  "Cannot find the working folder for " + ToUtf8() + ".");
            folder.resize(folder.size() * 2);
        }
        folder.resize(folder.find('\0'));
        absolute = (FilePath(folder) / FilePath(absolute)).native_;
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : absolute) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/') {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0x0F];
        }
    }
    return uri;
}
#endif

}  // namespace tarnwick
