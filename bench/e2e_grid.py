#!/usr/bin/python3
"""The page grid as a reader sees it, measured end to end.

Starts the built viewer in an X server (Xvfb, 1600 x 1000) on a generated
stored Zip of 500 JPEG pages of 1600 x 2400 (make-book) and opens the page
grid (T) with an empty thumbnail cache (XDG_CACHE_HOME of its own): the time
from the key until the grid's first screen is complete, grabbing the cells
over and over. Complete: every cell on screen shows a thumbnail (the middle
of its picture is not the dark shade of an empty cell) and the grabs then
stay the same for 300 ms; the figure is the time of the last change. In the
same run, 60 Page Down presses 100 ms apart: the longest interval between
two frames presented (VELMORA_TRACE_FRAMES) with a press waiting between
them, over the presses that move the grid. Then the viewer starts again on
the same cache and T is timed again (thumbnails from disk). Last, a run that
only opens the book: its peak resident memory beside the first run's.

    bench/e2e_grid.py build/release/bin [--pages 500]

Needs python3-xlib (tools/install-deps.sh). Not a test: nothing here passes
or fails; the goals are printed beside the figures.
"""
import argparse
import os
import shutil
import subprocess
import tempfile
import time

from e2e_scroll import TracedViewer
from e2e_turns import SCREEN_H, SCREEN_W, Screen, X, reexec_under_xvfb, scratch_program, velmora, window_of

