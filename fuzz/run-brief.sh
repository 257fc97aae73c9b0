#!/usr/bin/env bash
# run-brief.sh FUZZER SEEDS WORK DRIVEN [libFuzzer options...]: a short run from the seed
# corpus, for the test suite. libFuzzer writes what it finds into the first corpus folder it
# is given, so that is a fresh folder under WORK and the seeds are only read.
#
# The run fails on a finding, and also when it is blind: when it added nothing to the corpus,
# or when its coverage shows no function of DRIVEN (a source file of the project, such as
# src/image/ElfSegments.cpp). The harness's own branches are instrumented in any build, so a
# growing corpus alone does not prove that the code under test is seen.
set -euo pipefail
fuzzer=$1
seeds=$2
work=$3
drivenName=$4
driven=$(cd "$(dirname "$0")/.." && pwd -P)/$drivenName
shift 4

seedCount=$(find "$seeds" -type f | wc -l)
if [ "$seedCount" -eq 0 ]; then
    echo "FAIL: no seeds in $seeds"
    exit 1
fi
rm -rf "$work"
mkdir -p "$work/new" "$work/findings"
# addr2line names the covered functions where llvm-symbolizer is not installed.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}allow_addr2line=1"
if ! "$fuzzer" "$@" -print_coverage=1 -artifact_prefix="$work/findings/" "$work/new" "$seeds" \
    >"$work/log" 2>&1; then
    grep -v '^\(UN\)\?COVERED_FUNC' "$work/log" | tail -n 60
    echo "FAIL: $(basename "$fuzzer") stopped with a finding:" "$work"/findings/*
    exit 1
fi
grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$work/log" || true
found=$(find "$work/new" -type f | wc -l)
covered=$(grep -c "^COVERED_FUNC: .* $driven:[0-9]*\$" "$work/log" || true)
echo "$found new units beyond $seedCount seeds; $covered functions of $drivenName covered"
if [ "$found" -eq 0 ]; then
    echo "FAIL: no new coverage"
    exit 1
fi
if [ "$covered" -eq 0 ]; then
    echo "FAIL: the run saw no coverage in $drivenName: is it built with -fsanitize=fuzzer-no-link?"
    exit 1
fi
