#!/usr/bin/env bash
# End to end in a real X server: start the built viewer on the sample book,
# wait for its first page, turn a page with a key, check the screen shows
# page pixels, close it with SIGTERM (as the close box) and check it exits 0
# and wrote the profile; start it again without a path and reopen the book
# from the history in the context menu at its remembered page.
#   e2e_viewer.sh path/to/velmora path/to/sample-book
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program runs from a folder of its own, so its profile is its own too.
mkdir -p "$work/program"
cp "$1" "$(dirname "$1")/res.pack" "$work/program/"
velmora=$work/program/$(basename "$1")
book=$2

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
[ "$status" -eq 0 ] || exit 1

# The profile holds the book with page index 1, in UTF-16 behind FF FE.
profile="$(dirname "$velmora")/profile/velmora.ini"
iconv -f UTF-16 -t UTF-8 "$profile" > "$work/profile.txt"
head -c 2 "$profile" | od -An -tx1 | grep -q "ff fe" || { echo "no byte-order mark"; exit 1; }
grep -q "^c.history.0.name=$book"$'\r'"$" "$work/profile.txt" || { echo "profile:"; cat "$work/profile.txt"; exit 1; }
grep -q "^c.history.0.index=1"$'\r'"$" "$work/profile.txt" || { echo "profile:"; cat "$work/profile.txt"; exit 1; }

# Again, without a path: the history entry through the menu.
QT_QPA_PLATFORM=xcb "$velmora" 2> "$work/debug.log" &
pid=$!
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --name "Velmora" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.1
done
sleep 0.5
xdotool mousemove --window "$window" 40 300 click 3  # right button: the context menu
sleep 0.5
xdotool key Down Down Down Right Return  # Open File, Open Directory, History > first entry
wait_for_shows 2  # the folder opens at its first page, then the remembered one shows
[[ "$(last_index)" == *"[2/"* ]] || { echo "reopened at: $(last_index)"; cat "$work/debug.log"; exit 1; }
kill -TERM "$pid"
wait "$pid"
INSIDE
xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/inside.sh" "$velmora" "$book" "$work"
