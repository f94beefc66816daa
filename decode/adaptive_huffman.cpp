// -lh1- and -lh2-: adaptive Huffman codes, and the static position code
// that -lh1- shares with -lh3-.
//
// Literals and match lengths share one adaptive tree; -lh2- codes positions
// with a second one that gains a code for every 64 bytes of output. The
// tree's shape depends only on the symbols decoded, never directly on the
// input bits, and every symbol a walk can reach is a real leaf: whatever
// the input, the trees stay well formed and every walk ends at a leaf.
#include <cassert>
#include <cstddef>
#include <cstring>

#include "decode/adaptive_tree.h"
#include "decode/bit_reader.h"
#include "decode/decoder_context.h"
#include "decode/decoders.h"
#include "decode/huffman_table.h"
#include "decode/match_copy.h"

#if defined(QORN_WINDOW_DECODER) && defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qorn {

const int32_t FixedPositionLengths[2][16] = {
    {3, 1, 4, 12, 24, 48},        // -lh1-: 64 codes of 3 to 8 bits
    {2, 1, 1, 3, 6, 13, 31, 78},  // -lh3-: 128 codes of 2 to 9 bits
};

namespace {

// Puts a leaf or an internal node's child pair under node.
inline void placeLink(AdaptiveTree& t, int node, int v) {
    t.link[node] = v;
    if (v < 0) {
        t.leafNode[~v] = node;
    } else {
        t.parent[v] = t.parent[v - 1] = node;
    }
}

inline uint16_t takeBits(DecoderContext& s, unsigned n) {
    const uint16_t v = static_cast<uint16_t>(bitBuffer(s) >> (16 - n));
    fillBuffer(s, n);
    return v;
}

// Reads one code of the tree rooted at root; returns the leaf's link, or 0
// (never a link) after s.fail().
inline int readAdaptiveCode(DecoderContext& s, int root) {
    const int32_t* link = s.adaptive.tree.link;
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
            fillBuffer(s, static_cast<unsigned>(used));
            window = s.bitWindow;
            valid = s.bitCount;
            used = 0;
        }
        v = link[v - static_cast<int>(window >> 63)];
        window <<= 1;
        ++used;
    } while (v > 0);
    fillBuffer(s, static_cast<unsigned>(used));
    return v;
}

// The lowest node of the stretch of weight w that q belongs to. Stretches
// of low weights run to dozens of nodes.
inline int stretchStart(const uint16_t* weight, int q, uint16_t w) {
#if defined(QORN_WINDOW_DECODER) && defined(__SSE2__)
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
__attribute__((always_inline)) inline int incrementStep(AdaptiveTree& t, int p) {
    uint16_t* const weight = t.weight;
    const uint16_t w = weight[p];
    if (weight[p - 1] == w) {
        const int q = stretchStart(weight, p - 1, w);
        const int mine = t.link[p];
        placeLink(t, p, t.link[q]);
        placeLink(t, q, mine);
        p = q;
    }
    weight[p] = static_cast<uint16_t>(w + 1);
    return t.parent[p];
}

}  // namespace

void startLiteralTree(AdaptiveState& a) {
    AdaptiveTree& t = a.tree;
    const int n = a.symbolCount;
    a.escapeSymbol = n >= a.longestMatch + 254 ? 512 : n - 1;
#ifdef QORN_WINDOW_DECODER
    // Most of a run's members start a tree of the same size.
    AdaptiveState::FreshTree& fresh = a.fresh;
    const size_t nodes = static_cast<size_t>(2 * n - 1);
    if (fresh.symbols == n) {
        std::memcpy(t.link, fresh.link, nodes * sizeof(int32_t));
        std::memcpy(t.parent + 1, fresh.parent + 1, (nodes - 1) * sizeof(int32_t));
        std::memcpy(t.weight, fresh.weight, nodes * sizeof(uint16_t));
        std::memcpy(t.leafNode, fresh.leafNode, static_cast<size_t>(n) * sizeof(int32_t));
        return;
    }
#endif
    for (int i = 0; i < n; ++i) {
        const int j = 2 * n - 2 - i;
        t.leafNode[i] = j;
        t.weight[j] = 1;
        t.link[j] = ~i;
    }
    for (int j = n - 2, i = 2 * n - 2; j >= 0; --j, i -= 2) {
        t.weight[j] = static_cast<uint16_t>(t.weight[i] + t.weight[i - 1]);
        t.link[j] = i;
        t.parent[i] = t.parent[i - 1] = j;
    }
#ifdef QORN_WINDOW_DECODER
    fresh.symbols = n;
    std::memcpy(fresh.link, t.link, nodes * sizeof(int32_t));
    std::memcpy(fresh.parent + 1, t.parent + 1, (nodes - 1) * sizeof(int32_t));
    std::memcpy(fresh.weight, t.weight, nodes * sizeof(uint16_t));
    std::memcpy(fresh.leafNode, t.leafNode, static_cast<size_t>(n) * sizeof(int32_t));
#endif
}

