// The decoder context: every piece of state the decoders keep, in one
// object passed to every operation. libdeflate's decompressor and zstd's
// DCtx are the model: reentrant, one per thread that decodes.
//
// What a context keeps from member to member (its contract):
// - Nothing that changes what a member decodes to. Each member's start
//   operation resets what its method reads: the Huffman tables and tree
//   nodes are cleared, the adaptive trees built afresh, the counters of
//   blocks and flags set to 0. A damaged member therefore decodes the same
//   after any other member, in any context.
// - progress: set by the owner for a run, moved on by decoding; sink and,
//   in the native build, ringOnly: set by the owner, only read.
// - In the native build, for speed only: the window (buffer, capacity and
//   how far its history still holds the ring's starting spaces) and the
//   last fresh adaptive tree built, copied for the next member of the same
//   alphabet instead of built again.
// The DecodeSession part (the member's parameters, input and outcome) is
// reset by decodeMember before each member.
//
// A context is large (the tables and trees, about 30 KB). Where the window
// decoder is not built (the stub, the Windows tool) it is trivial and all
// zero is its starting state, so the stub's one static instance takes
// neither file space nor start-up code; one made with new must be
// value-initialised (new DecoderContext()), or its fields start as
// whatever the heap held. The native build's constructor also fills the
// constant position slots. The native tool has one per decoding thread.
#pragma once

#include <cstdint>

#include "decode/adaptive_tree.h"
#include "decode/decode_session.h"
#include "decode/huffman_table.h"

namespace qorn {

struct DecoderContext : DecodeSession {
    // The static Huffman codes of -lh1- and -lh3- to -lh7-.
    HuffmanTables tables;
    // Symbols of the position code in use (-lh1-: 64, -lh3-: 128, -lh4-..-lh7-: 14-17).
    int positionCodeCount;
    // -lh4- to -lh7-: codes left in the current block, 0 when the next code
    // reads a header; the width of the position code's count.
    uint16_t blockCodesLeft;
    int positionCountBits;
    // -lh3-: codes left in the current block.
    uint16_t blockRemaining;

    AdaptiveState adaptive;

    // -lzs- and -lz5-: the match position of the last length code, and
    // -lz5-'s flag byte and the flags left in it.
    uint32_t matchPosition;
    uint32_t flagByte;
    uint32_t flagsLeft;

    // The run's progress (no total: none).
    ProgressState progress;
    // Where decoded bytes go instead of the output file, or none.
    MemberSink* sink;

#ifdef QORN_WINDOW_DECODER
    // Members through the ring loop instead of the window's.
    bool ringOnly;
    // One window serves member after member (see decodeWithWindow).
    struct Window {
        uint8_t* buffer;
        uint32_t capacity;
        uint32_t spacesUpTo;
    } window;
    DecoderContext();
    ~DecoderContext();  // the session's buffers and the window
    DecoderContext(const DecoderContext&) = delete;
    DecoderContext& operator=(const DecoderContext&) = delete;
#endif
};

}  // namespace qorn
