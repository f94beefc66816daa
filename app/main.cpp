// The stub's entry point: one window, one run, its exit status.
#include <windows.h>

#include "app/extractor_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The stub takes no command line and no show command: everything it
    // needs is in its own payload.
    int status;
    {
        qorn::app::ExtractorWindow window(instance);
        if (!window.created()) return qorn::app::kExitNoWindow;
        status = qorn::app::runMessageLoop();
    }
    return status;
}

// The process starts here instead of in the MinGW start-up code, which would
// bring its command-line parsing, TLS callbacks, relocation fix-ups and
// unwind tables: a quarter of the stub's budget for nothing it uses. The C
// runtime DLL initialises itself; the static constructors are run by
// __main, as the start-up code would; the process ends with ExitProcess,
// since the worker thread may still be inside a call the C runtime's exit
// handlers would pull the ground from under.
extern "C" void __main();

extern "C" __attribute__((force_align_arg_pointer)) void WINAPI stubEntry() {
    __main();
    ExitProcess(static_cast<UINT>(
        wWinMain(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), SW_SHOWDEFAULT)));
}
