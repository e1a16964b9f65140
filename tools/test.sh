#!/usr/bin/env bash
# The one command that installs what is missing, builds and runs every test:
#   1. the Release build (library, tools, tests, benchmarks), warnings as
#      errors, and its tests;
#   2. the tests again, built with AddressSanitizer and
#      UndefinedBehaviorSanitizer; any report fails the run;
#   3. the tests of code that runs on threads of its own (labelled
#      "threads"), built with ThreadSanitizer; any report fails the run;
#   4. the fuzz targets (clang), each over its corpus and then 3 s of new
#      inputs; a crash, a sanitizer report or an input slower than 10 s
#      fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

jobs=$(nproc)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tools/tsan.supp}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tools/lsan.supp:print_suppressions=0}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

# The sanitizer build is made at the lowest priority while the Release
# tests run: those leave about a third of the cores idle (tests that wait
# on a clock, a server or a window), which the build takes, and at that
# priority it takes little from them. Its output is kept in a file and
# shown only when it fails. The slower sanitized tests run alone: a
# build beneath them made tests with short time limits miss them.
configure() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DVELMORA_WERROR=ON "$@" >/dev/null
}
behind=
build_behind() {
  local log=$1; shift
  # In a group of its own, so that a run stopped early stops it too.
  setsid nice -n 19 "$@" >"$log" 2>&1 &
  behind=$!
  behind_log=$log
}
wait_behind() {
  local status=0
  wait "$behind" || status=$?
  behind=
  if ((status != 0)); then
    cat "$behind_log" >&2
    echo "the build above failed" >&2
    exit 1
  fi
}
trap 'if [[ -n $behind ]]; then kill -- -"$behind" 2>/dev/null || true; fi' EXIT
# Each stage's heading says how long the run has taken so far.
stage() { echo "== $1 ($((SECONDS / 60)) min $((SECONDS % 60)) s in)"; }
tests() {
  ctest --test-dir "$1" -j "$jobs" --output-on-failure --timeout 300 "${@:2}"
}

# The Release and sanitizer builds compile their sources in batches of 16
# (CMake's unity build): the headers of Qt, GoogleTest and our own are parsed
# once a batch instead of once a file, which takes about two fifths off each
# build (the fuzz build does the same). The thread sanitizer's build
# compiles file by file, so a source that leans on a header another one of
# its batch includes still fails here.
unity=(-DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16)
# The sanitizer builds keep line tables only (-g1): a report's stack still
# names each function, file and line, and the objects are a sixth of the
# size, so they compile about a seventh faster and link faster.
lines=(-DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1)

stage "Release build and tests"
configure build/release -DCMAKE_BUILD_TYPE=Release "${unity[@]}"
cmake --build build/release -j "$jobs"
configure build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF "${unity[@]}" "${lines[@]}"
build_behind build/sanitize.log cmake --build build/sanitize -j "$jobs"
tests build/release
stage "Sanitizer build (ASan + UBSan) and tests"
wait_behind
tests build/sanitize
stage "Thread sanitizer build and the tests of code that runs on threads"
configure build/tsan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE_THREADS=ON -DVELMORA_BENCH=OFF "${lines[@]}"
cmake --build build/tsan -j "$jobs" --target thread_suites
tests build/tsan -L threads
stage "Fuzz targets over their corpora, then 3 s of new inputs each"
tests/fuzz/run.sh 3
stage "all passed"
