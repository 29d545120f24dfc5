#!/usr/bin/env bash
# Runs each fuzz target for FUZZ_SECONDS (default 300) over a scratch copy of its committed seed
# corpus, one target after the other (they would only compete for the same cores). A crash, a
# sanitizer report, a violated check, a slow input or a leak in any target fails the whole run,
# after the remaining targets have had their turn.
# Usage: run.sh <folder with the fuzz_* binaries> <scratch folder>
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bin=$1
work=$2
seconds=${FUZZ_SECONDS:-300}
targets=${FUZZ_TARGETS:-container otaflow}
declare -A max_len=([container]=4096 [otaflow]=1024)

failed=()
summary=()
for target in $targets; do
    dir=$work/$target
    rm -rf "$dir"
    mkdir -p "$dir/corpus" "$dir/findings"
    cp "$here/corpus/$target"/* "$dir/corpus/"
    echo "== fuzz_$target for ${seconds}s; log in $dir/fuzz.log"
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
        "$bin/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -max_len="${max_len[$target]}" -dict="$here/$target.dict" -print_final_stats=1 \
        -artifact_prefix="$dir/findings/" "$dir/corpus" >"$dir/fuzz.log" 2>&1 &
    pid=$!
    # A line now and then, so that ten quiet minutes do not look like a hang.
    tail -n +1 -f "$dir/fuzz.log" --pid=$pid | grep --line-buffered -E '^#[0-9]+[[:space:]]+(INITED|pulse|DONE)'
    wait $pid
    status=$?
    if [ $status -ne 0 ] || [ -n "$(ls -A "$dir/findings")" ]; then
        tail -n 60 "$dir/fuzz.log"
        failed+=("fuzz_$target (exit $status; inputs in $dir/findings)")
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/fuzz.log")
    last=$(grep -E '^#[0-9]+' "$dir/fuzz.log" | tail -n 1 | sed 's/^#[0-9]*[[:space:]]*//')
    summary+=("fuzz_$target: ${execs:-?} executions, ${rate:-?}/s, corpus $(ls "$dir/corpus" | wc -l) files; last: $last")
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
    printf 'FINDINGS: %s\n' "${failed[@]}"
    exit 1
fi
echo "no findings"
