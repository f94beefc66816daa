// Static-Huffman blocks of -lh5-, -lh6- and -lh7-.
//
// The writer collects literals and matches, cuts them into blocks where a new
// set of codes pays for its own header, and writes each block: its code
// count, the code of the code lengths, the literal/length code, the position
// code and then the codes themselves.
#pragma once

#include <cstdint>
#include <vector>

#include "encode/bit_writer.h"

namespace qorn::encode {

constexpr int kLiteralSymbols = 510;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 256;
constexpr int kMaxPositionCodes = 17;

// Position code of a distance minus one: 0 for 0, else its bit length.
inline int positionCode(uint32_t value) {
    return value == 0 ? 0 : 32 - __builtin_clz(value);
}

// The block writer's estimate of the bits a block of these symbol counts
// takes, its header included; what it cuts blocks by.
uint64_t estimateBlockBits(const uint32_t* literalCounts, const uint32_t* positionCounts,
                           int dictionaryBits);

// Symbols a block writer gathers before it chooses whether to cut.
constexpr uint32_t kCutStepTokens = 512;
// The block's code count is a 16-bit field; 0 would mean 65536, which not
// every decoder reads the same way.
constexpr uint32_t kMaxBlockTokens = 65535;

class BlockWriter {
  public:
    // dictionaryBits 13, 15 or 16.
    explicit BlockWriter(int dictionaryBits);

    void literal(uint8_t byte) { push(byte, 0); }
    void match(uint32_t length, uint32_t distance) {
        push(static_cast<uint16_t>(length - kMinMatch + 256), static_cast<uint16_t>(distance - 1));
    }
    // Writes what is left and pads the stream to a whole byte.
    void finish();
    // Complete bytes written so far; the caller drains them.
    std::vector<uint8_t>& output() { return bits_.bytes(); }

  private:
    struct Token {
        uint16_t code;      // literal byte, or 256 + length - 3
        uint16_t position;  // distance - 1 for a match
    };
    struct Histogram {
        uint32_t literal[kLiteralSymbols];
        uint32_t position[kMaxPositionCodes];
        void clear();
        void add(const Histogram& other);
    };
    struct Codes {
        uint8_t literalLength[kLiteralSymbols];
        uint16_t literalCode[kLiteralSymbols];
        int literalOnly;  // the single symbol, or -1 when a real code is sent
        uint8_t positionLength[kMaxPositionCodes];
        uint16_t positionCode[kMaxPositionCodes];
        int positionOnly;
    };

    void push(uint16_t code, uint16_t position);
    void chunkDone();
    uint64_t cost(const Histogram& h) const;
    void makeCodes(const Histogram& h, Codes& c) const;
    void writeHeader(BitWriter& out, const Codes& c, uint32_t tokenCount) const;
    void writeSmallLengths(BitWriter& out, const uint8_t* lengths, int count, int width,
                           int special) const;
    void writeBlock(const Token* tokens, uint32_t count, const Histogram& h);

    int positionCodes_;
    int positionCountBits_;
    BitWriter bits_;
    std::vector<Token> tokens_;  // the pending block, then the current chunk
    uint32_t blockTokens_ = 0;   // tokens of the pending block
    Histogram block_;
    Histogram chunk_;
    uint64_t blockCost_ = 0;
};

}  // namespace qorn::encode
