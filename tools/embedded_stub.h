// The finished stubs, built into the tool (a source generated from it at
// build time; see cmake/embed-stub.cmake).
#pragma once

#include <cstddef>

namespace qorn::tool {

extern const unsigned char kEmbeddedStub[];
extern const std::size_t kEmbeddedStubSize;
// The stub of installer mode (`make --run`).
extern const unsigned char kEmbeddedRunStub[];
extern const std::size_t kEmbeddedRunStubSize;

}  // namespace qorn::tool
