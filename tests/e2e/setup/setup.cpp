// The program an installer-mode file runs in the end-to-end tests: it
// writes, to the file its first argument names, its whole command line and
// its working folder (UTF-8, one per line), and exits with the status its
// second argument gives when it is a number (else 7).
//
//   setup.exe hold FILE       keeps FILE open, shared with no one, for 8 s
//   setup.exe REPORT N linger starts "setup.exe hold Setup\data\readme.txt" and
//                             ends at once, as a setup launcher may
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 100;
    if (argc == 3 && lstrcmpW(argv[1], L"hold") == 0) {
        HANDLE held = CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        Sleep(8000);
        CloseHandle(held);
        return 0;
    }
    if (argc > 3 && lstrcmpW(argv[3], L"linger") == 0) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        wchar_t line[2 * MAX_PATH];
        wsprintfW(line, L"\"%s\" hold Setup\\data\\readme.txt", self);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (!CreateProcessW(self, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process))
            return 102;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        // Long enough for the file to be open before this program ends.
        Sleep(500);
    }
    FILE* out = _wfopen(argv[1], L"wb");
    if (!out) return 101;
    wchar_t folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    static char text[4 * 32768];
    const wchar_t* lines[] = {GetCommandLineW(), folder};
    for (const wchar_t* line : lines) {
        const int n =
            WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text, nullptr, nullptr);
        if (n > 0) std::fprintf(out, "%s\n", text);
    }
    std::fclose(out);
    return argc > 2 && argv[2][0] >= L'0' && argv[2][0] <= L'9' ? _wtoi(argv[2]) : 7;
}
