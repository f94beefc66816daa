#!/usr/bin/env python3
"""What each object costs in the stub, from the linker map.

  scripts/stub-size.py BUILD/stub-mingw/app/qornsfx-stub.map [TOP]

Counts only what takes room in the file (code, data, resources, imports),
not .bss; sizes are before section alignment, so the total is a little
below the executable's size.
"""
import collections
import re
import sys


def main():
    path = sys.argv[1]
    top = int(sys.argv[2]) if len(sys.argv) > 2 else 25
    sizes = collections.Counter()
    pending = None
    for line in open(path, errors="replace"):
        m = re.match(r"^ (\.\S+|COMMON)\s*$", line)
        if m:
            pending = m.group(1)
            continue
        m = re.match(r"^ (\.\S+|COMMON)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)", line)
        if not m:
            continue
        section = m.group(1) or pending
        pending = None
        size, address = int(m.group(3), 16), int(m.group(2), 16)
        if not size or not address or section is None:
            continue
        if section.startswith((".bss", ".tls")) or section == "COMMON":
            continue
        obj = re.sub(r".*/", "", m.group(4))
        if obj.startswith(("lib", "crt")) and "(" in obj and not obj.startswith("libqorn"):
            lib = obj.split("(")[0]
            obj = lib + (" (import stubs)" if lib[3:].startswith(("kernel32", "user32", "gdi32",
                         "shell32", "ole32", "comctl32", "shlwapi", "msvcrt")) else "")
        sizes[obj] += size
    for obj, size in sizes.most_common(top):
        print(f"{size:8d}  {obj}")
    print(f"{sum(sizes.values()):8d}  total")


if __name__ == "__main__":
    main()
