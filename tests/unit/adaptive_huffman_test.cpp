// -lh1- and -lh2-: codes right after the start, the tree's bookkeeping,
// real archives, round trips through the test encoder, corrupt streams.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "decode/adaptive_tree.h"
#include "decode/bit_reader.h"
#include "decode/decoder_context.h"
#include "decode/decoders.h"
#include "decode/huffman_table.h"
#include "payload/archive_entry.h"
#include "platform/platform.h"
#include "tests/support/adaptive_encoder.h"
#include "tests/support/corpus.h"
#include "tests/support/memory_session.h"

namespace qorn {
namespace {

using testenc::BitWriter;
using testenc::feedSession;
using testenc::Token;
using Bytes = std::vector<uint8_t>;

Bytes bits(const char* text) {
    BitWriter w;
    w.putText(text);
    return w.finish();
}

// Weights fall with the index (an update finds its swap partner by that),
// the root weighs more than any node below it, inner nodes weigh their
// children's sum, and parents and leaves point back.
void expectSoundTree(const DecoderContext& s, int first, int end, int leafBase) {
    const AdaptiveTree& t = s.adaptive.tree;
    const int runFrom = first == kPositionRoot ? first + 1 : first;  // pinned root
    if (end > first + 1) {
        ASSERT_GT(t.weight[first], t.weight[first + 1]);
    }
    for (int i = first; i < end; ++i) {
        SCOPED_TRACE(i);
        const int v = t.link[i];
        if (v < 0) {  // a leaf
            ASSERT_EQ(t.leafNode[~v], i);
            ASSERT_GE(~v, leafBase);
        } else {
            ASSERT_GT(v, i);
            ASSERT_LT(v, end);
            ASSERT_EQ(t.parent[v], i);
            ASSERT_EQ(t.parent[v - 1], i);
            if (i != kPositionRoot) {
                ASSERT_EQ(t.weight[i], uint16_t(t.weight[v] + t.weight[v - 1]));
            }
        }
        if (i > runFrom) {
            ASSERT_LE(t.weight[i], t.weight[i - 1]);
        }
    }
}

TEST(AdaptiveCodes, Lh2StartGivesSymbolZeroNineBitsThenMovesItToTheFront) {
    testenc::Owned<DecoderContext> a;
    feedSession(a, bits("111000100 11100001"), 13);
    startLh2(a);
    EXPECT_EQ(decodeAdaptiveCode(a), 0);
    // Symbol 0's leaf swapped with the lowest leaf of weight 1, where 285 was.
    EXPECT_EQ(decodeAdaptiveCode(a), 0);
    expectSoundTree(a, 0, 571, 0);

    testenc::Owned<DecoderContext> b;
    feedSession(b, bits("111000100 111000100 11111111"), 13);
    startLh2(b);
    EXPECT_EQ(decodeAdaptiveCode(b), 0);
    EXPECT_EQ(decodeAdaptiveCode(b), 540);  // 285 and e = 255: a match of 287

    testenc::Owned<DecoderContext> c;
    feedSession(c, bits("11100001 00000000 11100000"), 13);
    startLh2(c);
    EXPECT_EQ(decodeAdaptiveCode(c), 285);  // escape with e = 0: a match of 32
    EXPECT_FALSE(c.error);
}

TEST(AdaptiveCodes, Lh1StartCodesAndNoEscape) {
    testenc::Owned<DecoderContext> a;
    feedSession(a, bits("110001100"), 12);
    startLh1(a);
    EXPECT_EQ(decodeAdaptiveCode(a), 0);

    testenc::Owned<DecoderContext> b;
    // 313 is a 60-byte match with no extra bits: the next code follows at once.
    feedSession(b, bits("11000101 0"), 12);
    startLh1(b);
    EXPECT_EQ(decodeAdaptiveCode(b), 313);
    EXPECT_EQ(bitBuffer(b) >> 15, 0);
    expectSoundTree(b, 0, 627, 0);
}

TEST(AdaptiveCodes, Lh1FixedPositionCodes) {
    testenc::Owned<DecoderContext> s;
    feedSession(s, bits("000 000101  0010 111111  0100 000000  11111111 000001"), 12);
    startLh1(s);
    EXPECT_EQ(decodeStaticPosition(s), 5);
    EXPECT_EQ(decodeStaticPosition(s), 1 * 64 + 63);
    EXPECT_EQ(decodeStaticPosition(s), 3 * 64);
    EXPECT_EQ(decodeStaticPosition(s), 63 * 64 + 1);  // eight bits, table only
    EXPECT_FALSE(s.error);
}

TEST(AdaptivePositions, OneLeafReadsNoCodeBitsAndGrowthAddsSeveralCodesAtOnce) {
    testenc::Owned<DecoderContext> a;
    feedSession(a, bits("101010 111111"), 13);
    startLh2(a);
    a.outputCount = 64;  // not more than 64 bytes: still only code 0
    EXPECT_EQ(decodeAdaptivePosition(a), 42);
    EXPECT_EQ(a.adaptive.lastPositionNode, kPositionRoot);

    // After more than 128 bytes codes 1 and 2 both join before the read:
    // code 0 is 0, code 1 is 11, code 2 is 10.
    const char* streams[] = {"0 000011", "11 000011", "10 000011"};
    for (int code = 0; code < 3; ++code) {
        testenc::Owned<DecoderContext> s;
        feedSession(s, bits(streams[code]), 13);
        startLh2(s);
        s.outputCount = 150;
        EXPECT_EQ(decodeAdaptivePosition(s), code * 64 + 3);
        EXPECT_EQ(s.adaptive.lastPositionNode, kPositionRoot + 4);
        expectSoundTree(s, kPositionRoot, s.adaptive.lastPositionNode + 1, kPositionLeafBase);
    }

    // A long match passes five thresholds: codes 1..5 join in order.
    testenc::Owned<DecoderContext> b;
    feedSession(b, Bytes(8, 0), 13);
    startLh2(b);
    b.outputCount = 5 * 64 + 1;
    decodeAdaptivePosition(b);
    const AdaptiveTree& t = b.adaptive.tree;
    EXPECT_EQ(b.adaptive.lastPositionNode, kPositionRoot + 10);
    for (int code = 1; code <= 5; ++code)
        EXPECT_EQ(t.link[t.leafNode[kPositionLeafBase + code]], ~(kPositionLeafBase + code));
    expectSoundTree(b, kPositionRoot, b.adaptive.lastPositionNode + 1, kPositionLeafBase);

    // The tree stops growing at 128 codes, the whole 8 KB dictionary.
    b.outputCount = 1u << 20;
    decodeAdaptivePosition(b);
    EXPECT_EQ(b.adaptive.lastPositionNode, 882);
    expectSoundTree(b, kPositionRoot, 883, kPositionLeafBase);
}

TEST(AdaptiveTreeRebuild, RootWeight32768HalvesLeavesBeforeCounting) {
    testenc::Owned<DecoderContext> s;
    feedSession(s, Bytes(4, 0), 13);
    startLh2(s);
    AdaptiveState& a = s.adaptive;
    const AdaptiveTree& t = a.tree;
    updateLiteral(a, 'B');  // weight 2, which halves to 1
    while (t.weight[0] != 0x8000) updateLiteral(a, 'A');
    const int heavy = t.weight[t.leafNode['A']];
    EXPECT_EQ(t.weight[t.leafNode['B']], 2);
    expectSoundTree(s, 0, 571, 0);

    updateLiteral(a, 'C');
    EXPECT_EQ(t.weight[t.leafNode['A']], (heavy + 1) / 2);
    EXPECT_EQ(t.weight[t.leafNode['B']], 1);
    EXPECT_EQ(t.weight[t.leafNode['C']], 2);  // 1 after the rebuild, then counted
    EXPECT_EQ(t.weight[t.leafNode['D']], 1);
    EXPECT_EQ(t.weight[0], (heavy + 1) / 2 + 285 + 1);
    expectSoundTree(s, 0, 571, 0);
}

// Reads the packed bytes of one member of a corpus archive.
bool memberBytes(const corpus::Member& m, ArchiveEntry& entry, Bytes& packed) {
    const std::string path = corpus::folder() + "/" + m.archive;
    BinaryFile file(platform::openForReading(platform::fromUtf8(path.c_str()).c_str()));
    corpus::RecordingReporter reporter;
    for (int i = 0; i <= m.index; ++i) {
        if (readEntryHeader(file, entry, reporter) != HeaderResult::Member) return false;
        if (i < m.index) file.moveBy(entry.packedSize);
    }
    packed.resize(entry.packedSize);
    return file.read(packed.data(), entry.packedSize) == int64_t(entry.packedSize);
}

TEST(AdaptiveCorpus, EveryLh1Lh2AndLh3MemberDecodesToItsChecksum) {
    int counts[4] = {};
    for (const corpus::Member& m : corpus::members()) {
        if (m.method != "-lh1-" && m.method != "-lh2-" && m.method != "-lh3-") continue;
        SCOPED_TRACE(m.archive);
        ArchiveEntry entry;
        Bytes packed;
        ASSERT_TRUE(memberBytes(m, entry, packed));
        const int method = m.method[3] - '0';
        const corpus::DecodeOutcome out =
            corpus::decodeBytes(packed, entry.originalSize, static_cast<Method>(method));
        EXPECT_FALSE(out.damaged);
        EXPECT_EQ(out.crc, entry.crc);
        EXPECT_EQ(corpus::sha256(out.output), m.sha256);
        ++counts[method];
    }
    EXPECT_EQ(counts[1], 17);
    EXPECT_EQ(counts[2], 1);
    EXPECT_EQ(counts[3], 1);

    const std::string raw = corpus::folder() + "/raw-streams/";
    const Bytes plain = corpus::readAll(raw + "lh0.bin");
    const corpus::DecodeOutcome out =
        corpus::decodeBytes(corpus::readAll(raw + "lh1.bin"), uint32_t(plain.size()), Method::Lh1);
    EXPECT_FALSE(out.damaged);
    EXPECT_TRUE(out.output == plain);
}

Bytes randomBytes(size_t n, uint32_t seed, int alphabet) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& c : b) c = static_cast<uint8_t>(rng() % alphabet);
    return b;
}

