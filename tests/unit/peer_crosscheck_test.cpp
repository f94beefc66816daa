// Corpus archives extracted by `qornsfx` and by a peer into folders of their
// own, compared file by file.
//
// lhasa: every archive of the shared corpus that lhasa reads, found at run
// time, not listed here. For each one `qornsfx test --archive` must name the
// same members as lhasa's listing and agree with lhasa's test, and `qornsfx
// extract --archive` must write the same bytes with the same modification
// times. 7z: the in-scope archives of the manifest, names and bytes.
//
// Rules that hold for every archive rather than one: names are compared
// without regard to ASCII case (the stub writes to Windows, and lhasa
// lowercases MS-DOS names); files with non-ASCII names are matched by content,
// since narrow names are read in the ANSI code page here and kept as raw
// bytes by the peers; symbolic links, which the stub passes over, are left
// out; folders are not compared (the stub gives them no time stamp). The
// archive of two 2 GiB members is left to the corpus tests: extracting it
// twice takes a minute and 8 GiB of disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "payload/archive_entry.h"
#include "platform/platform.h"
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
    {"7z", "libarchive/test_read_format_lha_filename_utf16.lzh",
     "7z names the files by the ANSI fallback ('______') instead of the UTF-16 name headers"},
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
    // Modification times, seconds since 1970.
    std::map<std::string, int64_t> timeByName;
    std::multiset<std::pair<Bytes, int64_t>> timedContent;
};

int64_t modifiedTime(const fs::path& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

Tree readTree(const std::string& folder, const std::set<std::string>& ignored) {
    Tree tree;
    if (!fs::is_directory(folder)) return tree;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_symlink() || !e.is_regular_file()) continue;
        const std::string rel = fs::relative(e.path(), folder).string();
        if (ignored.count(folded(rel))) continue;
        Bytes bytes = corpus::readAll(e.path().string());
        const int64_t time = modifiedTime(e.path());
        if (ascii(rel)) {
            tree.timeByName[folded(rel)] = time;
            tree.byName[folded(rel)] = std::move(bytes);
        } else {
            tree.timedContent.insert({bytes, time});
            tree.byContent.insert(std::move(bytes));
        }
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
                        [](auto& m) { return m.size <= (64u << 20); });
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

// ---- lhasa against the whole shared corpus -------------------------------

const char kDosStampOverUnixTime[] =
    "the MS-DOS stamp (local time where the archive was made) and the Unix time stored beside "
    "it disagree; lhasa applies the Unix time, the stub the MS-DOS stamp";

// Known differences with lhasa, each with its reason. A difference must match
// one (its archive starts with `archivePrefix`, its text contains `what`),
// and every entry must still match one, so the list cannot go stale.
const struct {
    const char* archivePrefix;
    const char* what;
    const char* reason;
} kExpectedWithLhasa[] = {
    {"lhasa/win-c/lh2.lzh", "lhasa's test fails, ours passes",
     "-lh2-: lhasa has no decoder for it (the corpus content is confirmed by another extractor)"},
    {"lhasa/win-c/lh2.lzh", "only we have license.mit",
     "-lh2-: lhasa writes nothing for the member"},
    {"lhasa/win-c/lh3.lzh", "lhasa's test fails, ours passes",
     "-lh3-: lhasa has no decoder for it (the corpus content is confirmed by another extractor)"},
    {"lhasa/win-c/lh3.lzh", "only we have license.mit",
     "-lh3-: lhasa writes nothing for the member"},
    {"", "passed over: -pm",
     "PMarc methods (-pm0-, -pm1-, -pm2-) are outside the stub's set; it passes them over and "
     "lhasa decodes them"},
    {"", "passed over: -lhx-",
     "-lhx- is outside the stub's set; it passes the member over and lhasa decodes it"},
    {"lhasa/mac-a/l", "differs",
     "lhasa strips the MacBinary header of Macintosh members; the stub writes the stored "
     "bytes, which the header CRC covers, Windows having no resource fork"},
    {"libarchive/test_read_format_lha_filename_utf16.lzh", "members:",
     "lhasa lists the ANSI fallback names ('______') instead of the UTF-16 name headers"},
    {"libarchive/test_read_format_lha_filename_utf16.lzh", "files with non-ASCII names differ",
     "lhasa names the files by the ANSI fallback ('______') instead of the UTF-16 name headers"},
    {"libarchive/test_read_format_lha_filename_utf16.lzh", "only the peer has ______",
     "the same: the ANSI fallback names, which we write as the UTF-16 names"},
    {"lhasa/osk-a/h0_subdir.lzh", "members:",
     "lhasa lists no member of this OS-9/68k archive (folder members with empty names) and "
     "writes nothing, yet exits 0"},
    {"lhasa/osk-a/h0_subdir.lzh", "only we have hello.txt", "the same: lhasa writes nothing"},
    // Level-0 and level-1 headers carry an MS-DOS stamp in the archiving
    // machine's local time; these archivers also stored a Unix time (a 0x54
    // extended header, or the level-0 extended area), which lhasa prefers.
    // The stub reads the MS-DOS stamp, as Windows archivers mean it.
    {"lha-unix/lha-test16-l0.lzh", "time of nullfile", kDosStampOverUnixTime},
    {"lhasa/lengths/lh1-0.lzh", "time of 0.bin", kDosStampOverUnixTime},
    {"lhasa/osk-a/h", "time of ", kDosStampOverUnixTime},
    {"lhasa/unix-a/lh6_long.lzh", "time of long.txt", kDosStampOverUnixTime},
    {"libarchive/test_read_format_lha_header0.lzh", "time of file", kDosStampOverUnixTime},
    {"libarchive/test_read_format_lha_header1.lzh", "time of file", kDosStampOverUnixTime},
};

