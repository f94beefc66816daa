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
#ifdef QORN_FAST_DECODE
    // The lowest node of each weight's stretch as last seen, by the weight's
    // low bits, for the fused -lh1- loop: checked before use, so a stale or
    // shared entry costs only a search. Entries are 0 (the root, which
    // outweighs every other node) or nodes 2..626 of -lh1-'s literal tree.
    uint16_t stretchHint[1024];
#endif
};
// One object, so that a loop reaches every table from one base register.
extern AdaptiveTree adaptiveTree;
inline constexpr int32_t (&leafNode)[442] = adaptiveTree.leafNode;
extern int lastPositionNode;
extern uint16_t positionTotal;

void startLiteralTree();
void startPositionTree(int dictionaryBits);
void updateLiteral(int symbol);
void updatePosition(int code);
void addPositionLeaf(int code);
void rebuildTree(int first, int end);

// Rows of a starting length and the codes at which the length grows.
extern const int32_t FixedPositionLengths[2][16];
void loadFixedPositionLengths(int row);

}  // namespace qorn
