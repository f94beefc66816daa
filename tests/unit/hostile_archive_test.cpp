// The hostile archives of tests/data/hostile, each run through the worker and
// through `qornsfx extract` in a fresh destination inside a fresh parent: the
// outcome and the files left are those expected.txt gives, nothing appears
// next to the destination or under the system's folders, and the progress bar
// never runs backwards.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "decode/decode_session.h"
#include "extract/extraction_worker.h"
#include "platform/platform.h"
#include "tests/support/corpus.h"
#include "tests/support/run_recorder.h"

namespace qorn {
namespace {

namespace fs = std::filesystem;

const std::string kFolder = std::string(QORN_TEST_DATA) + "/hostile";

struct HostileCase {
    std::string file, outcome;
    std::vector<std::string> tree;  // "name:size", "name:*" or "folder/"
};

void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.file;
}

std::vector<HostileCase> loadCases() {
    std::vector<HostileCase> cases;
    std::ifstream in(kFolder + "/expected.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t a = line.find('\t'), b = line.find('\t', a + 1);
        HostileCase c{line.substr(0, a), line.substr(a + 1, b - a - 1), {}};
        std::string tree = line.substr(b + 1);
        for (size_t at = 0; tree != "-" && at <= tree.size();) {
            const size_t comma = std::min(tree.find(',', at), tree.size());
            c.tree.push_back(tree.substr(at, comma - at));
            at = comma + 1;
        }
        cases.push_back(c);
    }
    return cases;
}

// The tree under a folder in the notation of expected.txt, sorted.
std::vector<std::string> treeOf(const std::string& folder) {
    std::vector<std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const std::string rel = fs::relative(e.path(), folder).string();
        tree.push_back(e.is_directory() ? rel + "/"
                                        : rel + ":" + std::to_string(fs::file_size(e.path())));
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

void expectTree(const std::vector<std::string>& want, const std::string& folder) {
    const std::vector<std::string> got = treeOf(folder);
    bool same = got.size() == want.size();
    for (const std::string& w : want) {
        const bool any = w.size() > 2 && w.compare(w.size() - 2, 2, ":*") == 0;
        same = same && std::any_of(got.begin(), got.end(), [&](const std::string& g) {
                   return any ? g.rfind(w.substr(0, w.size() - 1), 0) == 0 : g == w;
               });
    }
    std::string text;
    for (const std::string& g : got) text += g.substr(0, 60) + " ";
    EXPECT_TRUE(same) << "left: " << text;
}

// The escape name appears nowhere it could land by leaving the destination.
void expectNoEscape() {
    for (const char* folder : {"/tmp", "/"}) {
        DIR* dir = opendir(folder);
        ASSERT_NE(dir, nullptr);
        while (const dirent* e = readdir(dir))
            EXPECT_NE(std::string(e->d_name).rfind("qorn-hostile", 0), 0u)
                << folder << "/" << e->d_name;
        closedir(dir);
    }
}

// Sum of the members' original sizes in 64 bits: below 4 GiB the bytes done
// can never pass the run's total.
uint64_t claimedTotal(const std::string& archive) {
    std::unique_ptr<BinaryFile> file(
        BinaryFile::openForReading(platform::fromUtf8(archive.c_str()).c_str()));
    corpus::RecordingReporter quiet;
    ArchiveEntry entry;
    uint64_t total = 0;
    while (readEntryHeader(*file, entry, quiet) == HeaderResult::Member) {
        total += entry.originalSize;
        if (!file->moveTo(file->position() + entry.packedSize)) break;
    }
    return total;
}

class HostileArchive : public ::testing::TestWithParam<HostileCase> {
  protected:
    void SetUp() override {
        keepRunning.store(1);
        parent_ = corpus::makeTempFolder();
        previous_ = fs::current_path();
    }
    void TearDown() override {
        ASSERT_EQ(chdir(previous_.c_str()), 0);
        fs::remove_all(parent_);
    }
    std::string parent_, previous_;
};

TEST_P(HostileArchive, EndsAsExpectedInsideTheDestination) {
    const HostileCase& c = GetParam();
    const std::string archive = kFolder + "/" + c.file;
    const std::string dest = parent_ + "/dest";
    fs::create_directory(dest);
    ASSERT_EQ(chdir(dest.c_str()), 0);

    extract_test::RunRecorder recorder;
    std::unique_ptr<BinaryFile> payload(
        BinaryFile::openForReading(platform::fromUtf8(archive.c_str()).c_str()));
    ASSERT_TRUE(payload);
    ExtractionJob job;
    job.payloadFile = payload.get();
    job.destinationFolder = WideString(u"C:\\dest");
    job.reporter = &recorder;
    extractionWorker(&job);
    ASSERT_EQ(chdir(previous_.c_str()), 0);

    EXPECT_EQ(recorder.runEndedCalls, 1);
    EXPECT_FALSE(recorder.endedAborted);
    EXPECT_TRUE(job.currentFile.isEmpty());
    EXPECT_EQ(job.failed, c.outcome != "ok");
    size_t boxes = c.outcome == "ok" ? 0 : 1;
    ASSERT_EQ(recorder.boxes.size(), boxes);
    if (c.outcome == "damaged") {
        // The damaged-member box, for a file or (members of the folder
        // method) a folder.
        const std::u16string& text = recorder.boxes[0].text;
        EXPECT_TRUE(text.rfind(u"ファイル ", 0) == 0 || text.rfind(u"フォルダ ", 0) == 0);
        EXPECT_NE(text.find(u" が壊れています。"), std::u16string::npos);
    } else if (c.outcome == "header") {
        EXPECT_EQ(recorder.boxes[0].text, kTextUnknownHeader);
    } else if (c.outcome == "refused") {
        EXPECT_EQ(recorder.boxes[0].owner, BoxOwner::None);
    }
    EXPECT_TRUE(std::is_sorted(recorder.positions.begin(), recorder.positions.end()));
    if (claimedTotal(archive) < (1ull << 32)) {
        ASSERT_NE(job.progress, nullptr);
        EXPECT_LE(job.progress->done, job.progress->total);
    }
    expectTree(c.tree, dest);
    EXPECT_EQ(treeOf(parent_).size(), treeOf(dest).size() + 1);  // dest alone beside nothing
    expectNoEscape();

    // The tool: same files, status 0 for a run that completes, 1 otherwise.
    const std::string toolParent = parent_ + "/tool";
    fs::create_directory(toolParent);
    const std::string command = "cd '" + toolParent + "' && '" + QORN_TOOL +
                                "' extract --archive '" + archive + "' -d out 2>/dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.outcome == "ok" ? 0 : 1);
    expectTree(c.tree, toolParent + "/out");
    EXPECT_EQ(treeOf(toolParent).size(), treeOf(toolParent + "/out").size() + 1);
    expectNoEscape();
}

INSTANTIATE_TEST_SUITE_P(Files, HostileArchive, ::testing::ValuesIn(loadCases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                             std::string name =
                                 info.param.file.substr(0, info.param.file.size() - 4);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Every archive in the folder has its line, and the list is not cut short.
TEST(HostileArchives, EveryFileIsListed) {
    std::set<std::string> listed;
    for (const HostileCase& c : loadCases()) listed.insert(c.file);
    EXPECT_GE(listed.size(), 60u);
    for (const auto& e : fs::directory_iterator(kFolder)) {
        if (e.path().extension() == ".lzh") {
            EXPECT_EQ(listed.count(e.path().filename().string()), 1u) << e.path();
        }
    }
}

}  // namespace
}  // namespace qorn
