// The settings block: defaults, every cut-short boundary, destination resolution.
#include "payload/sfx_settings.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/corpus.h"
#include "tests/support/header_bytes.h"

namespace qorn {
namespace {

using corpus::Bytes;

void putString(Bytes& b, const std::u16string& s) {
    b.push_back(static_cast<uint8_t>(s.size()));
    for (char16_t c : s) corpus::put16(b, c);
}

// A full block; `boundaries` collects the offset after every field.
Bytes fullBlock(std::vector<size_t>* boundaries = nullptr, const std::u16string& title = u"題名",
                const std::u16string& destination = u"C:\\Qorn", uint8_t base = 0) {
    Bytes b;
    auto mark = [&] {
        if (boundaries) boundaries->push_back(b.size());
    };
    b.push_back(1);
    mark();
    putString(b, title);
    mark();
    b.push_back(base);
    mark();
    putString(b, destination);
    mark();
    putString(b, u"bin\\app.exe");
    mark();
    b.push_back(0x03);
    mark();
    b.push_back(0x02);
    mark();
    b.push_back(0x01);
    mark();
    putString(b, u"readme.txt");
    mark();
    putString(b, u"Qorn App");
    return b;
}

bool readBlock(const Bytes& bytes, SfxSettings& s, int64_t* position = nullptr) {
    static const std::string dir = corpus::makeTempFolder();
    const std::string path = dir + "/settings";
    corpus::writeAll(path, bytes);
    BinaryFile* f = BinaryFile::openForReading(platform::fromUtf8(path.c_str()).c_str());
    bool ok = readSettings(*f, s);
    if (position) *position = f->position();
    delete f;
    return ok;
}

TEST(SfxSettings, NoSettingsGiveTheDefaults) {
    SfxSettings s;
    int64_t at = 0;
    ASSERT_TRUE(readBlock({0, 0x55}, s, &at));
    EXPECT_FALSE(s.present);
    EXPECT_TRUE(s.title == u"Qorn SFX");
    EXPECT_TRUE(s.destination == platform::currentDirectory().c_str());
    EXPECT_TRUE(s.mainFile.isEmpty());
    EXPECT_EQ(s.startMenuOptions | s.desktopOptions | s.sendToOptions, 0);
    EXPECT_EQ(at, 1);  // the archive starts at the next byte
}

TEST(SfxSettings, FullBlockAndEveryCutFails) {
    std::vector<size_t> boundaries;
    Bytes block = fullBlock(&boundaries, u"題名", u"/opt/qorn");
    SfxSettings s;
    int64_t at = 0;
    ASSERT_TRUE(readBlock(block, s, &at));
    EXPECT_TRUE(s.present);
    EXPECT_TRUE(s.title == u"題名");
    EXPECT_TRUE(s.destination == u"/opt/qorn");  // has a root: used as it is
    EXPECT_TRUE(s.mainFile == u"bin\\app.exe");
    EXPECT_EQ(s.startMenuOptions, 0x03);
    EXPECT_EQ(s.desktopOptions, 0x02);
    EXPECT_EQ(s.sendToOptions, 0x01);
    EXPECT_TRUE(s.openFile == u"readme.txt");
    EXPECT_TRUE(s.linkName == u"Qorn App");
    EXPECT_EQ(at, static_cast<int64_t>(block.size()));
    // Cut at every field boundary and inside every string.
    for (size_t cut = 1; cut < block.size(); ++cut) {
        SfxSettings t;
        EXPECT_FALSE(readBlock(Bytes(block.begin(), block.begin() + cut), t)) << cut;
    }
}

TEST(SfxSettings, EmptyTitleAndDestinationResolution) {
    const WideString cwd = platform::currentDirectory();
    SfxSettings s;
    ASSERT_TRUE(readBlock(fullBlock(nullptr, u"", u""), s));
    EXPECT_TRUE(s.title == u"Qorn SFX");
    EXPECT_TRUE(s.destination == cwd.c_str());

    // No root: under the current directory, or under Program Files with the base flag.
    WideString under = cwd;
    under.append(u"\\Qorn\\App");
    ASSERT_TRUE(readBlock(fullBlock(nullptr, u"t", u"Qorn\\App", 0), s));
    EXPECT_TRUE(s.destination == under.c_str());
    platform::setProgramFilesFolder(u"/pf");
    ASSERT_TRUE(readBlock(fullBlock(nullptr, u"t", u"Qorn", 1), s));
    EXPECT_TRUE(s.destination == u"/pf\\Qorn");
    platform::setProgramFilesFolder(u"/pf\\");
    ASSERT_TRUE(readBlock(fullBlock(nullptr, u"t", u"Qorn", 1), s));
    EXPECT_TRUE(s.destination == u"/pf\\Qorn");  // no second separator
    ASSERT_TRUE(readBlock(fullBlock(nullptr, u"t", u"\\Qorn", 1), s));
    EXPECT_TRUE(s.destination == u"/pf\\\\Qorn");  // a leading backslash is no root
    platform::setProgramFilesFolder(u"");
    ASSERT_TRUE(readBlock(fullBlock(nullptr, u"t", u"Qorn", 1), s));
    EXPECT_TRUE(s.destination == u"\\Qorn");  // an empty base becomes one backslash
    platform::setProgramFilesFolder(nullptr);
}

}  // namespace
}  // namespace qorn
