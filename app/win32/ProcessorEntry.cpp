// The program's entry point, which the system calls before the C runtime's own
// (WinMainCRTStartup): on a processor without CMOV the runtime's start-up code would die on an
// illegal instruction before anything is shown, so the program says what it needs and ends.
// Built for the Pentium, without the C runtime and without a stack protector: nothing of the
// runtime is set up yet.
#include <windows.h>

#include "app/win32/ProcessorCheck.h"

extern "C" int WinMainCRTStartup();

extern "C" void WINAPI TarnwickEntry()
{
    if (!ProcessorHasCmov()) {
        // ANSI: the text is ASCII, and the wide entry points are stubs on 95, 98 and ME.
        MessageBoxA(nullptr,
                    "Tarnwick needs a Pentium Pro class processor or later (one that runs CMOV "
                    "instructions). This processor is older.",
                    "Tarnwick", MB_OK | MB_ICONERROR);
        ExitProcess(1);
    }
    ExitProcess(static_cast<UINT>(WinMainCRTStartup()));
}
