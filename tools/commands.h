// The subcommands of the qornsfx tool.
#pragma once

#include "tools/common.h"

namespace qorn::tool {

int runList(const Arguments& args);
int runTest(const Arguments& args);
int runExtract(const Arguments& args);
int runMake(const Arguments& args);
int runPack(const Arguments& args);

}  // namespace qorn::tool