std::string sharedCorpus() {
    // The shared corpus beside the clone, else the copy in the tree.
    for (const std::string& dir : {std::string(QORN_SHARED_CORPUS), corpus::folder()})
        if (fs::is_directory(dir)) return fs::canonical(dir).string();
    return "";
}

// Every file that starts like an LHA archive: a method id at offset 2.
std::vector<std::string> findArchives(const std::string& root) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        char head[7] = {};
        if (in.read(head, 7) && head[2] == '-' && head[6] == '-')
            found.push_back(fs::relative(e.path(), root).string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Member names as the two tools list them: folded ASCII names, and a count
// of the non-ASCII ones (lhasa prints their bytes as '?').
struct Members {
    std::multiset<std::string> names;
    int nonAscii = 0;
    void add(std::string name) {
        for (char& c : name)
            if (c == '\\') c = '/';
        // lhasa prints the bytes of a non-ASCII name as '?'.
        if (ascii(name) && name.find('?') == std::string::npos)
            names.insert(folded(name));
        else
            ++nonAscii;
    }
    bool operator==(const Members& o) const { return names == o.names && nonAscii == o.nonAscii; }
};

// `lhasa l`: the entries between the two rules; the name from column 51.
// Folders end in '/', symbolic links read "name -> target".
Members lhasaMembers(const std::string& listing) {
    Members m;
    std::istringstream in(listing);
    std::string line;
    int rules = 0;
    while (std::getline(in, line)) {
        if (line.rfind("----------", 0) == 0) {
            ++rules;
            continue;
        }
        if (rules != 1 || line.size() <= 51) continue;
        const std::string name = line.substr(51);
        if (name.back() == '/' || name.find(" -> ") != std::string::npos) continue;
        m.add(name);
    }
    return m;
}

// `qornsfx test`: "STATUS   -xxx- path" per file member.
Members ourMembers(const std::string& output, std::vector<std::string>& passedOver) {
    Members m;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() <= 15 || line[9] != '-' || line[13] != '-') continue;
        m.add(line.substr(15));
        if (line.rfind("SKIPPED", 0) == 0) passedOver.push_back(line.substr(9));
    }
    return m;
}

std::string describe(const Members& m) {
    std::string s;
    for (const std::string& n : m.names) s += n + ",";
    return s + " +" + std::to_string(m.nonAscii) + " non-ASCII";
}

// Differences in modification time between files both trees hold.
std::vector<std::string> timeDifferences(const Tree& ours, const Tree& theirs) {
    std::vector<std::string> out;
    for (const auto& [name, time] : theirs.timeByName) {
        auto it = ours.timeByName.find(name);
        if (it != ours.timeByName.end() && it->second != time)
            out.push_back("time of " + name + ": ours " + std::to_string(it->second) +
                          ", lhasa's " + std::to_string(time));
    }
    if (ours.byContent == theirs.byContent && ours.timedContent != theirs.timedContent)
        out.push_back("times of files with non-ASCII names differ");
    return out;
}

// Total original size, 64 bits, from the headers.
uint64_t originalTotal(const std::string& path) {
    std::unique_ptr<BinaryFile> f(
        BinaryFile::openForReading(platform::fromUtf8(path.c_str()).c_str()));
    if (!f) return 0;
    corpus::RecordingReporter reporter;
    ArchiveEntry entry;
    uint64_t total = 0;
    while (readEntryHeader(*f, entry, reporter) == HeaderResult::Member) {
        total += entry.originalSize;
        if (!f->moveBy(entry.packedSize)) break;
    }
    return total;
}

