"""What the recovery journal costs where the user sits: keys, memory and a
large paste in sessions of the same Varne with and without its journal, in
turns, and the recovery of many edits after a kill -9.

Without the journal is Varne started with VARNE_BENCH_WITHOUT_JOURNAL=1, a
switch that exists for this comparison alone: that Varne keeps no journal
and asks the component for no notice of each change, as before there was a
journal. Journals live in the desktop's own home folder, on the disk.
"""
import os
import shutil
import subprocess
import threading
import time

from .desktop import Failed, poll
from .runner import Page, Ratio, Row, Scenario, Section

PAGE = Page(100)
ROUNDS = 3  # sessions with and without the journal, in turns
RUN_KEYS = 20  # keys in a run, typed RUN_PACE seconds apart as a typist does
RUN_PACE = 0.1
# The journal flushes about a second after the first change it has not
# written: a key's cost is counted for this long at least, so the flush
# it sets off counts too.
FLUSH_SETTLE = 1.5
EDITS = 10000  # edits recorded, then recovered
EDIT_CHUNK = 250  # edits sent at once, the window's answer awaited between
# The journal's record of a one-byte insertion: its kind, position, length
# removed and length inserted, the byte and a checksum.
EDIT_RECORD = 1 + 3 * 8 + 1 + 4
WITHOUT = {"VARNE_BENCH_WITHOUT_JOURNAL": "1"}
MIB = 1 << 20

FIRST = Row("first key after the open, at the end: CPU, without the journal", "ms")
FIRST_WITH = Row("  with it: its first flush and copy of the file included", "ms")
FIRST_COPY = Row("  with it: from the key until the copy of the file is on disk", "s")


def key_rows(place):
    without = Row(f"CPU per key at the {place}, {RUN_KEYS} keys {RUN_PACE * 1000:g} ms apart: "
                  "without the journal", "ms")
    journaled = Row("  with the journal, its flushes included", "ms")
    return without, journaled, Ratio("  with / without", journaled, without, target=1.05)


KEYS_END, KEYS_MIDDLE, KEYS_START = (key_rows(place) for place in ("end", "middle", "start"))
PEAK = Row("peak memory (VmHWM) after those keys: without the journal", "MiB")
PEAK_WITH = Row("  with the journal", "MiB")
PEAK_RATIO = Ratio("  with / without", PEAK_WITH, PEAK, target=1.05)
PASTE = Row("paste of 100 MiB: Ctrl+V until the window answers, without it", "s")
PASTE_WITH = Row("  with the journal", "s")
BATCH = Row("  the paste's batch: from its first byte written until on disk", "s")
WRITE = Row("  writing the same 100 MiB: dd conv=fsync in the journals' folder", "s")
BATCH_RATIO = Ratio("  the batch / writing", BATCH, WRITE, target=1.5)
PASTE_PEAK = Row("peak memory after the paste: without the journal", "MiB")
PASTE_PEAK_WITH = Row("  with the journal", "MiB")
PASTE_PEAK_RATIO = Ratio("  with / without", PASTE_PEAK_WITH, PASTE_PEAK, target=1.05)
QUESTION = Row(f"{EDITS:,} edits kept, kill -9, start again: until the question shows", "s")
RECOVERED = Row("  Return (Recover) until the recovered document answers", "s", target=1)

SECTION = Section(
    f"the recovery journal, {PAGE.name()} (medians of {ROUNDS} sessions with and without "
    "it, in turns)",
    [FIRST, FIRST_WITH, FIRST_COPY, *KEYS_END, *KEYS_MIDDLE, *KEYS_START, PEAK, PEAK_WITH,
     PEAK_RATIO, PASTE, PASTE_WITH, BATCH, WRITE, BATCH_RATIO, PASTE_PEAK, PASTE_PEAK_WITH,
     PASTE_PEAK_RATIO, QUESTION, RECOVERED])


