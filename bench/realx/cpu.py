"""CPU time of another process, and waiting until it has gone quiet.

The CPU time is the kernel's clock of the whole process: user and system
time of all its threads, those that have ended included, in nanoseconds
(what /proc/PID/stat gives as utime + stime, but in clock ticks of 10 ms,
too coarse for a key that costs a millisecond).

"Quiet" is a window of QUIET_WINDOW seconds in which the process used at
most QUIET_CPU seconds of CPU: a caret that blinks is quiet, a slice of
background styling every few milliseconds is not. Work is counted up to the
start of the first quiet window, so the blinking during the window itself is
not.
"""
import ctypes
import os
import time
from collections import deque

QUIET_WINDOW = 0.3
QUIET_CPU = 0.002
POLL_INTERVAL = 0.01

_libc = ctypes.CDLL(None, use_errno=True)


class ProcessGone(Exception):
    pass


class ProcessCpu:
    """The CPU clock of one process, read from outside it."""

    def __init__(self, pid):
        clock = ctypes.c_int()
        error = _libc.clock_getcpuclockid(pid, ctypes.byref(clock))
        if error:
            raise OSError(error, os.strerror(error))
        self.pid = pid
        self.clock = clock.value

    def seconds(self):
        try:
            return time.clock_gettime(self.clock)
        except OSError:
            raise ProcessGone(f"process {self.pid} has ended") from None


class Busy:
    """What a piece of work cost until the process was quiet again."""

    def __init__(self, cpu, wall):
        self.cpu = cpu  # seconds of CPU, all threads
        self.wall = wall  # seconds from its start until the quiet began
        self.answer = None  # milliseconds until the window answered, where asked
        self.sent = None  # when the keys had been sent (a time.monotonic()), where pressed


def until_quiet(cpu, cpu_at_start, started, limit, after=None):
    """Waits until the process is quiet, at most `limit` seconds after
    `started` (a time.monotonic()); returns a Busy counted from
    `cpu_at_start`, or None if it was still busy at the limit.

    A quiet window may begin no earlier than `after` (a time.monotonic(),
    e.g. when the process answered a ping about the key), so that work that
    has not reached the process yet is never taken for quiet."""
    begin = max(started, after or started)
    samples = deque()
    while True:
        now = time.monotonic()
        used = cpu.seconds()
        samples.append((now, used))
        # The latest sample at least a window old, no older than `begin`.
        while len(samples) > 1 and samples[1][0] <= now - QUIET_WINDOW:
            samples.popleft()
        window_start, used_then = samples[0]
        if window_start >= begin and window_start <= now - QUIET_WINDOW:
            if used - used_then <= QUIET_CPU:
                return Busy(used_then - cpu_at_start, window_start - started)
        if now - started > limit:
            return None
        time.sleep(POLL_INTERVAL)


def memory_mib(pid, field):
    """A memory figure of /proc/PID/status in MiB, or None."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return None


def peak_resident_mib(pid):
    """The process's peak resident memory (VmHWM) in MiB, or None."""
    return memory_mib(pid, "VmHWM")


def resident_mib(pid):
    """The process's resident memory now (VmRSS) in MiB, or None."""
    return memory_mib(pid, "VmRSS")
