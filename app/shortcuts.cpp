// Shortcuts to the main file in the Start menu, on the desktop and in the
// Send To folder, as the option bytes say. One that cannot be made is
// reported with its path and the system's reason, and the run counts as
// failed after its members (the status of a run with switches).
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>

#include "app/extractor_window.h"
#include "app/win32_handles.h"
#include "platform/platform.h"

namespace qorn::app {

namespace {

const CLSID kClsidShellLink = {
    0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellLinkW = {
    0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidPersistFile = {
    0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The file-system path of a special folder; empty when it cannot be found.
WideString specialFolder(HWND owner, int csidl) {
    ItemIdList list;
    if (FAILED(SHGetSpecialFolderLocation(owner, csidl, list.out()))) {
        // A user who has no all-users Start menu still has their own.
        if (csidl != CSIDL_COMMON_PROGRAMS ||
            FAILED(SHGetSpecialFolderLocation(owner, CSIDL_PROGRAMS, list.out())))
            return WideString(u"");
    }
    wchar_t folder[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(list.get(), folder)) folder[0] = 0;
    return WideString(reinterpret_cast<const char16_t*>(folder));
}

// linkName, or else the main file's name without folder and extension.
WideString linkFileName(const SfxSettings& settings) {
    if (!settings.linkName.isEmpty()) return settings.linkName;
    const char16_t* path = settings.mainFile.c_str();
    const char16_t* name = path;
    for (const char16_t* p = path; *p; ++p)
        if (*p == u'\\' || *p == u'/' || *p == u':') name = p + 1;
    const char16_t* end = name + textLength(name);
    for (const char16_t* p = end; p > name;)
        if (*--p == u'.') {
            end = p;
            break;
        }
    return WideString(name, static_cast<size_t>(end - name));
}

// Whether the process acts as an administrator: elevated, or an
// administrator where there is no elevation. An administrator's unelevated
// process has the group only to deny access, which the check tells apart.
bool actsAsAdministrator() {
    // S-1-5-32-544, BUILTIN\Administrators: revision 1, two sub-authorities,
    // authority 5 (NT), then 32 and 544.
    alignas(4) static BYTE administrators[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2};
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, administrators, &member) && member;
}

}  // namespace

void ExtractorWindow::registerShortcuts() {
    // The all-users folders take only an administrator's process; anyone
    // else gets the shortcuts in their own Start menu and on their own
    // desktop.
    const bool allUsers = actsAsAdministrator();
    if (settings.startMenuOptions & kOptionCreate)
        createShortcut(allUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS);
    if (settings.desktopOptions & kOptionCreate)
        createShortcut(allUsers ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY);
    if (settings.sendToOptions & kOptionCreate) createShortcut(CSIDL_SENDTO);
}

void ExtractorWindow::createShortcut(int csidl) {
    const WideString folder = specialFolder(mainWindow, csidl);
    WideString linkPath(folder);
    linkPath.appendChar(u'\\');
    linkPath.append(linkFileName(settings));
    linkPath.append(u".lnk");
    ComScope com;
    ComPointer<IShellLinkW> link;
    ComPointer<IPersistFile> file;
    // Without a folder the link would land in the root of the current drive.
    // Without COM, CoCreateInstance fails and says why.
    HRESULT made = folder.isEmpty()
                       ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
                       : CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                          kIidShellLinkW, link.out());
    if (SUCCEEDED(made)) made = link->QueryInterface(kIidPersistFile, file.out());
    if (FAILED(made)) {
        reportShortcut(linkPath, made);
        return;
    }

    WideString target(destinationFolder);
    appendSeparator(target);
    target.append(settings.mainFile);
    // A link holds paths below MAX_PATH: a longer target goes in its short
    // form; one that has none is reported, never cut into another path.
    WideString shortTarget = platform::shellPath(target.c_str());
    if (shortTarget.isEmpty()) {
        showPathError(*this, target.c_str());
        failed = true;
        return;
    }
    link->SetPath(wide(shortTarget.c_str()));
    link->SetIconLocation(wide(shortTarget.c_str()), 0);
    link->SetWorkingDirectory(wide(destinationFolder.c_str()));
    const HRESULT saved = file->Save(wide(platform::systemPath(linkPath.c_str()).c_str()), TRUE);
    if (FAILED(saved)) reportShortcut(linkPath, saved);
}

void ExtractorWindow::reportShortcut(const WideString& linkPath, HRESULT result) {
    platform::setLastError(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                                      : result);
    showPathError(*this, linkPath.c_str());
    failed = true;
}

}  // namespace qorn::app
