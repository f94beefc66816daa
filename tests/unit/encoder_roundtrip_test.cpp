// Streams from the encoder must decode with this project's decoder to the
// same bytes, whatever the data and however the blocks fall.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "encode/block_writer.h"
#include "encode/huffman_builder.h"
#include "encode/lzh_encoder.h"
#include "tests/support/lzh_roundtrip.h"

namespace qorn {
namespace {

using test::decodeWithProject;

struct TestMethod {
    Method index;
    uint32_t window;
};
const TestMethod kMethods[] = {{Method::Lh5, 8192}, {Method::Lh6, 32768}, {Method::Lh7, 65536}};

const encode::EncodeLevel kLevels[] = {encode::EncodeLevel::Default, encode::EncodeLevel::Maximum};

// Every method at every level: the maximum level has a search and a parse of
// its own.
void expectRoundTrip(const std::vector<uint8_t>& data, const char* what) {
    for (const TestMethod& m : kMethods) {
        for (const encode::EncodeLevel level : kLevels) {
            SCOPED_TRACE(std::string(what) + ", -lh" + std::to_string(static_cast<int>(m.index)) +
                         "- level " + std::to_string(static_cast<int>(level)));
            std::vector<uint8_t> packed, back;
            ASSERT_TRUE(encode::encodeBuffer(m.index, data.data(), data.size(), packed, level));
            ASSERT_TRUE(
                decodeWithProject(m.index, packed, static_cast<uint32_t>(data.size()), back));
            ASSERT_EQ(back.size(), data.size());
            EXPECT_TRUE(back == data)
                << "first difference at "
                << (std::mismatch(back.begin(), back.end(), data.begin()).first - back.begin());
        }
    }
}

// The code count that opens the first block.
uint32_t firstBlockCount(const std::vector<uint8_t>& packed) {
    return packed.size() < 2 ? 0 : uint32_t{packed[0]} << 8 | packed[1];
}

TEST(EncoderRoundTrip, TinyInputs) {
    expectRoundTrip({}, "empty");
    expectRoundTrip({'a'}, "one byte");
    expectRoundTrip({'a', 'b'}, "two bytes");
    expectRoundTrip({'a', 'a', 'a', 'a'}, "four equal bytes");
}

// Matches that reach back exactly to the edge of each window, and data that
// wraps the decoder's ring.
TEST(EncoderRoundTrip, WindowEdges) {
    for (const TestMethod& m : kMethods) {
        for (uint32_t size : {m.window - 1, m.window, m.window + 1, 2 * m.window + 3}) {
            std::vector<uint8_t> data = test::randomBytes(size, size);
            // The first bytes come back near the end: the longest distance.
            if (size > 64) std::memcpy(&data[size - 40], &data[0], 40);
            expectRoundTrip(data, ("window edge " + std::to_string(size)).c_str());
        }
    }
}

TEST(EncoderRoundTrip, RepetitiveAndLongMatches) {
    expectRoundTrip(std::vector<uint8_t>(300000, 'x'), "one byte repeated");
    std::vector<uint8_t> period;
    for (int i = 0; i < 200000; ++i) period.push_back(static_cast<uint8_t>("abcdefg"[i % 7]));
    expectRoundTrip(period, "period 7");
    // Runs around the longest match length.
    std::vector<uint8_t> runs;
    for (int r = 250; r < 262; ++r) {
        runs.insert(runs.end(), static_cast<size_t>(r), static_cast<uint8_t>(r));
        runs.push_back('|');
    }
    expectRoundTrip(runs, "runs near 256");
}

TEST(EncoderRoundTrip, RandomAndText) {
    expectRoundTrip(test::randomBytes(200000, 7), "random");
    expectRoundTrip(test::wordyBytes(1 << 20, 3), "1 MB of words");
    // Random stretches between text change the statistics, so block cuts fall.
    std::vector<uint8_t> mixed;
    for (int i = 0; i < 6; ++i) {
        auto part = (i % 2) ? test::randomBytes(40000, i) : test::wordyBytes(60000, i);
        mixed.insert(mixed.end(), part.begin(), part.end());
    }
    expectRoundTrip(mixed, "text and random");
}

TEST(EncoderRoundTrip, RealFiles) {
    const char* const files[] = {QORN_TEST_DATA "/../../decode/static_huffman.cpp", QORN_TOOL};
    for (const char* path : files) {
        std::vector<uint8_t> data;
        ASSERT_TRUE(test::readFileBytes(path, data)) << path;
        expectRoundTrip(data, path);
    }
}

// A block holds at most 65,535 codes (its count is a 16-bit field, and 0
// is read as 65,536 by some decoders and as none by others). Bytes without
// a single match give one code each, and noise-like statistics all through,
// so the first block takes all it may: everything up to the limit, and
// never more when there is more.
TEST(EncoderRoundTrip, BlocksReachTheCodeLimitAndNoMore) {
    for (const size_t size : {size_t{65535}, size_t{65536}, size_t{65537}}) {
        const std::vector<uint8_t> data = test::matchlessBytes(size);
        ASSERT_EQ(data.size(), size);
        expectRoundTrip(data, ("matchless " + std::to_string(size)).c_str());
        for (const TestMethod& m : kMethods) {
            for (const encode::EncodeLevel level : kLevels) {
                std::vector<uint8_t> packed;
                ASSERT_TRUE(encode::encodeBuffer(m.index, data.data(), size, packed, level));
                const uint32_t count = firstBlockCount(packed);
                if (size == 65535)
                    EXPECT_EQ(count, 65535u) << "-lh" << static_cast<int>(m.index) << "-";
                else
                    EXPECT_TRUE(count >= 60000 && count <= 65535)
                        << count << " codes of " << size << ", -lh" << static_cast<int>(m.index)
                        << "-";
            }
        }
    }
}

// The maximum level searches further and prices its later parses by the
// codes of their blocks; it must not lose to the default level.
TEST(EncoderRoundTrip, MaximumLevelIsNoLarger) {
    std::vector<uint8_t> tool;
    ASSERT_TRUE(test::readFileBytes(QORN_TOOL, tool));
    tool.resize(std::min<size_t>(tool.size(), 600000));
    const std::vector<uint8_t> inputs[] = {test::wordyBytes(300000, 12), tool};
    for (const std::vector<uint8_t>& data : inputs) {
        for (const TestMethod& m : kMethods) {
            std::vector<uint8_t> normal, maximum;
            ASSERT_TRUE(encode::encodeBuffer(m.index, data.data(), data.size(), normal));
            ASSERT_TRUE(encode::encodeBuffer(m.index, data.data(), data.size(), maximum,
                                             encode::EncodeLevel::Maximum));
            EXPECT_LE(maximum.size(), normal.size())
                << data.size() << " bytes, -lh" << static_cast<int>(m.index) << "-";
        }
    }
}

TEST(EncoderRoundTrip, TextShrinksAndRandomDoesNot) {
    const auto text = test::wordyBytes(100000, 1);
    const auto noise = test::randomBytes(100000, 1);
    std::vector<uint8_t> packed;
    ASSERT_TRUE(encode::encodeBuffer(Method::Lh5, text.data(), text.size(), packed));
    EXPECT_LT(packed.size(), text.size() / 3);
    ASSERT_TRUE(encode::encodeBuffer(Method::Lh5, noise.data(), noise.size(), packed));
    EXPECT_GT(packed.size(), noise.size() * 99 / 100);
}

// Text, then bytes of another alphabet, then text again: packed as one stream
// it should cost about what the three parts cost on their own, which needs a
// new block with new codes where the statistics change (one set of codes for
// all of it costs about 10% more).
TEST(EncoderRoundTrip, BlocksAreCutWhereTheStatisticsChange) {
    const auto text = test::wordyBytes(120000, 4);
    auto high = test::randomBytes(60000, 4);
    for (uint8_t& b : high) b = static_cast<uint8_t>(0x80 | (b & 0x3F));
    const auto more = test::wordyBytes(120000, 5);
    std::vector<uint8_t> whole = text;
    whole.insert(whole.end(), high.begin(), high.end());
    whole.insert(whole.end(), more.begin(), more.end());
    for (const TestMethod& m : kMethods) {
        size_t parts = 0;
        std::vector<uint8_t> packed;
        const std::vector<uint8_t>* const pieces[] = {&text, &high, &more};
        for (const std::vector<uint8_t>* part : pieces) {
            ASSERT_TRUE(encode::encodeBuffer(m.index, part->data(), part->size(), packed));
            parts += packed.size();
        }
        ASSERT_TRUE(encode::encodeBuffer(m.index, whole.data(), whole.size(), packed));
        EXPECT_LT(packed.size(), parts + parts / 200) << "-lh" << static_cast<int>(m.index) << "-";
    }
}

// Stretches of text and of four-letter noise, a few KB each, so a segment of
// the parse holds several blocks. In the noise a literal takes about 2 bits
// in its own block's code but more at the segment's prices, by which short
// matches look cheaper. The maximum level prices its later parses by each
// block's own codes: it must read back at every method and gain on the
// default level (0.35-0.6% when it came).
TEST(EncoderRoundTrip, BlocksWithinASegmentArePricedByTheirOwnCodes) {
    std::vector<uint8_t> data;
    for (uint32_t i = 0; data.size() < 200000; ++i) {
        auto part = (i % 2) ? test::randomBytes(3000 + 500 * (i % 5), i)
                            : test::wordyBytes(9000 + 1000 * (i % 7), i);
        if (i % 2)
            for (uint8_t& b : part) b = static_cast<uint8_t>(1 + (b & 3));
        data.insert(data.end(), part.begin(), part.end());
    }
    expectRoundTrip(data, "stretches of two alphabets");
    for (const TestMethod& m : kMethods) {
        std::vector<uint8_t> normal, maximum;
        ASSERT_TRUE(encode::encodeBuffer(m.index, data.data(), data.size(), normal));
        ASSERT_TRUE(encode::encodeBuffer(m.index, data.data(), data.size(), maximum,
                                         encode::EncodeLevel::Maximum));
        EXPECT_LT(maximum.size(), normal.size() - normal.size() / 400)
            << "-lh" << static_cast<int>(m.index) << "-";
    }
}

// The size the caller expects only sizes the search tables: a file that grew
// or shrank since it was listed must still come out whole.
TEST(EncoderRoundTrip, AWrongExpectedSizeStillGivesTheWholeStream) {
    class Source : public encode::ByteSource {
      public:
        explicit Source(const std::vector<uint8_t>& d) : data_(d) {}
        int64_t read(uint8_t* buffer, size_t count) override {
            const size_t n = std::min(count, data_.size() - at_);
            std::memcpy(buffer, data_.data() + at_, n);
            at_ += n;
            return static_cast<int64_t>(n);
        }

      private:
        const std::vector<uint8_t>& data_;
        size_t at_ = 0;
    };
    const auto grown = test::wordyBytes(300000, 9);
    const auto shrunk = test::wordyBytes(700, 9);
    const struct {
        const std::vector<uint8_t>& data;
        uint64_t expected;
    } cases[] = {{grown, 1}, {grown, 5000}, {shrunk, uint64_t{1} << 32}, {shrunk, 0}};
    for (const auto& c : cases) {
        for (const TestMethod& m : kMethods) {
            SCOPED_TRACE("-lh" + std::to_string(static_cast<int>(m.index)) + "- " +
                         std::to_string(c.data.size()) + " bytes, expected " +
                         std::to_string(c.expected));
            Source source(c.data);
            std::vector<uint8_t> packed, back;
            encode::VectorSink sink(packed);
            const auto r = encode::encodeStream(m.index, source, sink, UINT64_MAX, c.expected);
            ASSERT_EQ(r.status, encode::EncodeResult::Done);
            ASSERT_EQ(r.originalSize, c.data.size());
            ASSERT_TRUE(
                decodeWithProject(m.index, packed, static_cast<uint32_t>(c.data.size()), back));
            EXPECT_TRUE(back == c.data);
        }
    }
}

// Copies of a random block, each with a byte changed here and there: only the
// first copy carries information, so a search that finds the copies and a
// parse that splices them around the changes leave little more than the
// block itself.
TEST(EncoderRoundTrip, NearCopiesCostLittleMoreThanOneCopy) {
    const uint32_t block = 5000;  // within the smallest window
    const std::vector<uint8_t> original = test::randomBytes(block, 11);
    std::vector<uint8_t> data;
    uint32_t changes = 0;
    for (uint32_t copy = 0; copy < 12; ++copy) {
        std::vector<uint8_t> next = original;
        for (uint32_t at = 97 * copy; copy > 0 && at < block; at += 499, ++changes)
            next[at] ^= 0x5A;
        data.insert(data.end(), next.begin(), next.end());
    }
    for (const TestMethod& m : kMethods) {
        std::vector<uint8_t> packed, back;
        ASSERT_TRUE(encode::encodeBuffer(m.index, data.data(), data.size(), packed));
        // Random bytes do not shrink; a change costs a literal and about two
        // matches, under 8 bytes.
        EXPECT_LT(packed.size(), block + block / 32 + changes * 8)
            << "-lh" << static_cast<int>(m.index) << "-";
        ASSERT_TRUE(decodeWithProject(m.index, packed, static_cast<uint32_t>(data.size()), back));
        EXPECT_TRUE(back == data);
    }
}

TEST(HuffmanBuilder, LengthsStayWithinLimitAndCodeIsComplete) {
    // Fibonacci frequencies make the deepest possible tree.
    uint32_t freq[40];
    freq[0] = freq[1] = 1;
    for (int i = 2; i < 40; ++i) freq[i] = freq[i - 1] + freq[i - 2];
    uint8_t lengths[40];
    ASSERT_EQ(encode::buildCodeLengths(freq, 40, 16, lengths), 40);
    uint64_t kraft = 0;
    for (uint8_t l : lengths) {
        ASSERT_GE(l, 1);
        ASSERT_LE(l, 16);
        kraft += uint64_t{1} << (16 - l);
    }
    EXPECT_EQ(kraft, uint64_t{1} << 16);
    // Canonical codes: shorter first, then by symbol, prefix-free.
    uint16_t codes[40];
    encode::assignCodes(lengths, 40, codes);
    for (int a = 0; a < 40; ++a)
        for (int b = 0; b < 40; ++b) {
            if (a == b || lengths[a] > lengths[b]) continue;
            EXPECT_NE(codes[b] >> (lengths[b] - lengths[a]), codes[a]) << a << " " << b;
        }
    // A limit no code of 40 symbols can keep: the shortest possible (6) is
    // given instead of flattening for ever.
    ASSERT_EQ(encode::buildCodeLengths(freq, 40, 4, lengths), 40);
    EXPECT_EQ(*std::max_element(lengths, lengths + 40), 6);
}

// Sum of 2^(limit - length): 2^limit for a complete code.
uint64_t kraftSum(const uint8_t* lengths, int count, int limit) {
    uint64_t sum = 0;
    for (int s = 0; s < count; ++s)
        if (lengths[s]) sum += uint64_t{1} << (limit - lengths[s]);
    return sum;
}

// Under a limit the plain code does not keep, the lengths must still make a
// complete code, and one no other code within the limit beats: checked
// against every assignment of lengths to a few symbols.
TEST(HuffmanBuilder, LimitedCodeIsTheBestThereIs) {
    uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
    for (int round = 0; round < 300; ++round) {
        const int n = 3 + static_cast<int>(next() % 5);  // 3..7 symbols
        const int limit =
            n <= 4 ? 2 + static_cast<int>(next() % 2) : 3 + static_cast<int>(next() % 2);
        uint32_t freq[7];
        for (int s = 0; s < n; ++s) freq[s] = 1 + next() % (round % 2 ? 1000 : 10);
        // A skewed one now and then, so the plain code runs past the limit.
        if (round % 3 == 0) freq[0] *= 500, freq[1] *= 50;
        uint8_t lengths[7];
        ASSERT_EQ(encode::buildCodeLengths(freq, n, limit, lengths), n);
        uint64_t cost = 0;
        for (int s = 0; s < n; ++s) {
            ASSERT_GE(lengths[s], 1);
            ASSERT_LE(lengths[s], limit);
            cost += uint64_t{freq[s]} * lengths[s];
        }
        EXPECT_EQ(kraftSum(lengths, n, limit), uint64_t{1} << limit) << "round " << round;
        uint64_t best = UINT64_MAX;
        uint8_t l[7];
        int total = 1;
        for (int s = 0; s < n; ++s) total *= limit;
        for (int k = 0; k < total; ++k) {
            uint64_t c = 0;
            for (int s = 0, v = k; s < n; ++s, v /= limit) {
                l[s] = static_cast<uint8_t>(1 + v % limit);
                c += uint64_t{freq[s]} * l[s];
            }
            if (kraftSum(l, n, limit) <= uint64_t{1} << limit) best = std::min(best, c);
        }
        EXPECT_EQ(cost, best) << "round " << round << ", " << n << " symbols, limit " << limit;
    }
}

// The whole literal/length alphabet at the low limits small blocks choose.
TEST(HuffmanBuilder, FullAlphabetAtLowLimits) {
    uint32_t freq[encode::kLiteralSymbols];
    for (int s = 0; s < encode::kLiteralSymbols; ++s)
        freq[s] = s < 256 ? 1 + static_cast<uint32_t>(s * s % 9973) : 1 + (s % 3);
    uint8_t lengths[encode::kLiteralSymbols];
    for (const int limit : {9, 10, 12}) {
        ASSERT_EQ(encode::buildCodeLengths(freq, encode::kLiteralSymbols, limit, lengths),
                  encode::kLiteralSymbols);
        EXPECT_LE(*std::max_element(lengths, lengths + encode::kLiteralSymbols), limit);
        EXPECT_EQ(kraftSum(lengths, encode::kLiteralSymbols, 16), uint64_t{1} << 16) << limit;
    }
}

}  // namespace
}  // namespace qorn
