#!/usr/bin/env python3
"""Linear sweep of a PE file's code sections by i686-w64-mingw32-objdump.

Writes one line per instruction to OUT: "<hex address> <length> <0|1 valid> <mnemonic>".
Usage: objdump_sweep.py FILE OUT
"""
import re
import subprocess
import sys

LINE = re.compile(r"^\s*([0-9a-f]+):\t((?:[0-9a-f]{2} )+)\s*\t?(.*)$")


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    proc = subprocess.Popen(
        ["i686-w64-mingw32-objdump", "-d", "-z", "--insn-width=16", "-M", "intel", sys.argv[1]],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, errors="replace")
    count = 0
    with open(sys.argv[2], "w") as out:
        for line in proc.stdout:
            m = LINE.match(line.rstrip("\n"))
            if not m:
                continue
            size = len(m.group(2).split())
            text = m.group(3).strip()
            valid = 0 if text.startswith("(bad)") or not text else 1
            mnemonic = text.split()[0] if text else "?"
            out.write(f"{m.group(1)} {size} {valid} {mnemonic}\n")
            count += 1
    return 0 if proc.wait() == 0 and count else 1


if __name__ == "__main__":
    sys.exit(main())
