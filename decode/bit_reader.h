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
