// The adaptive Huffman trees of -lh1- and -lh2-, and the fixed position
// code lengths that -lh1- and -lh3- share.
//
// One node store holds both trees: the literal/length tree in nodes 0..627
// (root 0) and the -lh2- position tree in nodes 628..883 (root 628). Both
// sides of the stream update their tree after every symbol, so the order of
// the nodes and every tie-break decide which code a symbol has.
#pragma once

#include <cstdint>

namespace qorn {

constexpr int kAdaptiveNodes = 884;
constexpr int kPositionRoot = 628;
// Leaf numbers of the position codes follow the 314 literal/length symbols.
constexpr int kPositionLeafBase = 314;

struct AdaptiveTree {
    // Internal node: index i of its children i-1 (bit 1) and i (bit 0).
    // Leaf: the complement of its symbol, so always negative.
    int32_t link[kAdaptiveNodes];
    int32_t parent[kAdaptiveNodes];
    // Never rising with the node number: a stretch of equal weights is
    // contiguous, and an update swaps a node with the lowest of its stretch.
    uint16_t weight[kAdaptiveNodes];
    // Leaf node of each literal/length symbol, then of each position code.
    int32_t leafNode[442];
#ifdef QORN_WINDOW_DECODER
    // The lowest node of each weight's stretch as last seen, by the weight's
    // low bits, for the fused -lh1- loop: checked before use, so a stale or
    // shared entry costs only a search. Entries are 0 (the root, which
    // outweighs every other node) or nodes 2..626 of -lh1-'s literal tree.
    uint16_t stretchHint[1024];
#endif
};

// State of the adaptive Huffman decoders of -lh1- and -lh2-: the tree in
// one object, so that a loop reaches every table from one base register.
struct AdaptiveState {
    AdaptiveTree tree;
    int symbolCount;
    int longestMatch;
    int escapeSymbol;
    int64_t growthThreshold;
    int64_t positionLimit;
    int lastPositionNode;
    uint16_t positionTotal;
#ifdef QORN_WINDOW_DECODER
    // A tree of n symbols always starts the same: the last one built,
    // copied for every member that starts one of the same size.
    struct FreshTree {
        int symbols;
        int32_t link[627];
        int32_t parent[627];
        uint16_t weight[627];
        int32_t leafNode[314];
    } fresh;
#endif
};

struct DecoderContext;
void startLiteralTree(AdaptiveState& a);
void startPositionTree(AdaptiveState& a, int dictionaryBits);
void updateLiteral(AdaptiveState& a, int symbol);
void updatePosition(AdaptiveState& a, int code);
void addPositionLeaf(AdaptiveState& a, int code);
void rebuildTree(AdaptiveTree& t, int first, int end);

// Rows of a starting length and the codes at which the length grows.
extern const int32_t FixedPositionLengths[2][16];
void loadFixedPositionLengths(DecoderContext& s, int row);

}  // namespace qorn
