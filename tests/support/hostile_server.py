#!/usr/bin/python3
# A book server that misbehaves in every way a catalogue's may, for the
# tests: two origins over HTTP on free ports of 127.0.0.1, and a third over
# TLS when a certificate and key are given. Prints its pid and the three
# ports (0 for TLS without a certificate), then serves until killed.
#
#   /feed?PATH        a feed of one book whose file is at PATH (of this origin)
#   /book             a small Zip, as a book is served
#   /slow             answers nothing, ever
#   /stall            half a feed, then nothing
#   /drop             half of what Content-Length says, then the connection closes
#   /html             a web page (a login page) with 200
#   /huge             a Content-Length of 3 GB, and a slow trickle of bytes
#   /endless          chunks without end
#   /many?N           a feed of N entries, written as it goes
#   /deep             elements nested 100000 deep
#   /loop             a redirect to itself
#   /redirect?URL     a redirect to URL
#   /private          401 unless credentials came; /seen says whether any did
import http.server, os, ssl, sys, threading, time, urllib.parse, zipfile, io

FEED_HEAD = (b'<?xml version="1.0" encoding="utf-8"?>\n<feed xmlns="http://www.w3.org/2005/Atom">'
             b'<id>urn:hostile</id><title>Hostile</title>')
seen_credentials = []


def book_bytes():
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED) as archive:
        archive.writestr('page.txt', b'not much of a page')
    return out.getvalue()


BOOK = book_bytes()


def one_book_feed(path):
    entry = ('<entry><id>urn:book</id><title>A Book</title><link rel="http://opds-spec.org/acquisition" '
             'type="application/zip" href="%s"/></entry>' % path)
    return FEED_HEAD + entry.encode() + b'</feed>'


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, *args):
        pass

    def answer(self, code, body, kind='application/atom+xml', headers=()):
        self.send_response(code)
        self.send_header('Content-Type', kind)
        self.send_header('Content-Length', str(len(body)))
        for header in headers:
            self.send_header(*header)
        self.end_headers()
        self.wfile.write(body)

    def head(self, kind='application/atom+xml', length=None, chunked=False):
        self.send_response(200)
        self.send_header('Content-Type', kind)
        if length is not None:
            self.send_header('Content-Length', str(length))
        if chunked:
            self.send_header('Transfer-Encoding', 'chunked')
        self.end_headers()

    def chunk(self, data):
        self.wfile.write(b'%x\r\n%s\r\n' % (len(data), data))

    def do_GET(self):
        path, _, query = self.path.partition('?')
        query = urllib.parse.unquote(query)
        if path == '/feed':
            self.answer(200, one_book_feed(query))
        elif path == '/book':
            self.answer(200, BOOK, 'application/zip')
        elif path == '/slow':
            time.sleep(600)
        elif path == '/stall':
            self.head(length=len(one_book_feed('/book')))
            self.wfile.write(one_book_feed('/book')[:100])
            self.wfile.flush()
            time.sleep(600)
        elif path == '/drop':
            self.head(length=1000)
            self.wfile.write(FEED_HEAD)
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(2)
        elif path == '/html':
            self.answer(200, b'<!DOCTYPE html><html><body><form>Log in</form></body></html>', 'text/html; charset=utf-8')
        elif path == '/huge':
            self.head(length=3 * 10 ** 9)
            for _ in range(600):
                self.wfile.write(b'<')
                self.wfile.flush()
                time.sleep(1)
        elif path == '/endless':
            self.head(chunked=True)
            # At a fast line's pace: flat out on the loopback, Qt's network
            # thread reads on after the client has let go, and takes seconds
            # to hear of it.
            block = b'<!-- endless -->' * 16384
            while True:
                self.chunk(block)
                time.sleep(0.001)
        elif path == '/many':
            self.head(chunked=True)
            self.chunk(FEED_HEAD)
            entries = int(query)
            block = b'<entry><title>e</title></entry>' * 1000
            for count in range(entries // 1000):
                self.chunk(block)
                if count % 8 == 0:
                    time.sleep(0.001)
            self.chunk(b'</feed>')
            self.chunk(b'')
        elif path == '/deep':
            self.answer(200, FEED_HEAD + b'<x>' * 100000 + b'</x>' * 100000 + b'</feed>')
        elif path == '/loop':
            self.answer(302, b'', headers=[('Location', '/loop')])
        elif path == '/redirect':
            self.answer(302, b'', headers=[('Location', query)])
        elif path == '/private':
            seen_credentials.append('Authorization' in self.headers)
            if seen_credentials[-1]:
                self.answer(200, one_book_feed('/book'))
            else:
                self.answer(401, b'', 'text/plain', [('WWW-Authenticate', 'Basic realm="elsewhere"')])
        elif path == '/seen':
            self.answer(200, b'yes' if any(seen_credentials) else b'no', 'text/plain')
        else:
            self.answer(404, b'', 'text/plain')


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, *args):
        pass  # the client hung up, as it should


servers = [Server(('127.0.0.1', 0), Handler) for _ in range(3)]
ports = [server.server_address[1] for server in servers]
if len(sys.argv) > 2 and os.path.exists(sys.argv[1]):
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(sys.argv[1], sys.argv[2])
    servers[2].socket = tls.wrap_socket(servers[2].socket, server_side=True)
else:
    ports[2] = 0
for server in servers:
    threading.Thread(target=server.serve_forever, daemon=True).start()
print(os.getpid(), *ports, flush=True)
threading.Event().wait()
