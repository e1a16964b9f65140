#!/usr/bin/python3
"""Page turns as a reader sees them, measured end to end.

Starts the built viewer in an X server (Xvfb, 1600 x 1000) on generated
60-page books of 1600 x 2400 JPEG pages (a folder in colour and in gray, a
folder with a 2400 x 1600 wide page every fifth page, a stored Zip and a
solid 7z), in single-page and in spread mode, and qimgv on the colour
folder as the reference. Each page carries a flat stripe whose gray level
is its number (make-book), so one row grabbed from the screen tells which
pages are on it. Per book it gives: the time from process start until page
1 is on screen (the median of three starts, --starts); for 20 turns made
with real key presses (XTEST), one second apart so that the next pages are
decoded ahead, the time from the press until the new pages are on
screen, and until the viewer presented its frame (Velmora notes each frame
it presents when VELMORA_TRACE_FRAMES is set); jumps to pages not decoded yet (End, then Ctrl+G to three pages
far from any decoded), beside the in-process decode of the pages they
show, warm, cold and at the least a picture of them costs; and the peak
resident memory.
Each figure is also given as a ratio to qimgv's in the same run, since
these machines are noisy.

    bench/e2e_turns.py build/release/bin [--turns 20] [--pages 60]

Needs python3-xlib (tools/install-deps.sh) and, for the reference, qimgv
(tools/install-deps.sh --bench). Not a test: nothing here passes or fails.
"""
import argparse
import itertools
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

try:
    from Xlib import X, XK, display as Xdisplay
    from Xlib.ext import xtest
except ImportError:
    sys.exit("e2e_turns.py needs python3-xlib (tools/install-deps.sh) under /usr/bin/python3")


def reexec_under_xvfb():
    if os.environ.get("DISPLAY"):
        return
    args = ["xvfb-run", "-a", "-s", "-noreset -screen 0 1600x1000x24", sys.executable] + sys.argv
    os.execvp("xvfb-run", args)


def scratch_program(bin_dir, work):
    """A copy of the program, so its profile lands in the scratch folder, and
    a home of its own, so no viewer reads the runner's settings: (program folder, home)."""
    program_dir = os.path.join(work, "program")
    home = os.path.join(work, "home")
    os.makedirs(program_dir)
    os.makedirs(home)
    for name in ("velmora", "res.pack"):
        shutil.copy2(os.path.join(bin_dir, name), program_dir)
    return program_dir, home


def make_books(bin_dir, work, pages):
    """(name, path, folder of its pages as files) of each book."""
    books = []
    for kind in ("colour", "gray"):
        folder = os.path.join(work, kind)
        os.makedirs(folder)
        subprocess.run([os.path.join(bin_dir, "make-book"), folder, str(pages), "1600", "2400", kind], check=True)
        books.append((f"folder, {kind}", folder, folder))
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
    books.append(("folder, wide each 5th", mixed, mixed))
    zip_path = os.path.join(work, "book.zip")
    subprocess.run(["7z", "a", "-tzip", "-mx=0", zip_path] + names, cwd=colour, check=True, stdout=subprocess.DEVNULL)
    books.append(("stored Zip, colour", zip_path, colour))
    seven = os.path.join(work, "book.7z")
    subprocess.run(["7z", "a", "-t7z", "-ms=on", "-mx=1", seven] + names, cwd=colour, check=True,
                   stdout=subprocess.DEVNULL)
    books.append(("solid 7z, colour", seven, colour))
    return books


SCREEN_W, SCREEN_H = 1600, 1000
GRAB_PAUSE = 0.002  # between grabs: the poll must not starve the viewer of the two cores


