// The Windows program's processor check (app/win32/ProcessorCheck.cpp) as a bare Linux i386
// program, for qemu's models of older processors: exits with 10 where it finds CMOV, 20 where not.
// No C library: it starts at _start and ends with the exit system call.
#include "app/win32/ProcessorCheck.h"

extern "C" [[noreturn]] void _start()
{
    const int status = ProcessorHasCmov() ? 10 : 20;
    __asm__ volatile("int $0x80" : : "a"(1), "b"(status));
    __builtin_unreachable();
}
