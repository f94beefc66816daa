// Archives from the writer: headers that this project's reader and the LHA
// tools read back, members that decode to the files, names that survive,
// and bad input that leaves no archive behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "base/crc16.h"
#include "decode/bit_reader.h"
#include "decode/decode_session.h"
#include "encode/archive_writer.h"
#include "payload/archive_entry.h"
#include "platform/platform.h"
#include "tests/support/corpus.h"
#include "tests/support/lzh_roundtrip.h"

namespace qorn {
namespace {

using test::readFileBytes;
using test::writeFileBytes;

class QuietReporter : public RunReporter {
  public:
    void messageBox(BoxOwner, const char16_t*, const char16_t*, uint32_t) override {}
};

std::string utf8Of(const WideString& text) {
    char small[1];
    std::string out(platform::toUtf8(text.c_str(), small, 0) + 1, '\0');
    out.resize(platform::toUtf8(text.c_str(), &out[0], out.size()));
    return out;
}

struct ReadMember {
    ArchiveEntry entry;
    std::string path;
    std::vector<uint8_t> data;
    bool decoded = false;
};

// Every member through readEntryHeader and decodeMember.
std::vector<ReadMember> readArchive(const std::string& archive, bool& clean) {
    makeCrcTable();
    std::vector<ReadMember> members;
    clean = false;
    BinaryFile* file = BinaryFile::openForReading(platform::fromUtf8(archive.c_str()).c_str());
    if (!file) return members;
    QuietReporter reporter;
    const std::string scratch = test::makeTempFolder("member");
    HeaderResult r;
    ReadMember m;
    while ((r = readEntryHeader(*file, m.entry, reporter)) == HeaderResult::Member) {
        const int64_t dataStart = file->position();
        m.path = utf8Of(m.entry.path);
        const Method method = methodOf(m.entry.method);
        if (method != Method::Lhd) {
            const std::string out = scratch + "/out";
            BinaryFile* output =
                BinaryFile::createForWriting(platform::fromUtf8(out.c_str()).c_str());
            const MemberResult result =
                decodeMember(corpus::testDecoder(), reporter, *file, *output, m.entry.originalSize,
                             m.entry.packedSize, method);
            delete output;
            m.decoded = !result.damaged && result.crc == m.entry.crc && readFileBytes(out, m.data);
        }
        members.push_back(m);
        m = ReadMember();
        if (!file->moveTo(dataStart + members.back().entry.packedSize)) break;
    }
    clean = r == HeaderResult::End && file->position() == file->size();
    delete file;
    test::removeTree(scratch);
    return members;
}

class ArchiveWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = test::makeTempFolder("pack");
        src_ = root_ + "/src";
        mkdir(src_.c_str(), 0755);
        mkdir((src_ + "/empty").c_str(), 0755);
        mkdir((src_ + "/docs").c_str(), 0755);
        mkdir((src_ + "/docs/深い").c_str(), 0755);
        put("docs/readme.txt", test::wordyBytes(20000, 1));
        put("docs/深い/日本語.txt", test::wordyBytes(3000, 2));
        put("noise.bin", test::randomBytes(10000, 3));
        put("zero", {});
        put("one", {'x'});
        put("big.txt", test::wordyBytes(300000, 4));
    }
    void TearDown() override { test::removeTree(root_); }

    void put(const std::string& relative, const std::vector<uint8_t>& bytes) {
        files_[relative] = bytes;
        ASSERT_TRUE(writeFileBytes(src_ + "/" + relative, bytes));
    }

    bool pack(const std::string& archive, int method, int level, std::string& error,
              std::vector<std::string>* warnings = nullptr) {
        encode::PackOptions options;
        options.method = static_cast<Method>(method);
        options.headerLevel = level;
        options.warning = [&](const std::string& w) {
            if (warnings) warnings->push_back(w);
        };
        FILE* out = std::fopen(archive.c_str(), "wb");
        if (!out) return false;
        const bool ok = encode::writeArchive({src_}, options, out, error);
        std::fclose(out);
        return ok;
    }

    std::string root_, src_;
    std::map<std::string, std::vector<uint8_t>> files_;
};

