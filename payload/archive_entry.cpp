#include "payload/archive_entry.h"

#include <cstring>

#include "platform/platform.h"

namespace qorn {

const char MethodIds[kMethodCount][6] = {"-lh0-", "-lh1-", "-lh2-", "-lh3-", "-lh4-", "-lh5-",
                                         "-lh6-", "-lh7-", "-lzs-", "-lz5-", "-lz4-", "-lhd-"};

Method methodOf(const char method[5]) {
    for (int i = 0; i < kMethodCount; ++i)
        if (std::memcmp(method, MethodIds[i], 5) == 0) return static_cast<Method>(i);
    return Method::Unknown;
}

void ArchiveEntry::clear() {
    std::memset(method, 0, sizeof method);
    packedSize = originalSize = 0;
    path.clear();
    crc = 0;
    hasCrc = false;
    modifiedTime = 0;
    level = osId = 0;
}

namespace {

// Little-endian fields. On a little-endian machine one unaligned load does
// it (and keeps the stub small); elsewhere the bytes are put together.
uint16_t get16(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
#else
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
#endif
}
uint32_t get32(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
#else
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
#endif
}

// Lead bytes of a double-byte character; fixed, whatever the code page.
bool isLeadByte(uint8_t b) {
    return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Folder text of a 0x02 header: 0xFF, '\' and '/' between folders become
// '/', but never the trail byte of a double-byte character.
WideString narrowFolder(const uint8_t* data, uint32_t count) {
    char bytes[HeaderBufferSize];
    uint32_t n = 0;
    while (n < count && data[n]) {
        uint8_t b = data[n];
        if (isLeadByte(b) && n + 1 < count && data[n + 1]) {
            bytes[n] = static_cast<char>(b);
            bytes[n + 1] = static_cast<char>(data[n + 1]);
            n += 2;
            continue;
        }
        bytes[n++] = (b == 0xFF || b == '\\' || b == '/') ? '/' : static_cast<char>(b);
    }
    return platform::ansiToUtf16(bytes, n);
}

WideString utf16Text(const uint8_t* data, uint32_t bytes, bool folder) {
    uint32_t units = bytes / 2;
    char16_t* text = allocateText(units);
    uint32_t n = 0;
    for (; n < units; ++n) {
        char16_t c = static_cast<char16_t>(data[2 * n] | (data[2 * n + 1] << 8));
        if (c == 0) break;
        if (folder && (c == 0xFFFF || c == u'\\')) c = u'/';
        text[n] = c;
    }
    text[n] = 0;
    return WideString::adopt(text);
}

// Level 3 starts with the word 4 (the width of its size fields); a level
// byte of 3 under any other first word is read as level 1.
bool isLevel3(const uint8_t* header) {
    return header[20] == 3 && get16(header) == 4;
}

// The whole header's length from its fixed fields (offsets 0-23, 0-27 for
// level 3). The OS-9/68k archiver leaves the length field's own two bytes
// out of a level-2 length: its last "next size" lies just behind the count.
// Level 3 gives 32 bits; callers bound it before they use it.
uint32_t headerLength(const uint8_t* header) {
    if (isLevel3(header)) return get32(header + 24);
    if (header[20] == 2) return get16(header) + (header[23] == 'K' ? 2u : 0u);
    return header[0] + 2u;
}

HeaderResult unknownHeader(RunReporter& reporter) {
    reporter.messageBox(BoxOwner::MainWindow, kTextUnknownHeader, kCaptionDefault, kBoxIconError);
    return HeaderResult::Bad;
}

}  // namespace

HeaderResult readEntryHeader(BinaryFile& file, ArchiveEntry& entry, RunReporter& reporter) {
    entry.clear();
    // Two bytes of slack: a 16-bit size field at the very end is read as
    // 32 bits and masked.
    uint8_t header[HeaderBufferSize + 2] = {};
    int64_t got = file.read(header, 1);
    if (got < 0) return unknownHeader(reporter);
    if (got != 1 || header[0] == 0) return HeaderResult::End;
    // A header cut short by the end of the file is damage, not the end.
    if (file.read(header + 1, 20) != 20) return unknownHeader(reporter);

    const uint8_t level = header[20];
    const bool level3 = isLevel3(header);
    // Levels 2 and 3 share the fixed fields: CRC at 21, OS id at 23, a Unix
    // time, a packed size of data only, every name in extended headers.
    const bool wide = level == 2 || level3;
    // The fields that give the header's length: to offset 23 for level 2
    // (at least 26 bytes long), to 27 for level 3 (at least 32).
    const uint32_t fixed = level3 ? 28 : level == 2 ? 24 : 21;
    if (file.read(header + 21, fixed - 21) != fixed - 21) return unknownHeader(reporter);
    const uint32_t piece = headerLength(header);
    // The fixed fields must fit in the header: anything shorter would make
    // "the rest" negative.
    if (piece < (level3 ? 32u : level == 2 ? 26u : 22u)) return unknownHeader(reporter);
    // Every header this reader cannot hold ends the run with the same box:
    // a run that stops early must never look finished to the user. A 32-bit
    // level-3 length is refused here before anything relies on it.
    if (piece > HeaderBufferSize) return unknownHeader(reporter);
    if (file.read(header + fixed, piece - fixed) != piece - fixed) return unknownHeader(reporter);

    std::memcpy(entry.method, header + 2, 5);
    entry.packedSize = get32(header + 7);
    entry.originalSize = get32(header + 11);
    const uint32_t stamp = get32(header + 15);
    entry.level = level;

    WideString folder, name;
    uint32_t nameLength = 0;
    uint32_t form;
    if (wide) {
        form = piece;
    } else {
        nameLength = header[21];
        if (nameLength + 20 > header[0]) return unknownHeader(reporter);
        form = header[0] - nameLength;
        name = WideString::fromNarrow(reinterpret_cast<const char*>(header + 22), nameLength);
    }
    const uint32_t crcAt = wide ? 21 : 22 + nameLength;
    if (form >= 22 && form != 23) {
        entry.crc = get16(header + crcAt);
        entry.hasCrc = true;
        if (form >= 24) entry.osId = header[crcAt + 2];
    } else if (form != 20) {
        return unknownHeader(reporter);
    }

    if (level != 0) {
        bool utf16Name = false, utf16Folder = false;
        // Each extended header ends in the size of the next one: 16 bits,
        // 32 for level 3.
        const uint32_t sizeWidth = level3 ? 4 : 2;
        const uint32_t sizeMask = level3 ? 0xFFFFFFFFu : 0xFFFFu;
        // The first byte of the next extended header; its size field (the
        // first one in the fixed fields) lies just before it.
        uint32_t at = level3 ? 32 : level == 2 ? 26 : piece;
        const uint32_t limit = wide ? piece : HeaderBufferSize;
        uint64_t extendedTotal = 0;
        for (;;) {
            const uint32_t size = get32(header + at - sizeWidth) & sizeMask;
            if (size == 0) break;
            // Smaller than the type byte and the next size: no layout we know.
            if (size < 1 + sizeWidth) return unknownHeader(reporter);
            // at never passes limit, so this cannot wrap, whatever 32 bits say.
            if (size > limit - at) return unknownHeader(reporter);
            if (!wide && file.read(header + at, size) != size) return unknownHeader(reporter);
            const uint8_t* data = header + at + 1;
            const uint32_t dataSize = size - 1 - sizeWidth;
            switch (header[at]) {
                case 0x01:
                    if (!utf16Name)
                        name =
                            WideString::fromNarrow(reinterpret_cast<const char*>(data), dataSize);
                    break;
                case 0x02:
                    if (!utf16Folder) folder = narrowFolder(data, dataSize);
                    break;
                case 0x44:
                    name = utf16Text(data, dataSize, false);
                    utf16Name = true;
                    break;
                case 0x45:
                    folder = utf16Text(data, dataSize, true);
                    utf16Folder = true;
                    break;
                default:
                    break;
            }
            extendedTotal += size;
            at += size;
        }
        if (!wide) {
            // The stored size counts the extended headers; more of them than
            // data is a header that contradicts itself.
            if (extendedTotal > entry.packedSize) return unknownHeader(reporter);
            entry.packedSize -= static_cast<uint32_t>(extendedTotal);
        }
    }

    entry.path = folder;
    // Some archivers end a folder header without its separator: the name
    // still goes inside that folder, not onto the end of its name.
    if (!folder.isEmpty() && !name.isEmpty()) entry.path.appendIfMissing(u'/');
    entry.path.append(name);
    entry.modifiedTime =
        wide ? static_cast<int64_t>(static_cast<int32_t>(stamp)) : dosStampToTime(stamp);
    return HeaderResult::Member;
}

uint32_t sumOriginalSizes(BinaryFile& file, uint32_t perMember) {
    const int64_t start = file.position();
    const int64_t end = file.size();
    int64_t at = start;
    uint32_t total = 0;
    while (at >= 0 && at < end) {
        // Zero-filled: a header cut short by the end of the file reads no
        // stale length from the one before.
        uint8_t header[28] = {};
        if (file.read(header, 1) != 1 || header[0] == 0) break;
        if (file.read(header + 1, 27) < 20) break;
        total += get32(header + 11) + perMember;
        const uint32_t length = headerLength(header);
        // 64-bit arithmetic: a huge packed size cannot wrap back onto this header.
        const int64_t next = at + length + static_cast<int64_t>(get32(header + 7));
        if (next <= at || next > end || !file.moveTo(next)) break;
        at = next;
    }
    file.moveTo(start);
    return total;
}

int64_t dosStampToTime(uint32_t stamp) {
    static const int16_t DaysBeforeMonth[12] = {0,   31,  59,  90,  120, 151,
                                                181, 212, 243, 273, 304, 334};
    if (stamp == 0) return 0;
    const int64_t seconds2 = stamp & 0x1F;
    const int64_t minute = (stamp >> 5) & 0x3F;
    const int64_t hour = (stamp >> 11) & 0x1F;
    const int64_t day = (stamp >> 16) & 0x1F;
    const uint32_t month = (stamp >> 21) & 0x0F;
    const int64_t y = (stamp >> 25) & 0x7F;
    // Month 0 or 13-15 and day 0 name no date: treated like a missing stamp.
    if (month == 0 || month > 12 || day == 0) return 0;
    int64_t days = 365 * (y + 10) + (y + 11) / 4 + DaysBeforeMonth[month - 1] + (day - 1);
    if ((1980 + y) % 4 == 0 && month >= 3) ++days;
    // 64-bit throughout: stamps after 2038 stay in the future.
    return ((days * 24 + hour) * 60 + minute) * 60 + 2 * seconds2 + platform::timezoneOffset();
}

}  // namespace qorn
