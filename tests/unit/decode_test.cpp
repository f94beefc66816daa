// Member decoding: the bit reader against a byte-at-a-time model, CRC-16,
// table building, every real stream of the corpus, and damaged input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "base/crc16.h"
#include "decode/bit_reader.h"
#include "decode/decode_session.h"
#include "decode/decoder_context.h"
#include "decode/huffman_table.h"
#include "encode/lzh_encoder.h"
#include "extract/parallel_decode.h"
#include "payload/archive_entry.h"
#include "platform/platform.h"
#include "tests/support/adaptive_encoder.h"
#include "tests/support/corpus.h"
#include "tests/support/header_bytes.h"
#include "tests/support/memory_session.h"

namespace qorn {
namespace {

using corpus::Bytes;

// The bit reader as the format describes it: a 16-bit window filled one
// byte at a time, zeros once the member's bytes are used up.
struct ModelReader {
    const Bytes& data;
    size_t next = 0;
    uint16_t bitBuffer = 0;
    uint8_t pendingByte = 0;
    unsigned pendingBits = 0;
    explicit ModelReader(const Bytes& d) : data(d) { fillBuffer(16); }
    void fillBuffer(unsigned n) {
        while (n > pendingBits) {
            n -= pendingBits;
            bitBuffer = static_cast<uint16_t>((bitBuffer << pendingBits) +
                                              (pendingBits ? pendingByte >> (8 - pendingBits) : 0));
            pendingByte = next < data.size() ? data[next++] : 0;
            pendingBits = 8;
        }
        pendingBits -= n;
        bitBuffer = static_cast<uint16_t>((bitBuffer << n) + (n ? pendingByte >> (8 - n) : 0));
        pendingByte = static_cast<uint8_t>(n >= 8 ? 0 : pendingByte << n);
    }
};

HuffmanTables& tables() {
    return corpus::testDecoder().tables;
}

// A session reading from memory, as loadInputBuffer leaves it; what does
// not fit the buffer comes from a file.
void attach(DecodeSession& s, const Bytes& data, size_t bufferSize = 0) {
    static const std::string dir = corpus::makeTempFolder();
    static BinaryFile* file = nullptr;
    delete file;
    corpus::writeAll(dir + "/stream", data);
    file = BinaryFile::openForReading(platform::fromUtf8((dir + "/stream").c_str()).c_str());
    if (!bufferSize) bufferSize = data.size() ? data.size() : 1;
    s.inputFile = file;
    file->moveTo(static_cast<int64_t>(std::min(bufferSize, data.size())));
    s.inputBuffer = new uint8_t[bufferSize];
    s.inputBufferSize = bufferSize;
    const size_t n = std::min(bufferSize, data.size());
    std::copy(data.begin(), data.begin() + n, s.inputBuffer);
    s.inputValid = n;
    s.inputPosition = 0;
    s.packedRemaining = data.size();
    s.packedSize = data.size();
}

TEST(BitReader, ExamplesAndZerosPastTheEnd) {
    testenc::Owned<DecodeSession> s;
    attach(s, {0x12, 0x34, 0x56});
    initBitReader(s);
    EXPECT_EQ(bitBuffer(s), 0x1234);
    EXPECT_EQ(getBits(s, 4), 0x1);
    EXPECT_EQ(bitBuffer(s), 0x2345);
    EXPECT_EQ(getBits(s, 0), 0);
    fillBuffer(s, 20);
    EXPECT_EQ(bitBuffer(s), 0);

    testenc::Owned<DecodeSession> one;
    attach(one, {0xAB});
    initBitReader(one);
    EXPECT_EQ(bitBuffer(one), 0xAB00);

    testenc::Owned<DecodeSession> none;
    attach(none, {});
    initBitReader(none);
    EXPECT_EQ(bitBuffer(none), 0);
    EXPECT_EQ(none.inputPosition, 0u);  // no byte was taken
}

TEST(BitReader, WideWindowMatchesTheByteModel) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        Bytes data(rng() % 40);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        ModelReader model(data);
        testenc::Owned<DecodeSession> s;
        attach(s, data, 1 + rng() % 9);  // small buffers force refills
        initBitReader(s);
        for (int step = 0; step < 60; ++step) {
            ASSERT_EQ(bitBuffer(s), model.bitBuffer) << round << "/" << step;
            unsigned n = rng() % 5 == 0 ? rng() % 40 : rng() % 17;
            fillBuffer(s, n);
            model.fillBuffer(n);
        }
        EXPECT_FALSE(s.inputShort);
    }
}

