// The stub's entry point: one window, one run, its exit status.
#include <windows.h>

#include "app/extractor_window.h"
#include "app/installer.h"
#include "app/texts.h"
#include "base/command_line.h"
#include "platform/platform.h"

// The command line is the whole one, program name first, as stubEntry
// passes it. Without switches the run is the dialog's, as it always was,
// whatever else the line holds.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    using namespace qorn;
    app::loadTexts(instance);
    const CommandLine switches = parseCommandLine(reinterpret_cast<const char16_t*>(commandLine));
    runMode.switches = switches.given;
    runMode.silent = switches.silent;
    // Nor may the system ask about a drive without a disk.
    if (switches.silent) SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
#ifdef QORN_INSTALLER_MODE
    if (app::runProgram)
        return app::runInstaller(instance, reinterpret_cast<const char16_t*>(commandLine));
#endif
    if (switches.help) {
        if (!switches.silent)
            MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(app::textUsage),
                        reinterpret_cast<const wchar_t*>(kCaptionDefault), MB_ICONINFORMATION);
        return kExitDone;
    }
    // An empty /D= (a script's unset variable) must not send a silent run
    // to the default folder; with the dialog it just leaves the field as is.
    if (switches.silent && switches.destinationEmpty) return kExitSwitchUsage;
    int status;
    {
        app::ExtractorWindow window(instance);
        if (!window.created()) return switches.given ? kExitSwitchDamaged : app::kExitNoWindow;
        // Taken against the directory the caller started us in, before the
        // run moves into the destination. The dialog proposes it.
        if (!switches.destination.isEmpty())
            window.destinationFolder = window.settings.destination =
                platform::absolutePath(switches.destination.c_str());
        status = app::runMessageLoop();
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
