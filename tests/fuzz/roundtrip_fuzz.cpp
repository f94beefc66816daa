// The encoder against the decoder: whatever goes in must come back out
// byte for byte, with the CRC of the input.
//
// Input: one byte choosing -lh5-, -lh6- or -lh7-, one byte repeating the rest
// up to 16 times (each copy with one byte changed) so that short inputs
// still reach across the larger windows, then the data. At most 256 KiB go
// in (four times the largest window), whatever -max_len allows.
#include <memory>
#include <vector>

#include "base/crc16.h"
#include "decode/bit_reader.h"
#include "decode/decoder_context.h"
#include "encode/lzh_encoder.h"
#include "tests/fuzz/fuzz_support.h"

using namespace qorn;

constexpr size_t kPlainLimit = 256u << 10;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        makeCrcTable();
        encode::prepareEncoder();
        return true;
    }();
    (void)ready;
    if (size < 2) return 0;
    static DecoderContext decoder;
    const Method method = static_cast<Method>(static_cast<int>(Method::Lh5) + data[0] % 3);
    const int copies = 1 + (data[1] & 15);
    if (size - 2 > kPlainLimit) size = kPlainLimit + 2;
    // Kept from input to input, so their memory is allocated once.
    static std::vector<uint8_t> plain, packed, unpacked;
    plain.clear();
    packed.clear();
    for (int c = 0; c < copies && plain.size() + size - 2 <= kPlainLimit; ++c) {
        plain.insert(plain.end(), data + 2, data + size);
        if (c > 0 && size > 2) plain[plain.size() - 1 - (c * 7) % (size - 2)] ^= c;
    }

    QORN_FUZZ_CHECK(encode::encodeBuffer(method, plain.data(), plain.size(), packed));

    std::unique_ptr<BinaryFile> input(fuzz::memoryFile(packed.data(), packed.size()));
    std::unique_ptr<BinaryFile> output(fuzz::memoryFile(nullptr, 0));
    fuzz::QuietReporter reporter;
    const MemberResult result =
        decodeMember(decoder, reporter, *input, *output, static_cast<uint32_t>(plain.size()),
                     static_cast<uint32_t>(packed.size()), method);
    QORN_FUZZ_CHECK(!result.damaged);
    fuzz::fileBytes(*output, unpacked);
    QORN_FUZZ_CHECK(unpacked == plain);
    QORN_FUZZ_CHECK(result.crc == fuzz::referenceCrc(plain.data(), plain.size()));
    return 0;
}