void startPositionTree(AdaptiveState& a, int dictionaryBits) {
    AdaptiveTree& t = a.tree;
    t.link[kPositionRoot] = ~kPositionLeafBase;
    t.weight[kPositionRoot] = 1;
    t.leafNode[kPositionLeafBase] = kPositionRoot;
    a.lastPositionNode = kPositionRoot;
    // The node store holds 128 position codes, enough for an 8 KB dictionary.
    a.positionLimit = dictionaryBits < 13 ? int64_t{1} << dictionaryBits : 8192;
    a.growthThreshold = 64;
    a.positionTotal = 0;
}

void rebuildTree(AdaptiveTree& t, int first, int end) {
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
    for (i = first; i < end; ++i) placeLink(t, i, t.link[i]);
}

namespace {

__attribute__((always_inline)) inline void updateLiteralTree(AdaptiveState& a, int symbol) {
    AdaptiveTree& t = a.tree;
    if (t.weight[0] == 0x8000) rebuildTree(t, 0, 2 * a.symbolCount - 1);
    ++t.weight[0];
    for (int q = t.leafNode[symbol]; q != 0;) q = incrementStep(t, q);
}

inline uint16_t adaptiveCode(DecoderContext& s) {
    const int v = readAdaptiveCode(s, 0);
    if (v == 0) return 0;
    const int symbol = ~v;
    updateLiteralTree(s.adaptive, symbol);
    if (symbol == s.adaptive.escapeSymbol) return static_cast<uint16_t>(symbol + takeBits(s, 8));
    return static_cast<uint16_t>(symbol);
}

inline uint16_t staticPosition(DecoderContext& s) {
    const HuffmanTables& t = s.tables;
    uint16_t j = entryValue(t.positionTable[bitBuffer(s) >> 8]);
    if (j < s.positionCodeCount) {
        fillBuffer(s, t.positionLengths[j]);
    } else {
        fillBuffer(s, 8);
        const uint16_t bits = bitBuffer(s);
        // Position codes are at most 16 bits: 8 steps past the table. A
        // longer walk runs through a broken or stale tree.
        unsigned steps = 0;
        do {
            if (steps == 8 || j >= kTreeNodes) {
                s.fail();
                return 0;
            }
            j = (bits & (0x8000u >> steps)) ? t.rightChild[j] : t.leftChild[j];
            ++steps;
        } while (j >= s.positionCodeCount);
        fillBuffer(s, steps);
    }
    return static_cast<uint16_t>((j << 6) + takeBits(s, 6));
}

}  // namespace

void updateLiteral(AdaptiveState& a, int symbol) {
    updateLiteralTree(a, symbol);
}

void updatePosition(AdaptiveState& a, int code) {
    AdaptiveTree& t = a.tree;
    // A lone root leaf cannot be rebuilt, and cannot see 32768 positions
    // either: every match adds output, and output grows the tree.
    if (a.positionTotal == 0x8000 && a.lastPositionNode != kPositionRoot) {
        rebuildTree(t, kPositionRoot, a.lastPositionNode + 1);
        a.positionTotal = t.weight[kPositionRoot];
        t.weight[kPositionRoot] = 65535;
    }
    for (int q = t.leafNode[kPositionLeafBase + code]; q != kPositionRoot;) q = incrementStep(t, q);
    ++a.positionTotal;
}

