// Member headers: hand-built headers of every form, hostile sizes, and the
// real archives of the corpus.
#include "payload/archive_entry.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/crc16.h"
#include "decode/bit_reader.h"
#include "decode/decode_session.h"
#include "decode/decoder_context.h"
#include "platform/platform.h"
#include "tests/support/corpus.h"
#include "tests/support/header_bytes.h"

namespace qorn {
namespace {

using corpus::Bytes;
using corpus::Extended;

struct Opened {
    std::string path;
    BinaryFile* file;
    ~Opened() { delete file; }
};

// The bytes as a file, opened at offset 0.
BinaryFile* openBytes(const Bytes& bytes) {
    static const std::string dir = corpus::makeTempFolder();
    static int serial = 0;
    const std::string path = dir + "/h" + std::to_string(serial++);
    corpus::writeAll(path, bytes);
    return BinaryFile::openForReading(platform::fromUtf8(path.c_str()).c_str());
}

struct Read {
    HeaderResult result;
    ArchiveEntry entry;
    corpus::RecordingReporter reporter;
    int64_t position;
};

void readOne(const Bytes& bytes, Read& r) {
    BinaryFile* f = openBytes(bytes);
    ASSERT_NE(f, nullptr);
    r.result = readEntryHeader(*f, r.entry, r.reporter);
    r.position = f->position();
    delete f;
}

std::string utf8(const WideString& w) {
    char buffer[8192];
    platform::toUtf8(w.c_str(), buffer, sizeof buffer);
    return buffer;
}

bool sawUnknownHeader(const Read& r) {
    return r.reporter.boxes.size() == 1 && r.reporter.boxes[0].text == u"Unknown header" &&
           r.reporter.boxes[0].caption == u"Qorn SFX" && r.reporter.boxes[0].flags == kBoxIconError;
}

TEST(EntryHeader, LevelZeroFormsByHeaderMinusNameLength) {
    // H - N = 20: no CRC; 22: CRC; 24 and more: CRC and OS id; 21 and 23: unknown.
    const struct {
        Bytes extra;
        bool member, hasCrc;
    } cases[] = {
        {{}, true, false},
        {{0x34}, false, false},
        {{0x34, 0x12}, true, true},
        {{0x34, 0x12, 'M'}, false, false},
        {{0x34, 0x12, 'M', 0}, true, true},
        {{0x34, 0x12, 'M', 0, 9, 9}, true, true},
    };
    for (const auto& c : cases) {
        Read r;
        readOne(corpus::level01(0, "-lh5-", 10, 20, 0, "a\\b.txt", c.extra), r);
        ASSERT_EQ(r.result == HeaderResult::Member, c.member) << c.extra.size();
        if (!c.member) {
            EXPECT_TRUE(sawUnknownHeader(r));
            continue;
        }
        EXPECT_EQ(r.entry.hasCrc, c.hasCrc);
        if (c.hasCrc) {
            EXPECT_EQ(r.entry.crc, 0x1234);
        }
        EXPECT_EQ(utf8(r.entry.path), "a\\b.txt");  // level-0 separators left as stored
        EXPECT_EQ(r.entry.packedSize, 10u);
        EXPECT_EQ(r.entry.originalSize, 20u);
        EXPECT_EQ(r.position, static_cast<int64_t>(22 + 7 + c.extra.size()));
    }
}

TEST(EntryHeader, LevelOneSubtractsExtendedHeadersFromPackedSize) {
    // Extended headers of 7 and 5 bytes, stored packed size 112: 100 data bytes.
    Read r;
    Bytes b = corpus::level01(1, "-lh5-", 100, 300, 0, "", {0x01, 0x00, 'U'},
                              {{0x01, corpus::text("name")}, {0x50, {1, 2}}});
    readOne(b, r);
    ASSERT_EQ(r.result, HeaderResult::Member);
    EXPECT_EQ(r.entry.packedSize, 100u);
    EXPECT_EQ(utf8(r.entry.path), "name");
    EXPECT_EQ(r.position, static_cast<int64_t>(b.size()));
}

TEST(EntryHeader, Utf16NamesWinWhateverTheirOrder) {
    for (bool utf16First : {true, false}) {
        std::vector<Extended> ext = {{0x01, corpus::text("ansi.txt")},
                                     {0x02, corpus::text("ansidir\xFF")}};
        std::vector<Extended> wide = {{0x44, corpus::utf16(u"日本.txt")},
                                      {0x45, corpus::utf16(u"フォルダ\xFFFF")}};
        ext.insert(utf16First ? ext.begin() : ext.end(), wide.begin(), wide.end());
        Read r;
        readOne(corpus::level2("-lh0-", 0, 0, 1, 0, ext), r);
        ASSERT_EQ(r.result, HeaderResult::Member);
        EXPECT_EQ(utf8(r.entry.path), "フォルダ/日本.txt") << utf16First;
    }
}

TEST(EntryHeader, FolderSeparatorsAndDoubleByteTrailBytes) {
    Read r;
    readOne(corpus::level2("-lhd-", 0, 0, 1, 0,
                           {{0x02, corpus::text("a\xFF"
                                                "b\xFF")}}),
            r);
    ASSERT_EQ(r.result, HeaderResult::Member);
    EXPECT_EQ(utf8(r.entry.path), "a/b/");
    // 0x95 0x5C is one character in Shift_JIS; its trail byte is not a separator.
    Read s;
    readOne(corpus::level2("-lhd-", 0, 0, 1, 0, {{0x02, corpus::text("\x95\x5C\\x\\")}}), s);
    ASSERT_EQ(s.result, HeaderResult::Member);
    EXPECT_EQ(utf8(s.entry.path), "表/x/");
    // A folder header without its closing separator still holds the name
    // (as an Amiga archiver writes it), narrow or UTF-16.
    for (const Extended& folder : {Extended{0x02, corpus::text("sub\xFF"
                                                               "dir")},
                                   Extended{0x45, corpus::utf16(u"sub/dir")}}) {
        Read t;
        readOne(corpus::level2("-lh0-", 0, 0, 1, 0, {folder, {0x01, corpus::text("n.txt")}}), t);
        ASSERT_EQ(t.result, HeaderResult::Member);
        EXPECT_EQ(utf8(t.entry.path), "sub/dir/n.txt");
    }
}

TEST(EntryHeader, LevelTwoTimeIsSignedAndZeroLowByteIsTheEnd) {
    Read r;
    readOne(corpus::level2("-lh5-", 0, 0, 0xFFFFFFFFu, 0, {{0x01, corpus::text("x")}}), r);
    ASSERT_EQ(r.result, HeaderResult::Member);
    EXPECT_EQ(r.entry.modifiedTime, -1);
    // Pad the header to 256 bytes: its first byte is 0, the end mark.
    Bytes b = corpus::level2("-lh5-", 0, 0, 1, 0, {{0x01, corpus::text("x")}});
    Bytes padded = corpus::level2("-lh5-", 0, 0, 1, 0, {{0x01, corpus::text("x")}},
                                  static_cast<int>(256 - b.size()));
    ASSERT_EQ(padded.size(), 256u);
    Read e;
    readOne(padded, e);
    EXPECT_EQ(e.result, HeaderResult::End);
    EXPECT_TRUE(e.reporter.boxes.empty());
}

TEST(EntryHeader, HostileSizesEndTheWalkAsDamage) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    Bytes shortLevel2 = corpus::level2("-lh5-", 0, 0, 1, 0, {});
    shortLevel2[0] = 5;  // L = 5: shorter than the fixed fields
    Bytes level3Like = corpus::level01(0, "-lh5-", 0, 0, 0, "", {});
    level3Like[0] = 4;  // H = 4 under level 0: a level-3 first word, but not level 3
    Bytes extOne = corpus::level2("-lh5-", 0, 0, 1, 0, {{0x01, corpus::text("x")}});
    extOne[24] = 1;  // first extended header claims 1 byte
    Bytes extTwo = extOne;
    extTwo[24] = 2;
    Bytes extPastEnd = extOne;
    extPastEnd[24] = 200;
    Bytes level1Over =
        corpus::level01(1, "-lh5-", 0, 0, 0, "", {0, 0, 'U'}, {{0x01, corpus::text("x")}});
    level1Over[7] = 2;  // stored packed size smaller than the extended headers
    Bytes level1Huge = corpus::level01(1, "-lh5-", 0, 0, 0, "", {0, 0, 'U'},
                                       {{0x01, Bytes(4000, 'a')}, {0x01, Bytes(200, 'b')}});
    Bytes truncated = corpus::level2("-lh5-", 0, 0, 1, 0, {{0x01, corpus::text("name")}});
    truncated.resize(truncated.size() - 3);
    const Case cases[] = {
        {"level-2 length below the fixed fields", shortLevel2},
        {"level-3 style header length 4", level3Like},
        {"extended header of size 1", extOne},
        {"extended header of size 2", extTwo},
        {"extended header past the header", extPastEnd},
        {"extended headers larger than the packed size", level1Over},
        {"level-1 extended headers past 4096 bytes", level1Huge},
        {"header cut short by the end of the file", truncated},
    };
    for (const Case& c : cases) {
        Read r;
        readOne(c.bytes, r);
        EXPECT_EQ(r.result, HeaderResult::Bad) << c.what;
        EXPECT_TRUE(sawUnknownHeader(r)) << c.what;
    }
}

TEST(EntryHeader, LevelThreeReadsLikeLevelTwoWithWideSizes) {
    const Bytes b = corpus::level3("-lh5-", 40, 90, 0x80000000u, 0xBEEF,
                                   {{0x00, {0x12, 0x34}},
                                    {0x02, corpus::text("d1\xFF"
                                                        "d2\xFF")},
                                    {0x01, corpus::text("ansi.txt")},
                                    {0x44, corpus::utf16(u"名前.txt")},
                                    {0x7F, Bytes(16, 0xAA)}});
    Read r;
    readOne(b, r);
    ASSERT_EQ(r.result, HeaderResult::Member);
    EXPECT_EQ(utf8(r.entry.path), "d1/d2/名前.txt");
    EXPECT_TRUE(r.entry.hasCrc);
    EXPECT_EQ(r.entry.crc, 0xBEEF);
    EXPECT_EQ(r.entry.osId, '2');
    EXPECT_EQ(r.entry.level, 3);
    EXPECT_EQ(r.entry.packedSize, 40u);  // data only, as in level 2
    EXPECT_EQ(r.entry.originalSize, 90u);
    EXPECT_EQ(r.entry.modifiedTime, -2147483648LL);  // Unix seconds, signed
    EXPECT_EQ(r.position, static_cast<int64_t>(b.size()));

    // A level byte of 3 under a first word other than 4 is no level-3
    // header: it still reads the way a level-1 header does.
    Bytes notThree = corpus::level01(1, "-lh0-", 0, 0, 0, "x", {0, 0, 'U'});
    notThree[20] = 3;
    Read l;
    readOne(notThree, l);
    ASSERT_EQ(l.result, HeaderResult::Member);
    EXPECT_EQ(utf8(l.entry.path), "x");
}

TEST(EntryHeader, LevelThreeThirtyTwoBitSizesAreBoundedByTheBuffer) {
    const Bytes good = corpus::level3("-lh0-", 0, 0, 0, 0, {{0x01, corpus::text("x")}});
    auto with32 = [&](size_t at, uint32_t v) {
        Bytes b = good;
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
        return b;
    };
    Bytes cut = good;
    cut.resize(26);  // ends inside the header-length field
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"header length 4 GiB - 1", with32(24, 0xFFFFFFFFu)},
        {"header length past the buffer", with32(24, HeaderBufferSize + 1)},
        {"header length below the fixed fields", with32(24, 31)},
        // at + size wraps to a small number in 32 bits.
        {"extended header of 4 GiB - 16", with32(28, 0xFFFFFFF0u)},
        {"extended header past the header", with32(28, 64)},
        {"extended header without room for its next size", with32(28, 4)},
        {"header cut inside its length field", cut},
    };
    for (const auto& c : cases) {
        Read r;
        readOne(c.bytes, r);
        EXPECT_EQ(r.result, HeaderResult::Bad) << c.what;
        EXPECT_TRUE(sawUnknownHeader(r)) << c.what;
    }
}

