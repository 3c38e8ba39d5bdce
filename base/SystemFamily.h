// Which Windows runs the program, as the system itself is, not as it tells programs. Under a
// compatibility mode ("Windows 95", "Windows XP" ...) on a later Windows, GetVersion and
// GetVersionEx report the older system; everything here asks what the compatibility layer does
// not rewrite. This is the one place the program decides "95 family or NT" and "which NT".
#pragma once

#ifdef _WIN32
#include <cstdint>

namespace tarnwick {

struct RunningWindows {
    // The NT family (NT 4, 2000, XP, Vista and later); false on Windows 95, 98 and ME.
    bool nt = false;
    // On NT, the kernel's own major and minor version (0 where it gives none); else 0.
    uint32_t ntMajor = 0;
    uint32_t ntMinor = 0;
};

// The system, asked once:
// - NT has ntdll.dll loaded in every process; Windows 95, 98 and ME never load it.
// - NT's kernel shares a read-only page with every process at 0x7FFE0000 (KUSER_SHARED_DATA)
//   that holds the product type (1 workstation, 2 domain controller, 3 server) and the version
//   (NtMajorVersion at 0x26C, NtMinorVersion at 0x270). The compatibility layer shims functions,
//   never this page. The page is read only where ntdll.dll is loaded and VirtualQuery finds it
//   committed; a product type that is none of the three (Wine playing Windows 95, 98 or ME writes
//   0 there) counts as the 95 family.
const RunningWindows& Running();

// True on Windows 95, 98 and ME. Their wide (...W) entry points are mostly stubs that fail,
// so there the program calls the ANSI ones.
bool IsWindows9x();

}  // namespace tarnwick
#endif
