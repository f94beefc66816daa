// The finished stub, built into the tool (a source generated from it at
// build time; see cmake/embed-stub.cmake).
#pragma once

#include <cstddef>

namespace qorn::tool {

extern const unsigned char kEmbeddedStub[];
extern const std::size_t kEmbeddedStubSize;

}  // namespace qorn::tool
