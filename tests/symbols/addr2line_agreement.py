#!/usr/bin/env python3
"""Agreement of the symbol data that a program carries with the toolchain's addr2line.

For every routine of each program (its first byte) and for sampled addresses inside routines, the routine
name and line that `rvx symbols lookup` gives (from the program's embedded resource) are compared with
`addr2line -f -C` on the program and its debug file. Routine names are compared without parameter lists,
with "::" as "."; every difference is sorted into a known kind, and a difference of no known kind fails the
test, as does line agreement below the required share.

usage: addr2line_agreement.py RVX ADDR2LINE CXXFILT EXE [EXE...]
"""
import random
import re
import subprocess
import sys

MIN_INSIDE = 1000
MIN_LINE_SHARE = 0.995


def run(cmd, stdin=None):
    return subprocess.run(cmd, input=stdin, capture_output=True, text=True, check=True).stdout


def dump_publics(rvx, exe):
    publics, section = [], None
    for line in run([rvx, "symbols", "dump", exe]).splitlines():
        head = line.split(" ")[0]
        if head in ("segments", "publics", "lines"):
            section = head
            continue
        if section == "publics":
            addr, _kind, name = line.split(" ", 2)
            publics.append((int(addr, 16), name))
    return publics


def ours(rvx, exe, addresses):
    out = {}
    for i in range(0, len(addresses), 2000):
        batch = addresses[i:i + 2000]
        for line in run([rvx, "symbols", "lookup", exe] + ["%x" % a for a in batch]).splitlines():
            addr, unit, lineno, routine = line.split("\t")
            out[int(addr, 16)] = (unit, int(lineno), routine)
    return out


def demangled(cxxfilt, names):
    """addr2line's names, with those it could not demangle (they lost one leading underscore with the
    symbol prefix) demangled by the target's c++filt, which expects "__Z"."""
    mangled = sorted({n for n in names if re.match(r"^_?Z[A-Z0-9]", n)})
    if not mangled:
        return list(names)
    plain = run([cxxfilt], "\n".join(("_" if n.startswith("_") else "__") + n for n in mangled) + "\n")
    fix = dict(zip(mangled, plain.splitlines()))
    return [fix.get(n, n) for n in names]


def theirs(addr2line, cxxfilt, exe, addresses):
    text = run([addr2line, "-f", "-C", "-e", exe], "\n".join("%x" % a for a in addresses) + "\n").splitlines()
    names = demangled(cxxfilt, text[0::2])
    out = {}
    for a, name, where in zip(addresses, names, text[1::2]):
        path, _, lineno = where.rpartition(":")
        lineno = lineno.split(" ")[0]
        out[a] = (re.split(r"[\\/]", path)[-1], int(lineno) if lineno.isdigit() else 0, name)
    return out


def inline_chains(addr2line, cxxfilt, exe, addresses):
    """Per address, the routine names of addr2line -i: the innermost inlined one first, the outermost last."""
    if not addresses:
        return {}
    # Each address is followed by a marker address that resolves to nothing, to cut the output apart.
    text = run([addr2line, "-f", "-C", "-i", "-a", "-e", exe], "\n".join("%x" % a for a in addresses) + "\n")
    chains, current = {}, None
    for line in text.splitlines():
        if re.match(r"^0x[0-9a-f]+$", line):
            current = int(line, 16)
            chains[current] = []
        elif current is not None and not re.search(r":(\d+|\?)( \(discriminator \d+\))?$", line):
            chains[current].append(line)
    return {a: demangled(cxxfilt, names) for a, names in chains.items()}


def strip_params(name):
    """'ns::C<int>::f(int) const [clone .cold]' -> 'ns.C<int>.f'"""
    name = re.sub(r" \[clone [^\]]*\]", "", name)
    name = re.sub(r"@\d+$", "", name)
    name = re.sub(r"\[abi:[^\]]*\]", "", name)
    if name.endswith(")") or name.endswith(") const"):
        depth, i = 0, len(name) - 1
        while i >= 0:
            if name[i] == ")":
                depth += 1
            elif name[i] == "(":
                depth -= 1
                if depth == 0:
                    break
            i -= 1
        if i > 0:
            name = name[:i]
    # A template routine's return type stands in front of its name: drop it (not the "operator" of a
    # conversion or of new/delete).
    depth, cut = 0, -1
    for i, c in enumerate(name):
        if c in "<(":
            depth += 1
        elif c in ">)":
            depth -= 1
        elif c == " " and depth == 0 and not name[:i].endswith("operator"):
            cut = i
    name = name[cut + 1:]
    return name.replace("::", ".").strip()


