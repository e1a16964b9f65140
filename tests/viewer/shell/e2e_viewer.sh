#!/usr/bin/env bash
# End to end in a real X server: start the built viewer on the sample book,
# wait for its first page, turn a page with a key, check the screen shows
# page pixels; go to the last and the first page (End, Home), to page 5
# (Ctrl+G and the dialog), show the help (F1, Esc), and quit with Q; check
# it exits 0 and wrote the profile and the page's name. Start it again on
# the same book: it opens where it was left. Start it without a path and
# reopen the book from the history in the context menu at its remembered
# page. Last, its window destroyed by another X client ends it.
#   e2e_viewer.sh path/to/velmora path/to/sample-book
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program runs from a folder of its own, so its profile is its own too,
# and its per-user settings live in a config folder of the test's.
mkdir -p "$work/program" "$work/config"
cp "$1" "$(dirname "$1")/res.pack" "$work/program/"
cp "$(dirname "$0")/e2e_shows.sh" "$work/"
velmora=$work/program/$(basename "$1")
book=$2

cat > "$work/inside.sh" <<'INSIDE'
set -eEuo pipefail
velmora=$1; book=$2; work=$3
# A step that fails without a word of its own says where, and what the viewer said.
trap 'echo "failed at line $LINENO: $BASH_COMMAND"; cat "$work/debug.log"' ERR
export XDG_CONFIG_HOME=$work/config LANG=C.UTF-8
unset LANGUAGE LC_ALL LC_MESSAGES
start() {  # start [path]: the viewer in the background, its debug output in debug.log
  QT_QPA_PLATFORM=xcb "$velmora" "$@" 2> "$work/debug.log" &
  pid=$!
}
. "$work/e2e_shows.sh"
# The share of the screen in the colour given (ImageMagick's fuzz of 4 %).
share_of() {
  import -window root "$work/shot.png"
  convert "$work/shot.png" -fuzz 4% -fill white -opaque "$1" -fill black +opaque white -format "%[fx:mean]" info:
}
window_named() {  # window_named NAME: the first visible window of that name (10 s)
  for _ in $(seq 100); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) && [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}

start "$book"
wait_for_shows 1
expect_index "first" 1
window=$(window_named "Velmora")
# Spread opening to the right: the left arrow moves forward one page.
xdotool mousemove --window "$window" 200 200  # no window manager: the keys go where the pointer is
xdotool key Left
wait_for_shows 2
expect_index "after Left" 2
sleep 0.5
# Page paper, the sample's background colour, covers part of the screen.
paper=$(share_of "rgb(244,240,230)")
echo "paper fraction: $paper"
awk -v p="$paper" 'BEGIN { exit !(p > 0.02) }' || { echo "no page on screen"; exit 1; }

# End: the last page that is an image (a wide one: alone); Home: the first.
xdotool key End
wait_for_shows 3
expect_index "after End" 12
xdotool key Home
wait_for_shows 4
expect_index "after Home" 1
# Ctrl+G asks for a page: 5 and Enter.
xdotool key ctrl+g
dialog=$(window_named "Go to Page") || { echo "no page dialog"; exit 1; }
xdotool mousemove --window "$dialog" 20 20
sleep 0.3
xdotool type 5
xdotool key Return
wait_for_shows 5
expect_index "after going to page 5" 5
# F1 shows the help over the page, Esc puts it away.
xdotool mousemove --window "$window" 200 200
sleep 0.3
xdotool key F1
sleep 0.5
import -window root "$work/help.png"
xdotool key Escape
sleep 0.5
import -window root "$work/nohelp.png"
difference=$(compare -metric AE -fuzz 10% "$work/help.png" "$work/nohelp.png" null: 2>&1 || true)
echo "pixels the help covered: $difference"
[ "${difference%%.*}" -gt 20000 ] || { echo "the help did not show"; exit 1; }
# Q quits as the close box does.
xdotool key q
wait "$pid"
status=$?
echo "exit status: $status"
[ "$status" -eq 0 ] || exit 1

# The profile holds the book with page index 4, in UTF-16 behind FF FE;
# the settings beside it hold the page's name (in natural order page 5 is
# "03.png": "1.png" and "2.png" stand beside "01.jpg" and "02.jpg").
profile="$(dirname "$velmora")/profile/velmora.ini"
iconv -f UTF-16 -t UTF-8 "$profile" > "$work/profile.txt"
head -c 2 "$profile" | od -An -tx1 | grep -q "ff fe" || { echo "no byte-order mark"; exit 1; }
grep -q "^c.history.0.name=$book"$'\r'"$" "$work/profile.txt" || { echo "profile:"; cat "$work/profile.txt"; exit 1; }
grep -q "^c.history.0.index=4"$'\r'"$" "$work/profile.txt" || { echo "profile:"; cat "$work/profile.txt"; exit 1; }
grep -q "/03.png" "$work/config/velmora/velmora.conf" || { echo "settings:"; cat "$work/config/velmora/velmora.conf"; exit 1; }
if grep -q "naturalOrder\|03.png" "$work/profile.txt"; then echo "settings in the profile"; exit 1; fi

# The same book again from the command line: where it was left.
start "$book"
wait_for_shows 1
expect_index "reopened from the command line" 5
[ "$(shows)" -eq 1 ] || { echo "the first page was shown first"; cat "$work/debug.log"; exit 1; }
kill -TERM "$pid"
wait "$pid"

# Again, without a path: the history entry through the menu.
start
window=$(window_named "Velmora")
sleep 0.5
xdotool mousemove --window "$window" 40 300 click 3  # right button: the context menu
sleep 0.5
xdotool key Down Down Down Right Return  # Open File, Open Directory, History > first entry
wait_for_shows 2  # the folder opens at its first page, then the remembered one shows
expect_index "reopened from the history" 5
kill -TERM "$pid"
wait "$pid"

# A window destroyed by another X client ends the program, as its close box
# does, instead of leaving it running without a window.
start "$book"
wait_for_shows 1
xdotool windowclose "$(window_named "Velmora")"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "still running without its window"; kill -KILL "$pid"; exit 1; fi
wait "$pid"
INSIDE
# -noreset: the X server resets when its last client leaves, and a viewer
# started in that moment cannot connect.
xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash "$work/inside.sh" "$velmora" "$book" "$work"
