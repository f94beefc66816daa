// qornsfx extract: not built yet.
#include "tools/commands.h"

namespace qorn::tool {
int runExtract(const Arguments&) {
    std::fprintf(stderr, "qornsfx: extract is not available yet\n");
    return kExitUsage;
}
}  // namespace qorn::tool
