#include "encode/archive_writer.h"

#include <cerrno>
#include <cstring>

#include "base/crc16.h"
#include "encode/encoder_pool.h"
#include "encode/lzh_encoder.h"
#include "encode/pack_item.h"
#include "encode/tree_collector.h"
#include "platform/host_files.h"

namespace qorn::encode {

namespace {

class FileSink : public ByteSink {
  public:
    explicit FileSink(FILE* f) : f_(f) {}
    bool write(const uint8_t* bytes, size_t count) override {
        return std::fwrite(bytes, 1, count, f_) == count;
    }

  private:
    FILE* f_;
};

bool writeBytes(FILE* out, const std::vector<uint8_t>& b) {
    return b.empty() || std::fwrite(b.data(), 1, b.size(), out) == b.size();
}

// Copies the file as it is; returns false on a read or write failure.
bool copyStored(FILE* in, FILE* out, Progress& progress, uint64_t& size, uint16_t& crc,
                bool& readFailed) {
    std::vector<uint8_t> buffer(1 << 16);
    size = 0;
    crc = 0;
    while (true) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
        if (n == 0) {
            readFailed = std::ferror(in) != 0;
            return !readFailed;
        }
        updateCrc(crc, buffer.data(), static_cast<uint32_t>(n));
        size += n;
        progress.add(n);
        if (std::fwrite(buffer.data(), 1, n, out) != n) return false;
    }
}

const char kWriteFailed[] = "cannot write the archive: ";

void setMethod(MemberHeader& h, bool stored, Method method) {
    std::memcpy(h.method, MethodIds[static_cast<int>(stored ? Method::Lh0 : method)], 5);
}

bool storeFile(const Item& item, FILE* in, FILE* out, Progress& progress, uint64_t& size,
               uint16_t& crc, std::string& error) {
    bool readFailed = false;
    if (copyStored(in, out, progress, size, crc, readFailed)) return true;
    error =
        readFailed ? item.disk + ": read error: " + systemError() : kWriteFailed + systemError();
    return false;
}

std::string encodeError(const Item& item, EncodeResult::Status status) {
    if (status == EncodeResult::ReadFailed) return item.disk + ": read error: " + systemError();
    if (status == EncodeResult::OutOfMemory) return "out of memory";
    return kWriteFailed + systemError();
}

// A member too large to keep in memory: encoded straight into the archive
// behind a header that is rewritten, with the same length, once the sizes
// are known.
bool writeStreamed(Item& item, const PackOptions& options, FILE* out, Progress& progress,
                   bool store, std::string& error) {
    MemberHeader& h = item.header;
    FILE* in = host::openFile(item.disk.c_str(), "rb");
    if (!in) return (error = item.disk + ": " + systemError()), false;
    std::vector<uint8_t> header;
    const off_t headerStart = ftello(out);
    bool ok = buildHeader(h, options.headerLevel, options.codePage, header, error);
    const size_t headerLength = header.size();
    if (ok && !writeBytes(out, header)) {
        ok = false;
        error = kWriteFailed + systemError();
    }
    const off_t dataStart = ftello(out);
    uint64_t original = 0, packed = 0;
    bool stored = true;
    if (ok && !store && item.size > 0) {
        FileSource source(in, &progress);
        FileSink sink(out);
        const uint64_t before = progress.done;
        const EncodeResult r = encodeStream(options.method, source, sink, item.size - 1, item.size,
                                            options.encodeLevel);
        if (r.status == EncodeResult::Done) {
            stored = false;
            original = r.originalSize;
            packed = r.packedSize;
            h.crc = r.crc;
        } else if (r.status == EncodeResult::TooLarge) {
            // It does not shrink: store it, over what was written so far.
            progress.done = before;
            ok = fseeko(out, dataStart, SEEK_SET) == 0 && fseeko(in, 0, SEEK_SET) == 0;
            if (!ok) error = kWriteFailed + systemError();
        } else {
            ok = false;
            error = encodeError(item, r.status);
        }
    }
    if (ok && stored) {
        ok = storeFile(item, in, out, progress, original, h.crc, error);
        packed = original;
    }
    std::fclose(in);
    if (!ok) return false;
    if (original > kMaxMemberSize)
        return (error = item.disk + ": grew past 4 GiB while packed"), false;
    setMethod(h, stored, options.method);
    h.packedSize = static_cast<uint32_t>(packed);
    h.originalSize = static_cast<uint32_t>(original);
    const off_t end = ftello(out);
    if (!buildHeader(h, options.headerLevel, options.codePage, header, error)) return false;
    if (header.size() != headerLength) return (error = h.path + ": header changed length"), false;
    if (fseeko(out, headerStart, SEEK_SET) != 0 || !writeBytes(out, header) ||
        fseeko(out, end, SEEK_SET) != 0)
        return (error = kWriteFailed + systemError()), false;
    return true;
}

bool writeFromJob(Job& job, const PackOptions& options, FILE* out, Progress& progress,
                  std::string& error) {
    Item& item = *job.item;
    MemberHeader& h = item.header;
    std::vector<uint8_t> header;
    if (job.result.status == EncodeResult::Done) {
        if (job.result.originalSize > kMaxMemberSize)
            return (error = item.disk + ": grew past 4 GiB while packed"), false;
        setMethod(h, false, options.method);
        h.crc = job.result.crc;
        h.originalSize = static_cast<uint32_t>(job.result.originalSize);
        h.packedSize = static_cast<uint32_t>(job.packed.size());
        if (!buildHeader(h, options.headerLevel, options.codePage, header, error)) return false;
        if (!writeBytes(out, header) || !writeBytes(out, job.packed))
            return (error = kWriteFailed + systemError()), false;
        progress.add(job.result.originalSize);
        return true;
    }
    if (job.result.status != EncodeResult::TooLarge) {
        errno = job.error;
        error = encodeError(item, job.result.status);
        if (job.result.status == EncodeResult::ReadFailed && job.error)
            error = item.disk + ": " + systemError();
        return false;
    }
    return writeStreamed(item, options, out, progress, true, error);
}

}  // namespace

