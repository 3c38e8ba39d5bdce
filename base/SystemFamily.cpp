#include "base/SystemFamily.h"

#ifdef _WIN32
#include <windows.h>

namespace tarnwick {

bool IsWindows9x()
{
    // GetVersion sets the top bit on every system that is not of the NT family.
    static const bool windows9x = (GetVersion() & 0x80000000u) != 0;
    return windows9x;
}

}  // namespace tarnwick
#endif
