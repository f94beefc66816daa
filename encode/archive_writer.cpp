#include "encode/archive_writer.h"

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

#include "decode/bit_reader.h"
#include "encode/lzh_encoder.h"

namespace qorn::encode {

namespace {

// The reader parses a header in a buffer of this size; a longer one would
// end every extraction at this member.
constexpr size_t kMaxHeaderBytes = 4096;
constexpr uint64_t kMaxMemberSize = 0xFFFFFFFFu;
constexpr uint8_t kOsId = 'W';

void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void poke16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Strict UTF-8 to UTF-16: names that are not valid UTF-8 cannot be given a
// UTF-16 name, so they are refused rather than guessed.
bool toUtf16(const std::string& text, std::u16string& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        uint32_t cp = *p++;
        int extra = 0;
        uint32_t minimum = 0;
        if (cp >= 0xF8) return false;
        if (cp >= 0xF0)
            cp &= 0x07, extra = 3, minimum = 0x10000;
        else if (cp >= 0xE0)
            cp &= 0x0F, extra = 2, minimum = 0x800;
        else if (cp >= 0xC0)
            cp &= 0x1F, extra = 1, minimum = 0x80;
        else if (cp >= 0x80)
            return false;
        for (; extra > 0; --extra) {
            if (p >= end || (*p & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (*p++ & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return true;
}

// The text in the ANSI code page, or false when some character has no place
// in it.
bool toAnsi(const std::string& text, const std::string& codePage, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    iconv_t cd = iconv_open(codePage.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buffer(text.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* o = &buffer[0];
    size_t outLeft = buffer.size();
    const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || inLeft != 0) return false;
    out.assign(buffer.data(), buffer.size() - outLeft);
    return true;
}

uint32_t dosStamp(int64_t t) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm;
    if (!localtime_r(&tt, &tm) || tm.tm_year < 80) return (1u << 21) | (1u << 16);
    if (tm.tm_year > 207) tm.tm_year = 207;
    return (static_cast<uint32_t>(tm.tm_year - 80) << 25) |
           (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
           (static_cast<uint32_t>(tm.tm_mday) << 16) | (static_cast<uint32_t>(tm.tm_hour) << 11) |
           (static_cast<uint32_t>(tm.tm_min) << 5) | static_cast<uint32_t>(tm.tm_sec / 2);
}

struct Extension {
    uint8_t type;
    std::vector<uint8_t> data;
};

void addText(std::vector<Extension>& ext, uint8_t type, const std::string& text) {
    ext.push_back({type, std::vector<uint8_t>(text.begin(), text.end())});
}

void addUtf16(std::vector<Extension>& ext, uint8_t type, const std::u16string& text) {
    Extension e{type, {}};
    for (char16_t c : text) put16(e.data, c);
    ext.push_back(e);
}

// Bytes of a chain of extended headers, each followed by the size of the next.
void appendExtensions(std::vector<uint8_t>& b, const std::vector<Extension>& ext) {
    for (size_t i = 0; i < ext.size(); ++i) {
        b.push_back(ext[i].type);
        b.insert(b.end(), ext[i].data.begin(), ext[i].data.end());
        put16(b, i + 1 < ext.size() ? static_cast<uint32_t>(ext[i + 1].data.size() + 3) : 0);
    }
}

uint8_t checksum(const std::vector<uint8_t>& b, size_t from, size_t to) {
    unsigned sum = 0;
    for (size_t i = from; i < to; ++i) sum += b[i];
    return static_cast<uint8_t>(sum);
}

}  // namespace

bool buildHeader(const MemberHeader& m, int level, const std::string& codePage,
                 std::vector<uint8_t>& b, std::string& error) {
    prepareEncoder();
    b.clear();
    const size_t slash = m.folder ? m.path.size() : m.path.rfind('/') + 1;
    const std::string folder = m.path.substr(0, slash), name = m.path.substr(slash);
    std::u16string folder16, name16;
    if (!toUtf16(folder, folder16) || !toUtf16(name, name16)) {
        error = m.path + ": the name is not valid UTF-8";
        return false;
    }
    const bool plainAscii = std::all_of(
        m.path.begin(), m.path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    // Readers without UTF-16 support still get the name, in UTF-8, when the
    // code page has no room for it.
    std::string folderAnsi, nameAnsi;
    if (!toAnsi(folder, codePage, folderAnsi)) folderAnsi = folder;
    if (!toAnsi(name, codePage, nameAnsi)) nameAnsi = name;
    const char* method = m.folder ? "-lhd-" : m.method;
    const uint32_t stamp = dosStamp(m.modifiedTime);
    const uint8_t attribute = m.folder ? 0x10 : 0x20;

    if (level == 0) {
        std::string full = folderAnsi;
        std::replace(full.begin(), full.end(), '/', '\\');
        full += nameAnsi;
        if (full.size() > 233) {
            error = m.path + ": the path is too long for a level-0 header (233 bytes at most)";
            return false;
        }
        b.resize(2);
        b.insert(b.end(), method, method + 5);
        put32(b, m.packedSize);
        put32(b, m.originalSize);
        put32(b, stamp);
        b.push_back(attribute);
        b.push_back(0);
        b.push_back(static_cast<uint8_t>(full.size()));
        b.insert(b.end(), full.begin(), full.end());
        put16(b, m.crc);
        b[0] = static_cast<uint8_t>(b.size() - 2);
        b[1] = checksum(b, 2, b.size());
        return true;
    }

    std::vector<Extension> ext;
    if (level == 2) ext.push_back({0x00, {0, 0}});
    if (level == 2 && !name.empty()) addText(ext, 0x01, nameAnsi);
    if (!folder.empty()) {
        std::string f = folderAnsi;
        std::replace(f.begin(), f.end(), '/', '\xFF');
        addText(ext, 0x02, f);
    }
    if (!plainAscii) {
        if (!name16.empty()) addUtf16(ext, 0x44, name16);
        if (!folder16.empty()) {
            std::replace(folder16.begin(), folder16.end(), u'/', u'\xFFFF');
            addUtf16(ext, 0x45, folder16);
        }
    }
    if (level == 2) {
        // Windows time stamps: creation, last write, last access. All three
        // are the modification time, so packing leaves no trace of when.
        const uint64_t ft = (static_cast<uint64_t>(m.modifiedTime) + 11644473600ull) * 10000000ull;
        Extension times{0x41, {}};
        for (int k = 0; k < 3; ++k) {
            put32(times.data, static_cast<uint32_t>(ft));
            put32(times.data, static_cast<uint32_t>(ft >> 32));
        }
        ext.push_back(times);
    }
    for (const Extension& e : ext)
        if (e.data.size() + 3 > 0xFFFF) {
            error = m.path + ": the name is too long for the header";
            return false;
        }
    const uint32_t firstSize = ext.empty() ? 0 : static_cast<uint32_t>(ext[0].data.size() + 3);

    if (level == 1) {
        if (nameAnsi.size() > 230) {
            error = m.path + ": the name is too long for a level-1 header (230 bytes at most)";
            return false;
        }
        uint64_t extBytes = 0;
        for (const Extension& e : ext) extBytes += e.data.size() + 3;
        if (m.packedSize + extBytes > kMaxMemberSize) {
            error = m.path + ": the member is too large for a level-1 header";
            return false;
        }
        b.resize(2);
        b.insert(b.end(), method, method + 5);
        put32(b, static_cast<uint32_t>(m.packedSize + extBytes));
        put32(b, m.originalSize);
        put32(b, stamp);
        b.push_back(attribute);
        b.push_back(1);
        b.push_back(static_cast<uint8_t>(nameAnsi.size()));
        b.insert(b.end(), nameAnsi.begin(), nameAnsi.end());
        put16(b, m.crc);
        b.push_back(kOsId);
        put16(b, firstSize);
        b[0] = static_cast<uint8_t>(b.size() - 2);
        b[1] = checksum(b, 2, b.size());
        appendExtensions(b, ext);
    } else {
        b.resize(2);
        b.insert(b.end(), method, method + 5);
        put32(b, m.packedSize);
        put32(b, m.originalSize);
        put32(b, static_cast<uint32_t>(m.modifiedTime));
        b.push_back(0x20);
        b.push_back(2);
        put16(b, m.crc);
        b.push_back(kOsId);
        put16(b, firstSize);
        appendExtensions(b, ext);
        // A length whose low byte is 0 would read as the end of the archive.
        if ((b.size() & 0xFF) == 0) b.push_back(0);
        poke16(b, 0, static_cast<uint32_t>(b.size()));
    }
    if (b.size() > kMaxHeaderBytes) {
        error = m.path + ": the path is too long for the header (4096 bytes at most)";
        return false;
    }
    if (level == 2) {
        // Header CRC over the whole header, its own field counted as 0.
        uint16_t crc = 0;
        updateCrc(crc, b.data(), static_cast<uint32_t>(b.size()));
        poke16(b, 27, crc);
    }
    return true;
}

namespace {

struct Item {
    std::string disk;
    MemberHeader header;
    uint64_t size = 0;
};

bool isDotName(const std::string& s) {
    return s.empty() || s == "." || s == "..";
}

std::string systemError() {
    return std::strerror(errno);
}

class Collector {
  public:
    Collector(const PackOptions& options, FILE* out, std::vector<Item>& items, std::string& error)
        : options_(options), items_(items), error_(error) {
        struct stat st;
        if (fstat(fileno(out), &st) == 0) {
            outDevice_ = st.st_dev;
            outInode_ = st.st_ino;
            haveOut_ = true;
        }
    }

    bool addRoot(const std::string& root) {
        std::string r = root;
        bool contents = false;
        while (r.size() > 1 && r.back() == '/') {
            r.pop_back();
            contents = true;
        }
        const size_t slash = r.rfind('/');
        const std::string base = slash == std::string::npos ? r : r.substr(slash + 1);
        if (isDotName(base)) contents = true;
        struct stat st;
        if (lstat(r.c_str(), &st) != 0) return fail(root + ": " + systemError());
        if (S_ISDIR(st.st_mode)) {
            if (contents) return walk(r, "");
            if (!addItem(r, base + "/", st)) return false;
            return walk(r, base + "/");
        }
        if (S_ISREG(st.st_mode) && !contents) return addItem(r, base, st);
        return skip(root, st);
    }

  private:
    bool fail(const std::string& text) {
        error_ = text;
        return false;
    }

    bool skip(const std::string& path, const struct stat& st) {
        if (options_.warning)
            options_.warning(path + ": " +
                             (S_ISLNK(st.st_mode) ? "symbolic link" : "not a regular file") +
                             ", left out");
        return true;
    }

    bool addItem(const std::string& disk, const std::string& path, const struct stat& st) {
        // The archive itself may lie in a folder being packed.
        if (haveOut_ && st.st_dev == outDevice_ && st.st_ino == outInode_) {
            if (options_.warning) options_.warning(disk + ": the archive being written, left out");
            return true;
        }
        if (path.find('\\') != std::string::npos)
            return fail(disk + ": a backslash in the name would read as a folder separator");
        // Two roots may hold the same folder, which is then stored once; the
        // same file path twice would make extraction keep only one of them.
        const auto seen = paths_.emplace(path, disk);
        if (!seen.second) {
            if (S_ISDIR(st.st_mode)) return true;
            return fail(disk + ": the archive already holds " + path + " (from " +
                        seen.first->second + ")");
        }
        Item item;
        item.disk = disk;
        item.header.path = path;
        item.header.folder = S_ISDIR(st.st_mode);
        item.header.modifiedTime = static_cast<int64_t>(st.st_mtime);
        item.size = item.header.folder ? 0 : static_cast<uint64_t>(st.st_size);
        if (item.size > kMaxMemberSize)
            return fail(disk + ": larger than 4 GiB, too large for LHA");
        // The header is tried now, so a bad name stops packing before any data.
        std::vector<uint8_t> bytes;
        if (!buildHeader(item.header, options_.headerLevel, options_.codePage, bytes, error_)) {
            error_ = disk + " (" + error_ + ")";
            return false;
        }
        items_.push_back(item);
        return true;
    }

    bool walk(const std::string& dir, const std::string& prefix) {
        DIR* d = opendir(dir.c_str());
        if (!d) return fail(dir + ": " + systemError());
        std::vector<std::string> names;
        errno = 0;
        while (struct dirent* e = readdir(d)) {
            if (!isDotName(e->d_name)) names.push_back(e->d_name);
        }
        const bool readFailed = errno != 0;
        closedir(d);
        if (readFailed) return fail(dir + ": " + systemError());
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            const std::string disk = dir + "/" + n;
            struct stat st;
            if (lstat(disk.c_str(), &st) != 0) return fail(disk + ": " + systemError());
            if (S_ISDIR(st.st_mode)) {
                if (!addItem(disk, prefix + n + "/", st) || !walk(disk, prefix + n + "/"))
                    return false;
            } else if (S_ISREG(st.st_mode)) {
                if (!addItem(disk, prefix + n, st)) return false;
            } else if (!skip(disk, st)) {
                return false;
            }
        }
        return true;
    }

    const PackOptions& options_;
    std::vector<Item>& items_;
    std::string& error_;
    std::map<std::string, std::string> paths_;  // archive path -> file on disk
    dev_t outDevice_ = 0;
    ino_t outInode_ = 0;
    bool haveOut_ = false;
};

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

}  // namespace

namespace {

const char kWriteFailed[] = "cannot write the archive: ";

void setMethod(MemberHeader& h, bool stored, int methodIndex) {
    std::memcpy(h.method, "-lh0-", 5);
    if (!stored) h.method[3] = static_cast<char>('0' + methodIndex);
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
    FILE* in = std::fopen(item.disk.c_str(), "rb");
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
        const EncodeResult r =
            encodeStream(options.methodIndex, source, sink, item.size - 1, item.size);
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
    setMethod(h, stored, options.methodIndex);
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

// Files up to this size are encoded by worker threads into memory, ahead of
// the writer, which puts them into the archive in their order. Each member
// is encoded on its own, so the archive does not depend on the timing.
constexpr uint64_t kParallelFileLimit = 8u << 20;
constexpr uint64_t kMaxBufferedBytes = 24u << 20;
constexpr size_t kMaxJobsAhead = 64;

struct Job {
    Item* item = nullptr;
    std::vector<uint8_t> packed;
    EncodeResult result;
    int error = 0;  // errno of a failed open or read
    bool done = false;
};

class EncoderPool {
  public:
    EncoderPool(std::vector<Job>& jobs, int methodIndex) : jobs_(jobs), methodIndex_(methodIndex) {
        unsigned n = std::thread::hardware_concurrency();
        n = std::max(1u, std::min(n, 4u));
        if (jobs_.empty()) n = 0;
        for (unsigned i = 0; i < n; ++i) threads_.emplace_back([this] { work(); });
    }
    ~EncoderPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

    // Waits for job k; the caller hands its memory back with release().
    Job& wait(size_t k) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return jobs_[k].done; });
        return jobs_[k];
    }
    void release(size_t k) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            buffered_ -= jobs_[k].packed.size();
            std::vector<uint8_t>().swap(jobs_[k].packed);
            written_ = k + 1;
        }
        changed_.notify_all();
    }

  private:
    void work() {
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

    void run(Job& job) {
        FILE* in = std::fopen(job.item->disk.c_str(), "rb");
        if (!in) {
            job.error = errno;
            job.result.status = EncodeResult::ReadFailed;
            return;
        }
        FileSource source(in, nullptr);
        VectorSink sink(job.packed);
        job.result = encodeStream(methodIndex_, source, sink, job.item->size - 1, job.item->size);
        if (job.result.status == EncodeResult::ReadFailed) job.error = errno;
        if (job.result.status != EncodeResult::Done) std::vector<uint8_t>().swap(job.packed);
        std::fclose(in);
    }

    std::vector<Job>& jobs_;
    const int methodIndex_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;
    size_t written_ = 0;
    uint64_t buffered_ = 0;
    bool stop_ = false;
};

bool writeFromJob(Job& job, const PackOptions& options, FILE* out, Progress& progress,
                  std::string& error) {
    Item& item = *job.item;
    MemberHeader& h = item.header;
    std::vector<uint8_t> header;
    if (job.result.status == EncodeResult::Done) {
        if (job.result.originalSize > kMaxMemberSize)
            return (error = item.disk + ": grew past 4 GiB while packed"), false;
        setMethod(h, false, options.methodIndex);
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
    Collector collector(options, out, items, error);
    for (const std::string& root : roots)
        if (!collector.addRoot(root)) return false;

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
    EncoderPool pool(jobs, options.methodIndex);
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
