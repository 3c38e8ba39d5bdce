#!/usr/bin/env bash
# The program's processor check on qemu's models of each processor generation: it finds no CMOV
# on the 486 and the Pentium, and finds it on the Pentium II and later. (qemu cannot model a
# processor without CPUID: its 486 has CPUID, which answers without CMOV.) Then the decision on
# answers qemu's models do not give, fed to the probe: a Pentium Pro (CMOV, no PAT: bit 15, not 16,
# decides), an Athlon whose highest standard function is 1, a Pentium MMX, no CPUID at all.
# Usage: processor_models.sh PROBE (tests/wine/tools/processor_probe.cpp, built for Linux i386)
set -uo pipefail

probe=$1
qemu=$(command -v qemu-i386-static || command -v qemu-i386) || { echo "FAIL: no qemu-i386" >&2; exit 1; }
failures=0
check() {
    local name=$1 want=$2 status
    shift 2
    "$qemu" "$@"
    status=$?
    if [[ $status == "$want" ]]; then
        echo "ok: $name: $([[ $want == 10 ]] && echo CMOV found || echo no CMOV)"
    else
        echo "FAIL: $name: exit status $status, expected $want (10: CMOV, 20: none)" >&2
        failures=$((failures + 1))
    fi
}
for model in 486:20 pentium:20 pentium2:10 pentium3:10 qemu32:10; do
    check "${model%:*}" "${model#*:}" -cpu "${model%:*}" "$probe"
done
check "Pentium Pro (highest 2, EDX 0000FBFF)" 10 "$probe" 2 0000FBFF
check "Athlon (highest 1, EDX 0183F9FF)" 10 "$probe" 1 0183F9FF
check "Pentium MMX (highest 1, EDX 008001BF)" 20 "$probe" 1 008001BF
check "no CPUID" 20 "$probe" none
exit $((failures > 0))
