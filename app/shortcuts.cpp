// Shortcuts to the main file in the Start menu, on the desktop and in the
// Send To folder, as the option bytes say. Nothing here is reported.
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

}  // namespace

void ExtractorWindow::registerShortcuts() {
    if (settings.startMenuOptions & kOptionCreate) createShortcut(CSIDL_COMMON_PROGRAMS);
    if (settings.desktopOptions & kOptionCreate) createShortcut(CSIDL_COMMON_DESKTOPDIRECTORY);
    if (settings.sendToOptions & kOptionCreate) createShortcut(CSIDL_SENDTO);
}

void ExtractorWindow::createShortcut(int csidl) {
    ComScope com;
    if (!com.ok()) return;
    ComPointer<IShellLinkW> link;
    if (FAILED(CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkW,
                                link.out())))
        return;
    ComPointer<IPersistFile> file;
    if (FAILED(link->QueryInterface(kIidPersistFile, file.out()))) return;

    // Without a folder the link would land in the root of the current drive.
    WideString linkPath = specialFolder(mainWindow, csidl);
    if (linkPath.isEmpty()) return;
    linkPath.appendChar(u'\\');
    linkPath.append(linkFileName(settings));
    linkPath.append(u".lnk");

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
    if (FAILED(saved) && linkPath.length() >= kMaxPath) {
        platform::setLastError(HRESULT_FACILITY(saved) == FACILITY_WIN32 ? HRESULT_CODE(saved)
                                                                         : saved);
        showPathError(*this, linkPath.c_str());
        failed = true;
    }
}

}  // namespace qorn::app
