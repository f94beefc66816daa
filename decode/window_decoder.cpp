// The output loop of the native build: the same symbols as
// decodeWithDictionary, written into a linear window instead of the ring,
// with one fused loop per method family for the stretches where nothing
// unusual can happen.
//
// The window holds the last dictionarySize bytes (at first the ring's
// starting contents) and then a chunk of new output that is flushed when
// full; match copies never wrap. The fused loops keep the bit reader in
// locals but refill it exactly as refillBits does, so at every point its
// state equals what the method's own operations would have left: they hand
// over to those operations for block headers, codes longer than the tables
// and the last bytes of the member or of the input buffer, and take over
// again after.
#include <cassert>
#include <cstring>
#include <new>
#include <type_traits>

#include "decode/bit_reader.h"
#include "decode/decoder_context.h"
#include "decode/decoders.h"
#include "decode/huffman_table.h"
#include "decode/long_codes.h"
#include "decode/match_copy.h"

namespace qorn {

namespace {

// The fused loops are built twice where the compiler can, the second time
// with the shifts that take their count from any register; the loader
// picks the one the processor runs.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QORN_VARIANTS __attribute__((target_clones("default", "bmi2")))
#else
#define QORN_VARIANTS
#endif

// Matches are at most this long (-lh2-'s escape), and in -lh4- to -lh7-;
// a copy writes up to this many bytes past its end (match_copy.h).
constexpr uint32_t kLongestMatch = 287;
constexpr uint32_t kBlockLongestMatch = 256;
constexpr uint32_t kLh1LongestMatch = 60;
constexpr uint32_t kCopyOvershoot = 16;
// Room behind the chunk for the longest match and the copy's overshoot.
constexpr uint32_t kSlack = 512;
static_assert(kSlack >= kLongestMatch + kCopyOvershoot, "the window's slack");
// A fused loop starts a symbol only with kInputMargin bytes left both in
// the input buffer and in the member (bit_reader.h).

struct Output {
    uint8_t* out;    // next byte
    uint8_t* limit;  // end of the chunk or of the member, whichever is nearer
    uint8_t* start;  // first byte of the chunk
    uint8_t* end;    // where the member ends, or a bound no match reaches
    uint32_t mask;
    bool overrun;
};

// The last match may run past the member's size: it is cut there. safe is
// a point before which no match reaches the end.
inline uint32_t fit(uint32_t length, const uint8_t* out, const uint8_t* safe, const uint8_t* end,
                    bool& overrun) {
    if (out < safe) return length;
    const uint64_t left = static_cast<uint64_t>(end - out);
    if (length > left) {
        overrun = true;
        return static_cast<uint32_t>(left);
    }
    return length;
}

// The rest of a position whose code d, of length bits, the table gave: the
// code's bits, then its extra bits. Counted: inside a stretch.
template <bool kCounted>
inline uint32_t tablePosition(const HuffmanTables& t, FastBits& b, uint32_t d, unsigned length) {
    const auto take = [&b](unsigned n) {
        if (kCounted)
            b.consumeCounted(n);
        else
            b.consume(n);
    };
    take(length);
    // No branch for codes 0 and 1: taking 0 bits moves nothing and never
    // refills, and the double shift reads 0 bits as 0.
    const unsigned extra = t.positionExtra[d];
    const uint32_t bits = static_cast<uint32_t>(b.window >> (63 - extra) >> 1);
    take(extra);
    return t.positionBase[d] + bits;
}

// -lh4- to -lh7-: as many codes as the block, the chunk and the input allow.
QORN_VARIANTS void staticHuffmanRun(DecoderContext& s, Output& o) {
    const HuffmanTables& t = s.tables;
    // The tables at fixed offsets from t, not in pointers of their own: one
    // base register for all four.
    uint8_t* const limit = o.limit;
    uint8_t* const end = o.end;
    uint8_t* const safe = end - kLongestMatch;
    const uint32_t mask = o.mask;
    FastBits b(s, kInputMargin, limit);
    uint32_t left = s.blockCodesLeft;
    uint8_t* out = o.out;
    const uint32_t positionCount = static_cast<uint32_t>(s.positionCodeCount);
    while (out < b.limit && left != 0) {
        // A stretch of symbols with no check of their own: as many as the
        // block holds and the input covers at the most bits a symbol of
        // table codes takes (16 + 16 + 15, within 6 bytes), so no refill
        // reads past the margin. A long code ends it before it is read; a
        // position walk after its match.
        //
        // In the output, while the room left holds many longest matches,
        // the stretch is as many symbols as it holds, and nothing is
        // checked. Near the end of a member or chunk that would make
        // stretches of a few symbols; there each match is followed by one
        // check instead: the stretch keeps room for a byte for each symbol
        // still to come and one longest match besides (half the room is
        // planned, so that takes a good part of it).
        uint32_t n = left;
        const uint32_t input = static_cast<uint32_t>((b.fastEnd - b.in) / kBlockSymbolBytes);
        if (input < n) n = input;
        const size_t space = static_cast<size_t>(limit - out);
        const size_t matches = space / kBlockLongestMatch;
        const bool roomy = matches >= 64 || matches >= n;
        if (roomy) {
            if (matches < n) n = static_cast<uint32_t>(matches);
        } else {
            const size_t room = space > kBlockLongestMatch ? (space - kBlockLongestMatch) / 2 : 0;
            if (room < n) n = static_cast<uint32_t>(room);
        }
        if (n != 0) {
            const uint32_t planned = n;
            bool replan = false;
            const auto stretch = [&](auto watchRoom) __attribute__((always_inline)) {
                do {
                    // Symbol and code length from one load (a literal's
                    // entry is its byte and its length).
                    const uint32_t e = t.literalTable[b.top(12)];
                    if ((e & kEntryValue & ~0xFFu) == 0) {
                        b.consumeCounted(e >> kEntryLengthShift);
                        *out++ = static_cast<uint8_t>(e);
                        continue;
                    }
                    const uint32_t c = e & kEntryValue;
                    if (c >= kLiteralSymbols) break;
                    b.consumeCounted(e >> kEntryLengthShift);
                    const uint32_t f = t.positionTable[b.top(8)];
                    uint32_t d = f & kEntryValue;
                    if (d >= positionCount) {
                        b.store(s);
                        d = decodeBlockPosition(s);
                        b = FastBits(s, kInputMargin, limit);
                        out = copyShortMatch(out, ringDistance(d, mask), c - 253);
                        replan = true;
                        --n;
                        break;
                    }
                    d = tablePosition<true>(t, b, d, f >> kEntryLengthShift);
                    out = copyShortMatch(out, ringDistance(d, mask), c - 253);
                    if (decltype(watchRoom)::value &&
                        static_cast<size_t>(limit - out) < n + kBlockLongestMatch) {
                        replan = true;
                        --n;
                        break;
                    }
                } while (--n != 0);
            };
            if (roomy)
                stretch(std::false_type());
            else
                stretch(std::true_type());
            left -= planned - n;
            if (b.in >= b.fastEnd) b.limit = nullptr;
            if (replan) {
                if (s.error) break;
                continue;
            }
            // A long code: the symbol goes the checked way below, unless
            // the stretch used up the margin a checked symbol starts with.
            if (n == 0 || !b.limit) continue;
        }
        --left;
        uint32_t c = entryValue(t.literalTable[b.top(12)]);
        if (c < kLiteralSymbols) {
            b.consume(t.literalLengths[c]);
        } else {
            b.store(s);
            c = finishLongLiteral(s, static_cast<uint16_t>(c));
            b = FastBits(s, kInputMargin, limit);
            if (s.error) {
                *out++ = 0;
                break;
            }
        }
        if (c < 256) {
            *out++ = static_cast<uint8_t>(c);
            continue;
        }
        const uint32_t length = fit(c - 253, out, safe, end, o.overrun);
        uint32_t d = entryValue(t.positionTable[b.top(8)]);
        // A long code's walk may have taken the input past the margin the
        // symbol started with (a broken tree's lengths can ask for hundreds
        // of bits): the position then goes through the method's operation,
        // which refills byte by byte near the end.
        if (d < positionCount && b.limit) {
            d = tablePosition<false>(t, b, d, t.positionLengths[d]);
        } else {
            b.store(s);
            d = decodeBlockPosition(s);
            b = FastBits(s, kInputMargin, limit);
            if (s.error) {
                out = copyMatch(out, ringDistance(d, mask), length);
                break;
            }
        }
        out = copyMatch(out, ringDistance(d, mask), length);
    }
    o.out = out;
    b.store(s);
    s.blockCodesLeft = static_cast<uint16_t>(left);
}

// One -lzs- item: a flag bit, then 8 bits of literal or 11 bits of position
// and 4 of length. Counted: inside a stretch (see lzsRun), where no match
// can pass the member's end.
template <bool kCounted>
inline uint8_t* lzsItem(FastBits& b, uint8_t* out, Output& o) {
    uint32_t position, count;
    if (b.spare >= 16) {
        // No refill falls inside the item: its fields leave in one shift.
        const unsigned v = b.top(16);
        if (v & 0x8000) {
            *out++ = static_cast<uint8_t>(v >> 7);
            b.window <<= 9;
            b.spare -= 9;
            return out;
        }
        b.window <<= 16;
        b.spare -= 16;
        position = v >> 4;
        count = v & 15;
    } else {
        const auto take = [&b](unsigned n) {
            if (kCounted)
                b.consumeCounted(n);
            else
                b.consume(n);
        };
        const unsigned flag = b.top(1);
        take(1);
        if (flag) {
            *out++ = static_cast<uint8_t>(b.top(8));
            take(8);
            return out;
        }
        position = b.top(11);
        take(11);
        count = b.top(4);
        take(4);
    }
    const uint32_t back = static_cast<uint32_t>(out - o.start) - position - 18;
    const uint32_t distance = ringDistance(back & 2047, o.mask);
    if (kCounted) return copyShortMatch(out, distance, count + 2);
    return copyMatch(out, distance, fit(count + 2, out, o.end - kLongestMatch, o.end, o.overrun));
}

QORN_VARIANTS void lzsRun(DecoderContext& s, Output& o) {
    uint8_t* const limit = o.limit;
    FastBits b(s, kInputMargin, limit);
    uint8_t* out = o.out;
    while (out < b.limit) {
        // A stretch of items with no check of their own: as many as the
        // output has room for at 17 bytes and the input margin covers at
        // 16 bits each (see staticHuffmanRun).
        uint32_t n = static_cast<uint32_t>((limit - out) / 17);
        const uint32_t input = static_cast<uint32_t>((b.fastEnd - b.in) / kLzsItemBytes);
        if (input < n) n = input;
        if (n == 0) {
            out = lzsItem<false>(b, out, o);
            continue;
        }
        do out = lzsItem<true>(b, out, o);
        while (--n != 0);
        if (b.in >= b.fastEnd) b.limit = nullptr;
    }
    o.out = out;
    b.store(s);
}

// -lz5-: whole bytes, a flag byte before every eight items.
QORN_VARIANTS void lz5Run(DecoderContext& s, Output& o) {
    uint8_t* const start = o.start;
    uint8_t* const end = o.end;
    uint8_t* const safe = end - kLongestMatch;
    uint8_t* const limit = o.limit;
    const uint32_t mask = o.mask;
    const uint8_t* in = s.inputBuffer + s.inputPosition;
    const uint8_t* const first = in;
    const uint64_t valid = s.inputValid - s.inputPosition;
    const uint64_t avail = valid < s.packedRemaining ? valid : s.packedRemaining;
    const uint8_t* const fastEnd = avail > kInputMargin ? in + (avail - kInputMargin) : in;
    uint32_t flags = s.flagByte, flagCount = s.flagsLeft;
    uint8_t* out = o.out;
    while (out < limit && in < fastEnd) {
        if (flagCount == 0 && fastEnd - in >= kLz5GroupBytes && limit - out >= 8 * 18) {
            // A whole group fits the input and the chunk: no check per item.
            for (uint32_t f = *in++ | 0x100u; f != 1; f >>= 1) {
                if (f & 1) {
                    *out++ = *in++;
                    continue;
                }
                const uint32_t position = in[0] + ((in[1] & 0xF0u) << 4);
                const uint32_t length = (in[1] & 0x0Fu) + 3;
                in += 2;
                const uint32_t ring = static_cast<uint32_t>(out - start) & mask;
                out = copyMatch(out, ringDistance((ring - position - 19) & 4095, mask), length);
            }
            continue;
        }
        if (flagCount == 0) {
            flagCount = 8;
            flags = *in++;
        }
        --flagCount;
        const uint32_t c = *in++;
        if (flags & 1) {
            *out++ = static_cast<uint8_t>(c);
        } else {
            const uint32_t high = *in++;
            const uint32_t position = c + ((high & 0xF0u) << 4);
            const uint32_t ring = static_cast<uint32_t>(out - start) & mask;
            const uint32_t length = fit((high & 0x0Fu) + 3, out, safe, end, o.overrun);
            out = copyMatch(out, ringDistance((ring - position - 19) & 4095, mask), length);
        }
        flags >>= 1;
    }
    o.out = out;
    s.flagByte = flags;
    s.flagsLeft = flagCount;
    const uint64_t taken = static_cast<uint64_t>(in - first);
    s.inputPosition += taken;
    s.packedRemaining -= taken;
}

// -lh1-: the fused loop, without the checks of every symbol. A symbol
// starts only while the input buffer and the member both hold more bytes
// than any symbol reads (kAdaptiveMargin: at most three refills, each
// reading a word and taking at most eight bytes of it), so no symbol meets
// the end of the data, and only where the longest match ends before the
// member does.

void adaptiveRun(DecoderContext& s, Output& o) {
    const uint64_t valid = s.inputValid - s.inputPosition;
    const uint64_t avail = valid < s.packedRemaining ? valid : s.packedRemaining;
    if (avail <= kAdaptiveMargin) return;
    uint8_t* const safe = o.end - (kLh1LongestMatch + kCopyOvershoot);
    o.out = lh1Run(s, o.out, safe < o.limit ? safe : o.limit, o.mask);
}

}  // namespace

uint16_t decodeWithWindow(DecoderContext& s) {
    const uint32_t size = s.dictionarySize;
    const uint32_t mask = size - 1;
    // A chunk is a whole number of dictionaries, so progress is reported
    // for the same counts as the ring would report them.
    const uint32_t chunk = size >= 32768 ? 2 * size : 65536;
    // One window serves member after member. The ring starts as spaces;
    // the history keeps them until a chunk is flushed or -lz5- presets it,
    // so a run of small members fills it once.
    DecoderContext::Window& w = s.window;
    if (w.capacity < size + chunk + kSlack) {
        delete[] w.buffer;
        w.capacity = 0;
        w.spacesUpTo = 0;
        w.buffer = new (std::nothrow) uint8_t[size + chunk + kSlack];
        if (!w.buffer) {
            s.outOfMemory = true;
            return 0;
        }
        w.capacity = size + chunk + kSlack;
    }
    uint8_t* const buffer = w.buffer;
    // In words rather than the string instructions the C library would use.
    const uint64_t spaces[2] = {0x2020202020202020ull, 0x2020202020202020ull};
    for (uint32_t i = w.spacesUpTo & ~15u; i < size; i += 16) std::memcpy(buffer + i, spaces, 16);
    w.spacesUpTo = s.method == Method::Lz5 ? 0 : size;
    if (!startMemberInput(s)) return 0;
    // -lz5-'s start operation writes its preset into the history; the
    // window is not the session's to release.
    s.dictionary = buffer;
    s.row->start(s);
    s.dictionary = nullptr;
    s.lengthBias = s.method == Method::Lzs ? 254 : 253;
    s.dictionaryPosition = 0;
    s.outputCount = 0;

    void (*run)(DecoderContext&, Output&) = nullptr;
    switch (s.method) {
        case Method::Lh1:
            run = adaptiveRun;
            break;
        case Method::Lh4:
        case Method::Lh5:
        case Method::Lh6:
        case Method::Lh7:
            run = staticHuffmanRun;
            break;
        case Method::Lzs:
            run = lzsRun;
            break;
        case Method::Lz5:
            run = lz5Run;
            break;
        default:
            break;
    }
    const CodeOperation code = s.row->code;
    const PositionOperation position = s.row->position;

    Output o;
    o.start = buffer + size;
    o.out = o.start;
    o.mask = mask;
    o.overrun = false;
    uint8_t* const chunkEnd = o.start + chunk;
    uint64_t flushed = 0;  // bytes written before o.start

    for (;;) {
        const uint64_t done = flushed + static_cast<uint64_t>(o.out - o.start);
        if (done >= s.originalSize || s.error) break;
        if (o.out >= chunkEnd) {
            for (uint32_t i = 0; i < chunk / size; ++i) s.progress.report(size);
            flushDictionary(s, o.start, chunk);
            const size_t over = static_cast<size_t>(o.out - chunkEnd);
            // The last dictionary of the chunk becomes the history; the
            // two never overlap, as a chunk is at least two dictionaries.
            for (size_t i = 0; i < size + over; i += 16) {
                uint8_t word[16];
                std::memcpy(word, buffer + chunk + i, 16);
                std::memcpy(buffer + i, word, 16);
            }
            o.out -= chunk;
            flushed += chunk;
            w.spacesUpTo = 0;
            if (!stillRunning()) {
                s.releaseBuffers();
                return 0;
            }
            continue;
        }
        const uint64_t left = s.originalSize - done;
        o.end = left < static_cast<uint64_t>(chunkEnd + kSlack - o.out) ? o.out + left
                                                                        : chunkEnd + kSlack;
        o.limit = o.end < chunkEnd ? o.end : chunkEnd;
        if (run) {
            uint8_t* const before = o.out;
            run(s, o);
            if (o.out != before || s.error) {
                // Only the run's last symbol can have reached the end of the
                // data (a handover may read past the margin, and the run stops
                // there): the checks below, as after any symbol.
                if (s.inputShort && s.inputPosition >= s.inputValid) break;
                if (readPastData(s)) {
                    s.overread = true;
                    break;
                }
                continue;
            }
        }
        // Symbols through the method's operations: one where a fused loop
        // takes over again, else up to the limit.
        bool payloadEnded = false;
        uint8_t* const base = o.out;
        do {
            const uint64_t count = done + static_cast<uint64_t>(o.out - base);
            s.outputCount = count;
            s.dictionaryPosition = static_cast<uint32_t>(count) & mask;
            const uint16_t c = code(s);
            if (c < 256) {
                *o.out++ = static_cast<uint8_t>(c);
            } else {
                const uint32_t length =
                    fit(static_cast<uint32_t>(c - s.lengthBias), o.out, o.out, o.end, o.overrun);
                const uint16_t d = position(s);
                o.out = copyMatch(o.out, ringDistance(d, mask), length);
            }
            if (!stillRunning()) {
                s.releaseBuffers();
                return 0;
            }
            // As in decodeWithDictionary: past the payload's end only zero
            // bits remain, and a stream that reads past its own data stops.
            // (A fused loop stops short of both.)
            payloadEnded = s.inputShort && s.inputPosition >= s.inputValid;
            if (!payloadEnded && readPastData(s)) {
                s.overread = true;
                payloadEnded = true;
            }
        } while (!run && !payloadEnded && !s.error && o.out < o.limit);
        if (payloadEnded) break;
    }
    s.overrun = o.overrun;
    if (!stillRunning()) {
        s.releaseBuffers();
        return 0;
    }
    const uint32_t pending = static_cast<uint32_t>(o.out - o.start);
    for (uint32_t i = 0; i < pending / size; ++i) s.progress.report(size);
    if (pending != 0) flushDictionary(s, o.start, pending);
    s.releaseBuffers();
    return s.outputCrc;
}

}  // namespace qorn
