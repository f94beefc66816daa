// The extraction worker, run on the test thread over real and hand-made
// archives in a fresh destination that is the current directory.
#include "extract/extraction_worker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "decode/decode_session.h"
#include "extract/entry_paths.h"
#include "platform/platform.h"
#include "tests/support/corpus.h"
#include "tests/support/run_recorder.h"

namespace qorn {
namespace {

namespace fs = std::filesystem;
using extract_test::archiveBytes;
using extract_test::RunRecorder;
using extract_test::TestMember;

std::u16string u16(const std::string& text) {
    WideString w = platform::fromUtf8(text.c_str());
    return w.c_str();
}

std::string utf8(const std::u16string& text) {
    char buffer[8192];
    platform::toUtf8(text.c_str(), buffer, sizeof buffer);
    return buffer;
}

std::string fileText(const std::string& path) {
    std::vector<uint8_t> bytes = corpus::readAll(path);
    return std::string(bytes.begin(), bytes.end());
}

// Seconds since 1970 for "YYYY-MM-DDTHH:MM:SSZ", counted here in 64 bits
// rather than by the C library, whose time_t may be 32-bit (and then has no
// 2098 to compare with); false for another text.
bool parseUtc(const std::string& text, int64_t& seconds) {
    int y, mo, d, h, mi, s;
    char z;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &z) != 7 ||
        z != 'Z' || mo < 1 || mo > 12)
        return false;
    // Days from 1970-01-01 to y-mo-d in the proleptic Gregorian calendar,
    // with the year counted from March so that a leap day ends it.
    const int64_t ym = mo <= 2 ? y - 1 : y;
    const int64_t era = (ym >= 0 ? ym : ym - 399) / 400;
    const int64_t yoe = ym - era * 400;
    const int64_t doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    seconds = days * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

class ExtractionWorker : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        keepRunning.store(1);
        root_ = corpus::makeTempFolder();
        dest_ = root_ + "/dest";
        fs::create_directory(dest_);
        previous_ = fs::current_path();
        ASSERT_EQ(chdir(dest_.c_str()), 0);
    }
    void TearDown() override {
        keepRunning.store(1);
        ASSERT_EQ(chdir(previous_.c_str()), 0);
        fs::remove_all(root_);
    }

    // Runs the worker to its end on this thread over the archive file.
    void runFile(const std::string& archive) {
        recorder_ = std::make_unique<RunRecorder>();
        if (configure_) configure_(*recorder_);
        payload_.reset(BinaryFile::openForReading(u16(archive).c_str()));
        ASSERT_TRUE(payload_);
        job_ = std::make_unique<ExtractionJob>();
        job_->payloadFile = payload_.get();
        job_->destinationFolder = WideString(u"C:\\dest");
        job_->reporter = recorder_.get();
        extractionWorker(job_.get());
        EXPECT_EQ(recorder_->runEndedCalls, 1);
    }
    void run(const std::vector<TestMember>& members, bool endMark = true) {
        const std::string archive = root_ + "/archive.lzh";
        corpus::writeAll(archive, archiveBytes(members, endMark));
        runFile(archive);
    }
    std::u16string damagedBox(const std::string& path) {
        return u"ファイル " + u16(path) + u" が壊れています。";
    }

    std::string root_, dest_, previous_;
    std::unique_ptr<RunRecorder> recorder_;
    std::unique_ptr<BinaryFile> payload_;
    std::unique_ptr<ExtractionJob> job_;
    std::function<void(RunRecorder&)> configure_;
};

bool decodable(const std::string& method) {
    char id[5] = {};
    method.copy(id, 5);
    return method.size() == 5 && methodOf(id) != Method::Unknown;
}

