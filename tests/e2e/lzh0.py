#!/usr/bin/env python3
"""Writes small level-0, -lh0- (stored) LHA archives for the Wine tests.

  lzh0.py OUT.lzh [--damage NAME] [--junk] [--no-end] [--level2] MEMBER...
  MEMBER: NAME=text:STRING | NAME=zeros:SIZE | NAME=file:PATH

--damage flips one data byte of that member after its CRC was taken (the
stub must call it damaged); --junk appends a header too short to be one
(the stub must say "Unknown header"); --no-end leaves out the end mark;
--level2 writes level-2 headers, whose names may pass 255 bytes.
Names are stored in code page 932. Zero-filled members are streamed: their
CRC is 0 whatever their size, so a large member costs no time to make.
"""
import struct
import sys

STAMP = (((2024 - 1980) << 9 | 5 << 5 | 17) << 16) | (12 << 11 | 34 << 5 | 28 // 2)


def crc16(data, crc=0):
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def header(name, size, crc):
    raw = name.encode("cp932")
    body = b"-lh0-" + struct.pack("<IIIBB", size, size, STAMP, 0x20, 0)
    body += bytes([len(raw)]) + raw + struct.pack("<H", crc)
    return bytes([len(body), sum(body) & 0xFF]) + body


def header2(name, size, crc):
    """Level 2: the whole path in one name header (0x01), Unix time."""
    raw = name.encode("cp932")
    ext = bytes([0x01]) + raw
    ext = struct.pack("<H", len(ext) + 2) + ext
    fixed = b"-lh0-" + struct.pack("<IIIBBHB", size, size, 1700000000, 0x20, 2, crc, ord("U"))
    total = 2 + len(fixed) + len(ext) + 2
    if total % 256 == 0:  # its first byte 0 would read as the end mark
        raise SystemExit("lzh0.py: a header of %d bytes; pick another name length" % total)
    return struct.pack("<H", total) + fixed + ext + b"\0\0"


def main(argv):
    out, members, damage, junk, end = None, [], None, False, True
    global header
    i = 0
    while i < len(argv):
        a = argv[i]
        if a == "--damage":
            damage = argv[i + 1]
            i += 1
        elif a == "--junk":
            junk = True
        elif a == "--no-end":
            end = False
        elif a == "--level2":
            header = header2
        elif out is None:
            out = a
        else:
            members.append(a)
        i += 1
    with open(out, "wb") as f:
        for member in members:
            name, kind_value = member.split("=", 1)
            kind, value = kind_value.split(":", 1)
            if kind == "zeros":
                size = int(value)
                f.write(header(name, size, 0))
                chunk = bytes(1 << 20)
                left = size
                while left:
                    n = min(left, len(chunk))
                    f.write(chunk[:n])
                    left -= n
                continue
            data = value.encode("utf-8") if kind == "text" else open(value, "rb").read()
            crc = crc16(data)
            if name == damage:
                data = bytes([data[0] ^ 0xFF]) + data[1:]
            f.write(header(name, len(data), crc))
            f.write(data)
        if junk:
            f.write(bytes([5]) + bytes(20))
        if end:
            f.write(b"\0")


if __name__ == "__main__":
    main(sys.argv[1:])