PAGE_W, PAGE_H = 1600, 2400
# The grid's layout at 96 dpi, as the viewer lays it out: cells of a 160 x 240
# thumbnail with 8 around it and an 18-high number line under it, in rows
# centred across the window, under a header of the book's name (no info
# rows: the book has no ComicInfo).
THUMB_W, THUMB_H, GAP, LABEL = 160, 240, 8, 18
HEADER = 2 * 12 + 15 * 1.5
CELL_W, CELL_H = THUMB_W + 2 * GAP, THUMB_H + LABEL + 2 * GAP
COLUMNS = SCREEN_W // CELL_W
ROWS_IN_VIEW = int((SCREEN_H - HEADER) // CELL_H)
LEFT = (SCREEN_W - COLUMNS * CELL_W) // 2
DARK = 80  # brightest channel of an empty cell: the background under a 75 % black shade
QUIET = 0.3  # seconds the grabs stay the same once every cell shows a thumbnail
PRESSES, PRESS_GAP = 60, 0.1


def make_zip(bin_dir, work, pages):
    folder = os.path.join(work, "pages")
    os.makedirs(folder)
    subprocess.run([os.path.join(bin_dir, "make-book"), folder, str(pages), str(PAGE_W), str(PAGE_H), "colour"],
                   check=True)
    book = os.path.join(work, "book.cbz")
    subprocess.run(["zip", "-0", "-q", book] + sorted(os.listdir(folder)), cwd=folder, check=True)
    return book


def thumbnail_rows(pages):
    """Per row of cells on screen: the screen row across the middle of its thumbnails (or of the part
    on screen), and the columns of the cells in it. A 1600 x 2400 page's thumbnail fills its box."""
    rows = []
    for r in range(ROWS_IN_VIEW + 1):
        top = HEADER + r * CELL_H + GAP / 2 + GAP / 2  # the box's top, then the thumbnail's
        if top >= SCREEN_H:
            break
        middle = int((top + min(top + THUMB_H, SCREEN_H)) / 2)
        columns = [c for c in range(COLUMNS) if r * COLUMNS + c < pages]
        rows.append((middle, columns))
    return rows


def blank_cells(screen, rows):
    """The cells whose thumbnail's middle row is mostly dark (nothing drawn), and the rows grabbed."""
    blank, grabbed = 0, []
    for y, columns in rows:
        data = screen.root.get_image(0, y, SCREEN_W, 1, X.ZPixmap, 0xFFFFFFFF).data
        grabbed.append(data)
        for c in columns:
            left = LEFT + c * CELL_W + GAP
            # Inside the frames drawn over the thumbnail's edges (selected, current).
            xs = range(left + 12, left + THUMB_W - 12, 4)
            lit = sum(1 for x in xs if max(data[4 * x:4 * x + 3]) > DARK)
            if lit < len(xs) // 2:
                blank += 1
    return blank, grabbed


def first_screen(screen, viewer, rows, timeout=60):
    """T pressed: seconds until the last change of the grid's first screen, once complete."""
    pressed = screen.press("t")
    last, changed = None, pressed
    while time.monotonic() < pressed + timeout:
        blank, grabbed = blank_cells(screen, rows)
        now = time.monotonic()
        if grabbed != last:
            last, changed = grabbed, now
        elif blank == 0 and now - changed >= QUIET and any(f > pressed for f in viewer.presented):
            return changed - pressed
        time.sleep(0.005)
    raise RuntimeError(f"the grid's first screen was not complete within {timeout} s")


def blocked_ms(viewer, presses, moving):
    """Over the first `moving` presses: the longest wait from a press to the next frame presented, and
    the longest interval between frames from the first press until the last one's frame (ms)."""
    frames = sorted(viewer.presented)
    answers = []
    for pressed in presses[:moving]:
        after = [f for f in frames if f > pressed]
        if not after:
            return float("inf"), float("inf")
        answers.append(after[0] - pressed)
    during = [f for f in frames if presses[0] < f <= presses[moving - 1] + answers[-1]]
    intervals = [b - a for a, b in zip(during, during[1:])]
    return max(answers) * 1000, max(intervals, default=0.0) * 1000


def settle(screen, viewer):
    window = window_of(viewer)
    subprocess.run(["xdotool", "windowmove", window, "0", "0", "windowsize", window, str(SCREEN_W), str(SCREEN_H)],
                   check=True)
    screen.focus(window)
    time.sleep(2.0)  # the new size drawn, the first pages loaded


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bin", help="the folder of the built programs (build/release/bin)")
    parser.add_argument("--pages", type=int, default=500)
    args = parser.parse_args()
    bin_dir = os.path.abspath(args.bin)
    reexec_under_xvfb()

    work = tempfile.mkdtemp(prefix="velmora-e2e-")
    try:
        program_dir, home = scratch_program(bin_dir, work)
        book = make_zip(bin_dir, work, args.pages)
        cache = os.path.join(work, "cache")
        os.makedirs(cache)
        screen = Screen(bin_dir, "", 0)  # keys and grabs only: no page is told by its stripe here
        rows = thumbnail_rows(args.pages)

        def cached(argv, home, traced):
            return TracedViewer(["env", f"XDG_CACHE_HOME={cache}"] + argv, home, traced)

        viewer = velmora(program_dir, book, 0, home, cached)
        try:
            settle(screen, viewer)
            first = first_screen(screen, viewer, rows)
            time.sleep(0.5)
            presses = []
            start = time.monotonic()
            for k in range(PRESSES):
                time.sleep(max(0.0, start + k * PRESS_GAP - time.monotonic()))
                presses.append(screen.press("Next"))
            time.sleep(2.0)  # the last thumbnails made and written
            per_screen = COLUMNS * ROWS_IN_VIEW
            moving = min(PRESSES, -(-(args.pages - 1) // per_screen))
            blocked, interval = blocked_ms(viewer, presses, moving)
            grid_rss = viewer.peak_rss_mb()
        finally:
            viewer.stop()
        stored = sum(len(files) for _, _, files in os.walk(cache))

        viewer = velmora(program_dir, book, 0, home, cached)
        try:
            settle(screen, viewer)
            second = first_screen(screen, viewer, rows)
        finally:
            viewer.stop()

        plain_home = os.path.join(work, "home-plain")
        os.makedirs(plain_home)
        viewer = velmora(program_dir, book, 0, plain_home, TracedViewer)
        try:
            settle(screen, viewer)
            time.sleep(first + 0.5 + PRESSES * PRESS_GAP + 2.0)  # as long as the grid's run
            plain_rss = viewer.peak_rss_mb()
        finally:
            viewer.stop()

        print(f"The page grid on a stored Zip of {args.pages} pages of {PAGE_W} x {PAGE_H}, {COLUMNS} x"
              f" {ROWS_IN_VIEW} cells a screen: T with an empty\nthumbnail cache, then {PRESSES} Page Down"
              f" {PRESS_GAP * 1000:.0f} ms apart ({moving} move the grid); T again in a new process on the"
              f" cache\n({stored} files); peak memory beside a run that only opens the book.\n")
        print(f"{'figure':54} {'measured':>12} {'goal':>9}")

        def line(figure, measured, goal):
            print(f"{figure:54} {measured:>12} {goal:>9}", flush=True)
        line("grid: first screen complete, empty cache", f"{first:.3f}s", "<= 1.5s")
        line("grid: first screen complete, from the disk cache", f"{second:.3f}s", "<= 0.3s")
        line("grid: Page Down, longest wait for a frame", f"{blocked:.1f}ms", "<= 50ms")
        line("grid: Page Down, longest interval between frames", f"{interval:.1f}ms", "")
        line(f"grid: peak RSS added ({grid_rss:.0f}MB beside {plain_rss:.0f}MB)", f"{grid_rss - plain_rss:.0f}MB",
             "<= 80MB")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