// The OS-9/68k archiver writes level-2 lengths without the length field's
// own two bytes. No such archive is in the corpus, so one is derived from
// lhasa/unix-a/h2_lh5.lzh (LHa for UNIX, level 2, one -lh5- member): its
// 51-byte header with the stored length lowered to 49, the OS id 'U' made
// 'K', and the header CRC (extended header 0x00) computed again over the 51
// bytes with its own field zeroed, as the archiver does. lhasa 0.3.1 lists
// these bytes as gpl-2, 18092 bytes, and tests them OK. The member data are
// untouched.
Bytes osNine68kArchive() {
    Bytes b = corpus::readAll(corpus::folder() + "/lhasa/unix-a/h2_lh5.lzh");
    EXPECT_EQ(b[0] | (b[1] << 8), 51);
    EXPECT_EQ(b[23], 'U');
    EXPECT_EQ(b[26], 0x00);  // the header-CRC extended header
    b[0] = 49;
    b[23] = 'K';
    b[27] = b[28] = 0;
    makeCrcTable();
    uint16_t crc = 0;
    updateCrc(crc, b.data(), 51);
    b[27] = static_cast<uint8_t>(crc);
    b[28] = static_cast<uint8_t>(crc >> 8);
    return b;
}

TEST(EntryHeader, OsNine68kLevelTwoLengthLeavesOutItsOwnField) {
    const Bytes archive = osNine68kArchive();
    BinaryFile* f = openBytes(archive);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(sumOriginalSizes(*f), 18092u);
    corpus::RecordingReporter reporter;
    ArchiveEntry entry;
    ASSERT_EQ(readEntryHeader(*f, entry, reporter), HeaderResult::Member);
    EXPECT_EQ(f->position(), 51);
    EXPECT_EQ(utf8(entry.path), "gpl-2");
    EXPECT_EQ(entry.osId, 'K');
    EXPECT_EQ(entry.modifiedTime, 1262304000);  // 2010-01-01T00:00:00Z
    const std::string out = corpus::makeTempFolder() + "/gpl-2";
    {
        BinaryFile output(platform::createForWriting(platform::fromUtf8(out.c_str()).c_str()));
        const MemberResult m =
            decodeMember(corpus::testDecoder(), reporter, *f, output, entry.originalSize,
                         entry.packedSize, methodOf(entry.method));
        EXPECT_FALSE(m.damaged);
        EXPECT_EQ(m.crc, entry.crc);
    }
    EXPECT_EQ(corpus::sha256(corpus::readAll(out)),
              "8177f97513213526df2cf6184d8ff986c675afb514d4e68a404010521b880643");
    ASSERT_TRUE(f->moveTo(51 + static_cast<int64_t>(entry.packedSize)));
    EXPECT_EQ(readEntryHeader(*f, entry, reporter), HeaderResult::End);
    EXPECT_TRUE(reporter.boxes.empty());
    delete f;

    // The two extra bytes still have to fit the buffer.
    const std::vector<Extended> named = {{0x01, corpus::text("x")}};
    const size_t bare = corpus::level2("-lh0-", 0, 0, 1, 0, named).size();
    Bytes big =
        corpus::level2("-lh0-", 0, 0, 1, 0, named, static_cast<int>(HeaderBufferSize - 1 - bare));
    big[23] = 'K';
    big.push_back(0);
    big.push_back(0);
    ASSERT_EQ(big[0] | (big[1] << 8), static_cast<int>(HeaderBufferSize - 1));
    Read r;
    readOne(big, r);
    EXPECT_EQ(r.result, HeaderResult::Bad);
    EXPECT_TRUE(sawUnknownHeader(r));
}

