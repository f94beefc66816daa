#include "encode/huffman_builder.h"

#include <algorithm>

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
    // Flattening the frequencies until the tree fits keeps the code complete,
    // which every decoder accepts; it costs little, as only rare symbols move.
    while (huffmanLengths(sorted, n, lengths) > maxLength) {
        for (int i = 0; i < n; ++i)
            sorted[i] = ((sorted[i] >> 16) + 1) / 2 << 16 | (sorted[i] & 0xFFFF);
        std::sort(sorted, sorted + n);
    }
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
