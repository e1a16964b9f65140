#!/usr/bin/env bash
# End to end in a real X server: start the built viewer on the sample book,
# wait for its first page, turn a page with a key, check the screen shows
# page pixels, close it with SIGTERM (as the close box) and check it exits 0.
#   e2e_viewer.sh path/to/velmora path/to/sample-book
set -euo pipefail
velmora=$1
book=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/inside.sh" <<'INSIDE'
set -euo pipefail
velmora=$1; book=$2; work=$3
QT_QPA_PLATFORM=xcb "$velmora" "$book" 2> "$work/debug.log" &
pid=$!
shows() { grep -c "^Show Image" "$work/debug.log" || true; }
wait_for_shows() {  # wait_for_shows N: until N pages or spreads were shown (20 s)
  for _ in $(seq 200); do
    [ "$(shows)" -ge "$1" ] && return 0
    kill -0 "$pid" 2>/dev/null || { echo "velmora ended early"; cat "$work/debug.log"; return 1; }
    sleep 0.1
  done
  echo "timed out waiting for $1 shown pages"; cat "$work/debug.log"; return 1
}
# The index of the first page of the last "Show Image" group.
last_index() { grep -A1 "^Show Image" "$work/debug.log" | grep "Index" | tail -n 1; }

wait_for_shows 1
[[ "$(last_index)" == *"[1/"* ]] || { echo "first: $(last_index)"; exit 1; }
window=$(xdotool search --sync --onlyvisible --name "Velmora" | head -n 1)
# Spread opening to the right: the left arrow moves forward one page.
xdotool mousemove --window "$window" 200 200  # no window manager: the keys go where the pointer is
xdotool key Left
wait_for_shows 2
[[ "$(last_index)" == *"[2/"* ]] || { echo "after Left: $(last_index)"; exit 1; }
sleep 0.5
import -window root "$work/shot.png"
# Page paper, the sample's background colour, covers part of the screen.
paper=$(convert "$work/shot.png" -fuzz 4% -fill white -opaque "rgb(244,240,230)" -fill black +opaque white \
        -format "%[fx:mean]" info:)
echo "paper fraction: $paper"
awk -v p="$paper" 'BEGIN { exit !(p > 0.02) }' || { echo "no page on screen"; exit 1; }
kill -TERM "$pid"
wait "$pid"
status=$?
echo "exit status: $status"
exit "$status"
INSIDE
xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/inside.sh" "$velmora" "$book" "$work"
