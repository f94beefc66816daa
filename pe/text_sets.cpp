#include "pe/text_sets.h"

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

struct TextSet {
    const char* name;
    uint16_t language;  // LANGID of its resources
    // The dialog's width and its browse button's, in dialog units: as much
    // as the language's labels need.
    int16_t width, browseWidth;
    // Folder label, browse, Start menu, desktop, Send To, OK, Cancel.
    const char16_t* labels[7];
    // IDS_CANNOT_CREATE_FOLDER .. IDS_DAMAGED_FOLDER_FORMAT, in that order.
    const char16_t* strings[10];
};

// Each label has a line of the dialog's width to itself, so that it fits
// whole; the mnemonics differ from each other.
const TextSet kTextSets[] = {
    {"en",
     0x0409,
     187,
     56,
     {u"Extract to &folder:", u"&Browse...", u"Add to the &Start menu",
      u"Create a &desktop shortcut", u"Add to Send &To", u"OK", u"Cancel"},
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
      u"Cancel", u"Stop extracting?", u"Choose the folder to extract to",
      u"The folder %s is damaged."}},
    {"de",
     0x0407,
     187,
     78,
     {u"&Zielordner:", u"D&urchsuchen...", u"Ins &Startmenü aufnehmen",
      u"Verknüpfung auf dem &Desktop", u"In »Senden &an« aufnehmen", u"OK", u"Abbrechen"},
     {u"Der Ordner kann nicht erstellt werden.",
      u"kann nicht entpackt werden: Es gibt schon einen Ordner mit diesem Namen.",
      u"Die Datei %s ist beschädigt.", u"Auf den Datenträger kann nicht geschrieben werden.\n",
      u"Unbekannter Header",
      u"Aufruf: [/S] [/D=Ordner]\n\n"
      u"/S\tOhne Anzeige entpacken. Die Verknüpfungen werden so angelegt, wie der "
      u"Dialog sie vorschlägt; keine Datei wird geöffnet.\n"
      u"/D=\tDer Zielordner. Leerzeichen sind erlaubt; als letzte Angabe.\n"
      u"/?\tDiese Hilfe anzeigen.\n\n"
      u"Rückgabewerte: 0 fertig, 1 Schreibfehler auf dem Datenträger, 2 falsche Angaben, "
      u"3 beschädigte Datei, 4 Ordner nicht erstellbar, 5 zu wenig Speicher, "
      u"6 abgebrochen, 7 Verknüpfung oder Öffnen der Datei fehlgeschlagen",
      u"Abbrechen", u"Entpacken abbrechen?", u"Zielordner wählen",
      u"Der Ordner %s ist beschädigt."}},
    {"fr",
     0x040C,
     187,
     68,
     {u"&Dossier de destination\u00a0:", u"&Parcourir...", u"Ajouter au &menu Démarrer",
      u"Raccourci sur le &Bureau", u"Ajouter à «\u00a0&Envoyer vers\u00a0»", u"OK", u"Annuler"},
     {u"Impossible de créer le dossier.",
      u"ne peut pas être extrait\u00a0: un dossier du même nom existe déjà.",
      u"Le fichier %s est endommagé.", u"Impossible d’écrire sur le disque.\n", u"En-tête inconnu",
      u"Utilisation\u00a0: [/S] [/D=dossier]\n\n"
      u"/S\tExtraire sans rien afficher. Les raccourcis sont créés comme le propose "
      u"la boîte de dialogue\u00a0; aucun fichier n’est ouvert.\n"
      u"/D=\tLe dossier de destination. Il peut contenir des espaces\u00a0; à indiquer en "
      u"dernier.\n"
      u"/?\tAfficher cette aide.\n\n"
      u"Codes de sortie\u00a0: 0 terminé, 1 écriture impossible sur le disque, 2 arguments "
      u"incorrects, 3 fichier endommagé, 4 dossier impossible à créer, 5 mémoire "
      u"insuffisante, 6 annulé, 7 échec d’un raccourci ou de l’ouverture du fichier",
      u"Annuler", u"Arrêter l’extraction\u00a0?", u"Choisir le dossier de destination",
      u"Le dossier %s est endommagé."}},
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

struct Control {
    uint16_t id;
    uint16_t controlClass;
    uint32_t style;
    int x, y, width, height;
    const char16_t* text;
};

// An extended dialog template (DLGTEMPLATEEX and its items) with the style
// and the controls (ids, order, lines) of the stub's own, laid out for the
// set's widths.
std::vector<uint8_t> dialogTemplate(const TextSet& set) {
    const int w = set.width, line = w - 14, button = 54;
    const Control controls[] = {
        {kNoId, kClassStatic, kWsGroup, 7, 6, line, 8, set.labels[0]},
        {IDC_FOLDER, kClassEdit, kWsBorder | kWsTabStop | kEsAutoHScroll, 7, 15,
         line - set.browseWidth - 3, 14, u""},
        {IDC_BROWSE, kClassButton, kWsTabStop, w - 7 - set.browseWidth, 15, set.browseWidth, 14,
         set.labels[1]},
        {IDC_START_MENU, kClassButton, kBsAutoCheckBox | kWsTabStop, 7, 34, line, 10,
         set.labels[2]},
        {IDC_DESKTOP, kClassButton, kBsAutoCheckBox | kWsTabStop, 7, 46, line, 10, set.labels[3]},
        {IDC_SEND_TO, kClassButton, kBsAutoCheckBox | kWsTabStop, 7, 58, line, 10, set.labels[4]},
        {kIdOk, kClassButton, kBsDefPushButton | kWsTabStop, w - 7 - 2 * button - 5, 74, button, 14,
         set.labels[5]},
        {kIdCancel, kClassButton, kWsTabStop, w - 7 - button, 74, button, 14, set.labels[6]},
    };
    std::vector<uint8_t> out;
    put16(out, 1);       // version
    put16(out, 0xFFFF);  // extended
    put32(out, 0);       // help id
    put32(out, 0);       // extended style
    put32(out, kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame | kDsSetFont);
    put16(out, 8);  // controls
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(w));
    put16(out, 93);
    put16(out, 0);  // no menu
    put16(out, 0);  // the dialog class
    putText(out, u"Qorn SFX");
    put16(out, 8);     // points
    put16(out, 400);   // weight
    out.push_back(0);  // not italic
    out.push_back(1);  // DEFAULT_CHARSET
    putText(out, u"MS Shell Dlg");
    for (const Control& c : controls) {
        alignTo4(out);
        put32(out, 0);  // help id
        put32(out, 0);  // extended style
        put32(out, kWsChild | kWsVisible | c.style);
        put16(out, static_cast<uint32_t>(c.x));
        put16(out, static_cast<uint32_t>(c.y));
        put16(out, static_cast<uint32_t>(c.width));
        put16(out, static_cast<uint32_t>(c.height));
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
    // Block 1 holds the ids 0 to 15; the texts are 1 to 10.
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
