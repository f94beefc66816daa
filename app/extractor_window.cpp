// The progress window: start-up, its controls, the run from the start
// message to the window's end.
#include "app/extractor_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/resource_ids.h"
#include "app/texts.h"
#include "app/win32_handles.h"
#include "decode/decode_session.h"
#include "payload/sfx_settings.h"
#include "platform/platform.h"

namespace qorn::app {

HINSTANCE instanceHandle = nullptr;
bool classRegistered = false;
HWND progressBar = nullptr;

namespace {

const wchar_t kClassName[] = L"QORNSFXCLASS";

// The ExtractorWindow of the progress window, taken at WM_CREATE.
ExtractorWindow* windowObject = nullptr;

bool initialiseCommonControls() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    return InitCommonControlsEx(&controls) != FALSE;
}

// The program's own file, at the settings block. A path that does not fit
// the buffer counts as a failure: a cut path could name some other file.
bool openPayload(ExtractorWindow& window) {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        if (length >= MAX_PATH) SetLastError(ERROR_INSUFFICIENT_BUFFER);
        showLastError(window);
        return false;
    }
    BinaryFile* file = BinaryFile::openForReading(reinterpret_cast<const char16_t*>(path));
    if (!file) {
        // Kept like an opened one, so that its state stays with the window.
        showLastError(window);
        window.payloadFile = new BinaryFile();
        return false;
    }
    window.payloadFile = file;
    if (!file->moveTo(PayloadOffset)) {
        showLastError(window);
        return false;
    }
    if (!readSettings(*file, window.settings)) return false;
    window.destinationFolder = window.settings.destination;
    return true;
}

bool registerWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = extractorWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    return RegisterClassExW(&windowClass) != 0;
}

HWND createChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int x,
                 int y, int width, int height, int id, bool guiFont) {
    HWND child =
        CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                        parent, reinterpret_cast<HMENU>(INT_PTR{id}), instanceHandle, nullptr);
    if (child && guiFont)
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                     0);
    return child;
}

int systemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);  // 0 without a screen
    ReleaseDC(nullptr, screen);
    return dpi ? dpi : 96;
}

}  // namespace

bool initialiseOnce(HINSTANCE instance, ExtractorWindow& window) {
    instanceHandle = instance;
    if (!initialiseCommonControls()) {
        showLastError(window);
        return false;
    }
    if (!openPayload(window)) return false;
    if (!registerWindowClass(instance)) return false;
    classRegistered = true;
    return true;
}

ExtractorWindow::ExtractorWindow(HINSTANCE instance) {
    reporter = this;
    allocationReporter = this;
    if (!classRegistered && !initialiseOnce(instance, *this)) return;

    POINT pointer = {};
    GetCursorPos(&pointer);
    // The layout is in pixels at 96 dots per inch, scaled to the system's:
    // the program is DPI-aware (its manifest says so), and the font and
    // the frame grow with the setting.
    const int dpi = systemDpi();
    auto px = [dpi](int v) { return (v * dpi + 48) / 96; };
    // Centred on the pointer and just below it; deliberately not pulled back
    // onto the screen.
    mainWindow =
        CreateWindowExW(0, kClassName, wide(kCaptionDefault), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                        pointer.x - px(128), pointer.y + px(32), px(256), px(114), nullptr, nullptr,
                        instance, this);
    if (!mainWindow) return;
    statusLabel =
        createChild(mainWindow, L"Static", nullptr, 0, px(7), px(5), px(226), px(15), 0, true);
    if (!statusLabel) return;
    // The bar keeps its default range 0..100: the worker reports percentages.
    progressBar = createChild(mainWindow, PROGRESS_CLASSW, nullptr, PBS_SMOOTH, px(7), px(23),
                              px(226), px(20), 0, false);
    if (!progressBar) return;
    abortButton = createChild(mainWindow, L"Button", wide(textAbort), WS_TABSTOP, px(84), px(50),
                              px(88), px(19), IDC_ABORT, true);
    if (!abortButton) return;
    ShowWindow(mainWindow, SW_HIDE);
    UpdateWindow(mainWindow);
    // Nothing of the run happens in here: it starts when the loop runs.
    if (!PostMessageW(mainWindow, BeginRunMessage, 0, 0)) return;
    created_ = true;
}

ExtractorWindow::~ExtractorWindow() {
    // BinaryFile closes its own handle (when it is neither null nor invalid).
    delete payloadFile;
    payloadFile = nullptr;
}

int runMessageLoop() {
    MSG message = {};
    BOOL result;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        // Escape in the progress window (its abort button has the focus)
        // asks to stop the run, as closing the window does. The dialog and
        // the boxes have loops of their own: what comes here is the
        // progress window's.
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
            PostMessageW(windowObject->mainWindow, WM_CLOSE, 0, 0);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // -1 is an error of the loop itself, not a quit code.
    return result < 0 ? kExitNoWindow : static_cast<int>(message.wParam);
}

void ExtractorWindow::beginRun() {
    // A silent run takes the destination and the shortcuts the dialog
    // would have proposed.
    if (settings.present && !runMode.silent &&
        DialogBoxParamW(instanceHandle, MAKEINTRESOURCEW(IDD_DESTINATION), mainWindow,
                        destinationDialogProc, reinterpret_cast<LPARAM>(this)) != 0) {
        DestroyWindow(mainWindow);
        return;
    }
    SetWindowTextW(mainWindow, wide(settings.title.c_str()));
    if (!runMode.silent) {
        ShowWindow(mainWindow, SW_SHOW);
        // Space presses the abort button, Escape asks to stop.
        SetFocus(abortButton);
    }
    if (!startWorker()) DestroyWindow(mainWindow);
}

