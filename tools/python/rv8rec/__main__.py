"""python3 -m rv8rec FILE: a JSON summary of a recording file."""

import sys

from . import main

sys.exit(main(sys.argv))
