// Bit input.
//
// The stream is read most significant bit first. Decoders peek at
// bitBuffer(), the next 16 bits, and consume what they used with
// fillBuffer(n). Once the member's packed bytes are used up every further
// bit is 0; the output loop stops a decoder that goes on taking them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/decode_session.h"

namespace qorn {

// Next byte of the compressed-input buffer, refilled from the file when it
// runs empty. Bytes the file could not deliver read as 0.
uint8_t readInputByte(DecodeSession& s);

// Refills the window to at least 33 bits (bits past the data are zeros).
void refillBits(DecodeSession& s);

inline uint16_t bitBuffer(const DecodeSession& s) {
    return static_cast<uint16_t>(s.bitWindow >> 48);
}

inline void fillBuffer(DecodeSession& s, unsigned n) {
    while (n > 32) {
        // Only corrupt data asks for this many; move in steps the window holds.
        fillBuffer(s, 16);
        n -= 16;
    }
    if (s.bitCount < static_cast<int>(n) + 16) refillBits(s);
    s.bitWindow <<= n;
    s.bitCount -= static_cast<int>(n);
}

inline uint16_t getBits(DecodeSession& s, unsigned n) {
    if (n == 0) return 0;
    uint16_t v = static_cast<uint16_t>(bitBuffer(s) >> (16 - n));
    fillBuffer(s, n);
    return v;
}

#ifdef QORN_WINDOW_DECODER
// The window and its count held in locals, for loops that also store bytes
// (which, as far as the compiler knows, could change the session): the same
// rule as fillBuffer for n of at most 32, and written back when it goes.
class HeldBits {
  public:
    explicit HeldBits(DecodeSession& s) : s_(s), window_(s.bitWindow), count_(s.bitCount) {}
    ~HeldBits() {
        s_.bitWindow = window_;
        s_.bitCount = count_;
    }
    HeldBits(const HeldBits&) = delete;
    HeldBits& operator=(const HeldBits&) = delete;

    uint16_t peek() const { return static_cast<uint16_t>(window_ >> 48); }
    void consume(unsigned n) {
        if (count_ < static_cast<int>(n) + 16) {
            s_.bitWindow = window_;
            s_.bitCount = count_;
            refillBits(s_);
            window_ = s_.bitWindow;
            count_ = s_.bitCount;
        }
        window_ <<= n;
        count_ -= static_cast<int>(n);
    }
    uint16_t get(unsigned n) {
        if (n == 0) return 0;
        const uint16_t v = static_cast<uint16_t>(peek() >> (16 - n));
        consume(n);
        return v;
    }

  private:
    DecodeSession& s_;
    uint64_t window_;
    int count_;
};
#else
// The stub keeps its size: the same steps on the session itself.
class HeldBits {
  public:
    explicit HeldBits(DecodeSession& s) : s_(s) {}
    HeldBits(const HeldBits&) = delete;
    HeldBits& operator=(const HeldBits&) = delete;

    uint16_t peek() const { return bitBuffer(s_); }
    void consume(unsigned n) { fillBuffer(s_, n); }
    uint16_t get(unsigned n) { return getBits(s_, n); }

  private:
    DecodeSession& s_;
};
#endif

void initBitReader(DecodeSession& s);

// The widest symbols, and the margins of the native build's fused loops
// that follow from them. A fused loop refills as refillBits' word path
// does: it reads a whole 64-bit word at its input position and keeps what
// fits, so it must never start a refill within a word of the end of the
// data it may read.
constexpr unsigned kMaxCodeBits = 16;  // any Huffman code, -lh1- to -lh7-
// -lh4- to -lh7-: position code d stands for d - 1 extra bits; d is at most
// 16 (-lh7-, 17 codes).
constexpr unsigned kMaxPositionExtraBits = 15;
constexpr unsigned kRefillBytes = sizeof(uint64_t);
// A -lh4- to -lh7- symbol of table codes: literal/length code, position
// code and its extra bits.
constexpr unsigned kBlockSymbolBytes = (2 * kMaxCodeBits + kMaxPositionExtraBits + 7) / 8;
static_assert(kBlockSymbolBytes == 6, "the block loop plans its stretches at 6 bytes a symbol");
// A -lzs- item: a flag bit, then 8 bits, or 11 of position and 4 of length.
constexpr unsigned kLzsItemBytes = (1 + 11 + 4 + 7) / 8;
// A -lz5- group: a flag byte and eight items of at most two bytes.
constexpr unsigned kLz5GroupBytes = 1 + 8 * 2;
// Where a stretch stops, at most one more symbol's bytes have gone, and a
// refill then reads a word: the margin the fused loops keep to the end of
// the data.
constexpr unsigned kInputMargin = 16;
static_assert(kInputMargin >= kBlockSymbolBytes + kRefillBytes, "a block symbol's last refill");
static_assert(kInputMargin >= kLzsItemBytes + kRefillBytes, "an -lzs- item's last refill");
// -lh1-: a symbol takes its code (at most 32 bits in the loop; longer ones
// go to the operation), then its position code and 6 bits, each take
// refilling at most once: at most three refills of a word each.
constexpr unsigned kLh1RefillsPerSymbol = 3;
constexpr unsigned kAdaptiveMargin = kLh1RefillsPerSymbol * kRefillBytes;

// Bits the window may hold beyond the last one a valid stream uses: a
// decoder looks at 16 bits before it knows how many it takes.
constexpr int kLookAheadBits = 16;

// True once the decoder has consumed more of the zeros past the member's
// data than its look-ahead explains: the stream is not what its header says
// (a packed size of 0 for gigabytes of output, a cut or forged stream).
inline bool readPastData(const DecodeSession& s) {
    return s.zeroBytes != 0 && static_cast<int64_t>(s.zeroBytes) * 8 - s.bitCount > kLookAheadBits;
}

}  // namespace qorn