def last_part(name):
    """The routine's own name without its scope: the text after the last "." outside template brackets."""
    depth, cut = 0, -1
    for i, c in enumerate(name):
        if c in "<(":
            depth += 1
        elif c in ">)":
            depth -= 1
        elif c == "." and depth == 0:
            cut = i
    return name[cut + 1:]


def name_kind(our, their):
    """The kind of a routine-name difference ("agree" when there is none), or None for an unknown one."""
    a, b = strip_params(our), strip_params(their)
    if a == b:
        return "agree"
    if their in ("??", ""):
        return "addr2line names nothing"
    if a.startswith("_") and a[1:] == b:
        return "addr2line drops a leading underscore"
    if re.sub(r"@\d+$", "", b) == a:
        return "addr2line keeps the stdcall decoration"
    if len(our) == 255:
        return "our name cut at 255 characters"
    if b in (last_part(a), last_part(a)[1:]):
        return "addr2line gives the name without its scope"
    if re.sub(r"<.*>", "", a) == re.sub(r"<.*>", "", b) or last_part(re.sub(r"<.*>", "", a)) == last_part(re.sub(r"<.*>", "", b)):
        return "template arguments or scope written differently"
    if " " in b.split("<")[0] and b.split("<")[0].split(" ")[-1] == a.split("<")[0]:
        return "return type in front of a template routine"
    if "{lambda" in their or "<lambda" in our or "_FUN" in their:
        return "lambda closure"
    if b.startswith("_GLOBAL__sub_I") or a.startswith("_GLOBAL__sub_I"):
        return "compiler-generated routine"
    return None


def main():
    rvx, addr2line, cxxfilt, exes = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    total_routines = total_inside = 0
    line_checked = line_agree = 0
    kinds, unknown, samples = {}, [], []
    line_kinds = {}
    rng = random.Random(11)
    for exe in exes:
        publics = dump_publics(rvx, exe)
        starts = [a for a, _ in publics]
        inside = []
        for i, (a, _) in enumerate(publics[:-1]):
            end = publics[i + 1][0]
            if end - a > 1:
                inside += [a + 1 + rng.randrange(end - a - 1) for _ in range(2)]
        inside = sorted(set(inside) - set(starts))
        addresses = starts + inside
        our = ours(rvx, exe, addresses)
        their = theirs(addr2line, cxxfilt, exe, addresses)
        total_routines += len(starts)
        total_inside += len(inside)
        undecided = [a for a in addresses if name_kind(our[a][2], their[a][2]) is None]
        chains = inline_chains(addr2line, cxxfilt, exe, undecided)
        for a in addresses:
            ou, ol, orr = our[a]
            tu, tl, tr = their[a]
            k = name_kind(orr, tr)
            if k is None and len(chains.get(a, [])) > 1 and name_kind(orr, chains[a][-1]) is not None:
                k = "addr2line names the routine inlined at the address (ours: the routine it lies in)"
            if k is None:
                unknown.append("%s %08x ours %r addr2line %r" % (exe, a, orr, tr))
            elif k != "agree":
                kinds[k] = kinds.get(k, 0) + 1
            if tl == 0 and ol == 0:
                continue
            line_checked += 1
            if ol == tl:
                line_agree += 1
                if ou != tu and tl:
                    k = "same line; addr2line names the unit's main file for code of a file it includes"
                    line_kinds[k] = line_kinds.get(k, 0) + 1
            elif tl == 0:
                line_kinds["addr2line gives no line"] = line_kinds.get("addr2line gives no line", 0) + 1
            elif ol == 0:
                line_kinds["we give no line"] = line_kinds.get("we give no line", 0) + 1
                samples.append("%s %08x no line; addr2line %s:%d" % (exe, a, tu, tl))
            else:
                line_kinds["other line"] = line_kinds.get("other line", 0) + 1
                samples.append("%s %08x ours %s:%d, addr2line %s:%d" % (exe, a, ou, ol, tu, tl))
    share = line_agree / line_checked if line_checked else 0
    print("routines %d, addresses inside routines %d" % (total_routines, total_inside))
    print("line numbers: %d of %d agree (%.3f%%)" % (line_agree, line_checked, 100 * share))
    for k, n in sorted(line_kinds.items()):
        print("  line difference: %s: %d" % (k, n))
    for k, n in sorted(kinds.items()):
        print("  name difference: %s: %d" % (k, n))
    for u in samples[:20]:
        print("  line sample: " + u)
    for u in unknown[:40]:
        print("  unexplained: " + u)
    ok = total_inside >= MIN_INSIDE and share >= MIN_LINE_SHARE and not unknown
    print("%d passed, %d failed" % (1 if ok else 0, 0 if ok else 1))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