TEST(EntryHeader, SumOfOriginalSizesFollowsLevelThreeLengths) {
    // The 32-bit header length, not the first word, leads to the next header.
    Bytes archive = corpus::level3("-lh0-", 3, 3, 1, 0, {{0x01, corpus::text("a")}});
    archive.insert(archive.end(), {'x', 'y', 'z'});
    Bytes second = corpus::level01(0, "-lh0-", 0, 1000, 0, "b", {0, 0});
    archive.insert(archive.end(), second.begin(), second.end());
    archive.push_back(0);
    BinaryFile* f = openBytes(archive);
    EXPECT_EQ(sumOriginalSizes(*f), 1003u);
    delete f;
}

TEST(EntryHeader, EndMarkAndEmptyFile) {
    Read r;
    readOne({0}, r);
    EXPECT_EQ(r.result, HeaderResult::End);
    Read e;
    readOne({}, e);
    EXPECT_EQ(e.result, HeaderResult::End);
}

TEST(EntryHeader, SumOfOriginalSizesRestoresPositionAndStopsOnWrap) {
    Bytes archive = corpus::level01(0, "-lh0-", 3, 3, 0, "a", {0, 0});
    archive.insert(archive.end(), {'x', 'y', 'z'});
    Bytes second = corpus::level01(0, "-lh5-", 0, 1000, 0, "b", {0, 0});
    archive.insert(archive.end(), second.begin(), second.end());
    archive.push_back(0);
    BinaryFile* f = openBytes(archive);
    EXPECT_EQ(sumOriginalSizes(*f), 1003u);
    EXPECT_EQ(f->position(), 0);
    delete f;
    // A packed size that wraps the next position to this header must not loop.
    Bytes wrap = corpus::level01(0, "-lh5-", 0xFFFFFFDEu, 7, 0, "0123456789", {0, 0});
    ASSERT_EQ(wrap.size(), 34u);
    BinaryFile* g = openBytes(wrap);
    EXPECT_EQ(sumOriginalSizes(*g), 7u);
    delete g;
}