TEST(Crc16, TableValuesAndSlicesAgreeWithTheBytewiseFold) {
    makeCrcTable();
    EXPECT_EQ(crcTable[0][1], 0xC0C1);
    EXPECT_EQ(crcTable[0][128], 0xA001);
    uint16_t crc = 0;
    updateCrc(crc, reinterpret_cast<const uint8_t*>("123456789"), 9);
    EXPECT_EQ(crc, 0xBB3D);  // the check value of CRC-16/ARC
    std::mt19937 rng(1);
    for (int len = 0; len < 70; ++len) {
        Bytes data(len);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        uint16_t fast = 0x1234, slow = 0x1234;
        updateCrc(fast, data.data(), len);
        for (uint8_t b : data) slow = (slow >> 8) ^ crcTable[0][(slow ^ b) & 0xFF];
        EXPECT_EQ(fast, slow) << len;
    }
}

TEST(BuildTable, CompleteIncompleteOverfullAndTooLong) {
    uint16_t table[256];
    // Complete: four 2-bit codes fill a quarter of the table each.
    const uint8_t four[4] = {2, 2, 2, 2};
    ASSERT_TRUE(buildTable(tables(), 4, four, 8, table, 256));
    EXPECT_EQ(entryValue(table[0]), 0);
    EXPECT_EQ(entryValue(table[64]), 1);
    EXPECT_EQ(entryValue(table[255]), 3);
    // All lengths 0: the table is left as it was.
    for (uint16_t& e : table) e = 77;
    const uint8_t zeros[4] = {};
    ASSERT_TRUE(buildTable(tables(), 4, zeros, 8, table, 256));
    EXPECT_EQ(entryValue(table[100]), 77);
    // Incomplete codes are accepted; entries past them are cleared.
    const uint8_t half[2] = {1, 0};
    ASSERT_TRUE(buildTable(tables(), 2, half, 8, table, 256));
    EXPECT_EQ(entryValue(table[127]), 0);
    EXPECT_EQ(entryValue(table[128]), 0);
    // A length above 16.
    const uint8_t tooLong[3] = {1, 2, 17};
    EXPECT_FALSE(buildTable(tables(), 3, tooLong, 8, table, 256));
    // Long codes go through the tree: 16-bit codes of a 256-symbol set.
    uint8_t flat[128];
    for (uint8_t& l : flat) l = 7;
    ASSERT_TRUE(buildTable(tables(), 128, flat, 8, table, 256));
    EXPECT_EQ(entryValue(table[0]), 0);
    EXPECT_EQ(entryValue(table[255]), 127);
    // Over-full sets of long and short codes, wrapping the code space many
    // times: the builder either refuses them or stays inside its arrays (the
    // sanitizer build watches the global arrays).
    std::mt19937 rng(3);
    for (int round = 0; round < 2000; ++round) {
        uint8_t lengths[510];
        for (uint8_t& l : lengths)
            l = static_cast<uint8_t>(rng() % 3 ? 13 + rng() % 4 : rng() % 17);
        buildTable(tables(), 510, lengths, 12, tables().literalTable, 4096);
    }
}

#ifdef QORN_WINDOW_DECODER
// The native build's table builder against the stub's (the native build
// has both; the stub's alone has nothing to compare).

// What a table and its tree say for every 16-bit window: the symbol, or
// kTreeNodes where the walk meets a missing or broken node.
std::vector<uint16_t> decodeEveryWindow(const uint16_t* table, int tableBits, int count) {
    std::vector<uint16_t> out(65536);
    for (uint32_t v = 0; v < 65536; ++v) {
        uint32_t e = entryValue(table[v >> (16 - tableBits)]);
        for (uint32_t mask = 1u << (15 - tableBits); e >= static_cast<uint32_t>(count);
             mask >>= 1) {
            if (mask == 0 || e >= kTreeNodes) {
                e = kTreeNodes;
                break;
            }
            e = (v & mask) ? tables().rightChild[e] : tables().leftChild[e];
        }
        out[v] = static_cast<uint16_t>(e);
    }
    return out;
}

