// CRC-16 by carry-less multiplication, for processors that have it (native
// build only). The message is folded 64 bytes at a time into four 128-bit
// remainders that agree with it modulo the polynomial; the last remainder's
// 16 bytes then go through the table fold, which yields the CRC.
//
// Bit order: the CRC is reflected, so in a 128-bit lane loaded from memory
// bit k stands for x^(127 - k). A product of two 64-bit halves in that order
// comes out one place short (bit m stands for x^(126 - m)), which the
// constants below make up by being x^(n - 1) mod P instead of x^n mod P.
//
// Only x86 processors have these instructions; elsewhere the tables do it all.
#include "base/crc16.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace qorn {

namespace {

// x^n mod P, P = x^16 + x^15 + x^2 + 1, with bit i standing for x^i.
constexpr uint32_t powerMod(unsigned n) {
    uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x10000) r ^= 0x18005;
    }
    return r;
}

// A polynomial of degree below 16 in a 64-bit half, bit j standing for x^(63 - j).
constexpr uint64_t half(uint32_t v) {
    uint64_t r = 0;
    for (int i = 0; i < 16; ++i)
        if ((v >> i) & 1) r |= uint64_t{1} << (63 - i);
    return r;
}

// Multiplying a lane by x^d: its first half (the higher powers) by
// x^(64 + d), its second half by x^d.
constexpr uint64_t kFold128First = half(powerMod(64 + 128 - 1));
constexpr uint64_t kFold128Second = half(powerMod(128 - 1));
constexpr uint64_t kFold512First = half(powerMod(64 + 512 - 1));
constexpr uint64_t kFold512Second = half(powerMod(512 - 1));

// Every helper carries the target of its caller: a 32-bit build's baseline
// has no SSE2, and a function of another target cannot be inlined.
__attribute__((target("pclmul,sse2"))) inline __m128i load(const uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i lane, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) uint16_t foldLanes(uint16_t crc, const uint8_t* p,
                                                          size_t count) {
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512Second),
                                        static_cast<long long>(kFold512First));
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128Second),
                                        static_cast<long long>(kFold128First));
    // The CRC so far joins the message's first two bytes.
    __m128i a = _mm_xor_si128(load(p), _mm_cvtsi32_si128(crc));
    __m128i b = load(p + 16), c = load(p + 32), d = load(p + 48);
    p += 64;
    count -= 64;
    for (; count >= 64; p += 64, count -= 64) {
        a = _mm_xor_si128(fold(a, k512), load(p));
        b = _mm_xor_si128(fold(b, k512), load(p + 16));
        c = _mm_xor_si128(fold(c, k512), load(p + 32));
        d = _mm_xor_si128(fold(d, k512), load(p + 48));
    }
    a = _mm_xor_si128(fold(a, k128), b);
    a = _mm_xor_si128(fold(a, k128), c);
    a = _mm_xor_si128(fold(a, k128), d);
    for (; count >= 16; p += 16, count -= 16) a = _mm_xor_si128(fold(a, k128), load(p));
    uint8_t rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), a);
    uint16_t result = 0;
    updateCrcByTables(result, rest, 16);
    updateCrcByTables(result, p, static_cast<uint32_t>(count));
    return result;
}

}  // namespace

bool crcFoldAvailable() {
    static const bool available = __builtin_cpu_supports("pclmul") != 0;
    return available;
}

uint16_t crcFold(uint16_t crc, const uint8_t* bytes, size_t count) {
    return foldLanes(crc, bytes, count);
}

}  // namespace qorn

#else

namespace qorn {

bool crcFoldAvailable() {
    return false;
}

// Not called where crcFoldAvailable() says no; the same result all the same.
uint16_t crcFold(uint16_t crc, const uint8_t* bytes, size_t count) {
    updateCrcByTables(crc, bytes, static_cast<uint32_t>(count));
    return crc;
}

}  // namespace qorn

#endif
