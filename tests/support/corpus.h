// Test support: the shared corpus of real archives and small file helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "decode/decoder_context.h"
#include "payload/archive_entry.h"

namespace qorn::corpus {

// One member line of tests/data/corpus/manifest.jsonl.
struct Member {
    std::string archive;  // relative to the corpus folder
    int index = 0;
    std::string type;  // file, dir, symlink, dir-stored-as-lh0
    std::string path;
    std::string method;
    bool inScope = false;
    int level = 0;
    uint64_t size = 0;
    std::string crc16;   // hex, "" when the header has none
    std::string sha256;  // "" when unknown
    std::string status;  // ok, expect-crc-error, ...
    std::string mtimeUtc;
    std::string mtimeBasis;
};

std::string folder();  // .../tests/data/corpus
const std::vector<Member>& members();
// Members of one archive, in header order.
std::vector<Member> membersOf(const std::string& archive);
// Archives listed in the manifest, each once.
std::vector<std::string> archives();

std::string sha256(const std::vector<uint8_t>& data);
std::vector<uint8_t> readAll(const std::string& path);
void writeAll(const std::string& path, const std::vector<uint8_t>& data);
// A new empty folder under the system's temporary folder.
std::string makeTempFolder();

// Records every box and progress position.
class RecordingReporter : public RunReporter {
  public:
    struct Box {
        BoxOwner owner;
        std::u16string text;
        std::u16string caption;
        bool hasCaption;
        uint32_t flags;
    };
    std::vector<Box> boxes;
    std::vector<uint32_t> positions;
    void messageBox(BoxOwner owner, const char16_t* text, const char16_t* caption,
                    uint32_t flags) override;
    void progressPosition(uint32_t position) override { positions.push_back(position); }
};

// Decodes one member stream held in memory, through temporary files.
struct DecodeOutcome {
    std::vector<uint8_t> output;
    uint16_t crc = 0;
    bool damaged = false;
    bool outOfMemory = false;
};
DecodeOutcome decodeBytes(const std::vector<uint8_t>& packed, uint32_t originalSize, Method method);

// The tests' decoder context (one per thread), made at the first call.
DecoderContext& testDecoder();

// Each member header of the archive in file, in order: fn(entry, dataStart)
// with the file anywhere; the walk then moves past the member's data, and
// stops at the end mark, a header it cannot read or data cut short.
void forEachMember(BinaryFile& file, RunReporter& reporter,
                   const std::function<void(const ArchiveEntry&, int64_t dataStart)>& fn);

}  // namespace qorn::corpus