TEST(BuildTable, FillingByLengthDecodesAsFillingBySymbol) {
    // Random codes, most within the code space (complete or not, with and
    // without codes longer than the table), some over-full; for both table
    // widths in use. The two builders must give the same symbol for every
    // window, from tables that held something else before.
    std::mt19937 rng(11);
    for (int round = 0; round < 600; ++round) {
        const bool literal = round % 2 == 0;
        const int count = literal ? kLiteralSymbols : 14 + static_cast<int>(rng() % 115);
        const int bits = literal ? 12 : 8;
        uint16_t* const table = literal ? tables().literalTable : tables().positionTable;
        const uint32_t size = 1u << bits;
        std::vector<uint8_t> lengths(static_cast<size_t>(count), 0);
        const int used = 1 + static_cast<int>(rng() % static_cast<uint32_t>(count));
        for (int i = 0; i < used; ++i)
            lengths[rng() % static_cast<uint32_t>(count)] = static_cast<uint8_t>(1 + rng() % 16);
        uint64_t space = 0;
        for (uint8_t l : lengths) space += l ? 1u << (16 - l) : 0;
        // Lengthen codes until they fit, but for one round in eight.
        while (space > 65536 && round % 8 != 0) {
            const size_t i = rng() % lengths.size();
            if (lengths[i] == 0 || lengths[i] == 16) continue;
            space -= 1u << (16 - lengths[i]);
            ++lengths[i];
            space += 1u << (16 - lengths[i]);
        }
        // The same earlier contents for both: a code with no short code
        // keeps them, and a long code's walk may meet them.
        std::vector<uint16_t> before(size);
        for (uint16_t& e : before) e = static_cast<uint16_t>(rng() % 2 ? rng() % 1100 : rng());
        std::copy(before.begin(), before.end(), table);
        const bool bySymbol =
            buildTableBySymbols(tables(), count, lengths.data(), bits, table, size);
        const std::vector<uint16_t> expected = decodeEveryWindow(table, bits, count);
        std::copy(before.begin(), before.end(), table);
        ASSERT_EQ(buildTable(tables(), count, lengths.data(), bits, table, size), bySymbol)
            << round;
        if (!bySymbol) continue;
        ASSERT_TRUE(decodeEveryWindow(table, bits, count) == expected) << round;
        // Each entry carries its symbol's length (a node none), which the
        // block loop takes instead of the lengths array's.
        for (uint32_t i = 0; i < size; ++i) {
            const uint32_t value = entryValue(table[i]);
            const uint32_t len = value < static_cast<uint32_t>(count) ? lengths[value] : 0;
            ASSERT_EQ(table[i] >> kEntryLengthShift, len) << round << " entry " << i;
        }
    }
}
#endif

TEST(Progress, PositionsRunOneReportAhead) {
    corpus::RecordingReporter r;
    ProgressState progress{};
    progress.reset(&r, 5000);
    progress.report(2048);
    progress.report(2048);
    EXPECT_EQ(r.positions, (std::vector<uint32_t>{81, 122}));
    progress.reset(&r, 0);
    progress.report(100);
    EXPECT_EQ(r.positions.size(), 2u);  // no total, no position
    progress.reset(&r, 1000);
    progress.report(10);
    EXPECT_EQ(r.positions.back(), 2u);  // (10 + 10) * 100 / 1000
}

const char* const kRawStreams[][2] = {
    {"lh0.bin", "-lh0-"}, {"lh1.bin", "-lh1-"}, {"lh5.bin", "-lh5-"}, {"lh6.bin", "-lh6-"},
    {"lh7.bin", "-lh7-"}, {"lzs.bin", "-lzs-"}, {"lz5.bin", "-lz5-"}};

TEST(Decode, RawStreamsGiveTheSameText) {
    const Bytes expected = corpus::readAll(corpus::folder() + "/raw-streams/lh0.bin");
    ASSERT_EQ(expected.size(), 18092u);
    for (const auto& raw : kRawStreams) {
        if (std::string(raw[1]) == "-lh1-") continue;  // with the adaptive decoders
        const Bytes packed = corpus::readAll(corpus::folder() + "/raw-streams/" + raw[0]);
        corpus::DecodeOutcome out = corpus::decodeBytes(packed, 18092, methodOf(raw[1]));
        EXPECT_EQ(out.crc, 0xA33A) << raw[0];
        EXPECT_FALSE(out.damaged) << raw[0];
        EXPECT_TRUE(out.output == expected) << raw[0];
    }
}