TEST_F(ArchiveWriterTest, EveryLevelAndMethodReadsBackThroughTheProjectReader) {
    for (int level = 0; level <= 2; ++level) {
        for (int method = 5; method <= 7; ++method) {
            SCOPED_TRACE("level " + std::to_string(level) + ", -lh" + std::to_string(method) + "-");
            const std::string archive = root_ + "/a.lzh";
            std::string error;
            ASSERT_TRUE(pack(archive, method, level, error)) << error;
            bool clean;
            const auto members = readArchive(archive, clean);
            EXPECT_TRUE(clean) << "the archive must end with its end mark";
            std::map<std::string, const ReadMember*> byPath;
            for (const auto& m : members) {
                std::string p = m.path;
                for (char& c : p)
                    if (c == '\\') c = '/';  // level 0 keeps MS-DOS separators
                byPath[p] = &m;
            }
            for (const char* folder : {"src/", "src/empty/", "src/docs/", "src/docs/深い/"}) {
                ASSERT_TRUE(byPath.count(folder)) << folder;
                EXPECT_EQ(methodOf(byPath[folder]->entry.method), Method::Lhd) << folder;
            }
            for (const auto& [relative, bytes] : files_) {
                const std::string path = "src/" + relative;
                ASSERT_TRUE(byPath.count(path)) << path;
                const ReadMember& m = *byPath[path];
                EXPECT_TRUE(m.decoded) << path;
                EXPECT_TRUE(m.data == bytes) << path;
                EXPECT_TRUE(m.entry.hasCrc);
                // Files that do not shrink are stored.
                const bool stored = methodOf(m.entry.method) == Method::Lh0;
                EXPECT_EQ(stored, relative == "noise.bin" || bytes.size() <= 1) << path;
                if (!stored) {
                    EXPECT_EQ(methodOf(m.entry.method), static_cast<Method>(method));
                }
                struct stat st;
                ASSERT_EQ(stat((src_ + "/" + relative).c_str(), &st), 0);
                if (level == 2) {
                    EXPECT_EQ(m.entry.modifiedTime, st.st_mtime) << path;
                }
            }
            EXPECT_EQ(members.size(), files_.size() + 4);
        }
    }
}

TEST_F(ArchiveWriterTest, SameInputGivesTheSameArchive) {
    std::string error;
    const std::string a = root_ + "/a.lzh", b = root_ + "/b.lzh";
    ASSERT_TRUE(pack(a, 6, 2, error)) << error;
    // Reading the files changed their access times; nothing of that may show.
    sleep(1);
    ASSERT_TRUE(pack(b, 6, 2, error)) << error;
    std::vector<uint8_t> x, y;
    ASSERT_TRUE(readFileBytes(a, x) && readFileBytes(b, y));
    EXPECT_TRUE(x == y);
}

TEST_F(ArchiveWriterTest, LinksAreLeftOutWithAWarning) {
    ASSERT_EQ(symlink("one", (src_ + "/link").c_str()), 0);
    std::string error;
    std::vector<std::string> warnings;
    const std::string archive = root_ + "/a.lzh";
    ASSERT_TRUE(pack(archive, 5, 2, error, &warnings)) << error;
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("link"), std::string::npos);
    bool clean;
    for (const auto& m : readArchive(archive, clean))
        EXPECT_EQ(m.path.find("link"), std::string::npos);
}

TEST(ArchiveHeader, Level2LengthNeverEndsInAZeroByteAndCarriesItsCrc) {
    makeCrcTable();
    encode::MemberHeader m;
    std::memcpy(m.method, "-lh5-", 5);
    m.modifiedTime = 1555896660;
    int padded = 0;
    for (size_t n = 1; n < 700; ++n) {
        m.path = "dir/" + std::string(n, 'a');
        std::vector<uint8_t> h;
        std::string error;
        ASSERT_TRUE(encode::buildHeader(m, 2, "CP932", h, error)) << error;
        ASSERT_EQ(h[0] | (h[1] << 8), static_cast<int>(h.size()));
        ASSERT_NE(h.size() & 0xFF, 0u) << n;
        padded += h.back() == 0 && h[h.size() - 2] == 0 && h[h.size() - 3] == 0;
        // The header CRC (first extended header) covers the header with itself as 0.
        ASSERT_EQ(h[26], 0x00);
        const uint16_t stored = static_cast<uint16_t>(h[27] | (h[28] << 8));
        h[27] = h[28] = 0;
        uint16_t crc = 0;
        updateCrc(crc, h.data(), static_cast<uint32_t>(h.size()));
        ASSERT_EQ(crc, stored) << n;
    }
    EXPECT_GE(padded, 2) << "some lengths must have needed the padding byte";
}

