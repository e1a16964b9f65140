#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the viewer on the
# given path, or on the sample book the build makes.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target velmora sample_book
path=${1:-build/release/sample-book}
exec build/release/bin/velmora -- "$path"  # a path may start with "-"
