// -lh3-: block headers, single-code blocks, fixed position codes, block
// boundaries and corrupt blocks.
#include <gtest/gtest.h>

#include <random>

#include "base/crc16.h"
#include "decode/adaptive_tree.h"
#include "decode/bit_reader.h"
#include "decode/decoder_context.h"
#include "decode/decoders.h"
#include "decode/huffman_table.h"
#include "tests/support/adaptive_encoder.h"
#include "tests/support/corpus.h"
#include "tests/support/memory_session.h"

namespace qorn {
namespace {

using testenc::BitWriter;
using Bytes = std::vector<uint8_t>;
constexpr Method kLh3 = Method::Lh3;

// Literal lengths of a block whose only literal/length code is symbol.
void singleLiteral(BitWriter& w, unsigned symbol) {
    for (int i = 0; i < 3; ++i) w.putText("1 0000");  // three lengths of 1
    w.put(symbol, 9);
}

void singlePosition(BitWriter& w, unsigned code) {
    w.put(1, 1);                                    // own position lengths
    for (int i = 0; i < 3; ++i) w.putText("0001");  // three lengths of 1
    w.put(code, 10);
}

TEST(StaticTreeBlocks, SingleSymbolBlocksUseNoCodeBits) {
    BitWriter w;
    w.put(5, 16);
    singleLiteral(w, 'A');
    w.put(0, 1);  // fixed position lengths
    corpus::DecodeOutcome out = corpus::decodeBytes(w.finish(), 5, kLh3);
    EXPECT_FALSE(out.damaged);
    EXPECT_EQ(std::string(out.output.begin(), out.output.end()), "AAAAA");

    // 285 with eight 0 bits is a match of 32; the lone position code 0
    // needs only its 6 plain bits. The dictionary starts as spaces.
    BitWriter m;
    m.put(1, 16);
    singleLiteral(m, 285);
    singlePosition(m, 0);
    m.put(0, 8);
    m.put(0, 6);
    out = corpus::decodeBytes(m.finish(), 32, kLh3);
    EXPECT_FALSE(out.damaged);
    EXPECT_EQ(out.output, Bytes(32, ' '));
}

TEST(StaticTreeBlocks, LoneSymbolsOutsideTheAlphabetRejectTheMember) {
    BitWriter a;
    a.put(5, 16);
    singleLiteral(a, 286);
    a.put(0, 1);
    EXPECT_TRUE(corpus::decodeBytes(a.finish(), 5, kLh3).damaged);

    for (unsigned code : {127u, 128u, 1023u}) {
        BitWriter b;
        b.put(2, 16);
        singleLiteral(b, 256);  // matches of 3
        singlePosition(b, code);
        b.put(0, 12);
        EXPECT_EQ(corpus::decodeBytes(b.finish(), 6, kLh3).damaged, code >= 128) << code;
    }
}

TEST(StaticTreeBlocks, BlockSizeZeroLasts65536CodesThenANewHeaderFollows) {
    BitWriter w;
    w.put(0, 16);
    singleLiteral(w, 'x');
    w.put(0, 1);
    w.put(3, 16);
    singleLiteral(w, 'y');
    w.put(0, 1);
    const corpus::DecodeOutcome out = corpus::decodeBytes(w.finish(), 65539, kLh3);
    EXPECT_FALSE(out.damaged);
    Bytes expected(65536, 'x');
    expected.insert(expected.end(), 3, 'y');
    EXPECT_TRUE(out.output == expected);
}

TEST(StaticTreeBlocks, NextMemberReadsItsOwnHeaderEvenAfterAnUnfinishedBlock) {
    BitWriter a;
    a.put(100, 16);
    singleLiteral(a, 'p');
    a.put(0, 1);
    EXPECT_EQ(corpus::decodeBytes(a.finish(), 4, kLh3).output, Bytes(4, 'p'));
    BitWriter b;
    b.put(2, 16);
    singleLiteral(b, 'q');
    b.put(0, 1);
    EXPECT_EQ(corpus::decodeBytes(b.finish(), 2, kLh3).output, Bytes(2, 'q'));
}

TEST(StaticTreeBlocks, FixedPositionCodesIncludingTheNineBitWalk) {
    BitWriter w;
    w.putText("00 000001  0100 000010  0101 000011  01100 000100  111111111 111111");
    testenc::Owned<DecoderContext> s;
    testenc::feedSession(s, w.finish(), 13);
    startLh3(s);
    loadFixedPositionLengths(s, 1);
    HuffmanTables& t = s.tables;
    ASSERT_TRUE(buildTable(t, 128, t.positionLengths, 8, t.positionTable, 256));
    EXPECT_EQ(decodeStaticPosition(s), 1);
    EXPECT_EQ(decodeStaticPosition(s), 64 + 2);
    EXPECT_EQ(decodeStaticPosition(s), 128 + 3);
    EXPECT_EQ(decodeStaticPosition(s), 192 + 4);
    EXPECT_EQ(decodeStaticPosition(s), 8191);
    EXPECT_FALSE(s.error);
}

TEST(StaticTreeBlocks, CodedLiteralsMatchesAndCodesLongerThanTheTable) {
    // A complete code: 'a' 1 bit, length 3 (256) 2 bits, 'b'..'l' 3..13
    // bits, 'm' 13 bits. The 13-bit codes walk one step past the table.
    auto length = [](int i) {
        if (i == 'a') return 1;
        if (i == 256) return 2;
        if (i >= 'b' && i <= 'l') return i - 'b' + 3;
        return i == 'm' ? 13 : 0;
    };
    BitWriter w;
    w.put(6, 16);
    for (int i = 0; i < 286; ++i) {
        w.put(length(i) != 0, 1);
        if (length(i) != 0) w.put(unsigned(length(i) - 1), 4);
    }
    w.put(0, 1);
    w.putText("1111111111111 1111111111110");  // m l
    w.putText("0 110");                        // a b
    w.putText("10 00 000011");                 // match of 3 at distance 4: "mla"
    w.putText("1110");                         // c
    const corpus::DecodeOutcome out = corpus::decodeBytes(w.finish(), 8, kLh3);
    EXPECT_FALSE(out.damaged);
    EXPECT_EQ(std::string(out.output.begin(), out.output.end()), "mlabmlac");
}

TEST(StaticTreeCorrupt, DamagedBlocksEndWithoutFaults) {
    std::mt19937 rng(5);
    // The one member of this level-2 archive: its data follows the header,
    // whose first two bytes give its size.
    const Bytes archive = corpus::readAll(corpus::folder() + "/lhasa/win-c/lh3.lzh");
    ASSERT_GT(archive.size(), 100u);
    const size_t start = archive[0] | archive[1] << 8;
    const size_t packed = archive[7] | archive[8] << 8 | archive[9] << 16;
    ASSERT_EQ(corpus::decodeBytes(Bytes(archive.begin() + start, archive.begin() + start + packed),
                                  2853, kLh3)
                  .damaged,
              false);
    const Bytes good(archive.begin() + start, archive.begin() + start + packed);
    for (int round = 0; round < 300; ++round) {
        Bytes bad = good;
        if (round % 2 == 0) {
            for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] ^= uint8_t(1 + rng() % 255);
        } else {
            for (uint8_t& c : bad) c = uint8_t(rng());
        }
        corpus::decodeBytes(bad, 20000, kLh3);
        // Stale tree nodes from a broken -lh5- table stay behind for -lh3-.
        if (round % 10 == 0) corpus::decodeBytes(bad, 20000, Method::Lh5);
    }
    corpus::decodeBytes(Bytes(3000, 0xFF), 50000, kLh3);
    corpus::decodeBytes(Bytes(3000, 0x00), 50000, kLh3);
}

}  // namespace
}  // namespace qorn
