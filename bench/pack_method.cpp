// Benchmark helper: packs a folder with a method the product's encoder does
// not write (-lh1-, -lh2-, -lh3-, -lzs-, -lz5-), so the decoders of those
// methods can be timed on the same sets as the others. -lh1- and -lh2-
// streams come from the test encoder; -lh3- blocks code that encoder's parse;
// -lzs- and -lz5- come from a greedy LZSS parse here. Level-2 headers,
// members in name order.
//
// Usage: qorn-bench-pack OUT.lzh lh1|lh2|lh3|lzs|lz5 DIR
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/crc16.h"
#include "decode/adaptive_tree.h"
#include "encode/huffman_builder.h"
#include "encode/member_header.h"
#include "tests/support/adaptive_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Match {
    uint32_t length = 0;
    uint32_t source = 0;  // offset in the file
};

// Greedy longest match within window bytes back, lengths minLength..maxLength.
class Matcher {
  public:
    Matcher(const Bytes& data, uint32_t window, uint32_t minLength, uint32_t maxLength)
        : data_(data),
          window_(window),
          min_(minLength),
          max_(maxLength),
          head_(1 << 15, UINT32_MAX),
          chain_(data.size(), UINT32_MAX) {}

    Match find(uint32_t at) const {
        Match best;
        if (at + min_ > data_.size()) return best;
        const uint32_t limit = std::min<uint32_t>(max_, static_cast<uint32_t>(data_.size()) - at);
        int links = 64;
        for (uint32_t c = head_[hash(at)]; c != UINT32_MAX && links-- > 0; c = chain_[c]) {
            if (at - c >= window_) break;
            uint32_t n = 0;
            while (n < limit && data_[c + n] == data_[at + n]) ++n;
            if (n > best.length) {
                best.length = n;
                best.source = c;
                if (n == limit) break;
            }
        }
        if (best.length < min_) best.length = 0;
        return best;
    }
    void insert(uint32_t at) {
        if (at + 3 > data_.size()) return;
        const uint32_t h = hash(at);
        chain_[at] = head_[h];
        head_[h] = at;
    }

  private:
    uint32_t hash(uint32_t at) const {
        return ((data_[at] << 10) ^ (data_[at + 1] << 5) ^ data_[at + 2]) & 0x7FFF;
    }
    const Bytes& data_;
    uint32_t window_, min_, max_;
    std::vector<uint32_t> head_, chain_;
};

// -lzs-: flag bit 1 and 8 bits, or flag bit 0, an 11-bit ring position and
// 4 bits of length - 2. The ring's first written byte is at 2031; a match
// copies from ring position (P + 17) & 2047 counted from the first output byte.
Bytes packLzs(const Bytes& data) {
    qorn::testenc::BitWriter w;
    Matcher m(data, 2047, 2, 17);
    for (uint32_t at = 0; at < data.size();) {
        const Match found = m.find(at);
        if (found.length) {
            w.put(0, 1);
            w.put((found.source - 17) & 2047, 11);
            w.put(found.length - 2, 4);
        } else {
            w.put(1, 1);
            w.put(data[at], 8);
        }
        const uint32_t step = found.length ? found.length : 1;
        for (uint32_t i = 0; i < step; ++i) m.insert(at + i);
        at += step;
    }
    return w.finish();
}

// -lz5-: a flag byte (bit 1 literal, from the lowest bit) before eight items;
// a match is the ring position's low byte, then its high 4 bits above the
// length - 3. A match copies from ring position (P + 18) & 4095.
Bytes packLz5(const Bytes& data) {
    Bytes out;
    Matcher m(data, 4095, 3, 18);
    size_t flagAt = 0;
    int items = 8;
    for (uint32_t at = 0; at < data.size();) {
        if (items == 8) {
            flagAt = out.size();
            out.push_back(0);
            items = 0;
        }
        const Match found = m.find(at);
        if (found.length) {
            const uint32_t p = (found.source - 18) & 4095;
            out.push_back(static_cast<uint8_t>(p));
            out.push_back(static_cast<uint8_t>(((p >> 4) & 0xF0) | (found.length - 3)));
        } else {
            out[flagAt] |= static_cast<uint8_t>(1u << items);
            out.push_back(data[at]);
        }
        ++items;
        const uint32_t step = found.length ? found.length : 1;
        for (uint32_t i = 0; i < step; ++i) m.insert(at + i);
        at += step;
    }
    return out;
}

