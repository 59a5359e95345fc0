#!/usr/bin/env python3
"""The program as its user meets it, measured on screen.

Starts the real program (build/bin/Pellis) under its own Xvfb (2560x1440, openbox maximizing
every normal window) on a library like a user's (written once by build/bench/bench_makelibrary
into a cache folder), each run in a fresh home, watches the screen with
build/bench/pellis_screenwatch (X DAMAGE) and reports, each as the median of several runs:

  launch        exec to the last paint (the window shown, then the screen quiet for 2 s), and
                peak resident memory then
  search        the first keystroke typed into the search field: first and last screen change
  context menu  right-click on a tile: first and last change
  rating        a rating chosen from a tile's context menu: first and last change
  browse        the Browse menu clicked open
  preferences   Preferences opened by its shortcut
  folder        the largest folder chosen in the sidebar
  page down     screen updates while Page Down is sent every 15 ms (160 keys), and per second
                until the grid stops moving (a grid shorter than 160 pages stops at its end)

Every figure is taken alternately from the program and from a minimal Qt window
(build/bench/pellis_floorwindow) that does the same, the floor of what any Qt window pays.
Changes of 400 pixels or less (a text cursor blinking) are not counted.

  bench/measure-real-program.py --all          every row of bench/SCALE.md's on-screen table
  bench/measure-real-program.py --movies 20000 --folders 400 --runs 3 [--absent] [--busy 4]

--busy N runs N busy loops on the first N processors the program is given (--cpus, "2-7" by
default), so that its background work competes with other work as on a busy machine. Report
`uptime` with the figures. Needs Xvfb, openbox, xdotool and a build with libxdamage-dev.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIN_AREA = 400
OPENBOX_RC = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <applications><application class="*" type="normal"><maximized>yes</maximized></application></applications>
</openbox_config>
"""

# Where the program's parts are in its maximized window at 2560x1440 (the default fonts of
# a Debian desktop); a change in the window's layout needs these looked at again.
PROGRAM_PLACES = {
    "tile": (236, 130),       # the first tile of the grid (a single click plays it)
    "browse": (253, 26),
    "section": (49, 76),      # "All Media", the movies section, first row of the sidebar
    "expander": (12, 76),     # its disclosure triangle
    "first folder": (60, 102),  # the row under it once open
}


def now_ns():
    return time.monotonic_ns()


def parse_cpus(text):
    cpus = set()
    for part in text.split(","):
        if "-" in part:
            a, b = part.split("-")
            cpus.update(range(int(a), int(b) + 1))
        elif part:
            cpus.add(int(part))
    return sorted(cpus)


class Screen:
    """An Xvfb of its own, a window manager, and the watcher's record of every change."""

    def __init__(self, build, size):
        self.tmp = tempfile.mkdtemp(prefix="pellis-screen-")
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24", "-nolisten", "tcp"],
                                     pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise SystemExit("Xvfb did not start")
            number += chunk
        os.close(read)
        self.display = ":" + number.decode().strip()
        self.width, self.height = (int(v) for v in size.split("x"))
        self.env = dict(os.environ, DISPLAY=self.display)
        rc = os.path.join(self.tmp, "rc.xml")
        with open(rc, "w") as f:
            f.write(OPENBOX_RC)
        self.wm = subprocess.Popen(["openbox", "--config-file", rc], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) \
            if shutil.which("openbox") else None
        time.sleep(1.0)
        self.lock = threading.Lock()
        self.events = []
        self.watcher = subprocess.Popen([os.path.join(build, "bench", "pellis_screenwatch")], env=self.env, stdout=subprocess.PIPE, text=True)
        if self.watcher.stdout.readline().strip() != "ready":
            raise SystemExit("the screen watcher did not start")
        self.watcher.stdout.readline()  # the first report is the whole screen, as found
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.watcher.stdout:
            fields = line.split()
            if len(fields) == 5:
                t, x, y, w, h = (int(v) for v in fields)
                with self.lock:
                    self.events.append((t, x, y, w, h))

    def changes(self, since, until=None):
        with self.lock:
            return [e for e in self.events if e[0] > since and (until is None or e[0] <= until) and e[3] * e[4] > MIN_AREA]

    def settle(self, since, quiet_ms=800, timeout_ms=30000, need_change=False):
        """Waits until nothing has changed for quiet_ms (with need_change, for a first change
        and then that); answers (first, last) change after `since` in ms (None when nothing
        changed) and whether it timed out."""
        while True:
            time.sleep(0.02)
            t = now_ns()
            seen = self.changes(since)
            last = seen[-1][0] if seen else since
            if seen and (t - last) / 1e6 >= quiet_ms:
                break
            if not seen and not need_change and (t - since) / 1e6 >= quiet_ms:
                break
            if (t - since) / 1e6 > timeout_ms:
                return ((seen[0][0] - since) / 1e6 if seen else None, (last - since) / 1e6 if seen else None, True)
        return ((seen[0][0] - since) / 1e6 if seen else None, (last - since) / 1e6 if seen else None, False)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *[str(a) for a in args]], env=self.env, check=False)

    def close(self):
        for p in (self.watcher, self.wm, self.xvfb):
            if p:
                p.kill()
                p.wait()
        shutil.rmtree(self.tmp, ignore_errors=True)


