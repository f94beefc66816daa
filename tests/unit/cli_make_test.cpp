// qornsfx make: the layout of what it writes, read back with the stub's own
// settings reader, and the inputs it must refuse rather than write wrongly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/crc16.h"
#include "decode/bit_reader.h"
#include "payload/archive_entry.h"
#include "payload/binary_file.h"
#include "payload/sfx_settings.h"
#include "pe/png_writer.h"
#include "platform/platform.h"
#include "tests/support/corpus.h"
#include "tests/support/header_bytes.h"
#include "tests/support/icon_images.h"

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
        command += " " + quote((root_ / archive).string());
        return run(command);
    }
    // Exit status of `qornsfx ARGS` run in the test's folder, its stdout in
    // output(), its stderr in errors().
    int tool(const std::string& args) {
        return run("cd " + quote(root_.string()) + " && " + std::string(QORN_TOOL) + " " + args);
    }
    int run(const std::string& command) {
        const std::string redirected = command + " >" + quote((root_ / "stdout").string()) + " 2>" +
                                       quote((root_ / "err").string());
        const int status = std::system(redirected.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string output() {
        Bytes e = readFile(root_ / "stdout");
        return std::string(e.begin(), e.end());
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
    ASSERT_EQ(make({"--title", "テスト", "--destination", "/opt/demo", "--main-file", "A.TXT",
                    "--start-menu", "3", "--desktop", "2", "--send-to", "1", "--open", ".\\a.txt",
                    "--link-name", "Demo"}),
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
    EXPECT_EQ(r.settings.mainFile, u"A.TXT");
    EXPECT_EQ(r.settings.startMenuOptions, 3);
    EXPECT_EQ(r.settings.desktopOptions, 2);
    EXPECT_EQ(r.settings.sendToOptions, 1);
    EXPECT_EQ(r.settings.openFile, u".\\a.txt");
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

// --icon and the version texts on the real stubs: both the i686 one that
// ships and the x86_64 test build (a PE32+ file) where it was built.
std::vector<std::string> realStubs() {
    std::vector<std::string> stubs;
#ifdef QORN_STUB_I686
    stubs.push_back(QORN_STUB_I686);
#endif
#ifdef QORN_STUB_X86_64
    stubs.push_back(QORN_STUB_X86_64);
#endif
    return stubs;
}

uint32_t get32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

// An icon image of `size` bytes in all: a bitmap (its header, then bytes)
// or a PNG file (its header chunk, pixel data, its end).
struct TestImage {
    int pixels;
    size_t size;
    bool png = false;
    uint16_t bits = 32;
};

void putBig32(Bytes& b, uint32_t v) {
    for (int k = 3; k >= 0; --k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

// A PNG chunk with its CRC-32.
void pngChunk(Bytes& png, const char* type, const Bytes& data) {
    putBig32(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = start; i < png.size(); ++i) {
        crc ^= png[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    putBig32(png, ~crc);
}

Bytes iconImage(const TestImage& i, uint8_t& fill) {
    Bytes pixels(i.size - (i.png ? 8 + 25 + 12 + 12 : 40));
    for (uint8_t& b : pixels) b = fill += 77;
    Bytes image;
    if (i.png) {
        image = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        Bytes header;
        putBig32(header, static_cast<uint32_t>(i.pixels));
        putBig32(header, static_cast<uint32_t>(i.pixels));
        header.insert(header.end(), {8, 6, 0, 0, 0});
        pngChunk(image, "IHDR", header);
        pngChunk(image, "IDAT", pixels);
        pngChunk(image, "IEND", {});
    } else {
        corpus::put32(image, 40);
        corpus::put32(image, static_cast<uint32_t>(i.pixels));
        corpus::put32(image, static_cast<uint32_t>(2 * i.pixels));
        corpus::put16(image, 1);
        corpus::put16(image, i.bits);
        image.resize(40, 0);
        image.insert(image.end(), pixels.begin(), pixels.end());
    }
    return image;
}

Bytes iconFile(const std::vector<TestImage>& images) {
    Bytes f = {0, 0, 1, 0, static_cast<uint8_t>(images.size()), 0};
    size_t at = 6 + 16 * images.size();
    for (const TestImage& i : images) {
        const uint8_t px = static_cast<uint8_t>(i.pixels == 256 ? 0 : i.pixels);
        const Bytes entry = {px, px, 0, 0, 1, 0, static_cast<uint8_t>(i.bits), 0};
        f.insert(f.end(), entry.begin(), entry.end());
        for (size_t v : {i.size, at})
            for (int k = 0; k < 4; ++k) f.push_back(static_cast<uint8_t>(v >> (8 * k)));
        at += i.size;
    }
    uint8_t fill = 1;
    for (const TestImage& i : images) {
        const Bytes image = iconImage(i, fill);
        f.insert(f.end(), image.begin(), image.end());
    }
    return f;
}

// The images of an icon file, in its order.
std::vector<Bytes> imagesOf(const Bytes& f) {
    std::vector<Bytes> images;
    for (size_t k = 0; k < static_cast<size_t>(f[4] | (f[5] << 8)); ++k) {
        const size_t size = get32(f, 6 + 16 * k + 8), at = get32(f, 6 + 16 * k + 12);
        images.emplace_back(f.begin() + at, f.begin() + at + size);
    }
    return images;
}

class CliMakeResources : public CliMake {
  protected:
    // The icon group 102 of out.exe as an icon file, read by icoutils.
    Bytes iconReadBack() {
        const std::string command = "wrestool -x -t14 -n102 -o " +
                                    quote((root_ / "back.ico").string()) + " " +
                                    quote((root_ / "out.exe").string());
        if (std::system(command.c_str()) != 0) return {};
        return readFile(root_ / "back.ico");
    }
    // The version resource of out.exe as its bytes, read by icoutils.
    Bytes versionReadBack() {
        const std::string command = "wrestool -x --raw -t16 -o " +
                                    quote((root_ / "version.bin").string()) + " " +
                                    quote((root_ / "out.exe").string());
        if (std::system(command.c_str()) != 0) return {};
        return readFile(root_ / "version.bin");
    }
    // The manifest of FILE as its bytes, read by icoutils.
    Bytes manifestReadBack(const fs::path& file) {
        const std::string command = "wrestool -x --raw -t24 -o " +
                                    quote((root_ / "manifest.xml").string()) + " " +
                                    quote(file.string());
        if (std::system(command.c_str()) != 0) return {};
        return readFile(root_ / "manifest.xml");
    }
    bool haveWrestool() { return std::system("wrestool --version >/dev/null 2>&1") == 0; }
};

// A text of a version resource: its key, then (after the padding to four
// bytes that may follow) its value, both UTF-16LE and 0-terminated.
bool holdsText(const Bytes& version, const std::u16string& key, const std::u16string& value) {
    auto units = [](const std::u16string& s) {
        Bytes b;
        for (char16_t c : s)
            b.insert(b.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
        b.insert(b.end(), {0, 0});
        return b;
    };
    const Bytes k = units(key), v = units(value);
    const auto at = std::search(version.begin(), version.end(), k.begin(), k.end());
    if (at == version.end()) return false;
    size_t p = static_cast<size_t>(at - version.begin()) + k.size();
    p = (p + 3) & ~size_t{3};
    return p + v.size() <= version.size() && std::equal(v.begin(), v.end(), version.begin() + p);
}

// The checksum as the loader's image help computes it: 32-bit sums of the
// file read as double words, folded to 16 bits, plus the file's length.
uint32_t fileChecksum(const Bytes& file, size_t field) {
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 4) {
        if (i == field) continue;
        uint32_t word = 0;
        for (size_t k = 0; k < 4 && i + k < file.size(); ++k)
            word |= uint32_t{file[i + k]} << (8 * k);
        sum += word;
        sum = (sum & 0xFFFFFFFF) + (sum >> 32);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum += sum >> 16;
    return static_cast<uint32_t>((sum & 0xFFFF) + file.size());
}

TEST_F(CliMakeResources, IconAndVersionGoInPlaceOfTheStubsOwn) {
    if (realStubs().empty() || !haveWrestool()) GTEST_SKIP() << "needs the stubs and wrestool";
    const Bytes ico = iconFile({{32, 4264}, {16, 1128}, {256, 400, true}});
    writeFile(root_ / "app.ico", ico);
    for (const std::string& stub : realStubs()) {
        SCOPED_TRACE(stub);
        fs::copy_file(stub, root_ / "stub.exe", fs::copy_options::overwrite_existing);
        ASSERT_EQ(make({"--icon", (root_ / "app.ico").string(), "--product-name", "Demo",
                        "--file-version", "3.1"}),
                  0)
            << errors();
        EXPECT_EQ(errors(), "");
        EXPECT_EQ(iconReadBack().empty() ? std::vector<Bytes>() : imagesOf(iconReadBack()),
                  imagesOf(ico));
        const Bytes version = versionReadBack();
        EXPECT_TRUE(holdsText(version, u"ProductName", u"Demo"));
        EXPECT_TRUE(holdsText(version, u"FileVersion", u"3.1"));
        EXPECT_TRUE(holdsText(version, u"ProductVersion", u"3.1"));
        // The numbers: 3.1.0.0 as the file version, most significant half first.
        ASSERT_GE(version.size(), 64u);
        EXPECT_EQ(get32(version, 40), 0xFEEF04BDu);
        EXPECT_EQ(get32(version, 48), 0x00030001u);
        EXPECT_EQ(get32(version, 52), 0u);
        EXPECT_EQ(get32(version, 56), 0x00030001u);
        const Bytes out = readFile(root_ / "out.exe");
        ReadBack r = readBack(root_ / "out.exe");
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.firstArchiveByte, archive_[0]);
        EXPECT_EQ(Bytes(out.end() - static_cast<long>(archive_.size()), out.end()), archive_);

        // The headers agree with the rewritten section, which ends before
        // the payload, and the checksum covers the whole file.
        const size_t pe = get32(out, 0x3C), optional = pe + 24;
        const bool plus = out[optional] == 0x0B && out[optional + 1] == 2;
        const size_t sections = out[pe + 6], table = optional + (out[pe + 20] | out[pe + 21] << 8);
        const size_t last = table + (sections - 1) * 40;
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(&out[last]), 5), ".rsrc");
        const uint32_t virtualSize = get32(out, last + 8), address = get32(out, last + 12);
        const uint32_t rawSize = get32(out, last + 16), rawStart = get32(out, last + 20);
        const uint32_t sectionAlignment = get32(out, optional + 32);
        EXPECT_LE(rawStart + rawSize, static_cast<uint32_t>(PayloadOffset));
        EXPECT_EQ(rawSize % get32(out, optional + 36), 0u);
        EXPECT_GE(rawSize, virtualSize);
        EXPECT_EQ(get32(out, optional + 56), (address + virtualSize + sectionAlignment - 1) /
                                                 sectionAlignment * sectionAlignment);
        const size_t resources = optional + (plus ? 112 : 96) + 2 * 8;
        EXPECT_EQ(get32(out, resources), address);
        EXPECT_EQ(get32(out, resources + 4), virtualSize);
        EXPECT_EQ(get32(out, optional + 64), fileChecksum(out, optional + 64));
    }
}

// The sizes Windows shows most, 16 to 48 px as 32-bit bitmaps, and a 256 px
// PNG image: the bitmaps that do not fit are stored as PNG, whose pixels are
// the bitmap's as Windows shows them; whatever is left out is named.
TEST_F(CliMakeResources, AnIconOf16To48PixelsKeepsEveryImageShowingItsOwnPixels) {
    if (realStubs().empty() || !haveWrestool()) GTEST_SKIP() << "needs the stubs and wrestool";
    // Drawn art, then art as rough as a small photograph.
    for (const unsigned noise : {0u, 12u}) {
        std::vector<icons::Picture> pictures;
        std::vector<icons::FileImage> images;
        for (const uint32_t px : {16u, 32u, 48u}) {
            pictures.push_back(icons::drawIcon(px, noise, px));
            images.push_back({px, icons::bitmapOf(pictures.back(), 32)});
        }
        pictures.push_back(icons::drawIcon(256, noise, 256));
        const icons::Picture& large = pictures.back();
        images.push_back({256, encode::pngFile(large.width, large.height, large.rgba)});
        writeFile(root_ / "app.ico", icons::iconFile(images));
        for (const std::string& stub : realStubs()) {
            SCOPED_TRACE(stub + ", noise " + std::to_string(noise));
            fs::copy_file(stub, root_ / "stub.exe", fs::copy_options::overwrite_existing);
            fs::remove(root_ / "out.exe");
            ASSERT_EQ(make({"--icon", (root_ / "app.ico").string()}), 0) << errors();
            const Bytes back = iconReadBack();
            const std::vector<Bytes> kept = icons::imagesOf(back);
            std::vector<uint32_t> sizes;
            for (size_t k = 0; k < kept.size(); ++k) {
                const uint32_t px = back[6 + 16 * k] ? back[6 + 16 * k] : 256;
                sizes.push_back(px);
                const size_t i = px == 256 ? 3 : px / 16 - 1;
                ASSERT_LT(i, images.size());
                SCOPED_TRACE(std::to_string(px) + " px");
                if (kept[k] == images[i].bytes) continue;
                // Not the file's own bytes: a PNG made from its bitmap.
                ASSERT_TRUE(icons::isPng(kept[k]));
                EXPECT_NE(errors().find("the " + std::to_string(px) + "x" + std::to_string(px) +
                                        " image is stored as PNG"),
                          std::string::npos)
                    << errors();
                icons::Picture shown;
                ASSERT_TRUE(icons::readPng(kept[k], shown));
                EXPECT_TRUE(shown == icons::shown(pictures[i], 32));
            }
            // What is left out is named. On the stub that ships, 16, 32 and
            // 48 px are kept (the x86_64 test build has less room).
            size_t leftOut = 0;
            for (size_t at = 0; (at = errors().find("is left out", at)) != std::string::npos; ++at)
                ++leftOut;
            EXPECT_EQ(sizes.size() + leftOut, images.size()) << errors();
#ifdef QORN_STUB_I686
            if (stub != QORN_STUB_I686) continue;
            sizes.resize(std::min<size_t>(sizes.size(), 3));
            EXPECT_EQ(sizes, (std::vector<uint32_t>{16, 32, 48})) << errors();
#endif
        }
    }
}

// Where only one of a 40 and a 48 px image fits, the 48 px one is kept: it
// is what the desktop shows at 96 DPI, the 40 px one serves 120 DPI alone.
TEST_F(CliMakeResources, A48PixelImageGoesInBeforeOtherLargeSizes) {
    if (realStubs().empty() || !haveWrestool()) GTEST_SKIP() << "needs the stubs and wrestool";
    std::vector<icons::FileImage> images;
    for (const uint32_t px : {16u, 32u, 40u, 48u})
        images.push_back({px, icons::bitmapOf(icons::drawIcon(px, px > 32 ? 255 : 0, px), 32)});
    writeFile(root_ / "app.ico", icons::iconFile(images));
    for (const std::string& stub : realStubs()) {
        SCOPED_TRACE(stub);
        fs::copy_file(stub, root_ / "stub.exe", fs::copy_options::overwrite_existing);
        fs::remove(root_ / "out.exe");
        ASSERT_EQ(make({"--icon", (root_ / "app.ico").string()}), 0) << errors();
        const Bytes back = iconReadBack();
        std::vector<uint32_t> sizes;
        for (size_t k = 0; k < icons::imagesOf(back).size(); ++k) sizes.push_back(back[6 + 16 * k]);
        EXPECT_EQ(sizes, (std::vector<uint32_t>{16, 32, 48})) << errors();
        EXPECT_NE(errors().find("the 40x40 image (6,760 bytes; "), std::string::npos) << errors();
    }
}

TEST_F(CliMakeResources, AnIconTooLargeLosesItsLargestImagesNeverItsSmallOnes) {
    if (realStubs().empty() || !haveWrestool()) GTEST_SKIP() << "needs the stubs and wrestool";
    // A 256 px bitmap of 270,376 bytes whose pixels are noise: 4 bytes a
    // pixel as PNG too, and it cannot fit; the others can, as they are.
    const icons::Picture noise = icons::drawIcon(256, 255, 9, true);
    uint8_t fill = 1;
    const Bytes ico = icons::iconFile({{256, icons::bitmapOf(noise, 32)},
                                       {48, iconImage({48, 2000, false, 4}, fill), 4},
                                       {16, iconImage({16, 1128}, fill)},
                                       {32, iconImage({32, 2216, false, 8}, fill), 8}});
    writeFile(root_ / "big.ico", ico);
    // Small images that cannot fit, PNG images already.
    writeFile(root_ / "small.ico",
              iconFile({{16, 9000, true}, {32, 9000, true}, {48, 1000, false, 1}}));
    for (const std::string& stub : realStubs()) {
        SCOPED_TRACE(stub);
        fs::copy_file(stub, root_ / "stub.exe", fs::copy_options::overwrite_existing);
        fs::remove(root_ / "out.exe");
        ASSERT_EQ(make({"--icon", (root_ / "big.ico").string()}), 0) << errors();
        EXPECT_NE(errors().find("warning: " + (root_ / "big.ico").string() +
                                ": the 256x256 image (270,376 bytes; "),
                  std::string::npos)
            << errors();
        EXPECT_NE(errors().find("as PNG) is left out: "), std::string::npos) << errors();
        const std::vector<Bytes> all = icons::imagesOf(ico);
        EXPECT_EQ(icons::imagesOf(iconReadBack()), std::vector<Bytes>(all.begin() + 1, all.end()));

        // A 48 px bitmap too large whose mask inverts the screen behind a
        // pixel: no PNG can show it, and the warning says so. (Small images
        // too rough to shrink as PNG take enough of the room for the
        // bitmap not to fit.)
        icons::Bytes inverting = icons::bitmapOf(icons::drawIcon(48, 0, 3, true), 24);
        inverting[40 + 48 * 48 * 3] |= 0x80;
        writeFile(root_ / "inverting.ico",
                  icons::iconFile({{16, icons::bitmapOf(icons::drawIcon(16, 255, 1), 32)},
                                   {24, icons::bitmapOf(icons::drawIcon(24, 255, 4), 32)},
                                   {32, icons::bitmapOf(icons::drawIcon(32, 255, 2), 32)},
                                   {48, inverting, 24}}));
        fs::remove(root_ / "out.exe");
        ASSERT_EQ(make({"--icon", (root_ / "inverting.ico").string()}), 0) << errors();
        EXPECT_NE(errors().find("the 48x48 image (7,336 bytes; its mask inverts the screen"),
                  std::string::npos)
            << errors();
        EXPECT_EQ(icons::imagesOf(iconReadBack()).size(), 3u);

        // An error that gives both figures, and no file.
        fs::remove(root_ / "out.exe");
        EXPECT_EQ(make({"--icon", (root_ / "small.ico").string()}), 1);
        EXPECT_NE(errors().find("32 pixels and less need 18"), std::string::npos) << errors();
        EXPECT_NE(errors().find("room for "), std::string::npos) << errors();
        EXPECT_FALSE(fs::exists(root_ / "out.exe"));
    }
}

// Without --stub the tool uses the stub built into it: the finished one, as
// it is, wherever the tool was installed.
// The manifest's execution level is the maker's to choose; nothing else in
// it changes, and a level Windows does not know is refused.
TEST_F(CliMakeResources, TheExecutionLevelIsTheMakersChoice) {
    if (realStubs().empty() || !haveWrestool()) GTEST_SKIP() << "needs the stubs and wrestool";
    for (const std::string& stub : realStubs()) {
        SCOPED_TRACE(stub);
        fs::copy_file(stub, root_ / "stub.exe", fs::copy_options::overwrite_existing);
        const Bytes before = manifestReadBack(root_ / "stub.exe");
        const std::string original(before.begin(), before.end());
        ASSERT_NE(original.find("level=\"highestAvailable\""), std::string::npos);
        for (const std::string level : {"asInvoker", "requireAdministrator", "highestAvailable"}) {
            ASSERT_EQ(make({"--execution-level", level}), 0) << errors();
            const Bytes after = manifestReadBack(root_ / "out.exe");
            std::string expected = original;
            expected.replace(expected.find("highestAvailable"), 16, level);
            EXPECT_EQ(std::string(after.begin(), after.end()), expected);
            ReadBack r = readBack(root_ / "out.exe");
            ASSERT_TRUE(r.ok);
            EXPECT_EQ(r.firstArchiveByte, archive_[0]);
        }
        for (const std::string bad : {"admin", "asinvoker", ""}) {
            fs::remove(root_ / "out.exe");
            EXPECT_EQ(make({"--execution-level", bad}), 2) << bad;
            EXPECT_NE(errors().find("--execution-level takes asInvoker, highestAvailable or "
                                    "requireAdministrator"),
                      std::string::npos)
                << errors();
            EXPECT_FALSE(fs::exists(root_ / "out.exe"));
        }
    }
}

// A language puts its dialog and string table into the stub's resources;
// Japanese, the stub's own, changes nothing; an unknown one is refused.
TEST_F(CliMakeResources, ALanguageReplacesTheDialogAndAddsItsTexts) {
    if (realStubs().empty() || !haveWrestool()) GTEST_SKIP() << "needs the stubs and wrestool";
    for (const std::string& stub : realStubs()) {
        SCOPED_TRACE(stub);
        fs::copy_file(stub, root_ / "stub.exe", fs::copy_options::overwrite_existing);
        ASSERT_EQ(make({}), 0) << errors();
        const Bytes plain = readFile(root_ / "out.exe");
        ASSERT_EQ(make({"--language", "ja"}), 0) << errors();
        EXPECT_EQ(readFile(root_ / "out.exe"), plain);

        ASSERT_EQ(make({"--language", "en", "--execution-level", "asInvoker"}), 0) << errors();
        const std::string listing = [&] {
            const std::string command = "wrestool -l " + quote((root_ / "out.exe").string()) +
                                        " >" + quote((root_ / "list").string());
            EXPECT_EQ(std::system(command.c_str()), 0);
            const Bytes l = readFile(root_ / "list");
            return std::string(l.begin(), l.end());
        }();
        EXPECT_NE(listing.find("--type=5 --name=103 --language=1033"), std::string::npos)
            << listing;
        EXPECT_NE(listing.find("--type=6 --name=1 --language=1033"), std::string::npos) << listing;
        EXPECT_EQ(listing.find("--type=5 --name=103 --language=1041"), std::string::npos)
            << listing;
        // The string table: sixteen counted texts, 1 to 10 filled.
        const std::string command = "wrestool -x --raw -t6 -n1 -o " +
                                    quote((root_ / "strings.bin").string()) + " " +
                                    quote((root_ / "out.exe").string());
        ASSERT_EQ(std::system(command.c_str()), 0);
        const Bytes table = readFile(root_ / "strings.bin");
        std::vector<std::u16string> texts;
        for (size_t at = 0; at + 2 <= table.size() && texts.size() < 16;) {
            const size_t n = table[at] | table[at + 1] << 8;
            std::u16string t;
            for (size_t k = 0; k < n && at + 2 + 2 * k + 1 < table.size(); ++k)
                t += static_cast<char16_t>(table[at + 2 + 2 * k] | table[at + 3 + 2 * k] << 8);
            texts.push_back(t);
            at += 2 + 2 * n;
        }
        ASSERT_EQ(texts.size(), 16u);
        EXPECT_EQ(texts[0], u"");
        EXPECT_EQ(texts[3], u"The file %s is damaged.");
        EXPECT_EQ(texts[8], u"Stop extracting?");
        EXPECT_EQ(texts[10], u"The folder %s is damaged.");
        for (size_t i = 1; i <= 10; ++i) EXPECT_FALSE(texts[i].empty()) << i;
        for (size_t i = 11; i < 16; ++i) EXPECT_TRUE(texts[i].empty()) << i;
        // The other choices stay as made.
        const Bytes manifest = manifestReadBack(root_ / "out.exe");
        EXPECT_NE(std::string(manifest.begin(), manifest.end()).find("level=\"asInvoker\""),
                  std::string::npos);
        ReadBack r = readBack(root_ / "out.exe");
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.firstArchiveByte, archive_[0]);

        fs::remove(root_ / "out.exe");
        EXPECT_EQ(make({"--language", "klingon"}), 2);
        EXPECT_NE(errors().find("--language takes one of ja, en"), std::string::npos) << errors();
        EXPECT_FALSE(fs::exists(root_ / "out.exe"));
    }
}

TEST_F(CliMake, TheToolCarriesTheFinishedStub) {
#ifndef QORN_STUB_I686
    GTEST_SKIP() << "built without the stub";
#else
    const std::string command = std::string(QORN_TOOL) + " make --no-settings -o " +
                                quote((root_ / "out.exe").string()) + " " +
                                quote((root_ / "a.lzh").string());
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes out = readFile(root_ / "out.exe");
    ASSERT_GT(out.size(), static_cast<size_t>(PayloadOffset));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + PayloadOffset), readFile(QORN_STUB_I686));
#endif
}

TEST_F(CliMakeResources, BrokenIconFilesAndBadVersionTextsAreRefused) {
    if (realStubs().empty()) GTEST_SKIP() << "needs a stub";
    fs::copy_file(realStubs()[0], root_ / "stub.exe", fs::copy_options::overwrite_existing);
    const Bytes good = iconFile({{16, 1128}, {32, 4264}});
    struct Broken {
        Bytes file;
        const char* message;
    };
    Bytes outside = good;
    outside[6 + 16 + 12] = 0xF0;  // the second image starts past the end
    Bytes noImage = good;
    noImage[good.size() - 4264] = 'X';  // neither a bitmap header nor PNG
    // Images that only start like one: the file names the image and why.
    const size_t second = 6 + 2 * 16 + 1128;  // where the 32x32 bitmap starts
    auto withBytes = [&](size_t at, const Bytes& bytes) {
        Bytes f = good;
        std::copy(bytes.begin(), bytes.end(), f.begin() + static_cast<long>(second + at));
        return f;
    };
    Bytes pngText = withBytes(0, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    for (size_t k = 8; k < 64; ++k) pngText[second + k] = 'a' + k % 26;
    Bytes bareHeader = good;
    bareHeader.resize(second + 40);
    bareHeader[6 + 16 + 8] = 40;  // its size: the header alone
    bareHeader[6 + 16 + 9] = 0;
    const Bytes png = iconFile({{16, 1128}, {32, 300, true}});
    const size_t pngAt = 6 + 2 * 16 + 1128;
    Bytes pngWide = png, pngCut = png, pngBadCrc = png;
    pngWide[pngAt + 17] = 0x10;  // 1,048,608 pixels wide; its CRC taken again
    pngBadCrc[pngAt + 17] = 0x10;
    {
        Bytes header(pngWide.begin() + static_cast<long>(pngAt + 8),
                     pngWide.begin() + static_cast<long>(pngAt + 8 + 25));
        Bytes chunk;
        pngChunk(chunk, "IHDR", Bytes(header.begin() + 8, header.begin() + 21));
        std::copy(chunk.begin(), chunk.end(), pngWide.begin() + static_cast<long>(pngAt + 8));
    }
    pngCut[pngCut.size() - 12 + 4] = 'X';  // no IEND
    const std::vector<Broken> broken = {
        {pngText,
         "image 2 (32x32) of the icon file is no image an icon can show: its PNG data "
         "do not start with a header chunk"},
        {pngWide,
         "image 2 (32x32) of the icon file is no image an icon can show: its PNG image "
         "is 1048608x32"},
        {pngBadCrc, "its PNG header chunk is damaged"},
        {pngCut, "its PNG data are cut short"},
        {bareHeader,
         "its bitmap holds 40 bytes; a 32x32 image of 32 bits a pixel with its mask "
         "needs 4264"},
        {withBytes(4, {0xFF, 0xFF, 0xFF, 0x7F}), "its bitmap is 2147483647 pixels wide"},
        {withBytes(8, {0x00, 0x00, 0x00, 0x80}), "and -2147483648 high"},
        {withBytes(4, {0xE0, 0xFF, 0xFF, 0xFF}), "its bitmap is -32 pixels wide"},
        {withBytes(14, {0, 0}), "its bitmap has 0 bits a pixel"},
        {withBytes(12, {0xFF, 0xFF}), "its bitmap has 65535 planes instead of 1"},
        {withBytes(16, {1, 0, 0, 0}), "its bitmap is compressed (method 1)"},
        {[&] {
             Bytes f = good;
             f[6 + 16 + 4] = f[6 + 16 + 5] = 0xFF;
             return f;
         }(),
         "image 2 (32x32) of the icon file is no image an icon can show: the icon file gives it "
         "65535 planes"},
        {Bytes(good.begin(), good.begin() + 20), "cut short"},
        {Bytes(good.begin(), good.end() - 1), "lies outside"},
        {outside, "lies outside"},
        {Bytes{0, 0, 1, 0, 0, 0}, "no images"},
        {Bytes{0, 0, 2, 0, 1, 0}, "not an icon"},
        {noImage, "neither a bitmap nor a PNG"},
    };
    writeFile(root_ / "good.ico", good);
    for (const Broken& b : broken) {
        writeFile(root_ / "bad.ico", b.file);
        EXPECT_EQ(make({"--icon", (root_ / "bad.ico").string()}), 1);
        EXPECT_NE(errors().find(b.message), std::string::npos) << errors();
    }
    EXPECT_EQ(make({"--icon", (root_ / "missing.ico").string()}), 1);
    for (const char* version :
         {"1.2.3.4.5", "65536", "0065536", "99999999999", "1..2", "v1", "1.", "", "1.-2", "+1"})
        EXPECT_EQ(make({"--file-version", version}), 2) << version;
    // One rule for every number: its value, however many leading zeros.
    for (const char* version : {"0000001", "000001.0002", "00065535.0.0.000000000007"}) {
        EXPECT_EQ(make({"--file-version", version}), 0) << version << ": " << errors();
        fs::remove(root_ / "out.exe");
    }
    EXPECT_EQ(make({"--company", std::string(256, 'c')}), 2);
    EXPECT_FALSE(fs::exists(root_ / "out.exe"));
    // A stub signed already: editing it would break the signature.
    Bytes signedStub = readFile(realStubs()[0]);
    const size_t optional = get32(signedStub, 0x3C) + 24;
    const size_t directories = optional + (signedStub[optional + 1] == 2 ? 112 : 96);
    signedStub[directories + 4 * 8] = 0x10;
    writeFile(root_ / "stub.exe", signedStub);
    EXPECT_EQ(make({"--icon", (root_ / "good.ico").string()}), 1);
    EXPECT_NE(errors().find("signing comes after make"), std::string::npos) << errors();
    // A stub that is no executable: a clear refusal.
    Bytes fake(PayloadOffset, 0);
    fake[0] = 'M';
    fake[1] = 'Z';
    writeFile(root_ / "stub.exe", fake);
    EXPECT_EQ(make({"--product-name", "x"}), 1);
    EXPECT_NE(errors().find("not a Windows executable"), std::string::npos) << errors();
    EXPECT_FALSE(fs::exists(root_ / "out.exe"));
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
        EXPECT_FALSE(fs::exists(root_ / "out.exe.check")) << c.what;

        EXPECT_EQ(make({"--force"}, "bad.lzh"), 0) << c.what << ": " << errors();
        EXPECT_NE(errors().find(std::string("warning: ") + (root_ / "bad.lzh").string() + ": " +
                                c.expected),
                  std::string::npos)
            << errors();
        EXPECT_TRUE(fs::exists(root_ / "out.exe")) << c.what;
        fs::remove(root_ / "out.exe");
    }
    // Good members of every kind pass quietly, names with characters the
    // stub turns into '_' among them; a symbolic link, which the stub passes
    // over by design, is only noted.
    Bytes fine = storedMember("good.txt", "fine");
    const Bytes question = storedMember("what?.txt", "x");
    fine.insert(fine.end(), question.begin(), question.end());
    Bytes link = corpus::level01(0, "-lhd-", 0, 0, 0x58B16A1Cu, "ln|good.txt", {0, 0});
    fine.insert(fine.end(), link.begin(), link.end());
    writeFile(root_ / "fine.lzh", fine);
    EXPECT_EQ(make({}, "fine.lzh"), 0) << errors();
    EXPECT_NE(errors().find("note: "), std::string::npos) << errors();
}

// A stored level-2 member under a UTF-16 name (folders split off by '/').
Bytes storedMemberW(const std::u16string& path, const std::string& data) {
    makeCrcTable();
    uint16_t crc = 0;
    updateCrc(crc, reinterpret_cast<const uint8_t*>(data.data()),
              static_cast<uint32_t>(data.size()));
    const size_t slash = path.rfind(u'/');
    std::vector<corpus::Extended> names = {
        {0x44, corpus::utf16(slash == std::u16string::npos ? path : path.substr(slash + 1))}};
    if (slash != std::u16string::npos)
        names.push_back({0x45, corpus::utf16(path.substr(0, slash))});
    const uint32_t size = static_cast<uint32_t>(data.size());
    Bytes b = corpus::level2("-lh0-", size, size, 0x5F000000u, crc, names);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// A level-2 folder member.
Bytes folderMemberW(const std::u16string& path, uint32_t packed = 0) {
    return corpus::level2("-lhd-", packed, 0, 0x5F000000u, 0, {{0x45, corpus::utf16(path)}});
}

Bytes joined(const std::vector<Bytes>& members) {
    Bytes archive;
    for (const Bytes& m : members) archive.insert(archive.end(), m.begin(), m.end());
    archive.push_back(0);
    return archive;
}

class CliMakeAgreesWithTheStub : public CliMake {
  protected:
    // make on the archive: exit 1 and a message naming the member and the
    // reason, no file left; or exit 0, and then the tool's own extraction
    // (the stub's worker) runs to the end.
    void expectRefused(const Bytes& archive, const std::string& expected) {
        fs::remove(root_ / "out.exe");
        writeFile(root_ / "case.lzh", archive);
        EXPECT_EQ(make({}, "case.lzh"), 1) << errors();
        EXPECT_NE(errors().find(expected), std::string::npos) << errors();
        EXPECT_FALSE(fs::exists(root_ / "out.exe"));
    }
    void expectTaken(const Bytes& archive, bool extract = true) {
        writeFile(root_ / "case.lzh", archive);
        ASSERT_EQ(make({}, "case.lzh"), 0) << errors();
        if (extract) {
            fs::remove_all(root_ / "x");
            const std::string command = std::string(QORN_TOOL) + " extract " +
                                        quote((root_ / "out.exe").string()) + " -d " +
                                        quote((root_ / "x").string()) + " >/dev/null 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0);
        }
        fs::remove(root_ / "out.exe");
    }
};

// The stub checks every member's packed size against the file, folders and
// the links it passes over included, and stops there as at damage: make
// must too, at every header level, with or without members behind.
TEST_F(CliMakeAgreesWithTheStub, FoldersAndLinksWhosePackedSizeRunsPastTheEnd) {
    using Member = std::function<Bytes(uint32_t packed)>;
    const uint32_t stamp = 0x58B16A1Cu, time = 0x5F000000u;
    const std::vector<std::pair<const char*, Member>> members = {
        {"level 0 folder",
         [&](uint32_t n) {
             return corpus::level01(0, "-lhd-", n, 0, stamp, "dir/", {0, 0});
         }},
        {"level 1 folder",
         [&](uint32_t n) {
             return corpus::level01(1, "-lhd-", n, 0, stamp, "", {0, 0, 'U'},
                                    {{0x02, corpus::text("dir")}});
         }},
        {"level 2 folder", [&](uint32_t n) { return folderMemberW(u"dir", n); }},
        {"level 3 folder",
         [&](uint32_t n) {
             return corpus::level3("-lhd-", n, 0, time, 0, {{0x02, corpus::text("dir")}});
         }},
        {"level 1 link",
         [&](uint32_t n) {
             return corpus::level01(1, "-lhd-", n, 0, stamp, "", {0, 0, 'U'},
                                    {{0x01, corpus::text("ln|target")}});
         }},
        {"level 2 link",
         [&](uint32_t n) {
             return corpus::level2("-lhd-", n, 0, time, 0, {{0x01, corpus::text("ln|target")}});
         }},
        {"level 3 link",
         [&](uint32_t n) {
             return corpus::level3("-lhd-", n, 0, time, 0, {{0x01, corpus::text("ln|target")}});
         }},
    };
    const Bytes file = storedMember("after.txt", "bytes after the member");
    for (const auto& [what, member] : members) {
        SCOPED_TRACE(what);
        expectRefused(joined({member(5000)}), "member 1 \"");
        EXPECT_NE(errors().find("truncated: its packed size (5000 bytes) runs past the end"),
                  std::string::npos)
            << errors();
        expectRefused(joined({storedMember("first.txt", "x"), member(5000), file}), "member 2 \"");
        // The same member with a packed size the file holds.
        expectTaken(joined({member(0), file}), std::string(what).find("link") == std::string::npos);
    }
}

// Windows compares names through its upper-case table, beyond ASCII too:
// a file and a folder whose names differ only so are one name, and the
// folder's member deletes the file (or cannot be made where it lies).
TEST_F(CliMakeAgreesWithTheStub, AFileAndAFolderOfOneNameInAnyLetterCase) {
    const std::vector<std::pair<std::u16string, std::u16string>> pairs = {
        {u"\u00C4", u"\u00E4"},          // Ä ä
        {u"caf\u00E9", u"CAF\u00C9"},    // é É
        {u"\uFF58.txt", u"\uFF38.TXT"},  // fullwidth ｘ Ｘ
        {u"\u03C3", u"\u03A3"},          // σ Σ
        {u"\u03C2", u"\u03A3"},          // final ς Σ
        {u"\u0436", u"\u0416"},          // ж Ж
        {u"\u1F80", u"\u1F88"},          // ᾀ ᾈ (a simple mapping only)
        {u"\u2170", u"\u2160"},          // Roman numerals ⅰ Ⅰ
        {u"\u24D0", u"\u24B6"},          // circled ⓐ Ⓐ
        {u"\u2C30", u"\u2C00"},          // Glagolitic
        {u"\u10D0", u"\u1C90"},          // Georgian
    };
    for (const auto& [lower, upper] : pairs) {
        SCOPED_TRACE(std::string(QORN_TOOL));
        // The file, then a folder of its name; the folder, then a file; a
        // file, then a member inside a folder of its name; "." parts resolved.
        expectRefused(joined({storedMemberW(lower, "x"), folderMemberW(upper)}), "member 2 \"");
        EXPECT_NE(errors().find("a file and a folder of one name"), std::string::npos) << errors();
        expectRefused(joined({folderMemberW(upper), storedMemberW(lower, "x")}), "member 2 \"");
        expectRefused(joined({storedMemberW(upper, "x"), storedMemberW(lower + u"/in.txt", "y")}),
                      "member 2 \"");
        expectRefused(joined({storedMemberW(u"d/" + lower, "x"), folderMemberW(u"d/./" + upper)}),
                      "member 2 \"");
        // Two files or two folders of one name are one member replacing
        // another, as the stub extracts them.
        writeFile(root_ / "case.lzh",
                  joined({storedMemberW(lower, "x"), storedMemberW(upper, "y")}));
        EXPECT_EQ(make({}, "case.lzh"), 0) << errors();
    }
    // Letters that only look alike, or whose upper case is no single one.
    expectTaken(joined({storedMemberW(u"\u00E4", "x"), folderMemberW(u"\u00F6")}));
    expectTaken(joined({storedMemberW(u"stra\u00DFe", "x"), folderMemberW(u"STRASSE")}));
    expectTaken(joined({storedMemberW(u"\u212A", "x"), folderMemberW(u"k")}));  // Kelvin
}

// A file named "." is the folder it would lie in, and no name part may pass
// the 255 units Windows takes; "." inside a path is resolved as the system
// does it.
TEST_F(CliMakeAgreesWithTheStub, PathsNoFileSystemCanMake) {
    expectRefused(joined({storedMember(".", "x")}), "member 1 \".\": a file whose name is \".\"");
    expectRefused(joined({storedMember("dir/.", "x")}), "member 1 \"dir/.\": a file whose name");
    expectRefused(joined({storedMember("dir\\.", "x")}), "a file whose name is \".\"");
    const std::u16string part255(255, u'a'), part256(256, u'b');
    expectRefused(joined({storedMemberW(part256, "x")}), "is 256 UTF-16 units long");
    expectRefused(joined({storedMemberW(part256 + u"/in.txt", "x")}), "at most 255");
    expectRefused(joined({folderMemberW(u"ok/" + part256)}), "is 256 UTF-16 units long");
    // Units, not characters: 127 characters outside the BMP between two
    // letters are 256 units. The message shows the part's start without
    // cutting a pair in two.
    std::u16string astral = u"a";
    std::string shownStart = "(\"a";
    for (int i = 0; i < 127; ++i) astral += u"\U0001F4E6";
    for (int i = 0; i < 19; ++i) shownStart += "\xF0\x9F\x93\xA6";
    expectRefused(joined({storedMemberW(astral + u"b", "x")}), "is 256 UTF-16 units long");
    EXPECT_NE(errors().find(shownStart + "...\")"), std::string::npos) << errors();
    // A device name's '_' counts: "CON." and 251 units are 256 once cleaned.
    expectRefused(joined({storedMemberW(u"CON." + std::u16string(251, u'c'), "x")}),
                  "is 256 UTF-16 units long");

    // Taken: "." folders, "." between parts, 255 units.
    expectTaken(joined(
        {folderMemberW(u"dir/."), storedMember("./a.txt", "x"), storedMember("dir/./b.txt", "y")}));
    expectTaken(joined({storedMemberW(part255, "x")}));
}

// The check and the output go through scratch files created for them
// alone: a file of the user's named like one survives, refused or not.
TEST_F(CliMakeAgreesWithTheStub, ScratchFilesNeverTakeTheUsersOwn) {
    const Bytes mine = {'m', 'i', 'n', 'e'};
    for (const char* name : {"out.exe.part", "out.exe.check", "out.exe.part-2", "out.exe.check-2"})
        writeFile(root_ / name, mine);
    writeFile(root_ / "bad.lzh", joined({storedMember("bad.txt", "payload", true)}));
    EXPECT_EQ(make({}, "bad.lzh"), 1) << errors();
    EXPECT_EQ(make({}), 0) << errors();
    const Bytes out = readFile(root_ / "out.exe");
    ASSERT_GT(out.size(), archive_.size());
    EXPECT_EQ(Bytes(out.end() - static_cast<long>(archive_.size()), out.end()), archive_);
    for (const char* name : {"out.exe.part", "out.exe.check", "out.exe.part-2", "out.exe.check-2"})
        EXPECT_EQ(readFile(root_ / name), mine) << name;
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(root_))
        files += e.path().filename() != "err" && e.path().filename() != "stdout";
    EXPECT_EQ(files, 8u);  // stub, a.lzh, bad.lzh, out.exe and the user's four
}

// The stub stops at the first 0 where a header would start. Bytes behind it
// are a warning; members behind it an error, whether the 0 is an end mark
// or the low byte of a level-2 header length of 256.
TEST_F(CliMakeAgreesWithTheStub, BytesBehindTheEndMark) {
    const Bytes first = storedMember("first.txt", "one");
    Bytes junk = joined({first});
    for (char c : std::string("junk")) junk.push_back(static_cast<uint8_t>(c));
    writeFile(root_ / "case.lzh", junk);
    EXPECT_EQ(make({}, "case.lzh"), 0) << errors();
    // make's own end mark follows the junk: five bytes the stub never reads.
    EXPECT_NE(errors().find("warning: " + (root_ / "case.lzh").string() +
                            ": the end mark at offset " + std::to_string(first.size()) +
                            ": 5 bytes after it would never be "
                            "extracted"),
              std::string::npos)
        << errors();

    Bytes twoArchives = joined({first});
    const Bytes second = joined({storedMember("second.txt", "two")});
    twoArchives.insert(twoArchives.end(), second.begin(), second.end());
    expectRefused(twoArchives,
                  "a member header follows at offset " + std::to_string(first.size() + 1));
    EXPECT_EQ(make({"--force"}, "case.lzh"), 0) << errors();
    fs::remove(root_ / "out.exe");

    // A level-2 header padded to 256 bytes starts with a 0.
    Bytes padded = storedMemberW(u"second.txt", "two");
    Bytes header = corpus::level2("-lh0-", 3, 3, 0x5F000000u, 0, {{0x44, corpus::utf16(u"p")}});
    header = corpus::level2("-lh0-", 3, 3, 0x5F000000u, 0, {{0x44, corpus::utf16(u"p")}},
                            static_cast<int>(256 - header.size()));
    ASSERT_EQ(header.size(), 256u);
    ASSERT_EQ(header[0], 0);
    expectRefused(joined({first, header, corpus::text("two"), padded}),
                  "a member header follows at offset " + std::to_string(first.size()));
    // An archive that ends at its mark, or has no bytes after it, is quiet.
    expectTaken(joined({first}));
    EXPECT_EQ(errors(), "");
}

// Mistakes on the command line are named, with the nearest option, and
// exit 2 before anything is read or written.
TEST_F(CliMake, CommandLineMistakesAreNamed) {
    struct Case {
        std::string args, message;
    } cases[] = {
        {"make --tilte X -o o.exe a.lzh", "make: unknown option --tilte (did you mean --title?)"},
        {"make --desination=Foo -o o.exe a.lzh",
         "make: unknown option --desination (did you mean --destination?)"},
        {"make -o o.exe --title", "--title: 1 required TEXT missing"},
        {"make -o o.exe --start-menu 4 a.lzh",
         "--start-menu: takes off, offered, forced or "
         "checked (or 0 to 3), not \"4\""},
        {"make -o o.exe --method lh9 a.lzh", "--method: takes lh5, lh6, lh7"},
        {"make a.lzh", "make: no output file given (-o OUT.exe)"},
        {"make -o o.exe", "make: nothing to build from"},
        {"make -o o.exe --method lh7 a.lzh",
         "--method applies when make packs files and "
         "folders"},
        {"list a.lzh b.lzh", "list: unexpected argument \"b.lzh\""},
        {"list --jsn a.lzh", "list: unknown option --jsn (did you mean --json?)"},
        {"lsit a.lzh", "unknown command \"lsit\" (did you mean list?)"},
        {"bogus", "unknown command \"bogus\"; the commands are list, test, extract, make and pack"},
        {"", "no command given"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(tool(c.args), 2);
        EXPECT_NE(errors().find(c.message), std::string::npos) << errors();
        EXPECT_FALSE(fs::exists(root_ / "o.exe"));
    }
    // Every command explains its options, their defaults and what a path
    // is relative to.
    ASSERT_EQ(tool("make --help"), 0);
    for (const char* part : {"--destination PATH", "relative to the base folder", "--program-files",
                             "--main-file MEMBER", "checked (a check box, checked)", "Default: lh7",
                             "--config FILE", "--sign-cmd COMMAND"})
        EXPECT_NE(output().find(part), std::string::npos) << part;
    for (const char* command : {"list", "test", "extract", "pack"}) {
        EXPECT_EQ(tool(std::string(command) + " --help"), 0);
        EXPECT_NE(output().find(std::string("Usage: qornsfx ") + command), std::string::npos);
    }
}

// What make writes must work: shortcuts need a main file, and the main file
// and the file to open must be members (as Windows compares names: either
// separator, any letter case, trailing dots and blanks dropped). Exit 1,
// naming the problem, nothing written.
TEST_F(CliMake, RefusesSettingsThatWouldNotWork) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } refused[] = {
        {{"--start-menu", "checked"}, "give --main-file"},
        {{"--desktop", "2", "--send-to", "offered"}, "give --main-file"},
        {{"--main-file", "nope.exe", "--desktop", "2"}, "--main-file \"nope.exe\" is not a member"},
        {{"--main-file", "sub\\nope.exe"}, "is not a member of the archive"},
        {{"--open", "../a.txt"}, "leaves the destination"},
        {{"--open", "C:\\a.txt"}, "is an absolute path"},
        {{"--link-name", "Demo"}, "--link-name names shortcuts, but none is made"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        EXPECT_EQ(make(c.args), 1);
        EXPECT_NE(errors().find(c.message), std::string::npos) << errors();
        EXPECT_NE(errors().find("not written: the settings would not work"), std::string::npos);
        EXPECT_FALSE(fs::exists(root_ / "out.exe"));
    }
    for (const std::string name : {"a.txt", "A.TXT", ".\\a.txt", "a.txt. ", "./A.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(make({"--main-file", name, "--desktop", "forced", "--open", name}), 0)
            << errors();
    }
    // A folder may be opened, not linked to.
    fs::create_directories(root_ / "tree/sub");
    writeFile(root_ / "tree/sub/x.txt", Bytes{'x'});
    EXPECT_EQ(make({"--open", "tree\\sub"}, "tree"), 0) << errors();
    EXPECT_EQ(make({"--main-file", "tree/sub", "--desktop", "1"}, "tree"), 1);
    EXPECT_NE(errors().find("is a folder of the archive, not a file"), std::string::npos);
}

// Installer mode: the program must be a file of the archive, found as
// Windows finds it and stored as the archive spells it; settings it would
// drop are refused; list and extract tell what the file does.
TEST_F(CliMake, InstallerModeRunsAMemberAndSaysSo) {
    if (realStubs().empty()) GTEST_SKIP() << "needs the stub";
    // The resources of a real stub take the program; the stub of installer
    // mode is the same program, as far as make is concerned.
    fs::copy_file(realStubs()[0], root_ / "stub.exe", fs::copy_options::overwrite_existing);
    struct Case {
        std::string run;
        int status;
        std::string message;
    } refused[] = {
        {"nope.exe /q", 1, "--run: nope.exe is not a file of the archive"},
        {"", 2, "--run names no program"},
        {"\"a.txt /q", 2, "closing quote is missing"},
        {"..\\a.txt", 2, "is not a path inside the archive"},
        {"C:\\a.txt", 2, "is not a path inside the archive"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.run);
        EXPECT_EQ(make({"--run", c.run}), c.status);
        EXPECT_NE(errors().find(c.message), std::string::npos) << errors();
        EXPECT_FALSE(fs::exists(root_ / "out.exe"));
    }
    EXPECT_EQ(make({"--run", "a.txt", "--desktop", "forced", "--main-file", "a.txt"}), 2);
    EXPECT_NE(errors().find("--run and --main-file do not go together"), std::string::npos)
        << errors();

    ASSERT_EQ(make({"--run", ".\\A.TXT.  /S \"x y\"", "--title", "Setup"}), 0) << errors();
    ASSERT_EQ(tool("list out.exe"), 0) << errors();
    EXPECT_NE(output().find("installer mode: extracts into a temporary folder, runs a.txt /S "
                            "\"x y\" there"),
              std::string::npos)
        << output();
    ASSERT_EQ(tool("list --json out.exe"), 0) << errors();
    EXPECT_NE(output().find("\"run\": {\"program\": \"a.txt\", \"arguments\": \"/S \\\"x y\\\"\"}"),
              std::string::npos)
        << output();
    ASSERT_EQ(tool("extract -d out out.exe"), 0) << errors();
    EXPECT_NE(errors().find("installer-mode file; its program (a.txt) is not run here"),
              std::string::npos)
        << errors();
    EXPECT_TRUE(fs::exists(root_ / "out/a.txt"));
    // Without --run, nothing of it.
    ASSERT_EQ(make({}), 0) << errors();
    ASSERT_EQ(tool("list --json out.exe"), 0) << errors();
    EXPECT_NE(output().find("\"run\": null"), std::string::npos) << output();
}

// The member paths of an archive, in order.
std::vector<std::string> memberPaths(const fs::path& sfx) {
    std::vector<std::string> paths;
    std::unique_ptr<BinaryFile> file(
        BinaryFile::openForReading(platform::fromUtf8(sfx.string().c_str()).c_str()));
    SfxSettings settings;
    if (!file || !file->moveTo(PayloadOffset) || !readSettings(*file, settings)) return paths;
    corpus::RecordingReporter reporter;
    ArchiveEntry entry;
    while (readEntryHeader(*file, entry, reporter) == HeaderResult::Member) {
        const std::u16string p(entry.path.c_str());
        paths.push_back(std::string(p.begin(), p.end()) + " " + std::string(entry.method, 5));
        if (!file->moveTo(file->position() + entry.packedSize)) break;
    }
    return paths;
}

// Packing folders: folder members only for folders that hold no member (a
// second run over the output then meets no folder member that exists), the
// method and header level as asked, and a summary line.
TEST_F(CliMake, PacksFoldersWithTheChosenMethodAndOnlyEmptyFolders) {
    fs::create_directories(root_ / "tree/full/deeper");
    fs::create_directories(root_ / "tree/empty");
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i % 300) + " of the text\n";
    writeFile(root_ / "tree/full/deeper/t.txt", Bytes(text.begin(), text.end()));
    writeFile(root_ / "tree/a.txt", Bytes{'a'});
    ASSERT_EQ(make({"--no-settings"}, "tree"), 0) << errors();
    const std::vector<std::string> expected = {"tree/a.txt -lh0-", "tree/empty/ -lhd-",
                                               "tree/full/deeper/t.txt -lh7-"};
    EXPECT_EQ(memberPaths(root_ / "out.exe"), expected);
    EXPECT_NE(
        output().find("out.exe: 3 members, " + std::to_string(text.size() + 1) + " bytes in, " +
                      std::to_string(fs::file_size(root_ / "out.exe")) + " bytes out"),
        std::string::npos)
        << output();
    ASSERT_EQ(make({"--no-settings", "--method", "lh5", "--level", "1"}, "tree"), 0) << errors();
    EXPECT_EQ(memberPaths(root_ / "out.exe")[2], "tree/full/deeper/t.txt -lh5-");
    EXPECT_EQ(readFile(root_ / "out.exe")[PayloadOffset + 1 + 20], 1);  // the header level
    // The maximum effort: never a larger file, and one that tests whole.
    const uintmax_t normal = fs::file_size(root_ / "out.exe");
    ASSERT_EQ(make({"--no-settings", "--method", "lh5", "--level", "1", "--effort", "max"}, "tree"),
              0)
        << errors();
    EXPECT_LE(fs::file_size(root_ / "out.exe"), normal);
    EXPECT_EQ(tool("test out.exe"), 0) << errors();
    EXPECT_EQ(make({"--effort", "max"}), 2);  // an archive is taken as it is
    // pack keeps every folder member, and says what it wrote.
    ASSERT_EQ(tool("pack p.lzh tree"), 0) << errors();
    EXPECT_NE(output().find("p.lzh: 6 members"), std::string::npos) << output();
}

// make --config: a TOML file with the options' names as keys makes the same
// file as the options on the command line; the command line overrides it;
// its mistakes are named with the file and line.
TEST_F(CliMake, AConfigFileMakesTheSameFileAsTheCommandLine) {
    fs::create_directories(root_ / "tree/bin");
    writeFile(root_ / "tree/bin/tool.exe", Bytes{'M', 'Z'});
    writeFile(root_ / "tree/readme.txt", Bytes{'r'});
    ASSERT_EQ(tool("make -o cli.exe --stub stub.exe --title 'My Tool' --destination 'C:\\Tools\\My "
                   "Tool' --program-files --main-file 'tree\\bin\\tool.exe' --start-menu checked "
                   "--desktop 2 --open tree/readme.txt --link-name 'My Tool' --method lh6 "
                   "--level 1 tree"),
              0)
        << errors();
    fs::create_directories(root_ / "release");
    const std::string config = R"(# The release's settings
output = "../config.exe"
stub = "../stub.exe"
sources = ["../tree"]
title = "My Tool"
destination = 'C:\Tools\My Tool'
program-files = true
main-file = 'tree\bin\tool.exe'
start-menu = "checked"
desktop = 2
open = "tree/readme.txt"
link-name = "My Tool"
method = "lh6"
level = 1
force = false
)";
    writeFile(root_ / "release/qorn.toml", Bytes(config.begin(), config.end()));
    ASSERT_EQ(tool("make --config release/qorn.toml"), 0) << errors();
    EXPECT_EQ(readFile(root_ / "config.exe"), readFile(root_ / "cli.exe"));

    // The command line wins over the file.
    ASSERT_EQ(tool("make --config release/qorn.toml --title Other -o other.exe"), 0) << errors();
    ReadBack r = readBack(root_ / "other.exe");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.settings.title, u"Other");
    EXPECT_EQ(r.settings.linkName, u"My Tool");

    struct Case {
        std::string text, message;
    } bad[] = {
        {"output = \"x.exe\"\ntilte = \"X\"\n",
         "bad.toml:2: unknown key \"tilte\" (did you "
         "mean title?)"},
        {"program-files = \"yes\"\n", "bad.toml:1: program-files takes true or false"},
        {"title = 3.5\n", "bad.toml:1: title takes a text"},
        {"desktop = \"sometimes\"\n", "--desktop: takes off, offered, forced or checked"},
        {"title = \"unterminated\n", "bad.toml:1:"},
        {"[settings]\ntitle = \"X\"\n", "unknown key \"settings\""},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.text);
        writeFile(root_ / "release/bad.toml", Bytes(c.text.begin(), c.text.end()));
        EXPECT_EQ(tool("make -o bad.exe --config release/bad.toml a.lzh"), 2);
        EXPECT_NE(errors().find(c.message), std::string::npos) << errors();
        EXPECT_FALSE(fs::exists(root_ / "bad.exe"));
        EXPECT_FALSE(fs::exists(root_ / "release/bad.exe"));
    }
    EXPECT_EQ(tool("make -o bad.exe --config release/missing.toml a.lzh"), 1);
}