// -lh3-: blocks of up to 16384 symbols, each with the code lengths of its
// literals and lengths (a presence bit, then 4 bits of length - 1) and the
// fixed position lengths (flag 0). Lengths 3..31 are symbols 256..284, longer
// ones 285 and 8 bits of length - 32; a position is its code (distance - 1
// divided by 64) and 6 plain bits.
Bytes packLh3(const Bytes& data) {
    const std::vector<qorn::testenc::Token> tokens = qorn::testenc::parse(data, 2);
    uint8_t positionLengths[128];
    const int32_t* growth = qorn::FixedPositionLengths[1];
    for (int i = 0, length = growth[0], g = 1; i < 128; ++i) {
        for (; g < 16 && growth[g] == i; ++g) ++length;
        positionLengths[i] = static_cast<uint8_t>(length);
    }
    uint16_t positionCodes[128];
    qorn::encode::assignCodes(positionLengths, 128, positionCodes);
    const auto symbolOf = [](const qorn::testenc::Token& t) {
        return !t.match ? t.literal : t.length <= 31 ? t.length + 253 : 285;
    };
    qorn::testenc::BitWriter w;
    for (size_t start = 0; start < tokens.size(); start += 16384) {
        const size_t end = std::min(tokens.size(), start + 16384);
        uint32_t freq[286] = {};
        for (size_t i = start; i < end; ++i) ++freq[symbolOf(tokens[i])];
        // Two codes at least: the single-code form is not written here.
        if (std::count(freq, freq + 286, 0u) > 284) ++freq[freq[0] ? 1 : 0];
        uint8_t lengths[286];
        uint16_t codes[286];
        qorn::encode::buildCodeLengths(freq, 286, 16, lengths);
        qorn::encode::assignCodes(lengths, 286, codes);
        w.put(static_cast<uint32_t>(end - start), 16);
        for (uint8_t length : lengths) {
            w.put(length != 0, 1);
            if (length) w.put(length - 1u, 4);
        }
        w.put(0, 1);
        for (size_t i = start; i < end; ++i) {
            const qorn::testenc::Token& t = tokens[i];
            const int symbol = symbolOf(t);
            w.put(codes[symbol], lengths[symbol]);
            if (!t.match) continue;
            if (symbol == 285) w.put(t.length - 32u, 8);
            const uint32_t d = t.distance - 1u, code = d >> 6;
            w.put(positionCodes[code], positionLengths[code]);
            w.put(d & 63, 6);
        }
    }
    return w.finish();
}

void listFiles(const std::string& dir, const std::string& prefix, std::vector<std::string>& files) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        struct stat st;
        if (lstat((dir + "/" + n).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) listFiles(dir + "/" + n, prefix + n + "/", files);
        if (S_ISREG(st.st_mode)) files.push_back(prefix + n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: qorn-bench-pack OUT.lzh lh1|lh2|lh3|lzs|lz5 DIR\n");
        return 2;
    }
    const std::string method = argv[2], dir = argv[3];
    if (method != "lh1" && method != "lh2" && method != "lh3" && method != "lzs" && method != "lz5")
        return 2;
    qorn::makeCrcTable();
    std::vector<std::string> files;
    const std::string base = dir.substr(dir.find_last_of('/') + 1);
    listFiles(dir, base + "/", files);
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 1;
    for (const std::string& path : files) {
        const std::string full = dir + path.substr(base.size());
        FILE* f = std::fopen(full.c_str(), "rb");
        if (!f) continue;
        Bytes data;
        uint8_t chunk[65536];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            data.insert(data.end(), chunk, chunk + n);
        std::fclose(f);
        const Bytes packed = method == "lh1"   ? qorn::testenc::encodeAdaptive(data, 1)
                             : method == "lh2" ? qorn::testenc::encodeAdaptive(data, 2)
                             : method == "lh3" ? packLh3(data)
                             : method == "lzs" ? packLzs(data)
                                               : packLz5(data);
        qorn::encode::MemberHeader h;
        std::copy_n(("-" + method + "-").c_str(), 5, h.method);
        h.packedSize = static_cast<uint32_t>(packed.size());
        h.originalSize = static_cast<uint32_t>(data.size());
        qorn::updateCrc(h.crc, data.data(), static_cast<uint32_t>(data.size()));
        h.path = path;
        Bytes header;
        std::string error;
        if (!qorn::encode::buildHeader(h, 2, "CP932", header, error)) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
            continue;
        }
        std::fwrite(header.data(), 1, header.size(), out);
        std::fwrite(packed.data(), 1, packed.size(), out);
    }
    std::fputc(0, out);
    return std::fclose(out) == 0 ? 0 : 1;
}
