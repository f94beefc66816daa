// Faults injected through the POSIX platform layer into whole extraction
// runs: a read that fails at every read of a run, a write that fails inside a
// member, a folder that cannot be made at every folder step, an input buffer
// that cannot be had, and an abort at every event a run reports. Whatever
// the fault, a run ends once, leaves no wrong file without saying so and
// writes nothing outside its destination.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "base/crc16.h"
#include "decode/bit_reader.h"
#include "decode/decode_session.h"
#include "extract/extraction_worker.h"
#include "extract/parallel_decode.h"
#include "platform/platform.h"
#include "tests/support/corpus.h"
#include "tests/support/memory_session.h"
#include "tests/support/run_recorder.h"

namespace qorn {
namespace {

namespace fs = std::filesystem;
using corpus::Bytes;
using extract_test::RunRecorder;

Bytes raw(const char* name) {
    return corpus::readAll(corpus::folder() + "/raw-streams/" + name);
}

// Members of every kind the worker treats apart: a folder, stored data over
// several chunks, Huffman and LZSS streams over several dictionary flushes,
// an empty file. Each file's content, by its path.
struct Sample {
    Bytes archive;
    std::map<std::string, Bytes> files;
};

const Sample& sample() {
    static const Sample s = [] {
        Sample out;
        const Bytes text = raw("lh0.bin");  // what every raw stream decodes to
        Bytes stored(5000);
        for (size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<uint8_t>(i * 7);
        const std::string storedText(stored.begin(), stored.end());
        auto add = [&](const char* method, const std::string& path, const Bytes& data,
                       const Bytes& content, uint16_t crc) {
            Bytes h = corpus::level2(method, static_cast<uint32_t>(data.size()),
                                     static_cast<uint32_t>(content.size()), 0x5A000000, crc,
                                     {{0x01, corpus::text(path)}});
            out.archive.insert(out.archive.end(), h.begin(), h.end());
            out.archive.insert(out.archive.end(), data.begin(), data.end());
            if (method[3] != 'd') out.files[path] = content;
        };
        add("-lhd-", "docs/", {}, {}, 0);
        add("-lh0-", "docs/a.txt", stored, stored, extract_test::referenceCrc16(storedText));
        add("-lh5-", "docs/sub/b.bin", raw("lh5.bin"), text, 0xA33A);
        add("-lh7-", "c.bin", raw("lh7.bin"), text, 0xA33A);
        add("-lh0-", "empty.txt", {}, {}, 0);
        add("-lz5-", "d.bin", raw("lz5.bin"), text, 0xA33A);
        add("-lh1-", "e.bin", raw("lh1.bin"), text, 0xA33A);
        out.archive.push_back(0);
        return out;
    }();
    return s;
}

class FaultInjection : public ::testing::Test {
  protected:
    void SetUp() override {
        keepRunning.store(1);
        root_ = corpus::makeTempFolder();
        archive_ = root_ + "/sample.lzh";
        corpus::writeAll(archive_, sample().archive);
        previous_ = fs::current_path();
    }
    void TearDown() override {
        platform::faults() = platform::Faults();
        keepRunning.store(1);
        ASSERT_EQ(chdir(previous_.c_str()), 0);
        fs::remove_all(root_);
    }

    // One run in a fresh destination inside a fresh parent.
    void run(const std::function<void(RunRecorder&)>& configure = nullptr) {
        keepRunning.store(1);
        const std::string parent = root_ + "/run" + std::to_string(runs_++);
        dest_ = parent + "/dest";
        fs::create_directories(dest_);
        ASSERT_EQ(chdir(dest_.c_str()), 0);
        recorder_ = std::make_unique<RunRecorder>();
        if (configure) configure(*recorder_);
        payload_.reset(BinaryFile::openForReading(platform::fromUtf8(archive_.c_str()).c_str()));
        job_ = std::make_unique<ExtractionJob>();
        job_->payloadFile = payload_.get();
        job_->reporter = recorder_.get();
        extractionWorker(job_.get());
        ASSERT_EQ(chdir(previous_.c_str()), 0);
        EXPECT_EQ(recorder_->runEndedCalls, 1);
        // Nothing beside the destination.
        EXPECT_EQ(std::distance(fs::directory_iterator(parent), fs::directory_iterator()), 1);
    }

    // Every file left is a member's whole content, but for the one a box
    // calls damaged, which may be cut short. Files are made in member order.
    void expectSoundFiles(const std::string& trace) {
        SCOPED_TRACE(trace);
        std::string damaged;
        for (const RunRecorder::Box& box : recorder_->boxes)
            if (box.text.rfind(u"ファイル ", 0) == 0)
                for (const auto& [path, content] : sample().files)
                    if (box.text.find(platform::fromUtf8(path.c_str()).c_str()) !=
                        std::u16string::npos)
                        damaged = path;
        bool missing = false;
        for (const auto& [path, content] : sample().files) {
            (void)content;
            const std::string onDisk = dest_ + "/" + path;
            if (!fs::exists(onDisk)) {
                missing = true;
                continue;
            }
            const Bytes got = corpus::readAll(onDisk);
            if (path == damaged) {
                EXPECT_LE(got.size(), content.size()) << path;
            } else {
                EXPECT_TRUE(got == content) << path << " is not the member's content";
            }
        }
        if (!job_->failed) {
            EXPECT_FALSE(missing);
            EXPECT_TRUE(recorder_->boxes.empty());
        }
        for (const auto& e : fs::recursive_directory_iterator(dest_)) {
            const std::string rel = fs::relative(e.path(), dest_).string();
            EXPECT_TRUE(sample().files.count(rel) || e.is_directory()) << rel;
        }
    }

    std::string root_, archive_, previous_, dest_;
    int runs_ = 0;
    std::unique_ptr<RunRecorder> recorder_;
    std::unique_ptr<BinaryFile> payload_;
    std::unique_ptr<ExtractionJob> job_;
};

TEST_F(FaultInjection, TheSampleExtractsWhole) {
    run();
    EXPECT_FALSE(job_->failed);
    expectSoundFiles("no fault");
}

// The k-th read fails, for every k of a run, with the input buffer whole and
// with one that must be refilled. A failed read in a header ends the run as
// damage, one in a member's data makes it damaged, one while the sizes are
// summed only leaves the bar short. The payload file reads ahead 32 KiB at a
// time, so the 35 KB sample takes two reads a walk: four a run.
TEST_F(FaultInjection, AReadFailsAtEveryReadOfARun) {
    int cases = 0;
    for (uint64_t memory : {0ull, 1000ull}) {
        for (int64_t k = 0;; ++k, ++cases) {
            platform::faults().memoryLimit = memory;
            platform::faults().failReadAfter = k;
            run();
            const bool hit = platform::faults().failReadAfter < 0;
            platform::faults().failReadAfter = -1;
            EXPECT_FALSE(recorder_->endedAborted);
            EXPECT_LE(recorder_->boxes.size(), 1u) << k;
            expectSoundFiles("read " + std::to_string(k) + " memory " + std::to_string(memory));
            if (!hit) break;
        }
    }
    std::printf("read faults: %d runs\n", cases);
    EXPECT_GE(cases, 8);
}

// The k-th folder step fails: the run stops on the system's box with the
// files before it intact. A folder whose first attempt fails is tried again
// once its parents are made, so some failures are got over. (Folders that
// exist are only looked at: "docs" is made once, "docs/sub" once.)
TEST_F(FaultInjection, AFolderFailsAtEveryFolderStep) {
    int stopped = 0, gotOver = 0;
    for (int64_t k = 0;; ++k) {
        platform::faults().failCreateFolder = k;
        run();
        const bool hit = platform::faults().failCreateFolder < 0;
        platform::faults().failCreateFolder = -1;
        expectSoundFiles("folder step " + std::to_string(k));
        if (!hit) break;
        if (!job_->failed) {
            ++gotOver;
            continue;
        }
        ++stopped;
        ASSERT_EQ(recorder_->boxes.size(), 1u) << k;
        EXPECT_EQ(recorder_->boxes[0].owner, BoxOwner::None);
    }
    std::printf("folder faults: %d stopped the run, %d got over\n", stopped, gotOver);
    EXPECT_GE(stopped, 1);
    EXPECT_GE(gotOver, 1);
}

// Abort at the k-th event the run reports (member started, progress, item
// created), for every k: the run ends once as aborted, the file being
// written is gone, every file left is whole, and they are the first ones.
TEST_F(FaultInjection, AbortAtEveryEventOfARun) {
    for (int k = 1;; ++k) {
        int events = 0;
        auto tick = [&] {
            if (++events == k) keepRunning.store(0);
        };
        run([&](RunRecorder& r) {
            r.onMemberStarted = [&](const std::u16string&) { tick(); };
            r.onProgress = [&](uint32_t) { tick(); };
            r.onItemCreated = [&](const std::u16string&) { tick(); };
        });
        if (events < k) {
            EXPECT_FALSE(recorder_->endedAborted);
            std::printf("abort points: %d\n", k - 1);
            EXPECT_GT(k, 20);
            break;
        }
        SCOPED_TRACE("abort at event " + std::to_string(k));
        EXPECT_TRUE(recorder_->endedAborted);
        EXPECT_TRUE(job_->failed);
        EXPECT_TRUE(recorder_->boxes.empty());
        expectSoundFiles("abort");
        if (!job_->currentFile.isEmpty()) {
            char name[1024];
            platform::toUtf8(job_->currentFile.c_str(), name, sizeof name);
            EXPECT_FALSE(fs::exists(dest_ + "/" + name)) << name;
        }
        // No member past the one the abort met was started.
        EXPECT_LE(recorder_->started.size(), recorder_->created.size() + 1);
    }
}

// What the process showed before a failed write ended it.
RunRecorder* g_dying = nullptr;
void tellBoxes(int status) {
    for (const RunRecorder::Box& box : g_dying->boxes)
        std::fprintf(stderr, "status %d box %s %s\n", status,
                     box.owner == BoxOwner::MainWindow ? "main" : "none",
                     box.text == kTextWriteFailed ? "disk-full" : "other");
}

// A write fails inside a member: the disk-full box, status 1, the bytes
// written so far kept, the members before it whole and none after it begun.
TEST_F(FaultInjection, AFailedWriteEndsTheProcessAndKeepsThePartialFile) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const struct {
        const char* member;
        int64_t after;
    } cases[] = {
        {"docs/a.txt", 0},     {"docs/a.txt", 2048},     {"docs/a.txt", 4999},
        {"docs/sub/b.bin", 0}, {"docs/sub/b.bin", 8192}, {"docs/sub/b.bin", 18091},
        {"d.bin", 5000},       {"e.bin", 100},
    };
    // The files in member order.
    const char* const order[] = {"docs/a.txt", "docs/sub/b.bin", "c.bin",
                                 "empty.txt",  "d.bin",          "e.bin"};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.member) + " after " + std::to_string(c.after));
        const std::u16string member = platform::fromUtf8(c.member).c_str();
        EXPECT_EXIT(
            {
                platform::faults().exitHook = tellBoxes;
                run([&](RunRecorder& r) {
                    g_dying = &r;
                    r.onMemberStarted = [&](const std::u16string& path) {
                        if (path == member) platform::faults().failWriteAfterBytes = c.after;
                    };
                });
            },
            ::testing::ExitedWithCode(kExitWriteFailed), "^status 1 box main disk-full\n$");
        // The child's run went to the next run folder.
        dest_ = root_ + "/run" + std::to_string(runs_++) + "/dest";
        ASSERT_TRUE(fs::exists(dest_ + "/" + c.member));
        EXPECT_EQ(fs::file_size(dest_ + "/" + c.member), static_cast<uintmax_t>(c.after));
        bool before = true;
        for (const char* path : order) {
            if (std::string(path) == c.member) {
                before = false;
            } else if (before) {
                EXPECT_TRUE(corpus::readAll(dest_ + "/" + path) == sample().files.at(path)) << path;
            } else {
                EXPECT_FALSE(fs::exists(dest_ + "/" + path)) << path;
            }
        }
    }
}

