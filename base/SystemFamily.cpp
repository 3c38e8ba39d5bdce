#include "base/SystemFamily.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tarnwick {

RunningWindows DecideRunning(bool ntdllLoaded, const std::optional<SharedPage>& page)
{
    RunningWindows running;
    if (!ntdllLoaded)
        return running;  // Windows 95, 98 or ME
    if (page && page->productType == 0)
        return running;  // Wine playing Windows 95, 98 or ME
    running.nt = true;
    if (page && page->productType <= 3) {
        running.ntMajor = page->ntMajor;
        running.ntMinor = page->ntMinor;
    }
    return running;
}

#ifdef _WIN32
namespace {

constexpr uintptr_t kSharedData = 0x7FFE0000;
constexpr uintptr_t kProductType = 0x264;
constexpr uintptr_t kMajorVersion = 0x26C;
constexpr uintptr_t kMinorVersion = 0x270;

uint32_t SharedValue(uintptr_t offset)
{
    return *reinterpret_cast<const volatile uint32_t*>(kSharedData + offset);
}

std::optional<SharedPage> ReadSharedPage()
{
    MEMORY_BASIC_INFORMATION page{};
    if (VirtualQuery(reinterpret_cast<const void*>(kSharedData), &page, sizeof page) != sizeof page ||
        page.State != MEM_COMMIT || (page.Protect & (PAGE_READONLY | PAGE_READWRITE)) == 0)
        return std::nullopt;
    return SharedPage{SharedValue(kProductType), SharedValue(kMajorVersion), SharedValue(kMinorVersion)};
}

RunningWindows Ask()
{
    if (GetModuleHandleA("ntdll.dll") == nullptr)
        return DecideRunning(false, std::nullopt);  // the page is never touched there
    return DecideRunning(true, ReadSharedPage());
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
#endif

}  // namespace tarnwick
