#include "encode/member_header.h"

#include <algorithm>
#include <ctime>

#include "base/crc16.h"
#include "encode/le_bytes.h"
#include "encode/lzh_encoder.h"
#include "platform/host_files.h"

namespace qorn::encode {

namespace {

// The reader parses a header in a buffer of this size; a longer one would
// end every extraction at this member.
constexpr size_t kMaxHeaderBytes = 4096;
constexpr uint8_t kOsId = 'W';

// Strict UTF-8 to UTF-16: names that are not valid UTF-8 cannot be given a
// UTF-16 name, so they are refused rather than guessed.
bool toUtf16(const std::string& text, std::u16string& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        uint32_t cp = *p++;
        int extra = 0;
        uint32_t minimum = 0;
        if (cp >= 0xF8) return false;
        if (cp >= 0xF0)
            cp &= 0x07, extra = 3, minimum = 0x10000;
        else if (cp >= 0xE0)
            cp &= 0x0F, extra = 2, minimum = 0x800;
        else if (cp >= 0xC0)
            cp &= 0x1F, extra = 1, minimum = 0x80;
        else if (cp >= 0x80)
            return false;
        for (; extra > 0; --extra) {
            if (p >= end || (*p & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (*p++ & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return true;
}

uint32_t dosStamp(int64_t t) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm;
    if (!localtime_r(&tt, &tm) || tm.tm_year < 80) return (1u << 21) | (1u << 16);
    if (tm.tm_year > 207) tm.tm_year = 207;
    return (static_cast<uint32_t>(tm.tm_year - 80) << 25) |
           (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
           (static_cast<uint32_t>(tm.tm_mday) << 16) | (static_cast<uint32_t>(tm.tm_hour) << 11) |
           (static_cast<uint32_t>(tm.tm_min) << 5) | static_cast<uint32_t>(tm.tm_sec / 2);
}

struct Extension {
    uint8_t type;
    std::vector<uint8_t> data;
};

void addText(std::vector<Extension>& ext, uint8_t type, const std::string& text) {
    ext.push_back({type, std::vector<uint8_t>(text.begin(), text.end())});
}

void addUtf16(std::vector<Extension>& ext, uint8_t type, const std::u16string& text) {
    Extension e{type, {}};
    for (char16_t c : text) put16(e.data, c);
    ext.push_back(e);
}

// Bytes of a chain of extended headers, each followed by the size of the next.
void appendExtensions(std::vector<uint8_t>& b, const std::vector<Extension>& ext) {
    for (size_t i = 0; i < ext.size(); ++i) {
        b.push_back(ext[i].type);
        b.insert(b.end(), ext[i].data.begin(), ext[i].data.end());
        put16(b, i + 1 < ext.size() ? static_cast<uint32_t>(ext[i + 1].data.size() + 3) : 0);
    }
}

uint8_t checksum(const std::vector<uint8_t>& b, size_t from, size_t to) {
    unsigned sum = 0;
    for (size_t i = from; i < to; ++i) sum += b[i];
    return static_cast<uint8_t>(sum);
}

}  // namespace

bool buildHeader(const MemberHeader& m, int level, const std::string& codePage,
                 std::vector<uint8_t>& b, std::string& error) {
    prepareEncoder();
    b.clear();
    const size_t slash = m.folder ? m.path.size() : m.path.rfind('/') + 1;
    const std::string folder = m.path.substr(0, slash), name = m.path.substr(slash);
    std::u16string folder16, name16;
    if (!toUtf16(folder, folder16) || !toUtf16(name, name16)) {
        error = m.path + ": the name is not valid UTF-8";
        return false;
    }
    const bool plainAscii = std::all_of(
        m.path.begin(), m.path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    // Readers without UTF-16 support still get the name, in UTF-8, when the
    // code page has no room for it.
    std::string folderAnsi, nameAnsi;
    if (!host::toCodePage(folder, codePage, folderAnsi)) folderAnsi = folder;
    if (!host::toCodePage(name, codePage, nameAnsi)) nameAnsi = name;
    const char* method = m.folder ? "-lhd-" : m.method;
    const uint32_t stamp = dosStamp(m.modifiedTime);
    const uint8_t attribute = m.folder ? 0x10 : 0x20;

    if (level == 0) {
        std::string full = folderAnsi;
        std::replace(full.begin(), full.end(), '/', '\\');
        full += nameAnsi;
        if (full.size() > 233) {
            error = m.path + ": the path is too long for a level-0 header (233 bytes at most)";
            return false;
        }
        b.resize(2);
        b.insert(b.end(), method, method + 5);
        put32(b, m.packedSize);
        put32(b, m.originalSize);
        put32(b, stamp);
        b.push_back(attribute);
        b.push_back(0);
        b.push_back(static_cast<uint8_t>(full.size()));
        b.insert(b.end(), full.begin(), full.end());
        put16(b, m.crc);
        b[0] = static_cast<uint8_t>(b.size() - 2);
        b[1] = checksum(b, 2, b.size());
        return true;
    }

    std::vector<Extension> ext;
    if (level == 2) ext.push_back({0x00, {0, 0}});
    if (level == 2 && !name.empty()) addText(ext, 0x01, nameAnsi);
    if (!folder.empty()) {
        std::string f = folderAnsi;
        std::replace(f.begin(), f.end(), '/', '\xFF');
        addText(ext, 0x02, f);
    }
    if (!plainAscii) {
        if (!name16.empty()) addUtf16(ext, 0x44, name16);
        if (!folder16.empty()) {
            std::replace(folder16.begin(), folder16.end(), u'/', u'\xFFFF');
            addUtf16(ext, 0x45, folder16);
        }
    }
    if (level == 2) {
        // Windows time stamps: creation, last write, last access. All three
        // are the modification time, so packing leaves no trace of when.
        const uint64_t ft = (static_cast<uint64_t>(m.modifiedTime) + 11644473600ull) * 10000000ull;
        Extension times{0x41, {}};
        for (int k = 0; k < 3; ++k) {
            put32(times.data, static_cast<uint32_t>(ft));
            put32(times.data, static_cast<uint32_t>(ft >> 32));
        }
        ext.push_back(times);
    }
    for (const Extension& e : ext)
        if (e.data.size() + 3 > 0xFFFF) {
            error = m.path + ": the name is too long for the header";
            return false;
        }
    const uint32_t firstSize = ext.empty() ? 0 : static_cast<uint32_t>(ext[0].data.size() + 3);

    if (level == 1) {
        if (nameAnsi.size() > 230) {
            error = m.path + ": the name is too long for a level-1 header (230 bytes at most)";
            return false;
        }
        uint64_t extBytes = 0;
        for (const Extension& e : ext) extBytes += e.data.size() + 3;
        if (m.packedSize + extBytes > kMaxMemberSize) {
            error = m.path + ": the member is too large for a level-1 header";
            return false;
        }
        b.resize(2);
        b.insert(b.end(), method, method + 5);
        put32(b, static_cast<uint32_t>(m.packedSize + extBytes));
        put32(b, m.originalSize);
        put32(b, stamp);
        b.push_back(attribute);
        b.push_back(1);
        b.push_back(static_cast<uint8_t>(nameAnsi.size()));
        b.insert(b.end(), nameAnsi.begin(), nameAnsi.end());
        put16(b, m.crc);
        b.push_back(kOsId);
        put16(b, firstSize);
        b[0] = static_cast<uint8_t>(b.size() - 2);
        b[1] = checksum(b, 2, b.size());
        appendExtensions(b, ext);
    } else {
        b.resize(2);
        b.insert(b.end(), method, method + 5);
        put32(b, m.packedSize);
        put32(b, m.originalSize);
        put32(b, static_cast<uint32_t>(m.modifiedTime));
        b.push_back(0x20);
        b.push_back(2);
        put16(b, m.crc);
        b.push_back(kOsId);
        put16(b, firstSize);
        appendExtensions(b, ext);
        // A length whose low byte is 0 would read as the end of the archive.
        if ((b.size() & 0xFF) == 0) b.push_back(0);
        set16(b, 0, static_cast<uint32_t>(b.size()));
    }
    if (b.size() > kMaxHeaderBytes) {
        error = m.path + ": the path is too long for the header (4096 bytes at most)";
        return false;
    }
    if (level == 2) {
        // Header CRC over the whole header, its own field counted as 0.
        uint16_t crc = 0;
        updateCrc(crc, b.data(), static_cast<uint32_t>(b.size()));
        set16(b, 27, crc);
    }
    return true;
}

}  // namespace qorn::encode
