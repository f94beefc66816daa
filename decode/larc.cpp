// -lzs- and -lz5-: LZSS without Huffman coding.
//
// A match names an absolute place in a ring whose first written byte sits at
// 2031 (-lzs-) or 4078 (-lz5-); the position operations turn it into the
// distance the output loop wants.
#include <cstring>

#include "decode/bit_reader.h"
#include "decode/decoders.h"

namespace qorn {

uint32_t matchPosition;
uint32_t flagByte;
uint32_t flagsLeft;

namespace {

// -lz5- takes whole bytes, but never more than the member holds: past its
// data it reads zeros, counted as the bit reader counts them.
uint8_t nextByte(DecodeSession& s) {
    if (s.packedRemaining == 0) {
        ++s.zeroBytes;
        return 0;
    }
    --s.packedRemaining;
    return readInputByte(s);
}
}  // namespace

void startLzs(DecodeSession& s) {
    initBitReader(s);
}

uint16_t decodeLzsCode(DecodeSession& s) {
    if (getBits(s, 1)) return getBits(s, 8);
    matchPosition = getBits(s, 11);
    return static_cast<uint16_t>(256 + getBits(s, 4));
}

uint16_t decodeLzsPosition(DecodeSession& s) {
    return static_cast<uint16_t>((s.dictionaryPosition - matchPosition - 18) & 2047);
}

void startLz5(DecodeSession& s) {
    flagsLeft = 0;
    uint8_t* d = s.dictionary;
    for (int v = 0; v < 256; ++v) std::memset(d + 18 + 13 * v, v, 13);
    for (int v = 0; v < 256; ++v) {
        d[3346 + v] = static_cast<uint8_t>(v);
        d[3602 + v] = static_cast<uint8_t>(255 - v);
    }
    std::memset(d + 3858, 0, 128);
}

uint16_t decodeLz5Code(DecodeSession& s) {
    if (flagsLeft == 0) {
        flagsLeft = 8;
        flagByte = nextByte(s);
    }
    --flagsLeft;
    uint16_t result = nextByte(s);
    if ((flagByte & 1) == 0) {
        matchPosition = result;
        const uint8_t d = nextByte(s);
        matchPosition += (d & 0xF0u) << 4;
        result = static_cast<uint16_t>(256 + (d & 0x0F));
    }
    flagByte >>= 1;
    return result;
}

uint16_t decodeLz5Position(DecodeSession& s) {
    return static_cast<uint16_t>((s.dictionaryPosition - matchPosition - 19) & 4095);
}

}  // namespace qorn
