#include "extract/parallel_decode.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/crc16.h"
#include "decode/decoder_context.h"
#include "platform/platform.h"

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

// Consecutive members go to a thread together until they come to this
// many bytes, or this many members; a member this large is a job alone.
constexpr uint64_t kBatchBytes = 256 * 1024;
constexpr size_t kBatchMembers = 256;

// The decoder decodeAhead takes members from.
std::atomic<ParallelDecoder*> current{nullptr};

// Discards the bytes a member decodes to (its CRC is computed all the same).
class NoSink : public MemberSink {
  public:
    bool write(const uint8_t*, uint32_t) override { return true; }
};

// Headers are walked without a word: the run reads them again and speaks.
class SilentReporter : public RunReporter {
  public:
    void messageBox(BoxOwner, const char16_t*, const char16_t*, uint32_t) override {}
};

}  // namespace

// Decoded bytes kept for the run, in pages of their own: a buffer is used
// again job after job, and its pages are faulted in once (in huge pages
// where the system gives them), where the heap's large blocks went back to
// the system when freed and came back one page fault a 4 KiB page.
class PageBuffer {
  public:
    PageBuffer() = default;
    PageBuffer(PageBuffer&& other) noexcept { swap(other); }
    PageBuffer& operator=(PageBuffer&& other) noexcept {
        swap(other);
        return *this;
    }
    ~PageBuffer() { platform::freePages(data_, capacity_); }

    void swap(PageBuffer& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(capacity_, other.capacity_);
        std::swap(size_, other.size_);
    }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    void clear() { size_ = 0; }
    // False when the memory cannot be had (the buffer is as it was).
    bool reserve(size_t count) {
        if (count <= capacity_) return true;
        constexpr size_t kStep = size_t{2} << 20;
        if (count > SIZE_MAX - kStep) return false;
        const size_t rounded = (count + kStep - 1) / kStep * kStep;
        uint8_t* pages = static_cast<uint8_t*>(platform::allocatePages(rounded));
        if (!pages) return false;
        if (size_) std::memcpy(pages, data_, size_);
        platform::freePages(data_, capacity_);
        data_ = pages;
        capacity_ = rounded;
        return true;
    }
    bool append(const uint8_t* bytes, size_t count) {
        if (count > capacity_ - size_ &&
            (count > SIZE_MAX - size_ || !reserve(std::max(size_ + count, capacity_ * 2))))
            return false;
        std::memcpy(data_ + size_, bytes, count);
        size_ += count;
        return true;
    }

  private:
    uint8_t* data_ = nullptr;
    size_t capacity_ = 0;
    size_t size_ = 0;
};

namespace {

// Keeps what a member decodes to; when memory runs out it drops the rest
// and says so, and the run decodes the member itself.
class MemorySink : public MemberSink {
  public:
    explicit MemorySink(PageBuffer& bytes) : bytes_(bytes) {}
    bool write(const uint8_t* bytes, uint32_t count) override {
        if (!failed_ && !bytes_.append(bytes, count)) failed_ = true;
        return true;
    }
    bool failed() const { return failed_; }
    void reset() { failed_ = false; }

  private:
    PageBuffer& bytes_;
    bool failed_ = false;
};

}  // namespace

struct ParallelDecoder::Member {
    int64_t dataStart;
    uint32_t packedSize;
    uint32_t originalSize;
    Method method;
    bool decoded = false;  // false: the file could not be read here
    MemberResult result;
    size_t offset = 0;  // its bytes in the job's, when kept
    size_t count = 0;
};

struct ParallelDecoder::Job {
    std::vector<Member> members;  // consecutive in the archive
    uint64_t originalSize = 0;    // theirs together
    bool started = false;
    bool done = false;
    bool byRun = false;     // the run came to it first and decodes it itself
    bool released = false;  // taken or passed over by the run
    PageBuffer bytes;
};

