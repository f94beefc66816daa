// The languages the stub's texts can be given in: a dialog template and a
// string table for its resources, put in place of its own Japanese texts
// by `qornsfx make --language`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pe/pe_resources.h"

namespace qorn::encode {

// The names --language takes, the built-in one ("ja") first.
std::vector<std::string> languageNames();

// Replaces the destination dialog and adds the string table of language
// (a name from languageNames()). False, with a message, when the stub has
// no dialog to replace or the language is unknown. "ja" changes nothing.
bool applyLanguage(PeResources& pe, const std::string& language, std::string& error);

// The pieces, for the tests.
constexpr uint16_t kResourceDialog = 5;
constexpr uint16_t kResourceStringTable = 6;
std::vector<uint8_t> stringTableBlock(const std::vector<std::u16string>& strings);

}  // namespace qorn::encode
