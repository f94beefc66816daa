#include "tests/support/adaptive_encoder.h"

#include <cstdint>
#include <memory>

namespace qorn::testenc {

void BitWriter::put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        acc_ = (acc_ << 1) | ((value >> i) & 1u);
        if (++count_ == 8) {
            bytes_.push_back(static_cast<uint8_t>(acc_));
            acc_ = 0;
            count_ = 0;
        }
    }
}

void BitWriter::putText(const char* bits) {
    for (; *bits; ++bits)
        if (*bits == '0' || *bits == '1') put(static_cast<uint32_t>(*bits - '0'), 1);
}

std::vector<uint8_t> BitWriter::finish() {
    if (count_ != 0) put(0, 8 - count_);
    return bytes_;
}

namespace {

constexpr int kRoot = 628;  // position root; the literal root is node 0
constexpr int kBase = 314;  // first position leaf number

// The model as a plain sibling-ordered tree: nodes are kept in falling
// weight order, and a node about to grow first trades places with the
// lowest-numbered node of the same weight.
struct Model {
    int link[884];
    int parent[884];
    uint32_t weight[884];
    int leaf[442];
    int n = 0;
    int lastPosition = kRoot;
    uint32_t positionCount = 0;

    void setLink(int node, int v) {
        link[node] = v;
        if (v < 0)
            leaf[~v] = node;
        else
            parent[v] = parent[v - 1] = node;
    }

    void startLiteral(int count) {
        n = count;
        for (int i = 0; i < n; ++i) {
            const int j = 2 * n - 2 - i;
            leaf[i] = j;
            weight[j] = 1;
            link[j] = ~i;
        }
        for (int j = n - 2, i = 2 * n - 2; j >= 0; --j, i -= 2) {
            weight[j] = weight[i] + weight[i - 1];
            link[j] = i;
            parent[i] = parent[i - 1] = j;
        }
    }

    void startPosition() {
        link[kRoot] = ~kBase;
        weight[kRoot] = 1;
        leaf[kBase] = kRoot;
        lastPosition = kRoot;
        positionCount = 0;
    }

    void grow(int p, int root) {
        while (p != root) {
            int q = p;
            while (q - 1 > root && weight[q - 1] == weight[p]) --q;
            if (q != p) {
                const int a = link[p];
                setLink(p, link[q]);
                setLink(q, a);
                p = q;
            }
            ++weight[p];
            p = parent[p];
        }
    }

    // Halves the leaves and pairs nodes from the lightest up; a new inner
    // node goes ahead of nodes of the same weight.
    void rebuild(int first, int end) {
        std::vector<int> links;
        std::vector<uint32_t> weights;
        for (int i = first; i < end; ++i)
            if (link[i] < 0) {
                links.push_back(link[i]);
                weights.push_back((weight[i] + 1) / 2);
            }
        for (size_t k = 0; k < links.size(); ++k) {
            link[first + k] = links[k];
            weight[first + k] = weights[k];
        }
        int j = first + static_cast<int>(links.size()) - 1;
        int i = end - 1;
        for (int l = end - 2; i >= first; l -= 2) {
            while (i >= l) {
                link[i] = link[j];
                weight[i--] = weight[j--];
            }
            const uint32_t f = weight[l] + weight[l + 1];
            int k = first;
            while (weight[k] > f) ++k;
            while (j >= k) {
                link[i] = link[j];
                weight[i--] = weight[j--];
            }
            weight[i] = f;
            link[i--] = l + 1;
        }
        for (i = first; i < end; ++i) setLink(i, link[i]);
    }

    void updateLiteral(int s) {
        if (weight[0] == 0x8000) rebuild(0, 2 * n - 1);
        ++weight[0];
        grow(leaf[s], 0);
    }

    void updatePosition(int c) {
        if (positionCount == 0x8000) {
            rebuild(kRoot, lastPosition + 1);
            positionCount = weight[kRoot];
            weight[kRoot] = 65535;
        }
        grow(leaf[kBase + c], kRoot);
        ++positionCount;
    }

    void addPosition(int c) {
        const int m = lastPosition, r = m + 1, q = m + 2;
        setLink(r, link[m]);
        weight[r] = weight[m];
        link[q] = ~(kBase + c);
        weight[q] = 0;
        leaf[kBase + c] = q;
        link[m] = q;
        parent[r] = parent[q] = m;
        if (m == kRoot) weight[m] = 65535;
        lastPosition = q;
        updatePosition(c);
    }