bool writeArchive(const std::vector<std::string>& roots, const PackOptions& options, FILE* out,
                  std::string& error) {
    prepareEncoder();
    std::vector<Item> items;
    if (!collectItems(roots, options, out, items, error)) return false;

    Progress progress{options};
    std::vector<Job> jobs;
    std::vector<size_t> jobOf(items.size(), SIZE_MAX);
    for (size_t i = 0; i < items.size(); ++i) {
        progress.total += items[i].size;
        if (!items[i].header.folder && items[i].size > 0 && items[i].size <= kParallelFileLimit) {
            jobOf[i] = jobs.size();
            jobs.emplace_back();
            jobs.back().item = &items[i];
        }
    }
    EncoderPool pool(jobs, options.method, options.encodeLevel);
    std::vector<uint8_t> header;
    for (size_t i = 0; i < items.size(); ++i) {
        Item& item = items[i];
        progress.path = &item.header.path;
        bool ok;
        if (item.header.folder) {
            ok = buildHeader(item.header, options.headerLevel, options.codePage, header, error);
            if (ok && !writeBytes(out, header)) {
                ok = false;
                error = kWriteFailed + systemError();
            }
        } else if (jobOf[i] != SIZE_MAX) {
            ok = writeFromJob(pool.wait(jobOf[i]), options, out, progress, error);
            pool.release(jobOf[i]);
        } else {
            ok = writeStreamed(item, options, out, progress, false, error);
        }
        if (!ok) return false;
    }
    if (std::fputc(0, out) == EOF || std::fflush(out) != 0 || std::ferror(out))
        return (error = kWriteFailed + systemError()), false;
    return true;
}

}  // namespace qorn::encode
