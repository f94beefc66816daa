// Decoding of one member: the session, the method table, the output loop.
//
// DecodeSession holds what belongs to one member (its parameters, input
// buffer, bit window and outcome); DecoderContext (decoder_context.h) adds
// the methods' tables, trees and counters and, in the native build, the
// window, and is what every operation is passed. A context decodes one
// member at a time; threads that decode at once each have their own.
//
// Decoding errors. The stub carries no C++ exception support, so undecodable
// data (HUFFMAN::HUF_ERROR) does not unwind the stack. A decoder that meets
// one calls fail(): the session records the error and the operation returns a
// harmless value (symbol 0, distance 0) without touching any array outside
// its bounds. The output loop looks at the flag once per symbol, next to its
// cancellation check, and leaves; decodeMember then releases the dictionary
// and the input buffer like after any member. Nothing is carried over: the
// next member's start operation resets every decoder.
//
// Cancellation: keepRunning (base/failure.h) is read once per symbol.
#pragma once

#include <cstdint>

#include "base/failure.h"
#include "payload/archive_entry.h"
#include "payload/binary_file.h"

namespace qorn {

struct DecoderContext;

// Where a context's decoded bytes go instead of the member's output file,
// when its owner sets one (the tool's decoding threads keep a member in
// memory, or only its CRC).
class MemberSink {
  public:
    // False: the bytes could not be kept (the run fails as on a disk error).
    virtual bool write(const uint8_t* bytes, uint32_t count) = 0;

  protected:
    ~MemberSink() = default;
};

using CodeOperation = uint16_t (*)(DecoderContext&);
using PositionOperation = uint16_t (*)(DecoderContext&);
using StartOperation = void (*)(DecoderContext&);

struct MethodRow {
    CodeOperation code;
    PositionOperation position;
    StartOperation start;
};
// Row r serves method r + 1 (Method::Lh1 .. Method::Lz5).
extern const MethodRow MethodTable[9];

// All zero is a fresh session (decodeMember starts each so): no member, no
// buffers. It owns its buffers from loadInputBuffer or the ring until
// releaseBuffers, which every way out of decoding calls. Trivial, so that
// the stub's one context costs no start-up code.
struct DecodeSession {
    // Member parameters.
    RunReporter* reporter;  // owner of the write-failure box
    uint32_t dictionarySize;
    BinaryFile* inputFile;
    BinaryFile* outputFile;
    uint64_t originalSize;
    uint64_t packedSize;
    int dictionaryBits;
    Method method;

    // Decoding state.
    uint8_t* dictionary;
    uint16_t outputCrc;
    const MethodRow* row;
    uint64_t packedRemaining;
    uint32_t dictionaryPosition;
    uint64_t outputCount;
    int lengthBias;  // a length code less this is the match length

    // Compressed input. inputValid counts the bytes the last read delivered;
    // anything past it reads as 0 and marks the input short.
    uint8_t* inputBuffer;
    uint64_t inputBufferSize;
    uint64_t inputPosition;
    uint64_t inputValid;

    // Bit reader: the stream's next bits, left-aligned in a 64-bit window.
    // bitBuffer() is its top 16 bits; bits past the member's data are zeros.
    uint64_t bitWindow;
    int bitCount;
    // Zero bytes handed out because the member's packed bytes were used up.
    uint32_t zeroBytes;

    // Outcome flags.
    bool error;          // undecodable data (HUFFMAN::HUF_ERROR)
    bool inputShort;     // the payload ended before packedSize bytes
    bool claimsPastEnd;  // packedSize runs past the end of the payload
    bool overrun;        // the last match ran past originalSize
    bool overread;       // the decoder wanted bits beyond the member's data
    bool outOfMemory;    // the dictionary or the input buffer could not be had

    void fail() { error = true; }
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

// Progress of a run, in bytes of output plus kProgressPerMember for each
// member: a run of many small files moves the bar member by member, where
// their bytes alone would not fill a dictionary between reports. Each
// decoder context has one; all zero (no total) it reports nothing.
constexpr uint32_t kProgressPerMember = 4096;
struct ProgressState {
    uint32_t total;
    uint32_t done;
    uint32_t percent;
    uint32_t membersEnd;  // where the members done so far end
    RunReporter* reporter;

    void reset(RunReporter* to, uint32_t newTotal);
    void report(uint32_t count);
    // A member of originalSize bytes is done, whatever its decoder reported.
    void memberDone(uint32_t originalSize);
};

// Decodes a member from the input file's position into the output file.
MemberResult decodeMember(DecoderContext& context, RunReporter& reporter, BinaryFile& input,
                          BinaryFile& output, uint32_t originalSize, uint32_t packedSize,
                          Method method);

// Stored copy of -lh0- and -lz4-. Returns the bytes copied, 0 on a failed
// read or a cancel; *crc covers exactly what was written.
uint32_t copyStored(RunReporter& reporter, ProgressState& progress, BinaryFile& input,
                    BinaryFile& output, uint32_t size, uint16_t* crc, bool* readFailed);

uint16_t decodeWithDictionary(DecoderContext& context);
#ifdef QORN_WINDOW_DECODER
// The native build decodes through a linear window with fused loops
// (window_decoder.cpp); a context whose ringOnly is set sends members
// through the ring loop above, which the tests compare it with.
uint16_t decodeWithWindow(DecoderContext& context);
#endif
void flushDictionary(DecoderContext& context, const uint8_t* bytes, uint32_t count);
bool loadInputBuffer(DecodeSession& session);
// Binds the member's method and reads its first input; false when no
// input buffer could be had (out of memory, the session's buffers released).
bool startMemberInput(DecodeSession& session);

// Dictionary size in bits; 0 for stored and folder members.
int dictionaryBitsFor(Method method);

}  // namespace qorn
