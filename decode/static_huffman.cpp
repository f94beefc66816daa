// -lh4- to -lh7-: blocks of static Huffman codes.
//
// Each block starts with its size in codes, then three code descriptions:
// the code of the code lengths, the literal/length code and the position
// code. The four methods differ only in how many position codes there are.
#include <cstring>

#include "decode/bit_reader.h"
#include "decode/decoders.h"
#include "decode/huffman_table.h"
#include "decode/long_codes.h"

namespace qorn {

namespace {

constexpr int kLengthCodeSymbols = 19;

// Lengths of a small code (the length code or the position code).
void readSmallLengths(DecoderContext& s, int count, int width, int special) {
    HuffmanTables& t = s.tables;
    uint8_t* const positionLengths = t.positionLengths;
    CarefulBits b(s);
    const int n = b.get(static_cast<unsigned>(width));
    if (n == 0) {
        const uint16_t only = b.get(static_cast<unsigned>(width));
        // A lone symbol outside the alphabet would send every lookup into
        // nodes this block never built.
        if (only >= count) return s.fail();
        std::memset(positionLengths, 0, static_cast<size_t>(count));
        for (uint16_t& e : t.positionTable) e = only;
        return;
    }
    int i = 0;
    while (i < n) {
        unsigned v = b.peek() >> 13;
        if (v == 7) {
            // 7 and up: a run of 1 bits ended by a 0 bit.
            for (unsigned m = 0x1000; b.peek() & m; m >>= 1) ++v;
        }
        b.consume(v < 7 ? 3 : v - 3);
        positionLengths[i++] = static_cast<uint8_t>(v);
        if (i == special) {
            for (int z = b.get(2); z > 0; --z) positionLengths[i++] = 0;
        }
    }
    while (i < count) positionLengths[i++] = 0;
    if (!buildTable(t, count, positionLengths, 8, t.positionTable, 256)) s.fail();
}

void readCodedLiteralLengths(DecoderContext& s) {
    HuffmanTables& t = s.tables;
    uint8_t* const literalLengths = t.literalLengths;
    CarefulBits b(s);
    const int n = b.get(9);
    if (n == 0) {
        const uint16_t only = b.get(9);
        if (only >= kLiteralSymbols) return s.fail();
        std::memset(literalLengths, 0, sizeof t.literalLengths);
        for (uint16_t& e : t.literalTable) e = only;
        return;
    }
    int i = 0;
    while (i < n) {
        uint16_t c = entryValue(t.positionTable[b.peek() >> 8]);
        if (c >= kLengthCodeSymbols) {
            unsigned mask = 0x80;
            do {
                // The window holds 8 bits past the table; a longer walk is a
                // broken table.
                if (mask == 0 || c >= kTreeNodes) return s.fail();
                c = (b.peek() & mask) ? t.rightChild[c] : t.leftChild[c];
                mask >>= 1;
            } while (c >= kLengthCodeSymbols);
        }
        b.consume(t.positionLengths[c]);
        if (c <= 2) {
            const int zeros = c == 0 ? 1 : c == 1 ? b.get(4) + 3 : b.get(9) + 20;
            // A run past the alphabet fills it, then fails.
            const int room = kLiteralSymbols - i;
            std::memset(literalLengths + i, 0, static_cast<size_t>(zeros < room ? zeros : room));
            if (zeros > room) return s.fail();
            i += zeros;
        } else {
            if (i >= kLiteralSymbols) return s.fail();
            literalLengths[i++] = static_cast<uint8_t>(c - 2);
        }
    }
    std::memset(literalLengths + i, 0, static_cast<size_t>(kLiteralSymbols - i));
    if (!buildTable(t, kLiteralSymbols, literalLengths, 12, t.literalTable, 4096)) s.fail();
}

void readBlockHeader(DecoderContext& s) {
    s.blockCodesLeft = getBits(s, 16);
    readSmallLengths(s, kLengthCodeSymbols, 5, 3);
    if (s.error) return;
    readCodedLiteralLengths(s);
    if (s.error) return;
    readSmallLengths(s, s.positionCodeCount, s.positionCountBits, -1);
}

}  // namespace

void startBlockDecoder(DecoderContext& s) {
    if (s.dictionaryBits <= 14) {
        s.positionCodeCount = 14;
        s.positionCountBits = 4;
    } else {
        s.positionCodeCount = s.dictionaryBits == 16 ? 17 : 16;
        s.positionCountBits = 5;
    }
    initBitReader(s);
    clearTables(s.tables);
    s.blockCodesLeft = 0;
}

uint16_t decodeBlockCode(DecoderContext& s) {
    const HuffmanTables& t = s.tables;
    if (s.blockCodesLeft == 0) {
        readBlockHeader(s);
        if (s.error) return 0;
    }
    --s.blockCodesLeft;  // a block size of 0 lasts 65536 codes
    const uint16_t j = entryValue(t.literalTable[bitBuffer(s) >> 4]);
    if (j < kLiteralSymbols) {
        fillBuffer(s, t.literalLengths[j]);
        return j;
    }
    return finishLongLiteral(s, j);
}

uint16_t decodeBlockPosition(DecoderContext& s) {
    const HuffmanTables& t = s.tables;
    uint16_t j = entryValue(t.positionTable[bitBuffer(s) >> 8]);
    if (j < s.positionCodeCount) {
        fillBuffer(s, t.positionLengths[j]);
    } else {
        fillBuffer(s, 8);
        unsigned mask = 0x8000;
        do {
            if (j >= kTreeNodes) {
                s.fail();
                return 0;
            }
            j = (bitBuffer(s) & mask) ? t.rightChild[j] : t.leftChild[j];
            mask >>= 1;
            // Sixteen steps is an error even when the last reached a symbol.
            if (mask == 0) {
                s.fail();
                return 0;
            }
        } while (j >= s.positionCodeCount);
        fillBuffer(s, static_cast<uint8_t>(t.positionLengths[j] - 8));
    }
    if (j != 0) j = static_cast<uint16_t>((1u << (j - 1)) + getBits(s, j - 1u));
    return j;
}

}  // namespace qorn