void addPositionLeaf(AdaptiveState& a, int code) {
    AdaptiveTree& t = a.tree;
    const int m = a.lastPositionNode, r = m + 1, q = m + 2;
    placeLink(t, r, t.link[m]);
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
    t.leafNode[kPositionLeafBase + code] = q;
    a.lastPositionNode = q;
    updatePosition(a, code);
}

void loadFixedPositionLengths(DecoderContext& s, int row) {
    const int32_t* growth = FixedPositionLengths[row];
    int length = growth[0];
    int g = 1;
    for (int i = 0; i < s.positionCodeCount; ++i) {
        while (g < 16 && growth[g] == i) {
            ++length;
            ++g;
        }
        s.tables.positionLengths[i] = static_cast<uint8_t>(length);
    }
}

void startLh1(DecoderContext& s) {
    AdaptiveState& a = s.adaptive;
    a.symbolCount = 314;
    a.longestMatch = 60;
    initBitReader(s);
    s.positionCodeCount = 64;
    startLiteralTree(a);
    loadFixedPositionLengths(s, 0);
    HuffmanTables& t = s.tables;
    if (!buildTable(t, 64, t.positionLengths, 8, t.positionTable, 256)) s.fail();
}

void startLh2(DecoderContext& s) {
    AdaptiveState& a = s.adaptive;
    a.symbolCount = 286;
    a.longestMatch = 256;
    initBitReader(s);
    startLiteralTree(a);
    startPositionTree(a, s.dictionaryBits);
}

uint16_t decodeAdaptiveCode(DecoderContext& s) {
    return adaptiveCode(s);
}

uint16_t decodeAdaptivePosition(DecoderContext& s) {
    AdaptiveState& a = s.adaptive;
    // Code k joins once more than 64 * k bytes are out; a long match can
    // pass several thresholds at once.
    while (s.outputCount > static_cast<uint64_t>(a.growthThreshold)) {
        addPositionLeaf(a, static_cast<int>(a.growthThreshold / 64));
        a.growthThreshold += 64;
        if (a.growthThreshold >= a.positionLimit) a.growthThreshold = INT64_MAX;
    }
    const int v = readAdaptiveCode(s, kPositionRoot);
    if (v == 0) return 0;
    const int code = ~v - kPositionLeafBase;
    updatePosition(a, code);
    return static_cast<uint16_t>((code << 6) + getBits(s, 6));
}

uint16_t decodeStaticPosition(DecoderContext& s) {
    return staticPosition(s);
}

#ifdef QORN_WINDOW_DECODER
// The fused loop's tree walk and climb are written out for x86-64, where
// the carry flag takes a bit off the window in one step, except in builds
// that check memory accesses (which do not see into assembly).
#if defined(__SANITIZE_ADDRESS__)
#define QORN_ADDRESS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QORN_ADDRESS_CHECKED 1
#endif
#endif
#if defined(__x86_64__) && !defined(QORN_ADDRESS_CHECKED)
#define QORN_TREE_ASSEMBLY 1
#endif

