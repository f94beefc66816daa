#include "payload/binary_file.h"

#include <new>

#include "base/failure.h"

namespace qorn {

BinaryFile::BinaryFile(platform::FileHandle handle) : handle_(handle) {
    size_ = isOpen() ? platform::fileSize(handle) : 0;
}

static BinaryFile* wrap(platform::FileHandle handle) {
    if (handle == platform::kNoFile) return nullptr;
    BinaryFile* file = new (std::nothrow) BinaryFile(handle);
    if (!file) {
        platform::closeFile(handle);
        failAllocation();
    }
    return file;
}

BinaryFile* BinaryFile::openForReading(const char16_t* path) {
    return wrap(platform::openForReading(path));
}

BinaryFile* BinaryFile::createForWriting(const char16_t* path) {
    return wrap(platform::createForWriting(path));
}

int64_t BinaryFile::read(void* buffer, uint32_t count) {
    const int64_t got = platform::readFile(handle_, buffer, count);
    if (got < 0)
        position_ = -1;
    else if (position_ >= 0)
        position_ += got;
    return got;
}

bool BinaryFile::write(const void* buffer, uint32_t count) {
    const bool written = platform::writeFile(handle_, buffer, count);
    // A failed write may have written part of the bytes.
    if (!written)
        position_ = -1;
    else if (position_ >= 0)
        position_ += count;
    return written;
}

bool BinaryFile::moveTo(int64_t offset) {
    if (offset >= 0 && offset == position_) return true;
    const bool moved = platform::seekFile(handle_, offset, platform::Seek::Begin);
    position_ = moved ? offset : -1;
    return moved;
}

bool BinaryFile::moveBy(int64_t distance) {
    const bool moved = platform::seekFile(handle_, distance, platform::Seek::Current);
    position_ = moved && position_ >= 0 ? position_ + distance : -1;
    return moved;
}

int64_t BinaryFile::position() const {
    if (position_ < 0) position_ = platform::filePosition(handle_);
    return position_;
}

void BinaryFile::close() {
    platform::closeFile(handle_);
    handle_ = platform::kNoFile;
    position_ = -1;
}

}  // namespace qorn
