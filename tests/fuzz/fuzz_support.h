// Shared pieces of the fuzz targets: payload bytes as a BinaryFile, a quiet
// reporter and a check that stops the run with a trap.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/failure.h"
#include "payload/binary_file.h"
#ifdef QORN_FUZZ_MEMORY_FILES
#include "tests/fuzz/platform_memory.h"
#endif

namespace qorn::fuzz {

// A broken invariant is a finding: say which one, then stop.
#define QORN_FUZZ_CHECK(condition)                                                             \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                  \
        }                                                                                      \
    } while (0)

class QuietReporter : public RunReporter {
  public:
    int boxes = 0;
    void messageBox(BoxOwner, const char16_t*, const char16_t*, uint32_t) override { ++boxes; }
};

// An anonymous in-memory file; the BinaryFile owns the descriptor (on the
// real platform layer) or the handle (on the one in memory).
inline BinaryFile* memoryFile(const uint8_t* data, size_t size) {
#ifdef QORN_FUZZ_MEMORY_FILES
    return new BinaryFile(platform::memory::openBytes(data, size));
#else
    const int fd = memfd_create("qorn-fuzz", MFD_CLOEXEC);
    QORN_FUZZ_CHECK(fd >= 0);
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        QORN_FUZZ_CHECK(n > 0);
        done += static_cast<size_t>(n);
    }
    QORN_FUZZ_CHECK(::lseek(fd, 0, SEEK_SET) == 0);
    return new BinaryFile(fd);
#endif
}

// Everything written to a memoryFile, from its start, into bytes (whose
// memory a caller may keep from input to input).
inline void fileBytes(BinaryFile& file, std::vector<uint8_t>& bytes) {
    bytes.resize(static_cast<size_t>(file.position()));
    QORN_FUZZ_CHECK(file.moveTo(0));
    QORN_FUZZ_CHECK(file.read(bytes.data(), static_cast<uint32_t>(bytes.size())) ==
                    static_cast<int64_t>(bytes.size()));
}

// CRC-16/ARC through a table of its own, built bit by bit, apart from the
// decoder's tables and folding (bit by bit for every byte cost a roundtrip
// run a tenth of its time).
inline uint16_t referenceCrc(const uint8_t* data, size_t size) {
    static const struct Table {
        uint16_t entry[256];
        Table() {
            for (unsigned i = 0; i < 256; ++i) {
                unsigned r = i;
                for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
                entry[i] = static_cast<uint16_t>(r);
            }
        }
    } table;
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ table.entry[(crc ^ data[i]) & 0xFF];
    return crc;
}

}  // namespace qorn::fuzz
