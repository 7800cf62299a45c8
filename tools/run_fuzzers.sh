#!/usr/bin/env bash
# Builds the libFuzzer targets of the input loaders and runs each for SECONDS (default 60),
# two at a time (the machine has two cores). Each target keeps a growing corpus in
# BUILD_DIR/fuzz-corpus/<target>, seeded from fuzz/corpus/<target>; crashes, timeouts and
# out-of-memory inputs of the latest run land in BUILD_DIR/fuzz-artifacts/<target>/, the
# full libFuzzer output in BUILD_DIR/fuzz-logs/<target>.log. Prints one line per target
# (from libFuzzer's final statistics) and exits non-zero when any target found something.
#
#   tools/run_fuzzers.sh [SECONDS] [BUILD_DIR]
set -euo pipefail

seconds=${1:-60}
build_dir=${2:-build-fuzz}
targets=(fuzz_config fuzz_particles_config fuzz_initial_state fuzz_restore fuzz_alter)
parallel=2

cd "$(dirname "$0")/.."
root=$(pwd)
case "$build_dir" in /*) ;; *) build_dir="$root/$build_dir" ;; esac

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: tools/run_fuzzers.sh [SECONDS] [BUILD_DIR]" >&2
    exit 2
fi

# Debug without NDEBUG, so that assertions are findings too; -O1 as in the sanitizer build.
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DHARDGAS_FUZZ=ON -DHARDGAS_TESTS=OFF -DHARDGAS_WERROR=ON >/dev/null
cmake --build "$build_dir" --target hardgas_fuzzers -j "$parallel"

corpus_root="$build_dir/fuzz-corpus"
artifact_root="$build_dir/fuzz-artifacts"
log_root="$build_dir/fuzz-logs"
# The harness makes its scratch folder here: one left behind by a crash stays with the build.
export TMPDIR="$build_dir/fuzz-tmp"
mkdir -p "$corpus_root" "$artifact_root" "$log_root" "$TMPDIR"

run_target() {
    local target=$1
    local corpus="$corpus_root/$target" artifacts="$artifact_root/$target/"
    # Only this run's findings: a crash left from an earlier run has been reported then.
    rm -rf "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    cp "$root/fuzz/corpus/$target/"* "$corpus/"
    local start=$SECONDS status=0
    "$build_dir/fuzz/$target" "$corpus" -max_total_time="$seconds" -print_final_stats=1 \
        -close_fd_mask=3 -dict="$root/fuzz/json.dict" -artifact_prefix="$artifacts" \
        -rss_limit_mb=2048 -timeout=10 >"$log_root/$target.log" 2>&1 || status=$?
    echo "$status $((SECONDS - start))" >"$log_root/$target.result"
}

echo "Fuzzing ${#targets[@]} targets for ${seconds} s each, $parallel at a time..."
for target in "${targets[@]}"; do
    rm -f "$log_root/$target.result"
    while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
    run_target "$target" &
done
wait

failed=0
for target in "${targets[@]}"; do
    log="$log_root/$target.log"
    read -r status elapsed <"$log_root/$target.result"
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    corpus_files=$(find "$corpus_root/$target" -type f | wc -l)
    mapfile -t found < <(find "$artifact_root/$target" -type f | sort)
    printf '%-22s executions %9s  time %4s s  corpus %5s files  findings %s\n' \
        "$target" "${executions:-?}" "$elapsed" "$corpus_files" "${#found[@]}"
    if [ "$status" -ne 0 ] || [ "${#found[@]}" -gt 0 ]; then
        failed=1
        echo "  $target exited with status $status; log: $log" >&2
        for artifact in "${found[@]}"; do echo "  finding: $artifact" >&2; done
    fi
done
exit "$failed"