TEST(Decode, SmallMemoryStreamsThroughARefilledBuffer) {
    const Bytes expected = corpus::readAll(corpus::folder() + "/raw-streams/lh0.bin");
    for (uint64_t limit : {1ull, 5ull, 1000ull, 4097ull}) {
        platform::faults().memoryLimit = limit;
        for (const char* name : {"lh5.bin", "lh7.bin", "lzs.bin", "lz5.bin"}) {
            const Bytes packed = corpus::readAll(corpus::folder() + "/raw-streams/" + name);
            const char* method = name[1] == 'h' ? (name[2] == '5' ? "-lh5-" : "-lh7-")
                                                : (name[2] == 's' ? "-lzs-" : "-lz5-");
            corpus::DecodeOutcome out = corpus::decodeBytes(packed, 18092, methodOf(method));
            EXPECT_TRUE(out.output == expected) << name << " limit " << limit;
            EXPECT_FALSE(out.damaged);
        }
    }
    platform::faults().memoryLimit = 0;
}

// A member's payload is read through at most 256 KiB, however large it is
// and wherever it starts: a 32-bit process (the stub) has no room for a
// buffer of the member's size, and an offset past 2, 4 or 8 GiB must
// survive a 32-bit build. A sparse file stands for the archive.
TEST(Decode, LargeMembersReadThroughASmallBufferAtAnyOffset) {
    const std::string dir = corpus::makeTempFolder();
    const std::string path = dir + "/large.lzh";
    const int64_t size = int64_t{12} << 30;
    const int64_t starts[] = {(int64_t{1} << 31) + 1, (int64_t{1} << 32) + 3,
                              (int64_t{1} << 33) + 5};
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        bool made = ftruncate(fileno(f), size) == 0;
        for (int64_t start : starts)
            made = made && fseeko(f, start, SEEK_SET) == 0 &&
                   std::fwrite(&start, sizeof start, 1, f) == 1;
        std::fclose(f);
        if (!made) {
            std::remove(path.c_str());
            GTEST_SKIP() << "cannot make a sparse 12 GiB file here";
        }
    }
    BinaryFile* f = BinaryFile::openForReading(platform::fromUtf8(path.c_str()).c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size(), size);
    for (int64_t start : starts) {
        for (uint64_t packed : {uint64_t{0xF0000000}, uint64_t{300000}}) {
            SCOPED_TRACE(std::to_string(start) + " " + std::to_string(packed));
            ASSERT_TRUE(f->moveTo(start));
            testenc::Owned<DecodeSession> s;
            s.inputFile = f;
            s.packedSize = packed;
            ASSERT_TRUE(loadInputBuffer(s));
            EXPECT_EQ(s.inputBufferSize, 256u * 1024);
            EXPECT_EQ(s.inputValid, s.inputBufferSize);
            EXPECT_FALSE(s.inputShort || s.claimsPastEnd);
            int64_t mark = 0;
            std::memcpy(&mark, s.inputBuffer, sizeof mark);
            EXPECT_EQ(mark, start);
            EXPECT_EQ(f->position(), start + 256 * 1024);
            s.releaseBuffers();
        }
    }
    delete f;
    std::remove(path.c_str());
}

