// A failure that ends the program: a number (a Win32 error, an HRESULT or an errno value) and
// its description, plus what the program was doing. The front end shows it and exits non-zero.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#ifndef _WIN32
#include <cerrno>
#endif

namespace tarnwick {

class AppError : public std::runtime_error {
public:
    AppError(uint32_t number, std::string description, std::string context);

    uint32_t Number() const noexcept { return number_; }
    const std::string& Description() const noexcept { return description_; }
    const std::string& Context() const noexcept { return context_; }

    // The text of the error report, for example
    // "Cannot read the template /opt/t/1.htm.\n\nError 2: No such file or directory".
    std::string Report() const;

private:
    uint32_t number_;
    std::string description_;  // UTF-8
    std::string context_;      // UTF-8
};

// The system's own description of an operating-system error number
// (GetLastError/HRESULT on Windows, errno elsewhere), without a trailing line end.
std::string DescribeSystemError(uint32_t number);

// An AppError for the operating-system error number, described by the system.
AppError SystemError(uint32_t number, std::string context);

// The numbers the program reports for failures of its own, each in its platform's meaning.
#ifdef _WIN32
inline constexpr uint32_t kErrorOutOfMemory = 8;          // ERROR_NOT_ENOUGH_MEMORY
inline constexpr uint32_t kErrorBadData = 13;             // ERROR_INVALID_DATA
inline constexpr uint32_t kErrorUnexpected = 0x8000FFFF;  // E_UNEXPECTED
inline constexpr uint32_t kErrorNotSupported = 50;        // ERROR_NOT_SUPPORTED
inline constexpr uint32_t kErrorNoAccess = 5;             // ERROR_ACCESS_DENIED
inline constexpr uint32_t kErrorDisabledByPolicy = 1260;  // ERROR_ACCESS_DISABLED_BY_POLICY
#else
inline constexpr uint32_t kErrorOutOfMemory = ENOMEM;
inline constexpr uint32_t kErrorBadData = EBADMSG;
inline constexpr uint32_t kErrorUnexpected = ENOTRECOVERABLE;
inline constexpr uint32_t kErrorNotSupported = ENOTSUP;
inline constexpr uint32_t kErrorNoAccess = EACCES;
inline constexpr uint32_t kErrorDisabledByPolicy = EPERM;
#endif

// The error report for whatever ended the program: an AppError as it is, running out of memory
// and any other failure under the numbers above. Both windows report through this.
AppError FailureReport(std::exception_ptr failure);

}  // namespace tarnwick
