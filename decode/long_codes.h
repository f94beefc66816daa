// The walk for literal/length codes longer than the -lh4- to -lh7- table,
// shared by the block decoder and the native build's fused loop.
#pragma once

#include "decode/bit_reader.h"
#include "decode/decoder_context.h"
#include "decode/huffman_table.h"

namespace qorn {

// The rest of a code whose table entry j (found by the window's top 12
// bits) names a tree node.
inline uint16_t finishLongLiteral(DecoderContext& s, uint16_t j) {
    const HuffmanTables& t = s.tables;
    fillBuffer(s, 12);
    // At most 16 bits stand in the window; a walk that has not reached a
    // symbol by then runs through a broken or stale tree.
    for (unsigned mask = 0x8000; j >= kLiteralSymbols; mask >>= 1) {
        if (mask == 0 || j >= kTreeNodes) {
            s.fail();
            return 0;
        }
        j = (bitBuffer(s) & mask) ? t.rightChild[j] : t.leftChild[j];
    }
    fillBuffer(s, static_cast<uint8_t>(t.literalLengths[j] - 12));
    return j;
}

}  // namespace qorn
