#!/usr/bin/python3
"""Checks the benchmark's CPU meter (bench/realx/cpu.py) on child processes
whose work is known: it must count what they burn, in every thread, up to
the moment they go quiet, and must not take a steady trickle of work, or
work that has not begun yet, for quiet. CPU amounts only; no timing."""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from realx import cpu  # noqa: E402

# Waits for "go", then does what its argument says and sleeps until its input
# ends. "burn:T:S" burns S seconds of CPU in each of T threads that then end;
# "late:S" waits half a second, says "begun", then burns S seconds; "trickle"
# burns 5 ms in every 50 ms; "memory:M" touches M MiB.
CHILD = r"""
import sys, threading, time
def burn(seconds):
    end = time.thread_time() + seconds
    while time.thread_time() < end:
        pass
print("ready", flush=True)
sys.stdin.readline()
kind, *values = sys.argv[1].split(":")
if kind == "burn":
    threads = [threading.Thread(target=burn, args=(float(values[1]),))
               for _ in range(int(values[0]))]
    for thread in threads: thread.start()
    for thread in threads: thread.join()
elif kind == "late":
    time.sleep(0.5)
    print("begun", flush=True)
    burn(float(values[0]))
elif kind == "trickle":
    while True:
        burn(0.005)
        time.sleep(0.045)
elif kind == "memory":
    block = bytearray(int(values[0]) << 20)
    for i in range(0, len(block), 4096): block[i] = 1
    print("touched", flush=True)
sys.stdin.read()
"""


class Child:
    def __init__(self, work):
        self.process = subprocess.Popen([sys.executable, "-c", CHILD, work],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        assert self.process.stdout.readline() == "ready\n"
        self.cpu = cpu.ProcessCpu(self.process.pid)

    def go(self):
        self.started = time.monotonic()
        self.cpu_at_start = self.cpu.seconds()
        self.process.stdin.write("go\n")
        self.process.stdin.flush()

    def until_quiet(self, limit, after=None):
        return cpu.until_quiet(self.cpu, self.cpu_at_start, self.started, limit, after)

    def close(self):
        self.process.kill()
        self.process.wait()


class QuietCpuTest(unittest.TestCase):
    def child(self, work):
        child = Child(work)
        self.addCleanup(child.close)
        return child

    def test_counts_the_work_of_all_threads_until_quiet(self):
        # (threads, seconds each): ended threads count as much as the main one.
        for threads, seconds in ((1, 0.3), (3, 0.1)):
            with self.subTest(threads=threads):
                child = self.child(f"burn:{threads}:{seconds}")
                child.go()
                busy = child.until_quiet(limit=60)
                self.assertIsNotNone(busy, "a child that stopped working was never quiet")
                # The count stops where the quiet window starts, which may
                # hold the last of the work, up to what quiet allows.
                self.assertGreaterEqual(busy.cpu, threads * seconds - cpu.QUIET_CPU)
                self.assertLess(busy.cpu, threads * seconds + 0.1)
                self.assertGreater(busy.wall, 0)

    def test_a_steady_trickle_of_work_is_not_quiet(self):
        child = self.child("trickle")
        child.go()
        self.assertIsNone(child.until_quiet(limit=2))

    def test_work_that_has_not_begun_is_not_taken_for_quiet(self):
        # The quiet window may not begin before the work is known to have
        # arrived, as when the process has answered a ping after a key.
        child = self.child("late:0.3")
        child.go()
        self.assertEqual(child.process.stdout.readline(), "begun\n")
        busy = child.until_quiet(limit=60, after=time.monotonic())
        self.assertIsNotNone(busy)
        self.assertGreaterEqual(busy.cpu, 0.3 - cpu.QUIET_CPU)
        self.assertLess(busy.cpu, 0.4)

    def test_peak_memory_and_an_ended_process(self):
        child = self.child("memory:64")
        child.go()
        self.assertEqual(child.process.stdout.readline(), "touched\n")
        self.assertGreaterEqual(cpu.peak_resident_mib(child.process.pid), 64)
        child.close()
        with self.assertRaises(cpu.ProcessGone):
            child.cpu.seconds()
        self.assertIsNone(cpu.peak_resident_mib(child.process.pid))


if __name__ == "__main__":
    unittest.main()
