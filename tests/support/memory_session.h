// A decode session fed from bytes in memory, for bit-level decoder tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "decode/decode_session.h"

namespace qorn::testenc {

// A session or decoder context of a test: all zero (or as constructed) to
// start with, its buffers released at the end.
template <class T>
struct Owned : T {
    Owned() : T() {}
    ~Owned() { this->releaseBuffers(); }
};

inline void feedSession(DecodeSession& s, const std::vector<uint8_t>& bytes, int dictionaryBits) {
    const size_t n = bytes.empty() ? 1 : bytes.size();
    s.inputBuffer = new uint8_t[n]();
    std::memcpy(s.inputBuffer, bytes.data(), bytes.size());
    s.inputBufferSize = n;
    s.inputValid = bytes.size();
    s.packedSize = s.packedRemaining = bytes.size();
    s.dictionaryBits = dictionaryBits;
    s.dictionarySize = 1u << dictionaryBits;
}

}  // namespace qorn::testenc
