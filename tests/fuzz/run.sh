#!/usr/bin/env bash
# Builds the fuzz targets (clang, in build/fuzz) and runs each over its
# corpus, then for SECONDS more (default 25) on inputs of its own making.
# The run fails only on a crash, a sanitizer report
# or an input slower than 10 s; such an input is kept in build/fuzz/ as
# <target>-crash-... or <target>-timeout-... (to become a seed in
# tests/fuzz/corpus/<target>/ and so a case of the corpus test). New inputs
# that reach more code go to build/fuzz/found/<target>/, not into the tree.
#   tests/fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-25}
build=${VELMORA_FUZZ_BUILD:-build/fuzz}
targets=(profile archive page markup comicinfo opds)

# Sources compiled in batches of 16 (CMake's unity build), as the Release
# and sanitizer builds of the test command are: less than half the time.
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON \
  -DVELMORA_BENCH=OFF -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16 >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/%/_fuzz}"

export ASAN_OPTIONS=${FUZZ_ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${FUZZ_UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tools/lsan.supp:print_suppressions=0}
export QT_QPA_PLATFORM=offscreen

run() {
  local target=$1 log="$build/$1.log"
  mkdir -p "$build/found/$target"
  # -close_fd_mask=3: the code's own debug lines would drown the fuzzer's;
  # its reports and the sanitizers' still come through.
  if "$build/bin/${target}_fuzz" -timeout=10 -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=3 \
    -artifact_prefix="$build/$target-" "$build/found/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    echo "$target: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$') executions," \
      "$(ls "tests/fuzz/corpus/$target" | wc -l) seeds, $(ls "$build/found/$target" | wc -l) inputs kept, no failure"
  else
    echo "$target: FAILED, see $log" >&2
    tail -n 60 "$log" >&2
    return 1
  fi
}

# One at a time: a target slowed by another could pass the 10 s limit on
# an input that takes two alone.
failed=0
for target in "${targets[@]}"; do
  run "$target" || failed=1
done
exit $failed
