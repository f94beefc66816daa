// qornsfx make: not built yet.
#include "tools/commands.h"

namespace qorn::tool {
int runMake(const Arguments&) {
    std::fprintf(stderr, "qornsfx: make is not available yet\n");
    return kExitUsage;
}
}  // namespace qorn::tool
