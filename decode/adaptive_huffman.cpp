// -lh1- and -lh2-: adaptive Huffman codes, and the static position code
// that -lh1- shares with -lh3-.
//
// Literals and match lengths share one adaptive tree; -lh2- codes positions
// with a second one that gains a code for every 64 bytes of output. The
// tree's shape depends only on the symbols decoded, never directly on the
// input bits, and every symbol a walk can reach is a real leaf: whatever
// the input, the trees stay well formed and every walk ends at a leaf.
#include <cstring>

#include "decode/adaptive_tree.h"
#include "decode/bit_reader.h"
#include "decode/decoders.h"
#include "decode/huffman_table.h"
#include "decode/match_copy.h"

#if defined(QORN_FAST_DECODE) && defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qorn {

AdaptiveTree adaptiveTree;
int32_t leafNode[442];
int lastPositionNode;
uint16_t positionTotal;

const int32_t FixedPositionLengths[2][16] = {
    {3, 1, 4, 12, 24, 48},        // -lh1-: 64 codes of 3 to 8 bits
    {2, 1, 1, 3, 6, 13, 31, 78},  // -lh3-: 128 codes of 2 to 9 bits
};

namespace {

int symbolCount;
int longestMatch;
int escapeSymbol;
int64_t growthThreshold;
int64_t positionLimit;

// Puts a leaf or an internal node's child pair under node.
inline void placeLink(int node, int v) {
    AdaptiveTree& t = adaptiveTree;
    t.link[node] = v;
    if (v < 0) {
        leafNode[~v] = node;
    } else {
        t.parent[v] = t.parent[v - 1] = node;
    }
}

// fillBuffer for n of at most 32, where refillBits is known to take its
// word path (the -lh1- run's margin), inlined: the same state after.
__attribute__((always_inline)) inline void takeOnWordPath(DecodeSession& s, unsigned n) {
    if (s.bitCount < static_cast<int>(n) + 16) {
        const unsigned want = static_cast<unsigned>(64 - s.bitCount) >> 3;
        uint64_t word;
        std::memcpy(&word, s.inputBuffer + s.inputPosition, 8);
        word = __builtin_bswap64(word) >> (64 - 8 * want);
        s.bitWindow |= word << (64 - 8 * want - static_cast<unsigned>(s.bitCount));
        s.bitCount += static_cast<int>(8 * want);
        s.inputPosition += want;
        s.packedRemaining -= want;
    }
    s.bitWindow <<= n;
    s.bitCount -= static_cast<int>(n);
}

// fillBuffer, or with kWordPath the same steps through takeOnWordPath.
template <bool kWordPath>
__attribute__((always_inline)) inline void take(DecodeSession& s, unsigned n) {
    if (!kWordPath) {
        fillBuffer(s, n);
        return;
    }
    for (; n > 32; n -= 16) takeOnWordPath(s, 16);
    takeOnWordPath(s, n);
}

template <bool kWordPath>
__attribute__((always_inline)) inline uint16_t takeBits(DecodeSession& s, unsigned n) {
    const uint16_t v = static_cast<uint16_t>(bitBuffer(s) >> (16 - n));
    take<kWordPath>(s, n);
    return v;
}

// Reads one code of the tree rooted at root; returns the leaf's link, or 0
// (never a link) after s.fail().
template <bool kWordPath = false>
__attribute__((always_inline)) inline int readAdaptiveCode(DecodeSession& s, int root) {
    const int32_t* link = adaptiveTree.link;
    int v = link[root];
    if (v <= 0) return v;
    uint64_t window = s.bitWindow;
    int used = 0;
    int valid = s.bitCount;
    int refills = 0;
    do {
        if (used == valid) {
            // The trees are at most a few dozen levels deep; a longer walk
            // would mean a broken node store, never a broken stream.
            if (++refills > 4) {
                s.fail();
                return 0;
            }
            take<kWordPath>(s, static_cast<unsigned>(used));
            window = s.bitWindow;
            valid = s.bitCount;
            used = 0;
        }
        v = link[v - static_cast<int>(window >> 63)];
        window <<= 1;
        ++used;
    } while (v > 0);
    take<kWordPath>(s, static_cast<unsigned>(used));
    return v;
}

// The lowest node of the stretch of weight w that q belongs to. Stretches
// of low weights run to dozens of nodes.
inline int stretchStart(const uint16_t* weight, int q, uint16_t w) {
#if defined(QORN_FAST_DECODE) && defined(__SSE2__)
    // Eight weights at a time, while all eight lie in the store; the first
    // that differs, counted from the top, ends the stretch.
    const __m128i want = _mm_set1_epi16(static_cast<short>(w));
    while (q >= 9) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + q - 8));
        const unsigned differ =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(eight, want))) & 0xFFFFu;
        if (differ == 0) {
            q -= 8;
            continue;
        }
        // Bit 2k+1 stands for weight[q - 8 + k]; above the highest one set all are equal.
        const int highest = 31 - __builtin_clz(differ);
        return q - ((15 - highest) >> 1);
    }
