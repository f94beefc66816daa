#include "decode/huffman_table.h"

#include <cstring>

namespace qorn {

uint8_t literalLengths[kLiteralSymbols];
uint8_t positionLengths[128];
uint16_t literalTable[4096];
uint16_t positionTable[256];
uint16_t leftChild[kTreeNodes];
uint16_t rightChild[kTreeNodes];
int positionCodeCount;

bool buildTable(int count, const uint8_t* lengths, int tableBits, uint16_t* table,
                uint32_t tableSize) {
    uint16_t counts[17] = {};
    uint16_t weight[17];
    uint16_t start[18];
    for (int len = 1; len <= 16; ++len) weight[len] = static_cast<uint16_t>(1u << (16 - len));
    int s = 0;
#ifdef QORN_FAST_DECODE
    // Most of an alphabet goes unused in a block: eight lengths of 0 at a time.
    for (; s + 8 <= count; s += 8) {
        uint64_t word;
        std::memcpy(&word, lengths + s, 8);
        if (word == 0) continue;
        for (int k = s; k < s + 8; ++k) {
            if (lengths[k] > 16) return false;
            ++counts[lengths[k]];
        }
    }
#endif
    for (; s < count; ++s) {
        if (lengths[s] > 16) return false;
        ++counts[lengths[s]];
    }
    // Code values are 16-bit and wrap; completeness is not required.
    start[1] = 0;
    for (int len = 1; len <= 16; ++len)
        start[len + 1] = static_cast<uint16_t>(start[len] + weight[len] * counts[len]);

    const int jut = 16 - tableBits;
    for (int len = 1; len <= tableBits; ++len) {
        start[len] = static_cast<uint16_t>(start[len] >> jut);
        weight[len] = static_cast<uint16_t>(weight[len] >> jut);
    }
    const uint32_t first = static_cast<uint32_t>(start[tableBits + 1] >> jut);
    const uint32_t end = (1u << tableBits) < tableSize ? (1u << tableBits) : tableSize;
    // Entries left over from an earlier table stay when the short codes wrap
    // the whole range; every entry is then theirs anyway.
    if (first != 0 && first < end) std::memset(table + first, 0, (end - first) * sizeof *table);

    uint32_t avail = static_cast<uint32_t>(count);
    for (s = 0; s < count; ++s) {
#ifdef QORN_FAST_DECODE
        if ((s & 7) == 0 && s + 8 <= count) {
            uint64_t word;
            std::memcpy(&word, lengths + s, 8);
            if (word == 0) {
                s += 7;
                continue;
            }
        }
#endif
        const int len = lengths[s];
        if (len == 0) continue;
        uint32_t k = start[len];
        const uint32_t next = k + weight[len];
        if (len <= tableBits) {
            const uint32_t stop = next < tableSize ? next : tableSize;
            uint32_t i = k;
#ifdef QORN_FAST_DECODE
            if ((k & 3) == 0) {
                // A code's entries start at a multiple of their count:
                // sixteen, eight or four at a time.
                const uint64_t four = 0x0001000100010001ull * static_cast<uint32_t>(s);
                const uint64_t eight[2] = {four, four};
                for (; i + 16 <= stop; i += 16) {
                    std::memcpy(&table[i], eight, 16);
                    std::memcpy(&table[i + 8], eight, 16);
                }
                for (; i + 8 <= stop; i += 8) std::memcpy(&table[i], eight, 16);
                for (; i + 4 <= stop; i += 4) std::memcpy(&table[i], &four, 8);
            }
#endif
            for (; i < stop; ++i) table[i] = static_cast<uint16_t>(s);
            start[len] = static_cast<uint16_t>(stop);
        } else {
            uint16_t* p = &table[k >> jut];
            k = (k << tableBits) & 0xFFFF;
            for (int i = len - tableBits; i > 0; --i) {
                // 0 counts as empty, even where it meant symbol 0.
                if (*p == 0) {
                    // An over-full code can ask for more nodes than exist.
                    if (avail >= kTreeNodes) return false;
                    leftChild[avail] = rightChild[avail] = 0;
                    *p = static_cast<uint16_t>(avail++);
                } else if (*p >= kTreeNodes) {
                    return false;
                }
                p = (k & 0x8000) ? &rightChild[*p] : &leftChild[*p];
                k = (k << 1) & 0xFFFF;
            }
            *p = static_cast<uint16_t>(s);
            start[len] = static_cast<uint16_t>(next);
        }
    }
    return true;
}

void clearTables() {
    std::memset(literalLengths, 0, sizeof literalLengths);
    std::memset(positionLengths, 0, sizeof positionLengths);
    std::memset(literalTable, 0, sizeof literalTable);
    std::memset(positionTable, 0, sizeof positionTable);
    std::memset(leftChild, 0, sizeof leftChild);
    std::memset(rightChild, 0, sizeof rightChild);
}

}  // namespace qorn
