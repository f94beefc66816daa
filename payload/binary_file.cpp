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
    return platform::readFile(handle_, buffer, count);
}

bool BinaryFile::write(const void* buffer, uint32_t count) {
    return platform::writeFile(handle_, buffer, count);
}

void BinaryFile::close() {
    platform::closeFile(handle_);
    handle_ = platform::kNoFile;
}

}  // namespace qorn
