// Shortcuts to the main file in the Start menu, on the desktop and in the
// Send To folder, as the option bytes say. Nothing here is reported.
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>

#include "app/extractor_window.h"
#include "app/win32_handles.h"

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
    // The shell would cut longer paths into different, valid ones.
    if (linkPath.length() >= kMaxPath || target.length() >= kMaxPath) return;

    link->SetPath(wide(target.c_str()));
    link->SetIconLocation(wide(target.c_str()), 0);
    link->SetWorkingDirectory(wide(destinationFolder.c_str()));
    file->Save(wide(linkPath.c_str()), TRUE);
}

}  // namespace qorn::app