// The file keeps its position itself and reads ahead: after reads (whole,
// short, past the end, across what was read ahead), moves inside and outside
// it, moves that fail and a move to where it already is, it must still say
// what the system says and hand out the file's own bytes, or the next member
// is read from the wrong place.
TEST(EntryHeader, FilePositionFollowsReadsAndMoves) {
    // Longer than the read-ahead, with bytes that tell their own offset.
    const size_t size = 100000;
    Bytes data(size);
    const auto byteAt = [](size_t i) { return static_cast<uint8_t>(i * 7 + (i >> 8)); };
    for (size_t i = 0; i < size; ++i) data[i] = byteAt(i);
    BinaryFile* f = openBytes(data);
    Bytes buffer(80000);
    // Reads count bytes and checks they are the file's from offset on.
    const auto reads = [&](int64_t offset, uint32_t count, int64_t expected) {
        SCOPED_TRACE("read at " + std::to_string(offset));
        ASSERT_EQ(f->read(buffer.data(), count), expected);
        for (int64_t i = 0; i < expected; ++i)
            ASSERT_EQ(buffer[i], byteAt(static_cast<size_t>(offset + i))) << i;
    };
    // The position, and the byte read next, tell where the file really is.
    const auto agrees = [&](int64_t expected) {
        EXPECT_EQ(f->position(), expected);
        reads(expected, 1, expected < static_cast<int64_t>(size) ? 1 : 0);
        EXPECT_TRUE(f->moveTo(expected));
    };
    agrees(0);
    reads(0, 30, 30);
    agrees(30);
    EXPECT_TRUE(f->moveTo(30));
    agrees(30);
    EXPECT_TRUE(f->moveBy(-10));
    agrees(20);
    // Across the end of what was read ahead, then one read larger than it.
    EXPECT_TRUE(f->moveTo(32760));
    reads(32760, 20, 20);
    agrees(32780);
    reads(32780, 50000, 50000);
    agrees(82780);
    // Back to a byte read ahead long ago, and forward past everything read.
    EXPECT_TRUE(f->moveTo(32770));
    agrees(32770);
    EXPECT_TRUE(f->moveTo(99990));
    reads(99990, 64, 10);
    agrees(100000);
    reads(100000, 1, 0);
    agrees(100000);
    // A failed move leaves the file where it was.
    EXPECT_FALSE(f->moveTo(-5));
    agrees(100000);
    // A read too large for the read-ahead goes past it straight into the
    // caller's memory; a move back a little after it finds the file's bytes,
    // not those read ahead before (a decoder's last refill reads past its
    // member, and the walk then moves back to the next header).
    EXPECT_TRUE(f->moveTo(1000));
    reads(1000, 10, 10);
    reads(1010, 70000, 70000);
    EXPECT_TRUE(f->moveTo(71000));
    agrees(71000);
    EXPECT_TRUE(f->moveTo(0));
    agrees(0);
    delete f;
}

