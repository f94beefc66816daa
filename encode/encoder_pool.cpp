#include "encode/encoder_pool.h"

#include <algorithm>

#include "platform/host_files.h"

namespace qorn::encode {

namespace {

constexpr uint64_t kMaxBufferedBytes = 24u << 20;
constexpr size_t kMaxJobsAhead = 64;

}  // namespace

EncoderPool::EncoderPool(std::vector<Job>& jobs, Method method, EncodeLevel level)
    : jobs_(jobs), method_(method), level_(level) {
    unsigned n = std::thread::hardware_concurrency();
    n = std::max(1u, std::min(n, 4u));
    if (jobs_.empty()) n = 0;
    for (unsigned i = 0; i < n; ++i) threads_.emplace_back([this] { work(); });
}

EncoderPool::~EncoderPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
}

Job& EncoderPool::wait(size_t k) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return jobs_[k].done; });
    return jobs_[k];
}

void EncoderPool::release(size_t k) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        buffered_ -= jobs_[k].packed.size();
        std::vector<uint8_t>().swap(jobs_[k].packed);
        written_ = k + 1;
    }
    changed_.notify_all();
}

void EncoderPool::work() {
    while (true) {
        size_t k;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] {
                return stop_ || (next_ < jobs_.size() && next_ < written_ + kMaxJobsAhead &&
                                 buffered_ < kMaxBufferedBytes);
            });
            if (stop_) return;
            k = next_++;
            buffered_ += jobs_[k].item->size;  // at most this much comes back
        }
        Job& job = jobs_[k];
        run(job);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            buffered_ -= job.item->size;
            buffered_ += job.packed.size();
            job.done = true;
        }
        changed_.notify_all();
    }
}

void EncoderPool::run(Job& job) {
    FILE* in = host::openFile(job.item->disk.c_str(), "rb");
    if (!in) {
        job.error = errno;
        job.result.status = EncodeResult::ReadFailed;
        return;
    }
    FileSource source(in, nullptr);
    VectorSink sink(job.packed);
    job.result = encodeStream(method_, source, sink, job.item->size - 1, job.item->size, level_);
    if (job.result.status == EncodeResult::ReadFailed) job.error = errno;
    if (job.result.status != EncodeResult::Done) std::vector<uint8_t>().swap(job.packed);
    std::fclose(in);
}

}  // namespace qorn::encode