class Screen:
    """The X server's pixels, one row across the middle at a time, and key presses through XTEST."""

    def __init__(self, bin_dir, palette, count, drawn_height=SCREEN_H):
        self.display = Xdisplay.Display()
        self.root = self.display.screen().root
        # Decoded for pages as high as the viewer draws them (the screen's
        # height when fitted), as the viewer decodes them (false colour's
        # levels come from the pixels decoded).
        self.decoder = [os.path.join(bin_dir, "page-decode"), "--stripe", palette, str(drawn_height)]
        self.count = count
        self.books = {}  # folder of pages: colour to page
        self.pages = {}  # the book on screen's

    def learn(self, folder):
        """Each page's stripe colour as the viewer's decode chain makes it (its
        gray, or false colour), in the X server's byte order: blue, green, red.
        One level off is still the page, unless another page is exactly that."""
        if folder not in self.books:
            files = [os.path.join(folder, f"{n:03d}.jpg") for n in range(1, self.count + 1)]
            out = subprocess.run(self.decoder + files, capture_output=True, text=True, check=True).stdout
            colours = [bytes(map(int, line.split())) for line in out.splitlines()]
            pages = {}
            for n, colour in enumerate(colours, 1):
                for near in itertools.product(*([v for v in (c - 1, c, c + 1) if 0 <= v <= 255] for c in colour)):
                    pages.setdefault(bytes(near), n)
            pages.update((colour, n) for n, colour in enumerate(colours, 1))
            self.books[folder] = pages
        self.pages = self.books[folder]

    def row(self):
        """The row across the middle of the screen, four bytes a pixel: blue, green, red, unused."""
        return self.root.get_image(0, SCREEN_H // 2, SCREEN_W, 1, X.ZPixmap, 0xFFFFFFFF).data

    def pages_in(self, row):
        """The pages in a row: those whose stripe colour runs 32 pixels along it."""
        seen, last, run = set(), None, 0
        for i in range(0, len(row), 16):  # every fourth pixel
            page = self.pages.get(row[i:i + 3])
            run = run + 1 if page == last else 1
            last = page
            if page and run == 8:
                seen.add(page)
        return frozenset(seen)

    def grab(self):
        """The time and the pages on screen."""
        row = self.row()
        return time.monotonic(), self.pages_in(row)

    def focus(self, window):
        self.display.set_input_focus(int(window), X.RevertToParent, X.CurrentTime)
        self.display.sync()

    def press(self, key, held=None):
        """Presses and releases the key (with `held`, a modifier, down around
        it); the time just before."""
        code = self.display.keysym_to_keycode(XK.string_to_keysym(key))
        modifier = self.display.keysym_to_keycode(XK.string_to_keysym(held)) if held else None
        if modifier:
            xtest.fake_input(self.display, X.KeyPress, modifier)
        pressed = time.monotonic()
        xtest.fake_input(self.display, X.KeyPress, code)
        xtest.fake_input(self.display, X.KeyRelease, code)
        if modifier:
            xtest.fake_input(self.display, X.KeyRelease, modifier)
        self.display.sync()
        return pressed


class Viewer:
    """A viewer running on a book; Velmora's standard error read as it comes for the frames it presents."""

    def __init__(self, argv, home, traced):
        env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        env.update(HOME=home, QT_QPA_PLATFORM="xcb", VELMORA_TRACE_FRAMES="1")
        self.traced = traced
        self.frames = []  # (pages shown, time presented), oldest first
        self.stages = []  # (start-up stage, seconds from process start)
        self.lines = queue.Queue()
        self.started = time.monotonic()
        self.process = subprocess.Popen(argv, stderr=subprocess.PIPE if traced else subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, env=env)
        self._showing = None
        if traced:
            threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stderr:
            self.lines.put(raw.decode("utf-8", "replace"))

    def read_trace(self):
        """Takes in what the trace said: "Show Image" and its "Index : [k/n]" lines, then "Frame presented T"."""
        while not self.lines.empty():
            line = self.lines.get_nowait().strip()
            if line.startswith("Stage "):
                self.stages.append((line.split()[1], float(line.split()[2]) - self.started))
            elif line.startswith("Show Image"):
                self._showing = set()
            elif self._showing is not None and line.startswith("Index : ["):
                self._showing.add(int(line[len("Index : ["):].split("/")[0]))
            elif self._showing and line.startswith("Frame presented "):
                self.frames.append((frozenset(self._showing), float(line.split()[2])))
                self._showing = None

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


def until_on_screen(screen, viewer, since, expected=None, timeout=30):
    """Grabs the screen until it shows the expected pages, or for Velmora the
    pages of the first frame it presents from now on. Returns the seconds
    from `since` until they were seen and until the frame was presented
    (None untraced), and the pages."""
    grabs = []
    while time.monotonic() < since + timeout:
        grabs.append(screen.grab())
        viewer.read_trace()
        if viewer.frames or not viewer.traced:
            pages = viewer.frames[0][0] if viewer.traced else expected
            seen = next((t for t, on_screen in grabs if on_screen == pages), None)
            if seen is not None:
                presented = viewer.frames[0][1] - since if viewer.traced else None
                return seen - since, presented, pages
        time.sleep(GRAB_PAUSE)
    last = grabs[-1][1] if grabs else None
    raise RuntimeError(f"pages {expected or viewer.frames[:1]} not on screen within {timeout} s (last seen {last})")


def measure(screen, viewer, forward, turns, pages):
    """Seconds to page 1 on screen; per turn, milliseconds to the new pages
    seen and presented; the jumps, to the end and (traced) by Ctrl+G to far
    pages (ms seen, pages shown); peak RSS (MB).
    The expected pages are qimgv's, one a turn; Velmora's trace names its own."""
    try:
        first, presented, _ = until_on_screen(screen, viewer, viewer.started, frozenset({1}))
        if presented is not None:
            viewer.stages.append(("presented", presented))
        viewer.stages.append(("seen", first))
        window = window_of(viewer)
        subprocess.run(["xdotool", "windowmove", window, "0", "0", "windowsize", window,
                        str(SCREEN_W), str(SCREEN_H)], check=True)
        screen.focus(window)
        time.sleep(1.5)  # the new size scaled, the next pages loaded
        turned = []
        for page in range(2, turns + 2):
            viewer.read_trace()
            viewer.frames.clear()  # what came before the key is not its answer
            seen, presented, _ = until_on_screen(screen, viewer, screen.press(forward), frozenset({page}))
            turned.append((seen * 1000, presented * 1000 if presented is not None else None))
            time.sleep(1.0)  # a reader's glance: the workers load ahead meanwhile
        jumps = []  # (ms seen, the pages shown)
        for target in [pages] + (far_pages(pages, turns) if viewer.traced else []):
            viewer.read_trace()
            viewer.frames.clear()
            since = screen.press("End") if target == pages else go_to_page(screen, window, target)
            seen, _, shown = until_on_screen(screen, viewer, since, frozenset({target}))
            jumps.append((seen * 1000, shown))
            time.sleep(1.0)
        return first, turned, jumps, viewer.peak_rss_mb()
    finally:
        viewer.stop()


def first_page_alone(screen, viewer):
    """Seconds from process start until page 1 is on screen, in a start
    that does nothing more."""
    try:
        return until_on_screen(screen, viewer, viewer.started, frozenset({1}))[0]
    finally:
        viewer.stop()
        time.sleep(0.3)


def far_pages(pages, turns):
    """Pages for Ctrl+G after End, each far from any decoded before it (the
    pages turned through, the end, and each other)."""
    return [n for n in (pages // 2, pages * 3 // 4, pages // 3) if turns + 6 < n < pages - 6]


def go_to_page(screen, window, page):
    """Ctrl+G, the page's number typed into the dialog; the time Return was pressed."""
    screen.focus(window)
    screen.press("g", held="Control_L")
    dialog = subprocess.run(["timeout", "10", "xdotool", "search", "--sync", "--onlyvisible", "--name", "Go to Page"],
                            capture_output=True, text=True, check=True).stdout.split()[0]
    screen.focus(dialog)
    time.sleep(0.2)
    for digit in str(page):
        screen.press(digit)
    time.sleep(0.2)
    return screen.press("Return")


def decode_ms(bin_dir, folder, pages, runs=9, least=False):
    """The in-process decode of these pages of the book at full size, one
    after the other, each the median of `runs` (1: the first decode of a
    fresh process, its buffers and libraries not yet warm). `least`: at an
    eighth of their size and without false colour, the smallest picture of
    a JPEG there is; its Huffman decoding still reads every byte, so no
    picture of the page comes cheaper."""
    options = ["--plain", "--drawn", "1x1"] if least else []
    return sum(float(subprocess.run([os.path.join(bin_dir, "page-decode")] + options
                                    + [os.path.join(folder, f"{n:03d}.jpg"), str(runs)],
                                    capture_output=True, text=True, check=True).stdout) for n in pages)


def velmora(program_dir, book, mode, home, viewer=Viewer):
    """Velmora on the book in a page mode (the profile's c.page: 0 single, 1 spread), from page 1."""
    os.makedirs(os.path.join(program_dir, "profile"), exist_ok=True)
    with open(os.path.join(program_dir, "profile", "velmora.ini"), "wb") as profile:
        profile.write(f"\ufeffc.page={mode}\r\nc.mono2color=1\r\n".encode("utf-16-le"))
    return viewer([os.path.join(program_dir, "velmora"), book], home, traced=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bin", help="the folder of the built programs (build/release/bin)")
    parser.add_argument("--turns", type=int, default=20)
    parser.add_argument("--pages", type=int, default=60)
    parser.add_argument("--books", default="", help="only the books whose name holds this (qimgv always runs)")
    parser.add_argument("--starts", type=int, default=3,
                        help="the first page: the median of this many starts (the last one then turns)")
    args = parser.parse_args()
    bin_dir = os.path.abspath(args.bin)
    reexec_under_xvfb()

    work = tempfile.mkdtemp(prefix="velmora-e2e-")
    try:
        program_dir, home = scratch_program(bin_dir, work)
        books = make_books(bin_dir, work, args.pages)
        os.sync()  # the books' writing back does not stall the first viewer's start
        source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        screen = Screen(bin_dir, os.path.join(source, "res", "4color4_v0.1.7.amp"), args.pages)

        colour = books[0][2]
        runs = []  # (viewer, mode, book, Velmora's page mode, the key that turns forward)
        if shutil.which("qimgv"):
            runs.append(("qimgv", "single", books[0], None, "Right"))
        else:
            print("qimgv is not installed (tools/install-deps.sh --bench): no reference, no ratios\n")
        for mode, code in (("single", 0), ("spread", 1)):
            runs += [("Velmora", mode, book, code, "Left") for book in books if args.books in book[0]]

        def start(viewer, path, code):
            if viewer == "qimgv":
                return Viewer(["qimgv", os.path.join(colour, "001.jpg")], home, traced=False)
            return velmora(program_dir, path, code, home)

        print(f"{args.turns} turns a book, one second apart. Times from the key press (from process start for the"
              f" first page,\nthe median of {args.starts} starts) to the first screen grab showing the new pages (seen)"
              f" and to the frame\nVelmora presented; gap: from that frame to the screen. Jump: the median of End and,"
              f" for Velmora,\nCtrl+G to three pages far from any decoded (n jumps); decode: the in-process decode at"
              f" full size of\nthe pages each jump shows, warm (the median of 9) and the first in a fresh process"
              f" (cold), their\nmedians; least: the warm decode at an eighth of their size, the cheapest picture of"
              f" them there is;\nj/dec: the jump to the warm decode. Ratios to qimgv (its jump: End alone). The stages"
              f" are those of\nthe start that then turns.\n")
        print(f"{'viewer':8} {'mode':6} {'book':22} {'first':>7} {'seen med':>9} {'max':>7} {'presented':>10}"
              f" {'max':>7} {'gap med':>7} {'jump':>7} {'n':>2} {'decode':>7} {'cold':>7} {'least':>7} {'j/dec':>6} {'RSS':>6}"
              f" {'first/q':>8} {'turn/q':>7} {'jump/q':>7}")
        reference = None
        for viewer, mode, (name, path, folder), code, forward in runs:
            screen.learn(folder)
            firsts = [first_page_alone(screen, start(viewer, path, code)) for _ in range(args.starts - 1)]
            viewer_run = start(viewer, path, code)
            first, turned, jumps, rss = measure(screen, viewer_run, forward, args.turns, args.pages)
            first = statistics.median(firsts + [first])
            jump = statistics.median(ms for ms, _ in jumps)
            def decodes(**how):  # the median over the jumps of decoding the pages each shows
                return statistics.median(decode_ms(bin_dir, folder, sorted(shown), **how) for _, shown in jumps)
            warm, cold, least = decodes(), decodes(runs=1), decodes(least=True)
            seen = [s for s, _ in turned]
            presented = [p for _, p in turned if p is not None]
            gaps = [s - p for s, p in turned if p is not None]  # presented to seen
            row = (first, statistics.median(seen), jump)
            if viewer == "qimgv":
                reference = row

            def ms(values, pick):
                return f"{pick(values):5.1f}ms" if values else f"{'-':>7}"
            ratios = " ".join(f"{a / b:7.2f}" for a, b in zip(row, reference)) if reference else ""
            print(f"{viewer:8} {mode:6} {name:22} {first:6.3f}s {ms(seen, statistics.median):>9} {ms(seen, max)}"
                  f" {ms(presented, statistics.median):>10} {ms(presented, max)} {ms(gaps, statistics.median)}"
                  f" {jump:5.0f}ms {len(jumps):2d} {warm:5.0f}ms {cold:5.0f}ms {least:5.0f}ms {jump / warm:6.2f}"
                  f" {rss:4.0f}MB {ratios}", flush=True)
            if viewer_run.traced:
                print("         first page's stages (ms from process start): "
                      + ", ".join(f"{stage} {at * 1000:.0f}" for stage, at in sorted(viewer_run.stages, key=lambda s: s[1])), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
