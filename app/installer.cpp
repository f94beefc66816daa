#include "app/installer.h"

#include <shellapi.h>
#include <shlobj.h>

#include "app/extractor_window.h"
#include "app/win32_handles.h"
#include "base/failure.h"
#include "platform/platform.h"

namespace qorn::app {

const char16_t* runProgram = nullptr;
const char16_t* runArguments = nullptr;

namespace {

// Writable, so that it goes with the few bytes of .data instead of making
// .rdata a page longer.
wchar_t folderPrefix[] = L"qsf";

// The path of what is being removed, in the "\\?\" form when it has a
// drive, so that no depth of folders is too deep; in .bss, which costs the
// file nothing.
constexpr size_t kTreeUnits = 32768 + 8;
wchar_t treePath[kTreeUnits];

// The line after the program name, as written: the program name ends at
// its closing quote, or at the first blank when it has none.
const char16_t* argumentsOf(const char16_t* line) {
    const char16_t end = *line == u'"' ? u'"' : u' ';
    if (*line == u'"') ++line;
    while (*line && *line != end && *line != u'\t') ++line;
    if (*line == u'"') ++line;
    while (*line == u' ' || *line == u'\t') ++line;
    return line;
}

bool isDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// Removes the folder treePath[0, rootLength) and all it holds. Without
// recursion, so that no depth exhausts the stack: it goes down into the
// first folder it meets, and back up when a folder is empty. A folder that
// stays (a file in it held open) ends the attempt.
bool removeTree(size_t rootLength) {
    size_t length = rootLength;
    for (;;) {
        treePath[length] = L'\\';
        treePath[length + 1] = L'*';
        treePath[length + 2] = 0;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW(treePath, &found);
        size_t inner = 0;
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (isDotOrDotDot(found.cFileName)) continue;
                size_t end = length + 1;
                for (const wchar_t* name = found.cFileName; *name && end < kTreeUnits - 3;)
                    treePath[end++] = *name++;
                treePath[end] = 0;
                const DWORD attributes = found.dwFileAttributes;
                // A link is removed as a link, never entered.
                if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                    FILE_ATTRIBUTE_DIRECTORY) {
                    inner = end;
                    break;
                }
                if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveDirectoryW(treePath);
                    continue;
                }
                // A member may have been stored read-only.
                if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                    FILE_ATTRIBUTE_READONLY)
                    SetFileAttributesW(treePath, FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(treePath);
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        if (inner) {
            length = inner;
            continue;
        }
        treePath[length] = 0;
        if (!RemoveDirectoryW(treePath)) return false;
        if (length == rootLength) return true;
        while (treePath[--length] != L'\\') {
        }
    }
}

}  // namespace

WideString createRunFolder() {
    wchar_t temporary[MAX_PATH];
    wchar_t name[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temporary);
    if (length == 0 || length >= MAX_PATH) return WideString(u"");
    // The system makes a file of a name no one has; it becomes the folder.
    // A folder someone makes under that name meanwhile is not taken over:
    // CreateDirectoryW fails on any that exists.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (!GetTempFileNameW(temporary, folderPrefix, 0, name)) break;
        DeleteFileW(name);
        if (CreateDirectoryW(name, nullptr)) return WideString(reinterpret_cast<char16_t*>(name));
    }
    return WideString(u"");
}

int runInstallerProgram(const WideString& folder, const char16_t* passedOn, bool silent) {
    WideString program(folder);
    program.appendChar(u'\\');
    program.append(runProgram);
    WideString parameters(runArguments);
    if (passedOn && *passedOn) {
        if (!parameters.isEmpty()) parameters.appendChar(u' ');
        parameters.append(passedOn);
    }
    // The shell starts what CreateProcessW would not: a program whose
    // manifest asks for elevation, a batch file, a package. It takes no path
    // of MAX_PATH or more: a longer one goes in its short form.
    const WideString file = platform::shellPath(program.c_str());
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof(run);
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | (silent ? SEE_MASK_FLAG_NO_UI : 0);
    run.lpFile = wide(file.c_str());
    run.lpParameters = wide(parameters.c_str());
    run.lpDirectory = wide(folder.c_str());
    run.nShow = SW_SHOWNORMAL;
    if (file.isEmpty() || !ShellExecuteExW(&run)) return kExitSwitchAfterRun;
    // The shell may hand a document to a program already running: there
    // is then nothing to wait for, and nothing failed.
    if (!run.hProcess) return kExitDone;
    DWORD status = kExitSwitchAfterRun;
    WaitForSingleObject(run.hProcess, INFINITE);
    GetExitCodeProcess(run.hProcess, &status);
    CloseHandle(run.hProcess);
    return static_cast<int>(status);
}

int runInstaller(HINSTANCE instance, const char16_t* commandLine) {
    // Its switches are the program's to read; /S quietens the extraction too.
    runMode.switches = true;
    const WideString folder = createRunFolder();
    if (folder.isEmpty()) {
        if (!runMode.silent)
            MessageBoxW(nullptr, wide(kTextCannotCreateFolder), nullptr, MB_ICONWARNING);
        return kExitSwitchCannotCreate;
    }
    int status = kExitSwitchDamaged;
    {
        ExtractorWindow window(instance);
        if (window.created()) {
            // No dialog and no shortcuts; the program opens nothing.
            window.settings.present = false;
            window.destinationFolder = folder;
            status = runMessageLoop();
        }
    }
    // The windows are gone: nothing of ours can keep a program that sends
    // to every window waiting. Nothing is run from a damaged or incomplete
    // extraction.
    if (status == kExitDone)
        status = runInstallerProgram(folder, argumentsOf(commandLine), runMode.silent);
    if (!removeRunFolder(folder) && status == kExitDone) status = kExitFolderLeft;
    return status;
}

bool removeRunFolder(const WideString& folder) {
    // The process must not stand in what it removes.
    wchar_t temporary[MAX_PATH];
    if (GetTempPathW(MAX_PATH, temporary)) SetCurrentDirectoryW(temporary);
    const char16_t* from = folder.c_str();
    size_t length = 0;
    if (from[1] == u':') {
        treePath[0] = treePath[1] = treePath[3] = L'\\';
        treePath[2] = L'?';
        length = 4;
    }
    while (*from) treePath[length++] = static_cast<wchar_t>(*from++);
    // Whatever the program started may still hold a file for a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (removeTree(length)) return true;
        Sleep(250);
    }
    return false;
}

}  // namespace qorn::app
