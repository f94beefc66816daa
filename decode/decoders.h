// The decoder operations of each method family, as the method table binds them.
#pragma once

#include <cstdint>

#include "decode/decoder_context.h"

namespace qorn {

// -lh4- to -lh7-: static Huffman blocks.
void startBlockDecoder(DecoderContext& s);
uint16_t decodeBlockCode(DecoderContext& s);
uint16_t decodeBlockPosition(DecoderContext& s);

// -lh1- and -lh2-: adaptive Huffman; -lh1- and -lh3- share the static positions.
void startLh1(DecoderContext& s);
void startLh2(DecoderContext& s);
uint16_t decodeAdaptiveCode(DecoderContext& s);
uint16_t decodeAdaptivePosition(DecoderContext& s);
uint16_t decodeStaticPosition(DecoderContext& s);
#ifdef QORN_WINDOW_DECODER
// -lh1- symbols into the window from out, while out is below stop and the
// input holds kAdaptiveMargin bytes (see adaptiveRun); returns the new out.
uint8_t* lh1Run(DecoderContext& s, uint8_t* out, const uint8_t* stop, uint32_t mask);
#endif

// -lh3-: static trees.
void startLh3(DecoderContext& s);
uint16_t decodeStaticCode(DecoderContext& s);

// -lzs- and -lz5-: LZSS without Huffman coding.
void startLzs(DecoderContext& s);
uint16_t decodeLzsCode(DecoderContext& s);
uint16_t decodeLzsPosition(DecoderContext& s);
void startLz5(DecoderContext& s);
uint16_t decodeLz5Code(DecoderContext& s);
uint16_t decodeLz5Position(DecoderContext& s);

}  // namespace qorn