// Every in-scope file member of these methods decodes to the manifest's bytes.
void decodeCorpus(const std::vector<std::string>& methods, int minimum) {
    int decoded = 0;
    const std::string dir = corpus::makeTempFolder();
    makeCrcTable();
    for (const std::string& name : corpus::archives()) {
        const auto expected = corpus::membersOf(name);
        BinaryFile* f = BinaryFile::openForReading(
            platform::fromUtf8((corpus::folder() + "/" + name).c_str()).c_str());
        ASSERT_NE(f, nullptr);
        corpus::RecordingReporter reporter;
        ArchiveEntry entry;
        for (const corpus::Member& m : expected) {
            ASSERT_EQ(readEntryHeader(*f, entry, reporter), HeaderResult::Member) << name;
            const int64_t dataStart = f->position();
            const bool wanted =
                std::find(methods.begin(), methods.end(), m.method) != methods.end();
            if (wanted && m.type == "file" && !m.sha256.empty() && m.size < (64u << 20)) {
                const std::string out = dir + "/out";
                {
                    BinaryFile output(
                        platform::createForWriting(platform::fromUtf8(out.c_str()).c_str()));
                    MemberResult r =
                        decodeMember(corpus::testDecoder(), reporter, *f, output,
                                     entry.originalSize, entry.packedSize, methodOf(entry.method));
                    const bool crcGood = !entry.hasCrc || r.crc == entry.crc;
                    if (m.status == "ok") {
                        EXPECT_TRUE(crcGood && !r.damaged) << name << " #" << m.index;
                    } else {
                        EXPECT_FALSE(crcGood && !r.damaged) << name << " #" << m.index;
                    }
                }
                if (m.status == "ok") {
                    EXPECT_EQ(corpus::sha256(corpus::readAll(out)), m.sha256)
                        << name << " #" << m.index;
                }
                ++decoded;
            }
            ASSERT_TRUE(f->moveTo(dataStart + entry.packedSize));
        }
        delete f;
    }
    EXPECT_GE(decoded, minimum);
}

TEST(Decode, CorpusStoredAndStaticHuffmanMembers) {
    decodeCorpus({"-lh0-", "-lz4-", "-lh4-", "-lh5-", "-lh6-", "-lh7-"}, 100);
}

TEST(Decode, CorpusLarcMembers) {
    decodeCorpus({"-lzs-", "-lz5-"}, 5);
}

TEST(Decode, StoredMembersWithDisagreeingSizesAreDamaged) {
    corpus::DecodeOutcome out = corpus::decodeBytes({'a', 'b', 'c'}, 10, Method::Lh0);
    EXPECT_TRUE(out.damaged);
    EXPECT_EQ(out.output.size(), 3u);  // never bytes beyond the member's data
    corpus::DecodeOutcome same = corpus::decodeBytes({'a', 'b', 'c'}, 3, Method::Lz4);
    EXPECT_FALSE(same.damaged);
    uint16_t crc = 0;
    updateCrc(crc, same.output.data(), 3);
    EXPECT_EQ(same.crc, crc);
}

TEST(Decode, ZeroSizeMembers) {
    // The start operation runs, nothing is written, the CRC is 0.
    for (Method method : {Method::Lh5, Method::Lzs, Method::Lz5, Method::Lh0}) {
        corpus::DecodeOutcome out = corpus::decodeBytes({}, 0, method);
        EXPECT_EQ(out.crc, 0);
        EXPECT_TRUE(out.output.empty());
    }
    // A member with no data but a size reads zeros, never outside its buffer,
    // and only as far as the look-ahead goes: its output is damaged, not
    // made up to the size from zero bits.
    for (Method method : {Method::Lh1, Method::Lh2, Method::Lh3, Method::Lh5, Method::Lh7,
                          Method::Lzs, Method::Lz5}) {
        corpus::DecodeOutcome out = corpus::decodeBytes({}, 1u << 30, method);
        EXPECT_TRUE(out.damaged) << static_cast<int>(method);
        EXPECT_LT(out.output.size(), 300u) << static_cast<int>(method);
    }
}

// How far past its data a stream may read: what the 16-bit look-ahead
// explains is fine, one bit more is damage. With no data at all, -lzs-
// reads one match (a 0 flag, 11 and 4 bits: two bytes) from the look-ahead;
// the second match goes 32 bits past.
TEST(Decode, ReadingPastTheDataStopsBeyondTheLookAhead) {
    corpus::DecodeOutcome one = corpus::decodeBytes({}, 2, Method::Lzs);
    EXPECT_FALSE(one.damaged);
    EXPECT_EQ(one.output, Bytes(2, 0x20));
    corpus::DecodeOutcome two = corpus::decodeBytes({}, 4, Method::Lzs);
    EXPECT_TRUE(two.damaged);
    EXPECT_EQ(two.output.size(), 4u);
    corpus::DecodeOutcome many = corpus::decodeBytes({}, 1000, Method::Lzs);
    EXPECT_TRUE(many.damaged);
    EXPECT_EQ(many.output.size(), 4u);
}

