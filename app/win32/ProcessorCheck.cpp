// Built for the Pentium, without the C runtime: see ProcessorCheck.h. Also built as a Linux
// i386 program by the tests, which run it on emulated processors of each generation.
#include "app/win32/ProcessorCheck.h"

namespace {

constexpr unsigned long kIdFlag = 1ul << 21;  // EFLAGS.ID: writable only where CPUID exists
constexpr unsigned long kCmovFeature = 1ul << 15;

void Cpuid(unsigned long function, unsigned long& eax, unsigned long& edx)
{
    unsigned long ebx, ecx;
    __asm__ volatile("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(function), "c"(0ul));
}

}  // namespace

extern "C" bool ProcessorHasCmov()
{
    // Flip the ID flag, read the flags back, then put them back as they were.
    unsigned long before, after;
    __asm__ volatile("pushfl\n\t"
                     "popl %0\n\t"
                     "movl %0, %1\n\t"
                     "xorl %2, %1\n\t"
                     "pushl %1\n\t"
                     "popfl\n\t"
                     "pushfl\n\t"
                     "popl %1\n\t"
                     "pushl %0\n\t"
                     "popfl"
                     : "=&r"(before), "=&r"(after)
                     : "i"(kIdFlag)
                     : "cc");
    if (((before ^ after) & kIdFlag) == 0)
        return CpuidShowsCmov(false, 0, 0);
    unsigned long highest, edx;
    Cpuid(0, highest, edx);
    unsigned long signature, features = 0;
    if (highest >= 1)
        Cpuid(1, signature, features);
    return CpuidShowsCmov(true, highest, features);
}

bool CpuidShowsCmov(bool hasCpuid, unsigned long highestFunction, unsigned long function1Edx)
{
    return hasCpuid && highestFunction >= 1 && (function1Edx & kCmovFeature) != 0;
}
