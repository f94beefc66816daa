#include "encode/block_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "encode/huffman_builder.h"

namespace qorn::encode {

namespace {

constexpr int kLengthCodeSymbols = 19;
// Block cuts are considered every this many tokens (1024 gave binaries 0.07%
// more).
constexpr uint32_t kChunkTokens = kCutStepTokens;

// One entry of the run-coded literal/length lengths.
struct LengthEntry {
    uint8_t symbol;
    uint8_t extraBits;
    uint16_t extra;
};

int runCodeLengths(const uint8_t* lengths, LengthEntry* entries, int& count) {
    int n = kLiteralSymbols;
    while (n > 0 && lengths[n - 1] == 0) --n;
    int e = 0;
    int i = 0;
    while (i < n) {
        if (lengths[i] != 0) {
            entries[e++] = {static_cast<uint8_t>(lengths[i] + 2), 0, 0};
            ++i;
            continue;
        }
        int run = 0;
        while (i < n && lengths[i] == 0) ++i, ++run;
        if (run <= 2) {
            for (int k = 0; k < run; ++k) entries[e++] = {0, 0, 0};
        } else if (run <= 18) {
            entries[e++] = {1, 4, static_cast<uint16_t>(run - 3)};
        } else if (run == 19) {
            entries[e++] = {0, 0, 0};
            entries[e++] = {1, 4, 15};
        } else {
            entries[e++] = {2, 9, static_cast<uint16_t>(run - 20)};
        }
    }
    count = n;
    return e;
}

}  // namespace

void BlockWriter::Histogram::clear() {
    std::memset(this, 0, sizeof *this);
}

void BlockWriter::Histogram::add(const Histogram& other) {
    for (int i = 0; i < kLiteralSymbols; ++i) literal[i] += other.literal[i];
    for (int i = 0; i < kMaxPositionCodes; ++i) position[i] += other.position[i];
}

BlockWriter::BlockWriter(int dictionaryBits) {
    positionCodes_ = dictionaryBits <= 14 ? 14 : (dictionaryBits == 16 ? 17 : 16);
    positionCountBits_ = dictionaryBits <= 14 ? 4 : 5;
    // Grown as the member needs: a small one maps no block of its own.
    tokens_.reserve(2 * kChunkTokens);
    block_.clear();
    chunk_.clear();
}

void BlockWriter::push(uint16_t code, uint16_t position) {
    tokens_.push_back({code, position});
    ++chunk_.literal[code];
    if (code >= 256) ++chunk_.position[positionCode(position)];
    if (tokens_.size() - blockTokens_ == kChunkTokens) chunkDone();
}

// Either the chunk joins the pending block, or the pending block is written
// and the chunk starts the next one: whichever costs fewer bits.
void BlockWriter::chunkDone() {
    const uint32_t chunkTokens = static_cast<uint32_t>(tokens_.size()) - blockTokens_;
    if (chunkTokens == 0) return;
    const uint64_t chunkCost = cost(chunk_);
    bool join = blockTokens_ == 0;
    uint64_t joinedCost = chunkCost;
    if (!join && blockTokens_ + chunkTokens <= kMaxBlockTokens) {
        Histogram joined = block_;
        joined.add(chunk_);
        joinedCost = cost(joined);
        join = joinedCost <= blockCost_ + chunkCost;
    }
    if (!join) {
        writeBlock(tokens_.data(), blockTokens_, block_);
        tokens_.erase(tokens_.begin(), tokens_.begin() + blockTokens_);
        blockTokens_ = 0;
        block_.clear();
        joinedCost = chunkCost;
    }
    block_.add(chunk_);
    blockCost_ = joinedCost;
    blockTokens_ += chunkTokens;
    chunk_.clear();
}

void BlockWriter::finish() {
    chunkDone();
    if (blockTokens_ > 0) writeBlock(tokens_.data(), blockTokens_, block_);
    tokens_.clear();
    blockTokens_ = 0;
    block_.clear();
    bits_.padToByte();
}

void BlockWriter::makeCodes(const Histogram& h, Codes& c) const {
    c.positionOnly = -1;
    if (buildCodeLengths(h.position, positionCodes_, kMaxCodeLength, c.positionLength) < 2) {
        c.positionOnly = 0;
        for (int s = 0; s < positionCodes_; ++s)
            if (h.position[s]) c.positionOnly = s;
    } else {
        assignCodes(c.positionLength, positionCodes_, c.positionCode);
    }
    c.literalOnly = -1;
    if (buildCodeLengths(h.literal, kLiteralSymbols, kMaxCodeLength, c.literalLength) < 2) {
        c.literalOnly = 0;
        for (int s = 0; s < kLiteralSymbols; ++s)
            if (h.literal[s]) c.literalOnly = s;
        return;
    }
    // In a small block the literal/length lengths are a good part of the
    // header. A lower length limit leaves fewer different lengths, which
    // the length code sends in fewer bits; keep whichever limit costs least
    // (every limit from 16 to 9 rather than 16 and 12 to 10: 0.06% on text;
    // with the best code for each limit, going on down to 5 gave another
    // 0.1% on text, 0.04% on binaries).
    uint64_t best = UINT64_MAX;
    uint8_t bestLengths[kLiteralSymbols];
    int longest = 0, used = 0, worse = 0;
    for (int limit = kMaxCodeLength; limit >= 5; --limit) {
        // A limit the code already keeps to changes nothing, nor does one
        // too low for the symbols (the builder would raise it).
        if (limit >= longest && limit < kMaxCodeLength) continue;
        if (limit < kMaxCodeLength && (1 << limit) < used) break;
        const int n = buildCodeLengths(h.literal, kLiteralSymbols, limit, c.literalLength);
        if (n < 2) break;
        used = n;
        if (limit == kMaxCodeLength)
            longest = *std::max_element(c.literalLength, c.literalLength + kLiteralSymbols);
        BitWriter counter(true);
        writeHeader(counter, c, 1);
        uint64_t bits = counter.bitCount();
        for (int s = 0; s < kLiteralSymbols; ++s)
            bits += uint64_t{h.literal[s]} * c.literalLength[s];
        if (bits < best) {
            best = bits;
            std::memcpy(bestLengths, c.literalLength, sizeof bestLengths);
            worse = 0;
        } else if (++worse == 2) {
            // The cost rises as the limit falls from its best on; two steps
            // up end the search (the same sizes on the benchmark sets within
            // a few bytes; the code builder took 4.3% of the time on text,
            // now 3.2%).
            break;
        }
    }
    std::memcpy(c.literalLength, bestLengths, sizeof bestLengths);
    assignCodes(c.literalLength, kLiteralSymbols, c.literalCode);
}

namespace {

// Bits of the symbols with ideal code lengths, and roughly what sending
// those lengths adds: perSymbol for each symbol used, perGap where a run of
// unused symbols breaks in.
double entropyBits(const uint32_t* freq, int count, double perSymbol, double perGap) {
    double total = 0, sum = 0;
    int used = 0, gaps = 0;
    bool inGap = false;
    for (int s = 0; s < count; ++s) {
        const uint32_t f = freq[s];
        if (f == 0) {
            inGap = true;
            continue;
        }
        gaps += inGap && used > 0;
        inGap = false;
        ++used;
        total += f;
        sum += f * std::log2(static_cast<double>(f));
    }
    if (used < 2) return 2 * perSymbol;
    return total * std::log2(total) - sum + used * perSymbol + gaps * perGap;
}

}  // namespace

// An estimate for choosing cuts, called twice every chunk; the block itself
// gets real codes. Building them here took a tenth of the time on binaries
// and chose no better cuts than entropy with these weights, set on the
// benchmark sets: a block header's fixed part, the bits each literal/length
// symbol and each break in their run of lengths adds, and the same for the
// position code, whose lengths go out 3 bits each.
uint64_t BlockWriter::cost(const Histogram& h) const {
    const double bits = 50 + positionCountBits_ + entropyBits(h.literal, kLiteralSymbols, 2, 3) +
                        entropyBits(h.position, positionCodes_, 3, 0);
    return static_cast<uint64_t>(bits);
}

uint64_t estimateBlockBits(const uint32_t* literalCounts, const uint32_t* positionCounts,
                           int dictionaryBits) {
    const int positionCodes = dictionaryBits <= 14 ? 14 : (dictionaryBits == 16 ? 17 : 16);
    const int positionCountBits = dictionaryBits <= 14 ? 4 : 5;
    const double bits = 50 + positionCountBits + entropyBits(literalCounts, kLiteralSymbols, 2, 3) +
                        entropyBits(positionCounts, positionCodes, 3, 0);
    return static_cast<uint64_t>(bits);
}

// Small-code lengths: 3 bits for 0..6, longer ones as 111, a run of 1 bits
// and a 0 bit. After the special index a 2-bit count of zero lengths follows.
void BlockWriter::writeSmallLengths(BitWriter& out, const uint8_t* lengths, int count, int width,
                                    int special) const {
    int n = count;
    while (n > 0 && lengths[n - 1] == 0) --n;
    out.put(static_cast<uint32_t>(n), width);
    int i = 0;
    while (i < n) {
        const int k = lengths[i++];
        if (k <= 6)
            out.put(static_cast<uint32_t>(k), 3);
        else
            out.put((1u << (k - 3)) - 2, k - 3);
        if (i == special) {
            int zeros = 0;
            while (zeros < 3 && i + zeros < n && lengths[i + zeros] == 0) ++zeros;
            out.put(static_cast<uint32_t>(zeros), 2);
            i += zeros;
        }
    }
}

void BlockWriter::writeHeader(BitWriter& out, const Codes& c, uint32_t tokenCount) const {
    out.put(tokenCount, 16);
    if (c.literalOnly >= 0) {
        // One literal/length symbol: no length code is needed either.
        out.put(0, 5);
        out.put(0, 5);
        out.put(0, 9);
        out.put(static_cast<uint32_t>(c.literalOnly), 9);
    } else {
        LengthEntry entries[kLiteralSymbols];
        int n = 0;
        const int entryCount = runCodeLengths(c.literalLength, entries, n);
        uint32_t freq[kLengthCodeSymbols] = {};
        for (int e = 0; e < entryCount; ++e) ++freq[entries[e].symbol];
        uint8_t lengths[kLengthCodeSymbols];
        uint16_t codes[kLengthCodeSymbols] = {};
        if (buildCodeLengths(freq, kLengthCodeSymbols, kMaxCodeLength, lengths) < 2) {
            out.put(0, 5);
            out.put(entries[0].symbol, 5);
        } else {
            assignCodes(lengths, kLengthCodeSymbols, codes);
            writeSmallLengths(out, lengths, kLengthCodeSymbols, 5, 3);
        }
        out.put(static_cast<uint32_t>(n), 9);
        for (int e = 0; e < entryCount; ++e) {
            const LengthEntry& en = entries[e];
            out.put(codes[en.symbol], lengths[en.symbol]);
            if (en.extraBits) out.put(en.extra, en.extraBits);
        }
    }
    if (c.positionOnly >= 0) {
        out.put(0, positionCountBits_);
        out.put(static_cast<uint32_t>(c.positionOnly), positionCountBits_);
    } else {
        writeSmallLengths(out, c.positionLength, positionCodes_, positionCountBits_, -1);
    }
}

void BlockWriter::writeBlock(const Token* tokens, uint32_t count, const Histogram& h) {
    Codes c;
    makeCodes(h, c);
    writeHeader(bits_, c, count);
    const bool literalBits = c.literalOnly < 0;
    const bool positionBits = c.positionOnly < 0;
    for (uint32_t i = 0; i < count; ++i) {
        const Token t = tokens[i];
        if (literalBits) bits_.put(c.literalCode[t.code], c.literalLength[t.code]);
        if (t.code < 256) continue;
        const int j = positionCode(t.position);
        if (positionBits) bits_.put(c.positionCode[j], c.positionLength[j]);
        if (j > 1) bits_.put(t.position - (1u << (j - 1)), j - 1);
    }
}

}  // namespace qorn::encode