// Damaged streams of every built method end, stay inside their buffers and
// never grow the file past its size.
TEST(Decode, CorruptAndTruncatedStreamsEndSafely) {
    std::mt19937 rng(42);
    for (const auto& raw : kRawStreams) {
        const Method method = methodOf(raw[1]);
        if (method == Method::Lh1) continue;
        const Bytes packed = corpus::readAll(corpus::folder() + "/raw-streams/" + raw[0]);
        for (int round = 0; round < 40; ++round) {
            Bytes bad = packed;
            if (round % 4 == 0) {
                bad.resize(rng() % bad.size());
            } else {
                for (int flips = 1 + rng() % 8; flips > 0; --flips)
                    bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            }
            corpus::DecodeOutcome out = corpus::decodeBytes(bad, 18092, method);
            EXPECT_LE(out.output.size(), 18092u) << raw[0];
        }
        // Random bytes as a stream.
        for (int round = 0; round < 20; ++round) {
            Bytes noise(1 + rng() % 3000);
            for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
            corpus::DecodeOutcome out = corpus::decodeBytes(noise, 50000, method);
            EXPECT_LE(out.output.size(), 50000u);
        }
    }
}

#ifdef QORN_WINDOW_DECODER
// The native window loop (fused stretches, word copies, chunked flushes)
// against the ring loop that takes every symbol through the method table.
struct Decoded {
    Bytes output;
    MemberResult result;
    std::vector<uint32_t> positions;
};

// payload is what the file holds; the header may claim more (packedSize).
Decoded decodeOnce(const Bytes& payload, uint32_t packedSize, uint32_t originalSize, Method method,
                   bool fast) {
    static const std::string dir = corpus::makeTempFolder();
    corpus::writeAll(dir + "/in", payload);
    makeCrcTable();
    Decoded d;
    {
        BinaryFile input(
            platform::openForReading(platform::fromUtf8((dir + "/in").c_str()).c_str()));
        BinaryFile output(
            platform::createForWriting(platform::fromUtf8((dir + "/out").c_str()).c_str()));
        corpus::RecordingReporter reporter;
        DecoderContext& context = corpus::testDecoder();
        context.progress.reset(&reporter, 3 * originalSize / 2 + 1);
        context.ringOnly = !fast;
        d.result = decodeMember(context, reporter, input, output, originalSize, packedSize, method);
        context.ringOnly = false;
        context.progress.reset(nullptr, 0);
        d.positions = reporter.positions;
    }
    d.output = corpus::readAll(dir + "/out");
    return d;
}

void expectSameDecoding(const Bytes& payload, uint32_t packedSize, uint32_t originalSize,
                        Method method, const std::string& what) {
    const Decoded ring = decodeOnce(payload, packedSize, originalSize, method, false);
    const Decoded window = decodeOnce(payload, packedSize, originalSize, method, true);
    ASSERT_EQ(window.output.size(), ring.output.size()) << what;
    EXPECT_TRUE(window.output == ring.output)
        << what << ": first difference at "
        << (std::mismatch(window.output.begin(), window.output.end(), ring.output.begin()).first -
            window.output.begin());
    EXPECT_EQ(window.result.crc, ring.result.crc) << what;
    EXPECT_EQ(window.result.damaged, ring.result.damaged) << what;
    EXPECT_EQ(window.result.overrunOnly, ring.result.overrunOnly) << what;
    EXPECT_EQ(window.positions, ring.positions) << what;
}

// Real streams of every method, long enough to wrap every dictionary and to
// fill several chunks, read whole and through input buffers of odd sizes.
struct Stream {
    Method method;
    Bytes packed;
    uint32_t size;
};

