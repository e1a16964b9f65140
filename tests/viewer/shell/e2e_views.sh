#!/usr/bin/env bash
# The views end to end in a real X server, read from the screen: the pages'
# extent after B, W, H, O, + and 0; Space moving down a page larger than the
# window before it turns; the view kept for the book when it opens again.
#   e2e_views.sh path/to/velmora
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/config"
cp "$1" "$(dirname "$1")/res.pack" "$work/program/"
# Six upright pages in one flat colour, which the grabs look for.
mkdir "$work/book"
for n in 1 2 3 4 5 6; do convert -size 600x1200 "xc:rgb(200,30,30)" "$work/book/$n.png"; done

cat > "$work/inside.sh" <<'INSIDE'
set -euo pipefail
velmora=$1; book=$2; work=$3
export XDG_CONFIG_HOME=$work/config LANG=C.UTF-8
unset LANGUAGE LC_ALL LC_MESSAGES
start() { QT_QPA_PLATFORM=xcb "$velmora" "$book" 2> "$work/debug.log" & pid=$!; }
shows() { grep -c "^Show Image" "$work/debug.log" || true; }
# The pages' extent in the window: the box around their colour.
extent() {
  import -window "$window" "$work/shot.png"
  convert "$work/shot.png" -fuzz 4% -fill white -opaque "rgb(200,30,30)" -fill black +opaque white -bordercolor black -border 1 -trim \
    -format "%w %h" info:
}
settle() {  # settle WHAT: until two grabs agree (the sharp frame is in), then the extent
  local last="" now
  for _ in $(seq 40); do
    sleep 0.15
    now=$(extent)
    [[ "$now" == "$last" ]] && { echo "$now"; return 0; }
    last=$now
  done
  echo "$1: the screen did not settle" >&2; exit 1
}
start
for _ in $(seq 200); do [ "$(shows)" -ge 1 ] && break; sleep 0.1; done
window=$(xdotool search --sync --onlyvisible --name "Velmora" | head -n 1)
xdotool mousemove --window "$window" 200 200
# The first spread, two 600 x 1200 pages: whole (best fit), then the width
# filled and taller than the window, then whole again by height.
read -r bw bh <<< "$(settle best)"
xdotool key w
read -r ww wh <<< "$(settle width)"
xdotool key h
read -r hw hh <<< "$(settle height)"
echo "best ${bw}x${bh}, width ${ww}x${wh}, height ${hw}x${hh}"
(( ww > bw && wh >= bh )) || { echo "W did not fill the width"; exit 1; }
(( hw == bw && hh == bh )) || { echo "H is not the whole upright spread"; exit 1; }
# Original size covers the window; + enlarges the best fit, 0 goes back.
xdotool key o
read -r ow oh <<< "$(settle original)"
(( ow >= ww && oh >= wh )) || { echo "O: ${ow}x${oh}"; exit 1; }
xdotool key b
xdotool key plus
read -r zw zh <<< "$(settle zoomed)"
(( zw > bw && zh >= bh )) || { echo "+: ${zw}x${zh}"; exit 1; }
xdotool key 0
read -r nw nh <<< "$(settle back)"
(( nw == bw && nh == bh )) || { echo "0: ${nw}x${nh}"; exit 1; }
# Fit width: Space first moves down the spread, then turns.
xdotool key w
settle "width again" > /dev/null
before=$(shows)
xdotool key space
sleep 0.5
[ "$(shows)" -eq "$before" ] || { echo "Space turned over a spread taller than the window"; exit 1; }
for _ in 1 2 3 4; do xdotool key space; sleep 0.2; done
[ "$(shows)" -gt "$before" ] || { echo "Space never turned"; exit 1; }
xdotool key q
wait "$pid"
grep -q "width" "$work/config/velmora/velmora.conf" || { cat "$work/config/velmora/velmora.conf"; exit 1; }
# Opened again: in fit width.
start
for _ in $(seq 200); do [ "$(shows)" -ge 1 ] && break; sleep 0.1; done
window=$(xdotool search --sync --onlyvisible --name "Velmora" | head -n 1)
read -r rw rh <<< "$(settle reopened)"
(( rw == ww )) || { echo "reopened ${rw}x${rh}, not in fit width"; exit 1; }
kill -TERM "$pid"
wait "$pid"
INSIDE
xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash "$work/inside.sh" "$work/program/$(basename "$1")" "$work/book" "$work"