TEST(DosStamp, ConvertsLocalTimeWithTheZoneOffset) {
    setenv("TZ", "JST-9", 1);
    auto stamp = [](int y, int mo, int d, int h, int mi, int s) {
        return static_cast<uint32_t>(((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) |
                                     (mi << 5) | (s / 2));
    };
    EXPECT_EQ(dosStampToTime(stamp(2019, 4, 22, 10, 31, 0)), 1555896660);
    EXPECT_EQ(
        dosStampToTime(stamp(2000, 3, 1, 0, 0, 0)) - dosStampToTime(stamp(2000, 2, 29, 0, 0, 0)),
        86400);
    EXPECT_EQ(dosStampToTime(0), 0);
    // No month 0, 13-15 or day 0: treated as no stamp, never a read outside the table.
    EXPECT_EQ(dosStampToTime(0x00010000u), 0);
    EXPECT_EQ(dosStampToTime(stamp(2001, 13, 1, 0, 0, 0)), 0);
    EXPECT_EQ(dosStampToTime(stamp(2001, 5, 0, 0, 0, 0)), 0);
    // Past 2038 the result stays in the future (2040-06-01 00:00 JST).
    EXPECT_EQ(dosStampToTime(stamp(2040, 6, 1, 0, 0, 0)), 2222121600 - 32400);
    setenv("TZ", "UTC", 1);
}

TEST(MethodIds, IndexByExactId) {
    EXPECT_EQ(methodOf("-lh0-"), Method::Lh0);
    EXPECT_EQ(methodOf("-lh7-"), Method::Lh7);
    EXPECT_EQ(methodOf("-lz5-"), Method::Lz5);
    EXPECT_EQ(methodOf("-lhd-"), Method::Lhd);
    EXPECT_EQ(methodOf("-lhx-"), Method::Unknown);
    EXPECT_EQ(methodOf("-LH5-"), Method::Unknown);
    // -lhN- is Method(N): the encoder writes its ids from the enum.
    for (int i = 0; i < kMethodCount; ++i)
        EXPECT_EQ(methodOf(MethodIds[i]), static_cast<Method>(i)) << MethodIds[i];
    EXPECT_TRUE(isStored(Method::Lh0) && isStored(Method::Lz4));
    EXPECT_FALSE(isStored(Method::Lh5) || isStored(Method::Lhd));
}

// Every in-scope member of the corpus reads with the manifest's method,
// sizes, CRC and path.
TEST(EntryHeader, CorpusArchivesAgreeWithTheManifest) {
    setenv("TZ", "UTC", 1);
    int checked = 0;
    for (const std::string& name : corpus::archives()) {
        const auto expected = corpus::membersOf(name);
        BinaryFile* f = BinaryFile::openForReading(
            platform::fromUtf8((corpus::folder() + "/" + name).c_str()).c_str());
        ASSERT_NE(f, nullptr) << name;
        corpus::RecordingReporter reporter;
        ArchiveEntry entry;
        size_t i = 0;
        HeaderResult r;
        while ((r = readEntryHeader(*f, entry, reporter)) == HeaderResult::Member &&
               i < expected.size()) {
            const corpus::Member& m = expected[i++];
            const int64_t dataStart = f->position();
            ASSERT_EQ(std::string(entry.method, 5), m.method) << name << " #" << m.index;
            if (m.inScope) {
                EXPECT_EQ(entry.originalSize, static_cast<uint32_t>(m.size)) << name;
                if (!m.crc16.empty()) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "%04x", entry.crc);
                    EXPECT_EQ(hex, m.crc16) << name;
                }
                std::string path = utf8(entry.path);
                for (char& c : path)
                    if (c == '\\') c = '/';
                // Names in other encodings than the code page differ by design.
                bool plain = true;
                for (unsigned char c : m.path) plain = plain && c < 0x80;
                // A Unix symlink keeps its target after '|' in the name.
                if (plain && m.type != "symlink") {
                    EXPECT_EQ(path, m.path) << name;
                }
                ++checked;
            }
            ASSERT_TRUE(f->moveTo(dataStart + entry.packedSize));
        }
        EXPECT_EQ(i, expected.size()) << name;
        delete f;
    }
    EXPECT_GT(checked, 150);
}

}  // namespace
}  // namespace qorn
