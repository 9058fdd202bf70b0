"""Runs the scenarios of the benchmark in a real X server and prints its rows.

A Row is one line of the report: what it measures, its unit, how its samples
are summed up and its target, if any. A Scenario is a function that gets a
fresh Varne on a desktop of its own and records samples for its rows; it runs
`repeat` times, each in a new process. A step that cannot be done raises
desktop.Failed: every row the scenario names that has not received its
samples in that run then reads "not measured" with the reason, never a
number. Record a row's samples only once they are all measured.
"""
import os
import statistics
import subprocess
import time
import traceback

from . import cpu as processcpu
from .desktop import Desktop, Failed, Varne, poll

SCREEN = (1280, 800)

MEDIAN = "median"
MEDIAN_MAX = "median, max"
MAX = "max"


class Row:
    def __init__(self, what, unit, summary=MEDIAN, target=None):
        self.what = what
        self.unit = unit
        self.summary = summary
        self.target = target  # the value (the median, or the max) must be at most this


class Page:
    """A generated page: `mebibytes` of HTML, or of HTML minified to one line."""

    def __init__(self, mebibytes, one_line=False):
        self.mebibytes = mebibytes
        self.one_line = one_line
        self.path = None

    def name(self):
        return f"{self.mebibytes} MiB" + (" on one line" if self.one_line else "")


class Scenario:
    def __init__(self, name, pages, rows, steps, repeat=1):
        self.name = name
        self.pages = pages
        self.rows = rows
        self.steps = steps  # function(run)
        self.repeat = repeat


class Section:
    """A heading and the rows printed under it."""

    def __init__(self, heading, rows):
        self.heading = heading
        self.rows = rows


class Programs:
    """The binaries, from the file CMake writes into the build folder."""

    NAMES = {"varne": "the editor", "x_helper": "the X helper (needs libxcb1-dev)",
             "pages": "the offscreen benchmark, which writes the pages"}

    def __init__(self, listing):
        values = {}
        try:
            with open(listing) as lines:
                for line in lines:
                    name, _, value = line.strip().partition("=")
                    values[name] = value
        except OSError:
            pass
        self.varne = values.get("varne", "")
        self.x_helper = values.get("x_helper", "")
        self.pages = values.get("pages", "")

    def missing(self):
        return [f"{description} ({getattr(self, name) or 'not built'})"
                for name, description in self.NAMES.items()
                if not os.access(getattr(self, name), os.X_OK)]


class Run:
    """One run of the benchmark: the samples and failures of every row."""

    def __init__(self, programs, folder, open_with):
        self.programs = programs
        self.folder = folder
        self.open_with = open_with
        self.samples = {}
        self.failures = {}
        self.desktop = None
        self.window_size = None
        self.running = []

    def record(self, row, *values):
        if not values or any(value is None for value in values):
            raise Failed(f"no value for '{row.what}'")
        self.samples.setdefault(row, []).extend(values)

    def fail(self, rows, reason):
        for row in rows:
            self.failures.setdefault(row, reason)

    # Steps the scenarios share.

    def start(self, argument=None, env=None):
        """A fresh Varne, ended when the scenario's run ends; `env` adds to
        its environment."""
        varne = Varne(self.desktop, self.programs, argument=argument, env=env)
        self.running.append(varne)
        if self.window_size is None:
            self.window_size = varne.geometry()
        return varne

    def start_and_open(self, page, env=None, via=None):
        """A fresh Varne with the page open, through the command line or the
        Open File dialog (`via`, by default the run's way); returns it, the
        seconds from the process's start until the window answers with the
        page loaded (the time spent in the dialog left out) and the CPU spent
        meanwhile."""
        if (via or self.open_with) == "argument":
            varne = self.start(argument=page.path, env=env)
            loaded = varne.wait_loaded(page.path)
            return varne, loaded - varne.started, varne.cpu.seconds()
        varne = self.start(env=env)
        start_cpu = varne.cpu.seconds()
        opened, open_cpu = varne.open_with_dialog(page.path)
        return varne, varne.answered - varne.started + opened, start_cpu + open_cpu

    def run_scenario(self, scenario):
        for _ in range(scenario.repeat):
            before = {row: len(self.samples.get(row, [])) for row in scenario.rows}
            try:
                scenario.steps(self)
            except (Failed, processcpu.ProcessGone) as failure:
                self.fail([row for row in scenario.rows
                           if len(self.samples.get(row, [])) == before[row]], str(failure))
            finally:
                while self.running:
                    self.running.pop().close()

    def command_line_opens(self, path):
        """Whether Varne opens a file named on its command line: the caption
        names it within a few seconds of the window's first answer."""
        try:
            varne = self.start(argument=path)
            return bool(poll(3, lambda: varne.caption() == "Varne - " + path))
        except Failed:
            return False
        finally:
            while self.running:
                self.running.pop().close()