class JournalWatch:
    """Watches the journals' folder from a thread of its own, every 5 ms:
    notes when the largest journal first grew past `start` bytes and when
    one first held `reach` bytes; that one the watch then flushes to disk
    itself, which waits for whatever of it the kernel still had to write
    (nothing, if Varne's own flush came first)."""

    def __init__(self, folder, start, reach):
        self.folder = folder
        self.start = start
        self.reach = reach
        self.grew = None
        self.reached = None
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._watch, daemon=True)
        self.thread.start()

    def _watch(self):
        while not self.stop.is_set():
            sizes = journal_sizes(self.folder)
            now = time.monotonic()
            if self.grew is None and max(sizes.values(), default=0) > self.start:
                self.grew = now
            for path, size in sizes.items():
                if size >= self.reach and self._flush(path):
                    self.reached = time.monotonic()
                    return
            time.sleep(0.005)

    @staticmethod
    def _flush(path):
        try:
            descriptor = os.open(path, os.O_RDONLY)
        except OSError:
            return False  # replaced meanwhile: the next look finds the new one
        try:
            os.fdatasync(descriptor)
            return True
        finally:
            os.close(descriptor)

    def wait(self, limit):
        """Waits for the journal to reach its size; returns when it did
        (a time.monotonic()), or raises Failed."""
        self.thread.join(limit)
        self.stop.set()
        if self.reached is None:
            raise Failed(f"no journal of {self.reach} bytes within {limit} s "
                         f"(found: {sorted(journal_sizes(self.folder).values())})")
        return self.reached


def journal_sizes(folder):
    sizes = {}
    try:
        names = os.listdir(folder)
    except OSError:
        return sizes
    for name in names:
        if ".journal" in name:
            try:
                sizes[os.path.join(folder, name)] = os.stat(os.path.join(folder, name)).st_size
            except OSError:
                pass
    return sizes


def write_as_dd(source, folder):
    """The seconds dd takes to write the file's bytes to a new file in the
    folder and flush it."""
    target = os.path.join(folder, "varne-bench-written")
    started = time.monotonic()
    done = subprocess.run(["dd", f"if={source}", f"of={target}", "bs=1M", "conv=fsync",
                           "status=none"], capture_output=True, text=True)
    seconds = time.monotonic() - started
    if os.path.exists(target):
        os.remove(target)
    if done.returncode != 0:
        raise Failed("dd failed: " + done.stderr.strip())
    return seconds


def session(run, journaled):
    """One session on the page: the first key, runs of keys in three places,
    peak memory, then a paste as large as the page."""
    folder = run.desktop.journal_folder()
    page_size = os.path.getsize(PAGE.path)
    varne, _, _ = run.start_and_open(PAGE, env=None if journaled else WITHOUT)
    varne.wait_quiet(limit=120)
    varne.go_to("end")
    varne.wait_quiet()

    watch = JournalWatch(folder, 0, page_size) if journaled else None
    first = varne.key_cost("x", settle=FLUSH_SETTLE)
    copied = watch.wait(120) - first.sent if watch else None

    runs = {}
    for place, rows in (("end", KEYS_END), ("middle", KEYS_MIDDLE), ("start", KEYS_START)):
        varne.go_to(place)
        varne.wait_quiet(limit=120)
        typed = varne.key_cost(*["x"] * RUN_KEYS, pace=RUN_PACE, settle=FLUSH_SETTLE, limit=120)
        runs[rows[journaled]] = typed.cpu * 1000 / RUN_KEYS
    peak = varne.peak_memory_mib()

    owner = run.desktop.own_clipboard(PAGE.path)
    try:
        varne.go_to("end")
        varne.wait_quiet(limit=120)  # the clipboard's offer has been heard too
        written = write_as_dd(PAGE.path, folder) if journaled else None
        before = varne.memory_mib()
        start = max(journal_sizes(folder).values(), default=0)
        watch = JournalWatch(folder, start, start + page_size) if journaled else None
        varne.press("ctrl+v")
        pasted = varne.ping(varne.ANSWER_LIMIT)
        if pasted is None:
            raise Failed(f"the window did not answer within {varne.ANSWER_LIMIT} s of the paste")
        batch = watch.wait(120) if watch else None
        if varne.memory_mib() - before < 0.9 * page_size / MIB:
            raise Failed("nothing was pasted: Varne's memory did not grow by the page's size")
    finally:
        owner.kill()
        owner.wait()

    run.record(FIRST_WITH if journaled else FIRST, first.cpu * 1000)
    for row, value in runs.items():
        run.record(row, value)
    run.record(PEAK_WITH if journaled else PEAK, peak)
    run.record(PASTE_WITH if journaled else PASTE, pasted / 1000)
    run.record(PASTE_PEAK_WITH if journaled else PASTE_PEAK, varne.peak_memory_mib())
    if journaled:
        run.record(FIRST_COPY, copied)
        run.record(BATCH, batch - watch.grew)
        run.record(WRITE, written)
    varne.close()
    run.desktop.forget_journals()


