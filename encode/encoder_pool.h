// Worker threads that encode small files into memory ahead of the writer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "encode/pack_item.h"
#include "payload/archive_entry.h"

namespace qorn::encode {

// Files up to this size are encoded by worker threads into memory, ahead of
// the writer, which puts them into the archive in their order. Each member
// is encoded on its own, so the archive does not depend on the timing.
constexpr uint64_t kParallelFileLimit = 8u << 20;

struct Job {
    Item* item = nullptr;
    std::vector<uint8_t> packed;
    EncodeResult result;
    int error = 0;  // errno of a failed open or read
    bool done = false;
};

class EncoderPool {
  public:
    EncoderPool(std::vector<Job>& jobs, Method method, EncodeLevel level = EncodeLevel::Default);
    ~EncoderPool();

    // Waits for job k; the caller hands its memory back with release().
    Job& wait(size_t k);
    void release(size_t k);

  private:
    void work();
    void run(Job& job);

    std::vector<Job>& jobs_;
    const Method method_;
    const EncodeLevel level_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;
    size_t written_ = 0;
    uint64_t buffered_ = 0;
    bool stop_ = false;
};

}  // namespace qorn::encode
