#!/usr/bin/python3
"""A book streamed page by page from a server, read end to end.

Serves generated pages (make-book: JPEG, 1600 x 2400 by default) with the
tests' book server (tests/support/book_server.py, on 127.0.0.1) as an OPDS
feed with one entry streamed page by page, starts the built viewer in an X
server on that feed, opens the entry with Enter in the catalogue's window,
and gives the time from that key to the frame that shows the first page,
then for each turn (a real key press through XTEST, --pause seconds apart,
so that the workers fetch and decode ahead meanwhile) the time from the
press to the frame that shows the next page. Velmora notes each frame it
presents when VELMORA_TRACE_FRAMES is set; the times are on the monotonic
clock, as Python's. The server's --delay adds a wait to every answer.

    bench/e2e_stream.py build/release/bin [--turns 20] [--pages 30] [--pause 0.5] [--delay 0]

Needs python3-xlib, xdotool and xvfb-run. Not a test: nothing here passes or fails.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_turns  # noqa: E402  (the X server, the viewer's trace, key presses)


def serve(folder, delay, log):
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    server = subprocess.Popen([sys.executable, os.path.join(source, "tests", "support", "book_server.py"), folder,
                               "--seconds", "600", "--delay", str(delay), "--log", log], stdout=subprocess.PIPE)
    return server, int(server.stdout.readline())


def frame_with(viewer, page, since, timeout=30):
    """Seconds from `since` to the first frame presented with `page` on it."""
    while time.monotonic() < since + timeout:
        viewer.read_trace()
        for pages, presented in viewer.frames:
            if page in pages:
                return presented - since
        time.sleep(0.002)
    raise RuntimeError(f"page {page} was not presented within {timeout} s")


def window_named(name):
    found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", name],
                           capture_output=True, text=True, timeout=30)
    return found.stdout.split()[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bin", help="the folder of the built programs (build/release/bin)")
    parser.add_argument("--turns", type=int, default=20)
    parser.add_argument("--pages", type=int, default=30)
    parser.add_argument("--size", default="1600x2400", help="the pages' width x height")
    parser.add_argument("--pause", type=float, default=0.5, help="seconds between turns")
    parser.add_argument("--delay", type=float, default=0, help="the server's wait before each answer, in seconds")
    args = parser.parse_args()
    bin_dir = os.path.abspath(args.bin)
    e2e_turns.reexec_under_xvfb()

    work = tempfile.mkdtemp(prefix="velmora-stream-")
    server = viewer = None
    try:
        program_dir, home = e2e_turns.scratch_program(bin_dir, work)
        pages = os.path.join(work, "pages")
        os.makedirs(pages)
        width, height = args.size.split("x")
        subprocess.run([os.path.join(bin_dir, "make-book"), pages, str(args.pages), width, height, "colour"],
                       check=True)
        log = os.path.join(work, "requests.log")
        server, port = serve(pages, args.delay, log)
        screen = e2e_turns.Screen(bin_dir, "", args.pages)
        viewer = e2e_turns.velmora(program_dir, f"http://127.0.0.1:{port}/pse/feed.xml", 0, home)
        screen.focus(window_named("^Streamed$"))
        time.sleep(0.5)  # the feed read and shown
        viewer.read_trace()
        viewer.frames.clear()
        first = frame_with(viewer, 1, screen.press("Return"))
        screen.focus(window_named("<Streamed Book>"))
        turned = []
        for page in range(2, min(args.turns + 2, args.pages + 1)):
            time.sleep(args.pause)
            viewer.read_trace()
            viewer.frames.clear()  # what came before the key is not its answer
            turned.append(frame_with(viewer, page, screen.press("Left")) * 1000)
        with open(log) as requests:
            asked = sum(1 for line in requests if line.startswith("/pse/page/"))
        print(f"{args.pages} pages of {args.size} JPEG streamed from 127.0.0.1 (server delay {args.delay} s),"
              f" single pages, {len(turned)} turns {args.pause} s apart")
        print(f"first page: {first * 1000:.0f} ms from Enter in the catalogue to its frame")
        print(f"turns: median {statistics.median(turned):.1f} ms, max {max(turned):.1f} ms"
              f" (press to frame: {' '.join(f'{t:.0f}' for t in turned)})")
        print(f"pages asked of the server: {asked}")
    finally:
        if viewer:
            viewer.stop()
        if server:
            server.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
