// Finding what to pack: each root as given, a folder's contents sorted by
// name, links and devices left out with a warning.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "encode/pack_item.h"

namespace qorn::encode {

// Appends the members of every root to items, in archive order. out is the
// archive being written, left out should a folder hold it. Each member's
// header is tried, so a name that cannot be stored fails here, before any
// data is packed.
bool collectItems(const std::vector<std::string>& roots, const PackOptions& options, FILE* out,
                  std::vector<Item>& items, std::string& error);

}  // namespace qorn::encode