std::vector<Stream> realStreams() {
    std::vector<Stream> streams;
    const Bytes text = corpus::readAll(corpus::folder() + "/raw-streams/lh0.bin");
    for (const auto& raw : kRawStreams) {
        if (std::string(raw[1]) == "-lh0-") continue;
        streams.push_back({methodOf(raw[1]),
                           corpus::readAll(corpus::folder() + "/raw-streams/" + raw[0]), 18092});
    }
    std::mt19937 rng(5);
    Bytes wordy;
    while (wordy.size() < 300000) {
        const char* words[] = {"static ",  "const ",      "uint32_t ", "return ", "{\n    ", "}\n",
                               "        ", "int i = 0; ", "for (",     ") {\n",   "x",       "y",
                               "0"};
        for (const char* c = words[rng() % 13]; *c; ++c) wordy.push_back(static_cast<uint8_t>(*c));
        if (rng() % 50 == 0) wordy.push_back(static_cast<uint8_t>(rng()));
        if (rng() % 40 == 0) {
            // A short period repeated: matches closer than a word copy.
            const size_t period = 1 + rng() % 7, from = wordy.size();
            for (size_t i = 0; i < period; ++i) wordy.push_back(static_cast<uint8_t>(rng()));
            for (size_t i = 0, n = rng() % 60; i < n; ++i) wordy.push_back(wordy[from + i]);
        }
    }
    for (Method method : {Method::Lh1, Method::Lh2})
        streams.push_back({method, testenc::encodeAdaptive(wordy, static_cast<int>(method)),
                           static_cast<uint32_t>(wordy.size())});
    Bytes noisy(150000);
    for (size_t i = 0; i < noisy.size(); ++i)
        noisy[i] = i % 3000 < 2000 ? wordy[i] : static_cast<uint8_t>(rng());
    for (Method method : {Method::Lh5, Method::Lh6, Method::Lh7})
        for (const Bytes* data : {&wordy, &noisy}) {
            Bytes packed;
            EXPECT_TRUE(encode::encodeBuffer(method, data->data(), data->size(), packed));
            streams.push_back({method, packed, static_cast<uint32_t>(data->size())});
        }
    return streams;
}

TEST(WindowDecoder, AgreesWithTheRingLoopOnRealStreams) {
    for (const Stream& st : realStreams()) {
        const uint32_t packed = static_cast<uint32_t>(st.packed.size());
        for (uint64_t limit : {0ull, 4096ull, 70001ull}) {
            platform::faults().memoryLimit = limit;
            const std::string what = "method " + std::to_string(static_cast<int>(st.method)) +
                                     ", buffer limit " + std::to_string(limit);
            expectSameDecoding(st.packed, packed, st.size, st.method, what);
            // Stopped early, and asked for more than the stream holds.
            expectSameDecoding(st.packed, packed, st.size - 1000, st.method, what + ", short");
            expectSameDecoding(st.packed, packed, st.size + 70000, st.method, what + ", long");
        }
    }
    platform::faults().memoryLimit = 0;
}

TEST(WindowDecoder, AgreesWithTheRingLoopWhereAMatchRunsPastTheEnd) {
    // Noise, a short period repeated, noise: in the middle every match is as
    // long as the method allows, so wherever the size cuts it, a match
    // crosses the member's end at some point of its length, with enough of
    // the stream after it for the fused loops to be running there.
    std::mt19937 rng(3);
    Bytes data;
    for (int i = 0; i < 6000; ++i)
        data.push_back(i < 2000 || i >= 5000 ? static_cast<uint8_t>(rng())
                                             : static_cast<uint8_t>("abcdefg"[i % 7]));
    for (Method method : {Method::Lh1, Method::Lh2, Method::Lh5}) {
        Bytes packed;
        if (method == Method::Lh5) {
            ASSERT_TRUE(encode::encodeBuffer(method, data.data(), data.size(), packed));
        } else {
            packed = testenc::encodeAdaptive(data, static_cast<int>(method));
        }
        for (uint32_t size = 4000; size > 3730; --size)
            expectSameDecoding(packed, static_cast<uint32_t>(packed.size()), size, method,
                               "method " + std::to_string(static_cast<int>(method)) + ", size " +
                                   std::to_string(size));
    }
}

