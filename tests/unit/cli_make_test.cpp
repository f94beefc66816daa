// qornsfx make: the layout of what it writes, read back with the stub's own
// settings reader, and the inputs it must refuse rather than write wrongly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "decode/bit_reader.h"
#include "payload/binary_file.h"
#include "payload/sfx_settings.h"
#include "platform/platform.h"
#include "tests/support/corpus.h"
#include "tests/support/header_bytes.h"

namespace qorn {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class CliMake : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = corpus::makeTempFolder();
        // A finished stub as far as make can tell: "MZ", padded to the offset.
        Bytes stub(PayloadOffset, 0xCC);
        stub[0] = 'M';
        stub[1] = 'Z';
        writeFile(root_ / "stub.exe", stub);
        // One stored member "a.txt" = "hi" with its CRC, level 0, and the end mark.
        archive_ = {0x1B, 0x00, '-', 'l', 'h', '0',  '-',  2,   0,    0, 0,
                    2,    0,    0,   0,   0,   0,    0,    0,   0x20, 0, 5,
                    'a',  '.',  't', 'x', 't', 0xEF, 0xEE, 'h', 'i',  0};
        uint8_t sum = 0;
        for (size_t i = 2; i < 29; ++i) sum = static_cast<uint8_t>(sum + archive_[i]);
        archive_[1] = sum;
        writeFile(root_ / "a.lzh", archive_);
    }
    void TearDown() override { fs::remove_all(root_); }

    // Exit status of `qornsfx make -o out.exe --stub stub.exe ARGS a.lzh`.
    int make(const std::vector<std::string>& args, const std::string& archive = "a.lzh") {
        std::string command = std::string(QORN_TOOL) + " make -o " +
                              quote((root_ / "out.exe").string()) + " --stub " +
                              quote((root_ / "stub.exe").string());
        for (const std::string& a : args) command += " " + quote(a);
        command +=
            " " + quote((root_ / archive).string()) + " 2>" + quote((root_ / "err").string());
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string errors() {
        Bytes e = readFile(root_ / "err");
        return std::string(e.begin(), e.end());
    }

    fs::path root_;
    Bytes archive_;
};

// The settings the stub reads from what make wrote, and the byte after them.
struct ReadBack {
    bool ok = false;
    SfxSettings settings;
    int firstArchiveByte = -1;
};

ReadBack readBack(const fs::path& path) {
    ReadBack r;
    std::unique_ptr<BinaryFile> file(
        BinaryFile::openForReading(platform::fromUtf8(path.string().c_str()).c_str()));
    if (!file || !file->moveTo(PayloadOffset)) return r;
    r.ok = readSettings(*file, r.settings);
    uint8_t byte;
    if (file->readByte(byte)) r.firstArchiveByte = byte;
    return r;
}

TEST_F(CliMake, WritesStubSettingsAndArchiveThatTheStubReadsBack) {
    ASSERT_EQ(make({"--title", "テスト", "--destination", "/opt/demo", "--main-file",
                    "bin\\demo.exe", "--start-menu", "3", "--desktop", "2", "--send-to", "1",
                    "--open", "readme.txt", "--link-name", "Demo"}),
              0)
        << errors();
    const Bytes out = readFile(root_ / "out.exe");
    EXPECT_EQ(Bytes(out.begin(), out.begin() + PayloadOffset), readFile(root_ / "stub.exe"));
    // Marker, then the title's length in UTF-16 units and its units, LE.
    const Bytes blockStart = {1, 3, 0xC6, 0x30, 0xB9, 0x30, 0xC8, 0x30, 0};
    EXPECT_TRUE(std::equal(blockStart.begin(), blockStart.end(), out.begin() + PayloadOffset));
    // The archive ends the file unchanged: its end mark is not doubled.
    ASSERT_GE(out.size(), archive_.size());
    EXPECT_EQ(Bytes(out.end() - static_cast<long>(archive_.size()), out.end()), archive_);

    ReadBack r = readBack(root_ / "out.exe");
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.settings.present);
    EXPECT_EQ(r.settings.title, u"テスト");
    EXPECT_EQ(r.settings.destination, u"/opt/demo");
    EXPECT_EQ(r.settings.mainFile, u"bin\\demo.exe");
    EXPECT_EQ(r.settings.startMenuOptions, 3);
    EXPECT_EQ(r.settings.desktopOptions, 2);
    EXPECT_EQ(r.settings.sendToOptions, 1);
    EXPECT_EQ(r.settings.openFile, u"readme.txt");
    EXPECT_EQ(r.settings.linkName, u"Demo");
    EXPECT_EQ(r.firstArchiveByte, archive_[0]);
}

TEST_F(CliMake, BareSettingsAndNoSettings) {
    ASSERT_EQ(make({}), 0) << errors();
    ReadBack r = readBack(root_ / "out.exe");
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.settings.present);  // the dialog still runs
    EXPECT_EQ(r.settings.title, u"Qorn SFX");

    ASSERT_EQ(make({"--no-settings"}), 0) << errors();
    EXPECT_EQ(readFile(root_ / "out.exe")[PayloadOffset], 0);
    r = readBack(root_ / "out.exe");
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.settings.present);
    EXPECT_EQ(r.firstArchiveByte, archive_[0]);
}

TEST_F(CliMake, AddsTheEndMarkWhenTheArchiveLacksIt) {
    Bytes cut(archive_.begin(), archive_.end() - 1);
    writeFile(root_ / "cut.lzh", cut);
    ASSERT_EQ(make({"--no-settings"}, "cut.lzh"), 0) << errors();
    const Bytes out = readFile(root_ / "out.exe");
    EXPECT_EQ(out.size(), static_cast<size_t>(PayloadOffset) + 1 + archive_.size());
    EXPECT_EQ(out.back(), 0);
}