def peak_rss_mb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        pass
    return None


class App:
    """One run of the program or of the floor window: its process and where its parts are."""

    def __init__(self, screen, kind, command, env, cpus):
        self.screen, self.kind = screen, kind
        self.places = dict(PROGRAM_PLACES) if kind == "program" else {}
        self.log = open(os.path.join(env["HOME"], "stderr.log"), "w+")
        self.start = now_ns()
        self.process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE if kind == "floor" else subprocess.DEVNULL,
                                        stderr=self.log, text=True,
                                        preexec_fn=(lambda: os.sched_setaffinity(0, cpus)) if cpus else None)
        if kind == "floor":
            for line in self.process.stdout:
                fields = line.split()
                if fields and fields[0] == "ready":
                    break
                if len(fields) == 3:
                    self.places[fields[0]] = (int(fields[1]), int(fields[2]))

    def launch(self):
        # The window shown first (a library that takes long to load shows nothing for a
        # while), then the screen quiet for 2 s; the last change counts from the start.
        try:
            subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(self.process.pid)], env=self.screen.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        except subprocess.TimeoutExpired:
            pass
        _, last, timed_out = self.screen.settle(self.start, quiet_ms=2000, timeout_ms=120000, need_change=True)
        return last, peak_rss_mb(self.process.pid), timed_out

    def click(self, place, button=1):
        x, y = self.places[place]
        self.screen.xdotool("mousemove", x, y, "click", button)

    def move(self, place):
        x, y = self.places[place]
        self.screen.xdotool("mousemove", x, y)

    def stop(self):
        peak = peak_rss_mb(self.process.pid)
        if self.process.poll() is not None:
            self.log.seek(0)
            print(f"the {self.kind} ended by itself (status {self.process.returncode}):\n{self.log.read()[-2000:]}", file=sys.stderr)
        self.process.kill()
        self.process.wait()
        # The screen repainted where the window was before anything else starts.
        self.screen.settle(now_ns(), quiet_ms=500)
        return peak


# ---- The figures: each prepares (untimed), acts (timed from just before the act) and tidies up.

def timed(app, act, quiet_ms=800, timeout_ms=20000):
    s = app.screen
    s.settle(now_ns(), quiet_ms=300)
    t = now_ns()
    act()
    first, last, timed_out = s.settle(t, quiet_ms=quiet_ms, timeout_ms=timeout_ms, need_change=True)
    return first, last, timed_out


def figure_search(app):
    if app.kind == "program":
        app.screen.xdotool("key", "ctrl+f")
    else:
        app.click("search")
    # The grid changes only after the search delay (1 s by default): a quiet stretch no
    # longer than the delay would end the figure with the typed letter alone.
    result = timed(app, lambda: app.screen.xdotool("key", "h"), quiet_ms=2500)
    app.screen.xdotool("key", "BackSpace")
    app.screen.settle(now_ns(), quiet_ms=800)
    app.screen.xdotool("key", "Escape")
    return result