TEST_F(ExtractionWorker, CorpusArchivesLandWithTheirContentAndTime) {
    int archivesRun = 0, filesChecked = 0, foldersChecked = 0, skipped = 0;
    for (const std::string& archive : corpus::archives()) {
        const std::vector<corpus::Member> members = corpus::membersOf(archive);
        bool usable = true;
        for (const corpus::Member& m : members)
            if (m.size > 4000000 || m.status != "ok" || m.type == "dir-stored-as-lh0")
                usable = false;
        if (!usable) continue;
        SCOPED_TRACE(archive);
        const std::string out = root_ + "/c" + std::to_string(archivesRun++);
        fs::create_directory(out);
        ASSERT_EQ(chdir(out.c_str()), 0);
        runFile(corpus::folder() + "/" + archive);
        EXPECT_FALSE(job_->failed);
        EXPECT_FALSE(recorder_->endedAborted);
        // Archivers that store a folder after its files get the folder warning.
        for (const RunRecorder::Box& box : recorder_->boxes)
            EXPECT_NE(box.text.find(kTextFolderExists), std::u16string::npos) << utf8(box.text);
        EXPECT_TRUE(job_->currentFile.isEmpty());
        EXPECT_EQ(recorder_->started.size(), members.size());

        // A path stored twice ends up with its last member.
        std::map<std::u16string, const corpus::Member*> last;
        for (const corpus::Member& m : members) {
            WideString path(u16(m.path).c_str());
            sanitizeEntryPath(path);
            last[path.c_str()] = &m;
        }
        for (const auto& [path, m] : last) {
            const std::string onDisk = out + "/" + utf8(path);
            const bool ascii =
                m->path.find_first_of("\x80\xff") == std::string::npos &&
                std::all_of(m->path.begin(), m->path.end(), [](char c) { return c > 0; });
            if (!ascii) {
                // Names in other code pages read differently here; the content
                // must still be somewhere in the tree.
                if (m->type == "file" && decodable(m->method) && !m->sha256.empty()) {
                    bool found = false;
                    for (const auto& f : fs::recursive_directory_iterator(out))
                        if (f.is_regular_file() &&
                            corpus::sha256(corpus::readAll(f.path().string())) == m->sha256)
                            found = true;
                    EXPECT_TRUE(found) << m->path;
                    ++filesChecked;
                }
                continue;
            }
            if (!decodable(m->method)) {
                EXPECT_FALSE(fs::exists(onDisk)) << m->path;
                ++skipped;
            } else if (m->type == "symlink") {
                EXPECT_FALSE(fs::is_symlink(onDisk)) << m->path;
                ++skipped;
            } else if (m->type == "dir") {
                EXPECT_TRUE(fs::is_directory(onDisk)) << m->path;
                ++foldersChecked;
            } else if (!m->sha256.empty()) {
                // stat() of this build, not std::filesystem's: the C++
                // library of a 32-bit system was built with a 32-bit time_t
                // and cannot tell the type of a file of 2098.
                struct stat st;
                ASSERT_EQ(stat(onDisk.c_str(), &st), 0) << m->path;
                ASSERT_TRUE(S_ISREG(st.st_mode)) << m->path;
                EXPECT_EQ(corpus::sha256(corpus::readAll(onDisk)), m->sha256) << m->path;
                int64_t expected = 0;
                if (!m->mtimeUtc.empty()) {
                    ASSERT_TRUE(parseUtc(m->mtimeUtc, expected)) << m->mtimeUtc;
                    EXPECT_EQ(static_cast<int64_t>(st.st_mtime), expected) << m->path;
                }
                ++filesChecked;
            }
        }
    }
    std::printf("corpus: %d archives, %d files, %d folders verified, %d passed over\n", archivesRun,
                filesChecked, foldersChecked, skipped);
    EXPECT_GT(filesChecked, 100);
    EXPECT_GT(foldersChecked, 10);
}

TEST_F(ExtractionWorker, ReportsEachMemberAndTheShellPaths) {
    run({{"-lhd-", "docs/"}, {"-lh0-", "docs/a.txt", "alpha"}, {"-lh0-", "b\\c.txt", "beta"}});
    EXPECT_FALSE(job_->failed);
    EXPECT_EQ(fileText("docs/a.txt"), "alpha");
    EXPECT_EQ(fileText("b/c.txt"), "beta");
    EXPECT_EQ(recorder_->started,
              (std::vector<std::u16string>{u"docs/", u"docs/a.txt", u"b\\c.txt"}));
    EXPECT_EQ(recorder_->created,
              (std::vector<std::u16string>{u"C:\\dest\\docs\\", u"C:\\dest\\docs\\a.txt",
                                           u"C:\\dest\\b\\c.txt"}));
    EXPECT_FALSE(recorder_->positions.empty());
    EXPECT_GE(recorder_->positions.back(), 100u);
}

