#include "payload/binary_file.h"

#include <cstring>
#include <new>

#include "base/failure.h"

namespace qorn {

BinaryFile::BinaryFile(platform::FileHandle handle, int64_t size) : handle_(handle) {
    if (isOpen()) size_ = size >= 0 ? size : platform::fileSize(handle);
}

static BinaryFile* wrap(platform::FileHandle handle, int64_t size) {
    if (handle == platform::kNoFile) return nullptr;
    BinaryFile* file = new (std::nothrow) BinaryFile(handle, size);
    if (!file) {
        platform::closeFile(handle);
        failAllocation();
    }
    return file;
}

// A file just opened is at its start.
BinaryFile* BinaryFile::openForReading(const char16_t* path) {
    BinaryFile* file = wrap(platform::openForReading(path), -1);
    if (file) file->position_ = 0;
    return file;
}

BinaryFile* BinaryFile::createForWriting(const char16_t* path) {
    BinaryFile* file = wrap(platform::createForWriting(path), 0);
    if (file) file->position_ = 0;
    return file;
}

int64_t BinaryFile::read(void* buffer, uint32_t count) {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t done = buffered() < count ? buffered() : count;
    if (done != 0) {
        std::memcpy(out, buffer_ + bufferNext_, done);
        bufferNext_ += done;
        if (position_ >= 0) position_ += done;
    }
    if (done == count) return done;
    const uint32_t rest = count - done;
    const bool small = rest < kBufferSize;
    if (small && !buffer_) buffer_ = new (std::nothrow) uint8_t[kBufferSize];
    uint8_t* const target = small && buffer_ ? buffer_ : out + done;
    const uint32_t fill = skipped_ && rest <= kSkipFill ? kSkipFill : kBufferSize;
    skipped_ = false;
    const int64_t got = platform::readFile(handle_, target, target == buffer_ ? fill : rest);
    if (got < 0) {
        position_ = -1;
        return done != 0 ? static_cast<int64_t>(done) : -1;
    }
    uint32_t taken = static_cast<uint32_t>(got);
    if (target == buffer_) {
        bufferEnd_ = taken;
        if (taken > rest) taken = rest;
        std::memcpy(out + done, buffer_, taken);
        bufferNext_ = taken;
    } else {
        // The bytes read ahead no longer end where the file is: a move back
        // must not land in them.
        dropBuffer();
    }
    if (position_ >= 0) position_ += taken;
    return done + taken;
}

bool BinaryFile::write(const void* buffer, uint32_t count) {
    // Reads ran ahead of the position: the bytes go where the reader is.
    if (buffered() != 0 && !seekSystem(position())) return false;
    const bool written = platform::writeFile(handle_, buffer, count);
    // A failed write may have written part of the bytes.
    if (!written)
        position_ = -1;
    else if (position_ >= 0)
        position_ += count;
    return written;
}

bool BinaryFile::moveTo(int64_t offset) {
    if (position_ >= 0 && offset >= position_ - bufferNext_ && offset <= position_ + buffered()) {
        bufferNext_ = static_cast<uint32_t>(offset - (position_ - bufferNext_));
        position_ = offset;
        return true;
    }
    return seekSystem(offset);
}

bool BinaryFile::seekSystem(int64_t offset) {
    if (offset < 0 || !platform::seekFile(handle_, offset, platform::Seek::Begin)) return false;
    skipped_ = position_ >= 0 && offset - (position_ + buffered()) > kBufferSize;
    dropBuffer();
    position_ = offset;
    return true;
}

bool BinaryFile::moveBy(int64_t distance) {
    const int64_t here = position();
    return here >= 0 && moveTo(here + distance);
}

int64_t BinaryFile::position() const {
    if (position_ < 0) {
        const int64_t system = platform::filePosition(handle_);
        position_ = system < 0 ? -1 : system - buffered();
    }
    return position_;
}

void BinaryFile::close() {
    platform::closeFile(handle_);
    handle_ = platform::kNoFile;
    position_ = -1;
    delete[] buffer_;
    buffer_ = nullptr;
    dropBuffer();
}

}  // namespace qorn
