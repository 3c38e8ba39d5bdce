// Whether the processor runs the Pentium Pro's conditional moves (CMOV), which the C and C++
// runtimes linked into the program use. Asked before the runtime starts: it includes nothing and
// uses no instruction newer than the Pentium.
#pragma once

// CPUID function 1, EDX bit 15, on a processor that has CPUID (the EFLAGS ID bit can be
// toggled); a processor without CPUID, a 486 or older, has no CMOV.
extern "C" bool ProcessorHasCmov();

// The decision alone, from the processor's answers: whether it has CPUID, the highest standard
// function CPUID offers (function 0's EAX), and function 1's EDX where that is offered.
bool CpuidShowsCmov(bool hasCpuid, unsigned long highestFunction, unsigned long function1Edx);