TEST(PeerCrossCheck, LhasaOnTheWholeCorpus) {
    const std::string lhasa = test::findProgram("lhasa");
    if (lhasa.empty()) GTEST_SKIP() << "lhasa is not installed: nothing to compare with";
    const std::string root = sharedCorpus();
    if (root.empty()) GTEST_SKIP() << "no corpus beside the source tree (../shared/corpus)";
    const std::vector<std::string> archives = findArchives(root);
    const std::string work = test::makeTempFolder("lhasa");
    std::set<const void*> used;
    int compared = 0, unread = 0, withExpected = 0;
    std::vector<std::string> left;
    for (const std::string& archive : archives) {
        const std::string path = root + "/" + archive;
        // Both members of 2 GiB: left to the corpus tests.
        if (originalTotal(path) > (64u << 20)) {
            left.push_back(archive);
            continue;
        }
        const std::string out = work + "/" + std::to_string(compared + unread);
        fs::create_directories(out + "/lhasa");
        auto run = [&](const std::string& command, const char* log) {
            return test::runCommand("cd " + quoted(out) + " && TZ=UTC " + command +
                                    " </dev/null >" + quoted(out + "/" + log) + " 2>&1");
        };
        if (run(quoted(lhasa) + " l " + quoted(path), "lhasa-l") != 0) {
            ++unread;
            continue;
        }
        ++compared;
        const int lhasaTest = run(quoted(lhasa) + " t " + quoted(path), "lhasa-t");
        run("cd lhasa && " + quoted(lhasa) + " x " + quoted(path), "lhasa-x");
        const std::string tool = quoted(QORN_TOOL);
        const int ourTest = run(tool + " test --archive " + quoted(path), "our-t");
        const int ourExtract =
            run(tool + " extract --archive " + quoted(path) + " -d ours", "our-x");

        std::vector<std::string> diffs, passedOver;
        const Members theirs = lhasaMembers(readText(out + "/lhasa-l"));
        const Members mine = ourMembers(readText(out + "/our-t"), passedOver);
        if (!(mine == theirs))
            diffs.push_back("members: ours " + describe(mine) + "; lhasa's " + describe(theirs));
        if ((ourTest == 0) != (lhasaTest == 0))
            diffs.push_back(ourTest == 0 ? "lhasa's test fails, ours passes"
                                         : "our test fails, lhasa's passes");
        if (ourExtract != 0) diffs.push_back("our extract fails");
        // What the stub passes over is named once; lhasa's file for it is
        // not compared.
        std::set<std::string> ignored;
        for (const std::string& p : passedOver) {
            diffs.push_back("passed over: " + p);
            std::string name = p.substr(6);
            for (char& c : name)
                if (c == '\\') c = '/';
            ignored.insert(folded(name));
        }
        const Tree ours = readTree(out + "/ours", ignored);
        const Tree peer = readTree(out + "/lhasa", ignored);
        std::istringstream content(differences(ours, peer));
        for (std::string d; std::getline(content, d, ';');)
            if (d.size() > 1) diffs.push_back(d.substr(1));
        for (const std::string& d : timeDifferences(ours, peer)) diffs.push_back(d);

        bool expected = false;
        for (const std::string& d : diffs) {
            bool known = false;
            for (const auto& e : kExpectedWithLhasa)
                if (archive.rfind(e.archivePrefix, 0) == 0 && d.find(e.what) != std::string::npos) {
                    known = true;
                    used.insert(&e);
                }
            expected = expected || known;
            EXPECT_TRUE(known) << archive << ": " << d;
        }
        if (expected) ++withExpected;
    }
    for (const auto& e : kExpectedWithLhasa)
        EXPECT_TRUE(used.count(&e))
            << "expected difference no longer seen: " << e.archivePrefix << " / " << e.what;
    std::printf(
        "lhasa: %zu archives under %s, %d compared (%d with expected differences), %d "
        "lhasa cannot read, %zu left to the corpus tests (over 64 MiB decoded)\n",
        archives.size(), root.c_str(), compared, withExpected, unread, left.size());
    EXPECT_GT(compared, 140);
    test::removeTree(work);
}

TEST(PeerCrossCheck, SevenZip) {
    crossCheck("7z", test::findProgram("7z"),
               [](const std::string& program, const std::string& archive, const std::string& out) {
                   return quoted(program) + " x -tlzh -y -o" + quoted(out) + " " + quoted(archive);
               });
}

}  // namespace
}  // namespace qorn
