// POSIX side of the platform layer: the native tool and the tests.
//
// Windows treats '\' as a folder separator, so this layer does too: a
// backslash in a path becomes '/' on its way to the system. That keeps the
// behaviour of the core the same on both sides.
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/platform.h"

namespace qorn::platform {

namespace {

std::string g_codePage = "CP932";
WideString g_programFiles;
Faults g_faults;
thread_local uint32_t g_lastError = 0;

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string utf8(const char16_t* text) {
    std::string out;
    if (!text) return out;
    out.reserve(textLength(text));
    for (size_t i = 0; text[i]; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, cp);
    }
    return out;
}

// A path for the system: UTF-8 with '\' turned into '/'.
std::string systemPath(const char16_t* path) {
    std::string p = utf8(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

void setErrno() {
    g_lastError = static_cast<uint32_t>(errno);
}

}  // namespace

Faults& faults() {
    return g_faults;
}

std::size_t toUtf8(const char16_t* text, char* out, std::size_t outSize) {
    std::string s = utf8(text);
    if (outSize == 0) return s.size();
    std::size_t n = s.size() < outSize - 1 ? s.size() : outSize - 1;
    std::memcpy(out, s.data(), n);
    out[n] = 0;
    return s.size();
}

WideString fromUtf8(const char* text) {
    if (!text) return WideString();
    std::u16string out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        uint32_t cp = *p++;
        int extra = 0;
        if (cp >= 0xF0) {
            cp &= 0x07;
            extra = 3;
        } else if (cp >= 0xE0) {
            cp &= 0x0F;
            extra = 2;
        } else if (cp >= 0xC0) {
            cp &= 0x1F;
            extra = 1;
        } else if (cp >= 0x80) {
            cp = 0xFFFD;
        }
        for (; extra > 0 && (*p & 0xC0) == 0x80; --extra) cp = (cp << 6) | (*p++ & 0x3F);
        if (extra) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return WideString(out.c_str());
}

bool setAnsiCodePage(const char* name) {
    iconv_t cd = iconv_open("UTF-16LE", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    g_codePage = name;
    return true;
}

void setProgramFilesFolder(const char16_t* path) {
    g_programFiles = WideString(path);
}

FileHandle openForReading(const char16_t* path) {
    int fd = ::open(systemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setErrno();
        return kNoFile;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        g_lastError = EISDIR;
        return kNoFile;
    }
    return fd;
}

FileHandle createForWriting(const char16_t* path) {
    int fd = ::open(systemPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        setErrno();
        return kNoFile;
    }
    return fd;
}

int64_t readFile(FileHandle file, void* buffer, uint32_t count) {
    if (file == kNoFile) return -1;
    if (g_faults.failReadAfter >= 0 && g_faults.failReadAfter-- == 0) {
        g_lastError = EIO;
        return -1;
    }
    char* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::read(static_cast<int>(file), out + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            setErrno();
            return done ? done : -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

bool writeFile(FileHandle file, const void* buffer, uint32_t count) {
    if (file == kNoFile) return false;
    const char* in = static_cast<const char*>(buffer);
    uint32_t allowed = count;
    bool injected = false;
    if (g_faults.failWriteAfterBytes >= 0) {
        if (static_cast<uint64_t>(g_faults.failWriteAfterBytes) < count) {
            allowed = static_cast<uint32_t>(g_faults.failWriteAfterBytes);
            injected = true;
        }
        g_faults.failWriteAfterBytes -= allowed;
    }
    uint32_t done = 0;
    while (done < allowed) {
        ssize_t n = ::write(static_cast<int>(file), in + done, allowed - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            setErrno();
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    if (injected) {
        g_lastError = ENOSPC;
        return false;
    }
    return true;
}

bool seekFile(FileHandle file, int64_t distance, Seek origin) {
    if (file == kNoFile) return false;
    if (::lseek(static_cast<int>(file), distance, origin == Seek::Begin ? SEEK_SET : SEEK_CUR) <
        0) {
        setErrno();
        return false;
    }
    return true;
}

int64_t filePosition(FileHandle file) {
    if (file == kNoFile) return -1;
    return ::lseek(static_cast<int>(file), 0, SEEK_CUR);
}

int64_t fileSize(FileHandle file) {
    struct stat st;
    if (file == kNoFile || fstat(static_cast<int>(file), &st) != 0) return -1;
    return st.st_size;
}

void closeFile(FileHandle file) {
    if (file != kNoFile) ::close(static_cast<int>(file));
}

bool deleteFile(const char16_t* path) {
    std::string p = systemPath(path);
    // Like DeleteFileW: files only, never folders. unlink() never removes a
    // folder either (EISDIR here, EPERM on some systems), so the common
    // cases, a file or nothing there, take one call.
    if (::unlink(p.c_str()) == 0) return true;
    const int error = errno;
    struct stat st;
    if (error != ENOENT && error != ENOTDIR && lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        g_lastError = EISDIR;
        return false;
    }
    errno = error;
    setErrno();
    return false;
}

PathKind pathKind(const char16_t* path) {
    struct stat st;
    if (::stat(systemPath(path).c_str(), &st) != 0) {
        setErrno();
        return PathKind::Missing;
    }
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

bool createFolder(const char16_t* path) {
    if (g_faults.failCreateFolder >= 0 && g_faults.failCreateFolder-- == 0) {
        g_lastError = EACCES;
        return false;
    }
    std::string p = systemPath(path);
    if (p.empty()) {
        g_lastError = ENOENT;
        return false;
    }
    if (::mkdir(p.c_str(), 0755) != 0) {
        setErrno();
        return false;
    }
    return true;
}

bool setCurrentDirectory(const char16_t* path) {
    std::string p = systemPath(path);
    if (p.empty() || ::chdir(p.c_str()) != 0) {
        if (p.empty()) errno = ENOENT;
        setErrno();
        return false;
    }
    return true;
}

WideString currentDirectory() {
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer)) return WideString(u"");
    return fromUtf8(buffer);
}

WideString programFilesFolder() {
    if (g_programFiles.hasText()) return g_programFiles;
    return currentDirectory();
}

// Only '/' makes a path absolute here, as only a drive does on Windows.
bool hasDrive(const char16_t* path) {
    return path && path[0] == u'/';
}

WideString absolutePath(const char16_t* path) {
    if (hasDrive(path)) return WideString(path);
    WideString full = currentDirectory();
    full.appendIfMissing(u'/');
    full.append(path);
    return full;
}

uint32_t lastError() {
    return g_lastError;
}
void setLastError(uint32_t code) {
    g_lastError = code;
}
bool lastErrorIsAlreadyExists() {
    return g_lastError == EEXIST;
}

WideString systemErrorText(uint32_t code) {
    return fromUtf8(std::strerror(static_cast<int>(code)));
}

namespace {
// Does the converter turn printable ASCII (0x20 to 0x7E), in order, into
// the same characters? True of most code pages, CP932 among them; a name of
// only those characters then needs no converter. The ISO-2022 shift codes
// (ESC, SO, SI) lie outside the range; UTF-7, whose '+' shifts inside it,
// fails the check.
bool keepsPrintableAscii(iconv_t cd) {
    char in[95];
    for (int i = 0; i < 95; ++i) in[i] = static_cast<char>(0x20 + i);
    char16_t out[96];
    char* inPtr = in;
    size_t inLeft = sizeof in;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    const bool converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (!converted || inLeft != 0 || outLeft != sizeof out - 2 * sizeof in) return false;
    for (int i = 0; i < 95; ++i)
        if (out[i] != static_cast<char16_t>(0x20 + i)) return false;
    return true;
}

// Opening a converter costs more than converting a member's name, and a
// run converts one per member: each thread keeps one for the code page.
struct AnsiConverter {
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    bool printableSame = false;
    std::string page;
    ~AnsiConverter() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    // The converter of the current code page, in its initial state.
    iconv_t get() {
        if (cd != reinterpret_cast<iconv_t>(-1) && page == g_codePage) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            return cd;
        }
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
        page = g_codePage;
        cd = iconv_open("UTF-16LE", page.c_str());
        printableSame = cd != reinterpret_cast<iconv_t>(-1) && keepsPrintableAscii(cd);
        return cd;
    }
    // Can printable ASCII of the current code page skip the converter?
    bool printableKept() {
        if (page != g_codePage) get();
        return printableSame;
    }
};
thread_local AnsiConverter ansiConverter;
}  // namespace

WideString ansiToUtf16(const char* bytes, size_t count) {
    std::u16string out;
    if (ansiConverter.printableKept()) {
        size_t i = 0;
        while (i < count && bytes[i] >= 0x20 && bytes[i] < 0x7F) ++i;
        if (i == count) {
            out.assign(bytes, bytes + count);
            return WideString(out.c_str());
        }
    }
    iconv_t cd = ansiConverter.get();
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (size_t i = 0; i < count; ++i) out += static_cast<char16_t>(bytes[i] & 0xFF);
        return WideString(out.c_str());
    }
    char* in = const_cast<char*>(bytes);
    size_t inLeft = count;
    while (inLeft > 0) {
        char16_t chunk[256];
        char* outPtr = reinterpret_cast<char*>(chunk);
        size_t outLeft = sizeof chunk;
        size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        size_t produced = (sizeof chunk - outLeft) / 2;
        out.append(chunk, produced);
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // A byte the code page does not know: one replacement character,
            // as the Windows conversion gives.
            out += u'\uFFFD';
            ++in;
            --inLeft;
        }
    }
    return WideString(out.c_str());
}

uint64_t availablePhysicalMemory() {
    if (g_faults.memoryLimit) return g_faults.memoryLimit;
    // Reading the figure parses /proc/meminfo; archives of many small members
    // ask once per member, so a reading stays good for a second.
    static thread_local uint64_t cached = 0;
    static thread_local time_t cachedAt = 0;
    const time_t now = time(nullptr);
    if (cached && now == cachedAt) return cached;
    long pages = sysconf(_SC_AVPHYS_PAGES);
    long size = sysconf(_SC_PAGESIZE);
    if (pages < 0 || size < 0) return 0;
    cached = static_cast<uint64_t>(pages) * static_cast<uint64_t>(size);
    cachedAt = now;
    return cached;
}

uint8_t* allocateBuffer(size_t size) {
    if (g_faults.failAllocationAbove && size > g_faults.failAllocationAbove) return nullptr;
    return new (std::nothrow) uint8_t[size];
}

void* allocatePages(size_t size) {
    if (size == 0 || (g_faults.failAllocationAbove && size > g_faults.failAllocationAbove))
        return nullptr;
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    // Only advice: without huge pages the memory works all the same.
    madvise(pages, size, MADV_HUGEPAGE);
#endif
    return pages;
}

void freePages(void* pages, size_t size) {
    if (pages) munmap(pages, size);
}

bool setFileTime(const char16_t* path, int64_t modified) {
    if (modified < 0) return false;  // as the Windows runtime refuses times before 1970
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(modified);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    if (utimensat(AT_FDCWD, systemPath(path).c_str(), times, 0) != 0) {
        setErrno();
        return false;
    }
    return true;
}

int32_t timezoneOffset() {
    tzset();
    return static_cast<int32_t>(timezone);
}

namespace {
struct ThreadStart {
    void (*entry)(void*);
    void* argument;
};
void* threadMain(void* p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    start.entry(start.argument);
    return nullptr;
}
}  // namespace

bool startThread(void (*entry)(void*), void* argument) {
    auto* start = new ThreadStart{entry, argument};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, threadMain, start) != 0) {
        delete start;
        return false;
    }
    pthread_detach(thread);
    return true;
}

void exitProcess(int status) {
    if (g_faults.exitHook) g_faults.exitHook(status);
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

}  // namespace qorn::platform
