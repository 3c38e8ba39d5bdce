// Conversion from the wide (UTF-16) text held in memory to the system's ANSI code page used by
// files and the registry. Windows uses its active code page; elsewhere the code page is
// Windows-1252, and characters it cannot hold become '?', as Windows does by default.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

std::string ToAnsi(std::u16string_view text);
#ifdef _WIN32
// The ANSI code page's text as UTF-16, for what 95, 98 and ME hand back in ANSI only.
std::u16string FromAnsi(std::string_view text);
#endif

// Whether ToAnsi keeps every character of text as itself: nothing becomes '?' or a look-alike.
bool FitsAnsi(std::u16string_view text);

// UTF-8 for messages and the Linux user interface.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace tarnwick
