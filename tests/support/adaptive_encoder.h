// Test-only encoder for -lh1- and -lh2- streams, and a bit writer for
// hand-made -lh3- blocks. Its adaptive model is a separate, plain copy:
// the swap partner is found by searching the equal weights instead of
// through runs, so a slip in the decoder's bookkeeping shows up as a
// mismatch rather than being repeated here.
#pragma once

#include <cstdint>
#include <vector>

namespace qorn::testenc {

// Writes bits most significant first.
class BitWriter {
  public:
    void put(uint32_t value, int bits);
    // Writes a code given as text of '0' and '1' (spaces ignored).
    void putText(const char* bits);
    std::vector<uint8_t> finish();  // pads the last byte with 0 bits

  private:
    std::vector<uint8_t> bytes_;
    uint32_t acc_ = 0;
    int count_ = 0;
};

// One step of an LZ stream: a literal byte, or a match of length 3.. at
// distance 1.. (the decoder's position value is distance - 1).
struct Token {
    bool match;
    uint8_t literal;
    uint16_t length;
    uint16_t distance;
};

// Encodes tokens as an -lh1- (method 1) or -lh2- (method 2) stream.
std::vector<uint8_t> encodeTokens(const std::vector<Token>& tokens, int method);
// Greedy hash-chain parse of data, within the method's limits.
std::vector<Token> parse(const std::vector<uint8_t>& data, int method);
std::vector<uint8_t> encodeAdaptive(const std::vector<uint8_t>& data, int method);

}  // namespace qorn::testenc
