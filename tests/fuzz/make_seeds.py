#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into corpus/<target>/.

Seeds are cut from the shared test archives (tests/data/corpus) or built
here by hand; README.md says which is which. Run again after changing this
file; inputs the fuzzer added by merging (named by their SHA-1) are kept.
"""
import json
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, '..', 'data', 'corpus')
METHODS = ['-lh0-', '-lh1-', '-lh2-', '-lh3-', '-lh4-', '-lh5-', '-lh6-', '-lh7-',
           '-lzs-', '-lz5-', '-lz4-', '-lhd-']


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def read(path):
    with open(os.path.join(DATA, path), 'rb') as f:
        return f.read()


def members(archive):
    """(header bytes, level, data offset, data length, method) of each member."""
    at, out = 0, []
    while at + 22 <= len(archive) and archive[at] != 0:
        level = archive[at + 20]
        packed = struct.unpack_from('<I', archive, at + 7)[0]
        if level == 3 and archive[at:at + 2] == b'\x04\x00':
            end = at + struct.unpack_from('<I', archive, at + 24)[0]
        elif level == 2:
            end = at + struct.unpack_from('<H', archive, at)[0]
            if archive[at + 23:at + 24] == b'K':  # OS-9/68k: the length leaves out its field
                end += 2
        elif level in (0, 1):
            end = at + archive[at] + 2
            if level == 1:
                size = struct.unpack_from('<H', archive, end - 2)[0]
                while size:
                    end += size
                    packed -= size
                    size = struct.unpack_from('<H', archive, end - 2)[0]
        else:
            break
        out.append((archive[at:end], level, end, packed, archive[at + 2:at + 7].decode('latin-1')))
        at = end + packed
    return out


def header_only(header, level):
    """The header with its packed size cut to what the header itself needs."""
    h = bytearray(header)
    ext = len(header) - (header[0] + 2) if level == 1 else 0
    struct.pack_into('<I', h, 7, ext)
    return bytes(h)


def utf16(text):
    return text.encode('utf-16-le')


def settings_block(title='', base=0, destination='', main='', options=(3, 1, 0), open_file='',
                   link=''):
    def s(text):
        return bytes([len(text)]) + utf16(text)
    return (b'\x01' + s(title) + bytes([base]) + s(destination) + s(main) + bytes(options) +
            s(open_file) + s(link))


def level0(method, name, data, crc=True, original=None):
    tail = struct.pack('<H', crc16(data)) if crc else b''
    body = (method.encode() + struct.pack('<III', len(data), len(data) if original is None
                                         else original, 0x5A210000) + b'\x20\x00' +
            bytes([len(name)]) + name + tail)
    return bytes([len(body), 0]) + body + data


def level2(method, ext, data, original=None):
    exts = b''
    for i, (kind, payload) in enumerate(ext):
        nxt = len(ext[i + 1][1]) + 3 if i + 1 < len(ext) else 0
        exts += bytes([kind]) + payload + struct.pack('<H', nxt)
    first = len(ext[0][1]) + 3 if ext else 0
    body = (method.encode() + struct.pack('<III', len(data), len(data) if original is None
                                         else original, 0x5A000000) + b'\x20\x02' +
            struct.pack('<H', crc16(data)) + b'U' + struct.pack('<H', first) + exts)
    total = len(body) + 2
    if total % 256 == 0:  # would read as the end mark
        body += b'\x00'
        total += 1
    return struct.pack('<H', total) + body + data


def level3(method, ext, data):
    exts = b''
    for i, (kind, payload) in enumerate(ext):
        nxt = len(ext[i + 1][1]) + 5 if i + 1 < len(ext) else 0
        exts += bytes([kind]) + payload + struct.pack('<I', nxt)
    first = len(ext[0][1]) + 5 if ext else 0
    head = (b'\x04\x00' + method.encode() + struct.pack('<III', len(data), len(data), 0x5A000000) +
            b'\x20\x03' + struct.pack('<H', crc16(data)) + b'2')
    return head + struct.pack('<II', len(head) + 8 + len(exts), first) + exts + data


def os9_68k(archive):
    """A level-2 archive of one member as the OS-9/68k archiver writes it:
    the length without its own two bytes, OS id 'K', the header CRC again."""
    a = bytearray(archive)
    length = struct.unpack_from('<H', a, 0)[0]
    struct.pack_into('<H', a, 0, length - 2)
    a[23] = ord('K')
    assert a[26] == 0  # the header-CRC extended header comes first
    a[27:29] = b'\x00\x00'
    struct.pack_into('<H', a, 27, crc16(a[:length]))
    return bytes(a)


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def small_archives(limit):
    for line in open(os.path.join(DATA, 'archives.jsonl')):
        a = json.loads(line)
        if a['bytes'] <= limit and not a.get('walk_error'):
            yield a['archive']


def seeds_settings():
    write('settings', 'none', b'\x00')
    write('settings', 'full', settings_block('Qorn 設定', 0, 'Tools\\Qorn', 'bin\\qorn.exe',
                                             (3, 2, 1), 'readme.txt', 'Qorn'))
    write('settings', 'program-files', settings_block('', 1, 'Vendor\\App', '', (0, 0, 0)))
    write('settings', 'absolute', settings_block('t', 0, 'D:\\Out', 'a.exe', (1, 1, 1)))
    write('settings', 'cut-short', settings_block('title', 0, 'dest', 'main')[:-5])
    write('settings', 'long', settings_block('x' * 255, 1, 'y' * 255, 'z' * 255))


def seeds_entry_header():
    for path in sorted(small_archives(1500)) + ['lhasa/win-b/h2_lh5.lzh',
                                                'lhasa/os9-a/h2_lh1.lzh',
                                                'lhasa/os2-b/h3_lh0.lzh',
                                                'lha-unix/lha-test51-2G.lzh']:
        headers = b''.join(header_only(h, lv) for h, lv, _, _, _ in members(read(path)))
        if headers:
            write('entry_header', path.replace('/', '_') + '.hdr', headers + b'\x00')
    # Every extended-header type the reader knows, at levels 1 and 2.
    ext = [(0x01, b'name.txt'), (0x02, b'dir\xffsub\\x'), (0x44, utf16('名前.txt')),
           (0x45, utf16('フォルダ\\下')), (0x41, bytes(24)), (0x54, bytes(4))]
    write('entry_header', 'level2-all-ext', level2('-lh5-', ext, b''))
    write('entry_header', 'level0-sjis', level0('-lh0-', b'\x83\x65\x83\x58\x83\x67\\a.txt', b''))
    write('entry_header', 'level3-all-ext', level3('-lh5-', ext, b''))
    header, level, _, _, _ = members(os9_68k(read('lhasa/unix-a/h2_lh5.lzh')))[0]
    write('entry_header', 'level2-os9-68k', header_only(header, level) + b'\x00')


def seeds_decode_member():
    streams = {'lh1': 1, 'lh5': 5, 'lh6': 6, 'lh7': 7, 'lzs': 8, 'lz5': 9}
    for name, method in streams.items():
        data = read('raw-streams/%s.bin' % name)
        head = bytes([method]) + struct.pack('<H', 18092) + b'\x00\x00'
        write('decode_member', 'raw-' + name, head + data)
        write('decode_member', 'raw-%s-cut' % name, head[:4] + b'\x10' + data[:300])
    taken = set()
    for path in ['lhasa/win-c/lh2.lzh', 'lhasa/win-c/lh3.lzh', 'lhasa/amiga-a/lh4.lzh',
                 'lhasa/lengths/lz5-1.lzs', 'lhasa/os2-a/readonly.lzh',
                 'lha-unix/lha-test16-l0.lzh', 'lhasa/lengths/lh1-0.lzh']:
        archive = read(path)
        for header, _, start, packed, method in members(archive):
            original = struct.unpack_from('<I', header, 11)[0]
            index = METHODS.index(method)
            if index == 11 or original >= 1 << 16:
                continue
            taken.add(method)
            write('decode_member', os.path.basename(path) + '-' + method.strip('-'),
                  bytes([index]) + struct.pack('<H', original) + b'\x00\x00' +
                  archive[start:start + packed])


    # A long -lh1- member (1 MiB of output, cut 16 bytes short) reaches the
    # rebuild of the adaptive tree.
    _, _, start, packed, _ = members(read('lhasa/lengths/lh1-1m.lzh'))[0]
    write('decode_member', 'lh1-1m.lzh-lh1', b'\x01\xff\xff\x04\x00' +
          read('lhasa/lengths/lh1-1m.lzh')[start:start + packed])


    # -lh3- blocks the archives lack: a single literal with the fixed
    # positions, a single match with a single position, codes longer than
    # the 12-bit table.
    def lh3(bits, size):
        bits += '0' * (-len(bits) % 8)
        data = bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
        write('decode_member', 'made-lh3-' + name, b'\x03' + struct.pack('<H', size) +
              b'\x00\x00' + data)

    def lengths(table):
        return ''.join('1' + format(n - 1, '04b') if n else '0' for n in table)

    name = 'one-literal'
    lh3(format(10, '016b') + '10000' * 3 + format(65, '09b') + '0', 10)
    name = 'one-match'
    lh3(format(4, '016b') + '10000' * 3 + format(256, '09b') + '1' + '0001' * 3 +
        format(5, '010b'), 12)
    name = 'long-codes'
    table = list(range(1, 17)) + [16] + [0] * (286 - 17)
    codes = ['1' * k + '0' for k in range(15)] + ['1' * 15 + '0', '1' * 16]
    lh3(format(5, '016b') + lengths(table) + '0' + ''.join(codes[k] for k in (14, 15, 16, 13, 12)),
        5)


def seeds_entry_path():
    texts = ['../../etc/passwd', 'C:\\Windows\\system.ini', '\\\\?\\C:\\x', '\\\\.\\PhysicalDrive0',
             '\\\\server\\share\\f', 'a/./b/../c', 'NUL.txt', 'com1', 'con .txt', 'LPT9.log',
             'a:b:stream', '..\\..\\', '. . /x', '.../...', 'dir/.hidden', '/.profile',
             'a\uffffb\uffff..\uffffc', 'x.. /y. ', '日本語/ファイル.txt', 'CONIN$', 'COM\u00b9']
    for i, t in enumerate(texts):
        if all(ord(c) < 256 or c == '\uffff' for c in t):
            write('entry_path', 'bytes-%02d' % i,
                  b'\x01' + bytes(0xFF if c == '\uffff' else ord(c) for c in t))
        write('entry_path', 'utf16-%02d' % i, b'\x00' + utf16(t))


def seeds_whole_run():
    for path in sorted(small_archives(800)) + ['lhasa/unix-a/h2_lh5.lzh', 'lhasa/win-a/h1_lh7.lzh',
                                               'lhasa/win-c/lh2.lzh', 'lhasa/win-c/lh3.lzh',
                                               'lhasa/atari-a/lz5.lzh',
                                               'lhasa/morphos-a/h0_lh1.lzh']:
        write('whole_run', path.replace('/', '_'), b'\x00' + read(path))
    block = settings_block('Setup', 0, 'Out', 'a.txt', (3, 3, 1), 'a.txt', 'A')
    hostile = [
        level0('-lh0-', b'..\\..\\evil.txt', b'up'),
        level0('-lh0-', b'C:\\evil.txt', b'drive'),
        level2('-lh0-', [(0x01, b'abs.txt'), (0x02, b'\xfftmp\xff')], b'root'),
        level2('-lhd-', [(0x01, b'link|/etc')], b''),
        level2('-lh0-', [(0x01, b'link/inside.txt')], b'through'),
        level2('-lhd-', [(0x02, b'folder')], b''),
        level2('-lh0-', [(0x01, b'folder')], b'same name'),
        level2('-lh0-', [(0x44, utf16('..\\NUL.txt'))], b'dev'),
        level2('-lh9-', [(0x01, b'unknown')], b'??'),
        level0('-lh0-', b'bad-crc', b'data', original=9),
    ]
    write('whole_run', 'hostile', block + b''.join(hostile) + b'\x00')
    write('whole_run', 'cut-header', b'\x00' + hostile[0][:15])
    write('whole_run', 'level2-os9-68k-then-level3',
          b'\x00' + os9_68k(read('lhasa/unix-a/h2_lh5.lzh'))[:-1] + read('lhasa/os2-b/h3_lh0.lzh'))
    # Where the file system says no; each ends its run, so each has its own
    # archive. Names up to 255 bytes of UTF-8 are made, longer ones refused
    # (85 and 86 Shift_JIS characters of three bytes each in UTF-8).
    hiragana = b'\x82\xa0'
    refusals = {
        'long-name': [level2('-lh0-', [(0x01, b'a' * 255)], b'fits'),
                      level2('-lh0-', [(0x01, hiragana * 85)], b'fits'),
                      level2('-lh0-', [(0x01, b'a' * 256)], b'too long')],
        'long-name-sjis': [level2('-lh0-', [(0x01, hiragana * 86)], b'too long')],
        'file-then-inside-it': [level0('-lh0-', b'a', b'file'), level0('-lh0-', b'a\\b', b'x')],
        'folder-then-file': [level2('-lhd-', [(0x02, b'f\xff')], b''),
                             level0('-lh0-', b'f', b'file')],
        'file-then-folder': [level0('-lh0-', b'g', b'file'),
                             level2('-lhd-', [(0x02, b'g\xff')], b''),
                             level0('-lh0-', b'g\\in', b'x')],
    }
    for name, archive in refusals.items():
        write('whole_run', name, b'\x00' + b''.join(archive) + b'\x00')


def seeds_roundtrip():
    text = read('raw-streams/lh0.bin')
    for m in range(3):
        write('roundtrip', 'text-%d' % m, bytes([m, 0]) + text[:2048])
        write('roundtrip', 'text-repeated-%d' % m, bytes([m, 15]) + text[4000:8000])
    write('roundtrip', 'bytes', bytes([0, 3]) + bytes(range(256)))
    write('roundtrip', 'zeros', bytes([1, 15]) + bytes(3000))
    write('roundtrip', 'one', bytes([2, 0, 0x41]))


def seeds_command_line():
    lines = ['setup.exe', 'setup.exe /S', 'setup.exe /s /D=C:\\Program Files\\Foo',
             '"C:\\a b\\setup.exe" /S /D="C:\\x y"', 'setup.exe "/D=C:\\x y\\z" ',
             'setup.exe /?', 'setup.exe /X -S /SILENT', 'setup.exe a\\" /S',
             'setup.exe a\\\\" /S', 'setup.exe "a"" /S"', 'setup.exe \t/S\t/D=\t',
             '"setup.exe', 'setup.exe /D=\u65e5\u672c\u8a9e\\\u30d5\u30a9\u30eb\u30c0']
    for i, t in enumerate(lines):
        if all(ord(c) < 256 for c in t):
            write('command_line', 'bytes-%02d' % i, b'\x01' + t.encode('latin-1'))
        write('command_line', 'utf16-%02d' % i, b'\x00' + utf16(t))


def icon_file(images):
    """An icon file: (pixels, image bytes) each, in that order."""
    head = struct.pack('<HHH', 0, 1, len(images))
    at = 6 + 16 * len(images)
    body = b''
    for px, data in images:
        head += struct.pack('<BBBBHHII', px % 256, px % 256, 0, 0, 1, 32, len(data), at)
        at += len(data)
        body += data
    return head + body


def version_block(key, value=b'', text=True, children=()):
    """One block of a version resource, padded to four bytes."""
    name = (key + '\0').encode('utf-16-le')
    head = 6 + len(name)
    head += -head % 4
    body = value + b'\0' * (-len(value) % 4)
    kids = b''.join(children)
    length = head + len(body) + len(kids)
    vlen = len(value) // 2 if text else len(value)
    block = struct.pack('<HHH', length, vlen, 1 if text else 0) + name
    return block + b'\0' * (head - 6 - len(name)) + body + kids


def seeds_stub_resources():
    # Images make takes: a bitmap with room for its colours and its mask, a
    # PNG with its header chunk, pixel data and end.
    bitmap = lambda px: (struct.pack('<IiiHH', 40, px, 2 * px, 1, 32) + bytes(24 + px * px * 4) +
                         bytes((px + 31) // 32 * 4 * px))
    chunk = lambda kind, data: (struct.pack('>I', len(data)) + kind + data +
                                struct.pack('>I', zlib.crc32(kind + data)))
    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 256, 256, 8, 6, 0, 0, 0)) +
           chunk(b'IDAT', bytes(64)) + chunk(b'IEND', b''))
    write('stub_resources', 'icon', b'\x00' + icon_file([(16, bitmap(16)), (32, bitmap(32)),
                                                          (256, png)]))
    write('stub_resources', 'icon-one', b'\x00' + icon_file([(48, png)]))
    text = lambda s: (s + '\0').encode('utf-16-le')
    fixed = struct.pack('<13I', 0xFEEF04BD, 0x10000, 0x10000, 0, 0x10000, 0, 0x3F, 0, 4, 1, 0, 0, 0)
    strings = version_block('041104B0', children=[
        version_block('FileDescription', text('Qorn SFX')),
        version_block('ProductName', text('Qorn SFX'))])
    var = version_block('Translation', struct.pack('<HH', 0x411, 1200), text=False)
    write('stub_resources', 'version', b'\x02' + version_block(
        'VS_VERSION_INFO', fixed, text=False,
        children=[version_block('StringFileInfo', children=[strings]),
                  version_block('VarFileInfo', children=[var])]))
    # A whole executable: the stub of a build, named by QORN_SEED_STUB.
    stub = os.environ.get('QORN_SEED_STUB')
    if stub:
        with open(stub, 'rb') as f:
            exe = f.read()
        # Cut after the last section, where the padding begins.
        pe = struct.unpack_from('<I', exe, 0x3C)[0]
        count, optional = struct.unpack_from('<H', exe, pe + 6)[0], struct.unpack_from('<H', exe, pe + 20)[0]
        table = pe + 24 + optional
        end = max(sum(struct.unpack_from('<II', exe, table + 40 * i + 16)) for i in range(count))
        write('stub_resources', 'stub', b'\x01' + exe[:end])


if __name__ == '__main__':
    seeds_settings()
    seeds_entry_header()
    seeds_decode_member()
    seeds_entry_path()
    seeds_command_line()
    seeds_whole_run()
    seeds_roundtrip()
    seeds_stub_resources()
