// qornsfx extract and list, run as a child process: exit statuses,
// destination, Ctrl-C, what the user reads.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "payload/sfx_settings.h"
#include "tests/support/corpus.h"
#include "tests/support/run_recorder.h"

namespace qorn {
namespace {

namespace fs = std::filesystem;

struct Child {
    pid_t pid = -1;
    FILE* errors = nullptr;  // the child's stderr
};

// errors reads the child's stderr, and its stdout too with bothStreams.
Child startTool(const std::vector<std::string>& args, const std::string& folder,
                bool bothStreams = false) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(pipeFds[1], STDERR_FILENO);
        if (bothStreams) dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (chdir(folder.c_str()) != 0) _exit(99);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(QORN_TOOL));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(QORN_TOOL, argv.data());
        _exit(98);
    }
    close(pipeFds[1]);
    child.errors = fdopen(pipeFds[0], "r");
    return child;
}

int finish(Child& child, std::string* errors = nullptr) {
    char line[4096];
    while (std::fgets(line, sizeof line, child.errors))
        if (errors) *errors += line;
    std::fclose(child.errors);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CliExtract : public ::testing::Test {
  protected:
    void SetUp() override { root_ = corpus::makeTempFolder(); }
    void TearDown() override { fs::remove_all(root_); }
    int runTool(const std::vector<std::string>& args, std::string* errors = nullptr,
                bool bothStreams = false) {
        Child child = startTool(args, root_, bothStreams);
        return finish(child, errors);
    }
    std::string root_;
};

TEST_F(CliExtract, ExtractsIntoTheGivenFolderAndCreatesIt) {
    const std::string archive = corpus::folder() + "/lhasa/amiga-a/subdir.lzh";
    ASSERT_EQ(runTool({"extract", "--archive", archive, "-d", "new/out"}), 0);
    EXPECT_TRUE(fs::is_regular_file(root_ + "/new/out/subdir/subdir2/hello.txt"));
}

TEST_F(CliExtract, ExitStatusTellsFailureAndUsage) {
    extract_test::TestMember bad{"-lh0-", "bad.txt", "data"};
    bad.badCrc = true;
    corpus::writeAll(root_ + "/bad.lzh", extract_test::archiveBytes({bad}));
    std::string errors;
    EXPECT_EQ(runTool({"extract", "--archive", "bad.lzh", "-d", "o"}, &errors), 1);
    EXPECT_NE(errors.find("bad.txt"), std::string::npos) << errors;
    EXPECT_EQ(runTool({"extract"}), 2);
    EXPECT_EQ(runTool({"extract", "--archive", "missing.lzh"}), 1);
}

// The run ends with what it did, complete or not.
TEST_F(CliExtract, EndsWithASummaryLine) {
    corpus::writeAll(root_ + "/two.lzh", extract_test::archiveBytes({{"-lh0-", "a.txt", "alpha"},
                                                                     {"-lh0-", "b.txt", "bravo"}}));
    std::string output;
    ASSERT_EQ(runTool({"extract", "--archive", "two.lzh", "-d", "o"}, &output, true), 0) << output;
    EXPECT_NE(output.find("extracted: 2 members, 10 bytes written"), std::string::npos) << output;

    // A damaged member stops the run and its file stays on disk, as the
    // stub leaves it: the summary counts it and its bytes.
    extract_test::TestMember bad{"-lh0-", "bad.txt", "data"};
    bad.badCrc = true;
    corpus::writeAll(root_ + "/bad.lzh",
                     extract_test::archiveBytes({{"-lh0-", "a.txt", "alpha"}, bad}));
    output.clear();
    ASSERT_EQ(runTool({"extract", "--archive", "bad.lzh", "-d", "p"}, &output, true), 1) << output;
    EXPECT_NE(output.find("failed: 2 members (1 complete, 1 damaged file kept), 9 bytes written"),
              std::string::npos)
        << output;
    // In English, whatever texts the stub carries.
    EXPECT_NE(output.find("qornsfx: the file bad.txt is damaged"), std::string::npos) << output;
}

// The listing shows the settings as stored, and on a line of its own where
// extract would put the files here: a destination without a drive lies
// under the folder the tool runs in, spelt as this system spells it.
TEST_F(CliExtract, ListShowsTheStoredSettingsAndWhereExtractWouldPutThem) {
    corpus::Bytes sfx(PayloadOffset, 0);
    const corpus::Bytes settings = {1, 0, 0, 3, 'Q', 0, '\\', 0, 'D', 0, 0, 0, 0, 0, 0, 0};
    sfx.insert(sfx.end(), settings.begin(), settings.end());
    sfx.push_back(0);  // an empty archive
    corpus::writeAll(root_ + "/sfx.exe", sfx);
    std::string output;
    ASSERT_EQ(runTool({"list", "sfx.exe"}, &output, true), 0) << output;
    const std::string expected = fs::canonical(root_).string() + "/Q/D";
    EXPECT_NE(output.find("  destination    Q\\D\n"), std::string::npos) << output;
    EXPECT_NE(output.find("  base folder    the folder the file is run from\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find("extract here to  " + expected + "\n"), std::string::npos) << output;

    // The base-folder flag and the shortcut choices by name; --json gives
    // the same as one object, with names as they are (controls escaped the
    // JSON way).
    const corpus::Bytes full = {1, 1, 'T', 0, 1, 3, 'Q', 0, '\\', 0,      'D',
                                0, 1, 'm', 0, 3, 2, 0,   0, 1,    '\x1b', 0};
    corpus::Bytes sfx2(PayloadOffset, 0);
    sfx2.insert(sfx2.end(), full.begin(), full.end());
    sfx2.push_back(0);
    corpus::writeAll(root_ + "/sfx2.exe", sfx2);
    output.clear();
    ASSERT_EQ(runTool({"list", "sfx2.exe", "--program-files-folder", "/pf"}, &output, true), 0)
        << output;
    for (const char* line :
         {"  title          T\n", "  base folder    Program Files\n", "  start menu     checked\n",
          "  desktop        forced\n", "  send to        off\n", "  link name      \\x1b\n",
          "extract here to  /pf/Q/D\n"})
        EXPECT_NE(output.find(line), std::string::npos) << line << output;
    output.clear();
    ASSERT_EQ(
        runTool({"list", "--json", "sfx2.exe", "--program-files-folder", "/pf"}, &output, true), 0)
        << output;
    for (const char* part :
         {"\"destination\": \"Q\\\\D\"", "\"program_files\": true", "\"start_menu\": \"checked\"",
          "\"link_name\": \"\\u001b\"", "\"extract_here_to\": \"/pf/Q/D\"", "\"members\": []",
          "\"damaged\": false}"})
        EXPECT_NE(output.find(part), std::string::npos) << part << output;
}

// A name may hold terminal controls: every command shows them escaped, so a
// name can neither retitle the terminal nor overwrite its own DAMAGED line
// with OK. Exit statuses stay what they were.
TEST_F(CliExtract, NamesReachTheTerminalWithTheirControlsEscaped) {
    extract_test::TestMember bad{"-lh0-", "\x1b]0;owned\x07\rOK \xc2\x9b.txt", "data"};
    bad.badCrc = true;
    corpus::writeAll(root_ + "/bad.lzh", extract_test::archiveBytes({bad}));
    const std::string shown = "\\x1b]0;owned\\a\\rOK \\u009b.txt";
    for (const char* command : {"list", "test", "extract"}) {
        SCOPED_TRACE(command);
        std::string out;
        EXPECT_EQ(runTool({command, "--archive", "bad.lzh", "--codepage", "UTF-8"}, &out, true),
                  std::string(command) == "list" ? 0 : 1);
        EXPECT_NE(out.find(shown), std::string::npos) << out;
        EXPECT_EQ(out.find_first_of("\x1b\r\x07"), std::string::npos) << out;
        EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos) << out;
    }
}

// test --json: one object, each member's verdict, the counts; a name's
// controls escaped the JSON way.
TEST_F(CliExtract, TestTellsItsVerdictsAsJson) {
    extract_test::TestMember bad{"-lh0-", "b\x1b.txt", "data"};
    bad.badCrc = true;
    corpus::writeAll(root_ + "/bad.lzh",
                     extract_test::archiveBytes({{"-lh0-", "a.txt", "alpha"}, bad}));
    std::string out;
    EXPECT_EQ(runTool({"test", "--json", "--archive", "bad.lzh", "--codepage", "UTF-8"}, &out), 1);
    out.clear();
    Child child = startTool({"test", "--json", "--archive", "bad.lzh"}, root_, true);
    finish(child, &out);
    for (const char* part :
         {"{\"file\": \"bad.lzh\"",
          "{\"result\": \"OK\", \"method\": \"-lh0-\", \"path\": \"a.txt\"}",
          "{\"result\": \"DAMAGED\", \"method\": \"-lh0-\", \"path\": \"b\\u001b.txt\"}",
          "\"ok\": 1, \"damaged\": 1, \"skipped\": 0, \"archive_damaged\": false}"})
        EXPECT_NE(out.find(part), std::string::npos) << part << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
}

// A folder whose packed size runs one byte past the end of the file would
// hide the member after it: every command calls the archive damaged.
TEST_F(CliExtract, APackedSizePastTheEndIsDamageForEveryCommand) {
    const std::string archive = std::string(QORN_TEST_DATA) + "/hostile/size-folder-one-past.lzh";
    for (const char* command : {"list", "test", "extract"}) {
        std::string out;
        EXPECT_EQ(runTool({command, "--archive", archive}, &out, true), 1)
            << command << ": " << out;
    }
}

// Ctrl-C works like the abort button: the member being written goes, the
// members before it stay, and the status says the run was aborted.
TEST_F(CliExtract, InterruptAbortsAndDeletesThePartialFile) {
    corpus::Bytes bytes = extract_test::archiveBytes({{"-lh0-", "first.txt", "first"}}, false);
    // A gigabyte of zeros (CRC-16 0) that the archive holds as a sparse hole.
    const uint32_t big = 1u << 30;
    corpus::Bytes header =
        corpus::level2("-lh0-", big, big, 0, 0, {{0x01, corpus::text("big.bin")}});
    bytes.insert(bytes.end(), header.begin(), header.end());
    const std::string archive = root_ + "/big.lzh";
    corpus::writeAll(archive, bytes);
    fs::resize_file(archive, bytes.size() + big);

    Child child = startTool({"extract", "--archive", "big.lzh", "-d", "out"}, root_);
    char line[4096];
    bool sent = false;
    while (!sent && std::fgets(line, sizeof line, child.errors)) {
        // Without a terminal the tool names each member on a line of its own.
        if (std::string(line) == "big.bin\n") {
            usleep(20000);
            kill(child.pid, SIGINT);
            sent = true;
        }
    }
    ASSERT_TRUE(sent);
    EXPECT_EQ(finish(child), 130);
    EXPECT_TRUE(fs::exists(root_ + "/out/first.txt"));
    EXPECT_FALSE(fs::exists(root_ + "/out/big.bin"));
}

}  // namespace
}  // namespace qorn
