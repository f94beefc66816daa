#include "decode/bit_reader.h"

namespace qorn {

uint8_t readInputByte(DecodeSession& s) {
    if (s.inputPosition >= s.inputValid) {
        if (s.inputPosition < s.inputBufferSize || s.inputBufferSize == 0) {
            // The last read came up short (or there is no buffer): the payload
            // ended inside the member.
            s.inputShort = true;
            return 0;
        }
        int64_t got =
            s.inputFile ? s.inputFile->read(s.inputBuffer, static_cast<uint32_t>(s.inputBufferSize))
                        : -1;
        s.inputValid = got > 0 ? static_cast<uint64_t>(got) : 0;
        s.inputPosition = 0;
        if (s.inputValid == 0) {
            s.inputShort = true;
            return 0;
        }
    }
    return s.inputBuffer[s.inputPosition++];
}

void refillBits(DecodeSession& s) {
    // Whole bytes while the buffer holds them, eight at a time.
    int want = (64 - s.bitCount) >> 3;
    if (s.packedRemaining >= static_cast<uint64_t>(want) && s.inputPosition + 8 <= s.inputValid) {
        const uint8_t* p = s.inputBuffer + s.inputPosition;
        uint64_t word = (uint64_t(p[0]) << 56) | (uint64_t(p[1]) << 48) | (uint64_t(p[2]) << 40) |
                        (uint64_t(p[3]) << 32) | (uint64_t(p[4]) << 24) | (uint64_t(p[5]) << 16) |
                        (uint64_t(p[6]) << 8) | uint64_t(p[7]);
        int keep = 8 * want;  // bits of word that are taken
        word >>= 64 - keep;
        s.bitWindow |= word << (64 - keep - s.bitCount);
        s.bitCount += keep;
        s.inputPosition += static_cast<uint64_t>(want);
        s.packedRemaining -= static_cast<uint64_t>(want);
        return;
    }
    while (s.bitCount <= 56) {
        uint8_t byte = 0;
        if (s.packedRemaining != 0) {
            --s.packedRemaining;
            byte = readInputByte(s);
        } else {
            ++s.zeroBytes;
        }
        s.bitWindow |= uint64_t(byte) << (56 - s.bitCount);
        s.bitCount += 8;
    }
}

void initBitReader(DecodeSession& s) {
    s.bitWindow = 0;
    s.bitCount = 0;
    refillBits(s);
}

}  // namespace qorn