// Text-like data with many short and some very long repeats.
Bytes structuredBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    static const char* words[] = {"tree ", "node ", "weight ", "run ",      "leader ",
                                  "swap ", "leaf ", "\n",      "position ", "code "};
    Bytes b;
    while (b.size() < n) {
        const uint32_t r = rng() % 100;
        if (r < 3 && b.size() > 9000) {
            // A long copy from far back.
            const size_t from = b.size() - 1 - rng() % 8000, len = 40 + rng() % 300;
            for (size_t i = 0; i < len; ++i) b.push_back(b[from + i]);
        } else if (r < 5) {
            b.insert(b.end(), 1 + rng() % 400, static_cast<uint8_t>(rng()));
        } else {
            const char* w = words[rng() % 10];
            b.insert(b.end(), w, w + std::char_traits<char>::length(w));
            if (r < 60) b.push_back(static_cast<uint8_t>('0' + rng() % 10));
        }
    }
    b.resize(n);
    return b;
}

void expectRoundTrip(const Bytes& data, int method) {
    const Bytes packed = testenc::encodeAdaptive(data, method);
    const corpus::DecodeOutcome out =
        corpus::decodeBytes(packed, uint32_t(data.size()), static_cast<Method>(method));
    EXPECT_FALSE(out.damaged);
    ASSERT_EQ(out.output.size(), data.size());
    size_t i = 0;
    while (i < data.size() && out.output[i] == data[i]) ++i;
    EXPECT_EQ(i, data.size()) << "first difference";
}