def figure_context_menu(app):
    app.move("tile")
    result = timed(app, lambda: app.screen.xdotool("click", 3))
    app.screen.xdotool("key", "Escape")
    return result


def figure_rating(app):
    s = app.screen
    down = 3 if app.kind == "program" else 7  # "Rating" is the fourth item of the program's menu, the eighth of the floor's
    # First no rating (untimed), so that the timed choice always changes it.
    app.click("tile", 3)
    s.settle(now_ns(), quiet_ms=400)
    s.xdotool("key", *(["Down"] * down), "Right")
    s.settle(now_ns(), quiet_ms=400)
    s.xdotool("key", "Return")
    s.settle(now_ns(), quiet_ms=800)
    app.click("tile", 3)
    s.settle(now_ns(), quiet_ms=400)
    s.xdotool("key", *(["Down"] * down), "Right")
    s.settle(now_ns(), quiet_ms=400)
    s.xdotool("key", *(["Down"] * 5))
    return timed(app, lambda: s.xdotool("key", "Return"), quiet_ms=1000)


def figure_browse(app):
    app.move("browse")
    result = timed(app, lambda: app.screen.xdotool("click", 1))
    app.screen.xdotool("key", "Escape", "Escape")
    return result


def figure_preferences(app):
    result = timed(app, lambda: app.screen.xdotool("key", "ctrl+comma"), quiet_ms=1000)
    app.screen.xdotool("key", "Escape")
    app.screen.settle(now_ns(), quiet_ms=500)
    return result


def figure_folder(app, one_folder):
    if app.kind == "program":
        if one_folder:
            app.click("expander")
            app.screen.settle(now_ns(), quiet_ms=500)
            app.move("first folder")
        else:
            app.move("section")
    else:
        app.move("folder")
    return timed(app, lambda: app.screen.xdotool("click", 1), quiet_ms=1000)


def figure_page_down(app, keys=160):
    s = app.screen
    if app.kind == "program":
        # A single click on a tile plays it: the context menu, closed, leaves the tile chosen
        # and the grid with the keyboard.
        app.click("tile", 3)
        s.settle(now_ns(), quiet_ms=400)
        s.xdotool("key", "Escape")
    else:
        app.click("grid")
    # The pointer out of the way: no tile's tooltip in the figure.
    s.xdotool("mousemove", 40, s.height - 60)
    s.settle(now_ns(), quiet_ms=800)
    t = now_ns()
    s.xdotool("key", "--delay", "15", *(["Page_Down"] * keys))
    end = now_ns()
    s.settle(end, quiet_ms=500)
    seen = s.changes(t, end + 100_000_000)
    updates = len(seen)
    seconds = (end - t) / 1e9
    # A grid shorter than the keys reach stops moving at its end: the rate that tells how
    # fast it paints counts from the first key to its last change.
    moving = (seen[-1][0] - t) / 1e9 if seen else seconds
    return updates, seconds, moving


# ---- Runs

def make_library(build, cache, movies, folders, absent):
    home = os.path.join(cache, f"{movies}-{folders}-{'absent' if absent else 'present'}")
    if not os.path.exists(os.path.join(home, ".complete")):
        shutil.rmtree(home, ignore_errors=True)
        command = [os.path.join(build, "bench", "bench_makelibrary"), "--home", home, "--movies", str(movies), "--folders", str(folders)]
        if absent:
            command.append("--absent")
        print(f"making the library ({' '.join(command[1:])})...", file=sys.stderr)
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        open(os.path.join(home, ".complete"), "w").close()
    return home


def fresh_home(library_home):
    """A home of its own for one run: the settings as written and a copy of the library
    folder as written (a run's changes, a search or a rating, stay in its own copy); the
    movies' files are shared."""
    home = tempfile.mkdtemp(prefix="pellis-home-")
    shutil.copytree(os.path.join(library_home, ".config"), os.path.join(home, ".config"))
    shutil.copytree(os.path.join(library_home, "Library"), os.path.join(home, "Library"), symlinks=True)
    # The library names its files under ~/Media: without them there, every movie of a
    # present library would be looked for and found moved at each launch.
    media = os.path.join(library_home, "Media")
    if os.path.isdir(media):
        os.symlink(media, os.path.join(home, "Media"))
    return home


