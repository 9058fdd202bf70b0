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
    def __init__(self, what, unit, summary=MEDIAN, target=None, before=None):
        self.what = what
        self.unit = unit
        self.summary = summary
        self.target = target  # the value (the median, or the max) must be at most this
        self.before = before  # as measured before the work these rows were made for


class Ratio(Row):
    """A row figured from two others: the median of one over the other's."""

    def __init__(self, what, over, under, target=None):
        super().__init__(what, "x", target=target)
        self.over = over
        self.under = under


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

    def start(self, argument=None, env=None, first=None):
        """A fresh Varne, ended when the scenario's run ends; `env` adds to
        its environment. With `first`, the pattern of a window's name, that
        window is waited for before the frame, and has the focus."""
        varne = Varne(self.desktop, self.programs, argument=argument, env=env, first=first)
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
                self.close_all()

    def close_all(self):
        """Ends every Varne of the run, and forgets the journals they kept."""
        while self.running:
            self.running.pop().close()
        self.desktop.forget_journals()

    def command_line_opens(self, path):
        """Whether Varne opens a file named on its command line: the caption
        names it within a few seconds of the window's first answer."""
        try:
            varne = self.start(argument=path)
            return bool(poll(3, lambda: varne.caption() == "Varne - " + path))
        except Failed:
            return False
        finally:
            self.close_all()


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
    digits = 2 if unit in ("s", "x") else 0 if unit == "MiB" or value >= 100 else 1
    return f"{value:.{digits}f}"


def summarize(run, row):
    """The row's figure as shown, the value its target is checked against
    and the number of samples; or None and the reason it was not measured."""
    if isinstance(row, Ratio):
        over, reason = summarize(run, row.over)
        if over is None:
            return None, reason
        under, reason = summarize(run, row.under)
        if under is None:
            return None, reason
        if under[1] <= 0:
            return None, f"'{row.under.what.strip()}' is 0"
        ratio = over[1] / under[1]
        return (format_value(ratio, row.unit), ratio, 1), None
    values = run.samples.get(row, [])
    if row in run.failures or not values:
        return None, run.failures.get(row, "no samples")
    median = statistics.median_high(values)
    if row.summary == MAX:
        return (format_value(max(values), row.unit), max(values), len(values)), None
    if row.summary == MEDIAN_MAX:
        shown = format_value(median, row.unit) + " / " + format_value(max(values), row.unit)
        return (shown, median, len(values)), None
    return (format_value(median, row.unit), median, len(values)), None


def verdict(row, checked):
    return "met" if checked <= row.target else "MISSED"


def report_row(run, row):
    what = f"  {row.what:<68}"
    summary, reason = summarize(run, row)
    if summary is None:
        return f"{what} not measured: {reason}"
    shown, checked, count = summary
    line = f"{what} {shown:>17} {row.unit:<3}"
    line += f" n={count:<2}" if count > 1 else " " * 5
    if row.target is not None:
        line += f" target <= {row.target:g} {row.unit}: " + verdict(row, checked)
    return line.rstrip()


def markdown_row(run, row):
    """The row as a line of a Markdown table: what, measured, before, target."""
    summary, reason = summarize(run, row)
    unit = " ×" if row.unit == "x" else " " + row.unit
    if summary is None:
        measured = "not measured: " + reason.replace("|", "/")
    else:
        measured = summary[0] + unit
    before = "" if row.before is None else format_value(row.before, row.unit) + unit
    target = ""
    if row.target is not None:
        target = f"≤ {row.target:g}{unit}"
        if summary is not None:
            target += ": " + verdict(row, summary[1])
    # A row that belongs to the one above is indented in the text report.
    what = "↳ " + row.what.strip() if row.what.startswith(" ") else row.what
    return f"| {what} | {measured} | {before} | {target} |"


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


def shown(row, measured):
    """Whether the row belongs to this run: its scenario ran, or, for a
    ratio, the scenarios of both its rows."""
    if isinstance(row, Ratio):
        return shown(row.over, measured) and shown(row.under, measured)
    return row in measured


def print_markdown(run, sections, measured):
    print("| What | Measured | Before | Target |")
    print("|---|---|---|---|")
    for section in sections:
        rows = [row for row in section.rows if shown(row, measured)]
        if rows:
            print(f"| **{section.heading}** | | | |")
        for row in rows:
            print(markdown_row(run, row))


def run_all(programs, scenarios, sections, folder, open_with, markdown=False):
    """Runs the scenarios and prints the sections' rows that they measure,
    as text or as a Markdown table; returns 0 if every row was measured."""
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
    if markdown:
        print_markdown(run, sections, measured)
    else:
        for section in sections:
            rows = [row for row in section.rows if shown(row, measured)]
            if rows:
                print(section.heading)
            for row in rows:
                print(report_row(run, row))
    width, height = run.window_size or (0, 0)
    print(f"{'' if markdown else '  '}the window: {width}x{height} inside its frame, "
          f"maximised; took {time.monotonic() - started:.0f} s, load average "
          f"{load_before:.2f} before, {os.getloadavg()[0]:.2f} after")
    return 0 if not run.failures else 1
