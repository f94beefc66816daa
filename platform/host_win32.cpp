#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/host_files.h"
#include "platform/platform.h"

namespace qorn::encode::host {

namespace {

thread_local DWORD lastError = 0;
thread_local int lastErrno = 0;  // when a C runtime call failed instead

bool failed() {
    lastError = GetLastError();
    lastErrno = 0;
    return false;
}

std::wstring wide(const std::string& text) {
    const WideString w = platform::fromUtf8(text.c_str());
    return std::wstring(reinterpret_cast<const wchar_t*>(w.c_str()), w.length());
}

std::string narrow(const char16_t* text) {
    std::string out(platform::toUtf8(text, nullptr, 0) + 1, '\0');
    platform::toUtf8(text, &out[0], out.size());
    out.pop_back();
    return out;
}

int64_t unixTime(const FILETIME& t) {
    const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000) - 11644473600LL;
}

std::u16string fullPath(const std::wstring& path) {
    wchar_t buffer[32768];
    const DWORD n = GetFullPathNameW(path.c_str(), 32768, buffer, nullptr);
    if (n == 0 || n >= 32768) return u"";
    CharUpperBuffW(buffer, n);
    return std::u16string(reinterpret_cast<const char16_t*>(buffer), n);
}

}  // namespace

FILE* openFile(const std::string& path, const char* mode) {
    FILE* f = _wfopen(wide(path).c_str(), wide(mode).c_str());
    if (!f) lastErrno = errno;
    return f;
}

namespace {

// A C stream over an open handle; null (the handle closed, errno kept)
// when the runtime cannot make one.
FILE* streamOf(HANDLE h, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), 0);
    FILE* f = fd < 0 ? nullptr : _fdopen(fd, mode);
    if (!f) {
        lastErrno = errno;
        if (fd < 0)
            CloseHandle(h);
        else
            _close(fd);
    }
    return f;
}

}  // namespace

FILE* createNewFile(const std::string& path, bool& taken) {
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        taken = GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
        return failed(), nullptr;
    }
    taken = false;
    FILE* f = streamOf(h, "wb");
    if (!f) DeleteFileW(wide(path).c_str());
    return f;
}

FILE* temporaryFile() {
    wchar_t folder[MAX_PATH + 1], name[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"qsx", 0, name))
        return failed(), nullptr;
    HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return failed(), nullptr;
    return streamOf(h, "w+b");
}

bool renameFile(const std::string& from, const std::string& to) {
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) || failed();
}

bool removeFile(const std::string& path) {
    return DeleteFileW(wide(path).c_str()) || failed();
}

bool pathInfo(const std::string& path, PathInfo& info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) return failed();
    const DWORD a = data.dwFileAttributes;
    info.kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? Kind::Link
                : (a & FILE_ATTRIBUTE_DIRECTORY)   ? Kind::Folder
                : (a & FILE_ATTRIBUTE_DEVICE)      ? Kind::Other
                                                   : Kind::File;
    info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.modified = unixTime(data.ftLastWriteTime);
    return true;
}

bool listFolder(const std::string& path, std::vector<std::string>& names) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(wide(path + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return failed();
    do {
        if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0)
            names.push_back(narrow(reinterpret_cast<const char16_t*>(found.cFileName)));
    } while (FindNextFileW(h, &found));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    if (!complete) failed();
    FindClose(h);
    return complete;
}

std::string errorText() {
    if (lastErrno) return std::strerror(lastErrno);
    return narrow(platform::systemErrorText(lastError).c_str());
}

SameFile::SameFile(FILE* file) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    wchar_t buffer[32768];
    const DWORD n = GetFinalPathNameByHandleW(h, buffer, 32768, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= 32768) return;
    // "\\?\C:\..." names the same file as "C:\...".
    const wchar_t* p = buffer;
    if (std::wcsncmp(p, L"\\\\?\\UNC\\", 8) == 0)
        path_ = fullPath(std::wstring(L"\\\\") + (p + 8));
    else
        path_ = fullPath(std::wcsncmp(p, L"\\\\?\\", 4) == 0 ? p + 4 : p);
    known_ = !path_.empty();
}

bool SameFile::is(const std::string& path, const PathInfo&) const {
    return known_ && fullPath(wide(path)) == path_;
}

bool toCodePage(const std::string& text, const std::string& codePage, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    // iconv names of the code pages Windows knows by number.
    std::string name;
    for (char c : codePage) name += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    UINT number = 0;
    if (name == "SHIFT_JIS" || name == "SHIFT-JIS" || name == "SJIS")
        number = 932;
    else if (name == "UTF-8" || name == "UTF8")
        number = CP_UTF8;
    else {
        const char* digits = name.rfind("CP", 0) == 0         ? name.c_str() + 2
                             : name.rfind("WINDOWS-", 0) == 0 ? name.c_str() + 8
                                                              : nullptr;
        if (!digits || !*digits) return false;
        for (const char* d = digits; *d; ++d) {
            if (*d < '0' || *d > '9' || number > 65535) return false;
            number = number * 10 + static_cast<UINT>(*d - '0');
        }
    }
    const std::wstring w = wide(text);
    BOOL lossy = FALSE;
    const bool utf8 = number == CP_UTF8;
    const int n = WideCharToMultiByte(number, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, w.c_str(),
                                      static_cast<int>(w.size()), nullptr, 0, nullptr,
                                      utf8 ? nullptr : &lossy);
    if (n <= 0 || lossy) return false;
    out.resize(static_cast<size_t>(n));
    WideCharToMultiByte(number, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, w.c_str(),
                        static_cast<int>(w.size()), &out[0], n, nullptr, utf8 ? nullptr : &lossy);
    return !lossy;
}

}  // namespace qorn::encode::host
