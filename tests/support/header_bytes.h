// Builds LHA member headers byte by byte for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorn::corpus {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// An extended header: type, data, and the size of the next one (filled in
// by level1/level2 below).
struct Extended {
    uint8_t type;
    Bytes data;
};

// Level 0 or 1 base header. `extra` bytes follow the name (CRC, OS id, ...);
// H is computed from them. Level 1 appends the first extended-header size
// and the extended headers themselves.
inline Bytes level01(int level, const char* method, uint32_t packed, uint32_t original,
                     uint32_t stamp, const std::string& name, const Bytes& extra,
                     const std::vector<Extended>& extended = {}) {
    Bytes b;
    b.push_back(0);  // H, filled below
    b.push_back(0);  // checksum, not checked
    b.insert(b.end(), method, method + 5);
    uint32_t extTotal = 0;
    for (const Extended& e : extended) extTotal += static_cast<uint32_t>(e.data.size()) + 3;
    put32(b, packed + (level == 1 ? extTotal : 0));
    put32(b, original);
    put32(b, stamp);
    b.push_back(0x20);
    b.push_back(static_cast<uint8_t>(level));
    b.push_back(static_cast<uint8_t>(name.size()));
    b.insert(b.end(), name.begin(), name.end());
    b.insert(b.end(), extra.begin(), extra.end());
    if (level == 1) put16(b, extended.empty() ? 0 : extended[0].data.size() + 3);
    b[0] = static_cast<uint8_t>(b.size() - 2);
    for (size_t i = 0; i < extended.size(); ++i) {
        b.push_back(extended[i].type);
        b.insert(b.end(), extended[i].data.begin(), extended[i].data.end());
        put16(b, i + 1 < extended.size() ? extended[i + 1].data.size() + 3 : 0);
    }
    return b;
}

inline Bytes level2(const char* method, uint32_t packed, uint32_t original, uint32_t time,
                    uint16_t crc, const std::vector<Extended>& extended, int pad = 0) {
    Bytes b;
    put16(b, 0);  // L, filled below
    b.insert(b.end(), method, method + 5);
    put32(b, packed);
    put32(b, original);
    put32(b, time);
    b.push_back(0x20);
    b.push_back(2);
    put16(b, crc);
    b.push_back('U');
    put16(b, extended.empty() ? 0 : extended[0].data.size() + 3);
    for (size_t i = 0; i < extended.size(); ++i) {
        b.push_back(extended[i].type);
        b.insert(b.end(), extended[i].data.begin(), extended[i].data.end());
        put16(b, i + 1 < extended.size() ? extended[i + 1].data.size() + 3 : 0);
    }
    for (int i = 0; i < pad; ++i) b.push_back(0);
    b[0] = static_cast<uint8_t>(b.size());
    b[1] = static_cast<uint8_t>(b.size() >> 8);
    return b;
}

// Level 3: first word 4, 32-bit header length at 24, extended headers that
// each end in a 32-bit size of the next one.
inline Bytes level3(const char* method, uint32_t packed, uint32_t original, uint32_t time,
                    uint16_t crc, const std::vector<Extended>& extended) {
    Bytes b;
    put16(b, 4);
    b.insert(b.end(), method, method + 5);
    put32(b, packed);
    put32(b, original);
    put32(b, time);
    b.push_back(0x20);
    b.push_back(3);
    put16(b, crc);
    b.push_back('2');
    put32(b, 0);  // header length, filled below
    put32(b, extended.empty() ? 0 : extended[0].data.size() + 5);
    for (size_t i = 0; i < extended.size(); ++i) {
        b.push_back(extended[i].type);
        b.insert(b.end(), extended[i].data.begin(), extended[i].data.end());
        put32(b, i + 1 < extended.size() ? extended[i + 1].data.size() + 5 : 0);
    }
    for (int i = 0; i < 4; ++i) b[24 + i] = static_cast<uint8_t>(b.size() >> (8 * i));
    return b;
}

inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
inline Bytes utf16(const std::u16string& s) {
    Bytes b;
    for (char16_t c : s) put16(b, c);
    return b;
}

}  // namespace qorn::corpus
