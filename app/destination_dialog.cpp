// The destination dialog: the folder to extract into and the shortcuts to
// make; and entering that folder.
#include <shlobj.h>

#include "app/extractor_window.h"
#include "app/resource_ids.h"
#include "app/texts.h"
#include "app/win32_handles.h"
#include "extract/entry_paths.h"
#include "platform/platform.h"

namespace qorn::app {

namespace {

// The dialog's ExtractorWindow; one dialog at a time.
ExtractorWindow* dialogWindow = nullptr;
// Shared by initialisation, OK and browse; the edit field takes 259
// characters and a terminator.
wchar_t pathBuffer[MAX_PATH];

struct OptionBox {
    int id;
    uint8_t SfxSettings::*option;
};
const OptionBox kOptionBoxes[] = {
    {IDC_START_MENU, &SfxSettings::startMenuOptions},
    {IDC_DESKTOP, &SfxSettings::desktopOptions},
    {IDC_SEND_TO, &SfxSettings::sendToOptions},
};

void initialiseDialog(HWND dialog, ExtractorWindow& window) {
    SetWindowTextW(dialog, wide(window.settings.title.c_str()));
    ZeroMemory(pathBuffer, sizeof(pathBuffer));
    lstrcpynW(pathBuffer, wide(window.settings.destination.c_str()), MAX_PATH);
    SetDlgItemTextW(dialog, IDC_FOLDER, pathBuffer);
    for (const OptionBox& box : kOptionBoxes) {
        const uint8_t option = window.settings.*box.option;
        if (option & kOptionCreate) CheckDlgButton(dialog, box.id, BST_CHECKED);
        if (!(option & kOptionChangeable)) EnableWindow(GetDlgItem(dialog, box.id), FALSE);
    }
}

void confirm(HWND dialog, ExtractorWindow& window) {
    ZeroMemory(pathBuffer, sizeof(pathBuffer));
    GetDlgItemTextW(dialog, IDC_FOLDER, pathBuffer, MAX_PATH);
    // Made absolute now: the folder is entered once here and once more when
    // the worker starts, and a relative text would nest a second time. The
    // shortcuts and the file to open also need the full path.
    const char16_t* typed = reinterpret_cast<const char16_t*>(pathBuffer);
    window.destinationFolder = typed[0] ? platform::absolutePath(typed) : WideString(u"");
    if (!window.enterDestination(window.destinationFolder.c_str())) {
        EndDialog(dialog, 1);
        return;
    }
    for (const OptionBox& box : kOptionBoxes) {
        uint8_t& option = window.settings.*box.option;
        if (IsDlgButtonChecked(dialog, box.id) == BST_CHECKED)
            option |= kOptionCreate;
        else
            option &= static_cast<uint8_t>(~kOptionCreate);
    }
    EndDialog(dialog, 0);
}

void browse(HWND dialog) {
    // The folder browser is a COM object: this thread must have COM.
    ComScope com;
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = dialog;
    info.pszDisplayName = displayName;
    info.lpszTitle = wide(textBrowseTitle);
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    ItemIdList chosen;
    chosen.reset(SHBrowseForFolderW(&info));
    if (!chosen.get()) return;
    if (SHGetPathFromIDListW(chosen.get(), pathBuffer))
        SetDlgItemTextW(dialog, IDC_FOLDER, pathBuffer);
}

}  // namespace

void appendSeparator(WideString& path) {
    if (path.isEmpty()) return;
    path.appendIfMissing(u'\\');
}

INT_PTR CALLBACK destinationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            dialogWindow = reinterpret_cast<ExtractorWindow*>(lParam);
            initialiseDialog(dialog, *dialogWindow);
            return TRUE;  // the focus goes to the first tab stop, the folder field
        case WM_COMMAND:
            switch (wParam) {
                case IDOK:
                    confirm(dialog, *dialogWindow);
                    break;
                case IDCANCEL:
                    EndDialog(dialog, 1);
                    break;
                case IDC_BROWSE:
                    browse(dialog);
                    break;
                default:
                    break;
            }
            return TRUE;
        default:
            return FALSE;
    }
}

bool ExtractorWindow::enterDestination(const char16_t* path) {
    if (SetCurrentDirectoryW(wide(path))) return true;
    WideString folder(path);
    appendSeparator(folder);
    // Success means the folder is the current directory now: a file of that
    // name, or a path too long to be a current directory, must not pass.
    if (!createFolderTree(folder.c_str()) || !SetCurrentDirectoryW(wide(path))) {
        runStatus = kExitSwitchCannotCreate;
        messageBox(BoxOwner::MainWindow, kTextCannotCreateFolder, nullptr, kBoxIconWarning);
        return false;
    }
    return true;
}

}  // namespace qorn::app
