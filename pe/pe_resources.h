// The resources of a Windows executable, read out of its resource section
// and written back into it.
//
// Only an executable whose resource section is its last one can be edited:
// the section may then grow or shrink up to a limit in the file without
// moving anything else. Headers are kept consistent with the new section
// (its sizes, the image size, the resource directory entry).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qorn::encode {

constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;

// A type or name: a number, or a text when the text is not empty.
struct ResourceId {
    uint16_t id = 0;
    std::u16string name;
    bool operator==(const ResourceId& o) const { return id == o.id && name == o.name; }
    bool is(uint16_t number) const { return name.empty() && id == number; }
};

struct Resource {
    ResourceId type;
    ResourceId name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

class PeResources {
  public:
    // Reads the headers and resources of image; limit is the file offset the
    // resource section may not pass. False with a message when the image
    // cannot be edited this way.
    bool load(const std::vector<uint8_t>& image, size_t limit, std::string& error);

    std::vector<Resource> resources;

    // Bytes the resource section needs for these resources, and the bytes it
    // may have.
    size_t sectionSize(const std::vector<Resource>& list) const;
    size_t room() const { return limit_ - rawStart_; }

    // Writes resources into image (the one given to load) and fixes the
    // headers; false when they need more than room().
    bool store(std::vector<uint8_t>& image, std::string& error) const;

    // Offset of the header's checksum field.
    size_t checksumOffset() const { return checksumOffset_; }

  private:
    bool readDirectory(const std::vector<uint8_t>& image, uint32_t offset, int depth,
                       Resource& path, std::string& error);
    std::vector<uint8_t> build(const std::vector<Resource>& list) const;

    size_t limit_ = 0;
    size_t rawStart_ = 0;  // file offset of the resource section
    size_t rawSize_ = 0;   // its bytes in the file
    uint32_t virtualAddress_ = 0;
    size_t sectionHeader_ = 0;   // file offset of its section header
    size_t optionalHeader_ = 0;  // file offset of the optional header
    size_t directoryEntry_ = 0;  // file offset of the resource directory entry
    uint32_t fileAlignment_ = 0;
    uint32_t sectionAlignment_ = 0;
    size_t checksumOffset_ = 0;
};

// The checksum of the header's CheckSum field, computed over the whole file
// in pieces; the field's own four bytes count as zero.
class PeChecksum {
  public:
    explicit PeChecksum(size_t fieldOffset) : field_(fieldOffset) {}
    void add(const uint8_t* bytes, size_t count);
    uint32_t finish() const;

  private:
    size_t field_;
    size_t length_ = 0;
    uint32_t sum_ = 0;
    uint8_t low_ = 0;  // the first byte of a word split between pieces
};

}  // namespace qorn::encode
