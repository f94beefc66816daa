// The platform layer over a file system in memory (see platform_memory.h).
//
// It answers as the POSIX layer does, error codes included, so the core
// takes the same paths through it: paths resolve against the current
// directory, ".." needs an existing folder to climb out of, a name with a
// trailing separator must be a folder, names and paths have the system's
// length limits, and an open file outlives its deletion.
#include "tests/fuzz/platform_memory.h"

#include <errno.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace qorn::platform {

namespace {

using Bytes = std::shared_ptr<std::vector<uint8_t>>;

struct Node {
    bool folder = false;
    Bytes data;
    int64_t modified = 0;
};

struct OpenFile {
    Bytes data;
    int64_t position = 0;
    bool writable = false;
};

constexpr size_t kNameMax = 255;   // bytes of one name in UTF-8
constexpr size_t kPathMax = 4096;  // bytes of a path with its terminator
constexpr FileHandle kFirstHandle = 3;

std::map<std::u16string, Node> g_tree;  // full paths; the root is implied
std::vector<OpenFile> g_open;           // a slot without data is free
std::u16string g_cwd = u"/";
WideString g_programFiles;
Faults g_faults;
uint32_t g_lastError = 0;
std::string g_codePage = "CP932";

bool fail(uint32_t code) {
    g_lastError = code;
    return false;
}

// Bytes of the text in UTF-8 as the POSIX layer writes it: a pair of
// surrogates takes four, a lone one three.
size_t utf8Length(const char16_t* text, size_t length) {
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            n += 4;
            ++i;
        } else {
            n += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        }
    }
    return n;
}

bool isFolder(const std::u16string& path) {
    if (path == u"/") return true;
    auto it = g_tree.find(path);
    return it != g_tree.end() && it->second.folder;
}

std::u16string parentOf(const std::u16string& path) {
    const size_t slash = path.rfind(u'/');
    return slash == 0 ? u"/" : path.substr(0, slash);
}

// The full path a name stands for, or false with the error the system gives.
// A trailing separator is reported, as it demands a folder.
bool resolve(const char16_t* path, std::u16string& full, bool& trailing) {
    if (!path || !path[0]) return fail(ENOENT);
    if (utf8Length(path, std::char_traits<char16_t>::length(path)) >= kPathMax)
        return fail(ENAMETOOLONG);
    std::u16string text = path[0] == u'/' || path[0] == u'\\' ? u"" : g_cwd;
    text += u'/';
    text += path;
    full.clear();
    trailing = text.back() == u'/' || text.back() == u'\\';
    size_t start = 0;
    while (start < text.size()) {
        size_t end = start;
        while (end < text.size() && text[end] != u'/' && text[end] != u'\\') ++end;
        const std::u16string name = text.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == u".") continue;
        // Climbing needs the folder to exist, as it does on disk.
        if (!full.empty() && !isFolder(full)) return fail(g_tree.count(full) ? ENOTDIR : ENOENT);
        if (name == u"..") {
            if (!full.empty()) full = parentOf(full);
            if (full == u"/") full.clear();
            continue;
        }
        if (utf8Length(name.data(), name.size()) > kNameMax) return fail(ENAMETOOLONG);
        full += u'/';
        full += name;
    }
    if (full.empty()) full = u"/";
    return true;
}

// A path whose last name may be made: its folder exists.
bool resolveNew(const char16_t* path, std::u16string& full, bool& trailing) {
    if (!resolve(path, full, trailing)) return false;
    if (full == u"/") return fail(EEXIST);
    const std::u16string parent = parentOf(full);
    if (!isFolder(parent)) return fail(g_tree.count(parent) ? ENOTDIR : ENOENT);
    return true;
}

FileHandle addHandle(Bytes data, bool writable) {
    size_t i = 0;
    while (i < g_open.size() && g_open[i].data) ++i;
    if (i == g_open.size()) g_open.emplace_back();
    g_open[i] = OpenFile{std::move(data), 0, writable};
    return kFirstHandle + static_cast<FileHandle>(i);
}

OpenFile* handleOf(FileHandle file) {
    const FileHandle index = file - kFirstHandle;
    if (index < 0 || static_cast<size_t>(index) >= g_open.size()) return nullptr;
    OpenFile& open = g_open[static_cast<size_t>(index)];
    return open.data ? &open : nullptr;
}

// File contents come from a pool and go back to it once no file and no
// handle holds them: their memory is allocated once, not for every input.
std::vector<Bytes> g_pool;
constexpr size_t kPoolSize = 64;

