#include "base/failure.h"

#include "platform/platform.h"

namespace qorn {

const char16_t* kTextUnknownHeader = u"Unknown header";
const char16_t kCaptionDefault[] = u"Qorn SFX";
const char16_t* kTextCannotCreateFolder = u"フォルダを作成できません";
const char16_t* kTextFolderExists = u"を解凍できません。同名のフォルダが存在します。";
const char16_t* kTextDamagedFormat = u"ファイル %s が壊れています。";
const char16_t* kTextDamagedFolderFormat = u"フォルダ %s が壊れています。";
// Kept as UTF-16 so that it reads right whatever the ANSI code page is.
const char16_t* kTextWriteFailed = u"ディスクに書き込めません\n";

RunMode runMode;
std::atomic<int> keepRunning{1};

void showSystemMessage(RunReporter& reporter, uint32_t code, uint32_t flags) {
    WideString text = platform::systemErrorText(code);
    reporter.messageBox(BoxOwner::None, text.c_str(), nullptr, flags);
}

void showLastError(RunReporter& reporter) {
    showSystemMessage(reporter, platform::lastError(), kBoxIconWarning);
}

void showPathError(RunReporter& reporter, const char16_t* path) {
    const uint32_t code = platform::lastError();
    // A box does not wrap a path, so a long one is named by its end (the file
    // and the folders nearest it) behind an ellipsis.
    constexpr size_t kShownPath = 120;
    const size_t length = textLength(path);
    WideString text;
    if (length > kShownPath) {
        text.appendChar(u'\u2026');
        path += length - (kShownPath - 1);
    }
    text.append(path);
    text.appendChar(u'\n');
    text.append(platform::systemErrorText(code));
    reporter.messageBox(BoxOwner::None, text.c_str(), nullptr, kBoxIconWarning);
}

void fatalWriteError(RunReporter& reporter, const char16_t* text) {
    reporter.messageBox(BoxOwner::MainWindow, text, nullptr, kBoxOk);
    platform::exitProcess(kExitWriteFailed);
}

RunReporter* allocationReporter = nullptr;

void failAllocation() {
    // Taken first: should making the box fail as well, the second call ends
    // the process at once.
    RunReporter* reporter = allocationReporter;
    allocationReporter = nullptr;
    if (reporter) {
        WideString text = platform::systemErrorText(platform::kErrorNotEnoughMemory);
        reporter->messageBox(BoxOwner::None, text.c_str(), kCaptionDefault, kBoxIconError);
    }
    platform::exitProcess(runMode.switches ? kExitSwitchOutOfMemory : kExitOutOfMemory);
}

}  // namespace qorn