def with_and_without(run):
    for journaled in (False, True):
        session(run, journaled)


def recover_edits(run):
    """Types EDITS edits, each at a place of its own (x, then Page Down),
    into a journal that already holds its copy of the file, waits until they
    are flushed, kills Varne with SIGKILL and starts it again with the file:
    the question, then the recovered document. The last recovery is saved,
    and must hold every edit."""
    path = os.path.join(run.folder, "recovered.html")
    shutil.copyfile(PAGE.path, path)
    try:
        varne = run.start(argument=path)
        varne.wait_loaded(path)
        varne.wait_quiet(limit=120)
        varne.go_to("start")
        # The journal copies the file after its first flush: that first
        # change goes into the copy, and each edit after it is a record.
        watch = JournalWatch(run.desktop.journal_folder(), 0, os.path.getsize(path))
        varne.key_cost("x", settle=FLUSH_SETTLE)
        watch.wait(120)
        for _ in range(EDITS // EDIT_CHUNK):
            varne.press(*["x", "Next"] * EDIT_CHUNK)
            varne.wait_answer()
        varne.until_quiet(varne.cpu.seconds(), time.monotonic(), limit=300,
                          not_before=time.monotonic() + FLUSH_SETTLE)
        kept = max(journal_sizes(run.desktop.journal_folder()).values(), default=0)
        if kept < os.path.getsize(path) + 1 + EDITS * EDIT_RECORD:
            raise Failed(f"the journal holds {kept} bytes: not {EDITS} edits recorded after "
                         "its copy of the file")
        varne.close()

        questions, recoveries = [], []
        for attempt in range(ROUNDS):
            again = run.start(argument=path, first="^Varne$")
            questions.append(again.first_seen - again.started)
            if not poll(20, lambda: again.has_focus(again.first)):
                raise Failed("the recovery question did not get the focus")
            again.press("Return", into=again.first)
            sent = time.monotonic()
            recoveries.append(again.wait_loaded(path) - sent)
            if attempt < ROUNDS - 1:
                again.close()  # its journal, now carried on, stays

        again.press("ctrl+s")
        expected = os.path.getsize(PAGE.path) + 1 + EDITS
        if not poll(120, lambda: os.path.getsize(path) == expected, interval=0.1):
            raise Failed(f"the recovered text, saved, has {os.path.getsize(path)} bytes, "
                         f"{expected} expected")
        run.record(QUESTION, *questions)
        run.record(RECOVERED, *recoveries)
    finally:
        os.remove(path)


SCENARIOS = [
    Scenario("journal", [PAGE], [FIRST, FIRST_WITH, FIRST_COPY, KEYS_END[0], KEYS_END[1],
                                 KEYS_MIDDLE[0], KEYS_MIDDLE[1], KEYS_START[0], KEYS_START[1],
                                 PEAK, PEAK_WITH, PASTE, PASTE_WITH, BATCH, WRITE, PASTE_PEAK,
                                 PASTE_PEAK_WITH], with_and_without, repeat=ROUNDS),
    Scenario("recovery", [PAGE], [QUESTION, RECOVERED], recover_edits),
]
