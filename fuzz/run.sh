#!/usr/bin/env bash
# Builds and runs the libFuzzer targets (clang++ with ASan + UBSan).
#
#   fuzz/run.sh TARGET|all SECONDS [extra libFuzzer options]
#
# TARGET is fuzz_page or fuzz_regfile. The committed seeds in fuzz/corpus/TARGET are read;
# inputs found during the run go to fuzz/corpus-work/TARGET (not committed). A crashing input
# is saved as build/fuzz/crash-TARGET-*; the script then prints how to replay it and exits 1.
# Binaries are rebuilt when a source is newer (build/fuzz/TARGET).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${TARNWICK_FUZZ_BUILD:-$root/build/fuzz}
cxx=${CXX_FUZZ:-clang++}

if (($# < 2)); then
    echo "usage: $0 fuzz_page|fuzz_regfile|all SECONDS [libFuzzer options]" >&2
    exit 2
fi
which=$1
seconds=$2
shift 2

sources_of() {
    case $1 in
    fuzz_page) echo "$root/fuzz/fuzz_page.cpp $root/page/DesktopPage.cpp" ;;
    fuzz_regfile) echo "$root/fuzz/fuzz_regfile.cpp $root/registry/RegFile.cpp" ;;
    *) return 1 ;;
    esac
}

headers_of() {
    case $1 in
    fuzz_page) echo "$root/page/DesktopPage.h" ;;
    fuzz_regfile) echo "$root/registry/RegFile.h $root/registry/RegistryOps.h" ;;
    esac
}

build() {
    local target=$1 binary=$out/$1 stale="" f
    mkdir -p "$out"
    if [[ -x $binary ]]; then
        for f in $(sources_of "$target") $(headers_of "$target") "$0"; do
            [[ $f -nt $binary ]] && stale=1
        done
    else
        stale=1
    fi
    [[ -z $stale ]] && return 0
    echo "building $target"
    # shellcheck disable=SC2046
    "$cxx" -std=c++20 -g -O1 -Wall -Wextra -Wpedantic -Wshadow -Werror \
        -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
        -I"$root" $(sources_of "$target") -o "$binary.new"
    mv "$binary.new" "$binary"
}

run() {
    local target=$1 work=$root/fuzz/corpus-work/$1 log=$out/$1.log status=0
    shift
    build "$target"
    mkdir -p "$work"
    local dict=()
    [[ -f $root/fuzz/$target.dict ]] && dict=(-dict="$root/fuzz/$target.dict")
    (cd "$out" && "./$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -artifact_prefix="$out/crash-$target-" "${dict[@]}" "$@" \
        "$work" "$root/fuzz/corpus/$target") >"$log" 2>&1 || status=$?
    local runs rate
    runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$log")
    rate=$(awk '/stat::average_exec_per_sec/ { print $2 }' "$log")
    if ((status != 0)); then
        grep -E 'ERROR|fuzz_[a-z]+:|detail|SUMMARY|Test unit written' "$log" | head -20 >&2
        echo "$target: FAILED (exit $status); log $log" >&2
        echo "  replay: $out/$target $out/crash-$target-*" >&2
        return 1
    fi
    echo "$target: ${runs:-?} runs in ${seconds} s (${rate:-?} exec/s), corpus $(find "$work" -type f | wc -l) found + $(find "$root/fuzz/corpus/$target" -type f | wc -l) seeds, no failure"
}

failed=0
if [[ $which == all ]]; then
    for target in fuzz_page fuzz_regfile; do
        run "$target" "$@" || failed=1
    done
else
    sources_of "$which" >/dev/null || { echo "unknown target $which" >&2; exit 2; }
    run "$which" "$@" || failed=1
fi
exit $failed
