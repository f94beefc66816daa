// One open file: the payload or a member's output.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace qorn {

class BinaryFile {
  public:
    BinaryFile() = default;
    // size: the file's size when the caller knows it (a file just created
    // is empty), else -1 to ask the system.
    explicit BinaryFile(platform::FileHandle handle, int64_t size = -1);
    ~BinaryFile() { close(); }
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    static BinaryFile* openForReading(const char16_t* path);
    static BinaryFile* createForWriting(const char16_t* path);

    bool isOpen() const { return handle_ != platform::kNoFile; }
    // Bytes read, or -1 on failure.
    int64_t read(void* buffer, uint32_t count);
    bool readByte(uint8_t& byte) { return read(&byte, 1) == 1; }
    bool write(const void* buffer, uint32_t count);
    // The position is kept here once known, so that asking for it or
    // moving to where the file already is costs no system call (each is
    // dear under Wine, and an archive walk asks three times a member).
    // Small reads go through a buffer: a member's header comes in three or
    // four pieces, and a walk over small members reads and skips a few
    // kilobytes at a time, so moves that stay inside the buffer cost no
    // system call either. A failed move leaves the file where it was.
    bool moveTo(int64_t offset);
    bool moveBy(int64_t distance);
    int64_t position() const;
    // Size when the file was opened.
    int64_t size() const { return size_; }
    // Does the file hold count bytes from offset on?
    bool holds(int64_t offset, uint64_t count) const {
        return offset >= 0 && offset <= size_ && count <= static_cast<uint64_t>(size_ - offset);
    }
    void close();

  private:
    static constexpr uint32_t kBufferSize = 32768;
    // After a move over more than a buffer's worth (a walk past a large
    // member), the next header is read with this much only.
    static constexpr uint32_t kSkipFill = 4096;
    uint32_t buffered() const { return bufferEnd_ - bufferNext_; }
    void dropBuffer() { bufferNext_ = bufferEnd_ = 0; }
    // The system's position is buffered() bytes past position_.
    bool seekSystem(int64_t offset);

    platform::FileHandle handle_ = platform::kNoFile;
    int64_t size_ = 0;
    mutable int64_t position_ = -1;  // -1: not known
    uint8_t* buffer_ = nullptr;      // made at the first small read
    uint32_t bufferNext_ = 0;
    uint32_t bufferEnd_ = 0;
    bool skipped_ = false;  // the last move went far ahead
};

}  // namespace qorn
