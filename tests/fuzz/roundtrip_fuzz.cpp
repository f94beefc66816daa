// The encoder against the decoder: whatever goes in must come back out
// byte for byte, with the CRC of the input.
//
// Input: one byte choosing -lh5-, -lh6- or -lh7-, one byte repeating the rest
// up to 16 times (each copy with one byte changed) so that short inputs
// still reach across the larger windows, then the data.
#include <memory>
#include <vector>

#include "decode/bit_reader.h"
#include "decode/decode_session.h"
#include "encode/lzh_encoder.h"
#include "tests/fuzz/fuzz_support.h"

using namespace qorn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        makeCrcTable();
        encode::prepareEncoder();
        return true;
    }();
    (void)ready;
    if (size < 2) return 0;
    const int method = 5 + data[0] % 3;
    const int copies = 1 + (data[1] & 15);
    std::vector<uint8_t> plain;
    plain.reserve((size - 2) * copies);
    for (int c = 0; c < copies; ++c) {
        plain.insert(plain.end(), data + 2, data + size);
        if (c > 0 && size > 2) plain[plain.size() - 1 - (c * 7) % (size - 2)] ^= c;
    }

    std::vector<uint8_t> packed;
    QORN_FUZZ_CHECK(encode::encodeBuffer(method, plain.data(), plain.size(), packed));

    std::unique_ptr<BinaryFile> input(fuzz::memoryFile(packed.data(), packed.size()));
    std::unique_ptr<BinaryFile> output(fuzz::memoryFile(nullptr, 0));
    fuzz::QuietReporter reporter;
    const MemberResult result =
        decodeMember(reporter, *input, *output, static_cast<uint32_t>(plain.size()),
                     static_cast<uint32_t>(packed.size()), method);
    QORN_FUZZ_CHECK(!result.damaged);
    QORN_FUZZ_CHECK(fuzz::fileBytes(*output) == plain);
    QORN_FUZZ_CHECK(result.crc == fuzz::referenceCrc(plain.data(), plain.size()));
    return 0;
}
