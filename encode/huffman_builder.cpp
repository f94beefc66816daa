#include "encode/huffman_builder.h"

#include <algorithm>
#include <vector>

namespace qorn::encode {

namespace {

// Plain Huffman lengths by the two-queue method over symbols sorted by
// frequency; returns the longest length.
int huffmanLengths(const std::vector<std::pair<uint32_t, int>>& sorted, uint8_t* lengths) {
    const int n = static_cast<int>(sorted.size());
    // Nodes 0..n-1 are leaves, n.. are internal; parent links give depths.
    std::vector<uint64_t> weight(2 * n);
    std::vector<int> parent(2 * n, -1);
    for (int i = 0; i < n; ++i) weight[i] = sorted[i].first;
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
    std::vector<int> depth(2 * n, 0);
    int longest = 0;
    for (int i = 2 * n - 3; i >= 0; --i) {
        depth[i] = depth[parent[i]] + 1;
        if (i < n) longest = std::max(longest, depth[i]);
    }
    for (int i = 0; i < n; ++i) lengths[sorted[i].second] = static_cast<uint8_t>(depth[i]);
    return longest;
}

}  // namespace

int buildCodeLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths) {
    std::vector<std::pair<uint32_t, int>> sorted;
    for (int s = 0; s < count; ++s) {
        lengths[s] = 0;
        if (freq[s]) sorted.emplace_back(freq[s], s);
    }
    if (sorted.size() < 2) return static_cast<int>(sorted.size());
    std::sort(sorted.begin(), sorted.end());
    // Flattening the frequencies until the tree fits keeps the code complete,
    // which every decoder accepts; it costs little, as only rare symbols move.
    while (huffmanLengths(sorted, lengths) > maxLength) {
        for (auto& e : sorted) e.first = (e.first + 1) / 2;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    return static_cast<int>(sorted.size());
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
