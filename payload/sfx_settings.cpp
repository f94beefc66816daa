#include "payload/sfx_settings.h"

#include "base/failure.h"
#include "platform/platform.h"

namespace qorn {

namespace {

// One length byte, then that many UTF-16LE code units.
bool readString(BinaryFile& file, WideString& out) {
    uint8_t length;
    if (!file.readByte(length)) return false;
    uint8_t bytes[2 * 255];
    uint32_t count = 2u * length;
    if (count && file.read(bytes, count) != count) return false;
    char16_t* text = allocateText(length);
    for (uint32_t i = 0; i < length; ++i)
        text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    out = WideString::adopt(text);
    return true;
}

}  // namespace

WideString resolveDestination(const WideString& stored, bool underProgramFiles) {
    if (stored.isEmpty()) return platform::currentDirectory();
    if (platform::hasDrive(stored.c_str())) return stored;
    WideString base =
        underProgramFiles ? platform::programFilesFolder() : platform::currentDirectory();
    base.appendIfMissing(u'\\');
    base.append(stored);
    return base;
}

bool readSettings(BinaryFile& file, SfxSettings& settings) {
    uint8_t marker;
    if (!file.readByte(marker)) return false;
    if (marker == 0) {
        settings.title = WideString(kCaptionDefault);
        settings.destination = platform::currentDirectory();
        return true;
    }
    WideString destination;
    uint8_t base;
    if (!readString(file, settings.title) || !file.readByte(base) ||
        !readString(file, destination) || !readString(file, settings.mainFile) ||
        !file.readByte(settings.startMenuOptions) || !file.readByte(settings.desktopOptions) ||
        !file.readByte(settings.sendToOptions) || !readString(file, settings.openFile) ||
        !readString(file, settings.linkName))
        return false;
    if (settings.title.isEmpty()) settings.title = WideString(kCaptionDefault);
    settings.destination = resolveDestination(destination, base != 0);
    settings.present = true;
    return true;
}

}  // namespace qorn
