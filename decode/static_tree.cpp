// -lh3-: blocks of static codes, each block with its own code lengths.
//
// A block header holds its size in codes, the literal/length lengths (or a
// single symbol that needs no bits) and either its own position lengths or
// a flag for the fixed ones.
#include "decode/adaptive_tree.h"
#include "decode/bit_reader.h"
#include "decode/decoders.h"
#include "decode/huffman_table.h"

namespace qorn {

namespace {

constexpr int kStaticLiterals = 286;
constexpr int kStaticPositions = 128;

void readLiteralLengths(DecoderContext& s) {
    HuffmanTables& t = s.tables;
    uint8_t* const literalLengths = t.literalLengths;
    for (int i = 0; i < kStaticLiterals; ++i) {
        literalLengths[i] = static_cast<uint8_t>(getBits(s, 1) ? getBits(s, 4) + 1 : 0);
        if (i == 2 && literalLengths[0] == 1 && literalLengths[1] == 1 && literalLengths[2] == 1) {
            // Three codes of one bit cannot be; it marks a block of one symbol.
            const uint16_t only = getBits(s, 9);
            // A symbol outside the alphabet would send every lookup into
            // tree nodes this block never built.
            if (only >= kStaticLiterals) return s.fail();
            for (int k = 0; k < kStaticLiterals; ++k) literalLengths[k] = 0;
            for (uint16_t& e : t.literalTable) e = only;
            return;
        }
    }
    if (!buildTable(t, kStaticLiterals, literalLengths, 12, t.literalTable, 4096)) s.fail();
}

void readPositionLengths(DecoderContext& s) {
    HuffmanTables& t = s.tables;
    uint8_t* const positionLengths = t.positionLengths;
    for (int i = 0; i < kStaticPositions; ++i) {
        positionLengths[i] = static_cast<uint8_t>(getBits(s, 4));
        if (i == 2 && positionLengths[0] == 1 && positionLengths[1] == 1 &&
            positionLengths[2] == 1) {
            const uint16_t only = getBits(s, 10);
            if (only >= kStaticPositions) return s.fail();
            for (int k = 0; k < kStaticPositions; ++k) positionLengths[k] = 0;
            // The table build that follows leaves this table as it is.
            for (uint16_t& e : t.positionTable) e = only;
            return;
        }
    }
}

}  // namespace

void startLh3(DecoderContext& s) {
    initBitReader(s);
    clearTables(s.tables);
    s.positionCodeCount = kStaticPositions;
    s.blockRemaining = 0;
}

uint16_t decodeStaticCode(DecoderContext& s) {
    HuffmanTables& t = s.tables;
    if (s.blockRemaining == 0) {
        s.blockRemaining = getBits(s, 16);
        readLiteralLengths(s);
        if (s.error) return 0;
        if (getBits(s, 1)) {
            readPositionLengths(s);
            if (s.error) return 0;
        } else {
            loadFixedPositionLengths(s, 1);
        }
        if (!buildTable(t, kStaticPositions, t.positionLengths, 8, t.positionTable, 256)) {
            s.fail();
            return 0;
        }
    }
    --s.blockRemaining;  // a block size of 0 lasts 65536 codes
    uint16_t j = entryValue(t.literalTable[bitBuffer(s) >> 4]);
    if (j < kStaticLiterals) {
        fillBuffer(s, t.literalLengths[j]);
    } else {
        fillBuffer(s, 12);
        const uint16_t bits = bitBuffer(s);
        // Codes are at most 16 bits: 4 steps past the table. A longer walk
        // runs through a broken or stale tree.
        unsigned steps = 0;
        do {
            if (steps == 4 || j >= kTreeNodes) {
                s.fail();
                return 0;
            }
            j = (bits & (0x8000u >> steps)) ? t.rightChild[j] : t.leftChild[j];
            ++steps;
        } while (j >= kStaticLiterals);
        fillBuffer(s, steps);
    }
    if (j == kStaticLiterals - 1) j = static_cast<uint16_t>(j + getBits(s, 8));
    return j;
}

}  // namespace qorn