#endif
    while (weight[q - 1] == w) --q;
    return q;
}

// Adds one to a node's weight, first swapping it with the lowest node of
// the same weight so the weights stay in order; returns the node to continue
// with. The stretch of equal weights ends above at the latest below the
// root: the literal tree's root weighs more than any other node, and the
// position tree's is pinned above every weight (see addPositionLeaf).
// Inlined into the update loops, which spend most of the decoding time.
__attribute__((always_inline)) inline int incrementStep(int p) {
    AdaptiveTree& t = adaptiveTree;
    uint16_t* const weight = t.weight;
    const uint16_t w = weight[p];
    if (weight[p - 1] == w) {
        const int q = stretchStart(weight, p - 1, w);
        const int mine = t.link[p];
        placeLink(p, t.link[q]);
        placeLink(q, mine);
        p = q;
    }
    weight[p] = static_cast<uint16_t>(w + 1);
    return t.parent[p];
}

}  // namespace

void startLiteralTree() {
    AdaptiveTree& t = adaptiveTree;
    const int n = symbolCount;
    escapeSymbol = n >= longestMatch + 254 ? 512 : n - 1;
    for (int i = 0; i < n; ++i) {
        const int j = 2 * n - 2 - i;
        leafNode[i] = j;
        t.weight[j] = 1;
        t.link[j] = ~i;
    }
    for (int j = n - 2, i = 2 * n - 2; j >= 0; --j, i -= 2) {
        t.weight[j] = static_cast<uint16_t>(t.weight[i] + t.weight[i - 1]);
        t.link[j] = i;
        t.parent[i] = t.parent[i - 1] = j;
    }
}

void startPositionTree(int dictionaryBits) {
    AdaptiveTree& t = adaptiveTree;
    t.link[kPositionRoot] = ~kPositionLeafBase;
    t.weight[kPositionRoot] = 1;
    leafNode[kPositionLeafBase] = kPositionRoot;
    lastPositionNode = kPositionRoot;
    // The node store holds 128 position codes, enough for an 8 KB dictionary.
    positionLimit = dictionaryBits < 13 ? int64_t{1} << dictionaryBits : 8192;
    growthThreshold = 64;
    positionTotal = 0;
}

void rebuildTree(int first, int end) {
    AdaptiveTree& t = adaptiveTree;
    // Keep the leaves in their order, with halved weights.
    int j = first;
    for (int i = first; i < end; ++i) {
        if (t.link[i] < 0) {
            t.link[j] = t.link[i];
            t.weight[j] = static_cast<uint16_t>((t.weight[i] + 1) / 2);
            ++j;
        }
    }
    // Pair the lightest nodes from the end; a new internal node goes ahead
    // of every node of equal weight.
    --j;
    int i = end - 1;
    for (int l = end - 2; i >= first; l -= 2) {
        for (; i >= l; --i, --j) {
            t.weight[i] = t.weight[j];
            t.link[i] = t.link[j];
        }
        const uint32_t f = uint32_t{t.weight[l]} + t.weight[l + 1];
        int k = first;
        while (t.weight[k] > f) ++k;  // ends at l at the latest
        for (; j >= k; --i, --j) {
            t.weight[i] = t.weight[j];
            t.link[i] = t.link[j];
        }
        t.weight[i] = static_cast<uint16_t>(f);
        t.link[i] = l + 1;
        --i;
    }
    for (i = first; i < end; ++i) placeLink(i, t.link[i]);
}

namespace {

__attribute__((always_inline)) inline void updateLiteralTree(int symbol) {
    uint16_t* weight = adaptiveTree.weight;
    if (weight[0] == 0x8000) rebuildTree(0, 2 * symbolCount - 1);
    ++weight[0];
    for (int q = leafNode[symbol]; q != 0;) q = incrementStep(q);
}

template <bool kWordPath = false>
__attribute__((always_inline)) inline uint16_t adaptiveCode(DecodeSession& s) {
    const int v = readAdaptiveCode<kWordPath>(s, 0);
    if (v == 0) return 0;
    const int symbol = ~v;
    updateLiteralTree(symbol);
    if (symbol == escapeSymbol) return static_cast<uint16_t>(symbol + takeBits<kWordPath>(s, 8));
    return static_cast<uint16_t>(symbol);
}

template <bool kWordPath = false>
__attribute__((always_inline)) inline uint16_t staticPosition(DecodeSession& s) {
    uint16_t j = entryValue(positionTable[bitBuffer(s) >> 8]);
    if (j < positionCodeCount) {
        take<kWordPath>(s, positionLengths[j]);
    } else {
        take<kWordPath>(s, 8);
        const uint16_t bits = bitBuffer(s);
        // Position codes are at most 16 bits: 8 steps past the table. A
        // longer walk runs through a broken or stale tree.
        unsigned steps = 0;
        do {
            if (steps == 8 || j >= kTreeNodes) {
                s.fail();
                return 0;
            }
            j = (bits & (0x8000u >> steps)) ? rightChild[j] : leftChild[j];
            ++steps;
        } while (j >= positionCodeCount);
        take<kWordPath>(s, steps);
    }
    return static_cast<uint16_t>((j << 6) + takeBits<kWordPath>(s, 6));
}

}  // namespace

