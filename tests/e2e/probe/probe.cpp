// qorn-probe: reads and drives the stub's windows from a test, inside the
// same Wine prefix. Control ids instead of screen coordinates: a click by id
// reaches a button even when a message box covers it.
//
//   qorn-probe COMMAND [--title T] [--class C] [--control ID] [--timeout MS] ARGS
//   find               the window's handle and title
//   dump               the window and every child: id, class, state, text
//   click ID           press a button
//   check ID 0|1       set a check box
//   settext ID TEXT    put a text into a control
//   progress           position and range of the first progress bar
//   close              ask the window to close (WM_CLOSE)
//   windows [UNTIL]    every top-level window of the prefix, watched until the
//                      file UNTIL exists or the timeout: class, visible or
//                      hidden, title; listed again when it becomes visible
//   fileinfo FILE      the version texts of an executable and the icons its
//                      group 102 gives for 16, 32 and 48 pixels (no window)
//
// Every other command waits up to the timeout (default 10 s) for a visible
// top-level window that matches all selectors. Exit status 0, or 1 when no
// window appeared, 2 on a usage error. Output is UTF-8.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <initializer_list>

namespace {

struct Selector {
    const wchar_t* title = nullptr;
    const wchar_t* className = nullptr;
    int control = -1;
    HWND found = nullptr;
};

void write(const wchar_t* text) {
    char buffer[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    if (n <= 1) return;
    DWORD done;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, static_cast<DWORD>(n - 1), &done, nullptr);
}

void writef(const wchar_t* format, ...) {
    wchar_t buffer[4096];
    va_list args;
    va_start(args, format);
    _vsnwprintf(buffer, 4095, format, args);
    va_end(args);
    buffer[4095] = 0;
    write(buffer);
}

BOOL CALLBACK matchWindow(HWND window, LPARAM param) {
    Selector& s = *reinterpret_cast<Selector*>(param);
    if (!IsWindowVisible(window)) return TRUE;
    wchar_t text[512];
    if (s.title) {
        GetWindowTextW(window, text, 512);
        if (wcscmp(text, s.title) != 0) return TRUE;
    }
    if (s.className) {
        GetClassNameW(window, text, 512);
        if (wcscmp(text, s.className) != 0) return TRUE;
    }
    if (s.control >= 0 && !GetDlgItem(window, s.control)) return TRUE;
    s.found = window;
    return FALSE;
}

HWND waitFor(Selector& s, DWORD timeout) {
    const DWORD start = GetTickCount();
    for (;;) {
        s.found = nullptr;
        EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        if (GetTickCount() - start > timeout) return nullptr;
        Sleep(100);
    }
}

void describe(HWND window, int id) {
    wchar_t className[128], text[1024] = {};
    GetClassNameW(window, className, 128);
    // GetWindowTextW gives only the creation text of another process's
    // controls; WM_GETTEXT asks the control itself (an edit field's text).
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 2000, &copied))
        GetWindowTextW(window, text, 1024);
    RECT r;
    GetWindowRect(window, &r);
    LRESULT checked = 0;
    if (_wcsicmp(className, L"Button") == 0) checked = SendMessageW(window, BM_GETCHECK, 0, 0);
    writef(L"%d\t%ls\t%ls%ls%ls\t%ld,%ld,%ld,%ld\t%ls\n", id, className,
           IsWindowVisible(window) ? L"visible" : L"hidden",
           IsWindowEnabled(window) ? L",enabled" : L",disabled", checked ? L",checked" : L"",
           r.left, r.top, r.right - r.left, r.bottom - r.top, text);
}

BOOL CALLBACK describeChild(HWND child, LPARAM) {
    describe(child, GetDlgCtrlID(child));
    return TRUE;
}

// A label, button or check box whose text, in the control's own font, is
// wider than the room the control gives it: printed, and counted in
// *lParam. The room of a check box is what its box leaves.
BOOL CALLBACK checkFit(HWND child, LPARAM cut) {
    wchar_t className[64], text[512] = {};
    GetClassNameW(child, className, 64);
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(child, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, &copied);
    const bool button = _wcsicmp(className, L"Button") == 0;
    if (!text[0] || (!button && _wcsicmp(className, L"Static") != 0)) return TRUE;
    HDC dc = GetDC(child);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    RECT need = {};
    DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_SINGLELINE);
    if (old) SelectObject(dc, old);
    ReleaseDC(child, dc);
    RECT room;
    GetClientRect(child, &room);
    LONG width = room.right - room.left;
    const LONG style = GetWindowLongW(child, GWL_STYLE) & 0xF;
    if (button && (style == BS_AUTOCHECKBOX || style == BS_CHECKBOX))
        width -= GetSystemMetrics(SM_CXMENUCHECK) + 4;
    else if (button)
        width -= 4;
    if (need.right - need.left > width) {
        writef(L"cut\t%d\t%ls\tneeds %ld, has %ld\n", GetDlgCtrlID(child), text,
               need.right - need.left, width);
        ++*reinterpret_cast<int*>(cut);
    }
    return TRUE;
}

