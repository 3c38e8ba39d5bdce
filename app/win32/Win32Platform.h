// The platform pieces of the Windows program: version record, screen size, message box, program
// end and program folder, over the Win32 API.
#pragma once

#include <windows.h>

#include "app/Platform.h"

namespace tarnwick {

// The real version: on NT the kernel's (base/SystemFamily.h), which a compatibility mode leaves
// alone; on the 95 family, and for what the system tells programs, GetVersionExA's plain
// OSVERSIONINFOA record.
class Win32VersionQuery : public IVersionQuery {
public:
    bool Query(VersionRecord& record) override;
};

// The primary screen in twips: pixels * 1440 / the screen's logical dots per inch.
class Win32ScreenMetrics : public IScreenMetrics {
public:
    float WidthTwips() override;
    float HeightTwips() override;
    int DotsPerInch() override;  // LOGPIXELSX of the screen
};

// MessageBoxW with one OK button and no icon, modal to the owner once it is set.
class Win32MessageBox : public IMessageBox {
public:
    void SetOwner(HWND owner) { owner_ = owner; }
    void Show(const std::u16string& text, const std::u16string& caption) override;

private:
    HWND owner_ = nullptr;
};

// Ends the process with status 0 on the spot, as the commands that end the program expect.
class Win32ProgramEnd : public IProgramEnd {
public:
    [[noreturn]] void EndProgram() override;
};

// The folder that holds the running program, without a trailing separator (a drive's root
// keeps its separator, so that "C:\" does not turn into the current folder of drive C).
FilePath ProgramFolder();

}  // namespace tarnwick
