// What the archive writer asks of the system, by UTF-8 names on every
// system: files opened, a path's kind, size and time, folder listings, the
// identity of the archive being written, and text in a named code page.
// host_posix.cpp and host_win32.cpp implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qorn::encode::host {

enum class Kind { File, Folder, Link, Other };

struct PathInfo {
    Kind kind = Kind::Other;
    uint64_t size = 0;
    int64_t modified = 0;  // seconds since 1970 UTC
    uint64_t device = 0;   // where the system gives them, what tells files apart
    uint64_t index = 0;
};

FILE* openFile(const std::string& path, const char* mode);
// A new file for writing, created only where no file of that name is: null
// when one is (taken set) or the system refuses (taken clear).
FILE* createNewFile(const std::string& path, bool& taken);
// A file that is gone once closed.
FILE* temporaryFile();
// Replaces `to` with `from`.
bool renameFile(const std::string& from, const std::string& to);
bool removeFile(const std::string& path);
// A link is described, not followed.
bool pathInfo(const std::string& path, PathInfo& info);
// The names in a folder, without "." and "..", in no particular order.
bool listFolder(const std::string& path, std::vector<std::string>& names);
// Text of the last failure of a call above, on this thread.
std::string errorText();

// Tells whether a path (described by pathInfo) names the file open as
// `file`.
class SameFile {
  public:
    explicit SameFile(FILE* file);
    bool is(const std::string& path, const PathInfo& info) const;

  private:
    bool known_ = false;
    uint64_t device_ = 0;
    uint64_t index_ = 0;
    std::u16string path_;  // where the system gives no file index to compare
};

// The text in the code page named (an iconv name such as CP932), or false
// when the code page is unknown or lacks some character.
bool toCodePage(const std::string& utf8, const std::string& codePage, std::string& out);

}  // namespace qorn::encode::host
