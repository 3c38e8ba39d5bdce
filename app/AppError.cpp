#include "app/AppError.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
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
    : std::runtime_error(JoinWhat(number, description, context)),
      number_(number),
      description_(std::move(description)),
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
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length != 0 && buffer != nullptr) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        text.resize(static_cast<size_t>(bytes));
        WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), text.data(), bytes, nullptr, nullptr);
    }
    if (buffer != nullptr)
        LocalFree(buffer);
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

}  // namespace tarnwick
