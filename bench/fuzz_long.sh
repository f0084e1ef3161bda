#!/bin/sh
# A longer fuzzing run than the test suite's: bench/fuzz_long.sh BUILD_DIR [RUNS [TARGET...]]
# BUILD_DIR is a clang build configured with -DRIZI_FUZZ=ON. Every fuzz target it lists (or
# only those named, such as nts_records_fuzz) runs RUNS inputs (default 10^7) and the count it
# reached is printed; the logs and any findings land in BUILD_DIR/fuzz-findings. Exits 1 when
# a target found something.
set -eu
build=${1:?usage: fuzz_long.sh BUILD_DIR [RUNS [TARGET...]]}
runs=${2:-10000000}
shift $(($# < 2 ? $# : 2))
ninja -C "$build" fuzzers
list="$build/tests/fuzz/fuzzers.txt"
findings="$build/fuzz-findings"
mkdir -p "$findings"
status=0
while read -r program seeds; do
    name=$(basename "$program")
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then
        continue
    fi
    corpus="${program}_corpus"
    mkdir -p "$corpus"
    log="$findings/$name.log"
    # Seeds unquoted: the folder, or nothing for a target without one.
    # shellcheck disable=SC2086
    if "$program" -runs="$runs" -max_len=65536 -timeout=10 -artifact_prefix="$findings/$name-" \
        "$corpus" $seeds >"$log" 2>&1; then
        done_line=$(grep '^Done ' "$log" | tail -n 1)
        echo "$name: ${done_line#Done }, no finding"
    else
        echo "$name: FINDING, see $log: $(grep -o 'Test unit written to .*' "$log" | head -n 1)"
        status=1
    fi
done <"$list"
exit $status
