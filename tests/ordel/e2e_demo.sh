#!/usr/bin/env bash
# The library's demo in a real X server: it opens its window, draws frames
# with the picture on screen, plays its music (into SDL's disk driver), and
# ends with exit code 0 on SIGTERM.
#   e2e_demo.sh path/to/ordel-demo path/to/make-ogg
set -euo pipefail
demo=$1
work=$(mktemp -d)
"$2" "$work/music.ogg" 2
trap 'rm -rf "$work"' EXIT
cat > "$work/inside.sh" <<'INSIDE'
set -euo pipefail
demo=$1; work=$2
cd "$(dirname "$demo")"  # the shaders are read from ../ordel/
SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/sound.raw" \
  "$demo" "$(dirname "$demo")/../sample-book/01.jpg" "$work/music.ogg" 2> "$work/debug.log" &
pid=$!
for _ in $(seq 100); do
  xdotool search --onlyvisible --name "^Ordel$" >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1
import -window root "$work/shot.png"
colours=$(convert "$work/shot.png" -format "%k" info:)
echo "colours on screen: $colours"
[ "$colours" -gt 100 ] || { echo "nothing drawn"; cat "$work/debug.log"; exit 1; }
# Music: the disk driver's output holds sound, not only silence.
loud=$(od -An -v -tf4 -w4 "$work/sound.raw" | awk '$1 > 0.05 || $1 < -0.05 { n++ } END { print n + 0 }')
echo "loud samples: $loud"
[ "$loud" -gt 1000 ] || { echo "no music"; exit 1; }
kill -TERM "$pid"
wait "$pid"
INSIDE
xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash "$work/inside.sh" "$demo" "$work"
