// Little-endian fields in byte vectors: member headers, PE resources, icon
// files and version blocks all store their numbers this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qorn::encode {

inline uint16_t get16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return get16(b, at) | (static_cast<uint32_t>(get16(b, at + 2)) << 16);
}
inline void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
inline void set16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    set16(b, at, v & 0xFFFF);
    set16(b, at + 2, v >> 16);
}

}  // namespace qorn::encode
