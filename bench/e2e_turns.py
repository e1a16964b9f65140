#!/usr/bin/env python3
"""Page turns as a reader feels them, measured end to end.

Starts the built viewer in an X server (Xvfb, 1600 x 1000) on generated
60-page books of 1600 x 2400 JPEG pages (a folder in colour and in gray, a
folder with a 2400 x 1600 wide page every fifth page, a stored Zip and a
solid 7z), turns 20 spreads with real key presses, and
takes the time from each key press until the new page is on screen (the
viewer notes each frame it presents when VELMORA_TRACE_FRAMES is set), the
first page after start, and the peak resident memory. Each figure is also
given as a ratio to the in-process decode of one page of the same book,
measured in the same run, since these machines are noisy.

    bench/e2e_turns.py build/release/bin [--turns 20] [--pages 60]

Not a test: nothing here passes or fails.
"""
import argparse
import os
import queue
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def reexec_under_xvfb():
    if os.environ.get("DISPLAY"):
        return
    args = ["xvfb-run", "-a", "-s", "-screen 0 1600x1000x24", sys.executable] + sys.argv
    os.execvp("xvfb-run", args)


def make_books(bin_dir, work, pages):
    books = []
    for kind in ("colour", "gray"):
        folder = os.path.join(work, kind)
        os.makedirs(folder)
        subprocess.run([os.path.join(bin_dir, "make-book"), folder, str(pages), "1600", "2400", kind], check=True)
        books.append((f"folder, {kind}", folder))
    colour = os.path.join(work, "colour")
    names = sorted(os.listdir(colour))
    # Every fifth page wide: shown alone, the pages around it paired anew.
    wide_pages = os.path.join(work, "wide-pages")
    os.makedirs(wide_pages)
    subprocess.run([os.path.join(bin_dir, "make-book"), wide_pages, str(pages), "2400", "1600", "colour"], check=True)
    mixed = os.path.join(work, "mixed")
    os.makedirs(mixed)
    for k, name in enumerate(names):
        shutil.copy2(os.path.join(wide_pages if k % 5 == 4 else colour, name), mixed)
    books.append(("folder, wide each 5th", mixed))
    zip_path = os.path.join(work, "book.zip")
    subprocess.run(["7z", "a", "-tzip", "-mx=0", zip_path] + names, cwd=colour, check=True, stdout=subprocess.DEVNULL)
    books.append(("stored Zip, colour", zip_path))
    seven = os.path.join(work, "book.7z")
    subprocess.run(["7z", "a", "-t7z", "-ms=on", "-mx=1", seven] + names, cwd=colour, check=True,
                   stdout=subprocess.DEVNULL)
    books.append(("solid 7z, colour", seven))
    return books


class Viewer:
    """The viewer running on a book, its standard error read as it comes."""

    def __init__(self, program, book):
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", VELMORA_TRACE_FRAMES="1")
        self.started = time.monotonic()
        self.process = subprocess.Popen([program, book], stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, env=env)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stderr:
            self.lines.put(raw.decode("utf-8", "replace"))
        self.lines.put(None)

    def next_frame_after_show(self, timeout=60):
        """The time of the first frame presented after the next "Show Image"."""
        shown = False
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=deadline - time.monotonic())
            except queue.Empty:
                break
            if line is None:
                break
            if line.startswith("Show Image"):
                shown = True
            elif shown and line.startswith("Frame presented "):
                return float(line.split()[2])
        raise RuntimeError("no page came on screen")

    def drain(self):
        while True:
            try:
                if self.lines.get_nowait() is None:
                    return
            except queue.Empty:
                return

    def peak_rss_mb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return float("nan")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()


def window_of(viewer):
    for _ in range(100):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(viewer.process.pid)],
                               capture_output=True, text=True)
        ids = found.stdout.split()
        if ids:
            return ids[-1]
        time.sleep(0.1)
    raise RuntimeError("the viewer's window did not appear")


def measure(program, book, turns):
    viewer = Viewer(program, book)
    try:
        first_frame = viewer.next_frame_after_show()
        first_page = first_frame - viewer.started
        window = window_of(viewer)
        subprocess.run(["xdotool", "windowmove", window, "0", "0", "windowsize", window, "1600", "1000"], check=True)
        time.sleep(1.5)  # the new size scaled, the next pages loaded
        viewer.drain()
        keys = subprocess.Popen(["xdotool", "-"], stdin=subprocess.PIPE, text=True)
        times = []
        for _ in range(turns):
            pressed = time.monotonic()
            keys.stdin.write(f"key --window {window} Left\n")
            keys.stdin.flush()
            times.append((viewer.next_frame_after_show() - pressed) * 1000)
            time.sleep(0.4)  # a reader's glance: the workers load ahead meanwhile
            viewer.drain()
        keys.stdin.close()
        keys.wait()
        return first_page, times, viewer.peak_rss_mb()
    finally:
        viewer.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bin", help="the folder of the built programs (build/release/bin)")
    parser.add_argument("--turns", type=int, default=20)
    parser.add_argument("--pages", type=int, default=60)
    args = parser.parse_args()
    bin_dir = os.path.abspath(args.bin)
    reexec_under_xvfb()

    work = tempfile.mkdtemp(prefix="velmora-e2e-")
    try:
        # A copy of the program, so its profile lands in the scratch folder.
        program_dir = os.path.join(work, "program")
        os.makedirs(program_dir)
        for name in ("velmora", "res.pack"):
            shutil.copy2(os.path.join(bin_dir, name), program_dir)
        program = os.path.join(program_dir, "velmora")
        books = make_books(bin_dir, work, args.pages)
        middle = os.path.join(work, "colour", f"{args.pages // 2:03d}.jpg")
        decode = float(subprocess.run([os.path.join(bin_dir, "page-decode"), middle, "9"], capture_output=True,
                                      text=True, check=True).stdout)
        print(f"reference: one 1600 x 2400 colour page decoded in process: {decode:.1f} ms\n")
        print(f"{'book':22} {'first page':>11} {'turn median':>12} {'turn max':>9} {'peak RSS':>9}"
              f" {'median/decode':>14} {'max/decode':>11} {'max/colour median':>18}")
        normal = None  # the colour folder's median turn: what a turn normally costs
        for name, path in books:
            first_page, times, rss = measure(program, path, args.turns)
            median, worst = statistics.median(times), max(times)
            normal = normal or median
            print(f"{name:22} {first_page:10.3f}s {median:10.1f}ms {worst:7.1f}ms {rss:7.0f}MB"
                  f" {median / decode:14.2f} {worst / decode:11.2f} {worst / normal:18.2f}", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
