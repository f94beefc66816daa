// The program an installer-mode file runs in the end-to-end tests: it
// writes, to the file its first argument names, its whole command line and
// its working folder (UTF-8, one per line), and exits with the status its
// second argument gives when it is a number (else 7).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 100;
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