TEST(ArchiveHeader, NamesThatDoNotFitAreRefusedWithTheirPath) {
    encode::MemberHeader m;
    std::string error;
    std::vector<uint8_t> h;
    m.path = "d/" + std::string(240, 'x');
    EXPECT_FALSE(encode::buildHeader(m, 0, "CP932", h, error));
    EXPECT_NE(error.find("xxxx"), std::string::npos);
    EXPECT_TRUE(encode::buildHeader(m, 2, "CP932", h, error));
    m.path = std::string(5000, 'y');
    EXPECT_FALSE(encode::buildHeader(m, 2, "CP932", h, error));
    m.path = "bad\xff\xfename";
    EXPECT_FALSE(encode::buildHeader(m, 2, "CP932", h, error));
    EXPECT_NE(error.find("UTF-8"), std::string::npos);
}

// Extended headers of a level-2 header by type.
std::map<int, std::vector<uint8_t>> extensions(const std::vector<uint8_t>& h) {
    std::map<int, std::vector<uint8_t>> ext;
    for (size_t at = 26, size = h[24] | (h[25] << 8); size != 0;) {
        ext[h[at]] = std::vector<uint8_t>(h.begin() + at + 1, h.begin() + at + size - 2);
        const size_t next = h[at + size - 2] | (h[at + size - 1] << 8);
        at += size;
        size = next;
    }
    return ext;
}

// Japanese names: CP932 bytes for the old readers, UTF-16 for the exact text.
TEST(ArchiveHeader, NonAsciiNamesGetCodePageAndUtf16Forms) {
    encode::MemberHeader m;
    std::memcpy(m.method, "-lh5-", 5);
    m.path = "深い/日本語.txt";
    std::vector<uint8_t> h;
    std::string error;
    ASSERT_TRUE(encode::buildHeader(m, 2, "CP932", h, error)) << error;
    auto ext = extensions(h);
    const std::vector<uint8_t> sjisName = {0x93, 0xfa, 0x96, 0x7b, 0x8c, 0xea, '.', 't', 'x', 't'};
    const std::vector<uint8_t> sjisFolder = {0x90, 0x5b, 0x82, 0xa2, 0xff};
    EXPECT_EQ(ext[0x01], sjisName);
    EXPECT_EQ(ext[0x02], sjisFolder);
    const std::vector<uint8_t> utf16Folder = {0xf1, 0x6d, 0x44, 0x30, 0xff, 0xff};
    EXPECT_EQ(ext[0x45], utf16Folder);
    EXPECT_EQ(ext[0x44].size(), 14u);
    EXPECT_EQ(ext[0x41].size(), 24u);
    // Plain ASCII names carry no UTF-16 copy.
    m.path = "plain/name.txt";
    ASSERT_TRUE(encode::buildHeader(m, 2, "CP932", h, error));
    ext = extensions(h);
    EXPECT_EQ(ext.count(0x44) + ext.count(0x45), 0u);
    EXPECT_EQ(ext.count(0x01) + ext.count(0x02), 2u);
}

// The command line: the archive appears complete or not at all.
class PackCommand : public ::testing::Test {
  protected:
    void SetUp() override { root_ = test::makeTempFolder("packcli"); }
    void TearDown() override { test::removeTree(root_); }
    int run(const std::string& args) {
        return test::runCommand(std::string(QORN_TOOL) + " pack " + args + " 2>" + root_ +
                                "/stderr");
    }
    std::string stderrText() {
        std::vector<uint8_t> b;
        readFileBytes(root_ + "/stderr", b);
        return std::string(b.begin(), b.end());
    }
    bool exists(const std::string& p) { return access(p.c_str(), F_OK) == 0; }
    std::string root_;
};

