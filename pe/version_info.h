// The version resource of an executable: the texts and numbers Explorer
// shows on the Details tab.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qorn::encode {

struct VersionEdit {
    // Texts to set in every string table, by key ("ProductName", ...); a key
    // the table lacks is added.
    std::vector<std::pair<std::u16string, std::u16string>> texts;
    // The file and product version numbers, when set: four 16-bit parts,
    // the most significant first.
    bool setNumbers = false;
    uint16_t numbers[4] = {0, 0, 0, 0};
};

// Reads "1", "1.2", "1.2.3" or "1.2.3.4" (each part 0 to 65535) into the
// edit's numbers.
bool parseVersionNumbers(const std::string& text, VersionEdit& edit);

// Applies the edit to the bytes of a version resource; false with a message
// when they are not one.
bool editVersionInfo(std::vector<uint8_t>& data, const VersionEdit& edit, std::string& error);

}  // namespace qorn::encode
