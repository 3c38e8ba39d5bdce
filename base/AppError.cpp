#include "base/AppError.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "base/AnsiText.h"

#ifdef _WIN32
#include "base/win32/Owners.h"
#endif

namespace tarnwick {

namespace {
std::string JoinWhat(uint32_t number, const std::string& description, const std::string& context)
{
    return context + " (error " + std::to_string(number) + ": " + description + ")";
}

std::string TrimLineEnds(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}
}  // namespace

AppError::AppError(uint32_t number, std::string description, std::string context)
    : std::runtime_error(JoinWhat(number, description, context)), number_(number), description_(std::move(description)),
      context_(std::move(context))
{
}

std::string AppError::Report() const
{
    char number[32];
    // HRESULTs read best in hexadecimal, Win32 and errno numbers in decimal.
    if (number_ >= 0x80000000u)
        std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(number_));
    else
        std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(number_));
    std::string report = context_;
    report += "\n\nError ";
    report += number;
    report += ": ";
    report += description_;
    return report;
}

std::string DescribeSystemError(uint32_t number)
{
#ifdef _WIN32
    // The ANSI form: the system's messages are in its own language, which its ANSI code page
    // holds, and FormatMessageW is a stub on 95, 98 and ME.
    char* buffer = nullptr;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, number, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    const win32::LocalMemory<char*> message(buffer);
    std::string text;
    if (length != 0 && buffer != nullptr)
        text = ToUtf8(FromAnsi(std::string_view(buffer, length)));
    text = TrimLineEnds(std::move(text));
    return text.empty() ? "Unknown error" : text;
#else
    return TrimLineEnds(std::strerror(static_cast<int>(number)));
#endif
}

AppError SystemError(uint32_t number, std::string context)
{
    return AppError(number, DescribeSystemError(number), std::move(context));
}

AppError FailureReport(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const AppError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return SystemError(kErrorOutOfMemory, "Tarnwick ran out of memory.");
    } catch (const std::exception& error) {
        return AppError(kErrorUnexpected, error.what(), "Tarnwick stopped after an unexpected failure.");
    } catch (...) {
        return SystemError(kErrorUnexpected, "Tarnwick stopped after an unexpected failure.");
    }
}

}  // namespace tarnwick
