// Names folded as Windows compares them in a folder: each UTF-16 unit
// through the system's upper-case table, one unit to one, no normalisation.
#pragma once

namespace qorn::tool {

// The unit's simple upper-case form, or the unit itself.
char16_t upperCaseUnit(char16_t unit);

}  // namespace qorn::tool
