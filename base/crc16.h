// CRC-16/ARC, the check of LHA members: reflected polynomial 0xA001, start
// 0, no final XOR. Shared by the decoders, the encoder and the tools.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorn {

// Eight tables of 256 entries, filled by the first call of makeCrcTable,
// before the first CRC and before any thread that decodes starts (the stub
// keeps them out of its file); only read after.
extern uint16_t crcTable[8][256];
void makeCrcTable();
void updateCrc(uint16_t& crc, const uint8_t* bytes, uint32_t count);
#ifdef QORN_CRC_FOLD
// The same through the tables alone.
void updateCrcByTables(uint16_t& crc, const uint8_t* bytes, uint32_t count);
// Carry-less multiplication, where the processor has it; count at least 64.
bool crcFoldAvailable();
uint16_t crcFold(uint16_t crc, const uint8_t* bytes, size_t count);
#endif

}  // namespace qorn
