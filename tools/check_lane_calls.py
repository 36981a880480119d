"""Fails when a built classic module keeps a function on 4- or 8-wide lanes out of line.

    python tools/check_lane_calls.py build/cmake/_classic*.so build/clang/_classic*.so

The classic family's AVX2 and AVX-512 loops (classic_engine/lanes.hpp) are copies compiled for
that unit, and each function they call on lanes must be inlined into them. One left out of line
is compiled once, for the baseline: slow (its vectors split into SSE2 halves) and, with clang,
wrong, since a function's target decides how it returns 32- and 64-byte vectors (through memory
for the baseline, in a ymm or zmm register for the wide copy calling it). The lane tests only
run the width of the machine's widest unit, so the AVX2 copy is never run on an AVX-512 machine;
the symbol table shows an out-of-line function of every width. Reads the build trees' modules
(the installed ones are stripped); needs binutils' nm.
"""

import re
import subprocess
import sys

WIDE_LANES = re.compile(r"__vector\((4|8)\)")


def out_of_line(module):
    """The demangled names of the module's functions whose signature names wide lanes."""
    listing = subprocess.run(["nm", "-C", module], capture_output=True, text=True, check=True).stdout
    functions = [line.split(" ", 2)[2] for line in listing.splitlines() if re.match(r"\S+ [tTwW] ", line)]
    if not functions:
        sys.exit(f"{module}: no symbol table (stripped?); check the build tree's module")
    return [name for name in functions if WIDE_LANES.search(name)]


def main(modules):
    if not modules:
        sys.exit(__doc__)
    failed = False
    for module in modules:
        found = out_of_line(module)
        for name in found:
            print(f"{module}: out of line on wide lanes: {name}")
        failed |= bool(found)
        if not found:
            print(f"{module}: every function on wide lanes is inlined")
    if failed:
        sys.exit("mark these functions VELK_LANE_INLINE (classic_engine/lanes.hpp)")


if __name__ == "__main__":
    main(sys.argv[1:])
