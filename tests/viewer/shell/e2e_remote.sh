#!/usr/bin/env bash
# End to end in a real X server: a book on a local web server of the test's
# own (tests/support/book_server.py) given by its address opens read through
# range requests, titled by its name; a turn's place is kept by URL in the
# settings, never in the profile, and the book opens there again, from the
# command line and from the history menu. A catalogue entry streamed page
# by page opens at the page the server says was read last, its pages asked
# for as wide as the window, with the password of the catalogue kept for
# that server, and opens again from the history menu in a new run, at the
# place left, with that password still. A book whose server sends it only
# whole is downloaded into the book cache and opens from there. A server
# slow to answer does not keep the window from closing.
#   e2e_remote.sh path/to/velmora path/to/book_server.py
set -euo pipefail
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/config" "$work/served"
cp "$1" "$(dirname "$1")/res.pack" "$work/program/"
cp "$(dirname "$0")/e2e_shows.sh" "$work/"
velmora=$work/program/$(basename "$1")
# Five pages of their own colours in a stored Zip, named with a space.
for i in 1 2 3 4 5; do convert -size 300x400 "xc:rgb($((i * 40)),80,120)" "$work/served/p$i.png"; done
(cd "$work/served" && zip -q -0 "My Book.cbz" p?.png)

serve() {  # serve VELMORA SERVER FOLDER [options]: the server in the background, its port in $port
  # A file of its own: the last server's port is never read for this one's.
  local said=$work/port.$3.$#.$RANDOM
  python3 "$2" "$work/$3" --seconds 60 --log "$work/requests.log" "${@:4}" > "$said" &
  server=$!
  for _ in $(seq 50); do port=$(head -n 1 "$said" 2>/dev/null) && [ -n "$port" ] && return 0; sleep 0.1; done
  echo "the server did not start"; exit 1
}
serve "$1" "$2" served --last-read 4 --user ann:s3cr3t
url="http://127.0.0.1:$port/My%20Book.cbz"
# The server's catalogue kept, its password in the secrets file.
mkdir -p "$work/config/velmora" && chmod 700 "$work/config/velmora"
printf '[catalogues]\nlist\\1\\value=Books\\thttp://127.0.0.1:%s/pse/feed.xml\\tann\nlist\\size=1\n' "$port" \
  > "$work/config/velmora/velmora.conf"
(umask 077 && printf 'http://127.0.0.1:%s/pse/feed.xml ann\ts3cr3t\n' "$port" \
  > "$work/config/velmora/catalogue-secrets")

cat > "$work/inside.sh" <<'INSIDE'
set -euo pipefail
velmora=$1; url=$2; work=$3; feed=$4
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache LANG=C.UTF-8 VELMORA_SECRETS=file
unset LANGUAGE LC_ALL LC_MESSAGES
start() {
  QT_QPA_PLATFORM=xcb "$velmora" "$@" 2> "$work/debug.log" &
  pid=$!
}
. "$work/e2e_shows.sh"

start "$url"
wait_for_shows 1
expect_index "first" 1
grep -q "^  URL : $url" "$work/debug.log" || { echo "not opened as a remote book"; cat "$work/debug.log"; exit 1; }
window=$(xdotool search --sync --onlyvisible --name "<My Book.cbz>" | head -n 1)
xdotool mousemove --window "$window" 200 200
xdotool key End
wait_for_shows 2
expect_index "after End" 4  # the last spread: pages 4 and 5
xdotool key q
wait "$pid"

grep -q "places.*My%20Book.cbz.t3.t/p4.png" "$work/config/velmora/velmora.conf" ||
  { echo "settings:"; cat "$work/config/velmora/velmora.conf"; exit 1; }
if grep -aq "127.0.0.1" "$(dirname "$velmora")/profile/velmora.ini" 2>/dev/null; then echo "a URL in the profile"; exit 1; fi
# Only ranges were asked for: never the whole book.
if grep -q " - " "$work/requests.log"; then echo "asked whole:"; cat "$work/requests.log"; exit 1; fi

