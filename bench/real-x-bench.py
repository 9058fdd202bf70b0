#!/usr/bin/python3
"""Measures Varne where its user sits: the real binary in a real X server
(Xvfb with openbox), driven with key presses, its CPU read from outside the
process. See bench/README.md.

Usage: real-x-bench.py PROGRAMS [--only NAME,...] [--open-with auto|dialog|argument]
                      [--markdown]
PROGRAMS is the list of binaries CMake writes (build/bench/real-x-programs).
"""
import argparse
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from realx import runner, scenarios  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("programs", help="the list of binaries CMake writes")
    parser.add_argument("--only", help="the scenarios to run, by name: " +
                        ", ".join(s.name for s in scenarios.SCENARIOS))
    parser.add_argument("--open-with", choices=("auto", "dialog", "argument"), default="auto",
                        help="how files are opened: the Open File dialog, the command line, "
                        "or the command line if Varne takes one (the default)")
    parser.add_argument("--markdown", action="store_true",
                        help="print the rows as a Markdown table, beside the figures before")
    options = parser.parse_args()

    chosen = scenarios.SCENARIOS
    if options.only:
        names = options.only.split(",")
        unknown = set(names) - {s.name for s in chosen}
        if unknown:
            parser.error("no scenario named " + ", ".join(sorted(unknown)))
        chosen = [s for s in chosen if s.name in names]

    programs = runner.Programs(options.programs)
    tools = [tool for tool in ("Xvfb", "openbox", "xdotool") if not shutil.which(tool)]
    missing = programs.missing() + tools
    if missing:
        print("Varne in a real X server: not measured: missing " + "; ".join(missing) +
              " (scripts/install-deps, then make build)")
        return 1

    folder = tempfile.mkdtemp(prefix="varne-bench-pages-")
    try:
        return runner.run_all(programs, chosen, scenarios.SECTIONS, folder, options.open_with,
                              options.markdown)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
