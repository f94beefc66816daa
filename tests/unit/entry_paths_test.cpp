// Cleaning of member paths, folder and file creation, time stamps.
#include "extract/entry_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/corpus.h"

namespace qorn {
namespace {

namespace fs = std::filesystem;

std::u16string cleaned(const std::u16string& path) {
    WideString text(path.c_str());
    sanitizeEntryPath(text);
    return text.c_str();
}

struct CleaningCase {
    std::u16string in;
    std::u16string out;
};

TEST(SanitizeEntryPath, KeepsTheDocumentedRewrites) {
    const CleaningCase cases[] = {
        {u"/abs/x.txt", u"abs/x.txt"},
        {u"../../x.txt", u"x.txt"},
        {u"a/../b.txt", u"a/b.txt"},
        {u"a/../.cfg", u"a/cfg"},
        {u"C:/data/x.txt", u"data/x.txt"},
        {u"C:x.txt", u"x.txt"},
        {u"file:stream", u"file_stream"},
        {u"./x.txt", u"./x.txt"},
        {u"docs/a.txt", u"docs/a.txt"},
        {u"dir/", u"dir"},
        {u"a\\b\\c.txt", u"a/b/c.txt"},  // MS-DOS level-0 names keep their folders
        {u"日本語/ファイル.txt", u"日本語/ファイル.txt"},
    };
    for (const CleaningCase& c : cases) EXPECT_EQ(cleaned(c.in), c.out) << fs::path(c.in);
}

TEST(SanitizeEntryPath, RemovesEverySpellingOfRootsDrivesAndParents) {
    const CleaningCase cases[] = {
        {u"..\\..\\Windows\\evil.dll", u"Windows/evil.dll"},
        {u"\\x.txt", u"x.txt"},
        {u"\\\\srv\\share\\x.txt", u"srv/share/x.txt"},
        {u"\\\\?\\C:\\Windows\\x.txt", u"Windows/x.txt"},
        {u"\\\\.\\C:\\x.txt", u"x.txt"},
        {u"//?/UNC/srv/x", u"UNC/srv/x"},
        {u"C://Windows/System32/evil.dll", u"Windows/System32/evil.dll"},
        {u"C:///srv/share/x", u"srv/share/x"},
        {u"C:..\\x", u"x"},
        {u"a\\..\\..\\x", u"a/x"},
        {u"a/.. /x", u"a/x"},  // trimmed by Windows into ".."
        {u"a/.. ./x", u"a/x"},
        {u"a/..\uFFFF..\uFFFFx", u"a/x"},
        {u"./../x", u"./x"},
        {u"..", u""},
        {u"/", u""},
        {u"a/b:c/d:", u"a/b_c/d_"},
    };
    for (const CleaningCase& c : cases) EXPECT_EQ(cleaned(c.in), c.out) << fs::path(c.in);
}

TEST(SanitizeEntryPath, DisarmsDeviceNamesAndTrailingDots) {
    const CleaningCase cases[] = {
        {u"CON", u"_CON"},
        {u"nul.txt", u"_nul.txt"},
        {u"a/COM1.log", u"a/_COM1.log"},
        {u"LPT9", u"_LPT9"},
        {u"aux.tar.gz", u"_aux.tar.gz"},
        {u"AUX.", u"_AUX"},
        {u"prn .txt", u"_prn .txt"},
        {u"COM0", u"COM0"},
        {u"CONSOLE", u"CONSOLE"},
        {u"LPT10", u"LPT10"},
        {u"conout$", u"_conout$"},
        {u"COM\u00B9.txt", u"_COM\u00B9.txt"},
        {u"dir./name ", u"dir/name"},
        {u"a/b. . /c", u"a/b/c"},
    };
    for (const CleaningCase& c : cases) EXPECT_EQ(cleaned(c.in), c.out) << fs::path(c.in);
}

// Names that Unix and Mac archivers store freely but Windows cannot create:
// each must come out as a name it accepts, so that one member cannot end
// the run for every member after it.
TEST(SanitizeEntryPath, MakesEveryPartANameWindowsAccepts) {
    const CleaningCase cases[] = {
        {u"what?.txt", u"what_.txt"},
        {u"<a>|\"b\"*.txt", u"_a___b__.txt"},
        {u"tab\there/bell\a.txt", u"tab_here/bell_.txt"},
        {u"esc\x1b[2J\r.txt", u"esc_[2J_.txt"},
        {u"x\x1f\x7f\x80.txt", u"x_\x7f\x80.txt"},  // only below 0x20
        {u".../x.txt", u"x.txt"},
        {u"a/.../.cfg", u"a/cfg"},  // like "..": no hidden file planted
        {u"a/. ./b", u"a/b"},
        {u"a/ /b", u"a/b"},
        {u"....", u""},
        {u"a/./b", u"a/./b"},     // "." stays: it names the folder it is in
        {u"why?./x", u"why_/x"},  // trailing dot trimmed before the mapping
        {u"NUL?.txt", u"NUL_.txt"},
    };
    for (const CleaningCase& c : cases) EXPECT_EQ(cleaned(c.in), c.out) << fs::path(c.in);
}

TEST(SanitizeEntryPath, LongComponentsNeedNoFixedBuffers) {
    std::u16string name(300, u'n');
    std::u16string folder(600, u'f');
    EXPECT_EQ(cleaned(folder + u"/" + name + u".ext"), folder + u"/" + name + u".ext");
}

// Every cleaned hostile name, written with the worker's own file steps, lands
// inside the destination: nothing appears next to it or above it.
TEST(SanitizeEntryPath, HostileNamesLandInsideTheDestination) {
    const std::string root = corpus::makeTempFolder();
    const std::string dest = root + "/a/b/dest";
    fs::create_directories(dest);
    const std::string previous = fs::current_path();
    ASSERT_EQ(chdir(dest.c_str()), 0);
    const std::u16string hostile[] = {
        u"../../../escape1",
        u"..\\..\\..\\escape2",
        u"/tmp/escape3",
        u"\\tmp\\escape4",
        u"C://tmp/escape5",
        u"C:\\\\tmp\\escape6",
        u"\\\\?\\C:\\tmp\\escape7",
        u"\\\\.\\escape8",
        u"\\\\localhost\\share\\escape9",
        u"a/../../../escape10",
        u"a\\..\\..\\..\\escape11",
        u".. /.. /.. /escape12",
        u"..\uFFFF..\uFFFF..\uFFFFescape13",
        u"C:..\\..\\escape14",
        u"./.././../escape15",
    };
    for (const std::u16string& name : hostile) {
        WideString path(name.c_str());
        sanitizeEntryPath(path);
        ASSERT_FALSE(path.isEmpty());
        BinaryFile* file = createOutputFile(path.c_str());
        ASSERT_NE(file, nullptr) << fs::path(name);
        delete file;
    }
    int inside = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const std::string p = entry.path().string();
        EXPECT_EQ(p.rfind(dest + "/", 0), 0u) << p << " is outside " << dest;
        ++inside;
    }
    EXPECT_EQ(inside, static_cast<int>(std::size(hostile)));
    EXPECT_FALSE(fs::exists("/tmp/escape3"));
    ASSERT_EQ(chdir(previous.c_str()), 0);
    fs::remove_all(root);
}

class FileSteps : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = corpus::makeTempFolder();
        previous_ = fs::current_path();
        ASSERT_EQ(chdir(root_.c_str()), 0);
    }
    void TearDown() override {
        platform::faults().failCreateFolder = -1;
        ASSERT_EQ(chdir(previous_.c_str()), 0);
        fs::remove_all(root_);
    }
    std::string root_, previous_;
};

