#!/usr/bin/env bash
# The program's processor check on qemu's models of each processor generation: it finds no CMOV
# on the 486 and the Pentium, and finds it on the Pentium II and later. (qemu cannot model a
# processor without CPUID: its 486 has CPUID, which answers without CMOV.) Then on answers fed to the
# probe: a Pentium Pro (CMOV, no PAT), an Athlon (highest standard function 1), a Pentium MMX.
# Usage: processor_models.sh PROBE (tests/wine/tools/processor_probe.cpp, built for Linux i386)
set -uo pipefail

probe=$1
qemu=$(command -v qemu-i386-static || command -v qemu-i386) || { echo "FAIL: no qemu-i386" >&2; exit 1; }
failures=0
check() {
    local model=$1 want=$2 status
    shift 2
    "$qemu" -cpu "${model%% *}" "$probe" "$@"
    status=$?
    if [[ $status == "$want" ]]; then
        echo "ok: $model: $([[ $want == 10 ]] && echo CMOV found || echo no CMOV)"
    else
        echo "FAIL: $model: exit status $status, expected $want (10: CMOV, 20: none)" >&2
        failures=$((failures + 1))
    fi
}
check 486 20
check pentium 20
check pentium2 10
check pentium3 10
check qemu32 10
check "qemu32 as a Pentium Pro" 10 2 0000FBFF
check "qemu32 as an Athlon" 10 1 0183F9FF
check "qemu32 as a Pentium MMX" 20 1 008001BF
check "qemu32 without CPUID" 20 none
exit $((failures > 0))
