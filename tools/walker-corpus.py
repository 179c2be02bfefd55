#!/usr/bin/env python3
"""Scores the stack walker's accuracy corpus: runs the four corpus builds under Wine, maps every shown frame
to its routine and line with the toolchain's addr2line, and prints one table of recall (expected frames
found, in order), precision (shown frames of the program that are real) and line accuracy per build and
tool.  Usage: tools/walker-corpus.py [BUILD_DIR]   (default build/win32)"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win32"))
VARIANTS = ["O0-fp", "O0-nofp", "O2-fp", "O2-nofp"]
TOOLS = ["ours", "fpwalk", "unwind", "dbghelp"]
ADDR2LINE = "i686-w64-mingw32-addr2line"


def run_corpus(exe):
    # Wine's output goes to a file: its helper processes would keep a pipe open.
    with tempfile.NamedTemporaryFile(mode="r", suffix=".txt", delete=False) as out:
        path = out.name
    with open(path, "w") as o, open(os.devnull, "w") as e:
        subprocess.run([os.path.join(ROOT, "tools", "wine-exec.sh"), exe], stdout=o, stderr=e,
                       stdin=subprocess.DEVNULL, timeout=600)
    with open(path, errors="replace") as f:
        text = f.read()
    os.unlink(path)
    return text


def short_name(name):
    """corpus::Square::Draw(int) -> Square::Draw; Fault() -> Fault"""
    name = re.sub(r"\(.*$", "", name).strip()
    name = re.sub(r"^corpus::", "", name)
    return re.sub(r"\.(cold|part\.\d+|isra\.\d+|constprop\.\d+)$", "", name)


def demangle(names):
    """Linkage names as the i686 addr2line prints them: the target's leading underscore is already gone (so its
    own -C leaves them as they are) and stdcall names end in "@N". The host's c++filt reads the rest."""
    plain = [re.sub(r"@\d+$", "", n) for n in names]
    out = subprocess.run(["c++filt"], input="\n".join(plain) + "\n", capture_output=True, text=True).stdout
    readable = out.splitlines()
    return readable if len(readable) == len(plain) else plain


def addr2line(exe, addresses):
    if not addresses:
        return {}
    args = [ADDR2LINE, "-f", "-e", exe] + ["%x" % a for a in addresses]
    lines = subprocess.run(args, capture_output=True, text=True).stdout.splitlines()
    functions = demangle([lines[2 * i] if 2 * i < len(lines) else "??" for i in range(len(addresses))])
    result = {}
    for i, a in enumerate(addresses):
        loc = lines[2 * i + 1] if 2 * i + 1 < len(lines) else "??:0"
        m = re.search(r":(\d+)", loc)
        result[a] = (short_name(functions[i]), int(m.group(1)) if m else 0)
    return result


def collapse(seq):
    out = []
    for x in seq:
        if not out or out[-1] != x:
            out.append(x)
    return out


def score(expected, shown):
    """expected: routine names (a leading '?' marks an optional one); shown: [(routine, line, true_line)]."""
    required = [r for r in expected if not r.startswith("?")]
    allowed = set(r.lstrip("?") for r in expected)
    # Frames beyond the chain's root (the measuring side, the runtime's start) are not scored.
    root = required[-1]
    cut = []
    for f in shown:
        cut.append(f)
        if f[0] == root:
            break
    ours = [f for f in cut if f[0] is not None]
    names = collapse([f[0] for f in ours])
    found, j = 0, 0
    for r in required:
        while j < len(names) and names[j] != r:
            j += 1
        if j < len(names):
            found += 1
            j += 1
    real = sum(1 for f in ours if f[0] in allowed)
    matched = [f for f in ours if f[0] in allowed]
    with_line = [f for f in matched if f[2]]
    good_lines = sum(1 for f in with_line if f[1] == f[2])
    return found, len(required), real, len(ours), good_lines, len(with_line)


def main():
    table = {}
    details = []
    frames_by_tool = {}  # (variant, tool) -> frame lists, to tell tools that report no lines
    for variant in VARIANTS:
        exe = os.path.join(BUILD, "bin", "walker_corpus_%s.exe" % variant.replace("-", "_"))
        if not os.path.exists(exe):
            print("missing %s (build the win32 tree first)" % exe)
            return 2
        text = run_corpus(exe)
        expected, frames = {}, {}
        for line in text.splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[0] == "expect":
                expected[parts[1]] = parts[2].split(",")
            elif len(parts) >= 8 and parts[0] == "frame":
                _, scenario, tool, index, address, kind, number, name = parts[:8]
                frames.setdefault((scenario, tool), []).append((int(address, 16), kind, int(number)))
        lookups = set()
        for fl in frames.values():
            for address, kind, _ in fl:
                lookups.add(address - 1 if kind == "r" else address)
        names = addr2line(exe, sorted(lookups))
        for tool in TOOLS:
            frames_by_tool[(variant, tool)] = [fl for (sc, t), fl in frames.items() if t == tool]
            totals = [0] * 6
            for scenario, exp in expected.items():
                shown = []
                for address, kind, number in frames.get((scenario, tool), []):
                    routine, true_line = names.get(address - 1 if kind == "r" else address, ("??", 0))
                    known = routine not in ("??", "")
                    shown.append((routine if known else None, number, true_line))
                s = score(exp, shown)
                totals = [a + b for a, b in zip(totals, s)]
                if tool == "ours" and s[0] < s[1]:
                    details.append("%s %s: found %d of %d: %s" % (variant, scenario, s[0], s[1],
                                                                  ",".join(f[0] or "?" for f in shown)))
            table[(variant, tool)] = totals
    print("%-8s %-8s %7s %9s %9s" % ("build", "tool", "recall", "precision", "lines"))
    for variant in VARIANTS:
        for tool in TOOLS:
            found, need, real, shown, good, lined = table[(variant, tool)]
            recall = found / need if need else 0
            precision = real / shown if shown else 0
            reports_lines = any(f[2] for fl in frames_by_tool.get((variant, tool), []) for f in fl)
            lines = "%.2f" % (good / lined) if lined and reports_lines else "-"
            print("%-8s %-8s %7.2f %9.2f %9s" % (variant, tool, recall, precision, lines))
    for d in details:
        print("missed: " + d)
    return 0


if __name__ == "__main__":
    sys.exit(main())
