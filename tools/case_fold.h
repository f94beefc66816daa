// Names folded as Windows compares them in a folder: each UTF-16 unit
// through the system's upper-case table, one unit to one, no normalisation.
#pragma once

#include <string>

namespace qorn::tool {

// The unit's simple upper-case form, or the unit itself.
char16_t upperCaseUnit(char16_t unit);

// A member's path given by the maker (--main-file, --open, --run's program)
// as Windows resolves it under the destination, folded as the archive's
// names are: '\' and '/' divide parts, "." parts go, trailing dots and
// blanks go. Empty, with why set, when it cannot name anything inside the
// destination.
std::u16string settingPath(const std::string& value, std::string& why);

}  // namespace qorn::tool