start "$url"
wait_for_shows 1
expect_index "reopened" 4
kill -TERM "$pid"
wait "$pid"

# A book streamed page by page from the catalogue's window: Enter on its entry.
start "$feed"
browser=$(xdotool search --sync --onlyvisible --name "Streamed" | head -n 1)
xdotool mousemove --window "$browser" 100 100
sleep 0.5
xdotool key Return
wait_for_shows 1
grep -q "^Open Stream" "$work/debug.log" || { echo "not streamed:"; cat "$work/debug.log"; exit 1; }
expect_index "streamed" 4
kill -TERM "$pid"
wait "$pid"

# Without a path: the history menu holds both, the latest first, and each
# opens at its place: the streamed book, titled as before, then the archive.
start
window=$(xdotool search --sync --onlyvisible --name "Velmora" | head -n 1)
sleep 0.5
xdotool mousemove --window "$window" 40 300 click 3
sleep 0.5
xdotool key Down Down Down Right Return  # Open File, Open Directory, History > first entry
wait_for_shows 1
grep -q "^Open Stream" "$work/debug.log" || { echo "not streamed from the history:"; cat "$work/debug.log"; exit 1; }
expect_index "streamed, from the history" 4
xdotool search --onlyvisible --name "<Streamed Book>" > /dev/null || { echo "its title not kept"; exit 1; }
xdotool mousemove --window "$window" 40 300 click 3
sleep 0.5
xdotool key Down Down Down Down Right Down Return  # past Go to Page too: History > second entry
xdotool search --sync --onlyvisible --name "<My Book.cbz>" > /dev/null
expect_index "reopened from the history" 4
grep -q "^  URL : $url" "$work/debug.log" || { echo "not opened as a remote book"; cat "$work/debug.log"; exit 1; }
kill -TERM "$pid"
wait "$pid"
INSIDE
xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash "$work/inside.sh" "$velmora" "$url" "$work" \
  "http://127.0.0.1:$port/pse/feed.xml"
grep -Eq "^/pse/page/3\?width=[0-9]{3,} " "$work/requests.log" || { echo "requests:"; cat "$work/requests.log"; exit 1; }
if grep -q "^refused" "$work/requests.log"; then echo "no password sent:"; cat "$work/requests.log"; exit 1; fi

# A server without ranges: the book is downloaded into the book cache, whole,
# and opens from there.
kill "$server"
serve "$1" "$2" served --no-ranges
(
  export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache LANG=C.UTF-8
  QT_QPA_PLATFORM=offscreen "$velmora" "http://127.0.0.1:$port/My%20Book.cbz" 2> "$work/whole.log" &
  pid=$!
  for _ in $(seq 100); do grep -q "^Show Image" "$work/whole.log" && break; sleep 0.1; done
  kill -TERM "$pid"
  wait "$pid"
)
grep -A1 "^Open File" "$work/whole.log" | grep -q "Type : Archive" || { echo "not downloaded:"; cat "$work/whole.log"; exit 1; }
cmp "$work/served/My Book.cbz" "$work/cache/velmora/books/"*.cbz || { echo "not kept whole"; exit 1; }

# A server slow to answer does not hold the window: closed while the viewer
# waits for the first answer, the program ends before that answer goes out.
kill "$server"
: > "$work/requests.log"
serve "$1" "$2" served --delay 4
(
  export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache LANG=C.UTF-8
  VELMORA_TRACE_FRAMES=1 QT_QPA_PLATFORM=offscreen "$velmora" "http://127.0.0.1:$port/My%20Book.cbz" 2> "$work/slow.log" &
  pid=$!
  for _ in $(seq 100); do grep -q "^Stage shown" "$work/slow.log" && break; sleep 0.1; done
  kill -TERM "$pid"
  wait "$pid"
)
if [ -s "$work/requests.log" ]; then echo "the close waited for the server:"; cat "$work/requests.log" "$work/slow.log"; exit 1; fi