# Page Down before the folder: it scrolls what the window shows at launch (every movie).
FIGURES = ["launch", "search", "context menu", "rating", "browse", "preferences", "page down", "folder"]


def run_once(screen, kind, args, library_home, figures, one_folder, cpus):
    out = {}
    home = fresh_home(library_home) if kind == "program" else tempfile.mkdtemp(prefix="pellis-floor-")
    env = dict(screen.env, HOME=home, XDG_CONFIG_HOME=home + "/.config", XDG_CACHE_HOME=home + "/.cache",
               XDG_DATA_HOME=home + "/.local/share", XDG_RUNTIME_DIR=home)
    env.pop("QT_QPA_PLATFORM", None)
    command = [args.program] if kind == "program" else [os.path.join(args.build, "bench", "pellis_floorwindow")]
    app = App(screen, kind, command, env, cpus)
    try:
        last, peak, timed_out = app.launch()
        out["launch"] = (None, last, timed_out)
        out["memory"] = peak
        for name in figures:
            if name == "search":
                out[name] = figure_search(app)
            elif name == "context menu":
                out[name] = figure_context_menu(app)
            elif name == "rating":
                out[name] = figure_rating(app)
            elif name == "browse":
                out[name] = figure_browse(app)
            elif name == "preferences":
                out[name] = figure_preferences(app)
            elif name == "folder":
                out[name] = figure_folder(app, one_folder)
            elif name == "page down":
                out[name] = figure_page_down(app)
            screen.settle(now_ns(), quiet_ms=500)
        out["peak memory"] = app.stop()
    finally:
        if app.process.poll() is None:
            app.stop()
        shutil.rmtree(home, ignore_errors=True)
    return out


def median_text(values, unit="ms"):
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    m = statistics.median(values)
    if len(values) == 1:
        return f"{m:.0f} {unit}"
    return f"{m:.0f} {unit} ({min(values):.0f}-{max(values):.0f})"


def table(title, results, figures):
    """results: {"program": [run, ...], "floor": [run, ...]}"""
    lines = [f"#### {title}", "", "| figure | program: first change | program: last change | floor: first | floor: last |", "|---|---|---|---|---|"]
    for kind in ("program", "floor"):
        timeouts = sum(1 for r in results[kind] for k, v in r.items() if isinstance(v, tuple) and len(v) == 3 and v[2])
        if timeouts:
            lines.append(f"| ({kind}: {timeouts} figures did not settle within their time limit) | | | | |")
    for name in ["launch"] + [f for f in figures if f != "page down"]:
        cells = []
        for kind in ("program", "floor"):
            runs = [r.get(name) for r in results[kind] if r.get(name)]
            cells.append(median_text([r[0] for r in runs]) if name != "launch" else "")
            cells.append(median_text([r[1] for r in runs]))
        label = "launch: exec to the last paint" if name == "launch" else name
        lines.append(f"| {label} | {cells[0]} | {cells[1]} | {cells[2]} | {cells[3]} |")
    mem = [median_text([r.get(k) for r in results[kind]], "MB") for kind in ("program", "floor") for k in ("memory", "peak memory")]
    lines.append(f"| peak resident memory: at the launch's last paint / at the end | {mem[0]} | {mem[1]} | {mem[2]} | {mem[3]} |")
    if "page down" in figures:
        cells = []
        for kind in ("program", "floor"):
            runs = [r["page down"] for r in results[kind] if r.get("page down")]
            per_second = [u / s for u, s, _ in runs if s > 0]
            cells.append(median_text([u for u, _, _ in runs], "updates") + f" in {statistics.median([s for _, s, _ in runs]):.1f} s" if runs else "n/a")
            cells.append(median_text(per_second, "per second"))
            moving = [u / m for u, _, m in runs if m > 0]
            cells.append(median_text(moving, "per second") + f" over {statistics.median([m for _, _, m in runs]):.1f} s" if runs else "n/a")
        lines.append(f"| Page Down every 15 ms (160 keys): screen updates | {cells[0]} | {cells[1]} | {cells[3]} | {cells[4]} |")
        lines.append(f"| the same, until the grid stops (its end or the last key): updates per second | | {cells[2]} | | {cells[5]} |")
    return "\n".join(lines) + "\n"