// Members too small to fill a dictionary still move the bar, one step each,
// and it is full when the last one is done.
TEST_F(ExtractionWorker, TheBarMovesForSmallCompressedMembers) {
    const std::string tree = root_ + "/small";
    fs::create_directories(tree);
    for (int i = 0; i < 60; ++i)
        corpus::writeAll(tree + "/f" + std::to_string(i) + ".txt",
                         corpus::Bytes(200, static_cast<uint8_t>('a' + i % 26)));
    const std::string archive = root_ + "/small.lzh";
    const std::string command = std::string(QORN_TOOL) + " pack '" + archive + "' '" + tree +
                                "' --method lh5 >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    runFile(archive);
    EXPECT_FALSE(job_->failed);
    const std::vector<uint32_t>& at = recorder_->positions;
    EXPECT_GE(at.size(), 50u);
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
    ASSERT_FALSE(at.empty());
    EXPECT_EQ(at.back(), 100u);
}

TEST_F(ExtractionWorker, ShellPathsUseTheCurrentDirectoryWhenNoFolderIsGiven) {
    const std::string archive = root_ + "/archive.lzh";
    corpus::writeAll(archive, archiveBytes({{"-lh0-", "x/y.txt", "y"}}));
    RunRecorder recorder;
    std::unique_ptr<BinaryFile> payload(BinaryFile::openForReading(u16(archive).c_str()));
    ExtractionJob job;
    job.payloadFile = payload.get();
    job.destinationFolder = WideString(u"D:\\out\\");
    job.reporter = &recorder;
    extractionWorker(&job);
    ASSERT_EQ(recorder.created.size(), 1u);
    EXPECT_EQ(recorder.created[0], u"D:\\out\\x\\y.txt");

    payload.reset(BinaryFile::openForReading(u16(archive).c_str()));
    job.payloadFile = payload.get();
    job.destinationFolder.clear();
    recorder.created.clear();
    extractionWorker(&job);
    ASSERT_EQ(recorder.created.size(), 1u);
    EXPECT_EQ(recorder.created[0], u16(dest_) + u"\\x\\y.txt");
}

TEST_F(ExtractionWorker, CurrentFileNamesOnlyTheMemberBeingWritten) {
    std::vector<std::u16string> seen;
    configure_ = [&](RunRecorder& r) {
        r.onProgress = [&](uint32_t) { seen.push_back(job_->currentFile.c_str()); };
    };
    run({{"-lh0-", "/first.bin", std::string(100000, 'a')},
         {"-lh0-", "second.bin", std::string(100000, 'b')}});
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), u"first.bin");  // the cleaned path
    // The step each member's end adds comes when no file is being written.
    seen.erase(std::remove(seen.begin(), seen.end(), u""), seen.end());
    EXPECT_EQ(seen.back(), u"second.bin");
    for (const std::u16string& s : seen) EXPECT_TRUE(s == u"first.bin" || s == u"second.bin");
    EXPECT_TRUE(job_->currentFile.isEmpty());
}

TEST_F(ExtractionWorker, CrcMismatchStopsAfterTheDamagedMember) {
    TestMember bad{"-lh0-", "two.txt", "second"};
    bad.badCrc = true;
    run({{"-lh0-", "one.txt", "first"}, bad, {"-lh0-", "three.txt", "third"}});
    EXPECT_TRUE(job_->failed);
    EXPECT_EQ(job_->failureStatus, kExitSwitchDamaged);
    EXPECT_FALSE(recorder_->endedAborted);
    EXPECT_EQ(fileText("one.txt"), "first");
    EXPECT_EQ(fileText("two.txt"), "second");  // kept for the user to look at
    EXPECT_FALSE(fs::exists("three.txt"));
    ASSERT_EQ(recorder_->boxes.size(), 1u);
    EXPECT_EQ(recorder_->boxes[0].text, damagedBox("two.txt"));
    EXPECT_EQ(recorder_->boxes[0].owner, BoxOwner::MainWindow);
    EXPECT_FALSE(recorder_->boxes[0].hasCaption);
    EXPECT_EQ(recorder_->boxes[0].flags, kBoxIconWarning);
    EXPECT_EQ(recorder_->created.size(), 1u);
    EXPECT_TRUE(job_->currentFile.isEmpty());
}

