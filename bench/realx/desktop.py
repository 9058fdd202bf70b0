"""A desktop of its own for the benchmark, and Varne running on it.

Desktop: an X server (Xvfb) with a window manager (openbox), a home and a
runtime folder of its own, so that nothing of the person's session (their
bus, screen reader or settings) reaches the program measured.

Varne: the real binary on that desktop, driven as a person drives it, with
key presses and mouse clicks through xdotool, and asked with a _NET_WM_PING
(tests/smoke/x-helper.cpp) whether its window answers: it answers once it
has handled everything queued before the ping.

Every wait polls with an upper bound; none sleeps a fixed time as a measure.
"""
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time

from . import cpu as processcpu


class Failed(Exception):
    """A step could not be done; the rows it was for are not measured."""


def poll(seconds, predicate, interval=0.02):
    """Calls the predicate until it returns something true, for at most
    `seconds`; returns that, or None."""
    deadline = time.monotonic() + seconds
    while True:
        result = predicate()
        if result or time.monotonic() > deadline:
            return result
        time.sleep(interval)


def log_tail(path):
    """The end of a log, to say in a failure what a program wrote."""
    try:
        with open(path, errors="replace") as log:
            text = log.read()[-600:].strip()
    except OSError:
        text = ""
    return f"; it wrote: {text}" if text else ""


class Desktop:
    def __init__(self, width=1280, height=800):
        self.size = f"{width}x{height}"
        self.work = tempfile.mkdtemp(prefix="varne-bench-x-")
        self.processes = []
        self.env = dict(os.environ)
        for name in ("SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
                     "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                     "QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"):
            self.env.pop(name, None)
        self.env["HOME"] = os.path.join(self.work, "home")
        self.env["XDG_RUNTIME_DIR"] = os.path.join(self.work, "runtime")
        os.mkdir(self.env["HOME"])
        os.mkdir(self.env["XDG_RUNTIME_DIR"], 0o700)
        try:
            self._start_x(width, height)
            self._start_window_manager()
        except BaseException:
            self.close()
            raise

    def _start_x(self, width, height):
        # Xvfb picks a free display itself and writes its number once it
        # listens. By default it starts over whenever its last client leaves,
        # turning away one that connects meanwhile, as the window manager
        # would after the check that Xvfb answers: -noreset.
        read_end, write_end = os.pipe()
        with open(os.path.join(self.work, "xvfb.log"), "w") as log:
            server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                       f"{width}x{height}x24", "-nolisten", "tcp", "-noreset"],
                                      pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                      stderr=log)
        self.processes.append(server)
        os.close(write_end)
        # The number and its line end may come in two writes; closing the
        # pipe before the second would end the server.
        text = b""
        deadline = time.monotonic() + 20
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], deadline - time.monotonic())
            chunk = os.read(read_end, 64) if ready else b""
            if not chunk:
                break
            text += chunk
        os.close(read_end)
        if not text.strip().isdigit():
            raise Failed("Xvfb gave no display number" + self._log("xvfb.log"))
        self.env["DISPLAY"] = ":" + text.decode().strip()
        if not poll(20, lambda: self.xdotool("getdisplaygeometry") is not None):
            raise Failed(f"Xvfb on {self.env['DISPLAY']} does not answer" + self._log("xvfb.log"))

    def _start_window_manager(self):
        with open(os.path.join(self.work, "openbox.log"), "w") as log:
            manager = subprocess.Popen(["openbox"], env=self.env, stdout=log,
                                       stderr=subprocess.STDOUT)
        self.processes.append(manager)

        # It says how many desktops there are once it manages the screen.
        def ready():
            if manager.poll() is not None:
                raise Failed("openbox ended" + self._log("openbox.log"))
            return self.xdotool("get_num_desktops") is not None

        if not poll(20, ready):
            raise Failed("openbox did not start" + self._log("openbox.log"))

    def _log(self, name):
        return log_tail(os.path.join(self.work, name))

    def journal_folder(self):
        """Where Varne keeps its recovery journals on this desktop."""
        return os.path.join(self.env["HOME"], ".local", "state", "varne")

    def forget_journals(self):
        """Removes the journals Varnes ended with SIGKILL left, which the
        next open of their file would offer back."""
        shutil.rmtree(self.journal_folder(), ignore_errors=True)

    def own_clipboard(self, path):
        """Starts xclip holding the file's bytes as the clipboard; returns
        the process, to be ended by the caller, once the clipboard has an
        owner that answers."""
        owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-i", path],
                                 env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        answers = lambda: subprocess.run(  # noqa: E731
            ["xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"], env=self.env,
            capture_output=True).returncode == 0
        if not poll(20, answers):
            owner.kill()
            owner.wait()
            raise Failed("xclip did not take the clipboard")
        return owner

    def xdotool(self, *arguments):
        """Runs xdotool; returns its output, or None if it failed."""
        done = subprocess.run(["xdotool", *arguments], env=self.env, capture_output=True,
                              text=True)
        return done.stdout if done.returncode == 0 else None

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.work, ignore_errors=True)


