#!/usr/bin/env bash
# The real viewer under ThreadSanitizer in a real X server: open the sample
# book, turn pages, go to the end, full screen, back to the start, quit;
# any report fails (exit status 66), as does a window that does not end.
#   threads_under_x.sh path/to/velmora path/to/sample-book
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/inside.sh" <<'INSIDE'
set -euo pipefail
velmora=$1; book=$2; work=$3
export XDG_CONFIG_HOME=$work/config HOME=$work LANG=C.UTF-8 QT_QPA_PLATFORM=xcb
QT_QPA_PLATFORM=xcb "$velmora" "$book" 2> "$work/debug.log" &
pid=$!
for _ in $(seq 300); do grep -q "^Show Image" "$work/debug.log" 2>/dev/null && break; sleep 0.1; done
xdotool mousemove 200 200
for key in Left Left Left End F11 Home Left q; do xdotool key "$key"; sleep 0.4; done
status=0
wait "$pid" || status=$?
grep -A30 "WARNING: ThreadSanitizer" "$work/debug.log" || true
echo "exit status: $status"
exit "$status"
INSIDE
xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash "$work/inside.sh" "$1" "$2" "$work"