bool ExtractorWindow::startWorker() {
    if (!enterDestination(destinationFolder.c_str())) return false;
    if (!startExtraction(*this)) {
        // Without a worker the window would wait for nothing: say why, end.
        runStatus = kExitSwitchOutOfMemory;
        showLastError(*this);
        return false;
    }
    workerRunning = true;
    return true;
}

void ExtractorWindow::showStatus(const char16_t* text) {
    // PathCompactPathW shortens in place and takes at most MAX_PATH
    // characters: a longer path is shown by its end behind an ellipsis. The
    // sender's text stays as it is; this is for the label only.
    size_t length = textLength(text);
    char16_t* copy = allocateText(kMaxPath);
    size_t at = 0;
    if (length >= kMaxPath) {
        text += length - (kMaxPath - 3);
        length = kMaxPath - 3;
        copy[at++] = u'\u2026';
        copy[at++] = u'/';
    }
    for (size_t i = 0; i < length; ++i) copy[at++] = text[i];
    WindowDC dc(statusLabel);
    if (dc.get()) {
        RECT client = {};
        GetClientRect(statusLabel, &client);
        // Measured in the DC as obtained, without the label's font.
        PathCompactPathW(dc.get(), wide(copy), static_cast<UINT>(client.right - client.left));
        SetWindowTextW(statusLabel, wide(copy));
    }
    delete[] copy;
}

void ExtractorWindow::completeRun() {
    workerRunning = false;
    runStatus = failed ? failureStatus : kExitDone;
    if (failed) {
        DestroyWindow(mainWindow);
        return;
    }
    if (settings.present) registerShortcuts();
    // Nobody may be at the screen of a silent run to see what would open.
    if (!settings.openFile.isEmpty() && !runMode.silent) openFileAfterRun();
    // Every member is there; what failed after them has a status of its own.
    if (failed) runStatus = kExitSwitchAfterRun;
    DestroyWindow(mainWindow);
}

void ExtractorWindow::abortedRun() {
    workerRunning = false;
    if (currentFile.hasText()) platform::deleteFile(currentFile.c_str());
    DestroyWindow(mainWindow);
}

void ExtractorWindow::openFileAfterRun() {
    // The backslash goes in even after a drive root ("C:\\x" still opens).
    WideString path(destinationFolder);
    path.appendChar(u'\\');
    path.append(settings.openFile);
    // The shell takes no path of MAX_PATH or more: a longer one goes in its
    // short form, and one that has none is reported, never cut.
    WideString shell = platform::shellPath(path.c_str());
    if (shell.isEmpty()) {
        showPathError(*this, path.c_str());
        failed = true;
        return;
    }
    // The shell tells the user itself when it cannot open the file.
    if (reinterpret_cast<INT_PTR>(ShellExecuteW(mainWindow, nullptr, wide(shell.c_str()), nullptr,
                                                nullptr, SW_SHOWNORMAL)) <= 32)
        failed = true;
}

void ExtractorWindow::memberStarted(const char16_t* path) {
    SendMessageW(mainWindow, MemberStartedMessage, 0, reinterpret_cast<LPARAM>(path));
}

void ExtractorWindow::progressPosition(uint32_t position) {
    SendMessageW(progressBar, PBM_SETPOS, position, 0);
}

void ExtractorWindow::messageBox(BoxOwner owner, const char16_t* text, const char16_t* caption,
                                 uint32_t flags) {
    // Every box of a run comes through here; a silent run shows none, its
    // exit status tells what happened.
    if (runMode.silent) return;
    MessageBoxW(owner == BoxOwner::MainWindow ? mainWindow : nullptr, wide(text),
                caption ? wide(caption) : nullptr, flags);
}

void ExtractorWindow::itemCreated(const char16_t* fullPath) {
    SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, fullPath, nullptr);
}

void ExtractorWindow::runEnded(bool aborted) {
    PostMessageW(mainWindow, aborted ? RunAbortedMessage : RunFinishedMessage, 0, 0);
}

LRESULT CALLBACK extractorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            windowObject = static_cast<ExtractorWindow*>(
                reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(runMode.switches ? windowObject->runStatus : kExitDone);
            return 0;
        case WM_CLOSE:
            // While the worker runs, closing (Alt+F4, the close button, Escape)
            // means aborting once the user says so: the window goes when the
            // worker has stopped and said so, never from under it. The run
            // goes on while the question is open and may end meanwhile.
            if (windowObject && windowObject->workerRunning) {
                if (runMode.silent ||
                    MessageBoxW(window, wide(textAskAbort),
                                wide(windowObject->settings.title.c_str()),
                                MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
                    keepRunning.store(0, std::memory_order_relaxed);
            } else {
                DestroyWindow(window);
            }
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_ABORT) keepRunning.store(0, std::memory_order_relaxed);
            return 0;
        case BeginRunMessage:
            windowObject->beginRun();
            return 0;
        case MemberStartedMessage:
            windowObject->showStatus(reinterpret_cast<const char16_t*>(lParam));
            return 0;
        case RunFinishedMessage:
            windowObject->completeRun();
            return 0;
        case RunAbortedMessage:
            windowObject->abortedRun();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace qorn::app
