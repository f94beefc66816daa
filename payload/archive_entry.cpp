#include "payload/archive_entry.h"

#include <cstring>

#include "platform/platform.h"

namespace qorn {

const char MethodIds[kMethodCount][6] = {"-lh0-", "-lh1-", "-lh2-", "-lh3-", "-lh4-", "-lh5-",
                                         "-lh6-", "-lh7-", "-lzs-", "-lz5-", "-lz4-", "-lhd-"};

int methodIndex(const char method[5]) {
    for (int i = 0; i < kMethodCount; ++i)
        if (std::memcmp(method, MethodIds[i], 5) == 0) return i;
    return -1;
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

uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
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

HeaderResult unknownHeader(RunReporter& reporter) {
    reporter.messageBox(BoxOwner::MainWindow, kTextUnknownHeader, kCaptionDefault, kBoxIconError);
    return HeaderResult::Bad;
}

}  // namespace

HeaderResult readEntryHeader(BinaryFile& file, ArchiveEntry& entry, RunReporter& reporter) {
    entry.clear();
    uint8_t header[HeaderBufferSize] = {};
    int64_t got = file.read(header, 1);
    if (got < 0) return unknownHeader(reporter);
    if (got != 1 || header[0] == 0) return HeaderResult::End;
    // A header cut short by the end of the file is damage, not the end.
    if (file.read(header + 1, 20) != 20) return unknownHeader(reporter);

    const uint8_t level = header[20];
    const bool level2 = level == 2;
    const uint32_t piece = level2 ? get16(header) : header[0] + 2u;
    // The fixed fields must fit in the header: anything shorter would make
    // "the rest" negative.
    if (level2 ? piece < 26 : piece < 22) return unknownHeader(reporter);
    // Every header this reader cannot hold ends the run with the same box:
    // a run that stops early must never look finished to the user.
    if (piece > HeaderBufferSize) return unknownHeader(reporter);
    if (file.read(header + 21, piece - 21) != piece - 21) return unknownHeader(reporter);

    std::memcpy(entry.method, header + 2, 5);
    entry.packedSize = get32(header + 7);
    entry.originalSize = get32(header + 11);
    const uint32_t stamp = get32(header + 15);
    entry.level = level;

    WideString folder, name;
    uint32_t nameLength = 0;
    uint32_t form;
    if (level2) {
        form = piece;
    } else {
        nameLength = header[21];
        if (nameLength + 20 > header[0]) return unknownHeader(reporter);
        form = header[0] - nameLength;
        name = WideString::fromNarrow(reinterpret_cast<const char*>(header + 22), nameLength);
    }
    const uint32_t crcAt = level2 ? 21 : 22 + nameLength;
    if (form >= 22 && form != 23) {
        entry.crc = get16(header + crcAt);
        entry.hasCrc = true;
        if (form >= 24) entry.osId = header[crcAt + 2];
    } else if (form != 20) {
        return unknownHeader(reporter);
    }

    if (level != 0) {
        bool utf16Name = false, utf16Folder = false;
        uint32_t sizeAt = level2 ? 24 : header[0];
        uint32_t at = level2 ? 26 : piece;  // first byte of the next extended header
        const uint32_t limit = level2 ? piece : HeaderBufferSize;
        uint64_t extendedTotal = 0;
        uint32_t size = get16(header + sizeAt);
        while (size != 0) {
            // Smaller than the type byte and the next size: no layout we know.
            if (size < 3) return unknownHeader(reporter);
            if (at + size > limit) return unknownHeader(reporter);
            if (!level2 && file.read(header + at, size) != size) return unknownHeader(reporter);
            const uint8_t* data = header + at + 1;
            const uint32_t dataSize = size - 3;
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
            size = get16(header + at - 2);
        }
        if (!level2) {
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
        level2 ? static_cast<int64_t>(static_cast<int32_t>(stamp)) : dosStampToTime(stamp);
    return HeaderResult::Member;
}

uint32_t sumOriginalSizes(BinaryFile& file) {
    const int64_t start = file.position();
    const int64_t end = file.size();
    int64_t at = start;
    uint32_t total = 0;
    uint8_t header[21];
    while (at >= 0 && at < end) {
        if (file.read(header, 1) != 1 || header[0] == 0) break;
        if (file.read(header + 1, 20) != 20) break;
        total += get32(header + 11);
        const uint32_t length = header[20] == 2 ? get16(header) : header[0] + 2u;
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
