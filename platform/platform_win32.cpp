// Win32 side of the platform layer: the stub.
#include <process.h>
#include <shlobj.h>
#include <time.h>
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace qorn::platform {

namespace {
const wchar_t* w(const char16_t* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
HANDLE h(FileHandle f) {
    return reinterpret_cast<HANDLE>(f);
}
bool valid(FileHandle f) {
    return f != kNoFile && f != 0;
}

FileHandle openWith(const char16_t* path, DWORD access, DWORD share, DWORD disposition,
                    DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    HANDLE file = CreateFileW(w(systemPath(path).c_str()), access, share, nullptr, disposition,
                              flags, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

// A system call that fills a buffer of MAX_PATH characters; a result that does
// not fit counts as a failure, never as a cut path.
WideString fromPathBuffer(const wchar_t* buffer, DWORD result) {
    if (result == 0 || result >= MAX_PATH) return WideString(u"");
    return WideString(reinterpret_cast<const char16_t*>(buffer));
}
}  // namespace

// Appends the bytes of word, lowest first, up to its first zero byte: a short
// prefix spelt without constant data, which would cost the stub a page here.
static void appendBytes(WideString& text, uint32_t word) {
    for (; word != 0; word >>= 8) text.appendChar(static_cast<char16_t>(word & 0xFF));
}

// Below MAX_PATH - 12 characters (what CreateDirectoryW takes) a path goes to
// the system as it is. A longer one goes in the "\\?\" form of its full
// path, which the system takes up to 32,767 characters and passes on without
// any rewriting: the full form has already resolved "." and '/'.
WideString systemPath(const char16_t* path) {
    WideString full = absolutePath(path);
    if (full.length() < MAX_PATH - 12) return WideString(path);
    const char16_t* rest = full.c_str();
    const bool unc = rest[0] == u'\\' && rest[1] == u'\\';
    // "\\?\" and "\\.\" paths are in the system's own form already.
    if (unc && (rest[2] == u'?' || rest[2] == u'.')) return full;
    WideString result;
    appendBytes(result, 0x5C3F5C5Cu);         // "\\?\"
    if (unc) appendBytes(result, 0x434E55u);  // "UNC": \\server\... becomes \\?\UNC\server\...
    result.append(rest + (unc ? 1 : 0));
    return result;
}

// A form of the path below MAX_PATH for the shell, which takes no longer
// ones: the path itself, or else its short (8.3) form where the volume keeps
// one. Empty, with the last error set, when neither fits.
WideString shellPath(const char16_t* path) {
    if (textLength(path) < MAX_PATH) return WideString(path);
    WideString longForm = systemPath(path);
    wchar_t buffer[MAX_PATH + 8];
    DWORD got = GetShortPathNameW(w(longForm.c_str()), buffer, MAX_PATH + 8);
    const wchar_t* shortForm = buffer;
    // Without its "\\?\" (or "\\?\UNC") the short form is an ordinary path again.
    if (got >= 8 && got < MAX_PATH + 8 && buffer[2] == L'?') {
        const bool unc = buffer[4] == L'U' && buffer[5] == L'N' && buffer[6] == L'C';
        shortForm += unc ? 6 : 4;
        got -= unc ? 6 : 4;
        if (unc) buffer[6] = L'\\';
    }
    if (got == 0 || got >= MAX_PATH) {
        if (got != 0) SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return WideString(u"");
    }
    return WideString(reinterpret_cast<const char16_t*>(shortForm));
}

FileHandle openForReading(const char16_t* path) {
    return openWith(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

FileHandle createForWriting(const char16_t* path) {
    return openWith(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
}

int64_t readFile(FileHandle file, void* buffer, uint32_t count) {
    if (!valid(file)) return -1;
    DWORD done = 0;
    if (!ReadFile(h(file), buffer, count, &done, nullptr)) return -1;
    return done;
}

bool writeFile(FileHandle file, const void* buffer, uint32_t count) {
    if (!valid(file)) return false;
    DWORD done = 0;
    return WriteFile(h(file), buffer, count, &done, nullptr) && done == count;
}

bool seekFile(FileHandle file, int64_t distance, Seek origin) {
    if (!valid(file)) return false;
    LARGE_INTEGER d;
    d.QuadPart = distance;
    return SetFilePointerEx(h(file), d, nullptr, origin == Seek::Begin ? FILE_BEGIN : FILE_CURRENT);
}

int64_t filePosition(FileHandle file) {
    if (!valid(file)) return -1;
    LARGE_INTEGER zero, now;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(h(file), zero, &now, FILE_CURRENT)) return -1;
    return now.QuadPart;
}

int64_t fileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!valid(file) || !GetFileSizeEx(h(file), &size)) return -1;
    return size.QuadPart;
}

void closeFile(FileHandle file) {
    if (valid(file)) CloseHandle(h(file));
}

bool deleteFile(const char16_t* path) {
    return DeleteFileW(w(systemPath(path).c_str()));
}

PathKind pathKind(const char16_t* path) {
    DWORD a = GetFileAttributesW(w(systemPath(path).c_str()));
    if (a == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    return (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

bool createFolder(const char16_t* path) {
    return CreateDirectoryW(w(systemPath(path).c_str()), nullptr);
}

bool setCurrentDirectory(const char16_t* path) {
    return SetCurrentDirectoryW(w(path));
}

WideString currentDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    return fromPathBuffer(buffer, GetCurrentDirectoryW(MAX_PATH, buffer));
}

WideString programFilesFolder() {
    wchar_t buffer[MAX_PATH] = {};
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetFolderLocation(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, &list)))
        return WideString(u"");
    BOOL ok = SHGetPathFromIDListW(list, buffer);
    CoTaskMemFree(list);
    return ok ? WideString(reinterpret_cast<const char16_t*>(buffer)) : WideString(u"");
}

bool hasDrive(const char16_t* path) {
    return path && path[0] && path[1] == u':' &&
           ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
}

WideString absolutePath(const char16_t* path) {
    DWORD need = GetFullPathNameW(w(path), 0, nullptr, nullptr);
    if (need == 0) return WideString(path);
    char16_t* buffer = allocateText(need);
    DWORD got = GetFullPathNameW(w(path), need, reinterpret_cast<wchar_t*>(buffer), nullptr);
    if (got == 0 || got >= need) {
        delete[] buffer;
        return WideString(path);
    }
    return WideString::adopt(buffer);
}

uint32_t lastError() {
    return GetLastError();
}
void setLastError(uint32_t code) {
    SetLastError(code);
}
bool lastErrorIsAlreadyExists() {
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

WideString systemErrorText(uint32_t code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0,
                   nullptr);
    if (!text) {
        // No text for the code: show its number, so the box is never blank.
        char16_t number[32] = u"Error ";
        char16_t digits[12];
        int n = 0;
        do digits[n++] = static_cast<char16_t>(u'0' + code % 10);
        while ((code /= 10) != 0);
        int at = 6;
        while (n) number[at++] = digits[--n];
        number[at] = 0;
        return WideString(number);
    }
    WideString result(reinterpret_cast<const char16_t*>(text));
    LocalFree(text);
    return result;
}

WideString ansiToUtf16(const char* bytes, size_t count) {
    int need = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), nullptr, 0);
    if (need < 0) need = 0;
    char16_t* buffer = allocateText(static_cast<size_t>(need));
    if (need)
        MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count),
                            reinterpret_cast<wchar_t*>(buffer), need);
    return WideString::adopt(buffer);
}

