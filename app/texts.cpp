#include "app/texts.h"

#include "app/installer.h"
#include "app/resource_ids.h"
#include "base/failure.h"
#include "platform/wide_string.h"

namespace qorn::app {

const char16_t* textUsage =
    u"使い方: [/S] [/D=解凍先フォルダ]\n\n"
    u"/S\t画面を表示せずに解凍します。ショートカットは既定のとおり作成し、"
    u"ファイルは開きません。\n"
    u"/D=\t解凍先フォルダ。空白を含めてもかまいません。最後に指定します。\n"
    u"/?\tこの説明を表示します。\n\n"
    u"終了コード: 0 完了、1 ディスクに書き込めない、2 引数の誤り、3 ファイルの破損、"
    u"4 フォルダを作成できない、5 メモリ不足、6 中止、"
    u"7 ショートカット作成等の失敗";
const char16_t* textAbort = u"中止";
// Two in writable arrays: they go with the few bytes of .data (a page the
// stub has anyway) instead of making .rdata a page longer.
char16_t askAbortJapanese[] = u"解凍を中止しますか？";
char16_t browseTitleJapanese[] = u"解凍先フォルダの指定";
const char16_t* textAskAbort = askAbortJapanese;
const char16_t* textBrowseTitle = browseTitleJapanese;

void loadTexts(HINSTANCE instance) {
    struct Slot {
        UINT id;
        const char16_t** text;
    };
    static const Slot slots[] = {
        {IDS_CANNOT_CREATE_FOLDER, &kTextCannotCreateFolder},
        {IDS_FOLDER_EXISTS, &kTextFolderExists},
        {IDS_DAMAGED_FORMAT, &kTextDamagedFormat},
        {IDS_WRITE_FAILED, &kTextWriteFailed},
        {IDS_UNKNOWN_HEADER, &kTextUnknownHeader},
        {IDS_USAGE, &textUsage},
        {IDS_ABORT, &textAbort},
        {IDS_ASK_ABORT, &textAskAbort},
        {IDS_BROWSE_TITLE, &textBrowseTitle},
        {IDS_DAMAGED_FOLDER_FORMAT, &kTextDamagedFolderFormat},
#ifdef QORN_INSTALLER_MODE
        {IDS_RUN_PROGRAM, &runProgram},
        {IDS_RUN_ARGUMENTS, &runArguments},
#endif
    };
    for (const Slot& slot : slots) {
        // With no buffer, LoadStringW gives the resource's own text, which
        // is not terminated: a copy is.
        const wchar_t* resource = nullptr;
        const int length = LoadStringW(instance, slot.id, reinterpret_cast<LPWSTR>(&resource), 0);
        if (length <= 0) continue;
        char16_t* copy = allocateText(static_cast<size_t>(length) + 1);
        lstrcpynW(reinterpret_cast<wchar_t*>(copy), resource, length + 1);
        *slot.text = copy;
    }
}

}  // namespace qorn::app