// The input buffer asks for the member's packed size, at most what is left of
// the file, and halves its request while the memory cannot be had, down to
// min(packed, 4096).
TEST_F(FaultInjection, TheInputBufferHalvesDownToItsFloor) {
    const struct {
        uint64_t packed, refuseAbove, expected;  // expected 0: the load fails
    } cases[] = {
        {100000, 0, 100000},
        {100000, 100000, 100000},
        {100000, 99999, 50000},
        {100000, 30000, 25000},
        {100000, 4096, 4096},
        {100000, 4095, 0},
        {10000, 6000, 5000},
        {1000, 1000, 1000},
        {1000, 999, 0},
        {0, 1, 1},
        {0, 0, 1},
        // No more than the file still holds, whatever the header claims.
        {1000000000, 0, 100000},
        {1000000000, 60000, 50000},
    };
    const std::string path = root_ + "/packed.bin";
    corpus::writeAll(path, Bytes(100000, 0x55));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.packed) + " refused above " + std::to_string(c.refuseAbove));
        platform::faults().failAllocationAbove = c.refuseAbove;
        BinaryFile input(platform::openForReading(platform::fromUtf8(path.c_str()).c_str()));
        testenc::Owned<DecodeSession> s;
        s.inputFile = &input;
        s.packedSize = c.packed;
        EXPECT_EQ(loadInputBuffer(s), c.expected != 0);
        EXPECT_EQ(s.inputBufferSize, c.expected);
        if (c.expected) {
            EXPECT_EQ(s.inputValid, std::min(c.packed, c.expected));
            EXPECT_FALSE(s.inputShort);
        }
    }
}

