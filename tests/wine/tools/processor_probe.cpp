// The Windows program's processor check (app/win32/ProcessorCheck.cpp) as a bare Linux i386
// program, for qemu's models of older processors: exits with 10 where it finds CMOV, 20 where not.
// Given "none" (no CPUID) or CPUID function 0's EAX and function 1's EDX (upper-case hex), it decides
// from those. No C library: _start hands the stack (argc, argv) to Main, which ends with exit.
#include "app/win32/ProcessorCheck.h"

static unsigned long Hex(const char* text)
{
    unsigned long value = 0;
    for (; *text != '\0'; ++text)
        value = value * 16 + static_cast<unsigned long>(*text <= '9' ? *text - '0' : *text - 'A' + 10);
    return value;
}

extern "C" [[noreturn]] __attribute__((used)) void Main(const unsigned long* stack)
{
    const char* const* arguments = reinterpret_cast<const char* const*>(stack + 1);
    const bool cmov = stack[0] == 3   ? CpuidShowsCmov(true, Hex(arguments[1]), Hex(arguments[2]))
                      : stack[0] == 2 ? CpuidShowsCmov(false, 0, 0)
                                      : ProcessorHasCmov();
    __asm__ volatile("int $0x80" : : "a"(1), "b"(cmov ? 10 : 20));
    __builtin_unreachable();
}

__asm__(".globl _start\n_start:\n\tpushl %esp\n\tcall Main\n");