TEST_F(FileSteps, CreateFolderTreeMakesEveryMissingParent) {
    EXPECT_TRUE(createFolderTree(u"a/b/c/"));
    EXPECT_TRUE(fs::is_directory("a/b/c"));
    EXPECT_TRUE(createFolderTree(u"a/b/c"));  // exists: true at once
    EXPECT_TRUE(createFolderTree(u"x\\y\\z"));
    EXPECT_TRUE(fs::is_directory("x/y/z"));
    // A "." part, which the cleaning keeps, names the folder just made.
    EXPECT_TRUE(createFolderTree(u"m/."));
    BinaryFile* file = createOutputFile(u"n/./o.txt");
    EXPECT_NE(file, nullptr);
    delete file;
    EXPECT_TRUE(fs::is_regular_file("n/o.txt"));
}

TEST_F(FileSteps, CreateFolderTreeFailsWhereAFileIsInTheWay) {
    corpus::writeAll("plain", {1, 2, 3});
    EXPECT_FALSE(createFolderTree(u"plain"));
    EXPECT_FALSE(createFolderTree(u"plain/below"));
    EXPECT_NE(platform::lastError(), 0u);
}

TEST_F(FileSteps, CreateFolderTreeReportsAFolderThatCannotBeMade) {
    platform::faults().failCreateFolder = 0;
    EXPECT_FALSE(createFolderTree(u"single"));
    EXPECT_FALSE(fs::exists("single"));
}

TEST_F(FileSteps, CreateOutputFileMakesItsFolderAndReplacesAFile) {
    BinaryFile* file = createOutputFile(u"a/b.txt");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->write("first", 5));
    delete file;
    file = createOutputFile(u"a/b.txt");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->write("2", 1));
    delete file;
    EXPECT_EQ(corpus::readAll("a/b.txt"), std::vector<uint8_t>{'2'});
}

TEST_F(FileSteps, CreateOutputFileFailsCleanlyOnANameTooLong) {
    const std::u16string name = u"d/" + std::u16string(300, u'n');
    EXPECT_EQ(createOutputFile(name.c_str()), nullptr);
    EXPECT_NE(platform::lastError(), 0u);
}

TEST_F(FileSteps, ApplyEntryTimeSetsModificationAndAccessTime) {
    corpus::writeAll("t.txt", {1});
    ArchiveEntry entry;
    entry.modifiedTime = 1262304000;  // 2010-01-01
    applyEntryTime(u"t.txt", entry);
    struct stat st;
    ASSERT_EQ(stat("t.txt", &st), 0);
    EXPECT_EQ(st.st_mtime, 1262304000);
    EXPECT_EQ(st.st_atime, 1262304000);
    entry.modifiedTime = -1;  // no time: ignored, the file keeps what it had
    applyEntryTime(u"t.txt", entry);
    ASSERT_EQ(stat("t.txt", &st), 0);
    EXPECT_EQ(st.st_mtime, 1262304000);
}

}  // namespace
}  // namespace qorn