class Pinger:
    """Pings one window through a helper that keeps its connection open."""

    def __init__(self, helper, desktop, window):
        self.process = subprocess.Popen([helper, "pinger", str(window)], env=desktop.env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, bufsize=1)

    def ping(self, limit):
        """The milliseconds until the window answered, or None if it did not
        within `limit` seconds; raises Failed if the window is gone."""
        try:
            self.process.stdin.write(f"ping {max(1, int(limit * 1000))}\n")
            answer = self.process.stdout.readline().split()
        except OSError as error:
            raise Failed(f"the ping helper failed: {error}") from None
        if answer[:1] == ["answered"]:
            return float(answer[1])
        if answer[:1] == ["timeout"]:
            return None
        raise Failed("the window is gone" if answer == ["gone"] else "the ping helper failed")

    def close(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        self.process.wait()
        self.process.stdout.close()


class Varne:
    """The real binary on the desktop, with its frame found and focused; its
    environment is the desktop's plus `env`.

    `started` is when the process was started, `answered` when its frame first
    answered a ping."""

    KEY_LIMIT = 60  # seconds a key may keep the process busy
    ANSWER_LIMIT = 120  # seconds any wait for an answer may last

    def __init__(self, desktop, programs, argument=None, env=None, first=None):
        self.desktop = desktop
        self.programs = programs
        self.log_path = os.path.join(desktop.work, "varne.log")
        command = [programs.varne] + ([argument] if argument else [])
        env = {**desktop.env, "QT_QPA_PLATFORM": "xcb", **(env or {})}
        with open(self.log_path, "ab") as log:
            self.started = time.monotonic()
            self.process = subprocess.Popen(command, env=env, stdout=log,
                                            stderr=subprocess.STDOUT)
        self.pinger = None
        try:
            self.cpu = processcpu.ProcessCpu(self.process.pid)
            if first:
                self.first = poll(self.ANSWER_LIMIT, lambda: self._find_window(first))
                if not self.first:
                    raise Failed(f"no window named '{first}' within {self.ANSWER_LIMIT} s" +
                                 log_tail(self.log_path))
                self.first_seen = time.monotonic()
            found = poll(30, lambda: self._find_window("^Varne - "))
            if not found:
                raise Failed("no Varne window within 30 s" + log_tail(self.log_path))
            self.frame = found
            self.pinger = Pinger(programs.x_helper, desktop, self.frame)
            self.answered = self.wait_answer()
            if not first:
                self._activate()
        except BaseException:
            self.close()
            raise

    def _find_window(self, pattern):
        found = self.desktop.xdotool("search", "--all", "--onlyvisible", "--pid",
                                     str(self.process.pid), "--name", pattern)
        if self.process.poll() is not None:
            raise Failed(f"Varne exited with status {self.process.returncode}" +
                         log_tail(self.log_path))
        return found.split()[0] if found else None

    def has_focus(self, window=None):
        return (self.desktop.xdotool("getwindowfocus") or "").strip() == (window or self.frame)

    def _activate(self):
        self.desktop.xdotool("windowactivate", self.frame)
        if not poll(20, self.has_focus):
            raise Failed("the Varne window did not get the focus")

    def close(self):
        """Ends the process at once: its text is the benchmark's, never saved."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
        self.process.wait()
        if self.pinger:
            self.pinger.close()

    # What the window shows and answers.

    def caption(self):
        return (self.desktop.xdotool("getwindowname", self.frame) or "").rstrip("\n")

    def window_exists(self, pattern):
        """Whether a window of Varne's, shown or not, has a name matching the
        pattern. A window Qt has created is seen here before any answer to a
        ping sent after its creation."""
        return bool(self.desktop.xdotool("search", "--all", "--pid", str(self.process.pid),
                                         "--name", pattern))

    def wait_answer(self, limit=None):
        """Waits for the frame to answer a ping; returns the time.monotonic()
        of the answer."""
        latency = self.pinger.ping(limit or self.ANSWER_LIMIT)
        if latency is None:
            raise Failed(f"the window did not answer within {limit or self.ANSWER_LIMIT} s")
        return time.monotonic()

    def ping(self, limit):
        """One ping's latency in milliseconds, or None after `limit` seconds."""
        return self.pinger.ping(limit)

    # Input, as a person gives it.

    def press(self, *keys, into=None, pace=0):
        """Presses the keys (xdotool names) one after the other, at once or
        `pace` seconds apart, into the window that has the focus, which must be
        the frame (or `into`); returns when they have been sent."""
        if not self.has_focus(into):
            raise Failed("the Varne window lost the focus; focus on " +
                         repr((self.desktop.xdotool("getwindowfocus", "getwindowname") or "")
                              .strip()))
        if self.desktop.xdotool("key", "--delay", str(int(pace * 1000)), *keys) is None:
            raise Failed("xdotool could not press " + " ".join(keys))

    def type_text(self, text):
        if self.desktop.xdotool("type", "--delay", "4", text) is None:
            raise Failed("xdotool could not type")

    def geometry(self):
        shell = self.desktop.xdotool("getwindowgeometry", "--shell", self.frame) or ""
        values = dict(line.split("=", 1) for line in shell.split())
        return int(values.get("WIDTH", 0)), int(values.get("HEIGHT", 0))

    def click(self, x, y, button):
        if self.desktop.xdotool("mousemove", "--window", self.frame, str(x), str(y),
                                "click", str(button)) is None:
            raise Failed("xdotool could not click")

    # Measures.

    def until_quiet(self, cpu_at_start, started, limit=None, not_before=None):
        """Pings (so that what was sent has arrived), then waits until the
        process is quiet, in a window that begins no earlier than
        `not_before` (a time.monotonic()), if given; returns a Busy whose
        `answer` is that ping's latency in milliseconds, or raises Failed at
        the limit."""
        limit = limit or self.KEY_LIMIT
        answer = self.pinger.ping(self.ANSWER_LIMIT)
        if answer is None:
            raise Failed(f"the window did not answer within {self.ANSWER_LIMIT} s")
        busy = processcpu.until_quiet(self.cpu, cpu_at_start, started, limit,
                                      after=max(time.monotonic(), not_before or 0))
        if busy is None:
            raise Failed(f"still busy {limit} s later "
                         f"(quiet: {processcpu.QUIET_CPU * 1000:g} ms of CPU in "
                         f"{processcpu.QUIET_WINDOW * 1000:g} ms)")
        busy.answer = answer
        return busy

    def wait_quiet(self, limit=None):
        self.until_quiet(self.cpu.seconds(), time.monotonic(), limit)

    def key_cost(self, *keys, limit=None, pace=0, settle=0):
        """Presses the keys (`pace` seconds apart); returns a Busy: the CPU
        they set off until the process is quiet, counted for at least
        `settle` seconds after the last was sent (work a timer starts later,
        such as the journal's flush, counts too), and the milliseconds from
        their sending until the window answered (`answer`)."""
        started = time.monotonic()
        used = self.cpu.seconds()
        self.press(*keys, pace=pace)
        sent = time.monotonic()
        busy = self.until_quiet(used, started, limit, not_before=sent + settle)
        busy.sent = sent
        return busy

    def watch(self, seconds, interval=0.05):
        """For `seconds`, pings every `interval`; returns the CPU used
        meanwhile (seconds) and the ping latencies (ms)."""
        start = time.monotonic()
        used = self.cpu.seconds()
        latencies = []
        due = start
        while due < start + seconds:
            latency = self.pinger.ping(max(0.1, start + seconds + 5 - time.monotonic()))
            if latency is None:
                raise Failed(f"the window did not answer within {seconds} s")
            latencies.append(latency)
            due += interval
            time.sleep(max(0.0, due - time.monotonic()))
            due = max(due, time.monotonic())
        return self.cpu.seconds() - used, latencies

    def ping_cost(self, seconds=5):
        """The CPU one ping of watch() costs the process, in seconds: a watch
        of a quiet process beside the same time without pings."""
        self.wait_quiet()
        start = time.monotonic()
        used = self.cpu.seconds()
        time.sleep(seconds)
        idle = (self.cpu.seconds() - used) / (time.monotonic() - start)
        start = time.monotonic()
        used, latencies = self.watch(seconds)
        return max(0.0, used - idle * (time.monotonic() - start)) / len(latencies)

    def peak_memory_mib(self):
        return processcpu.peak_resident_mib(self.process.pid)

    def memory_mib(self):
        return processcpu.resident_mib(self.process.pid)

    # Opening a file and going places in it.

    def open_with_dialog(self, path):
        """Opens the file through Ctrl+O and the Open File dialog; returns the
        seconds from the Return that confirms it until the loaded document's
        window answers, and the CPU used meanwhile."""
        self.press("ctrl+o")
        dialog = poll(20, lambda: self._focused_window_named("^Open File$"))
        if not dialog:
            raise Failed("no Open File dialog with the focus")
        self.type_text(path)
        # The dialog looks up what is typed as it comes; that is not the open.
        self.wait_quiet()
        used = self.cpu.seconds()
        self.press("Return", into=dialog)
        confirmed = time.monotonic()
        loaded = self.wait_loaded(path)
        if not poll(20, self.has_focus):
            raise Failed("the Varne window did not get the focus back")
        return loaded - confirmed, self.cpu.seconds() - used

    def _focused_window_named(self, pattern):
        window = (self.desktop.xdotool("getwindowfocus") or "").strip()
        name = self.desktop.xdotool("getwindowname", window) if window else None
        return window if name is not None and re.search(pattern, name.rstrip("\n")) else None

    def wait_loaded(self, path):
        """Waits until the caption names the file, no progress window is
        left and the frame answers; returns the time.monotonic() of that
        answer. The progress window lets the frame answer during a long
        load, so an answer counts only once no progress window exists."""
        want = "Varne - " + path
        if not poll(self.ANSWER_LIMIT, lambda: self.caption() == want):
            raise Failed(f"{path} was not opened: caption '{self.caption()}'")
        deadline = time.monotonic() + self.ANSWER_LIMIT
        while time.monotonic() < deadline:
            answered = self.wait_answer()
            if not self.window_exists("^Varne$"):
                return answered
            poll(deadline - time.monotonic(), lambda: not self.window_exists("^Varne$"))
        raise Failed(f"a window named 'Varne' (a progress window or a message) stayed "
                     f"{self.ANSWER_LIMIT} s")

    def go_to(self, place):
        """Moves the caret as a person would: "start" and "end" of the
        document (Ctrl+Home, Ctrl+End), "middle" (a middle click half-way
        down the scroll bar, which jumps there, then a click into the text),
        "line end" (End)."""
        if place == "start":
            self.press("ctrl+Home")
        elif place == "end":
            self.press("ctrl+End")
        elif place == "line end":
            self.press("End")
        elif place == "middle":
            width, height = self.geometry()
            if width < 200 or height < 200:
                raise Failed(f"the window measures {width}x{height}")
            # The scroll bar runs along the right edge, from below the menu
            # bar to above the horizontal scroll bar: their heights roughly
            # cancel out.
            self.click(width - 6, height // 2, 2)
            self.wait_answer()
            self.click(width // 2, height // 2, 1)
        else:
            raise ValueError(place)
        self.wait_answer()
