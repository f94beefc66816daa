#include "encode/lzh_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "decode/bit_reader.h"
#include "encode/block_writer.h"

namespace qorn::encode {

namespace {

// Search effort per method. The larger windows give more candidates, so the
// chains are followed a little further there.
struct SearchParameters {
    int maxChain;    // candidates tried per position
    int lazyLimit;   // a match this long is taken without looking one byte on
    int niceLength;  // a match this long ends the search
};

SearchParameters parametersFor(int dictionaryBits) {
    if (dictionaryBits <= 13) return {96, 48, 128};
    return {128, 48, 128};
}

// A three-byte match further than this costs more bits than three literals.
constexpr uint32_t kTooFarForThree = 4096;

class MatchFinder {
  public:
    MatchFinder(int dictionaryBits, ByteSource& source)
        : source_(source),
          window_(1u << dictionaryBits),
          hashBits_(dictionaryBits <= 13 ? 15 : 16),
          bufferSize_(2 * window_ + 2 * kMaxMatch) {}

    bool allocate() {
        buffer_.reset(new (std::nothrow) uint8_t[bufferSize_]);
        head_.reset(new (std::nothrow) uint32_t[size_t{1} << hashBits_]());
        prev_.reset(new (std::nothrow) uint32_t[window_]());
        return buffer_ && head_ && prev_;
    }

    // Reads until the buffer is full or the source ends.
    bool fill() {
        while (!ended_ && valid_ < bufferSize_) {
            const int64_t n = source_.read(buffer_.get() + valid_, bufferSize_ - valid_);
            if (n < 0) return false;
            if (n == 0) {
                ended_ = true;
                break;
            }
            updateCrc(crc_, buffer_.get() + valid_, static_cast<uint32_t>(n));
            valid_ += static_cast<size_t>(n);
            total_ += static_cast<uint64_t>(n);
        }
        return true;
    }

    // Keeps the lookahead in the buffer: once position p is two windows in,
    // the oldest window is dropped. Candidates never reach back further than
    // one window, so they stay inside.
    bool prepare(uint64_t p) {
        if (p - base_ < 2 * window_) return true;
        std::memmove(buffer_.get(), buffer_.get() + window_, valid_ - window_);
        valid_ -= window_;
        base_ += window_;
        return fill();
    }

    bool atEnd(uint64_t p) const { return p >= base_ + valid_; }
    uint8_t byteAt(uint64_t p) const { return buffer_[p - base_]; }

    void insert(uint64_t p) {
        const size_t i = static_cast<size_t>(p - base_);
        if (i + kMinMatch > valid_) return;
        const uint32_t h = hash(buffer_.get() + i);
        prev_[p & (window_ - 1)] = head_[h];
        head_[h] = static_cast<uint32_t>(p + 1);
    }

    // Inserts p and returns the longest earlier match (length 0 if none).
    uint32_t find(uint64_t p, uint32_t& distance, const SearchParameters& sp) {
        const size_t i = static_cast<size_t>(p - base_);
        if (i + kMinMatch > valid_) return 0;
        const uint8_t* here = buffer_.get() + i;
        const uint32_t h = hash(here);
        uint32_t candidate = head_[h];
        prev_[p & (window_ - 1)] = candidate;
        head_[h] = static_cast<uint32_t>(p + 1);

        const uint32_t maxLength = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, valid_ - i));
        uint32_t best = kMinMatch - 1;
        int chain = sp.maxChain;
        while (candidate != 0 && chain-- > 0) {
            const uint64_t c = candidate - 1u;
            const uint64_t d = p - c;
            // Distances up to one less than the window: some decoders mishandle
            // a match that reaches back exactly one full window.
            if (d >= window_) break;
            const uint8_t* there = buffer_.get() + (c - base_);
            if (there[best] == here[best] && there[0] == here[0]) {
                const uint32_t length = matchLength(here, there, maxLength);
                if (length > best) {
                    best = length;
                    distance = static_cast<uint32_t>(d);
                    if (length >= static_cast<uint32_t>(sp.niceLength) || length == maxLength)
                        break;
                }
            }
            candidate = prev_[c & (window_ - 1)];
        }
        if (best < kMinMatch) return 0;
        if (best == kMinMatch && distance > kTooFarForThree) return 0;
        return best;
    }

    uint16_t crc() const { return crc_; }
    uint64_t total() const { return total_; }

  private:
    uint32_t hash(const uint8_t* b) const {
        const uint32_t v = (uint32_t{b[0]} << 16) | (uint32_t{b[1]} << 8) | b[2];
        return (v * 2654435761u) >> (32 - hashBits_);
    }

