// What the parts of the archive writer share: a file or folder to pack, the
// count of file bytes read so far, and the reader the encoder pulls from.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "encode/archive_writer.h"
#include "encode/lzh_encoder.h"

namespace qorn::encode {

// A file or folder found on disk and what its member will say.
struct Item {
    std::string disk;
    MemberHeader header;
    uint64_t size = 0;
};

inline std::string systemError() {
    return std::strerror(errno);
}

// File bytes read so far, out of all the members' sizes.
struct Progress {
    const PackOptions& options;
    uint64_t done = 0;
    uint64_t total = 0;
    const std::string* path = nullptr;
    void add(uint64_t n) {
        done += n;
        if (options.progress) options.progress(done, total, *path);
    }
};

// Feeds a file to the encoder, counting what it reads when given a Progress.
class FileSource : public ByteSource {
  public:
    FileSource(FILE* f, Progress* progress) : f_(f), progress_(progress) {}
    int64_t read(uint8_t* buffer, size_t count) override {
        const size_t n = std::fread(buffer, 1, count, f_);
        if (n == 0 && std::ferror(f_)) return -1;
        if (progress_) progress_->add(n);
        return static_cast<int64_t>(n);
    }

  private:
    FILE* f_;
    Progress* progress_;  // null on worker threads
};

}  // namespace qorn::encode
