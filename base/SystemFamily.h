// Which family of Windows runs the program.
#pragma once

#ifdef _WIN32
namespace tarnwick {

// True on Windows 95, 98 and ME. Their wide (...W) entry points are mostly stubs that fail,
// so there the program calls the ANSI ones.
bool IsWindows9x();

}  // namespace tarnwick
#endif
