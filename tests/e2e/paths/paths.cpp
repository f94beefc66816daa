// qorn-paths: the Win32 side of path handling, as a console test run under
// Wine. Wine itself takes ordinary paths of any length, which Windows
// refuses past MAX_PATH, so a run of the stub alone cannot show that long
// paths reach the system in a form Windows takes: this checks the form
// itself, then folders, files, times and deletion through it at depths past
// MAX_PATH, and a path past the system's limit being refused and reported.
//
// Prints one line per failed check and "N passed, N failed"; exit status 0
// when every check passed.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/failure.h"
#include "extract/entry_paths.h"
#include "platform/platform.h"

using namespace qorn;

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL: %s\n", what);
    }
}

const char16_t* u(const std::wstring& text) {
    return reinterpret_cast<const char16_t*>(text.c_str());
}
std::wstring w(const WideString& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// What the system should be given for a relative path below the current
// directory: "\\?\", the directory, the path with backslashes and no ".".
std::wstring expectedForm(const std::wstring& directory, std::wstring relative) {
    for (wchar_t& c : relative)
        if (c == L'/') c = L'\\';
    for (size_t at; (at = relative.find(L"\\.\\")) != std::wstring::npos;) relative.erase(at, 2);
    std::wstring full = L"\\\\?\\" + directory;
    if (full.back() != L'\\') full += L'\\';
    return full + relative;
}

class LastBox : public RunReporter {
  public:
    std::wstring text;
    void messageBox(BoxOwner, const char16_t* t, const char16_t*, uint32_t) override {
        text = reinterpret_cast<const wchar_t*>(t);
    }
};

}  // namespace

int wmain() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root =
        std::wstring(temp) + L"qorn-paths-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(root.c_str(), nullptr);
    check(SetCurrentDirectoryW(root.c_str()) != 0, "enter the work folder");
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);

    // Short paths go to the system as they are.
    check(w(platform::systemPath(u"a/b.txt")) == L"a/b.txt", "a short path is left alone");

    // Six folders of 61 characters: the path passes MAX_PATH on its own.
    std::wstring folder;
    for (int i = 0; i < 6; ++i) folder += std::wstring(60, L'd') + std::to_wstring(i) + L"/";
    const std::wstring file = folder + L"./member.txt";
    check(w(platform::systemPath(u(file))) == expectedForm(current, file),
          "a long relative path becomes \\\\?\\ + full path with backslashes and no '.'");
    const std::wstring share = L"\\\\server\\share\\" + std::wstring(300, L'u');
    check(w(platform::systemPath(u(share))) ==
              L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'u'),
          "a long UNC path takes the \\\\?\\UNC\\ form");
    const std::wstring drive = L"C:\\" + std::wstring(300, L'x');
    check(w(platform::systemPath(u(drive))) == L"\\\\?\\" + drive,
          "a long absolute path keeps its drive");
    const std::wstring prefixed = L"\\\\?\\C:\\" + std::wstring(300, L'x');
    check(w(platform::systemPath(u(prefixed))) == prefixed, "a \\\\?\\ path is kept as it is");

    // The extraction steps at that depth: folders, the file, its time.
    BinaryFile* out = createOutputFile(u(file));
    check(out != nullptr, "create a file below a path past MAX_PATH");
    if (out) {
        check(out->write("data", 4), "write it");
        delete out;
    }
    ArchiveEntry entry;
    entry.modifiedTime = 1000000000;  // 2001-09-09 01:46:40 UTC
    applyEntryTime(u(file), entry);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    const std::wstring longForm = expectedForm(current, file);
    check(GetFileAttributesExW(longForm.c_str(), GetFileExInfoStandard, &data) != 0,
          "the file is there under its \\\\?\\ form");
    const uint64_t ticks = (1000000000ull + 11644473600ull) * 10000000ull;
    check(data.nFileSizeLow == 4 && data.ftLastWriteTime.dwLowDateTime == uint32_t(ticks) &&
              data.ftLastWriteTime.dwHighDateTime == uint32_t(ticks >> 32),
          "its size and modification time");
    check(platform::pathKind(u(file)) == platform::PathKind::File, "pathKind sees the file");
    check(createFolderTree(u(folder + L"sub/deeper")), "a folder tree past MAX_PATH");
    check(platform::pathKind(u(folder + L"sub/deeper")) == platform::PathKind::Folder,
          "pathKind sees the folder");

    // The shell gets a form below MAX_PATH naming the same file, or none.
    WideString shell = platform::shellPath(u(file));
    if (shell.isEmpty())
        check(GetLastError() != 0, "no short form: the reason is set");
    else
        check(shell.length() < MAX_PATH && GetFileAttributesW(reinterpret_cast<const wchar_t*>(
                                               shell.c_str())) != INVALID_FILE_ATTRIBUTES,
              "the short form names the file");
    check(w(platform::shellPath(u"short.txt")) == L"short.txt", "short paths reach the shell");

    check(platform::deleteFile(u(file)), "delete the file");
    check(platform::pathKind(u(file)) == platform::PathKind::Missing, "it is gone");

    // Past the system's limit of 32,767 characters nothing can be made, and
    // the report names the path along with the system's reason.
    std::wstring huge;
    while (huge.size() < 33000) huge += std::wstring(200, L'h') + L"/";
    huge += L"x";
    SetLastError(0);
    check(!createFolderTree(u(huge)), "a path past 32,767 characters is refused");
    check(platform::lastError() != 0, "with the system's reason");
    LastBox box;
    showPathError(box, u(huge));
    const std::wstring end = L"\u2026" + huge.substr(huge.size() - 119) + L"\n";
    check(box.text.compare(0, end.size(), end) == 0 && box.text.size() > end.size() + 2,
          "the report names the path by its end and gives a reason");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
