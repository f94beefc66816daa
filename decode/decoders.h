// The decoder operations of each method family, as the method table binds them.
#pragma once

#include <cstdint>

#include "decode/decode_session.h"

namespace qorn {

// -lh4- to -lh7-: static Huffman blocks.
void startBlockDecoder(DecodeSession& s);
uint16_t decodeBlockCode(DecodeSession& s);
uint16_t decodeBlockPosition(DecodeSession& s);
// Codes left in the current block; 0 when the next code reads a header.
extern uint16_t blockCodesLeft;

// -lh1- and -lh2-: adaptive Huffman; -lh1- and -lh3- share the static positions.
void startLh1(DecodeSession& s);
void startLh2(DecodeSession& s);
uint16_t decodeAdaptiveCode(DecodeSession& s);
uint16_t decodeAdaptivePosition(DecodeSession& s);
uint16_t decodeStaticPosition(DecodeSession& s);
#ifdef QORN_FAST_DECODE
// -lh1- symbols into the window from out, while out is below stop and the
// input position at most last (see adaptiveRun); returns the new out.
uint8_t* lh1Run(DecodeSession& s, uint8_t* out, const uint8_t* stop, uint64_t last, uint32_t mask);
#endif

// -lh3-: static trees.
void startLh3(DecodeSession& s);
uint16_t decodeStaticCode(DecodeSession& s);

// -lzs- and -lz5-: LZSS without Huffman coding.
void startLzs(DecodeSession& s);
uint16_t decodeLzsCode(DecodeSession& s);
uint16_t decodeLzsPosition(DecodeSession& s);
// The match position of the last length code, and -lz5-'s flag byte and
// the flags left in it.
extern uint32_t matchPosition;
extern uint32_t flagByte;
extern uint32_t flagsLeft;
void startLz5(DecodeSession& s);
uint16_t decodeLz5Code(DecodeSession& s);
uint16_t decodeLz5Position(DecodeSession& s);

}  // namespace qorn
