// Decoding of one member: the session, the method table, the output loop.
//
// Decoding errors. The stub carries no C++ exception support, so undecodable
// data (HUFFMAN::HUF_ERROR) does not unwind the stack. A decoder that meets
// one calls fail(): the session records the error and the operation returns a
// harmless value (symbol 0, distance 0) without touching any array outside
// its bounds. The output loop looks at the flag once per symbol, next to its
// cancellation check, and leaves; decodeMember then releases the dictionary
// and the input buffer like after any member. Nothing is carried over: the
// next member's start operation resets every decoder.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/failure.h"
#include "payload/binary_file.h"

namespace qorn {

// 1 while the run may go on; set to 0 by the abort button and never back.
extern std::atomic<int> keepRunning;
inline bool stillRunning() {
    return keepRunning.load(std::memory_order_relaxed) != 0;
}

struct DecodeSession;
using CodeOperation = uint16_t (*)(DecodeSession&);
using PositionOperation = uint16_t (*)(DecodeSession&);
using StartOperation = void (*)(DecodeSession&);

struct MethodRow {
    CodeOperation code;
    PositionOperation position;
    StartOperation start;
};
// Row r serves method index r + 1 (-lh1- .. -lz5-).
extern const MethodRow MethodTable[9];

struct DecodeSession {
    // Member parameters.
    RunReporter* reporter = nullptr;  // owner of the write-failure box
    uint32_t dictionarySize = 0;
    BinaryFile* inputFile = nullptr;
    BinaryFile* outputFile = nullptr;
    uint64_t originalSize = 0;
    uint64_t packedSize = 0;
    int dictionaryBits = 0;
    int methodIndex = 0;

    // Decoding state.
    uint8_t* dictionary = nullptr;
    uint16_t outputCrc = 0;
    const MethodRow* row = nullptr;
    uint64_t packedRemaining = 0;
    uint32_t dictionaryPosition = 0;
    uint64_t outputCount = 0;
    int lengthBias = 253;

    // Compressed input. inputValid counts the bytes the last read delivered;
    // anything past it reads as 0 and marks the input short.
    uint8_t* inputBuffer = nullptr;
    uint64_t inputBufferSize = 0;
    uint64_t inputPosition = 0;
    uint64_t inputValid = 0;

    // Bit reader: the stream's next bits, left-aligned in a 64-bit window.
    // bitBuffer() is its top 16 bits; bits past the member's data are zeros.
    uint64_t bitWindow = 0;
    int bitCount = 0;
    // Zero bytes handed out because the member's packed bytes were used up.
    uint32_t zeroBytes = 0;

    // Outcome flags.
    bool error = false;          // undecodable data (HUFFMAN::HUF_ERROR)
    bool inputShort = false;     // the payload ended before packedSize bytes
    bool claimsPastEnd = false;  // packedSize runs past the end of the payload
    bool overrun = false;        // the last match ran past originalSize
    bool overread = false;       // the decoder wanted bits beyond the member's data
    bool outOfMemory = false;    // the dictionary or the input buffer could not be had

    void fail() { error = true; }
    ~DecodeSession() { releaseBuffers(); }
    void releaseBuffers();
};

// What decoding a member produced.
struct MemberResult {
    uint16_t crc = 0;
    // Damage found other than through the CRC: undecodable data, input cut
    // short, a stored member whose sizes disagree, output past its size.
    bool damaged = false;
    // Only an overrun (which the CRC catches when the header has one).
    bool overrunOnly = false;
    // Nothing was decoded: the memory for it could not be had. The caller
    // deals with the output file and then ends the process (failAllocation).
    bool outOfMemory = false;
};

// Process-wide progress of a run, in bytes of output plus kProgressPerMember
// for each member: a run of many small files moves the bar member by member,
// where their bytes alone would not fill a dictionary between reports.
constexpr uint32_t kProgressPerMember = 4096;
struct ProgressState {
    uint32_t total = 0;
    uint32_t done = 0;
    uint32_t percent = 0;
    uint32_t membersEnd = 0;  // where the members done so far end
    RunReporter* reporter = nullptr;
};
extern ProgressState progress;
void resetProgress(RunReporter* reporter, uint32_t total);
void reportProgress(uint32_t count);
// A member of originalSize bytes is done, whatever its decoder reported.
void memberProgressDone(uint32_t originalSize);

// Decodes a member from the input file's position into the output file.
MemberResult decodeMember(RunReporter& reporter, BinaryFile& input, BinaryFile& output,
                          uint32_t originalSize, uint32_t packedSize, int methodIndex);

// Stored copy of -lh0- and -lz4-. Returns the bytes copied, 0 on a failed
// read or a cancel; *crc covers exactly what was written.
uint32_t copyStored(RunReporter& reporter, BinaryFile& input, BinaryFile& output, uint32_t size,
                    uint16_t* crc, bool* readFailed);

uint16_t decodeWithDictionary(DecodeSession& session);
#ifdef QORN_FAST_DECODE
// The native build decodes through a linear window with fused loops
// (window_decoder.cpp); false sends members through the ring loop above,
// which the tests compare it with.
extern bool fastDecoding;
uint16_t decodeWithWindow(DecodeSession& session);
#endif
void flushDictionary(DecodeSession& session, const uint8_t* bytes, uint32_t count);
bool loadInputBuffer(DecodeSession& session);
// Binds the member's method and reads its first input; false when no
// input buffer could be had (out of memory, the session's buffers released).
bool startMemberInput(DecodeSession& session);

// Dictionary size in bits by method index; 0 for stored and folder members.
int dictionaryBitsFor(int methodIndex);

}  // namespace qorn
