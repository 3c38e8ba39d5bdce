// Which Windows runs the program, as the system itself is, not as it tells programs. Under a
// compatibility mode ("Windows 95", "Windows XP" ...) on a later Windows, GetVersion and
// GetVersionEx report the older system; everything here asks what the compatibility layer does
// not rewrite. This is the one place the program decides "95 family or NT" and "which NT".
#pragma once

#include <cstdint>
#include <optional>

namespace tarnwick {

struct RunningWindows {
    // The NT family (NT 4, 2000, XP, Vista and later); false on Windows 95, 98 and ME.
    bool nt = false;
    // On NT, the kernel's own major and minor version (0 where it gives none); else 0.
    uint32_t ntMajor = 0;
    uint32_t ntMinor = 0;
};

// What NT's kernel shares with every process in a read-only page at 0x7FFE0000
// (KUSER_SHARED_DATA): the product type (1 workstation, 2 domain controller, 3 server; Wine
// playing Windows 95, 98 or ME writes 0) and the version (NtMajorVersion at 0x26C,
// NtMinorVersion at 0x270). The compatibility layer shims functions, never this page.
struct SharedPage {
    uint32_t productType = 0;
    uint32_t ntMajor = 0;
    uint32_t ntMinor = 0;
};

// The decision, from whether ntdll.dll is loaded and what the page answered (nothing where it
// cannot be queried):
// - NT has ntdll.dll loaded in every process; Windows 95, 98 and ME never load it. Loaded, it is
//   NT, and the page only refines the version: a page that cannot be queried, or a product type
//   of none of the three that a real NT writes, leaves it NT of an unknown version (0).
// - The one exception is Wine playing Windows 95, 98 or ME, which loads ntdll.dll too and writes
//   a product type of 0 in a page that reads: that is the 95 family it plays.
RunningWindows DecideRunning(bool ntdllLoaded, const std::optional<SharedPage>& page);

#ifdef _WIN32
// The system, asked once: ntdll.dll looked for, the page read only where VirtualQuery finds it
// committed and readable.
const RunningWindows& Running();

// True on Windows 95, 98 and ME. Their wide (...W) entry points are mostly stubs that fail,
// so there the program calls the ANSI ones.
bool IsWindows9x();
#endif

}  // namespace tarnwick
