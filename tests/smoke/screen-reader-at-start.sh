#!/bin/bash
# A screen reader switched on before Varne starts reads and edits it through
# AT-SPI; see screen-reader.py.
. "$(dirname "$0")/lib.sh"

/usr/bin/python3 "$(dirname "$0")/screen-reader.py" at-start
