// The settings block at the start of the payload.
#pragma once

#include <cstdint>

#include "payload/binary_file.h"
#include "platform/wide_string.h"

namespace qorn {

// The payload starts here, right behind the stub padded to this size.
constexpr int64_t PayloadOffset = 45056;

// Option-byte bits of the three shortcuts.
enum : uint8_t {
    kOptionChangeable = 0x01,  // the user may change the choice
    kOptionCreate = 0x02,      // make the shortcut (check box starts checked)
};

struct SfxSettings {
    bool present = false;
    WideString title;
    WideString destination;  // resolved: absolute, or under the base folder
    WideString mainFile;
    uint8_t startMenuOptions = 0;
    uint8_t desktopOptions = 0;
    uint8_t sendToOptions = 0;
    WideString openFile;
    WideString linkName;
};

// Reads the block at the file's position; false when it is cut short. On
// success the file stands at the first member header.
bool readSettings(BinaryFile& file, SfxSettings& settings);

// A destination as stored, resolved against the base folder.
WideString resolveDestination(const WideString& stored, bool underProgramFiles);

}  // namespace qorn