uint64_t availablePhysicalMemory() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    return status.ullAvailPhys;
}

uint8_t* allocateBuffer(size_t size) {
    return new (std::nothrow) uint8_t[size];
}

void* allocatePages(size_t size) {
    if (size == 0) return nullptr;
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void freePages(void* pages, size_t) {
    if (pages) VirtualFree(pages, 0, MEM_RELEASE);
}

bool setFileTime(const char16_t* path, int64_t modified) {
    // Times before 1970 are left to the file system, as the C runtime does.
    if (modified < 0) return false;
    FileHandle file = openWith(path, FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (file == kNoFile) return false;
    // 100-nanosecond steps since 1601, in UTC like the time given.
    ULARGE_INTEGER ticks;
    ticks.QuadPart = (static_cast<uint64_t>(modified) + 11644473600ull) * 10000000ull;
    FILETIME time;
    time.dwLowDateTime = ticks.LowPart;
    time.dwHighDateTime = ticks.HighPart;
    const bool ok = SetFileTime(h(file), nullptr, &time, &time);
    closeFile(file);
    return ok;
}

int32_t timezoneOffset() {
    // msvcrt.dll of 32-bit Windows has no _get_timezone; _timezone after
    // _tzset gives the same value.
    _tzset();
    return static_cast<int32_t>(_timezone);
}

bool startThread(void (*entry)(void*), void* argument) {
    return _beginthread(entry, 0, argument) != static_cast<uintptr_t>(-1);
}

void exitProcess(int status) {
    ExitProcess(static_cast<UINT>(status));
}

std::size_t toUtf8(const char16_t* text, char* out, std::size_t outSize) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w(text), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return 0;
    if (outSize > 0) {
        char* whole = new (std::nothrow) char[n];
        if (!whole) return 0;
        WideCharToMultiByte(CP_UTF8, 0, w(text), -1, whole, n, nullptr, nullptr);
        const std::size_t copy = static_cast<std::size_t>(n) < outSize ? n : outSize;
        for (std::size_t i = 0; i < copy; ++i) out[i] = whole[i];
        out[copy - 1] = 0;
        delete[] whole;
    }
    return static_cast<std::size_t>(n - 1);
}

WideString fromUtf8(const char* text) {
    if (!text) return WideString();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return WideString(u"");
    wchar_t* buffer = new (std::nothrow) wchar_t[n];
    if (!buffer) return WideString(u"");
    MultiByteToWideChar(CP_UTF8, 0, text, -1, buffer, n);
    WideString result(reinterpret_cast<const char16_t*>(buffer));
    delete[] buffer;
    return result;
}

}  // namespace qorn::platform
