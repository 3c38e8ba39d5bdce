#include "base/win32/Errors.h"

#include "base/AppError.h"

namespace tarnwick::win32 {

void ThrowLastErrorIf(bool condition, const char* context, DWORD whenUnset)
{
    if (!condition)
        return;
    const DWORD error = GetLastError();
    throw SystemError(error != 0 ? error : whenUnset, context);
}

void ThrowIfFailed(HRESULT hr, const char* context)
{
    if (FAILED(hr))
        throw SystemError(static_cast<uint32_t>(hr), context);
}

}  // namespace tarnwick::win32
