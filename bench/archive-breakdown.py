#!/usr/bin/env python3
"""Where the bytes of two LHA archives of the same files go.

    bench/archive-breakdown.py OURS.lzh PEER.lzh

Both archives must have level-2 headers (what `qornsfx pack` and `jlha a2oN`
write). Prints, for each archive, the bytes in member headers (by extended
header type) and in member data, then compares the data of the members
both hold by file size: where one encoder gains on the other, and what the
headers add on top.
"""
import struct
import sys


def members(path):
    """Yields (folder, name, original size, packed size, method, header bytes,
    {extended header type: bytes})."""
    data = open(path, "rb").read()
    at = 0
    while at < len(data) and data[at] != 0:
        if data[at + 20] != 2:
            sys.exit(f"{path}: member at {at} has a level-{data[at + 20]} header")
        header_size = struct.unpack_from("<H", data, at)[0]
        packed, original = struct.unpack_from("<II", data, at + 7)
        method = data[at + 2 : at + 7].decode("ascii", "replace")
        extended = {}
        name = folder = b""
        q = at + 26
        size = struct.unpack_from("<H", data, at + 24)[0]
        while size:
            kind = data[q]
            extended[kind] = extended.get(kind, 0) + size
            if kind == 1:
                name = data[q + 1 : q + size - 2]
            elif kind == 2:
                folder = data[q + 1 : q + size - 2]
            q += size
            size = struct.unpack_from("<H", data, q - 2)[0]
        yield folder, name, original, packed, method, header_size, extended
        at += header_size + packed


def summary(path):
    table = {}
    headers = payload = 0
    kinds = {}
    for folder, name, original, packed, method, header_size, extended in members(path):
        table[(folder, name)] = (original, packed, method)
        headers += header_size
        payload += packed
        for kind, size in extended.items():
            kinds[kind] = kinds.get(kind, 0) + size
    kinds_text = ", ".join(f"0x{k:02X} {v:,}" for k, v in sorted(kinds.items()))
    print(f"{path}: {len(table):,} members, headers {headers:,} bytes ({kinds_text}),")
    print(f"    data {payload:,} bytes, whole archive {headers + payload + 1:,} bytes")
    return table, headers, payload


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    ours, our_headers, our_data = summary(sys.argv[1])
    peer, peer_headers, peer_data = summary(sys.argv[2])
    print(f"data: {100 * our_data / peer_data:.2f}% of the peer's; "
          f"headers add {our_headers - peer_headers:+,} bytes")
    classes = [(0, 1 << 10), (1 << 10, 4 << 10), (4 << 10, 16 << 10), (16 << 10, 64 << 10),
               (64 << 10, 1 << 63)]
    print(f"{'file size':>16} {'files':>6} {'bytes':>11} {'our data':>10} {'peer data':>10} "
          f"{'ratio':>7}")
    for low, high in classes:
        files = original_total = a = b = 0
        for key, (original, packed, method) in ours.items():
            if method == "-lhd-" or key not in peer or not low <= original < high:
                continue
            files += 1
            original_total += original
            a += packed
            b += peer[key][1]
        label = f"{low >> 10}-{high >> 10} KiB" if high < 1 << 40 else f"{low >> 10}+ KiB"
        ratio = f"{100 * a / b:.2f}%" if b else "-"
        print(f"{label:>16} {files:>6} {original_total:>11,} {a:>10,} {b:>10,} {ratio:>7}")


if __name__ == "__main__":
    main()
