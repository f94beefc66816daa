#include "decode/decode_session.h"

#include <cstring>
#include <new>

#include "base/crc16.h"
#include "decode/bit_reader.h"
#include "decode/decoder_context.h"
#include "decode/decoders.h"

namespace qorn {

// Rows are null for methods this build leaves out.
const MethodRow MethodTable[9] = {
    {decodeAdaptiveCode, decodeStaticPosition, startLh1},       // -lh1-
    {decodeAdaptiveCode, decodeAdaptivePosition, startLh2},     // -lh2-
    {decodeStaticCode, decodeStaticPosition, startLh3},         // -lh3-
    {decodeBlockCode, decodeBlockPosition, startBlockDecoder},  // -lh4-
    {decodeBlockCode, decodeBlockPosition, startBlockDecoder},  // -lh5-
    {decodeBlockCode, decodeBlockPosition, startBlockDecoder},  // -lh6-
    {decodeBlockCode, decodeBlockPosition, startBlockDecoder},  // -lh7-
    {decodeLzsCode, decodeLzsPosition, startLzs},               // -lzs-
    {decodeLz5Code, decodeLz5Position, startLz5},               // -lz5-
};

int dictionaryBitsFor(Method method) {
    static const int8_t bits[kMethodCount] = {0, 12, 13, 13, 12, 13, 15, 16, 11, 12, 0, 0};
    const int i = static_cast<int>(method);
    return i >= 0 && i < kMethodCount ? bits[i] : 0;
}

void DecodeSession::releaseBuffers() {
    delete[] dictionary;
    dictionary = nullptr;
    delete[] inputBuffer;
    inputBuffer = nullptr;
}

void ProgressState::reset(RunReporter* to, uint32_t newTotal) {
    total = newTotal;
    done = 0;
    percent = 0;
    membersEnd = 0;
    reporter = to;
}

namespace {

void showProgress(ProgressState& progress, uint32_t v) {
    const uint32_t p =
        progress.total > 1000 ? v / (progress.total / 100) : v * 100 / progress.total;
    // Sizes that wrap 32 bits (in the total or in v * 100) give a smaller
    // figure: the bar then stays where it was rather than run backwards.
    if (p > progress.percent) {
        progress.percent = p;
        if (progress.reporter) progress.reporter->progressPosition(p);
    }
}

}  // namespace

void ProgressState::report(uint32_t count) {
    if (total == 0) return;
    done += count;
    // The position runs one report ahead of the bytes done.
    showProgress(*this, done + count);
}

void ProgressState::memberDone(uint32_t originalSize) {
    if (total == 0) return;
    membersEnd += originalSize + kProgressPerMember;
    done = membersEnd;
    showProgress(*this, done);
}

uint32_t copyStored(RunReporter& reporter, ProgressState& progress, BinaryFile& input,
                    BinaryFile& output, uint32_t size, uint16_t* crc, bool* readFailed) {
    if (!output.isOpen() || size == 0) return 0;
    uint8_t buffer[2048];
    uint32_t copied = 0;
    uint32_t remaining = size;
    while (remaining > 0) {
        const uint32_t chunk = remaining < sizeof buffer ? remaining : sizeof buffer;
        const int64_t got = input.read(buffer, chunk);
        // Keep what did arrive of a short last chunk; the member is damaged.
        const uint32_t usable = got > 0 ? static_cast<uint32_t>(got) : 0;
        if (usable && !output.write(buffer, usable)) fatalWriteError(reporter, kTextWriteFailed);
        if (crc) updateCrc(*crc, buffer, usable);
        copied += usable;
        if (usable != chunk) {
            if (readFailed) *readFailed = true;
            return 0;
        }
        remaining -= chunk;
        progress.report(chunk);
        if (!stillRunning()) return 0;
    }
    return copied;
}

void flushDictionary(DecoderContext& s, const uint8_t* bytes, uint32_t count) {
    updateCrc(s.outputCrc, bytes, count);
    const bool written = s.sink ? s.sink->write(bytes, count) : s.outputFile->write(bytes, count);
    if (!written) fatalWriteError(*s.reporter, kTextWriteFailed);
}

bool loadInputBuffer(DecodeSession& s) {
    uint64_t request = s.packedSize;
    const uint64_t available = platform::availablePhysicalMemory();
    if (available != 0 && request > available) request = available;
    // A large payload is read in pieces, through a buffer whose pages the
    // next member finds already touched (the first write into a fresh page
    // is a page fault, and dear on virtual machines). A buffer as large as
    // the member would also take most of a 32-bit process's address space
    // for a member of gigabytes, and fail outright for one of 4 GiB.
    constexpr uint64_t kLargestInputBuffer = 256 * 1024;
    if (request > kLargestInputBuffer) request = kLargestInputBuffer;
    // Nor more than the payload still holds: a header may claim gigabytes
    // that the file does not have.
    const int64_t left = s.inputFile->size() - s.inputFile->position();
    if (left >= 0 && request > static_cast<uint64_t>(left)) request = static_cast<uint64_t>(left);
    // Such a member is damaged however far its decoding gets.
    if (left >= 0 && static_cast<uint64_t>(left) < s.packedSize) s.claimsPastEnd = true;
    // The buffer never shrinks below this: a zero-byte buffer could serve no byte.
    uint64_t floor = s.packedSize < 4096 ? s.packedSize : 4096;
    if (floor == 0) floor = 1;
    if (request < floor) request = floor;
    if (request > UINT32_MAX) request = UINT32_MAX;
    for (;;) {
        s.inputBuffer = platform::allocateBuffer(static_cast<size_t>(request));
        if (s.inputBuffer) break;
        if (request == floor) return false;
        request >>= 1;
        if (request < floor) request = floor;
    }
    s.inputBufferSize = request;
    s.inputPosition = 0;
    const uint32_t want = static_cast<uint32_t>(request < s.packedSize ? request : s.packedSize);
    const int64_t got = want ? s.inputFile->read(s.inputBuffer, want) : 0;
    s.inputValid = got > 0 ? static_cast<uint64_t>(got) : 0;
    // A member that fits reads whole; a short read means the payload ended early.
    if (s.inputValid < want) s.inputShort = true;
    return true;
}

bool startMemberInput(DecodeSession& s) {
    s.row = &MethodTable[static_cast<int>(s.method) - 1];
    s.packedRemaining = s.packedSize;
    if (loadInputBuffer(s)) return true;
    s.outOfMemory = true;
    s.releaseBuffers();
    return false;
}

uint16_t decodeWithDictionary(DecoderContext& s) {
#ifdef QORN_WINDOW_DECODER
    if (!s.ringOnly) return decodeWithWindow(s);
#endif
    s.dictionary = new (std::nothrow) uint8_t[s.dictionarySize];
    if (!s.dictionary) {
        s.outOfMemory = true;
        return 0;
    }
    // A match reaching back before the member's first byte reads spaces.
    std::memset(s.dictionary, 0x20, s.dictionarySize);
    if (!startMemberInput(s)) return 0;
    s.row->start(s);

    const uint32_t size = s.dictionarySize;
    const uint32_t mask = size - 1;
    uint8_t* const dict = s.dictionary;
    s.lengthBias = s.method == Method::Lzs ? 254 : 253;
    s.dictionaryPosition = 0;
    s.outputCount = 0;
    uint32_t pos = 0;
    const CodeOperation code = s.row->code;
    const PositionOperation position = s.row->position;

    while (s.outputCount < s.originalSize && !s.error) {
        const uint16_t c = code(s);
        if (c < 256) {
            dict[pos] = static_cast<uint8_t>(c);
            if (++pos == size) {
                s.progress.report(size);
                flushDictionary(s, dict, size);
                pos = 0;
            }
            ++s.outputCount;
        } else {
            uint32_t length = static_cast<uint32_t>(c - s.lengthBias);
            s.dictionaryPosition = pos;
            const uint16_t d = position(s);
            uint32_t source = (pos - d - 1u) & mask;
            // A corrupt stream's last match may run past the member's end:
            // the file never gets longer than its header says.
            const uint64_t left = s.originalSize - s.outputCount;
            if (length > left) {
                s.overrun = true;
                length = static_cast<uint32_t>(left);
            }
            s.outputCount += length;
            if (pos + length < size && source + length <= size &&
                (source >= pos || pos - source >= length)) {
                // No wrap and no overlap that a forward byte copy would feed
                // from itself: memmove gives the same bytes.
                std::memmove(dict + pos, dict + source, length);
                pos += length;
            } else {
                for (uint32_t i = 0; i < length; ++i) {
                    dict[pos] = dict[(source + i) & mask];
                    if (++pos == size) {
                        s.progress.report(size);
                        flushDictionary(s, dict, size);
                        pos = 0;
                    }
                }
            }
        }
        s.dictionaryPosition = pos;
        if (!stillRunning()) {
            s.releaseBuffers();
            return 0;
        }
        // The payload ended inside the member and every byte it had is in
        // the bit window: what follows would be made of zero bits alone, up
        // to a size the header may have made 4 GiB.
        if (s.inputShort && s.inputPosition >= s.inputValid) break;
        // The same for a stream that goes on past its own packed size while
        // the file holds more: the bytes it reads are made up.
        if (readPastData(s)) {
            s.overread = true;
            break;
        }
    }
    // What was decoded before an error stays in the file, like a member
    // whose CRC is wrong.
    if (pos != 0) flushDictionary(s, dict, pos);
    s.releaseBuffers();
    return s.outputCrc;
}

MemberResult decodeMember(DecoderContext& s, RunReporter& reporter, BinaryFile& input,
                          BinaryFile& output, uint32_t originalSize, uint32_t packedSize,
                          Method method) {
    MemberResult result;
    if (isStored(method)) {
        uint16_t crc = 0;
        bool readFailed = false;
        // A stored member's two sizes must agree; copy no byte beyond its data.
        const uint32_t size = originalSize < packedSize ? originalSize : packedSize;
        copyStored(reporter, s.progress, input, output, size, &crc, &readFailed);
        result.crc = crc;
        result.damaged = readFailed || originalSize != packedSize;
        return result;
    }
    // The session part anew (every way out of decoding released its buffers).
    std::memset(static_cast<DecodeSession*>(&s), 0, sizeof(DecodeSession));
    s.reporter = &reporter;
    s.inputFile = &input;
    s.outputFile = &output;
    s.originalSize = originalSize;
    s.packedSize = packedSize;
    s.method = method;
    s.dictionaryBits = dictionaryBitsFor(method);
    s.dictionarySize = 1u << s.dictionaryBits;
    result.crc = decodeWithDictionary(s);
    result.outOfMemory = s.outOfMemory;
    result.damaged = s.error || s.inputShort || s.claimsPastEnd || s.overrun || s.overread;
    result.overrunOnly = s.overrun && !s.error && !s.inputShort && !s.claimsPastEnd && !s.overread;
    return result;
}

#ifdef QORN_WINDOW_DECODER
DecoderContext::DecoderContext() {
    // All zero, as the stub's static one starts (every member is plain data).
    std::memset(static_cast<void*>(this), 0, sizeof *this);
    setPositionSlots(tables);
}

DecoderContext::~DecoderContext() {
    releaseBuffers();
    delete[] window.buffer;
}
#endif

}  // namespace qorn
