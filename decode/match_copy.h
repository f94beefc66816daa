// Match copies of the native build's window loop: the window always has
// room behind its end for a copy's overshoot.
#pragma once

#include <cstdint>
#include <cstring>

namespace qorn {

// Copies a match of length bytes from distance bytes back; distance is
// 1..dictionarySize and the window has room for up to 15 bytes of
// overshoot past the match, which later output overwrites.
inline uint8_t* copyMatch(uint8_t* out, uint32_t distance, uint32_t length) {
    uint8_t* const end = out + length;
    if (distance < 8) {
        if (distance == 1) {
            const uint64_t v = 0x0101010101010101ull * *(out - 1);
            do {
                std::memcpy(out, &v, 8);
                out += 8;
            } while (out < end);
            return end;
        }
        // A short period: its first bytes one at a time, then words from a
        // whole number of periods back, which hold the same bytes.
        static const uint8_t kPeriods[8] = {0, 8, 8, 9, 8, 10, 12, 14};
        const uint32_t periods = kPeriods[distance];
        const uint8_t* src = out - distance;
        uint8_t* const head = out + (periods < length ? periods : length);
        while (out < head) *out++ = *src++;
        if (out >= end) return end;
        distance = periods;
    }
    // Each word is read whole before it is written, and reads only bytes at
    // least a word behind the write: 16 bytes at a time from 16 or more back,
    // else 8.
    const uint8_t* src = out - distance;
    if (distance >= 16) {
        do {
            uint8_t v[16];
            std::memcpy(v, src, 16);
            std::memcpy(out, v, 16);
            out += 16;
            src += 16;
        } while (out < end);
        return end;
    }
    do {
        uint64_t v;
        std::memcpy(&v, src, 8);
        std::memcpy(out, &v, 8);
        out += 8;
        src += 8;
    } while (out < end);
    return end;
}

// Most matches are short and from further back than 16 bytes: one
// 16-byte copy, whatever the length up to 16.
inline uint8_t* copyShortMatch(uint8_t* out, uint32_t distance, uint32_t length) {
    if (distance >= 16 && length <= 16) {
        uint8_t v[16];
        std::memcpy(v, out - distance, 16);
        std::memcpy(out, v, 16);
        return out + length;
    }
    return copyMatch(out, distance, length);
}

// Distance of a match from the operations' d (distance minus one), in a
// ring of mask + 1 bytes: d and d plus any multiple of the ring's size
// name the same byte.
inline uint32_t ringDistance(uint32_t d, uint32_t mask) {
    return (d & mask) + 1;
}

}  // namespace qorn
