// qornsfx pack: not built yet.
#include "tools/commands.h"

namespace qorn::tool {
int runPack(const Arguments&) {
    std::fprintf(stderr, "qornsfx: pack is not available yet\n");
    return kExitUsage;
}
}  // namespace qorn::tool
