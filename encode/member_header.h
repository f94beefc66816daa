// The bytes of one member's header at level 0, 1 or 2.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorn::encode {

// The largest size a member's header can state.
constexpr uint64_t kMaxMemberSize = 0xFFFFFFFFu;

// What one member's header says; the layout depends on the level.
struct MemberHeader {
    char method[5] = {'-', 'l', 'h', '0', '-'};
    uint32_t packedSize = 0;
    uint32_t originalSize = 0;
    int64_t modifiedTime = 0;  // seconds since 1970 UTC
    uint16_t crc = 0;
    bool folder = false;
    // Path inside the archive in UTF-8, '/' between folders; a folder member
    // ends with '/'. Relative, without "." or ".." parts.
    std::string path;
};

// The header bytes for a member, or false with a message when the path does
// not fit the level's limits or cannot be stored.
bool buildHeader(const MemberHeader& member, int level, const std::string& codePage,
                 std::vector<uint8_t>& bytes, std::string& error);

}  // namespace qorn::encode
