// The Windows program's entry point (app/win32/ProcessorEntry.cpp) in a program of its own, with
// the processor's answer chosen by the test: TARNWICK_TEST_CMOV=0 stands for a processor without
// CMOV, anything else for one with it. WinMain, reached only through the C runtime's start-up,
// ends with status 42.
#include <windows.h>

#include "app/win32/ProcessorCheck.h"

extern "C" bool ProcessorHasCmov()
{
    char answer[8] = {};
    const DWORD length = GetEnvironmentVariableA("TARNWICK_TEST_CMOV", answer, sizeof answer);
    return !(length == 1 && answer[0] == '0');
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 42;
}
