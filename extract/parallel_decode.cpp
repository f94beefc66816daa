#include "extract/parallel_decode.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "base/crc16.h"
#include "decode/decoder_context.h"

namespace qorn {

unsigned decodeThreads() {
    if (const char* text = std::getenv("QORN_DECODE_THREADS")) {
        const long n = std::strtol(text, nullptr, 10);
        if (n >= 1 && n <= 64) return static_cast<unsigned>(n);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores ? cores : 1;
}

namespace {

// Extraction keeps members of this size and more.
constexpr uint32_t kSmallestKept = 32 * 1024;

// The decoder decodeAhead takes members from.
std::atomic<ParallelDecoder*> current{nullptr};

// Discards the bytes a member decodes to (its CRC is computed all the same).
class NoSink : public MemberSink {
  public:
    bool write(const uint8_t*, uint32_t) override { return true; }
};

class MemorySink : public MemberSink {
  public:
    explicit MemorySink(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool write(const uint8_t* bytes, uint32_t count) override {
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        return true;
    }

  private:
    std::vector<uint8_t>& bytes_;
};

// Headers are walked without a word: the run reads them again and speaks.
class SilentReporter : public RunReporter {
  public:
    void messageBox(BoxOwner, const char16_t*, const char16_t*, uint32_t) override {}
};

}  // namespace

struct ParallelDecoder::Job {
    int64_t dataStart;
    uint32_t packedSize;
    uint32_t originalSize;
    Method method;
    bool started = false;
    bool done = false;
    bool decoded = false;   // false: the file could not be read here
    bool released = false;  // taken or passed over by the run
    MemberResult result;
    std::vector<uint8_t> bytes;
};

ParallelDecoder::ParallelDecoder(const char16_t* path, int64_t offset, bool keepBytes,
                                 uint64_t aheadBytes, unsigned threads)
    : keepBytes_(keepBytes), aheadBytes_(aheadBytes) {
    // Before any thread computes a CRC; later calls leave the tables alone.
    makeCrcTable();
    if (threads == 0) threads = decodeThreads();
    // Each thread reads through a file of its own, opened here: the run may
    // change its current directory before the threads get going.
    BinaryFile* headers = BinaryFile::openForReading(path);
    if (!headers || !headers->moveTo(offset)) {
        delete headers;
        scanned_ = true;
        return;
    }
    // The headers are walked while the first members decode.
    threads_.emplace_back([this, headers] { scan(headers); });
    for (unsigned i = 0; i < threads; ++i) {
        BinaryFile* file = BinaryFile::openForReading(path);
        if (!file) break;
        threads_.emplace_back([this, file] { work(file); });
    }
}

ParallelDecoder::~ParallelDecoder() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void ParallelDecoder::scan(BinaryFile* headers) {
    std::unique_ptr<BinaryFile> file(headers);
    SilentReporter quiet;
    ArchiveEntry entry;
    while (readEntryHeader(*file, entry, quiet) == HeaderResult::Member) {
        const int64_t dataStart = file->position();
        const Method method = methodOf(entry.method);
        const bool decoded =
            method != Method::Unknown && method != Method::Lhd && !isStored(method);
        // A small member costs the run more to hand over than to decode
        // where it writes it.
        const bool worth = !keepBytes_ || (entry.originalSize >= kSmallestKept &&
                                           entry.originalSize <= aheadBytes_);
        if (decoded && worth) {
            std::unique_ptr<Job> job(new Job);
            job->dataStart = dataStart;
            job->packedSize = entry.packedSize;
            job->originalSize = entry.originalSize;
            job->method = method;
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            jobs_.push_back(std::move(job));
            changed_.notify_all();
        }
        if (!file->holds(dataStart, entry.packedSize) ||
            !file->moveTo(dataStart + static_cast<int64_t>(entry.packedSize)))
            break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    scanned_ = true;
    changed_.notify_all();
}

void ParallelDecoder::work(BinaryFile* input) {
    std::unique_ptr<BinaryFile> file(input);
    std::unique_ptr<DecoderContext> context(new DecoderContext);
    NoSink none;
    SilentReporter quiet;
    BinaryFile nowhere;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // The next job, once the members held leave room for it; the one
        // the run waits for always starts.
        changed_.wait(lock, [this] {
            if (stopping_) return true;
            if (next_ < consumed_) next_ = consumed_;
            if (next_ >= jobs_.size()) return scanned_;
            return !keepBytes_ || next_ <= consumed_ ||
                   held_ + jobs_[next_]->originalSize <= aheadBytes_;
        });
        if (stopping_ || next_ >= jobs_.size()) return;
        Job& job = *jobs_[next_++];
        job.started = true;
        if (keepBytes_) {
            held_ += job.originalSize;
            // A buffer an earlier member used: its pages are in memory
            // already (a fresh one's first writes fault page by page).
            if (!spare_.empty()) {
                job.bytes.swap(spare_.back());
                spare_.pop_back();
            }
        }
        lock.unlock();

        MemorySink memory(job.bytes);
        bool ran = false;
        if (file && file->moveTo(job.dataStart)) {
            job.bytes.clear();
            if (keepBytes_) job.bytes.reserve(job.originalSize);
            context->sink = keepBytes_ ? static_cast<MemberSink*>(&memory) : &none;
            job.result = decodeMember(*context, quiet, *file, nowhere, job.originalSize,
                                      job.packedSize, job.method);
            ran = true;
        }

        lock.lock();
        job.decoded = ran;
        job.done = true;
        // Passed over while it ran: nobody will take the bytes.
        if (job.released) std::vector<uint8_t>().swap(job.bytes);
        changed_.notify_all();
    }
}

ParallelDecoder::Job* ParallelDecoder::wait(int64_t dataStart, std::unique_lock<std::mutex>& lock) {
    // Jobs are in archive order, and so are the run's requests; the walk may
    // not have reached this member yet.
    size_t i = consumed_;
    for (;;) {
        while (i < jobs_.size() && jobs_[i]->dataStart < dataStart) ++i;
        if (i < jobs_.size() || scanned_) break;
        changed_.wait(lock);
    }
    if (i >= jobs_.size() || jobs_[i]->dataStart != dataStart) return nullptr;
    // Members the run passed over are dropped with their bytes.
    for (size_t k = consumed_; k < i; ++k) release(*jobs_[k]);
    consumed_ = i;
    changed_.notify_all();
    Job& job = *jobs_[i];
    changed_.wait(lock, [&job] { return job.done; });
    consumed_ = i + 1;
    if (!job.decoded) {
        release(job);
        return nullptr;
    }
    return &job;
}

void ParallelDecoder::release(Job& job) {
    if (job.released) return;
    job.released = true;
    if (job.started && keepBytes_) held_ -= job.originalSize;
    if (job.done) std::vector<uint8_t>().swap(job.bytes);
}

bool ParallelDecoder::result(int64_t dataStart, MemberResult& result) {
    std::unique_lock<std::mutex> lock(mutex_);
    Job* job = wait(dataStart, lock);
    if (!job) return false;
    result = job->result;
    release(*job);
    changed_.notify_all();
    return true;
}

bool ParallelDecoder::take(int64_t dataStart, RunReporter& reporter, BinaryFile& output,
                           MemberResult& result) {
    std::vector<uint8_t> bytes;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        Job* job = wait(dataStart, lock);
        if (!job) return false;
        result = job->result;
        bytes.swap(job->bytes);
        release(*job);
    }
    changed_.notify_all();
    // Out of memory, nothing was decoded: the run deals with it as usual.
    if (!result.outOfMemory) {
        const uint8_t* p = bytes.data();
        size_t left = bytes.size();
        while (left > 0) {
            const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(left, 1u << 20));
            if (!output.write(p, piece)) fatalWriteError(reporter, kTextWriteFailed);
            p += piece;
            left -= piece;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.size() < threads_.size() + 2) spare_.push_back(std::move(bytes));
    return true;
}

void ParallelDecoder::makeCurrent(ParallelDecoder* decoder) {
    current.store(decoder);
}

MemberResult ParallelDecoder::decodeAhead(DecoderContext& context, RunReporter& reporter,
                                          BinaryFile& input, BinaryFile& output,
                                          uint32_t originalSize, uint32_t packedSize,
                                          Method method) {
    MemberResult result;
    ParallelDecoder* const decoder = current.load();
    if (decoder && decoder->take(input.position(), reporter, output, result)) {
        // As the decoder would have reported it, at the end.
        context.progress.report(originalSize);
        return result;
    }
    return decodeMember(context, reporter, input, output, originalSize, packedSize, method);
}

}  // namespace qorn