namespace {

// Walks the literal tree from the root along bits; returns the leaf's link
// and sets used to the bits taken. The walk ends at a leaf whatever the
// bits: a child always lies further from the root in the store than its
// parent (its weight is smaller).
__attribute__((always_inline)) inline intptr_t walkLiteralTree(const int32_t* link, uint64_t bits,
                                                               unsigned& used) {
    intptr_t v = link[0];
    unsigned n = 0;
#ifdef QORN_TREE_ASSEMBLY
    // Two bits a round; a bit 1 selects the lower node of the pair.
    asm("1:\n\t"
        "add %[bits], %[bits]\n\t"
        "sbb $0, %[v]\n\t"
        "movslq (%[link],%[v],4), %[v]\n\t"
        "test %[v], %[v]\n\t"
        "jle 2f\n\t"
        "add %[bits], %[bits]\n\t"
        "sbb $0, %[v]\n\t"
        "movslq (%[link],%[v],4), %[v]\n\t"
        "add $2, %k[n]\n\t"
        "test %[v], %[v]\n\t"
        "jg 1b\n\t"
        "jmp 3f\n"
        "2:\n\t"
        "add $1, %k[n]\n"
        "3:"
        : [v] "+r"(v), [bits] "+r"(bits), [n] "+r"(n)
        : [link] "r"(link), "m"(*reinterpret_cast<const int32_t(*)[kAdaptiveNodes]>(link))
        : "cc");
#else
    do {
        v = link[v - static_cast<intptr_t>(bits >> 63)];
        bits <<= 1;
        ++n;
    } while (v > 0);
#endif
    used = n;
    return v;
}

// Adds one to the weights from node p up for as long as no node shares its
// weight with the node below it in the store; returns that node, or 0 once
// the root's children are done.
__attribute__((always_inline)) inline size_t climbInOrder(AdaptiveTree& t, size_t p) {
#ifdef QORN_TREE_ASSEMBLY
    // The weights and parents at fixed offsets from the tree's address: one
    // base register for the whole climb.
    uint32_t w;
    asm("1:\n\t"
        "movzwl %c[weight](%[t],%[p],2), %[w]\n\t"
        "cmpw %c[weight]-2(%[t],%[p],2), %w[w]\n\t"
        "je 2f\n\t"
        "addw $1, %c[weight](%[t],%[p],2)\n\t"
        "movl %c[parent](%[t],%[p],4), %k[p]\n\t"
        "test %k[p], %k[p]\n\t"
        "jne 1b\n"
        "2:"
        : [p] "+r"(p), [w] "=&r"(w), "+m"(t.weight)
        : [t] "r"(&t), "m"(t.parent), [weight] "i"(offsetof(AdaptiveTree, weight)),
          [parent] "i"(offsetof(AdaptiveTree, parent))
        : "cc");
#else
    do {
        const uint16_t w = t.weight[p];
        if (t.weight[p - 1] == w) return p;
        t.weight[p] = static_cast<uint16_t>(w + 1);
        p = static_cast<uint32_t>(t.parent[p]);
    } while (p != 0);
#endif
    return p;
}

// Swaps the subtrees of nodes p and q (links, and the parent or leaf entry
// of what each now holds); returns q's parent.
__attribute__((always_inline)) inline size_t exchangeNodes(AdaptiveTree& t, size_t p, size_t q) {
#ifdef QORN_TREE_ASSEMBLY
    static_assert(offsetof(AdaptiveTree, link) == 0, "the links are read at the store's address");
    intptr_t mine, theirs;
    size_t up;
    asm("movslq (%[t],%[p],4), %[mine]\n\t"
        "movslq (%[t],%[q],4), %[theirs]\n\t"
        "mov %k[theirs], (%[t],%[p],4)\n\t"
        "mov %k[mine], (%[t],%[q],4)\n\t"
        "test %[theirs], %[theirs]\n\t"
        "js 1f\n\t"
        "mov %k[p], %c[parent](%[t],%[theirs],4)\n\t"
        "mov %k[p], %c[parent]-4(%[t],%[theirs],4)\n\t"
        "jmp 2f\n"
        "1:\n\t"
        "not %[theirs]\n\t"
        "mov %k[p], %c[leaf](%[t],%[theirs],4)\n"
        "2:\n\t"
        "test %[mine], %[mine]\n\t"
        "js 3f\n\t"
        "mov %k[q], %c[parent](%[t],%[mine],4)\n\t"
        "mov %k[q], %c[parent]-4(%[t],%[mine],4)\n\t"
        "jmp 4f\n"
        "3:\n\t"
        "not %[mine]\n\t"
        "mov %k[q], %c[leaf](%[t],%[mine],4)\n"
        "4:\n\t"
        "movl %c[parent](%[t],%[q],4), %k[up]"
        : [mine] "=&r"(mine), [theirs] "=&r"(theirs), [up] "=r"(up), "+m"(t)
        : [t] "r"(&t), [p] "r"(p), [q] "r"(q), [parent] "i"(offsetof(AdaptiveTree, parent)),
          [leaf] "i"(offsetof(AdaptiveTree, leafNode))
        : "cc");
    return up;
#else
    const int32_t mine = t.link[p], theirs = t.link[q];
    t.link[p] = theirs;
    t.link[q] = mine;
    if (theirs < 0) {
        t.leafNode[~theirs] = static_cast<int32_t>(p);
    } else {
        t.parent[theirs] = t.parent[theirs - 1] = static_cast<int32_t>(p);
    }
    if (mine < 0) {
        t.leafNode[~mine] = static_cast<int32_t>(q);
    } else {
        t.parent[mine] = t.parent[mine - 1] = static_cast<int32_t>(q);
    }
    return static_cast<uint32_t>(t.parent[q]);
#endif
}

// updateLiteralTree from the symbol's leaf p.
__attribute__((always_inline)) inline void climbLiteralTree(AdaptiveState& a, int symbol,
                                                            size_t p) {
    AdaptiveTree& t = a.tree;
    if (t.weight[0] == 0x8000) {
        rebuildTree(t, 0, 2 * a.symbolCount - 1);
        p = static_cast<uint32_t>(t.leafNode[symbol]);
    }
    ++t.weight[0];
    while ((p = climbInOrder(t, p)) != 0) {
        // p shares its weight w with the node below it: p's subtree changes
        // places with the lowest node of that weight, whose weight grows.
        const uint16_t w = t.weight[p];
        size_t q = t.stretchHint[w & 1023];
        if (t.weight[q] != w || t.weight[q - 1] == w) {
            q = static_cast<uint32_t>(stretchStart(t.weight, static_cast<int>(p) - 1, w));
        }
        // q + 1 leads the stretch once q has moved up.
        t.stretchHint[w & 1023] = static_cast<uint16_t>(q + 1);
        t.weight[q] = static_cast<uint16_t>(w + 1);
        p = exchangeNodes(t, p, q);
        if (p == 0) break;
    }
}

}  // namespace

