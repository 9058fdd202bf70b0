#!/usr/bin/python3
"""Checks the parts of the benchmark in a real X server that turn what it
sees into figures without a desktop: ratio rows, and the watch that notes
when a journal grows and when it holds a size, on disk."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from realx import journal, runner  # noqa: E402


class RatioTest(unittest.TestCase):
    def test_a_ratio_is_of_medians_and_never_of_a_row_not_measured(self):
        over, under = runner.Row("over", "ms"), runner.Row("under", "ms")
        ratio = runner.Ratio("ratio", over, under, target=1.05)
        # (samples over, samples under, failure of under, shown or reason)
        for over_samples, under_samples, failure, expected in (
                ([1.0, 3.0, 9.0], [2.0, 2.0, 100.0], None, "1.50"),
                ([2.0], [], "dd failed", "dd failed"),
                ([2.0], [0.0], None, "'under' is 0"),
        ):
            with self.subTest(expected=expected):
                run = runner.Run(None, None, "argument")
                run.record(over, *over_samples)
                if under_samples:
                    run.record(under, *under_samples)
                if failure:
                    run.fail([under], failure)
                summary, reason = runner.summarize(run, ratio)
                self.assertEqual(summary[0] if summary else reason, expected)
                line = runner.markdown_row(run, ratio)
                self.assertIn("MISSED" if summary else "not measured", line)


class JournalWatchTest(unittest.TestCase):
    def test_notes_growth_then_the_size_reached_in_a_file_replaced_meanwhile(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        path = os.path.join(folder.name, "0123.journal")
        with open(path, "wb") as out:
            out.write(b"h" * 10)
        watch = journal.JournalWatch(folder.name, 10, 100)
        with open(path, "ab") as out:
            out.write(b"r" * 20)
        self.assertTrue(runner.poll(10, lambda: watch.grew is not None))
        self.assertIsNone(watch.reached, "30 bytes are not 100")
        # A journal that is compacted is replaced by a new file of its name.
        with open(path + ".new", "wb") as out:
            out.write(b"s" * 100)
        os.rename(path + ".new", path)
        self.assertGreaterEqual(watch.wait(10), watch.grew)


if __name__ == "__main__":
    unittest.main()
