#!/usr/bin/env bash
# Continuous scroll end to end in a real X server: C puts the sample book's
# pages in a column; Right, the wheel, End and Home move the page under the
# middle, which the debug lines and the title name; the view is kept, and
# the book opens in a column again where it was left.
#   e2e_continuous.sh path/to/velmora path/to/sample-book
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/config"
cp "$1" "$(dirname "$1")/res.pack" "$work/program/"

cat > "$work/inside.sh" <<'INSIDE'
set -euo pipefail
velmora=$1; book=$2; work=$3
export XDG_CONFIG_HOME=$work/config LANG=C.UTF-8
unset LANGUAGE LC_ALL LC_MESSAGES
start() { QT_QPA_PLATFORM=xcb "$velmora" "$book" 2> "$work/debug.log" & pid=$!; }
current() { grep -A1 "^Scroll To Page" "$work/debug.log" | grep "Index" | tail -n 1 || true; }
expect_page() {  # expect_page WHAT N: the page under the middle comes to be N (10 s)
  for _ in $(seq 100); do [[ "$(current)" == *"[$2/"* ]] && return 0; sleep 0.1; done
  echo "$1: $(current)"; cat "$work/debug.log"; exit 1
}
start
for _ in $(seq 200); do grep -q "^Show Image" "$work/debug.log" && break; sleep 0.1; done
window=$(xdotool search --sync --onlyvisible --name "Velmora" | head -n 1)
xdotool mousemove --window "$window" 200 200
xdotool key c
expect_page "in a column" 1
xdotool key Right
expect_page "the next page's top" 2
xdotool click --repeat 12 --delay 30 5  # the wheel, down
for _ in $(seq 50); do [[ "$(current)" == *"[2/"* ]] || break; sleep 0.1; done
[[ "$(current)" != *"[2/"* ]] || { echo "the wheel did not scroll"; exit 1; }
xdotool key End
expect_page "the last page that is an image" 12
xdotool getwindowname "$window" | grep -q "^\[12/14\] B-cover.jpg" || { echo "title"; exit 1; }
xdotool key Home Right Right Right Right
expect_page "page 5" 5
xdotool key q
wait "$pid"
grep -q "continuous" "$work/config/velmora/velmora.conf" || { cat "$work/config/velmora/velmora.conf"; exit 1; }
start
expect_page "reopened in a column" 5
! grep -q "^Show Image" "$work/debug.log" || { echo "opened as pages"; exit 1; }
kill -TERM "$pid"
wait "$pid"
INSIDE
xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash "$work/inside.sh" "$work/program/$(basename "$1")" "$2" "$work"