void updateLiteral(int symbol) {
    updateLiteralTree(symbol);
}

void updatePosition(int code) {
    // A lone root leaf cannot be rebuilt, and cannot see 32768 positions
    // either: every match adds output, and output grows the tree.
    if (positionTotal == 0x8000 && lastPositionNode != kPositionRoot) {
        rebuildTree(kPositionRoot, lastPositionNode + 1);
        positionTotal = adaptiveTree.weight[kPositionRoot];
        adaptiveTree.weight[kPositionRoot] = 65535;
    }
    for (int q = leafNode[kPositionLeafBase + code]; q != kPositionRoot;) q = incrementStep(q);
    ++positionTotal;
}

void addPositionLeaf(int code) {
    AdaptiveTree& t = adaptiveTree;
    const int m = lastPositionNode, r = m + 1, q = m + 2;
    placeLink(r, t.link[m]);
    t.weight[r] = t.weight[m];
    t.link[q] = ~(kPositionLeafBase + code);
    t.weight[q] = 0;
    t.link[m] = q;
    if (m == kPositionRoot) {
        // The root's weight is pinned above every other, so that no node
        // ever swaps with it; positionTotal keeps the real count.
        t.weight[m] = 65535;
    }
    t.parent[r] = t.parent[q] = m;
    leafNode[kPositionLeafBase + code] = q;
    lastPositionNode = q;
    updatePosition(code);
}

void loadFixedPositionLengths(int row) {
    const int32_t* growth = FixedPositionLengths[row];
    int length = growth[0];
    int g = 1;
    for (int i = 0; i < positionCodeCount; ++i) {
        while (g < 16 && growth[g] == i) {
            ++length;
            ++g;
        }
        positionLengths[i] = static_cast<uint8_t>(length);
    }
}

void startLh1(DecodeSession& s) {
    symbolCount = 314;
    longestMatch = 60;
    initBitReader(s);
    positionCodeCount = 64;
    startLiteralTree();
    loadFixedPositionLengths(0);
    if (!buildTable(64, positionLengths, 8, positionTable, 256)) s.fail();
}

void startLh2(DecodeSession& s) {
    symbolCount = 286;
    longestMatch = 256;
    initBitReader(s);
    startLiteralTree();
    startPositionTree(s.dictionaryBits);
}

uint16_t decodeAdaptiveCode(DecodeSession& s) {
    return adaptiveCode(s);
}

uint16_t decodeAdaptivePosition(DecodeSession& s) {
    // Code k joins once more than 64 * k bytes are out; a long match can
    // pass several thresholds at once.
    while (s.outputCount > static_cast<uint64_t>(growthThreshold)) {
        addPositionLeaf(static_cast<int>(growthThreshold / 64));
        growthThreshold += 64;
        if (growthThreshold >= positionLimit) growthThreshold = INT64_MAX;
    }
    const int v = readAdaptiveCode(s, kPositionRoot);
    if (v == 0) return 0;
    const int code = ~v - kPositionLeafBase;
    updatePosition(code);
    return static_cast<uint16_t>((code << 6) + getBits(s, 6));
}

uint16_t decodeStaticPosition(DecodeSession& s) {
    return staticPosition(s);
}

#ifdef QORN_FAST_DECODE
uint8_t* lh1Run(DecodeSession& s, uint8_t* out, const uint8_t* stop, uint64_t last, uint32_t mask) {
    while (out < stop && s.inputPosition <= last) {
        // A failed operation returns 0, which is written like any symbol.
        const uint16_t c = adaptiveCode<true>(s);
        if (c < 256) {
            *out++ = static_cast<uint8_t>(c);
        } else {
            const uint16_t d = staticPosition<true>(s);
            out = copyMatch(out, ringDistance(d, mask), c - 253u);
        }
        if (s.error) break;
    }
    return out;
}
#endif

}  // namespace qorn
