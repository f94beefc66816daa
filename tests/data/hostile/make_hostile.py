#!/usr/bin/env python3
"""Writes the hostile archives of this folder and README.md, their index.

Every archive is made here byte by byte from the table at the end, so that a
case and its expected outcome are written down once. The archives are
committed; run this again (python3 make_hostile.py) after changing a case.
hostile_archive_test.cpp reads the expected outcomes from expected.txt.

Outcomes, as the extraction worker ends a run over the archive:
  ok       every member done, no message box
  damaged  one "damaged file" box, the run ends failed
  header   the "Unknown header" box, the run ends failed
  refused  the system's error box for a file or folder that cannot be made,
           the run ends failed
Files left: the whole tree under the destination afterwards, "name:size" for
a file ("name:*" for any size), "name/" for a folder, "-" for nothing.
"""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ESCAPE = "qorn-hostile-escape.txt"  # the test looks for this name above the destination
TEXT = b"hostile\n"


def _crc_table():
    table = []
    for i in range(256):
        r = i
        for _ in range(8):
            r = (r >> 1) ^ 0xA001 if r & 1 else r >> 1
        table.append(r)
    return table


CRC_TABLE = _crc_table()


def crc16(data):
    """CRC-16/ARC, as the member headers carry it."""
    crc = 0
    for byte in data:
        crc = (crc >> 8) ^ CRC_TABLE[(crc ^ byte) & 0xFF]
    return crc