TEST(AdaptiveRoundTrip, RandomAndStructuredDataThroughManyRebuilds) {
    for (int method = 1; method <= 2; ++method) {
        SCOPED_TRACE(method);
        expectRoundTrip(randomBytes(120000, 1, 256), method);
        expectRoundTrip(randomBytes(150000, 2, 5), method);
        // More than 32768 matches: the position tree rebuilds too.
        const Bytes text = structuredBytes(800000, 3);
        size_t matches = 0;
        for (const Token& t : testenc::parse(text, method)) matches += t.match;
        ASSERT_GT(matches, 33000u);
        expectRoundTrip(text, method);
        expectRoundTrip(Bytes(100000, 'z'), method);
        expectRoundTrip(Bytes(), method);
    }
}

TEST(AdaptiveRoundTrip, EveryLengthAndTheEscape) {
    // Matches of every length each method can code, over a patterned history.
    for (int method = 1; method <= 2; ++method) {
        SCOPED_TRACE(method);
        std::vector<Token> tokens;
        Bytes expected;
        for (int i = 0; i < 300; ++i) {
            tokens.push_back({false, uint8_t(i * 7), 0, 0});
            expected.push_back(uint8_t(i * 7));
        }
        const int longest = method == 1 ? 60 : 287;
        for (int len = 3; len <= longest; ++len) {
            const int distance =
                1 + (len * 37) % int(expected.size() < 4096 ? expected.size() : 4096);
            tokens.push_back({true, 0, uint16_t(len), uint16_t(distance)});
            for (int k = 0; k < len; ++k) expected.push_back(expected[expected.size() - distance]);
        }
        const Bytes packed = testenc::encodeTokens(tokens, method);
        const corpus::DecodeOutcome out =
            corpus::decodeBytes(packed, uint32_t(expected.size()), static_cast<Method>(method));
        EXPECT_FALSE(out.damaged);
        EXPECT_TRUE(out.output == expected);
    }
}

TEST(AdaptiveCorrupt, DamagedStreamsEndWithoutFaults) {
    std::mt19937 rng(7);
    for (int method = 1; method <= 2; ++method) {
        const Bytes data = structuredBytes(20000, 11);
        const Bytes good = testenc::encodeAdaptive(data, method);
        for (int round = 0; round < 150; ++round) {
            Bytes bad = good;
            if (round % 3 == 0) {
                bad.resize(rng() % bad.size());  // cut short: the rest reads as zeros
            } else if (round % 3 == 1) {
                for (int k = 0; k < 4; ++k) bad[rng() % bad.size()] ^= uint8_t(1 + rng() % 255);
            } else {
                bad = randomBytes(good.size(), rng(), 256);
            }
            const corpus::DecodeOutcome out =
                corpus::decodeBytes(bad, uint32_t(data.size()), static_cast<Method>(method));
            EXPECT_LE(out.output.size(), data.size());
            // A stream cut by more than the look-ahead stops as damaged
            // instead of making up the rest from zero bits.
            if (round % 3 == 0 && bad.size() + 3 <= good.size()) {
                EXPECT_TRUE(out.damaged);
                EXPECT_LT(out.output.size(), data.size());
            }
        }
        // All ones and all zeros walk the deepest and the shallowest paths.
        corpus::decodeBytes(Bytes(5000, 0xFF), 100000, static_cast<Method>(method));
        corpus::decodeBytes(Bytes(5000, 0x00), 100000, static_cast<Method>(method));
    }
}

}  // namespace
}  // namespace qorn