// Refusals leave no output behind: a half-right file would run.
TEST_F(CliMake, RefusesWhatItCannotWriteFaithfully) {
    // 255 UTF-16 units fit; 256 do not, and characters outside the BMP count
    // two units each.
    EXPECT_EQ(make({"--title", std::string(255, 'a')}), 0) << errors();
    fs::remove(root_ / "out.exe");
    EXPECT_NE(make({"--title", std::string(256, 'a')}), 0);
    EXPECT_NE(errors().find("255"), std::string::npos) << errors();
    std::string emoji;
    for (int i = 0; i < 128; ++i) emoji += "\xF0\x9F\x93\xA6";  // U+1F4E6
    EXPECT_NE(make({"--link-name", emoji}), 0);
    EXPECT_NE(make({"--desktop", "4"}), 0);
    EXPECT_NE(make({"--no-settings", "--title", "x"}), 0);
    writeFile(root_ / "text.lzh", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
    EXPECT_NE(make({}, "text.lzh"), 0);
    // A stub that was not padded to the payload offset.
    writeFile(root_ / "stub.exe", Bytes{'M', 'Z', 0, 0});
    EXPECT_NE(make({}), 0);
    EXPECT_NE(errors().find("padded"), std::string::npos) << errors();
    EXPECT_FALSE(fs::exists(root_ / "out.exe"));
    EXPECT_FALSE(fs::exists(root_ / "out.exe.part"));
}

// A stored level-0 member with its CRC; `damage` flips a data byte after
// the CRC was taken.
Bytes storedMember(const std::string& name, const std::string& data, bool damage = false) {
    makeCrcTable();
    uint16_t crc = 0;
    updateCrc(crc, reinterpret_cast<const uint8_t*>(data.data()),
              static_cast<uint32_t>(data.size()));
    Bytes b = corpus::level01(0, "-lh0-", static_cast<uint32_t>(data.size()),
                              static_cast<uint32_t>(data.size()), 0x58B16A1Cu, name,
                              {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
    b.insert(b.end(), data.begin(), data.end());
    if (damage) b.back() ^= 1;
    return b;
}

// Whatever would stop the stub, or make it pass a member over, stops make
// before it writes: the message names the member and the reason. --force
// writes the file and prints the same list as warnings.
TEST_F(CliMake, RefusesAnArchiveTheStubWouldFailOn) {
    Bytes unknownMethod = storedMember("pm.bin", "data");
    std::copy_n("-pm2-", 5, unknownMethod.begin() + 2);
    Bytes cut = storedMember("cut.txt", "0123456789");
    cut.resize(cut.size() - 4);
    const struct {
        const char* what;
        Bytes tail;  // after a good member "good.txt"
        const char* expected;
    } cases[] = {
        {"CRC", storedMember("sub/bad.txt", "payload", true),
         "member 2 \"sub/bad.txt\": CRC mismatch"},
        {"method", unknownMethod, "member 2 \"pm.bin\": method -pm2- is not one the stub decodes"},
        {"truncated", cut, "member 2 \"cut.txt\": truncated"},
        {"header", Bytes{30, 0, 'j', 'u', 'n', 'k'},
         "member 2 (after \"good.txt\"): its header cannot be read"},
        {"empty path", storedMember("../", "x"), "member 2 \"../\": nothing is left of its path"},
        {"character", storedMember("what?.txt", "x"), "member 2 \"what?.txt\": its path holds '?'"},
        {"file as folder", storedMember("Good.TXT/inner.txt", "x"),
         "member 2 \"Good.TXT/inner.txt\": a file and a folder of one name"},
    };
    for (const auto& c : cases) {
        Bytes archive = storedMember("good.txt", "fine");
        archive.insert(archive.end(), c.tail.begin(), c.tail.end());
        writeFile(root_ / "bad.lzh", archive);
        EXPECT_EQ(make({}, "bad.lzh"), 1) << c.what;
        EXPECT_NE(errors().find(c.expected), std::string::npos) << c.what << ": " << errors();
        EXPECT_NE(errors().find("not written"), std::string::npos) << errors();
        EXPECT_FALSE(fs::exists(root_ / "out.exe")) << c.what;
        EXPECT_FALSE(fs::exists(root_ / "out.exe.part")) << c.what;

        EXPECT_EQ(make({"--force"}, "bad.lzh"), 0) << c.what << ": " << errors();
        EXPECT_NE(errors().find(std::string("warning: ") + (root_ / "bad.lzh").string() + ": " +
                                c.expected),
                  std::string::npos)
            << errors();
        EXPECT_TRUE(fs::exists(root_ / "out.exe")) << c.what;
        fs::remove(root_ / "out.exe");
    }
    // Good members of every kind pass quietly; a symbolic link, which the
    // stub passes over by design, is only noted.
    Bytes fine = storedMember("good.txt", "fine");
    Bytes link = corpus::level01(0, "-lhd-", 0, 0, 0x58B16A1Cu, "ln|good.txt", {0, 0});
    fine.insert(fine.end(), link.begin(), link.end());
    writeFile(root_ / "fine.lzh", fine);
    EXPECT_EQ(make({}, "fine.lzh"), 0) << errors();
    EXPECT_NE(errors().find("note: "), std::string::npos) << errors();
}

}  // namespace
}  // namespace qorn