def write_pages(run, scenarios):
    """Writes each page the scenarios open once, with the offscreen
    benchmark's own generator."""
    paths = {}
    for page in (page for scenario in scenarios for page in scenario.pages):
        key = (page.mebibytes, page.one_line)
        if key not in paths:
            paths[key] = os.path.join(run.folder, "page-%d%s.html" % (
                page.mebibytes, "-line" if page.one_line else ""))
            command = [run.programs.pages, "--write-page"]
            command += ["--one-line"] if page.one_line else []
            command += [str(page.mebibytes), paths[key]]
            if subprocess.run(command).returncode != 0:
                raise Failed("could not write " + paths[key])
        page.path = paths[key]


def format_value(value, unit):
    digits = 2 if unit == "s" else 0 if unit == "MiB" else 1
    return f"{value:.{digits}f}"


def report_row(run, row):
    what = f"  {row.what:<62}"
    values = run.samples.get(row, [])
    if row in run.failures or not values:
        return f"{what} not measured: {run.failures.get(row, 'no samples')}"
    median = statistics.median_high(values)
    if row.summary == MAX:
        shown, checked = format_value(max(values), row.unit), max(values)
    elif row.summary == MEDIAN_MAX:
        shown = format_value(median, row.unit) + " / " + format_value(max(values), row.unit)
        checked = median
    else:
        shown, checked = format_value(median, row.unit), median
    line = f"{what} {shown:>17} {row.unit:<3}"
    if len(values) > 1:
        line += f" n={len(values):<2}"
    else:
        line += " " * 5
    if row.target is not None:
        line += f" target <= {row.target:g} {row.unit}: " + ("met" if checked <= row.target
                                                            else "MISSED")
    return line.rstrip()


def measure(run, scenarios):
    write_pages(run, scenarios)
    tiny = os.path.join(run.folder, "tiny.html")
    with open(tiny, "w") as out:
        out.write("<p>tiny</p>\n")
    run.desktop = Desktop(*SCREEN)
    try:
        if run.open_with == "auto":
            run.open_with = "argument" if run.command_line_opens(tiny) else "dialog"
        print("  files opened through " + ("the command line" if run.open_with == "argument"
                                           else "Ctrl+O and the Open File dialog") +
              "; keys pressed with xdotool; CPU = user + system of all threads", flush=True)
        for scenario in scenarios:
            try:
                run.run_scenario(scenario)
            except Exception as error:  # a fault of the harness: say so, go on
                traceback.print_exc()
                run.fail(scenario.rows, f"the harness failed: {error}")
    finally:
        run.desktop.close()


def run_all(programs, scenarios, sections, folder, open_with):
    """Runs the scenarios and prints the sections' rows that they measure;
    returns 0 if every row was measured."""
    run = Run(programs, folder, open_with)
    started = time.monotonic()
    load_before = os.getloadavg()[0]
    print(f"Varne in a real X server: Xvfb {SCREEN[0]}x{SCREEN[1]} with openbox; \"answers\" = "
          "replies to a _NET_WM_PING", flush=True)
    print(f"  quiet = at most {processcpu.QUIET_CPU * 1000:g} ms of CPU in "
          f"{processcpu.QUIET_WINDOW * 1000:g} ms (a blinking caret costs about 1 ms a second)",
          flush=True)
    measured = [row for scenario in scenarios for row in scenario.rows]
    try:
        measure(run, scenarios)
    except Failed as failure:
        run.fail(measured, str(failure))
    for section in sections:
        rows = [row for row in section.rows if row in measured]
        if rows:
            print(section.heading)
        for row in rows:
            print(report_row(run, row))
    width, height = run.window_size or (0, 0)
    print(f"  the window: {width}x{height} inside its frame, maximised; took "
          f"{time.monotonic() - started:.0f} s, load average {load_before:.2f} before, "
          f"{os.getloadavg()[0]:.2f} after")
    return 0 if not run.failures else 1
