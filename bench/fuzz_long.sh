#!/bin/sh
# A longer fuzzing run than the test suite's: bench/fuzz_long.sh BUILD_DIR [SECONDS]
# BUILD_DIR is a clang build configured with -DRIZI_FUZZ=ON; findings land in BUILD_DIR/fuzz-findings.
set -eu
build=${1:?usage: fuzz_long.sh BUILD_DIR [SECONDS]}
seconds=${2:-600}
here=$(cd "$(dirname "$0")/.." && pwd)
ninja -C "$build" jcalg1_fuzz
mkdir -p "$build/fuzz-findings"
corpus="$build/tests/fuzz/jcalg1_fuzz_corpus"
mkdir -p "$corpus"
"$build/tests/fuzz/jcalg1_fuzz" -max_total_time="$seconds" -max_len=65536 \
    -artifact_prefix="$build/fuzz-findings/" "$corpus" "$here/tests/data"