class Bits:
    """Bits written most significant first, the way the decoders read them."""

    def __init__(self):
        self.value, self.count = 0, 0

    def put(self, value, width):
        self.value = (self.value << width) | (value & ((1 << width) - 1))
        self.count += width
        return self

    def text(self, bits):
        for b in bits:
            if b in "01":
                self.put(int(b), 1)
        return self

    def bytes(self):
        pad = -self.count % 8
        return ((self.value << pad)).to_bytes((self.count + pad) // 8, "big")


# ---------------------------------------------------------------- headers


def level0(method, data, name, original=None, crc=True, packed=None, level=0):
    """Level-0 header (level 1 when asked, with no extended header) and data."""
    original = len(data) if original is None else original
    packed = len(data) if packed is None else packed
    tail = struct.pack("<H", crc16(data)) if crc is True else (crc or b"")
    if level == 1:
        tail += b"M" + struct.pack("<H", 0)
    body = method + struct.pack("<IIIBB", packed, original, 0x4E210000, 0x20, level)
    body += bytes([len(name)]) + name + tail
    return bytes([len(body), sum(body) & 0xFF]) + body + data


def ext(kind, payload):
    return (kind, payload)


def level2(method, data, exts, original=None, packed=None, crc=None, pad=0, length=None):
    """Level-2 header: extended headers as (type, bytes), then the data."""
    original = len(data) if original is None else original
    packed = len(data) if packed is None else packed
    crc = crc16(data) if crc is None else crc
    chain = b""
    for i, (kind, payload) in enumerate(exts):
        nxt = len(exts[i + 1][1]) + 3 if i + 1 < len(exts) else 0
        chain += bytes([kind]) + payload + struct.pack("<H", nxt)
    first = len(exts[0][1]) + 3 if exts else 0
    fixed = method + struct.pack("<IIIBBHB", packed, original, 1600000000, 0x20, 2, crc, ord("U"))
    head = fixed + struct.pack("<H", first) + chain + bytes(pad)
    total = len(head) + 2 if length is None else length
    return struct.pack("<H", total) + head + data


def named(path):
    return [ext(0x01, path)]


def stored(path, data=TEXT, **kw):
    return level2(b"-lh0-", data, named(path), **kw)


def folder(path):
    return level2(b"-lhd-", b"", named(path))


END = b"\x00"

# ---------------------------------------------------------------- streams


def small_lengths(bits, lengths, width, special):
    """Lengths of the code-length code or the position code (-lh4- .. -lh7-)."""
    bits.put(len(lengths), width)
    for i, v in enumerate(lengths):
        if v < 7:
            bits.put(v, 3)
        else:
            bits.text("111" + "1" * (v - 7) + "0")
        if i + 1 == special:
            bits.put(0, 2)
    return bits


def lone(bits, symbol, width):
    return bits.put(0, width).put(symbol, width)


def block_stream(method, literal=None, position=0, size=0, tail=None, blocks=1):
    """-lh4- .. -lh7- blocks: code-length code, literal and position codes
    given as lone symbols (codes of no bits), or as callables that write
    their part of the block header."""
    pbits = 5 if method in (b"-lh6-", b"-lh7-") else 4
    bits = Bits()
    for _ in range(blocks):
        bits.put(size, 16)
        if callable(literal):
            literal(bits)
        else:
            lone(bits, 0, 5)
            lone(bits, literal, 9)
        if callable(position):
            position(bits, pbits)
        else:
            lone(bits, position, pbits)
    if tail:
        tail(bits)
    return bits.bytes()


def incomplete_literal_code(bits):
    """A literal code of one symbol, 'A' with one bit: '0' is 'A', '1' is no code."""
    # Code-length code: symbol 2 '0', symbol 0 '10', symbol 3 '11'.
    small_lengths(bits, [2, 0, 1, 2], 5, 3)
    bits.put(66, 9)
    bits.text("0").put(65 - 20, 9)  # symbol 2: a run of 65 zero lengths
    bits.text("11")  # symbol 3: length 1 for 'A'


def code_length_code(lengths):
    def write(bits):
        small_lengths(bits, lengths, 5, 3)
        bits.put(0, 9).put(65, 9)  # the literal code is then a lone 'A'

    return write


def lone_code_length(symbol, count, extra=None):
    """Code-length code of one symbol; `count` literal lengths follow."""

    def write(bits):
        lone(bits, symbol, 5)
        bits.put(count, 9)
        if extra:
            extra(bits)

    return write


def position_lengths(lengths):
    def write(bits, width):
        small_lengths(bits, lengths, width, -1)

    return write


def lh3_stream(literal_lengths=None, literal_lone=None, position_lone=None, size=1):
    bits = Bits().put(size, 16)
    if literal_lone is not None:
        for _ in range(3):
            bits.text("1 0000")
        bits.put(literal_lone, 9)
    else:
        for v in literal_lengths:
            bits.text("0") if v == 0 else bits.text("1").put(v - 1, 4)
    if position_lone is not None:
        bits.text("1")
        for _ in range(3):
            bits.put(1, 4)
        bits.put(position_lone, 10)
    else:
        bits.text("0")  # the fixed position code
    bits.put(0, 64)  # code bits
    return bits.bytes()


def noise(seed, size):
    rng = random.Random(seed)
    return bytes(rng.randrange(256) for _ in range(size))


# ---------------------------------------------------------------- cases

CASES = []


def case(name, what, outcome, tree, data):
    CASES.append((name, what, outcome, tree, data))


def one(escape_path, outcome="ok", tree=None, level=2):
    """A stored member with a hostile name (level 0 keeps '\\' as it is)."""
    raw = escape_path.encode("utf-8")
    member = stored(raw) if level == 2 else level0(b"-lh0-", TEXT, raw)
    return member + END


L = len(TEXT)

# Paths that try to leave the destination.
case("path-dotdot-slash.lzh", "'../' eight times before the name", "ok", f"{ESCAPE}:{L}",
     one("../" * 8 + ESCAPE))
case("path-dotdot-backslash.lzh", "'..\\' before the name, level 0", "ok", f"{ESCAPE}:{L}",
     one("..\\" * 8 + ESCAPE, level=0))
case("path-dotdot-mixed.lzh", "'a/..\\../..\\/' mixed separators, level 0", "ok",
     f"a/,a/{ESCAPE}:{L}", one("a/..\\../..\\/" + ESCAPE, level=0))
case("path-dotdot-folder-header.lzh", "'..' folders in a 0x02 folder header (0xFF separators)",
     "ok", f"{ESCAPE}:{L}",
     level2(b"-lh0-", TEXT, [ext(0x02, b"..\xff..\xff..\xff"), ext(0x01, ESCAPE.encode())]) + END)
case("path-dotdot-utf16.lzh", "'..' folders in a UTF-16 0x45 folder header", "ok",
     f"{ESCAPE}:{L}",
     level2(b"-lh0-", TEXT, [ext(0x45, "..\uffff..\\..\uffff".encode("utf-16-le")),
                             ext(0x44, ESCAPE.encode("utf-16-le"))]) + END)
case("path-dotdot-spaces.lzh", "'.. /' and '. ./' parts that Windows trims into '..'", "ok",
     f"{ESCAPE}:{L}", one(".. /. ./.. ./" + ESCAPE))
case("path-absolute-slash.lzh", "absolute '/tmp/...'", "ok", f"tmp/,tmp/{ESCAPE}:{L}",
     one("/tmp/" + ESCAPE))
case("path-absolute-backslash.lzh", "absolute '\\tmp\\...', level 0", "ok",
     f"tmp/,tmp/{ESCAPE}:{L}", one("\\tmp\\" + ESCAPE, level=0))
case("path-drive.lzh", "drive 'C:\\Windows\\...', level 0", "ok",
     f"Windows/,Windows/{ESCAPE}:{L}", one("C:\\Windows\\" + ESCAPE, level=0))
case("path-drive-relative.lzh", "drive-relative 'C:..\\name'", "ok", f"{ESCAPE}:{L}",
     one("C:..\\" + ESCAPE))
case("path-drive-slashes.lzh", "'C://tmp/...'", "ok", f"tmp/,tmp/{ESCAPE}:{L}",
     one("C://tmp/" + ESCAPE))
case("path-unc.lzh", "UNC '\\\\server\\share\\...', level 0", "ok",
     f"server/,server/share/,server/share/{ESCAPE}:{L}",
     one("\\\\server\\share\\" + ESCAPE, level=0))
case("path-unc-slashes.lzh", "UNC with slashes '//server/share/...'", "ok",
     f"server/,server/share/,server/share/{ESCAPE}:{L}", one("//server/share/" + ESCAPE))
case("path-long-prefix.lzh", "'\\\\?\\C:\\tmp\\...' device-namespace prefix", "ok",
     f"tmp/,tmp/{ESCAPE}:{L}", one("\\\\?\\C:\\tmp\\" + ESCAPE))
case("path-long-unc.lzh", "'\\\\?\\UNC\\server\\share\\...'", "ok",
     f"UNC/,UNC/server/,UNC/server/share/,UNC/server/share/{ESCAPE}:{L}",
     one("\\\\?\\UNC\\server\\share\\" + ESCAPE))
case("path-device-prefix.lzh", "'\\\\.\\C:\\...' device prefix", "ok", f"{ESCAPE}:{L}",
     one("\\\\.\\C:\\" + ESCAPE))
case("path-trailing-dots.lzh", "'dir./name. ' trailing dots and spaces", "ok",
     f"dir/,dir/name:{L}", one("dir./name. "))

# Reserved device names: a '_' in front, in every part, whatever follows.
case("device-names.lzh", "CON, nul.txt, COM1, LPT9.log, aux/ folder, CONIN$, 'prn.', COM\u00b9",
     "ok",
     f"_CON:{L},_nul.txt:{L},_COM1:{L},_LPT9.log:{L},_aux/,_aux/x.txt:{L},_CONIN$:{L},"
     f"_prn:{L},_COM\u00b9:{L}",
     b"".join(stored(n.encode()) for n in
              ["CON", "nul.txt", "COM1", "LPT9.log", "aux/x.txt", "CONIN$", "prn."])
     + level2(b"-lh0-", TEXT, [ext(0x44, "COM\u00b9".encode("utf-16-le"))]) + END)

# Alternate data streams: ':' never reaches the system; it becomes '_'.
case("ads-names.lzh", "'name.txt:stream', 'a.txt::$DATA', 'dir:x/file', 'b.txt:'", "ok",
     f"name.txt_stream:{L},a.txt__$DATA:{L},dir_x/,dir_x/file:{L},b.txt_:{L}",
     b"".join(stored(n.encode()) for n in
              ["name.txt:stream", "a.txt::$DATA", "dir:x/file", "b.txt:"]) + END)

# Names the system cannot take.
case("long-name-300.lzh", "a 300-character file name", "refused", "-", one("n" * 300 + ".txt"))
case("long-folder-300.lzh", "a 300-character folder name before the file", "refused", "-",
     one("f" * 300 + "/x.txt"))
case("long-name-255.lzh", "a 255-character file name, the longest a part may be", "ok",
     "m" * 255 + f":{L}", one("m" * 255))
case("empty-name-level0.lzh", "a file with an empty name (level 0), then a good one",
     "refused", "-", level0(b"-lh0-", TEXT, b"") + stored(b"after.txt") + END)
case("empty-name-level2.lzh", "a level-2 file member whose name header is empty", "refused",
     "-", level2(b"-lh0-", TEXT, [ext(0x01, b"")]) + END)
case("empty-after-cleaning.lzh", "a file named '../', which cleans away to nothing",
     "refused", "-", one("../"))
case("empty-folder.lzh", "a folder member with an empty name, then a file", "ok",
     f"after.txt:{L}", level2(b"-lhd-", b"", []) + stored(b"after.txt") + END)

# Symbolic links are passed over; a member "through" one lands in a real folder.
case("link-then-member.lzh", "link 'd' to /tmp, then 'd/name' written through it", "ok",
     f"d/,d/{ESCAPE}:{L}",
     folder(b"d|/tmp") + stored(("d/" + ESCAPE).encode()) + END)
case("link-to-parent.lzh", "link 'up' to '..', then 'up/up/name'", "ok",
     f"up/,up/up/,up/up/{ESCAPE}:{L}",
     folder(b"up|..") + stored(("up/up/" + ESCAPE).encode()) + END)

# Header sizes.
case("header-level2-256.lzh", "second header padded to 256 bytes: read as the end mark", "ok",
     f"first.txt:{L}",
     stored(b"first.txt")
     + level2(b"-lh0-", TEXT, named(b"second.txt"), pad=256 - len(stored(b"second.txt", b"")))
     + stored(b"third.txt") + END)
case("header-level2-512.lzh", "first header 512 bytes long: nothing is read", "ok", "-",
     level2(b"-lh0-", TEXT, named(b"x.txt"), pad=512 - len(stored(b"x.txt", b""))) + END)
case("header-ext-size-0.lzh", "first extended-header size 0: a file without a name",
     "refused", "-", level2(b"-lh0-", TEXT, []) + END)
for size, outcome in ((1, "header"), (2, "header"), (200, "header")):
    member = bytearray(stored(b"x.txt"))
    member[24:26] = struct.pack("<H", size)
    what = f"first extended-header size {size}" + (" (past the header)" if size > 3 else "")
    case(f"header-ext-size-{size}.lzh", what, outcome, "-", bytes(member) + END)
case("header-ext-past-file.lzh", "level-1 extended header running past the end of the file",
     "header", "-", level0(b"-lh0-", b"", b"x.txt", level=1)[:-2] + struct.pack("<H", 60) + b"\x01ab")
case("header-level2-5000.lzh", "level-2 header of 5000 bytes (over the 4096-byte buffer)", "header",
     "-", level2(b"-lh0-", TEXT, named(b"x.txt"), pad=5000 - len(stored(b"x.txt", b""))) + END)
case("header-level2-4097.lzh", "level-2 header of 4097 bytes", "header", "-",
     level2(b"-lh0-", TEXT, named(b"x.txt"), pad=4097 - len(stored(b"x.txt", b""))) + END)
case("header-level1-ext-4100.lzh", "level-1 extended headers reaching past 4096 bytes", "header",
     "-",
     bytes([25, 0]) + b"-lh0-" + struct.pack("<IIIBB", 4200 + L, L, 0, 0x20, 1) + b"\x00"
     + struct.pack("<H", crc16(TEXT)) + b"U" + struct.pack("<H", 4100) + b"\x01" + bytes(4097)
     + struct.pack("<H", 0) + TEXT + END)
case("header-level2-short.lzh", "level-2 length 5, shorter than its fixed fields", "header",
     "-", struct.pack("<H", 5) + stored(b"x.txt")[2:] + END)
case("header-level3.lzh", "a level-3 header whose 32-bit header length is 0", "header", "-",
     struct.pack("<H", 4) + b"-lh0-" + struct.pack("<IIIBB", L, L, 0, 0x20, 3)
     + bytes(30) + TEXT + END)
case("header-name-past-header.lzh", "level-0 name length past the header length", "header",
     "-", bytes([0x16, 0]) + b"-lh0-" + struct.pack("<IIIBB", 0, 0, 0, 0x20, 0) + b"\xf0" + bytes(30) + END)
case("header-cut.lzh", "a good member, then a header cut short by the end of the file",
     "header", f"a.txt:{L}", stored(b"a.txt") + stored(b"b.txt")[:15])
case("header-garbage.lzh", "a good member, then 300 bytes of noise", "header",
     f"a.txt:{L}", stored(b"a.txt") + bytes([0x60]) + noise(3, 299))
case("header-level1-over-packed.lzh", "level-1 extended headers larger than the packed size",
     "header", "-",
     bytes([25, 0]) + b"-lh0-" + struct.pack("<IIIBB", 2, 0, 0, 0x20, 1) + b"\x00"
     + struct.pack("<H", 0) + b"U" + struct.pack("<H", 8) + b"\x01x.txt" + b"\x00\x00" + END)

# Sizes that point past the data.
case("size-stored-past-end.lzh", "-lh0- packed size 1000 with 8 bytes left in the file",
     "damaged", f"x.txt:{L}", stored(b"x.txt", original=1000, packed=1000))
case("size-stored-huge.lzh", "-lh0- packed and original size 0xFFFFFFF0", "damaged",
     f"x.txt:{L}", stored(b"x.txt", original=0xFFFFFFF0, packed=0xFFFFFFF0))
case("size-stored-disagree.lzh", "-lh0- original size 3 for 8 stored bytes", "damaged",
     "x.txt:3", stored(b"x.txt", original=3) + END)
case("size-lh5-past-end.lzh", "-lh5- packed size 4 GiB with 7 bytes in the file", "damaged",
     "x.bin:1", level2(b"-lh5-", block_stream(b"-lh5-", literal=65), named(b"x.bin"),
                       original=0xFFFFFF00, packed=0xFFFFFF00))
for method in (b"-lh1-", b"-lh2-", b"-lh3-", b"-lzs-", b"-lz5-", b"-lh7-"):
    tag = method.decode().strip("-")
    case(f"size-{tag}-past-end.lzh", f"{method.decode()} 64 bytes of noise claiming 4 GiB",
         "damaged", "x.bin:*",
         level2(method, noise(7, 64), named(b"x.bin"), original=0xFFFFFF00,
                packed=0xFFFFFF00))
case("size-folder-past-end.lzh", "folder member whose packed size runs past the file", "damaged",
     "d/", level2(b"-lhd-", b"", named(b"d/"), packed=0xFFFFFFFF) + stored(b"lost.txt") + END)
case("size-unknown-method.lzh", "unknown method -pm2- with a packed size past the file", "damaged",
     "-", level2(b"-pm2-", b"xxxx", named(b"p.bin"), packed=0x7FFFFFFF) + END)
_REST = stored(b"lost.txt") + END
case("size-folder-one-past.lzh", "folder member whose packed size is one byte more than what follows",
     "damaged", "d/", level2(b"-lhd-", b"", named(b"d/"), packed=len(_REST) + 1) + _REST)
case("size-link-past-end.lzh", "symbolic link whose packed size runs past the file", "damaged", "-",
     level2(b"-lhd-", b"", [ext(0x01, b"l|/tmp")], packed=0x100) + stored(b"lost.txt") + END)

# Decompression bombs: the output never outgrows the header's size.
SPACES = 8 << 20
spaces = block_stream(b"-lh5-", literal=509, position=0, size=0)
case("bomb-lh5-8mib.lzh", "7 bytes of -lh5- (one block of 65536 matches) give 8 MiB", "ok",
     f"bomb.bin:{SPACES}",
     level2(b"-lh5-", spaces, named(b"bomb.bin"), original=SPACES, crc=crc16(b" " * SPACES)) + END)
case("bomb-lh5-zero-bits.lzh", "10 literals, then 1 MiB claimed from the zero bits past the data",
     "damaged", "bomb.bin:11",
     level2(b"-lh5-", block_stream(b"-lh5-", literal=65, size=10), named(b"bomb.bin"),
            original=1 << 20, crc=crc16(b"A" * 10)) + END)
case("bomb-lh5-packed-zero.lzh", "-lh5- packed size 0 claiming 1 GiB of zeros (CRC 0), then a member",
     "damaged", "bomb.bin:*",
     level2(b"-lh5-", b"", named(b"bomb.bin"), original=1 << 30, crc=0) + stored(b"later.txt") + END)
WRAP = 44 << 20
case("bomb-sizes-wrap.lzh", "44 MiB bomb, then a member whose size wraps the total past 4 GiB",
     "damaged", f"bomb.bin:{WRAP},x.txt:{L}",
     level2(b"-lh5-", block_stream(b"-lh5-", literal=509, position=0, size=0, blocks=3),
            named(b"bomb.bin"), original=WRAP, crc=crc16(b" " * WRAP))
     + stored(b"x.txt", original=(1 << 32) - WRAP + 100, packed=(1 << 32) - WRAP + 100))
case("lh1-noise.lzh", "-lh1- 2000 bytes of noise", "damaged", "x.bin:1000",
     level2(b"-lh1-", noise(1, 2000), named(b"x.bin"), original=1000) + END)
case("lh2-noise.lzh", "-lh2- 2000 bytes of noise", "damaged", "x.bin:1000",
     level2(b"-lh2-", noise(2, 2000), named(b"x.bin"), original=1000) + END)
case("lzs-noise.lzh", "-lzs- 2000 bytes of noise", "damaged", "x.bin:1000",
     level2(b"-lzs-", noise(4, 2000), named(b"x.bin"), original=1000) + END)
case("lz5-noise.lzh", "-lz5- 2000 bytes of noise", "damaged", "x.bin:1000",
     level2(b"-lz5-", noise(5, 2000), named(b"x.bin"), original=1000) + END)

# Static Huffman blocks. Members the decoder must find broken carry no CRC
# (level 0, form 20), so the CRC cannot be what catches them. The one byte
# they leave is the harmless symbol 0 the failing decoder hands back.
def nocrc(method, data, original=100):
    return level0(method, data, b"t.bin", original=original, crc=False) + END


case("huff-block-size-0.lzh", "-lh5- block size 0, which lasts 65536 codes", "ok", "a.bin:100",
     level2(b"-lh5-", block_stream(b"-lh5-", literal=65, size=0), named(b"a.bin"),
            original=100, crc=crc16(b"A" * 100)) + END)
for method, pbits, count in ((b"-lh4-", 4, 14), (b"-lh5-", 4, 14), (b"-lh6-", 5, 16),
                             (b"-lh7-", 5, 17)):
    tag = method.decode().strip("-")
    case(f"huff-{tag}-position-lone.lzh",
         f"{method.decode()} lone position symbol {count}, outside its {count}", "damaged",
         "t.bin:1", nocrc(method, block_stream(method, literal=65, position=count)))
case("huff-lh5-length-code-lone.lzh", "lone symbol 25 of the 19-symbol code-length code",
     "damaged", "t.bin:1",
     nocrc(b"-lh5-", block_stream(b"-lh5-", literal=lambda b: lone(b, 25, 5).put(0, 18))))
case("huff-lh5-length-code-17.lzh", "code-length code with a length of 17 bits", "damaged",
     "t.bin:1", nocrc(b"-lh5-", block_stream(b"-lh5-", literal=code_length_code([17, 1, 1, 0]))))
case("huff-lh5-literal-lone.lzh", "lone literal symbol 511 of 510", "damaged", "t.bin:1",
     nocrc(b"-lh5-", block_stream(b"-lh5-", literal=511)))
case("huff-lh5-literal-count.lzh", "511 literal lengths for 510 symbols", "damaged", "t.bin:1",
     nocrc(b"-lh5-", block_stream(b"-lh5-", literal=lone_code_length(3, 511))))
case("huff-lh5-literal-zero-run.lzh", "a run of 531 zero lengths past the 510 symbols",
     "damaged", "t.bin:1",
     nocrc(b"-lh5-", block_stream(
         b"-lh5-", literal=lone_code_length(2, 1, lambda b: b.put(511, 9)))))
case("huff-lh6-position-17.lzh", "-lh6- position code with a length of 18 bits", "damaged",
     "t.bin:1", nocrc(b"-lh6-", block_stream(b"-lh6-", literal=65,
                                              position=position_lengths([18, 1, 1]))))
case("huff-lh5-over-subscribed.lzh", "literal code of three one-bit codes (CRC catches it)",
     "damaged", "t.bin:100",
     level2(b"-lh5-", block_stream(b"-lh5-", literal=lone_code_length(3, 3),
                                   tail=lambda b: b.put(0x5A5A5A5A, 32).put(0x5A5A5A5A, 32)
                                   .put(0x5A5A5A5A, 32).put(0x5A5A5A5A, 8)),
            named(b"t.bin"), original=100, crc=crc16(b"A" * 100)) + END)
case("huff-lh5-incomplete-used.lzh", "literal code of one one-bit code, only that code used",
     "ok", "t.bin:100",
     level2(b"-lh5-", block_stream(b"-lh5-", literal=incomplete_literal_code,
                                   tail=lambda b: b.put(0, 100)),
            named(b"t.bin"), original=100, crc=crc16(b"A" * 100)) + END)
case("huff-lh5-incomplete-missing.lzh", "the same code, with the bits of its missing code",
     "damaged", "t.bin:100",
     level2(b"-lh5-", block_stream(b"-lh5-", literal=incomplete_literal_code,
                                   tail=lambda b: b.put((1 << 100) - 1, 100)),
            named(b"t.bin"), original=100, crc=crc16(b"A" * 100)) + END)
case("huff-lh3-literal-lone.lzh", "-lh3- lone literal symbol 300 of 286", "damaged", "t.bin:1",
     nocrc(b"-lh3-", lh3_stream(literal_lone=300)))
case("huff-lh3-position-lone.lzh", "-lh3- lone position symbol 200 of 128", "damaged",
     "t.bin:1", nocrc(b"-lh3-", lh3_stream(literal_lone=65, position_lone=200)))
case("huff-lh3-over-subscribed.lzh", "-lh3- literal code of 286 codes of one and two bits",
     "damaged", "t.bin:41",
     level2(b"-lh3-", lh3_stream(literal_lengths=[1, 1] + [2] * 284, size=0),
            named(b"t.bin"), original=100, crc=crc16(b"A" * 100)) + END)

# ---------------------------------------------------------------- output

README_HEAD = """# Hostile archives

Archives made to attack the extractor: paths that leave the destination,
device and stream names, broken headers, sizes that lie, bombs and broken
Huffman tables. `make_hostile.py` writes every file and this list; the test
`tests/unit/hostile_archive_test.cpp` runs each through the extraction worker
and through `qornsfx extract` and checks the outcome and the files left here.

Outcomes: `ok` (no box, the run completes), `damaged` (the damaged-file box),
`header` (the "Unknown header" box), `refused` (the system's error box for a file that cannot be
made); all but `ok` end the run as failed. Files left lists the whole tree
under the destination: `name:size`, `name:*` for any size, `folder/`, `-` for
nothing. Nothing may appear outside the destination in any case, and the
progress bar never runs backwards. `expected.txt` holds the same outcomes in
full for the test. The outcomes are the native ones; on Windows a name of 255
characters may also be refused by the length of the full path.

Choices behind some outcomes:

- `:` becomes `_` in every part of a path, so a member can name neither an
  alternate data stream (`a.txt::$DATA`) nor a drive.
- A name the system refuses (too long, empty once cleaned) fails its member
  and ends the run; nothing after it is written.
- A level-2 header whose length is a multiple of 256 starts with a 0 byte and
  reads as the end mark, as in other LHA readers: the run ends there, complete.
- A header the reader cannot hold (over 4096 bytes, an extended header past
  its end, noise after the last member of an archive without an end mark)
  ends the run as failed with the "Unknown header" box, like any other
  header it cannot read.
- A decoder that finds its table broken hands back one harmless symbol 0
  before the loop sees the error, so such a member keeps one byte.
- Incomplete and over-subscribed codes are decoded as they stand (the CRC
  decides); a block size of 0 lasts 65536 codes.
- A member whose data the file cuts short stops decoding where the file
  ends, whatever size its header claims.

| file | what it is | outcome | files left |
|---|---|---|---|
"""


def main():
    rows = []
    for name, what, outcome, tree, data in CASES:
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        shown = tree if len(tree) < 80 else tree[:20] + "..." + tree[-10:]
        rows.append(f"| {name} | {what.replace('|', '/')} | {outcome} | {shown} |")
    with open(os.path.join(HERE, "README.md"), "w", encoding="utf-8") as f:
        f.write(README_HEAD + "\n".join(rows) + "\n")
    with open(os.path.join(HERE, "expected.txt"), "w", encoding="utf-8") as f:
        f.write("# file\toutcome\tfiles left (written by make_hostile.py)\n")
        for name, _, outcome, tree, _ in CASES:
            f.write(f"{name}\t{outcome}\t{tree}\n")
    print(f"{len(CASES)} archives")


if __name__ == "__main__":
    main()
