// Bit input.
//
// The stream is read most significant bit first. Decoders peek at
// bitBuffer(), the next 16 bits, and consume what they used with
// fillBuffer(n). Once the member's packed bytes are used up every further
// bit is 0; the output loop stops a decoder that goes on taking them.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// The bit reader. Its state (BitWindow) is the window, the next bits of the stream with
// the first in the top bit, and its count, how many of those bits are the
// stream's; below the count the window may hold zeros or the stream's next
// bits. A decoder peeks at the top 16 bits (16 are always held) and takes
// n bits at a time, and a take refills first when fewer than n + 16 are
// held. The reader comes in two variants that refill at the same takes, so
// where a member's data ends early both stop at the same symbol:
//
// - careful: the state in the decoder context (bitBuffer, fillBuffer and
//   getBits above on the context itself; CarefulBits with the state held in
//   locals), refilled by refillBits: a word at a time while the buffer
//   holds one, else byte by byte, reading the file when the buffer runs
//   empty and zeros past the member's data. Any input, anywhere.
// - fast (FastBits, native build only): the state in locals, refilled by
//   one unaligned word load with no check, for the fused loops that have
//   made sure the input holds their margin (kInputMargin below).
#ifdef QORN_WINDOW_DECODER
// The reader's state in locals, for both variants: the window and its
// count less the 16 bits always kept.
struct BitWindow {
    uint64_t window;
    int spare;

    uint16_t peek() const { return static_cast<uint16_t>(window >> 48); }
    unsigned top(unsigned n) const { return static_cast<unsigned>(window >> (64 - n)); }
    // The take itself, once the caller has refilled where the rule says.
    void drop(unsigned n) {
        window <<= n;
        spare -= static_cast<int>(n);
    }
};

class CarefulBits : BitWindow {
  public:
    explicit CarefulBits(DecodeSession& s) : BitWindow{s.bitWindow, s.bitCount - 16}, s_(s) {}
    ~CarefulBits() {
        s_.bitWindow = window;
        s_.bitCount = spare + 16;
    }
    CarefulBits(const CarefulBits&) = delete;
    CarefulBits& operator=(const CarefulBits&) = delete;

    using BitWindow::peek;
    // fillBuffer for n of at most 32.
    void consume(unsigned n) {
        assert(n <= 32);
        if (spare < static_cast<int>(n)) {
            s_.bitWindow = window;
            s_.bitCount = spare + 16;
            refillBits(s_);
            window = s_.bitWindow;
            spare = s_.bitCount - 16;
        }
        drop(n);
    }
    uint16_t get(unsigned n) {
        if (n == 0) return 0;
        const uint16_t v = static_cast<uint16_t>(peek() >> (16 - n));
        consume(n);
        return v;
    }

  private:
    DecodeSession& s_;
};
#else
// The stub keeps its size: the same steps on the context itself.
class CarefulBits {
  public:
    explicit CarefulBits(DecodeSession& s) : s_(s) {}
    CarefulBits(const CarefulBits&) = delete;
    CarefulBits& operator=(const CarefulBits&) = delete;

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

#ifdef QORN_WINDOW_DECODER
inline uint64_t loadBigEndian(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// The fast variant: the context's state in locals, for a loop that starts
// a symbol only with `margin` bytes left both in the input buffer and in
// the member, and so never needs refillBits' checks.
struct FastBits : BitWindow {
    const uint8_t* in;
    // Where symbols stop being safe to start: `margin` bytes before the end
    // of the buffer's valid bytes or of the member, whichever comes first
    // (at `in` when fewer are left).
    const uint8_t* fastEnd;
    // For a loop that also stops on its output: its limit while in is
    // before fastEnd; a refill that reaches fastEnd clears it, so the loop
    // ends with the symbol at hand.
    uint8_t* limit;
#ifndef NDEBUG
    const uint8_t* dataEnd;  // no refill reads past it
#endif

    FastBits(const DecodeSession& s, unsigned margin, uint8_t* outputLimit = nullptr)
        : BitWindow{s.bitWindow, s.bitCount - 16} {
        assert(spare >= 0);
        in = s.inputBuffer + s.inputPosition;
        const uint64_t valid = s.inputValid - s.inputPosition;
        const uint64_t avail = valid < s.packedRemaining ? valid : s.packedRemaining;
        fastEnd = avail > margin ? in + (avail - margin) : in;
        limit = in < fastEnd ? outputLimit : nullptr;
#ifndef NDEBUG
        dataEnd = in + avail;
#endif
    }
    // Hands the state back to the context, the bits below the count
    // cleared as refillBits keeps them.
    void store(DecodeSession& s) const {
        const uint64_t taken = static_cast<uint64_t>(in - (s.inputBuffer + s.inputPosition));
        s.bitWindow = window & (~uint64_t{0} << (48 - spare));
        s.bitCount = spare + 16;
        s.inputPosition += taken;
        s.packedRemaining -= taken;
    }
    // refillBits' word path: as many whole bytes as fit. The bits of the
    // next bytes that also land below the count are the stream's own, so
    // the next refill ORs the same bits over them; store() clears them.
    void refillCounted() {
        assert(in + kRefillBytes <= dataEnd);
        window |= loadBigEndian(in) >> (spare + 16);
        in += (48 - spare) >> 3;
        spare = 48 - ((-spare) & 7);
    }
    // The same where the loop watches limit.
    void refill() {
        refillCounted();
        if (in >= fastEnd) limit = nullptr;
    }
    // A take in a stretch whose input was counted before it began.
    void consumeCounted(unsigned n) {
        assert(n <= 32);
        if (spare < static_cast<int>(n)) refillCounted();
        drop(n);
    }
    // A take that clears limit at fastEnd.
    void consume(unsigned n) {
        assert(n <= 32);
        if (spare < static_cast<int>(n)) refill();
        drop(n);
    }
};
#endif

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
