// Members decoded on several threads ahead of a run that takes them in
// archive order (the native tool's test and extract; never the stub).
//
// The decoder walks the archive's headers on a file of its own, silently,
// and gives each thread a context of its own; the run reads the headers
// itself as before and takes each member's outcome by where its data
// starts, so that everything it shows or writes comes in the order and
// with the words of a run on one thread. Small members go to the threads
// in batches of consecutive members (a job per member would cost more in
// hand-overs than in decoding). A member the decoder has no job for
// (stored, a folder, beyond a header it could not read, in extraction one
// larger than it keeps in memory) is decoded by the run as before.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "extract/extraction_worker.h"

namespace qorn {

// Threads that decode: QORN_DECODE_THREADS when set (1 to 64), else one
// per core. With one, the run decodes alone, as the stub does.
unsigned decodeThreads();

class PageBuffer;  // decoded bytes kept for the run (parallel_decode.cpp)

class ParallelDecoder {
  public:
    // The archive at path, from offset on (the first member header).
    // keepBytes: members are kept in memory for the run to write (at most
    // aheadBytes of them beyond the one it waits for); otherwise only
    // their CRCs are computed. threads 0: one per core.
    // runDecodes: the run decodes a batch no thread has started when it
    // comes to it (false: it waits, so that every member goes through the
    // threads).
    ParallelDecoder(const char16_t* path, int64_t offset, bool keepBytes,
                    uint64_t aheadBytes = 64u << 20, unsigned threads = 0, bool runDecodes = true);
    ~ParallelDecoder();
    ParallelDecoder(const ParallelDecoder&) = delete;
    ParallelDecoder& operator=(const ParallelDecoder&) = delete;

    // The outcome of the member whose data starts at dataStart, waiting for
    // it; false when there is no job for it. Members before it are dropped.
    bool result(int64_t dataStart, MemberResult& result);
    // The same, its bytes written to output (a failed write is fatal, as in
    // the decoder).
    bool take(int64_t dataStart, RunReporter& reporter, BinaryFile& output, MemberResult& result);

    // An ExtractionJob's decoder (MemberDecoder) that takes members from
    // the decoder made current, and decodes the others with decodeMember.
    // One current decoder at a time, made so by the run's owner.
    static void makeCurrent(ParallelDecoder* decoder);
    static MemberResult decodeAhead(DecoderContext& context, RunReporter& reporter,
                                    BinaryFile& input, BinaryFile& output, uint32_t originalSize,
                                    uint32_t packedSize, Method method);

  private:
    struct Member;
    struct Job;
    void scan(BinaryFile* headers);
    void work(BinaryFile* input);
    // Waits for the job that holds the member of dataStart and returns the
    // member, its job in job; nullptr when there is none.
    Member* wait(int64_t dataStart, std::unique_lock<std::mutex>& lock, Job*& job);
    // The run is done with job: its bytes go, its room is free.
    void release(Job& job);

    const bool keepBytes_;
    const bool runDecodes_;
    const uint64_t aheadBytes_;
    std::vector<std::unique_ptr<Job>> jobs_;
    size_t next_ = 0;      // the next job a thread starts
    size_t consumed_ = 0;  // jobs before this one are dropped
    uint64_t held_ = 0;    // bytes of kept members not yet taken
    bool stopping_ = false;
    bool scanned_ = false;           // every job is in jobs_
    std::vector<PageBuffer> spare_;  // buffers to use again
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> threads_;
};

}  // namespace qorn
