// Throwing the program's AppError for a failed Win32 or COM call, with what the program was
// doing. Windows only.
#pragma once

#include <windows.h>

namespace tarnwick::win32 {

// Throws SystemError(GetLastError(), context) when condition holds. A failed call that set no
// error is reported as whenUnset.
void ThrowLastErrorIf(bool condition, const char* context, DWORD whenUnset = 0);

// Throws SystemError(hr, context) when hr is a failure.
void ThrowIfFailed(HRESULT hr, const char* context);

}  // namespace tarnwick::win32
