// A file's path as the system spells it: UTF-16 on Windows, the file system's own bytes
// elsewhere. Paths are only ever converted where they are shown or handed to another program,
// so a folder whose name is not valid in any text encoding still works.
#pragma once

#include <concepts>
#include <string>
#include <string_view>
#include <utility>

namespace tarnwick {

class FilePath {
public:
#ifdef _WIN32
    using String = std::wstring;
    static constexpr wchar_t kSeparator = L'\\';
#else
    using String = std::string;
    static constexpr char kSeparator = '/';
#endif

    FilePath() = default;
    explicit FilePath(String native) : native_(std::move(native)) {}
#ifdef _WIN32
    // An ASCII path.
    explicit FilePath(std::string_view ascii) : native_(ascii.begin(), ascii.end()) {}
#endif
    // From any path type that offers the system's spelling (std::filesystem::path).
    template <class P>
    requires requires(const P& p)
    {
        {
            p.native()
            } -> std::convertible_to<const String&>;
    }
    FilePath(const P& path) : native_(path.native()) {}

    const String& Native() const
    {
        return native_;
    }
    bool Empty() const
    {
        return native_.empty();
    }

    // This path, a separator unless it ends in one, then name (ASCII).
    FilePath operator/(std::string_view name) const;
    FilePath operator/(const FilePath& name) const;
    // This path with text (ASCII) added to its last component.
    FilePath operator+(std::string_view text) const;
    // The last component.
    String FileName() const;
    // The folder that holds this path ("." for a bare name); a root keeps its separator.
    FilePath Parent() const;

    // UTF-16 for the Windows shell and the registry. Elsewhere the bytes are read as UTF-8,
    // and a byte that is not part of valid UTF-8 becomes U+DC80..U+DCFF, which FromUtf16 turns
    // back into that byte: the conversion loses nothing.
    std::u16string ToUtf16() const;
    static FilePath FromUtf16(std::u16string_view text);
    // UTF-8 for messages; bytes that are not valid UTF-8 show as U+FFFD.
    std::string ToUtf8() const;
#ifndef _WIN32
    // The file:// URI of this path, made absolute against the working folder: every byte but the
    // unreserved ASCII ones and '/' is percent-encoded, so any name, UTF-8 or not, survives.
    // Throws AppError when the working folder cannot be read.
    std::string FileUri() const;
#endif

    friend bool operator==(const FilePath&, const FilePath&) = default;

private:
    String native_;
};

}  // namespace tarnwick
