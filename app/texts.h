// The texts of the stub's own windows and boxes. The built stub carries them
// in Japanese, in its code; `qornsfx make --language` puts the string table
// of another language into its resources, which replaces them at start-up,
// text by text (resource_ids.h numbers them). The dialog comes from the
// resources in any case.
#pragma once

#include <windows.h>

namespace qorn::app {

extern const char16_t* textUsage;
extern const char16_t* textAbort;
extern const char16_t* textAskAbort;
extern const char16_t* textBrowseTitle;

// Takes every text the string table has in place of the built-in one.
void loadTexts(HINSTANCE instance);

}  // namespace qorn::app