Bytes newBytes() {
    for (Bytes& bytes : g_pool)
        if (bytes.use_count() == 1) {
            bytes->clear();
            return bytes;
        }
    Bytes bytes = std::make_shared<std::vector<uint8_t>>();
    if (g_pool.size() < kPoolSize) g_pool.push_back(bytes);
    return bytes;
}

WideString ascii(const char* text) {
    std::u16string out;
    for (; *text; ++text) out += static_cast<char16_t>(static_cast<unsigned char>(*text));
    return WideString(out.c_str());
}

}  // namespace

namespace memory {

FileHandle openBytes(const uint8_t* data, size_t size) {
    Bytes bytes = newBytes();
    bytes->assign(data, data + size);
    return addHandle(std::move(bytes), true);
}

void reset() {
    g_tree.clear();
    g_open.clear();
    g_cwd = u"/";
}

void forEach(
    const std::function<void(const std::u16string& path, bool folder, size_t size)>& visit) {
    for (const auto& [path, node] : g_tree)
        visit(path, node.folder, node.data ? node.data->size() : 0);
}

void emptyFolder(const char16_t* path) {
    std::u16string prefix(path);
    if (prefix.empty() || prefix.back() != u'/') prefix += u'/';
    auto it = g_tree.lower_bound(prefix);
    while (it != g_tree.end() && it->first.compare(0, prefix.size(), prefix) == 0)
        it = g_tree.erase(it);
}

size_t openHandles() {
    size_t count = 0;
    for (const OpenFile& file : g_open) count += file.data != nullptr;
    return count;
}

}  // namespace memory

Faults& faults() {
    return g_faults;
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
    std::u16string full;
    bool trailing;
    if (!resolve(path, full, trailing)) return kNoFile;
    auto it = g_tree.find(full);
    if (full == u"/" || (it != g_tree.end() && it->second.folder)) {
        fail(EISDIR);
        return kNoFile;
    }
    if (it == g_tree.end() || trailing) {
        fail(it == g_tree.end() ? ENOENT : ENOTDIR);
        return kNoFile;
    }
    return addHandle(it->second.data, false);
}

FileHandle createForWriting(const char16_t* path) {
    std::u16string full;
    bool trailing;
    if (!resolveNew(path, full, trailing)) {
        if (lastErrorIsAlreadyExists()) fail(EISDIR);
        return kNoFile;
    }
    auto it = g_tree.find(full);
    if ((it != g_tree.end() && it->second.folder) || trailing) {
        fail(it == g_tree.end() || it->second.folder ? EISDIR : ENOTDIR);
        return kNoFile;
    }
    Node& node = g_tree[full];
    if (node.data)
        node.data->clear();
    else
        node.data = newBytes();
    return addHandle(node.data, true);
}

int64_t readFile(FileHandle file, void* buffer, uint32_t count) {
    OpenFile* open = handleOf(file);
    if (!open) return fail(EBADF), -1;
    if (g_faults.failReadAfter >= 0 && g_faults.failReadAfter-- == 0) return fail(EIO), -1;
    const int64_t size = static_cast<int64_t>(open->data->size());
    if (open->position >= size) return 0;
    const int64_t n = std::min<int64_t>(count, size - open->position);
    std::memcpy(buffer, open->data->data() + open->position, static_cast<size_t>(n));
    open->position += n;
    return n;
}

bool writeFile(FileHandle file, const void* buffer, uint32_t count) {
    OpenFile* open = handleOf(file);
    if (!open || !open->writable) return fail(EBADF);
    uint32_t allowed = count;
    bool injected = false;
    if (g_faults.failWriteAfterBytes >= 0) {
        if (static_cast<uint64_t>(g_faults.failWriteAfterBytes) < count) {
            allowed = static_cast<uint32_t>(g_faults.failWriteAfterBytes);
            injected = true;
        }
        g_faults.failWriteAfterBytes -= allowed;
    }
    std::vector<uint8_t>& data = *open->data;
    const size_t end = static_cast<size_t>(open->position) + allowed;
    if (data.size() < end) data.resize(end);
    if (allowed) std::memcpy(data.data() + open->position, buffer, allowed);
    open->position += allowed;
    return injected ? fail(ENOSPC) : true;
}