def measure(screen, args, movies, folders, absent, busy, figures, runs):
    library_home = make_library(args.build, args.cache, movies, folders, absent)
    cpus = parse_cpus(args.cpus)
    loops = []
    for cpu in cpus[:busy]:
        loops.append(subprocess.Popen(["taskset", "-c", str(cpu), "sh", "-c", "while :; do :; done"]))
    results = {"program": [], "floor": []}
    try:
        for run in range(runs):
            for kind in ("program", "floor"):
                results[kind].append(run_once(screen, kind, args, library_home, figures, folders <= 1, cpus))
                print(f"  run {run + 1} {kind}: " + ", ".join(f"{k} {v}" for k, v in results[kind][-1].items()), file=sys.stderr)
    finally:
        for p in loops:
            p.kill()
            p.wait()
    load = os.getloadavg()
    title = (f"{movies:,} movies in {folders:,} folder{'s' if folders != 1 else ''}, files {'absent' if absent else 'present'}, "
             f"{'busy: ' + str(busy) + ' busy loops on the program cores' if busy else 'quiet'}; program on CPUs {args.cpus}; "
             f"{runs} runs, median (min-max); load average {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} at the end")
    return table(title, results, figures)


# What --all measures: (movies, folders, absent, busy loops, figures).
ALL = [
    (100000, 2000, False, 0, FIGURES),
    (100000, 2000, True, 0, ["launch", "search", "context menu", "rating", "folder"]),
    (100000, 1, False, 0, ["launch", "folder"]),
    (100000, 1, True, 0, ["launch"]),
    (20000, 400, False, 0, ["launch", "search", "page down"]),
    (20000, 400, True, 0, ["launch"]),
    (100000, 2000, False, 4, ["launch", "search", "rating"]),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--program", help="the program to measure (default: BUILD/bin/Pellis)")
    parser.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "pellis-real-libraries"),
                        help="where the libraries are written once")
    parser.add_argument("--movies", type=int, default=100000)
    parser.add_argument("--folders", type=int, default=2000)
    parser.add_argument("--absent", action="store_true", help="every movie's file absent (a drive not plugged in)")
    parser.add_argument("--busy", type=int, default=0, help="busy loops on that many of the program's processors")
    parser.add_argument("--cpus", default="2-7", help="the processors the program and the floor window run on")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--figures", default=",".join(FIGURES), help="a comma-separated choice of: " + ", ".join(FIGURES))
    parser.add_argument("--all", action="store_true", help="every configuration of bench/SCALE.md's table")
    parser.add_argument("--size", default="2560x1440")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.program = os.path.abspath(args.program or os.path.join(args.build, "bin", "Pellis"))
    for tool in ("Xvfb", "xdotool"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} is needed")
    if not os.path.exists(os.path.join(args.build, "bench", "pellis_screenwatch")):
        raise SystemExit("build/bench/pellis_screenwatch is missing (libxdamage-dev, then build it)")
    screen = Screen(args.build, args.size)
    try:
        print(f"program {args.program}; {time.strftime('%Y-%m-%d %H:%M')}; uptime: {subprocess.run(['uptime'], capture_output=True, text=True).stdout.strip()}\n")
        configurations = ALL if args.all else [(args.movies, args.folders, args.absent, args.busy, [f.strip() for f in args.figures.split(",") if f.strip()])]
        for movies, folders, absent, busy, figures in configurations:
            print(measure(screen, args, movies, folders, absent, busy, [f for f in figures if f != "launch"], args.runs), flush=True)
    finally:
        screen.close()


if __name__ == "__main__":
    main()
