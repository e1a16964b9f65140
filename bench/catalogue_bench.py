#!/usr/bin/python3
"""The catalogue browser's timing goals against calibre's content server.

    bench/catalogue_bench.py build/release/bin [RUNS]

Makes a library of 100 small comic books (a 1200 x 1800 cover page each)
with calibredb, serves it with calibre-server on a free local port (100
entries a page), and runs bench_catalogue on its "By Title" feed: the time
until the page of 100 entries shows with its titles (goal 0.5 s), until
the cells in view show their covers (2 s), until a search is answered
(0.5 s), and the feed again on the HTTP cache left. Needs calibre
(calibre-server, calibredb), ImageMagick's convert and zip.
"""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ElementTree

BOOKS = 100
ATOM = '{http://www.w3.org/2005/Atom}'


def free_port():
    with socket.socket() as probe:
        probe.bind(('127.0.0.1', 0))
        return probe.getsockname()[1]


def make_library(folder):
    for number in range(BOOKS):
        name = 'Book %03d - Writer %d' % (number, number % 7)
        page = os.path.join(folder, 'page%03d.jpg' % number)
        hue = number * 360 // BOOKS
        subprocess.run(['convert', '-size', '1200x1800', 'gradient:hsl(%d,80%%,60%%)-hsl(%d,80%%,20%%)' % (hue, hue),
                        '-quality', '85', page], check=True)
        subprocess.run(['zip', '-q', '-0', '-j', os.path.join(folder, name + '.cbz'), page], check=True)
        os.remove(page)
    books = sorted(os.path.join(folder, name) for name in os.listdir(folder) if name.endswith('.cbz'))
    subprocess.run(['calibredb', 'add', '--library-path', os.path.join(folder, 'lib')] + books, check=True,
                   stdout=subprocess.DEVNULL)


def by_title(root):
    feed = ElementTree.fromstring(urllib.request.urlopen(root, timeout=30).read())
    for entry in feed.iter(ATOM + 'entry'):
        if entry.findtext(ATOM + 'title') == 'By Title':
            return urllib.parse.urljoin(root, entry.find(ATOM + 'link').get('href'))
    raise SystemExit('no "By Title" feed in ' + root)


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    bench = os.path.join(sys.argv[1], 'bench_catalogue')
    runs = sys.argv[2] if len(sys.argv) > 2 else '5'
    with tempfile.TemporaryDirectory() as folder:
        started = time.monotonic()
        make_library(folder)
        print('library of %d books made in %.0f s' % (BOOKS, time.monotonic() - started))
        port = free_port()
        environment = dict(os.environ, CALIBRE_NO_SI_DANGER_DANGER='1')
        server = subprocess.Popen(['calibre-server', '--port', str(port), '--listen-on', '127.0.0.1',
                                   '--max-opds-items', str(BOOKS), '--max-opds-ungrouped-items', str(BOOKS),
                                   os.path.join(folder, 'lib')],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment,
                                  start_new_session=True)
        try:
            root = 'http://127.0.0.1:%d/opds' % port
            for _ in range(300):
                try:
                    socket.create_connection(('127.0.0.1', port), timeout=1).close()
                    break
                except OSError:
                    time.sleep(0.1)
            feed = by_title(root)
            bench_environment = dict(os.environ, QT_QPA_PLATFORM='offscreen')
            subprocess.run([bench, feed, 'Book 042', runs], check=True, env=bench_environment)
        finally:
            os.killpg(server.pid, signal.SIGKILL)
            server.wait()


if __name__ == '__main__':
    main()
