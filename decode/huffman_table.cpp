#include "decode/huffman_table.h"

#include <cstring>

namespace qorn {

#ifdef QORN_WINDOW_DECODER
void setPositionSlots(HuffmanTables& t) {
    t.positionBase[0] = 0;
    t.positionExtra[0] = 0;
    t.positionBase[1] = 1;
    t.positionExtra[1] = 0;
    for (uint32_t d = 2; d < 32; ++d) {
        t.positionBase[d] = 1u << (d - 1);
        t.positionExtra[d] = static_cast<uint8_t>(d - 1);
    }
}
#endif

namespace {

// Places a code longer than the table: its first tableBits bits pick the
// entry, the rest walk tree nodes made as they are needed.
inline bool placeLongCode(HuffmanTables& t, uint16_t* table, int tableBits, uint32_t k, int len,
                          int symbol, uint32_t& avail) {
    uint16_t* p = &table[k >> (16 - tableBits)];
    k = (k << tableBits) & 0xFFFF;
    for (int i = len - tableBits; i > 0; --i) {
        uint16_t node = entryValue(*p);
        // 0 counts as empty, even where it meant symbol 0.
        if (node == 0) {
            // An over-full code can ask for more nodes than exist.
            if (avail >= kTreeNodes) return false;
            t.leftChild[avail] = t.rightChild[avail] = 0;
            node = static_cast<uint16_t>(avail++);
            *p = node;
        } else if (node >= kTreeNodes) {
            return false;
        }
        p = (k & 0x8000) ? &t.rightChild[node] : &t.leftChild[node];
        k = (k << 1) & 0xFFFF;
    }
    *p = static_cast<uint16_t>(symbol);
    return true;
}

bool fillBySymbols(HuffmanTables& t, int count, const uint8_t* lengths, int tableBits,
                   uint16_t* table, uint32_t tableSize, const uint16_t* counts) {
    uint16_t weight[17];
    uint16_t start[18];
    for (int len = 1; len <= 16; ++len) weight[len] = static_cast<uint16_t>(1u << (16 - len));
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
    for (int s = 0; s < count; ++s) {
        const int len = lengths[s];
        if (len == 0) continue;
        const uint32_t k = start[len];
        const uint32_t next = k + weight[len];
        if (len <= tableBits) {
            const uint32_t stop = next < tableSize ? next : tableSize;
            for (uint32_t i = k; i < stop; ++i) table[i] = static_cast<uint16_t>(s);
            start[len] = static_cast<uint16_t>(stop);
        } else {
            if (!placeLongCode(t, table, tableBits, k, len, s, avail)) return false;
            start[len] = static_cast<uint16_t>(next);
        }
    }
    return true;
}

#ifdef QORN_WINDOW_DECODER
// Symbols by code length, in order of value within a length: the order in
// which canonical codes are assigned.
struct ByLength {
    uint16_t count[17];
    uint16_t symbols[17][kLiteralSymbols];
};

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "lengths are read eight to a word");

// Sorts the symbols and counts them; false for a length above 16.
bool sortByLength(int count, const uint8_t* lengths, ByLength& by) {
    std::memset(by.count, 0, sizeof by.count);
    const auto place = [&by, lengths](int k) {
        const unsigned len = lengths[k];
        if (len > 16) return false;
        by.symbols[len][by.count[len]++] = static_cast<uint16_t>(k);
        return true;
    };
    int s = 0;
    // Most of an alphabet goes unused in a block: eight lengths at a time,
    // visiting only those that are not 0 (in order, lowest byte first).
    for (; s + 8 <= count; s += 8) {
        uint64_t word;
        std::memcpy(&word, lengths + s, 8);
        if (((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) == 0) {
            // No length of 0 among them.
            for (int k = s; k < s + 8; ++k)
                if (!place(k)) return false;
            continue;
        }
        while (word != 0) {
            const int k = __builtin_ctzll(word) >> 3;
            if (!place(s + k)) return false;
            word &= ~(uint64_t{0xFF} << (8 * k));
        }
    }
    for (; s < count; ++s)
        if (!place(s)) return false;
    return true;
}

// Entries of one code length, step entries per symbol.
template <uint32_t kStep>
inline uint16_t* fillLength(uint16_t* p, const uint16_t* symbol, const uint16_t* stop,
                            uint32_t tag) {
    for (; symbol < stop; ++symbol, p += kStep) {
        const uint64_t four = 0x0001000100010001ull * (*symbol | tag);
        if (kStep == 1) {
            *p = static_cast<uint16_t>(four);
        } else if (kStep == 2) {
            const uint32_t two = static_cast<uint32_t>(four);
            std::memcpy(p, &two, 4);
        } else if (kStep == 4) {
            std::memcpy(p, &four, 8);
        } else {
            const uint64_t eight[2] = {four, four};
            for (uint32_t i = 0; i < kStep; i += 8) std::memcpy(p + i, eight, 16);
        }
    }
    return p;
}

// A code whose weights sum to at most the whole code space has no two codes
// sharing an entry, so the order of filling does not matter: each length
// fills its entries in code order, with whole-word stores per symbol. The
// long codes make the same tree shape, in the same code order.
bool fillByLengths(HuffmanTables& t, const ByLength& by, const uint8_t* lengths, int count,
                   int tableBits, uint16_t* table) {
    uint16_t* p = table;
    for (int len = 1; len <= tableBits; ++len) {
        const uint16_t* const symbol = by.symbols[len];
        const uint16_t* const stop = symbol + by.count[len];
        const uint32_t tag = static_cast<uint32_t>(len) << kEntryLengthShift;
        switch (tableBits - len) {
            case 0:
                p = fillLength<1>(p, symbol, stop, tag);
                break;
            case 1:
                p = fillLength<2>(p, symbol, stop, tag);
                break;
            case 2:
                p = fillLength<4>(p, symbol, stop, tag);
                break;
            case 3:
                p = fillLength<8>(p, symbol, stop, tag);
                break;
            case 4:
                p = fillLength<16>(p, symbol, stop, tag);
                break;
            case 5:
                p = fillLength<32>(p, symbol, stop, tag);
                break;
            default: {
                const uint32_t step = 1u << (tableBits - len);
                for (const uint16_t* q = symbol; q < stop; ++q, p += step) {
                    const uint64_t four = 0x0001000100010001ull * (*q | tag);
                    const uint64_t eight[4] = {four, four, four, four};
                    for (uint32_t i = 0; i < step; i += 16) std::memcpy(p + i, eight, 32);
                }
            }
        }
    }
    uint16_t* const end = table + (1u << tableBits);
    if (p == end) return true;
    uint32_t k = static_cast<uint32_t>(p - table) << (16 - tableBits);
    // Entries no code reaches read as symbol 0, with symbol 0's length.
    const uint16_t none = static_cast<uint16_t>(lengths[0] << kEntryLengthShift);
    while (p < end) *p++ = none;
    uint32_t avail = static_cast<uint32_t>(count);
    for (int len = tableBits + 1; len <= 16; ++len) {
        for (int i = 0; i < by.count[len]; ++i) {
            if (!placeLongCode(t, table, tableBits, k, len, by.symbols[len][i], avail))
                return false;
            k += 1u << (16 - len);
        }
    }
    return true;
}
#endif

}  // namespace

bool buildTable(HuffmanTables& t, int count, const uint8_t* lengths, int tableBits, uint16_t* table,
                uint32_t tableSize) {
#ifdef QORN_WINDOW_DECODER
    ByLength by;
    if (count <= kLiteralSymbols) {
        if (!sortByLength(count, lengths, by)) return false;
        uint32_t space = 0, shortSpace = 0;
        for (int len = 1; len <= 16; ++len) {
            space += static_cast<uint32_t>(by.count[len]) << (16 - len);
            if (len == tableBits) shortSpace = space;
        }
        // No short code at all leaves the table to the builder below, which
        // keeps what it finds there.
        if (space <= 0x10000 && shortSpace != 0 && tableSize == 1u << tableBits)
            return fillByLengths(t, by, lengths, count, tableBits, table);
    } else {
        std::memset(by.count, 0, sizeof by.count);
        for (int s = 0; s < count; ++s) {
            if (lengths[s] > 16) return false;
            ++by.count[lengths[s]];
        }
    }
    if (!fillBySymbols(t, count, lengths, tableBits, table, tableSize, by.count)) return false;
    // That builder writes bare symbols and may keep entries of an earlier
    // table: every entry gets the length its symbol has now.
    for (uint32_t i = 0; i < tableSize; ++i) {
        const uint32_t value = entryValue(table[i]);
        const uint32_t len = value < static_cast<uint32_t>(count) ? lengths[value] : 0;
        table[i] = static_cast<uint16_t>(value | len << kEntryLengthShift);
    }
    return true;
#else
    uint16_t counts[17] = {};
    for (int s = 0; s < count; ++s) {
        if (lengths[s] > 16) return false;
        ++counts[lengths[s]];
    }
    return fillBySymbols(t, count, lengths, tableBits, table, tableSize, counts);
#endif
}

#ifdef QORN_WINDOW_DECODER
bool buildTableBySymbols(HuffmanTables& t, int count, const uint8_t* lengths, int tableBits,
                         uint16_t* table, uint32_t tableSize) {
    uint16_t counts[17] = {};
    for (int s = 0; s < count; ++s) {
        if (lengths[s] > 16) return false;
        ++counts[lengths[s]];
    }
    return fillBySymbols(t, count, lengths, tableBits, table, tableSize, counts);
}
#endif

void clearTables(HuffmanTables& t) {
    std::memset(t.literalLengths, 0, sizeof t.literalLengths);
    std::memset(t.positionLengths, 0, sizeof t.positionLengths);
    std::memset(t.literalTable, 0, sizeof t.literalTable);
    std::memset(t.positionTable, 0, sizeof t.positionTable);
    std::memset(t.leftChild, 0, sizeof t.leftChild);
    std::memset(t.rightChild, 0, sizeof t.rightChild);
}

}  // namespace qorn