bool seekFile(FileHandle file, int64_t distance, Seek origin) {
    OpenFile* open = handleOf(file);
    if (!open) return fail(EBADF);
    const int64_t base = origin == Seek::Begin ? 0 : open->position;
    if (distance < -base || distance > INT64_MAX - base) return fail(EINVAL);
    open->position = base + distance;
    return true;
}

int64_t filePosition(FileHandle file) {
    OpenFile* open = handleOf(file);
    return open ? open->position : -1;
}

int64_t fileSize(FileHandle file) {
    OpenFile* open = handleOf(file);
    return open ? static_cast<int64_t>(open->data->size()) : -1;
}

void closeFile(FileHandle file) {
    const FileHandle index = file - kFirstHandle;
    if (handleOf(file)) g_open[static_cast<size_t>(index)].data.reset();
}

bool deleteFile(const char16_t* path) {
    std::u16string full;
    bool trailing;
    if (!resolve(path, full, trailing)) return false;
    auto it = g_tree.find(full);
    if (full == u"/" || (it != g_tree.end() && it->second.folder)) return fail(EISDIR);
    if (it == g_tree.end()) return fail(ENOENT);
    if (trailing) return fail(ENOTDIR);
    g_tree.erase(it);
    return true;
}

PathKind pathKind(const char16_t* path) {
    std::u16string full;
    bool trailing;
    if (!resolve(path, full, trailing)) return PathKind::Missing;
    if (isFolder(full)) return PathKind::Folder;
    if (!g_tree.count(full)) return fail(ENOENT), PathKind::Missing;
    if (trailing) return fail(ENOTDIR), PathKind::Missing;
    return PathKind::File;
}

bool createFolder(const char16_t* path) {
    if (g_faults.failCreateFolder >= 0 && g_faults.failCreateFolder-- == 0) return fail(EACCES);
    std::u16string full;
    bool trailing;
    if (!resolveNew(path, full, trailing)) return false;
    if (g_tree.count(full)) return fail(EEXIST);
    g_tree[full].folder = true;
    return true;
}

bool setCurrentDirectory(const char16_t* path) {
    std::u16string full;
    bool trailing;
    if (!resolve(path, full, trailing)) return false;
    if (!isFolder(full)) return fail(g_tree.count(full) ? ENOTDIR : ENOENT);
    g_cwd = full;
    return true;
}

WideString currentDirectory() {
    return WideString(g_cwd.c_str());
}

WideString programFilesFolder() {
    if (g_programFiles.hasText()) return g_programFiles;
    return currentDirectory();
}

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
    return ascii(std::strerror(static_cast<int>(code)));
}

WideString ansiToUtf16(const char* bytes, size_t count) {
    // One converter for the whole run: opening one per name would cost more
    // than the rest of a small archive.
    static std::string openFor;
    static iconv_t cd = reinterpret_cast<iconv_t>(-1);
    if (openFor != g_codePage) {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
        cd = iconv_open("UTF-16LE", g_codePage.c_str());
        openFor = g_codePage;
    }
    std::u16string out;
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (size_t i = 0; i < count; ++i) out += static_cast<char16_t>(bytes[i] & 0xFF);
        return WideString(out.c_str());
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes);
    size_t inLeft = count;
    while (inLeft > 0) {
        char16_t chunk[256];
        char* outPtr = reinterpret_cast<char*>(chunk);
        size_t outLeft = sizeof chunk;
        const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, (sizeof chunk - outLeft) / 2);
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            out += u'\uFFFD';
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return WideString(out.c_str());
}

uint64_t availablePhysicalMemory() {
    return g_faults.memoryLimit ? g_faults.memoryLimit : uint64_t{1} << 30;
}

uint8_t* allocateBuffer(size_t size) {
    if (g_faults.failAllocationAbove && size > g_faults.failAllocationAbove) return nullptr;
    return new (std::nothrow) uint8_t[size];
}

bool setFileTime(const char16_t* path, int64_t modified) {
    if (modified < 0) return false;
    std::u16string full;
    bool trailing;
    if (!resolve(path, full, trailing)) return false;
    auto it = g_tree.find(full);
    if (it == g_tree.end()) return fail(ENOENT);
    it->second.modified = modified;
    return true;
}

int32_t timezoneOffset() {
    return 0;
}

// The run happens at once, on the caller's thread: a fuzz input gives the
// same result every time.
bool startThread(void (*entry)(void*), void* argument) {
    entry(argument);
    return true;
}

void exitProcess(int status) {
    if (g_faults.exitHook) g_faults.exitHook(status);
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

}  // namespace qorn::platform