BOOL CALLBACK findProgress(HWND child, LPARAM param) {
    wchar_t className[64];
    GetClassNameW(child, className, 64);
    if (wcscmp(className, PROGRESS_CLASSW) != 0) return TRUE;
    *reinterpret_cast<HWND*>(param) = child;
    return FALSE;
}

// The windows already listed by `windows`, and whether they were visible.
struct Seen {
    HWND window;
    bool visible;
};
Seen seen[1024];
int seenCount = 0;

BOOL CALLBACK noteWindow(HWND window, LPARAM) {
    const bool visible = IsWindowVisible(window) != FALSE;
    int i = 0;
    while (i < seenCount && seen[i].window != window) ++i;
    if (i < seenCount && (seen[i].visible || !visible)) return TRUE;
    if (i == seenCount) {
        if (seenCount == 1024) return FALSE;
        seen[seenCount++] = Seen{window, visible};
    }
    seen[i].visible = visible;
    wchar_t className[128], title[512];
    GetClassNameW(window, className, 128);
    GetWindowTextW(window, title, 512);
    writef(L"%ls\t%ls\t%ls\n", className, visible ? L"visible" : L"hidden", title);
    return TRUE;
}

// Polls often enough to catch a window that is shown for a moment only.
int watchWindows(DWORD timeout, const wchar_t* until) {
    write(L"watching\n");
    const DWORD start = GetTickCount();
    for (;;) {
        const bool last = (until && GetFileAttributesW(until) != INVALID_FILE_ATTRIBUTES) ||
                          GetTickCount() - start > timeout;
        EnumWindows(noteWindow, 0);
        if (last) return 0;
        Sleep(10);
    }
}

// What Explorer reads of a file: its version texts through the version API,
// and for each size the icon Windows picks from the group, loaded as an icon.
int fileInfo(const wchar_t* file) {
    DWORD ignored;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    void* info = size ? std::malloc(size) : nullptr;
    if (!info || !GetFileVersionInfoW(file, 0, size, info)) {
        write(L"no version information\n");
        return 1;
    }
    WORD* translation;
    UINT length;
    if (VerQueryValueW(info, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                       &length) &&
        length >= 4) {
        for (const wchar_t* key : {L"ProductName", L"CompanyName", L"FileDescription",
                                   L"FileVersion", L"ProductVersion"}) {
            wchar_t path[128];
            wchar_t* value;
            _snwprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0],
                       translation[1], key);
            if (VerQueryValueW(info, path, reinterpret_cast<void**>(&value), &length))
                writef(L"%ls\t%ls\n", key, value);
        }
    }
    VS_FIXEDFILEINFO* fixed;
    if (VerQueryValueW(info, L"\\", reinterpret_cast<void**>(&fixed), &length))
        writef(L"fixed\t%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
               LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
               LOWORD(fixed->dwFileVersionLS));
    std::free(info);
    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC group = module ? FindResourceW(module, MAKEINTRESOURCEW(102), RT_GROUP_ICON) : nullptr;
    BYTE* directory =
        group ? static_cast<BYTE*>(LockResource(LoadResource(module, group))) : nullptr;
    if (!directory) {
        write(L"no icon group 102\n");
        return 1;
    }
    for (int pixels : {16, 32, 48}) {
        const int id = LookupIconIdFromDirectoryEx(directory, TRUE, pixels, pixels, 0);
        HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), RT_ICON);
        const DWORD bytes = image ? SizeofResource(module, image) : 0;
        HICON icon = image ? CreateIconFromResourceEx(
                                 static_cast<BYTE*>(LockResource(LoadResource(module, image))),
                                 bytes, TRUE, 0x00030000, 0, 0, 0)
                           : nullptr;
        writef(L"icon %d\t%lu bytes\t%ls\n", pixels, static_cast<unsigned long>(bytes),
               icon ? L"loads" : L"does not load");
        if (icon) DestroyIcon(icon);
    }
    return 0;
}