    void emit(BitWriter& w, int node, int root) const {
        uint32_t bits = 0;
        int length = 0;
        for (; node != root; node = parent[node]) {
            if (node == link[parent[node]] - 1) bits |= 1u << length;
            ++length;
        }
        w.put(bits, length);
    }
};

}  // namespace

std::vector<uint8_t> encodeTokens(const std::vector<Token>& tokens, int method) {
    std::unique_ptr<Model> model(new Model);
    Model& m = *model;
    BitWriter w;
    m.startLiteral(method == 1 ? 314 : 286);
    if (method == 2) m.startPosition();
    // -lh1- positions: canonical code of the fixed lengths 3..8.
    uint32_t code[64];
    int length[64];
    {
        const int growth[] = {1, 4, 12, 24, 48};
        int len = 3, g = 0;
        for (int i = 0; i < 64; ++i) {
            while (g < 5 && growth[g] == i) ++len, ++g;
            length[i] = len;
        }
        uint32_t next = 0;
        for (int len2 = 1; len2 <= 16; ++len2, next <<= 1)
            for (int i = 0; i < 64; ++i)
                if (length[i] == len2) code[i] = next++;
    }
    uint64_t out = 0;
    int64_t threshold = 64;
    for (const Token& t : tokens) {
        int symbol = t.literal;
        int extra = -1;
        if (t.match) {
            symbol = t.length + 253;
            if (method == 2 && t.length >= 32) {
                symbol = 285;
                extra = t.length - 32;
            }
        }
        m.emit(w, m.leaf[symbol], 0);
        m.updateLiteral(symbol);
        if (extra >= 0) w.put(static_cast<uint32_t>(extra), 8);
        if (!t.match) {
            ++out;
            continue;
        }
        const int d = t.distance - 1;
        const int c = d >> 6;
        if (method == 1) {
            w.put(code[c], length[c]);
        } else {
            while (out > static_cast<uint64_t>(threshold)) {
                m.addPosition(static_cast<int>(threshold / 64));
                threshold += 64;
                if (threshold >= 8192) threshold = INT64_MAX;
            }
            m.emit(w, m.leaf[kBase + c], kRoot);
            m.updatePosition(c);
        }
        w.put(static_cast<uint32_t>(d & 63), 6);
        out += t.length;
    }
    return w.finish();
}

std::vector<Token> parse(const std::vector<uint8_t>& data, int method) {
    const int window = method == 1 ? 4096 : 8192;
    const int longest = method == 1 ? 60 : 256;
    const int size = static_cast<int>(data.size());
    std::vector<int> head(1 << 16, -1), prev(data.size(), -1);
    auto hash = [&](int i) {
        return ((data[i] << 8) ^ (data[i + 1] << 4) ^ data[i + 2] ^ (data[i + 2] << 12)) & 0xFFFF;
    };
    auto insert = [&](int i) {
        if (i + 3 > size) return;
        const int h = hash(i);
        prev[i] = head[h];
        head[h] = i;
    };
    std::vector<Token> tokens;
    for (int i = 0; i < size;) {
        int best = 0, bestDistance = 0;
        if (i + 3 <= size) {
            int steps = 0;
            for (int c = head[hash(i)]; c >= 0 && i - c <= window && steps < 48;
                 c = prev[c], ++steps) {
                int len = 0;
                const int cap = size - i < longest ? size - i : longest;
                while (len < cap && data[c + len] == data[i + len]) ++len;
                if (len > best) {
                    best = len;
                    bestDistance = i - c;
                }
            }
        }
        if (best >= 3) {
            tokens.push_back(
                {true, 0, static_cast<uint16_t>(best), static_cast<uint16_t>(bestDistance)});
            for (int k = 0; k < best; ++k) insert(i + k);
            i += best;
        } else {
            tokens.push_back({false, data[i], 0, 0});
            insert(i);
            ++i;
        }
    }
    return tokens;
}

std::vector<uint8_t> encodeAdaptive(const std::vector<uint8_t>& data, int method) {
    return encodeTokens(parse(data, method), method);
}

}  // namespace qorn::testenc
