// Helpers for encoder tests: decoding through this project's decoder and
// through the LHA tools installed on the machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/archive_entry.h"

namespace qorn::test {

// Decodes a compressed stream with decodeMember; false when the decoder
// reports damage or the CRC differs from crcOfOriginal.
bool decodeWithProject(Method method, const std::vector<uint8_t>& packed, uint32_t originalSize,
                       std::vector<uint8_t>& out);

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed);
// Text-like bytes: words from a small vocabulary, so there is much to match.
std::vector<uint8_t> wordyBytes(size_t size, uint32_t seed);
// Bytes in which no pair of neighbours comes twice, so no three-byte match
// exists and the encoder sends one literal per byte: at most 65,537 bytes.
std::vector<uint8_t> matchlessBytes(size_t size);

// A fresh empty folder under /tmp for this test; removed by removeTree.
std::string makeTempFolder(const char* tag);
void removeTree(const std::string& path);
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes);
// Full path of an installed program, or "" when it is not on PATH.
std::string findProgram(const char* name);
// Runs a shell command; returns its exit status.
int runCommand(const std::string& command);

}  // namespace qorn::test
