// Canonical Huffman lookup tables, shared by the -lh1- to -lh7- decoders.
//
// A table entry (or a child) below the symbol count is a symbol; any other
// value names a tree node for codes longer than the table is wide. The
// tables are part of the decoder context (decoder_context.h).
#pragma once

#include <cstdint>

namespace qorn {

constexpr int kLiteralSymbols = 510;
constexpr int kTreeNodes = 1020;

#ifdef QORN_WINDOW_DECODER
// In the native build a table entry also carries, above its symbol or node,
// the length of the symbol's code (0 for a node), so that the block loop has
// both from one load. An entry's length always equals the lengths array's
// for its symbol, also where a table is kept or only partly rebuilt.
constexpr uint16_t kEntryValue = 0x07FF;
constexpr unsigned kEntryLengthShift = 11;
#else
constexpr uint16_t kEntryValue = 0xFFFF;
#endif

// The symbol or node of a table entry.
inline uint16_t entryValue(uint16_t e) {
    return static_cast<uint16_t>(e & kEntryValue);
}

struct HuffmanTables {
    uint16_t literalTable[4096];
    uint16_t positionTable[256];
    uint16_t leftChild[kTreeNodes];
    uint16_t rightChild[kTreeNodes];
    uint8_t literalLengths[kLiteralSymbols];
    uint8_t positionLengths[128];
#ifdef QORN_WINDOW_DECODER
    // Not a code, but kept here for the same reason: position code d of
    // -lh4- to -lh7- stands for positionBase[d] plus positionExtra[d] extra
    // bits (2^(d-1) and d - 1; codes 0 and 1 for themselves, with none).
    uint32_t positionBase[32];
    uint8_t positionExtra[32];
#endif
};
// One object, so that a loop holding its address reaches every table
// through it, rather than one register or address load per table.

// Builds table (and the tree for longer codes) from count code lengths.
// False for undecodable lengths (HUFFMAN::HUF_ERROR): a length above 16, or
// an over-full code that would need more tree nodes than there are.
// The tree nodes are t's.
bool buildTable(HuffmanTables& t, int count, const uint8_t* lengths, int tableBits, uint16_t* table,
                uint32_t tableSize);
#ifdef QORN_WINDOW_DECODER
// The same, filling entry by entry in symbol order, as the stub does.
bool buildTableBySymbols(HuffmanTables& t, int count, const uint8_t* lengths, int tableBits,
                         uint16_t* table, uint32_t tableSize);
// positionBase and positionExtra, which no member changes.
void setPositionSlots(HuffmanTables& t);
#endif

// Empties the tables, lengths and tree nodes above. The static decoders call
// it when a member starts: a block whose lengths are all 0 keeps the table it
// finds, and an over-full code walks nodes it did not make, so without it a
// damaged member would decode differently after another member.
void clearTables(HuffmanTables& t);

}  // namespace qorn
