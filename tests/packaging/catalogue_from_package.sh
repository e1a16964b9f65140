#!/usr/bin/env bash
# What a new user does with a book server, from the installed viewer, in a
# real X server against calibre's content server (a library of three comic
# books made here, behind a password): add the catalogue in the
# "Catalogues" dialog, open it, browse into a feed, open a book and see its
# pages, search the catalogue (Ctrl+F) and open what it found. The password
# is kept in the secrets file only, readable by the user alone; the book's
# place by its URL and title.
#   catalogue_from_package.sh path/to/installed/velmora
set -euo pipefail
velmora=$1
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill -KILL -- -"$server" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
command -v calibre-server calibredb >/dev/null || fail "calibre is not installed (tools/install-deps.sh installs it)"

# Two pages each, the first of a colour of the book's own.
mkdir -p "$work/books" "$work/config" "$work/cache"
for book in "Alpha Book - Ann Author:red" "Beta Book - Bob Writer:green" "Gamma Book - Cy Penn:blue"; do
  name=${book%%:*} colour=${book##*:}
  convert -size 300x400 "xc:$colour" "$work/books/01.png"
  convert -size 300x400 xc:white "$work/books/02.png"
  (cd "$work/books" && zip -q -0 "$name.cbz" 01.png 02.png && rm 01.png 02.png)
done
# calibredb refuses to run beside another calibre program of the user's
# (a lock of its own): one still ending is waited out.
(cd "$work" && calibre-server --userdb users.sqlite --manage-users -- add alice s3cret >/dev/null 2>&1 &&
  for attempt in 1 2 3 4 5; do calibredb add --library-path lib books/*.cbz >calibredb.log 2>&1 && break; sleep 1; done &&
  test -f lib/metadata.db) || { cat "$work/calibredb.log"; fail "no library"; }
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# In a group of its own, so that its workers go with it.
CALIBRE_NO_SI_DANGER_DANGER=1 setsid calibre-server --port "$port" --listen-on 127.0.0.1 --enable-auth \
  --auth-mode basic --userdb "$work/users.sqlite" "$work/lib" >"$work/server.log" 2>&1 &
server=$!
disown "$server"  # killed at the end without a word from the shell
served() {  # whether the catalogue answers, with the password
  python3 -c 'import base64, sys, urllib.request
urllib.request.urlopen(urllib.request.Request(sys.argv[1], headers={
    "Authorization": "Basic " + base64.b64encode(b"alice:s3cret").decode()}), timeout=2)' \
    "http://127.0.0.1:$port/opds" 2>/dev/null
}
for _ in $(seq 150); do served && break; sleep 0.2; done
served || { cat "$work/server.log"; fail "calibre-server did not start"; }

cat > "$work/inside.sh" <<'INSIDE'
set -eEuo pipefail
velmora=$1; work=$2; port=$3
trap 'echo "failed at line $LINENO: $BASH_COMMAND"; cat "$work/debug.log"' ERR
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache LANG=C.UTF-8 VELMORA_SECRETS=file
unset LANGUAGE LC_ALL LC_MESSAGES
window() {  # window NAME: the first visible window whose name matches (20 s)
  timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -n 1
}
shown() {  # shown N: until N pages or spreads were shown (20 s)
  for _ in $(seq 200); do
    [ "$(grep -c "^Show Image" "$work/debug.log" || true)" -ge "$1" ] && return 0
    sleep 0.1
  done
  echo "not shown: $1"; cat "$work/debug.log"; return 1
}
focus() {  # focus WINDOW: in front and given the keys
  xdotool windowraise "$1"
  xdotool windowfocus --sync "$1"
  xdotool mousemove --window "$1" 300 300
  sleep 0.3
}

QT_QPA_PLATFORM=xcb "$velmora" 2> "$work/debug.log" &
pid=$!
viewer=$(window "Image Viewer")
sleep 0.5
xdotool mousemove --window "$viewer" 40 300 click 3
sleep 0.5
xdotool key Down Down Down Down Return  # Open File, Open Directory, History, Catalogues...
focus "$(window "^Catalogues$")"
xdotool key Tab space  # Add...
focus "$(window "^Add a Catalogue$")"
xdotool type "My calibre"; xdotool key Tab
xdotool type "http://127.0.0.1:$port/opds"; xdotool key Tab
xdotool type alice; xdotool key Tab
xdotool type s3cret; xdotool key Return
focus "$(window "^Catalogues$")"
xdotool key Return  # Open, on the catalogue just added
focus "$(window "^calibre Library$")"
xdotool key Return  # the first entry: By Newest
browser=$(window "calibre Library :: By Newest")
xdotool key Return  # its first book
shown 1
grep -q "^  URL : http://127.0.0.1:$port/get/cbz/" "$work/debug.log" || { echo "not opened from the server"; cat "$work/debug.log"; exit 1; }
window "<[A-Z][a-z]* Book>" > /dev/null

focus "$browser"
xdotool key ctrl+f; xdotool type Gamma; xdotool key Return
window "^calibre Library$" > /dev/null  # the search's answer
sleep 0.3
xdotool key Return
shown 2
window "<Gamma Book>" > /dev/null
kill -TERM "$pid"
wait "$pid"
INSIDE
timeout 120 xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash "$work/inside.sh" "$velmora" "$work" "$port" ||
  fail "the catalogue, from the installed viewer"
secrets=$work/config/velmora/catalogue-secrets
[ "$(stat -c %a "$secrets")" = 600 ] || fail "the secrets file is readable by others: $(stat -c %a "$secrets")"
grep -q "s3cret" "$secrets" || fail "the password was not kept"
if grep -rq "s3cret" "$work/config/velmora/velmora.conf"; then fail "the password in the settings"; fi
# Its place kept by URL, with the catalogue's name for it: the address
# alone (".../get/cbz/3/lib") does not say it.
grep -q "places.*/get/cbz/[0-9]*/lib.t[0-9]*.t/0[12].png.tGamma Book" "$work/config/velmora/velmora.conf" ||
  fail "the place kept: $(cat "$work/config/velmora/velmora.conf")"
echo "catalogue from the installed viewer: OK"
