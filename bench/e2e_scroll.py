#!/usr/bin/python3
"""Continuous scroll and zoom as a reader sees them, measured end to end.

Starts the built viewer in an X server (Xvfb, 1600 x 1000) on a generated
strip: 150 JPEG pages of 800 x 2400, five of them 800 x 20000 (--tall: 60000
makes them too large to scale whole, drawn in bands), each with the stripe
whose gray level is its number (make-book). After page 1 shows it
turns continuous scroll on (C) and turns the wheel down, 30 notches a second
with real button presses (XTEST), to the last page, grabbing the row across
the middle of the screen after each notch. It gives the interval between
the frames Velmora presented meanwhile (VELMORA_TRACE_FRAMES), the grabs
after the first second where the column showed the background where
a page belongs (an empty slot), the width of the tall pages on screen, and
the peak resident memory, and how sharp the tall pages are beside the others
(the steps between neighbouring pixels of the row across a page's noise
over those between pixels 8 apart: a page enlarged from a smaller copy has
far less). Then, on a
1600 x 2400 page in best fit, it presses + a few times: the time from the key
to the first frame presented (the quick one, scaled from what is at hand)
and to the last within a second (the sharp one, scaled by the workers); and
from one to one, + up to 800 % (12800 x 19200, drawn in parts): the time from
the last press to the last frame, and the peak memory.

    bench/e2e_scroll.py build/release/bin [--seconds 0] [--rate 30] [--zooms 5] [--tall 20000]

Needs python3-xlib (tools/install-deps.sh). Not a test: nothing here passes
or fails; the goals are printed beside the figures.
"""
import argparse
from collections import Counter
import itertools
import os
import shutil
import statistics
import subprocess
import tempfile
import time

from e2e_turns import (SCREEN_H, SCREEN_W, Screen, Viewer, X, reexec_under_xvfb, scratch_program, until_on_screen,
                       velmora, window_of, xtest)

STRIP_W, STRIP_H, TALL_H = 800, 2400, 20000
TALL_COUNT = 5
STRIPE_LEFT, STRIPE_RIGHT = 32, 160  # where make-book draws the stripe on a page 800 wide
STRIPE_LEVELS = 64  # make-book's: page n + 64 has page n's stripe
NOTCH = SCREEN_H * 15 // 100  # pixels a wheel notch moves the column: 15 % of the window's height
MARGIN = 64  # of the window's sides: the background beside a column narrower than the window
WHEEL_DOWN = 5


class TracedViewer(Viewer):
    """Velmora, with every frame it presents and every page that becomes the current one in the column."""

    def __init__(self, argv, home, traced):
        self.presented = []  # monotonic seconds of each frame presented
        self.current = []  # (when read, page): the page under the middle of the window from then on
        super().__init__(argv, home, traced)

    def _read(self):
        scrolled = False
        for raw in self.process.stderr:
            line = raw.decode("utf-8", "replace")
            text = line.strip()
            if text.startswith("Frame presented "):
                self.presented.append(float(text.split()[2]))
            elif text == "Scroll To Page":
                scrolled = True
            elif scrolled and text.startswith("Index : ["):
                self.current.append((time.monotonic(), int(text[len("Index : ["):].split("/")[0])))
                scrolled = False
            self.lines.put(line)