    static uint32_t matchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
        uint32_t n = 0;
        while (n + 8 <= limit) {
            uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (x != y) return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
            n += 8;
        }
        while (n < limit && a[n] == b[n]) ++n;
        return n;
    }

    ByteSource& source_;
    const uint32_t window_;
    const int hashBits_;
    const size_t bufferSize_;
    std::unique_ptr<uint8_t[]> buffer_;
    std::unique_ptr<uint32_t[]> head_;  // position + 1 of the newest entry per hash
    std::unique_ptr<uint32_t[]> prev_;  // position + 1 of the previous entry, by position
    uint64_t base_ = 0;                 // stream position of buffer_[0]
    size_t valid_ = 0;
    uint64_t total_ = 0;
    uint16_t crc_ = 0;
    bool ended_ = false;
};

class SinkDrain {
  public:
    SinkDrain(ByteSink& sink, uint64_t limit) : sink_(sink), limit_(limit) {}
    // False when the sink failed or the limit was passed.
    bool drain(std::vector<uint8_t>& bytes, EncodeResult& result) {
        if (bytes.empty()) return true;
        written_ += bytes.size();
        if (written_ > limit_) {
            result.status = EncodeResult::TooLarge;
            return false;
        }
        if (!sink_.write(bytes.data(), bytes.size())) {
            result.status = EncodeResult::WriteFailed;
            return false;
        }
        bytes.clear();
        return true;
    }
    uint64_t written() const { return written_; }

  private:
    ByteSink& sink_;
    uint64_t limit_;
    uint64_t written_ = 0;
};

}  // namespace

EncodeResult encodeStream(int methodIndex, ByteSource& source, ByteSink& sink,
                          uint64_t packedLimit) {
    static const bool crcReady = (makeCrcTable(), true);
    (void)crcReady;
    EncodeResult result;
    const int dictionaryBits = methodIndex == 5 ? 13 : (methodIndex == 6 ? 15 : 16);
    const SearchParameters sp = parametersFor(dictionaryBits);
    MatchFinder finder(dictionaryBits, source);
    std::unique_ptr<BlockWriter> blocks(new (std::nothrow) BlockWriter(dictionaryBits));
    if (!blocks || !finder.allocate()) {
        result.status = EncodeResult::OutOfMemory;
        return result;
    }
    SinkDrain drain(sink, packedLimit);
    if (!finder.fill()) {
        result.status = EncodeResult::ReadFailed;
        return result;
    }

    // Lazy parsing: a match is put off by one byte when the next position
    // starts a longer one.
    uint64_t p = 0;
    uint32_t length = 0, distance = 0;
    bool haveMatch = false;  // length/distance already found for p
    while (true) {
        if (!finder.prepare(p)) {
            result.status = EncodeResult::ReadFailed;
            return result;
        }
        if (finder.atEnd(p)) break;
        if (!haveMatch) length = finder.find(p, distance, sp);
        haveMatch = false;
        if (length == 0) {
            blocks->literal(finder.byteAt(p));
            ++p;
        } else {
            uint64_t inserted = p;
            if (length < static_cast<uint32_t>(sp.lazyLimit) && !finder.atEnd(p + 1)) {
                uint32_t nextDistance = 0;
                const uint32_t nextLength = finder.find(p + 1, nextDistance, sp);
                inserted = p + 1;
                if (nextLength > length) {
                    blocks->literal(finder.byteAt(p));
                    ++p;
                    length = nextLength;
                    distance = nextDistance;
                    haveMatch = true;
                    continue;
                }
            }
            blocks->match(length, distance);
            for (uint64_t q = inserted + 1; q < p + length; ++q) finder.insert(q);
            p += length;
        }
        if (blocks->output().size() >= 65536 && !drain.drain(blocks->output(), result))
            return result;
    }
    blocks->finish();
    if (!drain.drain(blocks->output(), result)) return result;
    result.originalSize = finder.total();
    result.packedSize = drain.written();
    result.crc = finder.crc();
    return result;
}

namespace {

class MemorySource : public ByteSource {
  public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    int64_t read(uint8_t* buffer, size_t count) override {
        const size_t n = std::min(count, left_);
        if (n) std::memcpy(buffer, data_, n);
        data_ += n;
        left_ -= n;
        return static_cast<int64_t>(n);
    }

  private:
    const uint8_t* data_;
    size_t left_;
};

class VectorSink : public ByteSink {
  public:
    explicit VectorSink(std::vector<uint8_t>& out) : out_(out) {}
    bool write(const uint8_t* bytes, size_t count) override {
        out_.insert(out_.end(), bytes, bytes + count);
        return true;
    }

  private:
    std::vector<uint8_t>& out_;
};

}  // namespace

bool encodeBuffer(int methodIndex, const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    out.clear();
    MemorySource source(data, size);
    VectorSink sink(out);
    return encodeStream(methodIndex, source, sink, UINT64_MAX).status == EncodeResult::Done;
}

}  // namespace qorn::encode
