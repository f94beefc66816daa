// decodeMember over arbitrary packed data of every method.
//
// Input: one byte choosing the method; two bytes of original size and one
// byte shifting it left by up to 2 bits, the size then held to four times
// the method's dictionary (16 KiB for stored data; the adaptive methods up
// to 128 KiB): enough for the dictionary to wrap and the input
// buffer to be refilled, small enough for thousands of runs a second; one
// byte for the packed size: below 128 it is how much the header claims
// beyond the data (a payload that ends early), from 128 on it is 128 plus
// the number of trailing bytes that follow the member (the next header,
// say); then the packed data.
#include <algorithm>
#include <memory>
#include <vector>

#include "base/crc16.h"
#include "decode/bit_reader.h"
#include "decode/decoder_context.h"
#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"

using namespace qorn;

namespace {

constexpr uint32_t kBufferLimit = 4096;

// The output goes to written, whose memory stays from input to input.
DecoderContext& decoder() {
    static DecoderContext context;
    return context;
}

void decode(const uint8_t* bytes, size_t count, Method method, uint32_t originalSize,
            uint32_t packedSize, MemberResult& result, std::vector<uint8_t>& written) {
    std::unique_ptr<BinaryFile> input(fuzz::memoryFile(bytes, count));
    std::unique_ptr<BinaryFile> output(fuzz::memoryFile(nullptr, 0));
    fuzz::QuietReporter reporter;
    result = decodeMember(decoder(), reporter, *input, *output, originalSize, packedSize, method);
    QORN_FUZZ_CHECK(reporter.boxes == 0);
    fuzz::fileBytes(*output, written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        makeCrcTable();
        // The input buffer is sized from free memory: with this little, a
        // member over 4 KiB is read in pieces, as a large one is in the stub.
        platform::faults().memoryLimit = kBufferLimit;
        return true;
    }();
    (void)ready;
    if (size < 5) return 0;
    // -lhd- never reaches the decoder; every other method does.
    const Method method = static_cast<Method>(data[0] % 11);
    // Shifts other than 0-2 count as 0. The adaptive methods (-lh1-, -lh2-)
    // rebuild their trees after 32 K symbols, past four dictionaries of
    // output: they keep 128 KiB, which still reaches every edge 256 KiB did
    // (64 KiB loses the rebuild).
    const int bits = dictionaryBitsFor(method);
    const bool adaptive = method == Method::Lh1 || method == Method::Lh2;
    const uint32_t originalSize =
        std::min(static_cast<uint32_t>(data[1] | (data[2] << 8)) << (data[3] < 3 ? data[3] : 0),
                 adaptive ? 128u << 10 : 4u << (bits ? bits : 12));
    const uint8_t* packed = data + 5;
    const size_t count = size - 5;
    const bool cutShort = data[4] != 0 && data[4] < 128;
    const size_t trailing = data[4] >= 128 ? std::min<size_t>(count, data[4] - 128u) : 0;
    const uint32_t packedSize = static_cast<uint32_t>(count - trailing) + (cutShort ? data[4] : 0u);

    static std::vector<uint8_t> written, alone;
    MemberResult result;
    decode(packed, count, method, originalSize, packedSize, result, written);
    // Never longer than the header says, and the CRC covers what was written.
    QORN_FUZZ_CHECK(written.size() <= originalSize);
    uint16_t crc = 0;
    updateCrc(crc, written.data(), static_cast<uint32_t>(written.size()));
    QORN_FUZZ_CHECK(result.crc == crc);
    if (!result.damaged) QORN_FUZZ_CHECK(written.size() == originalSize);
    if (result.overrunOnly) QORN_FUZZ_CHECK(result.damaged);
    // Data that ends before the packed size is damage, whatever the method,
    // even when the decoder is done before it reads as far as the cut.
    if (cutShort) QORN_FUZZ_CHECK(result.damaged);
    // A member with no data has nothing but the look-ahead's zero bits: a
    // symbol or two (no match is longer than 287 bytes), never a whole file
    // made up from zeros.
    if (packedSize == 0 && !isStored(method) && originalSize > 1024)
        QORN_FUZZ_CHECK(result.damaged && written.size() <= 1024);
#ifdef QORN_WINDOW_DECODER
    // The native window loop and the ring loop agree on every input.
    {
        static std::vector<uint8_t> ringWritten;
        MemberResult ring;
        decoder().ringOnly = true;
        decode(packed, count, method, originalSize, packedSize, ring, ringWritten);
        decoder().ringOnly = false;
        QORN_FUZZ_CHECK(ringWritten == written);
        QORN_FUZZ_CHECK(ring.crc == result.crc && ring.damaged == result.damaged &&
                        ring.overrunOnly == result.overrunOnly);
    }
#endif
    // Bytes behind the member change nothing.
    if (trailing > 0) {
        MemberResult first;
        decode(packed, count - trailing, method, originalSize, packedSize, first, alone);
        QORN_FUZZ_CHECK(alone == written);
        QORN_FUZZ_CHECK(first.crc == result.crc && first.damaged == result.damaged &&
                        first.overrunOnly == result.overrunOnly);
    }
    return 0;
}