// Through the decoder: a halved buffer still gives the right bytes; one that
// cannot be had even at its floor is out of memory, and the run ends with the
// system's text in a box, status 3 and the file being written gone.
TEST_F(FaultInjection, DecodingWithAHalvedBufferAndWithNone) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const Bytes packed = raw("lh5.bin");
    platform::faults().failAllocationAbove = 4096;
    corpus::DecodeOutcome out = corpus::decodeBytes(packed, 18092, Method::Lh5);
    EXPECT_FALSE(out.damaged);
    EXPECT_TRUE(out.output == raw("lh0.bin"));
    platform::faults().failAllocationAbove = 4095;
    EXPECT_TRUE(corpus::decodeBytes(packed, 18092, Method::Lh5).outOfMemory);

    EXPECT_EXIT(
        {
            platform::faults().exitHook = [](int status) {
                const RunRecorder::Box& box = g_dying->boxes.back();
                const std::u16string memory =
                    platform::systemErrorText(platform::kErrorNotEnoughMemory).c_str();
                std::fprintf(stderr, "status %d, %zu box %s%s%s\n", status, g_dying->boxes.size(),
                             box.owner == BoxOwner::None ? "without owner" : "owned",
                             box.hasCaption ? ", captioned" : "",
                             box.text == memory && box.flags == kBoxIconError ? ", memory" : "");
            };
            run([&](RunRecorder& r) {
                g_dying = &r;
                allocationReporter = &r;
            });
        },
        ::testing::ExitedWithCode(kExitOutOfMemory),
        "^status 3, 1 box without owner, captioned, memory\n$");
    // The run went to the next run folder: the members before the -lh5- one
    // are whole, its own file is gone.
    dest_ = root_ + "/run" + std::to_string(runs_++) + "/dest";
    EXPECT_TRUE(corpus::readAll(dest_ + "/docs/a.txt") == sample().files.at("docs/a.txt"));
    EXPECT_FALSE(fs::exists(dest_ + "/docs/sub/b.bin"));
    // Started with switches, the stub says so with a status of its own.
    EXPECT_EXIT(
        {
            runMode.switches = true;
            run([&](RunRecorder& r) { allocationReporter = &r; });
        },
        ::testing::ExitedWithCode(kExitSwitchOutOfMemory), "");
}

}  // namespace
}  // namespace qorn