TEST_F(ExtractionWorker, DamageWithoutCrcIsFoundThroughTheDecoder) {
    // No CRC in the header: the content is taken as it is...
    TestMember plain{"-lh0-", "nocrc.txt", "anything", 0};
    plain.withCrc = false;
    plain.stamp = 0;
    // ...but sizes that contradict each other are damage all the same.
    TestMember mismatch{"-lh0-", "short.txt", "cut", 0};
    mismatch.withCrc = false;
    mismatch.originalSizeDelta = 5;
    run({plain, mismatch});
    EXPECT_EQ(fileText("nocrc.txt"), "anything");
    EXPECT_TRUE(job_->failed);
    ASSERT_EQ(recorder_->boxes.size(), 1u);
    EXPECT_EQ(recorder_->boxes[0].text, damagedBox("short.txt"));
}

TEST_F(ExtractionWorker, DamagedTextCutsALongPathAndKeepsTheSentence) {
    std::string deep;
    for (int i = 0; i < 60; ++i) deep += "folder" + std::to_string(i) + "/";
    TestMember bad{"-lh0-", deep + "name.txt", "data"};
    bad.badCrc = true;
    run({bad});
    ASSERT_EQ(recorder_->boxes.size(), 1u);
    const std::u16string& text = recorder_->boxes[0].text;
    EXPECT_LE(text.size(), 255u);
    EXPECT_EQ(text.rfind(u"ファイル ", 0), 0u);
    EXPECT_NE(text.find(u"/name.txt が壊れています。"), std::u16string::npos);
}

// A folder whose packed size runs past the end of the file is damage, and
// its box calls it a folder (a link, stored by the folder method, too); a
// member of an unknown method keeps the file's wording.
TEST_F(ExtractionWorker, AFolderPastTheEndIsCalledAFolder) {
    runFile(std::string(QORN_TEST_DATA) + "/hostile/size-folder-one-past.lzh");
    EXPECT_TRUE(job_->failed);
    EXPECT_EQ(job_->failureStatus, kExitSwitchDamaged);
    ASSERT_EQ(recorder_->boxes.size(), 1u);
    EXPECT_EQ(recorder_->boxes[0].text, u"フォルダ d が壊れています。");

    corpus::Bytes link = corpus::level2("-lhd-", 100, 0, 0, 0, {{0x01, corpus::text("ln|t")}});
    corpus::writeAll(root_ + "/link.lzh", link);
    runFile(root_ + "/link.lzh");
    ASSERT_EQ(recorder_->boxes.size(), 1u);
    EXPECT_EQ(recorder_->boxes[0].text, u"フォルダ ln_t が壊れています。");

    corpus::Bytes unknown = corpus::level2("-pm2-", 100, 0, 0, 0, {{0x01, corpus::text("p")}});
    corpus::writeAll(root_ + "/unknown.lzh", unknown);
    runFile(root_ + "/unknown.lzh");
    ASSERT_EQ(recorder_->boxes.size(), 1u);
    EXPECT_EQ(recorder_->boxes[0].text, damagedBox("p"));
}

TEST_F(ExtractionWorker, UnknownMethodsAndLinksArePassedOver) {
    run({{"-pm2-", "packed.bin", "xxxx"}, {"-lhd-", "link|/etc"}, {"-lh0-", "after.txt", "after"}});
    EXPECT_FALSE(job_->failed);
    EXPECT_FALSE(fs::exists("packed.bin"));
    EXPECT_FALSE(fs::exists("link|"));
    EXPECT_FALSE(fs::exists("link"));
    EXPECT_EQ(fileText("after.txt"), "after");
    EXPECT_EQ(recorder_->started.size(), 3u);
    EXPECT_EQ(recorder_->created.size(), 3u);
    EXPECT_TRUE(recorder_->boxes.empty());
}

TEST_F(ExtractionWorker, AnUnreadableHeaderFailsTheRun) {
    corpus::Bytes bytes = archiveBytes({{"-lh0-", "ok.txt", "fine"}}, false);
    const corpus::Bytes broken = corpus::level01(0, "-lh0-", 0, 0, 0, "x", {});
    bytes.insert(bytes.end(), broken.begin(), broken.begin() + 10);  // cut inside the header
    corpus::writeAll(root_ + "/cut.lzh", bytes);
    runFile(root_ + "/cut.lzh");
    EXPECT_EQ(fileText("ok.txt"), "fine");
    EXPECT_TRUE(job_->failed);
    EXPECT_EQ(job_->failureStatus, kExitSwitchDamaged);
    EXPECT_FALSE(recorder_->endedAborted);
    ASSERT_EQ(recorder_->boxes.size(), 1u);
    EXPECT_EQ(recorder_->boxes[0].text, u"Unknown header");
}