// --sign-cmd runs on the complete file ({} its path, quoted), and the
// signed file is tested before it takes the output's name: a signature
// appended after the end mark passes; a command that fails, or one that
// changes the payload, leaves no output.
TEST_F(CliMake, SignsTheFinishedFileAndTestsWhatWasSigned) {
    fs::create_directories(root_ / "dir with 'quote");
    const std::string appendSignature = "printf SIGNATURE >> {}";
    ASSERT_EQ(
        make({"--sign-cmd", appendSignature, "-o", (root_ / "dir with 'quote/s.exe").string()}), 0)
        << errors();
    const Bytes signedFile = readFile(root_ / "dir with 'quote/s.exe");
    ASSERT_GT(signedFile.size(), 9u);
    EXPECT_EQ(std::string(signedFile.end() - 9, signedFile.end()), "SIGNATURE");
    EXPECT_NE(output().find("signed and tested: 9 bytes of signature after the archive"),
              std::string::npos)
        << output();

    EXPECT_EQ(make({"--sign-cmd", "false {}"}), 1);
    EXPECT_NE(errors().find("the signing command failed (status 1)"), std::string::npos);
    EXPECT_FALSE(fs::exists(root_ / "out.exe"));
    // A member's byte changed: the payload is no longer what was written.
    EXPECT_EQ(make({"--sign-cmd", "printf X | dd of={} bs=1 seek=45090 conv=notrunc 2>/dev/null"}),
              1);
    EXPECT_NE(errors().find("no longer holds the settings and the archive"), std::string::npos)
        << errors();
    // A member header appended after the end mark: the stub would never read
    // it, and make says so.
    const std::string member = "printf '\\033\\000-lh0-' >> {}; head -c 60 /dev/zero >> {}";
    EXPECT_EQ(make({"--sign-cmd", member}), 1);
    EXPECT_NE(errors().find("signed file: the end mark"), std::string::npos) << errors();
    EXPECT_EQ(make({"--sign-cmd", "true"}), 2);
    EXPECT_NE(errors().find("--sign-cmd has no {}"), std::string::npos);
    EXPECT_FALSE(fs::exists(root_ / "out.exe"));
    EXPECT_FALSE(fs::exists(root_ / "out.exe.part"));
}

}  // namespace
}  // namespace qorn
