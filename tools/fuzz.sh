#!/usr/bin/env bash
# tools/fuzz.sh SECONDS: builds the fuzz targets in build/fuzz (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, no tests or benchmarks) and runs each one for SECONDS on its
# working corpus, build/fuzz/corpus/<target>: it starts from the seeds in fuzz/corpus/<target>
# and keeps what every run finds. Prints a table of what each run did and exits 1 when any run
# found a crash, a leak, a time-out or an out-of-memory (the inputs are kept in
# build/fuzz/findings/<target>/, the logs in build/fuzz/logs/).
# CMAKE_BUILD_PARALLEL_LEVEL limits the build's jobs.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: tools/fuzz.sh SECONDS (how long each target runs)" >&2
    exit 2
fi
seconds=$1
build=build/fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DTARVIK_SANITIZE=address,undefined -DTARVIK_BUILD_TESTS=OFF -DTARVIK_BUILD_BENCH=OFF \
    >/dev/null
cmake --build "$build" --target tarvik_fuzzers

# Where llvm-symbolizer is not installed, addr2line names the frames of a finding's stack.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}allow_addr2line=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1"

mkdir -p "$build/logs"
rows=()
found=()
failed=0
# Each line of the list: target, executable, then its libFuzzer options.
while read -r name binary options; do
    corpus=$build/corpus/$name
    findings=$build/findings/$name
    log=$build/logs/$name.log
    mkdir -p "$corpus" "$findings"
    cp -n fuzz/corpus/"$name"/* "$corpus"/
    stamp=$(mktemp)
    echo "--- $name: $seconds s" >&2
    status=0
    # shellcheck disable=SC2086 # the options are separate words
    "$binary" $options -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1 || status=$?

    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    stats=$(grep -E '^#[0-9]+[[:space:]].* cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' <<<"$stats")
    ft=$(sed -n 's/.* ft: \([0-9]*\) .*/\1/p' <<<"$stats")
    units=$(find "$corpus" -type f | wc -l)
    mapfile -t new < <(find "$findings" -type f -newer "$stamp" \
        \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)
    rm -f "$stamp"
    note=${#new[@]}
    if [ "${#new[@]}" -gt 0 ]; then
        found+=("${new[@]}")
        failed=1
    elif [ "$status" -ne 0 ]; then
        note="exit $status, see $log"
        failed=1
    fi
    rows+=("$(printf '%-24s %12s %7s %7s %8s  %s' "$name" "${executions:-?}" "${cov:-?}" \
        "${ft:-?}" "$units" "$note")")
done <"$build/fuzz/fuzzers.txt"

printf '%-24s %12s %7s %7s %8s  %s\n' target executions cov ft units findings
printf '%s\n' "${rows[@]}"
for file in "${found[@]}"; do
    echo "finding: $file"
done
exit "$failed"
