#include "encode/huffman_builder.h"

#include <algorithm>
#include <vector>

namespace qorn::encode {

namespace {

// Symbols with a code, at most this many.
constexpr int kMaxSymbols = 1024;

// Plain Huffman lengths by the two-queue method over n symbols sorted by
// frequency, each packed as frequency << 16 | symbol; returns the longest
// length.
int huffmanLengths(const uint64_t* sorted, int n, uint8_t* lengths) {
    // Nodes 0..n-1 are leaves, n.. are internal; parent links give depths.
    uint64_t weight[2 * kMaxSymbols];
    int parent[2 * kMaxSymbols];
    uint8_t depth[2 * kMaxSymbols];
    for (int i = 0; i < n; ++i) weight[i] = sorted[i] >> 16;
    int leaf = 0, inner = n, next = n;
    auto takeSmallest = [&]() {
        if (leaf < n && (inner >= next || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    while (next < 2 * n - 1) {
        const int a = takeSmallest();
        const int b = takeSmallest();
        weight[next] = weight[a] + weight[b];
        parent[a] = parent[b] = next;
        ++next;
    }
    depth[2 * n - 2] = 0;
    int longest = 0;
    for (int i = 2 * n - 3; i >= 0; --i) {
        depth[i] = static_cast<uint8_t>(std::min(depth[parent[i]] + 1, 255));
        if (i < n) longest = std::max(longest, static_cast<int>(depth[i]));
    }
    for (int i = 0; i < n; ++i) lengths[sorted[i] & 0xFFFF] = depth[i];
    return longest;
}

// Optimal lengths of at most maxLength bits (package-merge) over n symbols
// sorted as above. Level 0 is the deepest: its list holds the symbols; each
// level above holds the symbols and the pairs of the list below, merged by
// weight. The 2n - 2 lightest items of the top list make the code: a symbol
// gets a bit for each level where it is taken, and the pairs taken on a
// level take the lightest items of the level below.
void limitedLengths(const uint64_t* sorted, int n, int maxLength, uint8_t* lengths) {
    struct Item {
        uint64_t weight;
        int symbol;  // index into sorted, -1 for a pair
    };
    // Kept for the thread: a block tries several limits, and a new vector
    // would be cleared for each.
    static thread_local std::vector<Item> levels;
    const size_t room = static_cast<size_t>(maxLength) * 2 * n;
    if (levels.size() < room) levels.resize(room);
    std::vector<int> sizes(static_cast<size_t>(maxLength));
    for (int i = 0; i < n; ++i) levels[i] = {sorted[i] >> 16, i};
    sizes[0] = n;
    for (int level = 1; level < maxLength; ++level) {
        const Item* below = &levels[static_cast<size_t>(level - 1) * 2 * n];
        Item* list = &levels[static_cast<size_t>(level) * 2 * n];
        const int pairs = sizes[level - 1] / 2;
        int leaf = 0, pair = 0, size = 0;
        while (leaf < n || pair < pairs) {
            const uint64_t pairWeight =
                pair < pairs ? below[2 * pair].weight + below[2 * pair + 1].weight : 0;
            if (pair >= pairs || (leaf < n && (sorted[leaf] >> 16) <= pairWeight)) {
                list[size++] = {sorted[leaf] >> 16, leaf};
                ++leaf;
            } else {
                list[size++] = {pairWeight, -1};
                ++pair;
            }
        }
        sizes[level] = size;
    }
    for (int i = 0; i < n; ++i) lengths[sorted[i] & 0xFFFF] = 0;
    int take = 2 * n - 2;
    for (int level = maxLength - 1; level >= 0 && take > 0; --level) {
        const Item* list = &levels[static_cast<size_t>(level) * 2 * n];
        int pairs = 0;
        for (int k = 0; k < take; ++k) {
            if (list[k].symbol >= 0)
                ++lengths[sorted[list[k].symbol] & 0xFFFF];
            else
                ++pairs;
        }
        take = 2 * pairs;
    }
}

}  // namespace

int buildCodeLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths) {
    uint64_t sorted[kMaxSymbols];
    int n = 0;
    for (int s = 0; s < count; ++s) {
        lengths[s] = 0;
        if (freq[s] && n < kMaxSymbols)
            sorted[n++] = uint64_t{freq[s]} << 16 | static_cast<uint64_t>(s);
    }
    if (n < 2) return n;
    // No code of n symbols fits in fewer bits than log2(n): flattening would
    // never end.
    while ((1 << maxLength) < n) ++maxLength;
    std::sort(sorted, sorted + n);
    // Where the plain code is too long, the best code within the limit: it
    // is complete too, which every decoder accepts. (Halving the
    // frequencies until the tree fitted cost more bits, most in the low
    // limits small blocks choose to send fewer different lengths.)
    if (huffmanLengths(sorted, n, lengths) > maxLength)
        limitedLengths(sorted, n, maxLength, lengths);
    return n;
}

void assignCodes(const uint8_t* lengths, int count, uint16_t* codes) {
    uint32_t lengthCount[kMaxCodeLength + 2] = {};
    for (int s = 0; s < count; ++s) ++lengthCount[lengths[s]];
    lengthCount[0] = 0;
    uint32_t next[kMaxCodeLength + 2] = {};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + lengthCount[len - 1]) << 1;
        next[len] = code;
    }
    for (int s = 0; s < count; ++s)
        if (lengths[s]) codes[s] = static_cast<uint16_t>(next[lengths[s]]++);
}

}  // namespace qorn::encode