TEST_F(PackCommand, BadInputNamesTheFileAndLeavesNoArchive) {
    mkdir((root_ + "/in").c_str(), 0755);
    ASSERT_TRUE(writeFileBytes(root_ + "/in/ok.txt", test::wordyBytes(5000, 1)));
    ASSERT_TRUE(writeFileBytes(root_ + "/in/bad\xff.txt", {'a'}));
    const std::string out = root_ + "/out.lzh";
    EXPECT_EQ(run(out + " " + root_ + "/in"), 1);
    EXPECT_NE(stderrText().find("bad"), std::string::npos) << stderrText();
    EXPECT_FALSE(exists(out));
    EXPECT_FALSE(exists(out + ".part"));

    EXPECT_EQ(run(out + " " + root_ + "/missing"), 1);
    EXPECT_NE(stderrText().find("missing"), std::string::npos) << stderrText();
    EXPECT_FALSE(exists(out));

    // The same path from two roots.
    mkdir((root_ + "/other").c_str(), 0755);
    ASSERT_TRUE(writeFileBytes(root_ + "/other/ok.txt", {'b'}));
    unlink((root_ + "/in/bad\xff.txt").c_str());
    EXPECT_EQ(run(out + " " + root_ + "/in/ " + root_ + "/other/"), 1);
    EXPECT_NE(stderrText().find("ok.txt"), std::string::npos) << stderrText();
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(run(out + " " + root_ + "/in/ " + root_ + "/other"), 0) << stderrText();

    EXPECT_EQ(run(out + " " + root_ + "/in --method lh9"), 2);
}

TEST_F(PackCommand, FilesOver4GiBAreRefused) {
    const std::string in = root_ + "/in", out = root_ + "/out.lzh";
    mkdir(in.c_str(), 0755);
    // Sparse: no disk space is used.
    FILE* f = std::fopen((in + "/huge.bin").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const bool sized = ftruncate(fileno(f), (int64_t{1} << 32) + 1) == 0;
    std::fclose(f);
    if (!sized) GTEST_SKIP() << "cannot make a sparse 4 GiB file here";
    EXPECT_EQ(run(out + " " + in), 1);
    EXPECT_NE(stderrText().find("huge.bin"), std::string::npos) << stderrText();
    EXPECT_NE(stderrText().find("4 GiB"), std::string::npos) << stderrText();
    EXPECT_FALSE(exists(out));
    unlink((in + "/huge.bin").c_str());
}

TEST_F(PackCommand, UnreadableFilesAreRefused) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root: every file is readable";
    const std::string in = root_ + "/in", out = root_ + "/out.lzh";
    mkdir(in.c_str(), 0755);
    ASSERT_TRUE(writeFileBytes(in + "/secret", test::wordyBytes(100, 1)));
    chmod((in + "/secret").c_str(), 0);
    EXPECT_EQ(run(out + " " + in), 1);
    EXPECT_NE(stderrText().find("secret"), std::string::npos) << stderrText();
    EXPECT_FALSE(exists(out));
    EXPECT_FALSE(exists(out + ".part"));
}

// Files for the read-back by other tools: text, noise, runs, the format's
// limits.
void writePeerInput(const std::string& in) {
    mkdir(in.c_str(), 0755);
    mkdir((in + "/sub").c_str(), 0755);
    mkdir((in + "/sub/empty").c_str(), 0755);
    ASSERT_TRUE(writeFileBytes(in + "/words.txt", test::wordyBytes(200000, 5)));
    ASSERT_TRUE(writeFileBytes(in + "/sub/noise", test::randomBytes(70000, 6)));
    // One position code for all of it: the single-symbol form.
    ASSERT_TRUE(writeFileBytes(in + "/sub/runs", std::vector<uint8_t>(100000, 'r')));
    ASSERT_TRUE(writeFileBytes(in + "/sub/empty.txt", {}));
    ASSERT_TRUE(writeFileBytes(in + "/one", {'1'}));
    ASSERT_TRUE(writeFileBytes(in + "/megabyte.txt", test::wordyBytes(1 << 20, 7)));
    // A first block of 65,535 codes, the most a block holds, then one more.
    ASSERT_TRUE(writeFileBytes(in + "/full-block", test::matchlessBytes(65536)));
    // Statistics that change every few KB: several blocks in each segment
    // of the parse, each priced by its own codes at the maximum level.
    std::vector<uint8_t> stretches;
    for (uint32_t i = 0; stretches.size() < 150000; ++i) {
        std::vector<uint8_t> part =
            i % 2 ? test::randomBytes(2500 + 700 * (i % 4), i) : test::wordyBytes(6000, i);
        if (i % 2)
            for (uint8_t& b : part) b = static_cast<uint8_t>(1 + (b & 3));
        stretches.insert(stretches.end(), part.begin(), part.end());
    }
    ASSERT_TRUE(writeFileBytes(in + "/stretches", stretches));
    // Each window size and one byte either side, with the file's start
    // repeated at its end: matches as far back as the window allows.
    for (uint32_t window : {8192u, 32768u, 65536u}) {
        for (uint32_t size : {window - 1, window, window + 1}) {
            std::vector<uint8_t> data = test::wordyBytes(size, size);
            std::copy(data.begin(), data.begin() + 100, data.end() - 100);
            ASSERT_TRUE(writeFileBytes(in + "/edge" + std::to_string(size), data));
        }
    }
}

