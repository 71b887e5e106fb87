#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every fuzz target for a bounded time from its seeds:
#   fuzz/run.sh BUILD_DIR [SECONDS]
# BUILD_DIR holds the fuzz_<name> programs (build/fuzz/fuzz). Each target
# starts from a fresh temporary corpus (libFuzzer writes what it finds into its
# first folder), then the seeds of fuzz/corpus/<name> and the inputs of
# fuzz/regressions/<name>. An input that crashes a target is copied into
# fuzz/regressions/<name>/ to be committed; tests/fuzz replays those folders.
set -eu
bin_dir=$(cd "$1" && pwd)
seconds=${2:-60}
cd "$(dirname "$0")"

summary=""
failed=""
for seeds in corpus/*/; do
    name=$(basename "$seeds")
    program="$bin_dir/fuzz_$name"
    if [ ! -x "$program" ]; then
        echo "fuzz: no program for corpus/$name ($program)" >&2
        failed="$failed $name"
        continue
    fi
    work=$(mktemp -d)
    artifacts=$(mktemp -d)
    set -- "$work" "corpus/$name"
    [ -d "regressions/$name" ] && set -- "$@" "regressions/$name"
    echo "=== fuzz_$name: $seconds s"
    start=$(date +%s)
    rc=0
    QT_QPA_PLATFORM=offscreen "$program" -max_total_time="$seconds" -print_final_stats=1 \
        -timeout=30 -rss_limit_mb=4096 -artifact_prefix="$artifacts/" "$@" >"$artifacts/log" 2>&1 || rc=$?
    took=$(( $(date +%s) - start ))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$artifacts/log" | tail -n 1)
    [ -n "$runs" ] || runs="?"
    grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+DONE|stat::)' "$artifacts/log" || true
    if [ "$rc" -ne 0 ]; then
        echo "--- fuzz_$name failed (exit $rc):"
        tail -n 80 "$artifacts/log"
        mkdir -p "regressions/$name"
        for f in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*; do
            [ -f "$f" ] || continue
            cp "$f" "regressions/$name/"
            echo "kept as fuzz/regressions/$name/$(basename "$f")"
        done
        failed="$failed $name"
        summary="$summary
fuzz_$name: FAILED after $runs executions in ${took} s"
    else
        summary="$summary
fuzz_$name: $runs executions in ${took} s"
    fi
    rm -rf "$work" "$artifacts"
done

echo "=== fuzz summary:$summary"
if [ -n "$failed" ]; then
    echo "fuzz targets failed:$failed" >&2
    exit 1
fi
