#!/usr/bin/env bash
# Checks that the shared library defines exactly OrdelAbout and
# OrdelCreateInstance among its dynamic symbols.
set -euo pipefail
lib=${1:?usage: check-exports.sh path/to/libordel.so}
defined=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
expected=$(printf '%s\n' OrdelAbout OrdelCreateInstance)
if [ "$defined" != "$expected" ]; then
  echo "libordel.so exports:"
  echo "$defined"
  echo "expected only:"
  echo "$expected"
  exit 1
fi
nm -D --defined-only "$lib" | awk '$2 != "T" { bad = 1; print "not a function: " $0 } END { exit bad }'
echo "exports ok: OrdelAbout OrdelCreateInstance"