TEST_F(ExtractionWorker, AnArchiveWithoutEndMarkEndsCleanly) {
    run({{"-lh0-", "a.txt", "a"}}, false);
    EXPECT_FALSE(job_->failed);
    EXPECT_EQ(fileText("a.txt"), "a");
}

TEST_F(ExtractionWorker, SecondRunWarnsPerFolderAndReplacesFiles) {
    const std::vector<TestMember> members = {
        {"-lhd-", "top/"}, {"-lhd-", "top/inner/"}, {"-lh0-", "top/inner/f.txt", "fresh"}};
    run(members);
    ASSERT_FALSE(job_->failed);
    corpus::writeAll("top/inner/f.txt", {'o', 'l', 'd', '!', '!', '!'});
    run(members);
    EXPECT_FALSE(job_->failed);
    EXPECT_EQ(fileText("top/inner/f.txt"), "fresh");
    ASSERT_EQ(recorder_->boxes.size(), 2u);
    EXPECT_EQ(recorder_->boxes[0].text, u"top " + std::u16string(kTextFolderExists));
    EXPECT_EQ(recorder_->boxes[1].text, u"top/inner " + std::u16string(kTextFolderExists));
    EXPECT_EQ(recorder_->boxes[1].owner, BoxOwner::MainWindow);
    EXPECT_EQ(recorder_->boxes[1].flags, kBoxIconWarning);
}

TEST_F(ExtractionWorker, AFileThatCannotBeReplacedStopsTheRun) {
    // A folder where the file should go: warned about, then not replaceable.
    fs::create_directory("taken");
    run({{"-lh0-", "taken", "data"}, {"-lh0-", "later.txt", "later"}});
    EXPECT_TRUE(job_->failed);
    EXPECT_EQ(job_->failureStatus, kExitSwitchCannotCreate);
    EXPECT_FALSE(fs::exists("later.txt"));
    ASSERT_EQ(recorder_->boxes.size(), 2u);
    EXPECT_EQ(recorder_->boxes[0].text, u"taken " + std::u16string(kTextFolderExists));
    EXPECT_EQ(recorder_->boxes[1].owner, BoxOwner::None);  // the system's text, no owner
    EXPECT_EQ(recorder_->boxes[1].flags, kBoxIconWarning);
    EXPECT_TRUE(job_->currentFile.isEmpty());
}

// Windows can neither delete nor overwrite a read-only file. The POSIX
// counterpart is a read-only file in a read-only folder, which stops every
// user but root: the check runs in a child that gives up root first.
TEST_F(ExtractionWorker, AReadOnlyFileStopsTheRun) {
    GTEST_FLAG_SET(death_test_style, "fast");
    corpus::writeAll("locked.txt", {'o', 'l', 'd'});
    corpus::writeAll(root_ + "/archive.lzh",
                     archiveBytes({{"-lh0-", "locked.txt", "new"}, {"-lh0-", "x.txt", "x"}}));
    ASSERT_EQ(chmod("locked.txt", 0444), 0);
    ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
    ASSERT_EQ(chmod(dest_.c_str(), 0555), 0);
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
            runFile(root_ + "/archive.lzh");
            const bool stopped = job_->failed && recorder_->boxes.size() == 1 &&
                                 recorder_->boxes[0].owner == BoxOwner::None &&
                                 fileText("locked.txt") == "old" && !fs::exists("x.txt");
            _exit(stopped ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "");
    ASSERT_EQ(chmod(dest_.c_str(), 0755), 0);
}

TEST_F(ExtractionWorker, AFileWhereAFolderMustGoStopsTheRun) {
    corpus::writeAll("blocked", {'x'});
    run({{"-lh0-", "blocked/inside.txt", "data"}});
    EXPECT_TRUE(job_->failed);
    EXPECT_EQ(job_->failureStatus, kExitSwitchCannotCreate);
    EXPECT_EQ(fileText("blocked"), "x");
    ASSERT_EQ(recorder_->boxes.size(), 1u);
    EXPECT_EQ(recorder_->boxes[0].owner, BoxOwner::None);
    // A folder member that cannot be made fails the same way.
    run({{"-lhd-", "blocked/sub/"}, {"-lh0-", "later.txt", "later"}});
    EXPECT_TRUE(job_->failed);
    EXPECT_EQ(job_->failureStatus, kExitSwitchCannotCreate);
    EXPECT_FALSE(fs::exists("later.txt"));
}