ParallelDecoder::ParallelDecoder(const char16_t* path, int64_t offset, bool keepBytes,
                                 uint64_t aheadBytes, unsigned threads, bool runDecodes)
    : keepBytes_(keepBytes), runDecodes_(runDecodes), aheadBytes_(aheadBytes) {
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
    std::unique_ptr<Job> batch;
    // Hands the batch being made to the threads; false once they stop.
    const auto push = [this, &batch] {
        if (!batch) return true;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return false;
        jobs_.push_back(std::move(batch));
        changed_.notify_all();
        return true;
    };
    while (readEntryHeader(*file, entry, quiet) == HeaderResult::Member) {
        const int64_t dataStart = file->position();
        const Method method = methodOf(entry.method);
        const bool decoded =
            method != Method::Unknown && method != Method::Lhd && !isStored(method);
        if (decoded && (!keepBytes_ || entry.originalSize <= aheadBytes_)) {
            // A large member goes alone, and first ends the batch before it.
            if (entry.originalSize >= kBatchBytes && !push()) return;
            if (!batch) batch.reset(new Job);
            Member member;
            member.dataStart = dataStart;
            member.packedSize = entry.packedSize;
            member.originalSize = entry.originalSize;
            member.method = method;
            batch->members.push_back(member);
            batch->originalSize += entry.originalSize;
            if ((batch->originalSize >= kBatchBytes || batch->members.size() >= kBatchMembers) &&
                !push())
                return;
        }
        if (!file->holds(dataStart, entry.packedSize) ||
            !file->moveTo(dataStart + static_cast<int64_t>(entry.packedSize)))
            break;
    }
    if (!push()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    scanned_ = true;
    changed_.notify_all();
}

void ParallelDecoder::work(BinaryFile* input) {
    std::unique_ptr<BinaryFile> file(input);
    std::unique_ptr<DecoderContext> context(new DecoderContext());
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
            // Kept bytes: a few jobs a thread ahead of the run, enough to
            // keep the threads busy; more would only hold memory (and fresh
            // memory costs a page fault a page).
            return !keepBytes_ || next_ <= consumed_ ||
                   (next_ - consumed_ < threads_.size() &&
                    held_ + jobs_[next_]->originalSize <= aheadBytes_);
        });
        if (stopping_ || next_ >= jobs_.size()) return;
        Job& job = *jobs_[next_++];
        if (job.started) continue;  // the run's own
        job.started = true;
        if (keepBytes_) {
            held_ += job.originalSize;
            // A buffer an earlier job used: its pages are in memory already
            // (a fresh one's first writes fault page by page, and the
            // allocator maps large ones afresh each time). The smallest
            // that holds the job, else the largest, which then grows.
            auto fits = spare_.end(), largest = spare_.end();
            for (auto it = spare_.begin(); it != spare_.end(); ++it) {
                if (it->capacity() >= job.originalSize &&
                    (fits == spare_.end() || it->capacity() < fits->capacity()))
                    fits = it;
                if (largest == spare_.end() || it->capacity() > largest->capacity()) largest = it;
            }
            const auto pick = fits != spare_.end() ? fits : largest;
            if (pick != spare_.end()) {
                job.bytes.swap(*pick);
                spare_.erase(pick);
            }
        }
        lock.unlock();

        MemorySink memory(job.bytes);
        job.bytes.clear();
        if (keepBytes_) job.bytes.reserve(job.originalSize);
        context->sink = keepBytes_ ? static_cast<MemberSink*>(&memory) : &none;
        for (Member& m : job.members) {
            if (!file || !file->moveTo(m.dataStart)) continue;
            m.offset = job.bytes.size();
            memory.reset();
            m.result = decodeMember(*context, quiet, *file, nowhere, m.originalSize, m.packedSize,
                                    m.method);
            m.count = job.bytes.size() - m.offset;
            m.decoded = !memory.failed();
        }

        lock.lock();
        job.done = true;
        // Passed over while it ran: nobody will take the bytes.
        if (job.released) PageBuffer().swap(job.bytes);
        changed_.notify_all();
    }
}

ParallelDecoder::Member* ParallelDecoder::wait(int64_t dataStart,
                                               std::unique_lock<std::mutex>& lock, Job*& found) {
    // Jobs and their members are in archive order, and so are the run's
    // requests; the walk may not have reached this member yet.
    size_t i = consumed_;
    for (;;) {
        while (i < jobs_.size() && jobs_[i]->members.back().dataStart < dataStart) ++i;
        if (i < jobs_.size() || scanned_) break;
        changed_.wait(lock);
    }
    // Jobs the run passed over are dropped with their bytes.
    for (size_t k = consumed_; k < i; ++k) release(*jobs_[k]);
    consumed_ = i;
    changed_.notify_all();
    if (i >= jobs_.size()) return nullptr;
    Job& job = *jobs_[i];
    Member* member = nullptr;
    for (Member& m : job.members) {
        if (m.dataStart == dataStart) member = &m;
    }
    if (!member) return nullptr;
    // No thread has started it: rather than wait, the run decodes its
    // members itself, in place (as a run on one thread does).
    if (!job.started && runDecodes_) {
        job.started = job.done = job.byRun = true;
        for (Member& m : job.members) m.decoded = false;
    }
    changed_.wait(lock, [&job] { return job.done; });
    // The job's last member: the run is done with it.
    if (member == &job.members.back()) consumed_ = i + 1;
    if (!member->decoded) {
        if (consumed_ > i) release(job);
        return nullptr;
    }
    found = &job;
    return member;
}

void ParallelDecoder::release(Job& job) {
    if (job.released) return;
    job.released = true;
    if (job.started && !job.byRun && keepBytes_) held_ -= job.originalSize;
    if (!job.done) return;
    // Its buffer is kept for a job to come: one for each thread and two
    // more, the smallest giving way to a larger one.
    if (keepBytes_) {
        if (spare_.size() < threads_.size() + 2) {
            spare_.push_back(std::move(job.bytes));
        } else {
            auto smallest = std::min_element(
                spare_.begin(), spare_.end(),
                [](const auto& a, const auto& b) { return a.capacity() < b.capacity(); });
            if (smallest->capacity() < job.bytes.capacity()) smallest->swap(job.bytes);
        }
    }
    PageBuffer().swap(job.bytes);
}

bool ParallelDecoder::result(int64_t dataStart, MemberResult& result) {
    std::unique_lock<std::mutex> lock(mutex_);
    Job* job = nullptr;
    Member* member = wait(dataStart, lock, job);
    if (!member) return false;
    result = member->result;
    if (member == &job->members.back()) release(*job);
    changed_.notify_all();
    return true;
}

bool ParallelDecoder::take(int64_t dataStart, RunReporter& reporter, BinaryFile& output,
                           MemberResult& result) {
    Job* job = nullptr;
    Member* member;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        member = wait(dataStart, lock, job);
        if (!member) return false;
        result = member->result;
    }
    // The job is done and not released: its bytes are the run's alone.
    // Out of memory, nothing was decoded: the run deals with it as usual.
    if (!result.outOfMemory) {
        const uint8_t* p = job->bytes.data() + member->offset;
        size_t left = member->count;
        while (left > 0) {
            const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(left, 1u << 20));
            if (!output.write(p, piece)) fatalWriteError(reporter, kTextWriteFailed);
            p += piece;
            left -= piece;
        }
    }
    if (member == &job->members.back()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            release(*job);
        }
        changed_.notify_all();
    }
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