// Starts a program the way CreateProcessW(path, NULL) does, which leaves
// its command line the bare path, unquoted even when it holds blanks;
// prints its exit status once it has ended.
// launch-limited gives the program the token an administrator's unelevated
// process has on Windows (the Administrators group only to deny access),
// with commandLine as its whole command line.
int launch(const wchar_t* path, const wchar_t* commandLine, bool limited, DWORD timeout) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    HANDLE token = nullptr;
    if (limited) {
        HANDLE own = nullptr;
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof administrators;
        SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own) ||
            !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
            !CreateRestrictedToken(own, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &token)) {
            writef(L"cannot make the token: error %lu\n", GetLastError());
            return 1;
        }
        CloseHandle(own);
    }
    static wchar_t line[4096];
    if (commandLine) lstrcpynW(line, commandLine, 4096);
    const BOOL started =
        token ? CreateProcessAsUserW(token, path, commandLine ? line : nullptr, nullptr, nullptr,
                                     FALSE, 0, nullptr, nullptr, &startup, &process)
              : CreateProcessW(path, commandLine ? line : nullptr, nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &process);
    if (token) CloseHandle(token);
    if (!started) {
        writef(L"cannot start: error %lu\n", GetLastError());
        return 1;
    }
    DWORD status = 259;
    if (WaitForSingleObject(process.hProcess, timeout) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    writef(L"exit %lu\n", status);
    return 0;
}

int usage() {
    write(
        L"usage: qorn-probe "
        L"find|dump|click|check|settext|progress|close|windows|fileinfo|launch|fits|"
        L"launch-limited "
        L"[--title T] [--class C] [--control ID] [--timeout MS] ARGS\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return usage();
    const wchar_t* command = argv[1];
    Selector s;
    DWORD timeout = 10000;
    const wchar_t* rest[4] = {};
    int restCount = 0;
    for (int i = 2; i < argc; ++i) {
        if (i + 1 < argc && wcscmp(argv[i], L"--title") == 0)
            s.title = argv[++i];
        else if (i + 1 < argc && wcscmp(argv[i], L"--class") == 0)
            s.className = argv[++i];
        else if (i + 1 < argc && wcscmp(argv[i], L"--control") == 0)
            s.control = _wtoi(argv[++i]);
        else if (i + 1 < argc && wcscmp(argv[i], L"--timeout") == 0)
            timeout = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (restCount < 4)
            rest[restCount++] = argv[i];
        else
            return usage();
    }
    if (wcscmp(command, L"windows") == 0)
        return restCount <= 1 ? watchWindows(timeout, rest[0]) : usage();
    if (wcscmp(command, L"fileinfo") == 0) return restCount == 1 ? fileInfo(rest[0]) : usage();
    if (wcscmp(command, L"launch") == 0)
        return restCount == 1 ? launch(rest[0], nullptr, false, timeout) : usage();
    if (wcscmp(command, L"launch-limited") == 0)
        return restCount == 2 ? launch(rest[0], rest[1], true, timeout) : usage();
    HWND window = waitFor(s, timeout);
    if (!window) {
        write(L"no such window\n");
        return 1;
    }
    if (wcscmp(command, L"find") == 0) {
        describe(window, 0);
    } else if (wcscmp(command, L"dump") == 0) {
        describe(window, 0);
        EnumChildWindows(window, describeChild, 0);
    } else if (wcscmp(command, L"fits") == 0) {
        int cut = 0;
        EnumChildWindows(window, checkFit, reinterpret_cast<LPARAM>(&cut));
        if (cut) return 1;
        write(L"every text fits\n");
    } else if (wcscmp(command, L"click") == 0 && restCount == 1) {
        HWND button = GetDlgItem(window, _wtoi(rest[0]));
        if (!button) return 1;
        // Does not wait for the click's outcome: it may be a modal box.
        DWORD_PTR result;
        SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 1000, &result);
    } else if (wcscmp(command, L"check") == 0 && restCount == 2) {
        HWND box = GetDlgItem(window, _wtoi(rest[0]));
        if (!box) return 1;
        SendMessageW(box, BM_SETCHECK, _wtoi(rest[1]) ? BST_CHECKED : BST_UNCHECKED, 0);
    } else if (wcscmp(command, L"settext") == 0 && restCount == 2) {
        HWND control = GetDlgItem(window, _wtoi(rest[0]));
        if (!control) return 1;
        SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(rest[1]));
    } else if (wcscmp(command, L"progress") == 0) {
        HWND bar = nullptr;
        EnumChildWindows(window, findProgress, reinterpret_cast<LPARAM>(&bar));
        if (!bar) return 1;
        // The range comes back as results: a PBRANGE pointer would point
        // into this process, not the bar's.
        const int low = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, TRUE, 0));
        const int high = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
        writef(L"%d %d %d\n", static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)), low, high);
    } else if (wcscmp(command, L"close") == 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    } else {
        return usage();
    }
    return 0;
}
