// qornsfx make --icon and the version texts: the stub's resources edited
// for one self-extracting file.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/common.h"
#include "tools/run_option.h"

namespace qorn::tool {

// Replaces the stub's icon and version texts as the options ask; 0 when
// done (or nothing was asked), else the exit status, with a message given.
// `edited` tells whether the stub changed.
// run: the program of installer mode, or null.
int editStubResources(const Arguments& args, const RunCommand* run, std::vector<uint8_t>& stub,
                      bool& edited);

// Sets the checksum field of the edited stub's header to the checksum of
// the whole file: the stub, the settings block and the archive.
void stampChecksum(std::vector<uint8_t>& stub, const std::vector<uint8_t>& settings,
                   const std::vector<uint8_t>& archive);

}  // namespace qorn::tool
