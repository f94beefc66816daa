#include "base/crc16.h"

namespace qorn {

uint16_t crcTable[8][256];

void makeCrcTable() {
    // Filled already: threads that decode may be reading the tables.
    if (crcTable[0][128] == 0xA001) return;
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i;
        for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
        crcTable[0][i] = static_cast<uint16_t>(r);
    }
    // Further tables fold eight bytes per step: table t gives the CRC of a
    // byte followed by t zero bytes.
    for (unsigned i = 0; i < 256; ++i)
        for (int t = 1; t < 8; ++t) {
            uint16_t prev = crcTable[t - 1][i];
            crcTable[t][i] = static_cast<uint16_t>((prev >> 8) ^ crcTable[0][prev & 0xFF]);
        }
}

#ifdef QORN_CRC_FOLD
void updateCrc(uint16_t& crc, const uint8_t* bytes, uint32_t count) {
    if (count >= 64 && crcFoldAvailable()) {
        crc = crcFold(crc, bytes, count);
        return;
    }
    updateCrcByTables(crc, bytes, count);
}

void updateCrcByTables(uint16_t& crc, const uint8_t* bytes, uint32_t count) {
#else
void updateCrc(uint16_t& crc, const uint8_t* bytes, uint32_t count) {
#endif
    uint32_t c = crc;
    while (count >= 8) {
        c ^= bytes[0] | (bytes[1] << 8);
        c = crcTable[7][c & 0xFF] ^ crcTable[6][c >> 8] ^ crcTable[5][bytes[2]] ^
            crcTable[4][bytes[3]] ^ crcTable[3][bytes[4]] ^ crcTable[2][bytes[5]] ^
            crcTable[1][bytes[6]] ^ crcTable[0][bytes[7]];
        bytes += 8;
        count -= 8;
    }
    while (count--) c = (c >> 8) ^ crcTable[0][(c ^ *bytes++) & 0xFF];
    crc = static_cast<uint16_t>(c);
}

}  // namespace qorn
