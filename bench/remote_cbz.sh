#!/bin/sh
# Serves a generated stored CBZ of about 300 MB (300 pages of about 1 MB)
# with calibre's content server on a free local port and reads it through
# range requests with remote-read: the bytes fetched to list it, to show
# its first page and each next one, against the pages' own bytes.
#   bench/remote_cbz.sh build/release/bin [PAGES]
set -eu
bin=$(cd "$1" && pwd)
pages=${2:-5}
work=$(mktemp -d)
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"
mkdir book
# Ten pages of noise (incompressible, as scans are), each kept 30 times.
for n in 0 1 2 3 4 5 6 7 8 9; do
  convert -size 1000x1400 xc: +noise Random -quality 82 "seed$n.jpg"
done
for i in $(seq 1 300); do cp "seed$((i % 10)).jpg" "book/$(printf %03d "$i").jpg"; done
(cd book && zip -q -0 "../Big Book - Bench.cbz" ./*.jpg)
calibredb add --library-path lib "Big Book - Bench.cbz" >/dev/null
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
CALIBRE_NO_SI_DANGER_DANGER=1 calibre-server --port "$port" --listen-on 127.0.0.1 lib >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 100); do python3 -c "import socket; socket.create_connection(('127.0.0.1', $port))" 2>/dev/null && break; sleep 0.2; done
"$bin/remote-read" "http://127.0.0.1:$port/get/CBZ/1" "" "" "$pages"