TEST_F(ExtractionWorker, ANameTooLongFailsThatMemberOnly) {
    run({{"-lh0-", std::string(300, 'n') + ".txt", "data"}});
    EXPECT_TRUE(job_->failed);
    EXPECT_EQ(recorder_->runEndedCalls, 1);
    ASSERT_EQ(recorder_->boxes.size(), 1u);
    EXPECT_EQ(recorder_->boxes[0].owner, BoxOwner::None);
}

TEST_F(ExtractionWorker, AbortWhileWritingDeletesThatFileOnly) {
    configure_ = [&](RunRecorder& r) {
        r.onProgress = [&](uint32_t) {
            if (job_->currentFile == u"big.bin") keepRunning.store(0);
        };
    };
    run({{"-lh0-", "small.txt", "small"},
         {"-lh0-", "big.bin", std::string(300000, 'z')},
         {"-lh0-", "never.txt", "never"}});
    EXPECT_TRUE(recorder_->endedAborted);
    EXPECT_TRUE(job_->failed);
    EXPECT_EQ(fileText("small.txt"), "small");
    EXPECT_FALSE(fs::exists("big.bin"));
    EXPECT_FALSE(fs::exists("never.txt"));
    // Still named, so that the window's own delete finds the same file.
    EXPECT_EQ(job_->currentFile, u"big.bin");
}

TEST_F(ExtractionWorker, AbortAfterTheLastFileKeepsIt) {
    configure_ = [&](RunRecorder& r) {
        r.onItemCreated = [&](const std::u16string&) { keepRunning.store(0); };
    };
    run({{"-lh0-", "complete.txt", "complete"}});
    EXPECT_TRUE(recorder_->endedAborted);
    EXPECT_TRUE(job_->currentFile.isEmpty());  // nothing for the window to delete
    EXPECT_EQ(fileText("complete.txt"), "complete");
}

TEST_F(ExtractionWorker, AbortAmongFoldersIsSeenBeforeTheNextMember) {
    configure_ = [&](RunRecorder& r) {
        r.onMemberStarted = [&](const std::u16string& path) {
            if (path == u"d2/") keepRunning.store(0);
        };
    };
    run({{"-lhd-", "d1/"}, {"-lhd-", "d2/"}, {"-lhd-", "d3/"}, {"-lh0-", "f.txt", "f"}});
    EXPECT_TRUE(recorder_->endedAborted);
    EXPECT_TRUE(job_->failed);
    EXPECT_TRUE(fs::is_directory("d2"));
    EXPECT_FALSE(fs::exists("d3"));
    EXPECT_EQ(recorder_->started.size(), 2u);
}

TEST_F(ExtractionWorker, HostileNamesStayInsideTheDestination) {
    TestMember dos{"-lh0-", "..\\..\\evil.txt", "level0", 0};
    dos.stamp = 0;
    run({dos, {"-lh0-", "C://tmp/evil2.txt", "level2"}, {"-lh0-", "\\\\srv\\s\\x", "unc"}});
    EXPECT_FALSE(job_->failed);
    EXPECT_EQ(fileText("evil.txt"), "level0");
    EXPECT_EQ(fileText("tmp/evil2.txt"), "level2");
    EXPECT_EQ(fileText("srv/s/x"), "unc");
    EXPECT_FALSE(fs::exists(root_ + "/evil.txt"));
}

// A full disk ends the process with status 1 and leaves what was written.
TEST_F(ExtractionWorker, DiskFullEndsTheProcessWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            platform::faults().failWriteAfterBytes = 1000;
            run({{"-lh0-", "full.bin", std::string(50000, 'f')}});
        },
        ::testing::ExitedWithCode(1), "");
    ASSERT_TRUE(fs::exists("full.bin"));
    EXPECT_EQ(fs::file_size("full.bin"), 1000u);
}

}  // namespace
}  // namespace qorn
