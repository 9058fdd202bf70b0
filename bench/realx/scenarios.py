"""What the benchmark in a real X server measures: its rows, and the
scenarios that measure them. To add a row, see bench/README.md."""
from . import journal
from .runner import MAX, MEDIAN_MAX, Page, Row, Scenario, Section

KEYS = 9  # keys per place, each until the process is quiet
OPENS = 3  # fresh processes for the rows of an open
WATCH = 30  # seconds watched after an open

PAGE = journal.PAGE
LINE_2 = Page(2, one_line=True)
LINE_10 = Page(10, one_line=True)

# Rows, in the order they are printed.
OPEN = Row("start + open until the window answers", "s", before=0.71)
OPEN_CPU = Row("start + open: CPU", "s")
AFTER_OPEN = Row(f"CPU in the {WATCH} s after the open", "s", target=3, before=9.7)
AFTER_OPEN_PING = Row(f"worst ping latency in those {WATCH} s", "ms", MAX, target=16)
ONE_KEY = Row("CPU after ONE key typed at the start, until quiet", "ms", target=50, before=8900)
ONE_KEY_BUSY = Row("  busy for", "s")
CTRL_END = Row("Ctrl+End after that, until the window answers", "ms", target=50, before=36)
CTRL_END_CPU = Row("  its CPU, until quiet", "ms")
KEY_START = Row("CPU per key at the start, until quiet: median / max", "ms", MEDIAN_MAX)
KEY_MIDDLE = Row("CPU per key in the middle, until quiet: median / max", "ms", MEDIAN_MAX)
KEY_END = Row("CPU per key at the end, until quiet: median / max", "ms", MEDIAN_MAX, before=1.3)
PEAK = Row("peak memory (VmHWM) after the keys", "MiB", target=280, before=270)
PING_CPU = Row("CPU of one ping, included in the rows above", "ms")
LINE_OPEN = Row("open 10 MiB on one line until the window answers", "s", target=3, before=6.1)
LINE_OPEN_CPU = Row("open 10 MiB on one line: CPU", "s")
# Opened from the command line, a page is loaded before the window has its
# size; these show what that costs beside the dialog.
OPEN_DIALOG = Row("start + open through the Open File dialog", "s")
LINE_OPEN_DIALOG = Row("open 10 MiB on one line through the Open File dialog", "s")
LINE_KEY_2 = Row("CPU per key at the end of a 2 MiB line: median / max", "ms", MEDIAN_MAX,
                 target=200, before=1000)
LINE_KEY_10 = Row("CPU per key at the end of a 10 MiB line: median / max", "ms", MEDIAN_MAX,
                  target=1000)

SECTIONS = [
    Section(f"{PAGE.name()} of generated HTML (medians of {OPENS} opens, of {KEYS} keys a place)",
            [OPEN, OPEN_CPU, OPEN_DIALOG, AFTER_OPEN, AFTER_OPEN_PING, ONE_KEY, ONE_KEY_BUSY,
             CTRL_END, CTRL_END_CPU, KEY_START, KEY_MIDDLE, KEY_END, PEAK, PING_CPU]),
    Section("the same markup minified to one line",
            [LINE_OPEN, LINE_OPEN_CPU, LINE_OPEN_DIALOG, LINE_KEY_2, LINE_KEY_10]),
    journal.SECTION,
]


def open_and_idle(run):
    varne, seconds, cpu = run.start_and_open(PAGE)
    run.record(OPEN, seconds)
    run.record(OPEN_CPU, cpu)
    used, latencies = varne.watch(WATCH)
    run.record(AFTER_OPEN, used)
    run.record(AFTER_OPEN_PING, max(latencies))
    varne.wait_quiet(limit=120)
    varne.go_to("start")
    varne.wait_quiet()
    busy = varne.key_cost("x")
    run.record(ONE_KEY, busy.cpu * 1000)
    run.record(ONE_KEY_BUSY, busy.wall)
    jump = varne.key_cost("ctrl+End")
    run.record(CTRL_END, jump.answer)
    run.record(CTRL_END_CPU, jump.cpu * 1000)


def keys_in_places(run):
    varne, _, _ = run.start_and_open(PAGE)
    varne.wait_quiet(limit=120)
    for place, row in (("start", KEY_START), ("middle", KEY_MIDDLE), ("end", KEY_END)):
        varne.go_to(place)
        varne.wait_quiet()
        run.record(row, *[varne.key_cost("x").cpu * 1000 for _ in range(KEYS)])
    run.record(PEAK, varne.peak_memory_mib())
    run.record(PING_CPU, varne.ping_cost() * 1000)


def open_one_line(run):
    _, seconds, cpu = run.start_and_open(LINE_10)
    run.record(LINE_OPEN, seconds)
    run.record(LINE_OPEN_CPU, cpu)


def open_through_dialog(run):
    for page, row in ((PAGE, OPEN_DIALOG), (LINE_10, LINE_OPEN_DIALOG)):
        varne, seconds, _ = run.start_and_open(page, via="dialog")
        varne.close()
        run.record(row, seconds)


def keys_at_line_end(page, row):
    def steps(run):
        varne, _, _ = run.start_and_open(page)
        varne.wait_quiet()
        varne.go_to("line end")
        varne.wait_quiet()
        run.record(row, *[varne.key_cost("x").cpu * 1000 for _ in range(KEYS)])
    return steps


SCENARIOS = [
    Scenario("open", [PAGE], [OPEN, OPEN_CPU, AFTER_OPEN, AFTER_OPEN_PING, ONE_KEY, ONE_KEY_BUSY,
                              CTRL_END, CTRL_END_CPU], open_and_idle, repeat=OPENS),
    Scenario("keys", [PAGE], [KEY_START, KEY_MIDDLE, KEY_END, PEAK, PING_CPU],
             keys_in_places),
    Scenario("line-open", [LINE_10], [LINE_OPEN, LINE_OPEN_CPU], open_one_line,
             repeat=OPENS),
    Scenario("dialog-open", [PAGE, LINE_10], [OPEN_DIALOG, LINE_OPEN_DIALOG], open_through_dialog,
             repeat=OPENS),
    Scenario("line-keys-2", [LINE_2], [LINE_KEY_2], keys_at_line_end(LINE_2, LINE_KEY_2)),
    Scenario("line-keys-10", [LINE_10], [LINE_KEY_10], keys_at_line_end(LINE_10, LINE_KEY_10)),
    *journal.SCENARIOS,
]
