#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/host_files.h"

namespace qorn::encode::host {

namespace {
thread_local int lastErrno = 0;
bool failed() {
    lastErrno = errno;
    return false;
}
}  // namespace

FILE* openFile(const std::string& path, const char* mode) {
    FILE* f = std::fopen(path.c_str(), mode);
    if (!f) failed();
    return f;
}

FILE* createNewFile(const std::string& path, bool& taken) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    taken = fd < 0 && errno == EEXIST;
    if (fd < 0) return failed(), nullptr;
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        failed();
        ::close(fd);
        ::unlink(path.c_str());
    }
    return f;
}

FILE* temporaryFile() {
    FILE* f = std::tmpfile();
    if (!f) failed();
    return f;
}

bool renameFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 || failed();
}

bool removeFile(const std::string& path) {
    return std::remove(path.c_str()) == 0 || failed();
}

bool pathInfo(const std::string& path, PathInfo& info) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return failed();
    info.kind = S_ISREG(st.st_mode)   ? Kind::File
                : S_ISDIR(st.st_mode) ? Kind::Folder
                : S_ISLNK(st.st_mode) ? Kind::Link
                                      : Kind::Other;
    info.size = static_cast<uint64_t>(st.st_size);
    info.modified = static_cast<int64_t>(st.st_mtime);
    info.device = static_cast<uint64_t>(st.st_dev);
    info.index = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool listFolder(const std::string& path, std::vector<std::string>& names) {
    DIR* d = opendir(path.c_str());
    if (!d) return failed();
    errno = 0;
    while (struct dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    }
    const bool readFailed = errno != 0;
    if (readFailed) failed();
    closedir(d);
    return !readFailed;
}

std::string errorText() {
    return std::strerror(lastErrno);
}

SameFile::SameFile(FILE* file) {
    struct stat st;
    if (fstat(fileno(file), &st) == 0) {
        device_ = static_cast<uint64_t>(st.st_dev);
        index_ = static_cast<uint64_t>(st.st_ino);
        known_ = true;
    }
}

bool SameFile::is(const std::string&, const PathInfo& info) const {
    return known_ && info.device == device_ && info.index == index_;
}

bool toCodePage(const std::string& text, const std::string& codePage, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    iconv_t cd = iconv_open(codePage.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buffer(text.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* o = &buffer[0];
    size_t outLeft = buffer.size();
    const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || inLeft != 0) return false;
    out.assign(buffer.data(), buffer.size() - outLeft);
    return true;
}

}  // namespace qorn::encode::host
