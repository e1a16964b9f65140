#!/usr/bin/env python3
"""A small book server for the tests, on a free port of 127.0.0.1.

Serves the files of a folder, honouring byte ranges (206 and Content-Range)
unless --no-ranges, and counts the bytes of the bodies it sends. With
--delay, each answer for a file waits that many seconds first. Ends by
itself after --seconds. Prints its port on the first line of its output.

Under /pse/ it serves an OPDS feed with one entry streamed page by page
(OPDS Page Streaming Extension 1.2): /pse/feed.xml, and the pages of the
folder's images in name order at /pse/page/{pageNumber}?width={maxWidth},
each sent with a stated type of image/jpeg whatever it is. With --user
USER:PASSWORD, those ask for that password (HTTP Basic), and a request
without it is refused with 401 and logged as "refused PATH".
"""
import argparse
import base64
import http.server
import os
import re
import sys
import threading
import time
import urllib.parse

TYPES = {".cbz": "application/vnd.comicbook+zip", ".zip": "application/zip", ".xml": "application/atom+xml",
         ".png": "image/png", ".jpg": "image/jpeg"}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--no-ranges", action="store_true")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--last-read", type=int, default=0)
    parser.add_argument("--delay", type=float, default=0)
    parser.add_argument("--user", help="USER:PASSWORD asked for under /pse/")
    parser.add_argument("--log", help="a file each request is written to: path, range, bytes sent")
    args = parser.parse_args()
    folder = os.path.abspath(args.folder)
    pages = sorted(name for name in os.listdir(folder) if name.endswith((".png", ".jpg")))
    log = open(args.log, "a", buffering=1) if args.log else None

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *_):
            pass

        def send(self, status, body, kind, extra=()):
            self.send_response(status)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            for name, value in extra:
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(body)
            if log:
                log.write("%s %s %d\n" % (self.path, self.headers.get("Range", "-"), len(body)))

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            if url.path.startswith("/pse/") and args.user and \
                    self.headers.get("Authorization") != "Basic " + base64.b64encode(args.user.encode()).decode():
                if log:
                    log.write("refused %s\n" % self.path)
                self.send_response(401)
                self.send_header("WWW-Authenticate", 'Basic realm="books"')
                self.send_header("Content-Length", "0")
                return self.end_headers()
            if url.path == "/pse/feed.xml":
                return self.send(200, self.feed(), TYPES[".xml"])
            match = re.fullmatch(r"/pse/page/(\d+)", url.path)
            if match:
                number = int(match.group(1))
                if number >= len(pages):
                    return self.send(404, b"no such page", "text/plain")
                with open(os.path.join(folder, pages[number]), "rb") as page:
                    return self.send(200, page.read(), "image/jpeg")
            time.sleep(args.delay)
            name = os.path.join(folder, urllib.parse.unquote(url.path.lstrip("/")))
            if not os.path.isfile(name) or os.path.dirname(os.path.abspath(name)) != folder:
                return self.send(404, b"not found", "text/plain")
            size = os.path.getsize(name)
            kind = TYPES.get(os.path.splitext(name)[1], "application/octet-stream")
            wanted = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
            with open(name, "rb") as file:
                if args.no_ranges or not wanted:
                    return self.send(200, file.read(), kind)
                first = int(wanted.group(1))
                last = min(int(wanted.group(2) or size - 1), size - 1)
                if first >= size:
                    return self.send(416, b"", kind, [("Content-Range", "bytes */%d" % size)])
                file.seek(first)
                self.send(206, file.read(last - first + 1), kind, [("Content-Range", "bytes %d-%d/%d" % (first, last, size))])

        def feed(self):
            last = ' pse:lastRead="%d"' % args.last_read if args.last_read else ""
            return ("""<?xml version="1.0" encoding="UTF-8"?>
<feed xmlns="http://www.w3.org/2005/Atom" xmlns:pse="http://vaemendis.net/opds-pse/ns"
      xmlns:opds="http://opds-spec.org/2010/catalog">
  <id>urn:test:pse</id><title>Streamed</title><updated>2026-01-01T00:00:00Z</updated>
  <entry>
    <id>urn:test:pse:1</id><title>Streamed Book</title><updated>2026-01-01T00:00:00Z</updated>
    <link rel="http://vaemendis.net/opds-pse/stream" type="image/jpeg" pse:count="%d"%s
          href="/pse/page/{pageNumber}?width={maxWidth}"/>
  </entry>
</feed>
""" % (len(pages), last)).encode()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    threading.Timer(args.seconds, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