uint8_t* lh1Run(DecoderContext& s, uint8_t* out, const uint8_t* stop, uint32_t mask) {
    // The fast bit reader, refilled when and as fillBuffer would (where a
    // member's payload ends early, the symbol decoding stops at depends on
    // it): a symbol starts only up to fastEnd.
    FastBits b(s, kAdaptiveMargin);
    AdaptiveState& a = s.adaptive;
    const int32_t* const link = a.tree.link;
    while (out < stop && b.in <= b.fastEnd) {
        // A code that runs on past the window's count is left to the
        // operation, and so is one of more than 32 bits where fillBuffer
        // would refill (it takes those in steps of 16). The window holds at
        // least 16 bits; longer codes need weights a tree of at most 32768
        // all but never has.
        unsigned used;
        const intptr_t v = walkLiteralTree(link, b.window, used);
        if (static_cast<int>(used) >= b.spare + 16) break;
        if (b.spare < static_cast<int>(used)) {
            if (used > 32) break;
            b.refillCounted();
        }
        b.drop(used);
        const int symbol = static_cast<int>(~v);
        climbLiteralTree(a, symbol, static_cast<uint32_t>(a.tree.leafNode[symbol]));
        if (symbol < 256) {
            *out++ = static_cast<uint8_t>(symbol);
            continue;
        }
        // Position codes of 3 to 8 bits, all in the table, and 6 bits more.
        const uint16_t e = s.tables.positionTable[b.window >> 56];
        const unsigned length = e >> kEntryLengthShift;
        const uint32_t d = (static_cast<uint32_t>(e & kEntryValue) << 6) |
                           static_cast<uint32_t>((b.window << length) >> 58);
        b.consumeCounted(length);
        b.consumeCounted(6);
        out = copyMatch(out, ringDistance(d, mask), static_cast<uint32_t>(symbol) - 253);
    }
    b.store(s);
    return out;
}
#endif

}  // namespace qorn