TEST(WindowDecoder, AgreesWithTheRingLoopOnDamagedStreams) {
    std::mt19937 rng(11);
    const std::vector<Stream> streams = realStreams();
    for (int round = 0; round < 400; ++round) {
        const Stream& st = streams[rng() % streams.size()];
        Bytes bad = st.packed;
        uint32_t packedSize = static_cast<uint32_t>(bad.size());
        uint32_t size = st.size;
        switch (round % 4) {
            case 0:  // flipped bits
                for (int flips = 1 + rng() % 6; flips > 0; --flips)
                    bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
                break;
            case 1:  // a payload that ends before its packed size
                bad.resize(rng() % bad.size());
                break;
            case 2:  // a member cut short whose header agrees
                bad.resize(rng() % bad.size());
                packedSize = static_cast<uint32_t>(bad.size());
                break;
            default: {  // noise, for any method
                bad.resize(1 + rng() % 5000);
                for (uint8_t& b : bad) b = static_cast<uint8_t>(rng());
                packedSize = static_cast<uint32_t>(bad.size());
                size = 1 + rng() % 200000;
                const Method method = static_cast<Method>(1 + static_cast<int>(rng() % 9));
                platform::faults().memoryLimit = rng() % 2 ? 0 : 1 + rng() % 3000;
                expectSameDecoding(bad, packedSize, size, method,
                                   "noise, round " + std::to_string(round));
                continue;
            }
        }
        platform::faults().memoryLimit = rng() % 2 ? 0 : 1 + rng() % 9000;
        expectSameDecoding(bad, packedSize, size, st.method, "round " + std::to_string(round));
    }
    platform::faults().memoryLimit = 0;
}

TEST(Crc16, CarrylessFoldAgreesWithTheTables) {
    makeCrcTable();
    if (!crcFoldAvailable()) GTEST_SKIP() << "no carry-less multiplication here";
    std::mt19937 rng(9);
    for (uint32_t len : {64u, 65u, 79u, 80u, 127u, 128u, 129u, 200u, 4096u, 65536u + 13}) {
        Bytes data(len);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        const uint16_t start = static_cast<uint16_t>(rng());
        uint16_t tables = start;
        updateCrcByTables(tables, data.data(), len);
        EXPECT_EQ(crcFold(start, data.data(), len), tables) << len;
    }
}
#endif

}  // namespace
}  // namespace qorn

namespace qorn {
namespace {

// Members decoded on other threads get the outcome and the bytes the run's
// own decodeMember gives, taken in archive order; a tight memory bound (a
// member at a time beyond the one waited for) and members passed over
// neither stall nor mix them up.
TEST(ParallelDecoder, OutcomesAndBytesAsDecodedInPlace) {
    makeCrcTable();
    const std::string dir = corpus::makeTempFolder();
    int compared = 0;
    for (const std::string& name : corpus::archives()) {
        const std::string path = corpus::folder() + "/" + name;
        for (const bool keep : {false, true}) {
            SCOPED_TRACE(name + (keep ? " (bytes kept)" : ""));
            std::unique_ptr<BinaryFile> f(
                BinaryFile::openForReading(platform::fromUtf8(path.c_str()).c_str()));
            ASSERT_TRUE(f);
            // Every member through the threads: the run waits for them.
            ParallelDecoder ahead(platform::fromUtf8(path.c_str()).c_str(), 0, keep,
                                  keep ? 40000 : 64u << 20, 2, false);
            corpus::RecordingReporter reporter;
            int index = 0;
            corpus::forEachMember(*f, reporter, [&](const ArchiveEntry& entry, int64_t dataStart) {
                const Method method = methodOf(entry.method);
                // Every third member passed over, as the run does with some.
                const bool skip = ++index % 3 == 0;
                if (!skip && method != Method::Unknown && method != Method::Lhd) {
                    const std::string in = dir + "/in", ahead_out = dir + "/ahead";
                    MemberResult there;
                    bool taken;
                    {
                        BinaryFile output(platform::createForWriting(
                            platform::fromUtf8(ahead_out.c_str()).c_str()));
                        taken = keep ? ahead.take(dataStart, reporter, output, there)
                                     : ahead.result(dataStart, there);
                    }
                    if (taken) {
                        ASSERT_TRUE(f->moveTo(dataStart));
                        MemberResult here;
                        {
                            BinaryFile output(
                                platform::createForWriting(platform::fromUtf8(in.c_str()).c_str()));
                            here = decodeMember(corpus::testDecoder(), reporter, *f, output,
                                                entry.originalSize, entry.packedSize, method);
                        }
                        EXPECT_EQ(there.crc, here.crc) << index;
                        EXPECT_EQ(there.damaged, here.damaged) << index;
                        EXPECT_EQ(there.overrunOnly, here.overrunOnly) << index;
                        if (keep) {
                            EXPECT_TRUE(corpus::readAll(ahead_out) == corpus::readAll(in));
                        }
                        ++compared;
                    }
                }
            });
        }
    }
    EXPECT_GT(compared, 50);
}

}  // namespace
}  // namespace qorn
