// LHA member headers, levels 0 to 3.
#pragma once

#include <cstdint>

#include "base/failure.h"
#include "payload/binary_file.h"
#include "platform/wide_string.h"

namespace qorn {

constexpr uint32_t HeaderBufferSize = 4096;

struct ArchiveEntry {
    char method[5] = {};
    uint32_t packedSize = 0;    // data bytes behind the header
    uint32_t originalSize = 0;  // bytes after decoding
    WideString path;            // folder text then name text, as stored
    uint16_t crc = 0;
    bool hasCrc = false;
    int64_t modifiedTime = 0;  // seconds since 1970 UTC
    uint8_t level = 0;
    uint8_t osId = 0;

    void clear();
};

// The methods, numbered as MethodIds lists their ids. The one vocabulary
// from the header through the decoder's dispatch to the encoder: -lhN- is
// Method(N) for N of 0 to 7.
enum class Method : int8_t {
    Unknown = -1,  // an id not among MethodIds
    Lh0 = 0,
    Lh1,
    Lh2,
    Lh3,
    Lh4,
    Lh5,
    Lh6,
    Lh7,
    Lzs,
    Lz5,
    Lz4,
    Lhd,
};
constexpr int kMethodCount = 12;
extern const char MethodIds[kMethodCount][6];
// Method::Unknown when the id is not one of MethodIds.
Method methodOf(const char method[5]);
// Members whose data is stored as it is.
inline bool isStored(Method m) {
    return m == Method::Lh0 || m == Method::Lz4;
}

enum class HeaderResult {
    Member,  // a member was read; the file stands at its first data byte
    End,     // the end mark, or the end of the file where a header would start
    Bad,     // a header that cannot be read; the archive is damaged
};

// Reads the next header at the file's position. An unknown layout shows the
// "Unknown header" box through the reporter.
HeaderResult readEntryHeader(BinaryFile& file, ArchiveEntry& entry, RunReporter& reporter);

// Total of the original sizes of all members from the file's position on,
// which is restored afterwards, with perMember added for each. Wraps at 32
// bits.
uint32_t sumOriginalSizes(BinaryFile& file, uint32_t perMember = 0);

// MS-DOS local time stamp to seconds since 1970 UTC.
int64_t dosStampToTime(uint32_t stamp);

}  // namespace qorn
