// decodeMember over arbitrary packed data of every method.
//
// Input: one byte choosing the method, two bytes of original size and one
// byte shifting it left by up to 4 bits (so below 1 MiB), one byte the header's packed size claims
// beyond the data (to reach the paths of a payload that ends early), then the packed data.
#include <memory>
#include <vector>

#include "decode/bit_reader.h"
#include "decode/decode_session.h"
#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"

using namespace qorn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        makeCrcTable();
        // A header may claim gigabytes of packed data; the input buffer is
        // sized from free memory, which stays small here.
        platform::faults().memoryLimit = 1u << 20;
        return true;
    }();
    (void)ready;
    if (size < 5) return 0;
    // -lhd- never reaches the decoder; every other method does.
    const int method = data[0] % 11;
    // Shifts other than 0-4 count as 0: most inputs stay below 64 KiB of
    // output, which keeps the runs fast.
    const uint32_t originalSize = static_cast<uint32_t>(data[1] | (data[2] << 8))
                                  << (data[3] < 5 ? data[3] : 0);
    const uint32_t packedSize = static_cast<uint32_t>(size - 5) + data[4];

    std::unique_ptr<BinaryFile> input(fuzz::memoryFile(data + 5, size - 5));
    std::unique_ptr<BinaryFile> output(fuzz::memoryFile(nullptr, 0));
    fuzz::QuietReporter reporter;
    const MemberResult result =
        decodeMember(reporter, *input, *output, originalSize, packedSize, method);

    const std::vector<uint8_t> written = fuzz::fileBytes(*output);
    // Never longer than the header says, and the CRC covers what was written.
    QORN_FUZZ_CHECK(written.size() <= originalSize);
    uint16_t crc = 0;
    updateCrc(crc, written.data(), static_cast<uint32_t>(written.size()));
    QORN_FUZZ_CHECK(result.crc == crc);
    if (!result.damaged) QORN_FUZZ_CHECK(written.size() == originalSize);
    if (result.overrunOnly) QORN_FUZZ_CHECK(result.damaged);
    // Data that ends before the packed size is damage, whatever the method.
    if (data[4] != 0) QORN_FUZZ_CHECK(result.damaged);
    QORN_FUZZ_CHECK(reporter.boxes == 0);
    return 0;
}