def make_strip(bin_dir, work, pages, tall_h=TALL_H):
    """The strip's folder and its tall pages' numbers, spread through it."""
    folder = os.path.join(work, "strip")
    os.makedirs(folder)
    tall = [pages * k // (TALL_COUNT + 1) for k in range(1, TALL_COUNT + 1)]
    make_book = os.path.join(bin_dir, "make-book")
    subprocess.run([make_book, folder, str(pages), str(STRIP_W), str(STRIP_H), "colour"], check=True)
    subprocess.run([make_book, folder, str(pages), str(STRIP_W), str(tall_h), "colour", ",".join(map(str, tall))],
                   check=True)
    return folder, tall


def background_of(row):
    """The colours of the window's background along the row (a tiled picture anchored at the window's
    corner, so the same at each grab), from its sides beside the column, and those a level off."""
    colours = set()
    for x in list(range(MARGIN)) + list(range(SCREEN_W - MARGIN, SCREEN_W)):
        colour = row[4 * x:4 * x + 3]
        colours.update(bytes(near) for near in itertools.product(*([c - 1, c, c + 1] for c in colour)))
    return colours


def column_edges(row, background):
    """The first and the last pixel of the row that is not the background (None when it all is)."""
    lit = [x for x in range(SCREEN_W) if row[4 * x:4 * x + 3] not in background]
    return (lit[0], lit[-1]) if lit else None


def empty_slot(row, left, background):
    """Whether the column shows the background where a page's stripe belongs: no page drawn there."""
    return all(row[4 * x:4 * x + 3] in background for x in range(left + STRIPE_LEFT + 4, left + STRIPE_RIGHT - 4, 4))


def stripe_width(row, left):
    """The run of the stripe's colour (within 3 levels) around the middle of where it belongs."""
    middle = left + (STRIPE_LEFT + STRIPE_RIGHT) // 2
    colour = row[4 * middle:4 * middle + 3]

    def same(x):
        return 0 <= x < SCREEN_W and all(abs(a - b) <= 3 for a, b in zip(row[4 * x:4 * x + 3], colour))
    start, end = middle, middle
    while same(start - 1):
        start -= 1
    while same(end + 1):
        end += 1
    return end - start + 1


def texture(row, left):
    """How sharp a page's texture right of its stripe is: the mean step between neighbouring pixels over the
    mean step between pixels 8 apart (near 1 for the per-pixel noise drawn one to one, far less when the
    page is enlarged from a smaller copy)."""
    xs = range(left + STRIPE_RIGHT + 8, min(left + STRIP_W - 16, SCREEN_W - 9))

    def step(x, d):
        return sum(abs(row[4 * x + c] - row[4 * (x + d) + c]) for c in range(3))
    near, far = sum(step(x, 1) for x in xs), sum(step(x, 8) for x in xs)
    return near / far if far else 0.0


def page_at(current, when):
    """The current page at a time, and how long it had been and would stay so (seconds)."""
    before = [k for k, (t, _) in enumerate(current) if t <= when]
    if not before:
        return None, 0, 0
    k = before[-1]
    until = current[k + 1][0] if k + 1 < len(current) else float("inf")
    return current[k][1], when - current[k][0], until - when


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def wheel(screen, button):
    clicked = time.monotonic()
    xtest.fake_input(screen.display, X.ButtonPress, button)
    xtest.fake_input(screen.display, X.ButtonRelease, button)
    screen.display.sync()
    return clicked


def settle(screen, viewer):
    """Page 1 on screen; the window at the screen's size, focused, under the pointer."""
    until_on_screen(screen, viewer, viewer.started, frozenset({1}))
    window = window_of(viewer)
    subprocess.run(["xdotool", "windowmove", window, "0", "0", "windowsize", window,
                    str(SCREEN_W), str(SCREEN_H)], check=True)
    screen.focus(window)
    xtest.fake_input(screen.display, X.MotionNotify, x=SCREEN_W // 2, y=SCREEN_H // 2)
    screen.display.sync()
    time.sleep(1.5)  # the new size scaled, the next pages loaded


def scroll(screen, viewer, pages, seconds, rate):
    """Continuous scroll on, then the wheel down until the last page is current (or for the seconds given).
    Returns the notches' times, the grabs (time, row), the column's left edge, the background's colours
    and the peak RSS."""
    try:
        settle(screen, viewer)
        screen.press("c")
        time.sleep(2.0)  # the column's first pages made
        row = screen.row()
        background = background_of(row)
        edges = column_edges(row, background)
        if edges is None:
            raise RuntimeError("nothing on screen in continuous scroll")
        left = edges[0]
        clicks, grabs = [], []
        start = time.monotonic()
        while not (viewer.current and viewer.current[-1][1] == pages):
            if seconds and time.monotonic() - start >= seconds:
                break
            if time.monotonic() - start > 30 * 60:
                raise RuntimeError(f"the last page did not come within half an hour (at {viewer.current[-1:]})")
            due = start + len(clicks) / rate
            time.sleep(max(0.0, due - time.monotonic()))
            clicks.append(wheel(screen, WHEEL_DOWN))
            row = screen.row()
            grabs.append((time.monotonic(), row))
            viewer.read_trace()  # keeps the queue short
        time.sleep(0.1)  # the last notch's frame
        return clicks, grabs, left, background, viewer.peak_rss_mb()
    finally:
        viewer.stop()


def zoom(screen, viewer, times):
    """Per press of +: seconds from the key to the first frame presented and to the last within a second."""
    try:
        settle(screen, viewer)
        found = []
        for _ in range(times):
            pressed = screen.press("plus")
            time.sleep(1.0)
            frames = [t - pressed for t in list(viewer.presented) if pressed < t <= pressed + 1.0]
            if frames:
                found.append((frames[0], frames[-1], len(frames)))
            screen.press("0")  # best fit again
            time.sleep(1.0)
        return found
    finally:
        viewer.stop()


def zoom_far(screen, viewer, presses=10):
    """One to one, then + until 800 %: seconds from the last press to the first frame, to the last change of
    the middle row on screen (the sharp frame) and to the last frame within 5 s; the middle row's sharpness
    (as texture gives it) then; and the peak RSS."""
    try:
        settle(screen, viewer)
        screen.press("o")
        time.sleep(2.0)
        for _ in range(presses - 1):
            screen.press("plus")
            time.sleep(0.15)
        last = screen.press("plus")
        row, changed = screen.row(), last
        while time.monotonic() < last + 5.0:
            now = screen.row()
            if now != row:
                row, changed = now, time.monotonic()
            time.sleep(0.01)
        frames = [t - last for t in list(viewer.presented) if last < t <= last + 5.0]
        found = (frames[0], changed - last, frames[-1], len(frames)) if frames else None
        return found, viewer.peak_rss_mb()
    finally:
        viewer.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bin", help="the folder of the built programs (build/release/bin)")
    parser.add_argument("--pages", type=int, default=150)
    parser.add_argument("--seconds", type=float, default=0, help="stop the wheel after this long (0: at the last page)")
    parser.add_argument("--rate", type=float, default=30, help="wheel notches a second")
    parser.add_argument("--zooms", type=int, default=5, help="presses of + to time")
    parser.add_argument("--tall", type=int, default=TALL_H, help="the tall pages' height")
    args = parser.parse_args()
    bin_dir = os.path.abspath(args.bin)
    reexec_under_xvfb()

    work = tempfile.mkdtemp(prefix="velmora-e2e-")
    try:
        program_dir, home = scratch_program(bin_dir, work)
        strip, tall = make_strip(bin_dir, work, args.pages, args.tall)
        single = os.path.join(work, "single")
        os.makedirs(single)
        subprocess.run([os.path.join(bin_dir, "make-book"), single, "3", "1600", "2400", "colour"], check=True)
        source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        palette = os.path.join(source, "res", "4color4_v0.1.7.amp")

        # Drawn at their own pixels in the column. Only page 1 is told by its
        # stripe (when the viewer is up), and the stripes' levels come round
        # again after 64 pages: the pages after are not learnt, lest they
        # pass for page 1.
        screen = Screen(bin_dir, palette, min(args.pages, STRIPE_LEVELS), drawn_height=STRIP_H)
        screen.learn(strip)
        viewer = velmora(program_dir, strip, 0, home, TracedViewer)
        clicks, grabs, left, background, rss = scroll(screen, viewer, args.pages, args.seconds, args.rate)
        viewer.read_trace()
        first, last = clicks[0], clicks[-1] + 1 / args.rate
        frames = [t for t in viewer.presented if first <= t <= last]
        intervals = [(b - a) * 1000 for a, b in zip(frames, frames[1:])]
        # Each notch to the first frame after it: what the hand waits for.
        answers = [(next((f for f in frames if f > c), None), c) for c in clicks]
        answers = [(f - c) * 1000 for f, c in answers if f is not None]
        later = [(t, row) for t, row in grabs if t >= first + 1.0]
        empty = [page_at(viewer.current, t)[0] for t, row in later if empty_slot(row, left, background)]
        reached = viewer.current[-1][1] if viewer.current else None
        widths = {}  # tall page: (page width, stripe width) of grabs well inside it
        sharpness = {True: [], False: []}  # tall or not: the texture of grabs well inside a page
        for t, row in grabs:
            page, since, until = page_at(viewer.current, t)
            edges = column_edges(row, background)
            if page in tall and since > 0.3 and until > 0.3 and edges:
                widths.setdefault(page, []).append((edges[1] - edges[0] + 1, stripe_width(row, edges[0])))
            if page is not None and since > 0.3 and until > 0.3 and edges and edges[1] - edges[0] + 1 == STRIP_W:
                sharpness[page in tall].append(texture(row, edges[0]))

        # A home of its own again: the strip's continuous scroll, kept as the
        # last view, would be taken by a book the settings do not know.
        screen = Screen(bin_dir, palette, 3)
        screen.learn(single)
        home = os.path.join(work, "home-zoom")
        os.makedirs(home)
        zooms = zoom(screen, velmora(program_dir, single, 0, home, TracedViewer), args.zooms)
        home = os.path.join(work, "home-far")
        os.makedirs(home)
        far, far_rss = zoom_far(screen, velmora(program_dir, single, 0, home, TracedViewer))

        print(f"Continuous scroll over {args.pages} pages of {STRIP_W} x {STRIP_H} (pages"
              f" {', '.join(map(str, tall))} {STRIP_W} x {args.tall}): the wheel down at {args.rate:g} notches a"
              f" second,\n{len(clicks)} notches in {last - first:.1f} s from page 1 to page {reached};"
              f" a grab of the middle row after each notch. Zoom: + on a\n1600 x 2400 page in best fit, {len(zooms)}"
              f" times, from the key to the first frame presented and to the last within a second.\n")
        print(f"{'figure':54} {'measured':>18} {'goal':>11}")

        def line(figure, measured, goal):
            print(f"{figure:54} {measured:>18} {goal:>11}", flush=True)
        if intervals:
            line(f"scroll: frame interval, median ({len(frames)} frames)", f"{statistics.median(intervals):.1f}ms",
                 "<= 17ms")
            line("scroll: frame interval, 99th percentile", f"{percentile(intervals, 0.99):.1f}ms", "<= 34ms")
            line("scroll: notch to next frame, median (p99)",
                 f"{statistics.median(answers):.1f}ms ({percentile(answers, 0.99):.0f})", "")
        else:
            line("scroll: frames presented", "none", "")
        line("scroll: grabs after 1 s with an empty slot", f"{len(empty)} of {len(later)}", "0")
        if empty:
            print("         current page at those grabs: "
                  + ", ".join(f"{page} ({count})" for page, count in sorted(Counter(empty).items())))
        line("scroll: peak RSS (VmHWM)", f"{rss:.0f}MB", "<= 250MB")
        # How long each tall page stayed the current one: a page passed over
        # at the size guessed for it before its own was known goes by quickly.
        stays = Counter()
        for (t, page), (until, _) in zip(viewer.current, viewer.current[1:] + [(last, None)]):
            stays[page] += until - t
        print(f"         {args.tall} px at this rate: {args.tall / (NOTCH * args.rate):.1f} s current")
        if sharpness[True] and sharpness[False]:
            others = statistics.median(sharpness[False])
            line(f"scroll: texture, tall pages / others ({len(sharpness[True])}, {len(sharpness[False])} grabs)",
                 f"{statistics.median(sharpness[True]):.2f} / {others:.2f}", "equal")
            blurred = sum(1 for t in sharpness[True] if t < 0.8 * others)
            line("scroll: tall pages' grabs under 0.8 of the others' texture", f"{blurred} of {len(sharpness[True])}",
                 "0")
        for page in tall:
            seen = widths.get(page)
            measured = (f"{statistics.median(w for w, _ in seen):.0f}, {statistics.median(s for _, s in seen):.0f}px"
                        if seen else "not seen")
            line(f"scroll: page {page} ({STRIP_W} x {args.tall}) width, stripe; current",
                 f"{measured}; {stays[page]:.1f}s", f"{STRIP_W}, {STRIPE_RIGHT - STRIPE_LEFT}px")
        if zooms:
            line(f"zoom +: first frame, median (max)",
                 f"{statistics.median(z[0] for z in zooms) * 1000:.1f}ms ({max(z[0] for z in zooms) * 1000:.0f})",
                 "<= 17ms")
            line(f"zoom +: last frame within 1 s, median (max)",
                 f"{statistics.median(z[1] for z in zooms) * 1000:.1f}ms ({max(z[1] for z in zooms) * 1000:.0f})",
                 "<= 150ms")
            line("zoom +: frames within 1 s, median", f"{statistics.median(z[2] for z in zooms):.0f}", "")
        else:
            line("zoom +: frames presented", "none", "")
        if far:
            line("zoom to 800 %: last press to first frame", f"{far[0] * 1000:.0f}ms", "")
            line("zoom to 800 %: last press to the screen's last change", f"{far[1] * 1000:.0f}ms", "")
            line(f"zoom to 800 %: last press to last frame ({far[3]} frames)", f"{far[2] * 1000:.0f}ms", "")
        line("zoom to 800 %: peak RSS (VmHWM)", f"{far_rss:.0f}MB", "")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
