// -lzs- and -lz5-: LZSS without Huffman coding.
//
// A match names an absolute place in a ring whose first written byte sits at
// 2031 (-lzs-) or 4078 (-lz5-); the position operations turn it into the
// distance the output loop wants.
#include <cstring>

#include "decode/bit_reader.h"
#include "decode/decoders.h"

namespace qorn {

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

void startLzs(DecoderContext& s) {
    initBitReader(s);
}

uint16_t decodeLzsCode(DecoderContext& s) {
    if (getBits(s, 1)) return getBits(s, 8);
    s.matchPosition = getBits(s, 11);
    return static_cast<uint16_t>(256 + getBits(s, 4));
}

uint16_t decodeLzsPosition(DecoderContext& s) {
    return static_cast<uint16_t>((s.dictionaryPosition - s.matchPosition - 18) & 2047);
}

void startLz5(DecoderContext& s) {
    s.flagsLeft = 0;
    uint8_t* d = s.dictionary;
    for (int v = 0; v < 256; ++v) std::memset(d + 18 + 13 * v, v, 13);
    for (int v = 0; v < 256; ++v) {
        d[3346 + v] = static_cast<uint8_t>(v);
        d[3602 + v] = static_cast<uint8_t>(255 - v);
    }
    std::memset(d + 3858, 0, 128);
}

uint16_t decodeLz5Code(DecoderContext& s) {
    if (s.flagsLeft == 0) {
        s.flagsLeft = 8;
        s.flagByte = nextByte(s);
    }
    --s.flagsLeft;
    uint16_t result = nextByte(s);
    if ((s.flagByte & 1) == 0) {
        s.matchPosition = result;
        const uint8_t d = nextByte(s);
        s.matchPosition += (d & 0xF0u) << 4;
        result = static_cast<uint16_t>(256 + (d & 0x0F));
    }
    s.flagByte >>= 1;
    return result;
}

uint16_t decodeLz5Position(DecoderContext& s) {
    return static_cast<uint16_t>((s.dictionaryPosition - s.matchPosition - 19) & 4095);
}

}  // namespace qorn