// lhasa and 7-Zip extract the archive to the files of in.
void expectPeersExtract(const std::string& archive, const std::string& in,
                        const std::string& scratch) {
    const std::string lhasa = test::findProgram("lhasa"), sevenZip = test::findProgram("7z");
    const std::string x = scratch + "/x";
    if (!lhasa.empty()) {
        test::runCommand("rm -rf " + x + " && mkdir " + x);
        ASSERT_EQ(test::runCommand("cd " + x + " && " + lhasa + " xq " + archive), 0);
        EXPECT_EQ(test::runCommand("diff -r " + in + " " + x + "/in"), 0) << "lhasa";
        const std::string listing = scratch + "/listing";
        ASSERT_EQ(test::runCommand(lhasa + " l " + archive + " >" + listing), 0);
        std::vector<uint8_t> l;
        readFileBytes(listing, l);
        EXPECT_NE(std::string(l.begin(), l.end()).find("in/sub/empty/"), std::string::npos);
    }
    if (!sevenZip.empty()) {
        ASSERT_EQ(test::runCommand(sevenZip + " t -tlzh " + archive + " >/dev/null"), 0);
        test::runCommand("rm -rf " + x + " && mkdir " + x);
        ASSERT_EQ(
            test::runCommand("cd " + x + " && " + sevenZip + " x -tlzh " + archive + " >/dev/null"),
            0);
        EXPECT_EQ(test::runCommand("diff -r " + in + " " + x + "/in"), 0) << "7z";
    }
}

bool peersInstalled() {
    return !test::findProgram("lhasa").empty() || !test::findProgram("7z").empty();
}

TEST_F(PackCommand, ArchiveReadsWithTheInstalledLhaTools) {
    if (!peersInstalled()) GTEST_SKIP() << "neither lhasa nor 7z is installed";
    const std::string in = root_ + "/in";
    writePeerInput(in);
    for (const char* method : {"lh5", "lh6", "lh7"}) {
        for (const char* level : {"0", "1", "2"}) {
            SCOPED_TRACE(std::string(method) + " level " + level);
            const std::string out = root_ + "/t.lzh";
            ASSERT_EQ(run(out + " " + in + " --method " + method + " --level " + level), 0)
                << stderrText();
            expectPeersExtract(out, in, root_);
        }
    }
}

// The maximum level's own search and parse, through the archive writer.
TEST_F(PackCommand, MaximumLevelReadsWithTheInstalledLhaTools) {
    if (!peersInstalled()) GTEST_SKIP() << "neither lhasa nor 7z is installed";
    const std::string in = root_ + "/in";
    writePeerInput(in);
    for (const Method method : {Method::Lh5, Method::Lh6, Method::Lh7}) {
        SCOPED_TRACE("-lh" + std::to_string(static_cast<int>(method)) + "-");
        encode::PackOptions options;
        options.method = method;
        options.encodeLevel = encode::EncodeLevel::Maximum;
        const std::string out = root_ + "/t.lzh";
        FILE* f = std::fopen(out.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::string error;
        const bool ok = encode::writeArchive({in}, options, f, error);
        std::fclose(f);
        ASSERT_TRUE(ok) << error;
        expectPeersExtract(out, in, root_);
        // And the project's own reader, every member's CRC checked.
        bool clean = false;
        for (const ReadMember& m : readArchive(out, clean)) {
            if (m.entry.method[3] != 'd') {
                EXPECT_TRUE(m.decoded) << m.path;
            }
        }
        EXPECT_TRUE(clean);
    }
}

}  // namespace
}  // namespace qorn
