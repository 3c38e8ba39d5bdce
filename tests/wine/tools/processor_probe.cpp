// The Windows program's processor check (app/win32/ProcessorCheck.cpp) as a bare Linux i386
// program, for qemu's models of older processors: exits with 10 where it finds CMOV, 20 where not.
// Given answers on its command line it decides from those instead of asking the processor:
//   processor-probe none                 a processor without CPUID
//   processor-probe HIGHEST EDX          CPUID function 0's EAX and function 1's EDX, in hex
// No C library: it starts at _start (which hands the initial stack to Main) and ends with the exit
// system call.
#include "app/win32/ProcessorCheck.h"

namespace {
unsigned long Hex(const char* text)
{
    unsigned long value = 0;
    for (; *text != '\0'; ++text) {
        const char c = *text;
        const unsigned long digit = c >= 'a' ? c - 'a' + 10 : c >= 'A' ? c - 'A' + 10 : c - '0';
        value = value * 16 + digit;
    }
    return value;
}
}  // namespace

extern "C" [[noreturn]] __attribute__((used)) void Main(const unsigned long* stack)
{
    const unsigned long count = stack[0];
    const char* const* arguments = reinterpret_cast<const char* const*>(stack + 1);
    bool cmov;
    if (count == 2)
        cmov = CpuidShowsCmov(false, 0, 0);
    else if (count == 3)
        cmov = CpuidShowsCmov(true, Hex(arguments[1]), Hex(arguments[2]));
    else
        cmov = ProcessorHasCmov();
    __asm__ volatile("int $0x80" : : "a"(1), "b"(cmov ? 10 : 20));
    __builtin_unreachable();
}

__asm__(".globl _start\n_start:\n\tpushl %esp\n\tcall Main\n");
