// LZSS with static Huffman blocks: the -lh5-, -lh6- and -lh7- encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/archive_entry.h"

namespace qorn::encode {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Bytes read into buffer; 0 at the end, -1 on a read error.
    virtual int64_t read(uint8_t* buffer, size_t count) = 0;
};

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual bool write(const uint8_t* bytes, size_t count) = 0;
};

// Appends everything written to a vector.
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

struct EncodeResult {
    enum Status { Done, TooLarge, ReadFailed, WriteFailed, OutOfMemory } status = Done;
    uint64_t originalSize = 0;
    uint64_t packedSize = 0;
    uint16_t crc = 0;  // CRC-16 of the input; only valid when Done
};

// How hard the encoder works. Default is the speed `make` and `pack` need on
// big folders; Maximum searches a deeper binary tree with longer matches and
// parses each segment twice more, priced by the codes of the blocks the pass
// before would get, for 0.3-0.5% smaller output in about 1.5 times the time.
enum class EncodeLevel { Default = 1, Maximum = 2 };

// Sets up the shared CRC table; call it before starting threads that encode.
void prepareEncoder();

// Encodes the whole source with method index 5, 6 or 7 (-lh5- .. -lh7-).
// Gives up with TooLarge as soon as more than packedLimit bytes would be
// written, so a member that does not shrink costs little before it is stored.
// expectedSize, the size the source should have (UINT64_MAX if unknown),
// sizes the search tables: the output depends on it, but any value gives a
// correct stream.
EncodeResult encodeStream(Method method, ByteSource& source, ByteSink& sink, uint64_t packedLimit,
                          uint64_t expectedSize, EncodeLevel level = EncodeLevel::Default);

// The same for a buffer in memory, without a limit; false only on failure.
bool encodeBuffer(Method method, const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                  EncodeLevel level = EncodeLevel::Default);

}  // namespace qorn::encode
