// The platform layer over a file system held in memory, for the fuzz targets
// that would otherwise spend their time in system calls. It implements all of
// platform/platform.h (POSIX flavour: '/' is the root, '\' and '/' both
// separate folders) and adds what a test needs to set the tree up, look at it
// and empty it between inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace qorn::platform::memory {

// A file outside the tree holding a copy of the bytes, open for reading and
// writing from its start (a payload, or an empty output).
FileHandle openBytes(const uint8_t* data, size_t size);

// Removes everything from the tree but the root, closes every handle, makes
// the root the current directory and clears the fault counters.
void reset();

// Calls visit for every file and folder in the tree but the root, with its
// full path ("/a/b") and size, parents before their contents.
void forEach(
    const std::function<void(const std::u16string& path, bool folder, size_t size)>& visit);

// Removes everything below the folder (which stays).
void emptyFolder(const char16_t* path);

// Handles opened and not yet closed.
size_t openHandles();

}  // namespace qorn::platform::memory
