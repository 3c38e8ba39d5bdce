#include "base/SystemFamily.h"

#ifdef _WIN32
#include <windows.h>

namespace tarnwick {

namespace {

constexpr uintptr_t kSharedData = 0x7FFE0000;
constexpr uintptr_t kProductType = 0x264;
constexpr uintptr_t kMajorVersion = 0x26C;
constexpr uintptr_t kMinorVersion = 0x270;

uint32_t SharedValue(uintptr_t offset)
{
    return *reinterpret_cast<const volatile uint32_t*>(kSharedData + offset);
}

RunningWindows Ask()
{
    RunningWindows running;
    if (GetModuleHandleA("ntdll.dll") == nullptr)
        return running;  // Windows 95, 98 or ME
    MEMORY_BASIC_INFORMATION page{};
    if (VirtualQuery(reinterpret_cast<const void*>(kSharedData), &page, sizeof page) != sizeof page ||
        page.State != MEM_COMMIT || (page.Protect & (PAGE_READONLY | PAGE_READWRITE)) == 0)
        return running;
    const uint32_t productType = SharedValue(kProductType);
    if (productType < 1 || productType > 3)
        return running;
    running.nt = true;
    running.ntMajor = SharedValue(kMajorVersion);
    running.ntMinor = SharedValue(kMinorVersion);
    return running;
}

}  // namespace

const RunningWindows& Running()
{
    static const RunningWindows running = Ask();
    return running;
}

bool IsWindows9x()
{
    return !Running().nt;
}

}  // namespace tarnwick
#endif
