#!/usr/bin/env python3
"""Checks that shared libraries export the namespace vexa and nothing else.

    check_exports.py LIB...

Prints the number of exported symbols of each library; exits 1 naming any
exported symbol outside the namespace (the version script's patterns).
"""
import re
import subprocess
import sys

# Mangled forms of: entities of vexa (plain, const members, local statics of
# inline functions), their vtables, type information, VTTs, thunks, guard
# variables and thread-local wrappers; plus the version node itself.
PUBLIC = re.compile(
    r"^(_ZN4vexa|_ZNK4vexa|_ZZN4vexa|_ZZNK4vexa|_ZT[VIST]N4vexa|_ZTh[n\d]*_NK?4vexa|_ZTv[n\d_]*_NK?4vexa"
    r"|_ZGVZ?NK?4vexa|_ZT[HW]N4vexa)")
VERSION_NODE = "VEXA_0"


def exports(lib):
    out = subprocess.run(["nm", "-D", "--defined-only", lib], check=True, capture_output=True, text=True).stdout
    return [line.split()[-1] for line in out.splitlines() if line.strip()]


def main(libs):
    faults = 0
    for lib in libs:
        names = exports(lib)
        stray = [n for n in names if n != VERSION_NODE and not PUBLIC.match(n)]
        print(f"{lib}: {len(names)} exported symbols")
        for n in stray:
            print(f"  not public: {n}")
        faults += len(stray)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
