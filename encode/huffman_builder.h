// Canonical Huffman codes with a length limit, for the block writer.
#pragma once

#include <cstdint>

namespace qorn::encode {

constexpr int kMaxCodeLength = 16;

// Code lengths for count (at most 1024) symbols from their frequencies, none longer than
// maxLength. Symbols with frequency 0 get length 0. Returns the number of
// symbols with a code; with fewer than two the lengths are all 0 and the
// caller sends the single-symbol form instead.
int buildCodeLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths);

// Canonical codes in the order the decoder's table builder assigns them:
// shorter codes first, then increasing symbol.
void assignCodes(const uint8_t* lengths, int count, uint16_t* codes);

}  // namespace qorn::encode
