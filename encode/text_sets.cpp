#include "encode/text_sets.h"

#include "app/resource_ids.h"

namespace qorn::encode {

namespace {

// Window styles and control classes, as the system's headers give them.
constexpr uint32_t kWsPopup = 0x80000000, kWsCaption = 0x00C00000, kWsSysMenu = 0x00080000;
constexpr uint32_t kWsBorder = 0x00800000, kWsGroup = 0x00020000, kWsTabStop = 0x00010000;
constexpr uint32_t kWsChild = 0x40000000, kWsVisible = 0x10000000;
constexpr uint32_t kDsModalFrame = 0x80, kDsSetFont = 0x40;
constexpr uint32_t kBsDefPushButton = 1, kBsAutoCheckBox = 3, kEsAutoHScroll = 0x80;
constexpr uint16_t kClassButton = 0x80, kClassEdit = 0x81, kClassStatic = 0x82;
constexpr uint16_t kIdOk = 1, kIdCancel = 2, kNoId = 0xFFFF;

struct Control {
    uint16_t id;
    uint16_t controlClass;
    uint32_t style;
    int16_t x, y, width, height;
    const char16_t* text;
};

struct TextSet {
    const char* name;
    uint16_t language;  // LANGID of its resources
    uint16_t fontPoints;
    const char16_t* font;
    // The controls, in the order and with the ids of the stub's own dialog.
    Control controls[8];
    // IDS_CANNOT_CREATE_FOLDER .. IDS_BROWSE_TITLE, in that order.
    const char16_t* strings[9];
};

constexpr uint32_t kTab = kWsTabStop;

// The labels are as wide as the dialog allows, so that each fits whole; the
// mnemonics differ from each other.
const TextSet kTextSets[] = {
    {"en",
     0x0409,
     8,
     u"MS Shell Dlg",
     {{kNoId, kClassStatic, kWsGroup, 7, 6, 173, 8, u"Extract to &folder:"},
      {IDC_FOLDER, kClassEdit, kWsBorder | kTab | kEsAutoHScroll, 7, 15, 114, 14, u""},
      {IDC_BROWSE, kClassButton, kTab, 124, 15, 56, 14, u"&Browse..."},
      {IDC_START_MENU, kClassButton, kBsAutoCheckBox | kTab, 7, 34, 173, 10,
       u"Add to the &Start menu"},
      {IDC_DESKTOP, kClassButton, kBsAutoCheckBox | kTab, 7, 46, 173, 10,
       u"Create a &desktop shortcut"},
      {IDC_SEND_TO, kClassButton, kBsAutoCheckBox | kTab, 7, 58, 173, 10, u"Add to Send &To"},
      {kIdOk, kClassButton, kBsDefPushButton | kTab, 75, 74, 50, 14, u"OK"},
      {kIdCancel, kClassButton, kTab, 130, 74, 50, 14, u"Cancel"}},
     {u"Cannot create the folder.", u"cannot be extracted: a folder of the same name exists.",
      u"The file %s is damaged.", u"Cannot write to the disk.\n", u"Unknown header",
      u"Usage: [/S] [/D=folder]\n\n"
      u"/S\tExtract without showing anything. The shortcuts are made as the "
      u"dialog would offer them; no file is opened.\n"
      u"/D=\tThe folder to extract to. It may contain blanks; give it last.\n"
      u"/?\tShow this help.\n\n"
      u"Exit codes: 0 done, 1 cannot write to the disk, 2 wrong arguments, "
      u"3 damaged file, 4 cannot create a folder, 5 out of memory, 6 cancelled, "
      u"7 a shortcut or the file to open failed",
      u"Cancel", u"Stop extracting?", u"Choose the folder to extract to"}},
};

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void putText(std::vector<uint8_t>& out, const char16_t* text) {
    for (; *text; ++text) put16(out, *text);
    put16(out, 0);
}
void alignTo4(std::vector<uint8_t>& out) {
    while (out.size() % 4) out.push_back(0);
}

// An extended dialog template (DLGTEMPLATEEX and its items) of the same
// size, style and controls as the stub's own.
std::vector<uint8_t> dialogTemplate(const TextSet& set) {
    std::vector<uint8_t> out;
    put16(out, 1);       // version
    put16(out, 0xFFFF);  // extended
    put32(out, 0);       // help id
    put32(out, 0);       // extended style
    put32(out, kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame | kDsSetFont);
    put16(out, 8);  // controls
    put16(out, 0);
    put16(out, 0);
    put16(out, 187);
    put16(out, 93);
    put16(out, 0);  // no menu
    put16(out, 0);  // the dialog class
    putText(out, u"Qorn SFX");
    put16(out, set.fontPoints);
    put16(out, 400);   // weight
    out.push_back(0);  // not italic
    out.push_back(1);  // DEFAULT_CHARSET
    putText(out, set.font);
    for (const Control& c : set.controls) {
        alignTo4(out);
        put32(out, 0);  // help id
        put32(out, 0);  // extended style
        put32(out, kWsChild | kWsVisible | c.style);
        put16(out, static_cast<uint16_t>(c.x));
        put16(out, static_cast<uint16_t>(c.y));
        put16(out, static_cast<uint16_t>(c.width));
        put16(out, static_cast<uint16_t>(c.height));
        put32(out, c.id == kNoId ? 0xFFFFFFFF : c.id);
        put16(out, 0xFFFF);
        put16(out, c.controlClass);
        putText(out, c.text);
        put16(out, 0);  // no creation data
    }
    return out;
}

}  // namespace

std::vector<std::string> languageNames() {
    std::vector<std::string> names = {"ja"};
    for (const TextSet& set : kTextSets) names.push_back(set.name);
    return names;
}

std::vector<uint8_t> stringTableBlock(const std::vector<std::u16string>& strings) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < 16; ++i) {
        const std::u16string text = i < strings.size() ? strings[i] : std::u16string();
        put16(out, static_cast<uint32_t>(text.size()));
        for (char16_t c : text) put16(out, c);
    }
    return out;
}

bool applyLanguage(PeResources& pe, const std::string& language, std::string& error) {
    if (language == "ja") return true;
    const TextSet* set = nullptr;
    for (const TextSet& s : kTextSets)
        if (language == s.name) set = &s;
    if (!set) {
        error = "unknown language " + language;
        return false;
    }
    bool replaced = false;
    for (Resource& r : pe.resources) {
        if (!r.type.is(kResourceDialog) || !r.name.is(IDD_DESTINATION)) continue;
        r.data = dialogTemplate(*set);
        r.language = set->language;
        replaced = true;
    }
    if (!replaced) {
        error = "the stub has no destination dialog";
        return false;
    }
    // Block 1 holds the ids 0 to 15; the texts are 1 to 9.
    std::vector<std::u16string> strings = {u""};
    for (const char16_t* s : set->strings) strings.emplace_back(s);
    Resource table;
    table.type.id = kResourceStringTable;
    table.name.id = 1;
    table.language = set->language;
    table.data = stringTableBlock(strings);
    for (Resource& r : pe.resources)
        if (r.type.is(kResourceStringTable) && r.name.is(1)) {
            r = table;
            return true;
        }
    pe.resources.push_back(table);
    return true;
}

}  // namespace qorn::encode
