// Every corpus archive in scope, extracted by `qornsfx extract` and by a peer
// (lhasa, 7z) into folders of their own: the files must agree in names and
// bytes wherever the peer takes the archive without an error.
//
// Rules that hold for every archive rather than one: names are compared
// without regard to ASCII case (the stub writes to Windows, and lhasa
// lowercases MS-DOS names); files with non-ASCII names are matched by content,
// since narrow names are read in the ANSI code page here and kept as raw
// bytes by the peers; members of methods out of scope and symbolic links,
// which the stub passes over, are left out; folders are not compared. The
// archive of a 2 GiB member is left to the corpus tests: three extractions
// of it take a minute and 6 GiB of disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/corpus.h"
#include "tests/support/lzh_roundtrip.h"

namespace qorn {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Known differences, each with its reason. An entry must still match a
// difference, so the list cannot go stale.
const struct {
    const char* peer;
    const char* archivePrefix;
    const char* reason;
} kAllowed[] = {
    {"lhasa", "lhasa/mac-a/l",
     "lhasa strips the MacBinary header of Macintosh members; the stub (and 7z) write the "
     "stored bytes, Windows having no resource fork"},
    {"lhasa", "libarchive/test_read_format_lha_filename_utf16.lzh",
     "lhasa names the files by the ANSI fallback ('______') instead of the UTF-16 name headers"},
    {"7z", "libarchive/test_read_format_lha_filename_utf16.lzh",
     "7z names the files by the ANSI fallback ('______') instead of the UTF-16 name headers"},
    {"lhasa", "lhasa/osk-a/h0_subdir.lzh",
     "lhasa lists no member of this OS-9/68k archive (folder members with empty names) and "
     "writes nothing, yet exits 0"},
};

std::string folded(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ascii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c > 0; });
}

struct Tree {
    std::map<std::string, Bytes> byName;  // ASCII names, folded
    std::multiset<Bytes> byContent;       // the others
};

Tree readTree(const std::string& folder, const std::set<std::string>& ignored) {
    Tree tree;
    if (!fs::is_directory(folder)) return tree;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_symlink() || !e.is_regular_file()) continue;
        const std::string rel = fs::relative(e.path(), folder).string();
        if (ignored.count(folded(rel))) continue;
        Bytes bytes = corpus::readAll(e.path().string());
        if (ascii(rel))
            tree.byName[folded(rel)] = std::move(bytes);
        else
            tree.byContent.insert(std::move(bytes));
    }
    return tree;
}

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

// The differences between two trees, in words; empty when they agree.
std::string differences(const Tree& ours, const Tree& theirs) {
    std::string out;
    for (const auto& [name, bytes] : theirs.byName) {
        auto it = ours.byName.find(name);
        if (it == ours.byName.end())
            out += " only the peer has " + name + ";";
        else if (it->second != bytes)
            out += " " + name + " differs;";
    }
    for (const auto& [name, bytes] : ours.byName)
        if (!theirs.byName.count(name)) out += " only we have " + name + ";";
    if (ours.byContent != theirs.byContent) out += " files with non-ASCII names differ;";
    return out;
}

void crossCheck(const char* peer, const std::string& program,
                std::string (*command)(const std::string&, const std::string&,
                                       const std::string&)) {
    if (program.empty()) GTEST_SKIP() << peer << " is not installed: nothing to compare with";
    const std::string root = test::makeTempFolder("peer");
    std::map<std::string, std::vector<corpus::Member>> byArchive;
    for (const corpus::Member& m : corpus::members()) byArchive[m.archive].push_back(m);
    int compared = 0, peerFailed = 0, allowedSeen = 0;
    std::set<const void*> allowedUsed;
    for (const auto& [archive, members] : byArchive) {
        const bool inScope =
            std::any_of(members.begin(), members.end(), [](auto& m) { return m.inScope; }) &&
            std::all_of(members.begin(), members.end(),
                        [](auto& m) { return m.level <= 2 && m.size <= (64u << 20); });
        if (!inScope) continue;
        std::set<std::string> ignored;
        for (const corpus::Member& m : members)
            if (!m.inScope || m.type == "symlink") ignored.insert(folded(m.path));
        const std::string path = corpus::folder() + "/" + archive;
        const std::string out = root + "/" + std::to_string(compared + peerFailed);
        fs::create_directories(out + "/peer");
        const int ours = test::runCommand(quoted(QORN_TOOL) + " extract --archive " + quoted(path) +
                                          " -d " + quoted(out + "/ours") + " >/dev/null 2>&1");
        if (test::runCommand(command(program, path, out + "/peer") +
                             " </dev/null >/dev/null 2>&1")) {
            ++peerFailed;
            continue;
        }
        ++compared;
        EXPECT_EQ(ours, 0) << archive << ": " << peer << " takes it, we do not";
        const std::string diff =
            differences(readTree(out + "/ours", ignored), readTree(out + "/peer", ignored));
        bool allowed = false;
        for (const auto& a : kAllowed)
            if (peer == std::string(a.peer) && archive.rfind(a.archivePrefix, 0) == 0 &&
                !diff.empty()) {
                allowed = true;
                allowedUsed.insert(&a);
                ++allowedSeen;
            }
        if (!allowed) {
            EXPECT_EQ(diff, "") << archive;
        }
    }
    for (const auto& a : kAllowed) {
        if (peer == std::string(a.peer)) {
            EXPECT_TRUE(allowedUsed.count(&a))
                << "allowed difference no longer seen: " << a.archivePrefix;
        }
    }
    std::printf("%s: %d archives compared, %d with known differences, %d the peer refused\n", peer,
                compared, allowedSeen, peerFailed);
    EXPECT_GT(compared, 100);
    test::removeTree(root);
}

TEST(PeerCrossCheck, Lhasa) {
    crossCheck("lhasa", test::findProgram("lhasa"),
               [](const std::string& program, const std::string& archive, const std::string& out) {
                   return "cd " + quoted(out) + " && " + quoted(program) + " x " + quoted(archive);
               });
}

TEST(PeerCrossCheck, SevenZip) {
    crossCheck("7z", test::findProgram("7z"),
               [](const std::string& program, const std::string& archive, const std::string& out) {
                   return quoted(program) + " x -tlzh -y -o" + quoted(out) + " " + quoted(archive);
               });
}

}  // namespace
}  // namespace qorn