namespace qorn {
namespace {

// Members decoded ahead whose bytes find no pages to be kept in are left to
// the run, which decodes them itself: a member whose bytes are cut short is
// never handed over as if whole.
TEST_F(FaultInjection, MembersDecodedAheadThatCannotBeKeptAreLeftToTheRun) {
    // Pages come in steps of 2 MiB; the decoder's own input buffer is smaller.
    platform::faults().failAllocationAbove = 1u << 20;
    int members = 0;
    for (const std::string& name : corpus::archives()) {
        const std::string path = corpus::folder() + "/" + name;
        const std::u16string wide = platform::fromUtf8(path.c_str()).c_str();
        {
            SCOPED_TRACE(name);
            std::unique_ptr<BinaryFile> f(BinaryFile::openForReading(wide.c_str()));
            ASSERT_TRUE(f);
            ParallelDecoder ahead(wide.c_str(), 0, true, 64u << 20, 2, false);
            corpus::RecordingReporter reporter;
            corpus::forEachMember(*f, reporter, [&](const ArchiveEntry& entry, int64_t dataStart) {
                const Method method = methodOf(entry.method);
                // An empty member needs no pages.
                if (method != Method::Unknown && method != Method::Lhd && !isStored(method) &&
                    entry.originalSize != 0) {
                    ++members;
                    MemberResult result;
                    BinaryFile nowhere(platform::createForWriting(
                        platform::fromUtf8((root_ + "/out").c_str()).c_str()));
                    EXPECT_FALSE(ahead.take(dataStart, reporter, nowhere, result));
                }
            });
        }
    }
    EXPECT_GT(members, 20);
}

}  // namespace
}  // namespace qorn
