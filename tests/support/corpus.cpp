#include "tests/support/corpus.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "base/crc16.h"
#include "decode/decode_session.h"
#include "platform/platform.h"

namespace qorn::corpus {

std::string folder() {
    return std::string(QORN_TEST_DATA) + "/corpus";
}

namespace {

// Flat JSON objects: strings, numbers, booleans, null; arrays and objects kept raw.
std::map<std::string, std::string> parseObject(const std::string& line) {
    std::map<std::string, std::string> out;
    size_t i = 0;
    auto readString = [&] {
        std::string s;
        ++i;
        while (i < line.size() && line[i] != '"') {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
                char c = line[i];
                if (c == 'u') {
                    unsigned cp = std::strtoul(line.substr(i + 1, 4).c_str(), nullptr, 16);
                    i += 4;
                    char16_t u[2] = {static_cast<char16_t>(cp), 0};
                    char buf[8];
                    platform::toUtf8(u, buf, sizeof buf);
                    s += buf;
                } else {
                    s += c == 'n' ? '\n' : c == 't' ? '\t' : c;
                }
            } else {
                s += line[i];
            }
            ++i;
        }
        ++i;
        return s;
    };
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == ',' || line[i] == '{')) ++i;
        if (i >= line.size() || line[i] != '"') break;
        std::string key = readString();
        while (i < line.size() && (line[i] == ':' || line[i] == ' ')) ++i;
        if (i >= line.size()) break;
        if (line[i] == '"') {
            out[key] = readString();
        } else if (line[i] == '[' || line[i] == '{') {
            int depth = 0;
            size_t start = i;
            bool inString = false;
            for (; i < line.size(); ++i) {
                char c = line[i];
                if (inString) {
                    if (c == '\\')
                        ++i;
                    else if (c == '"')
                        inString = false;
                } else if (c == '"') {
                    inString = true;
                } else if (c == '[' || c == '{') {
                    ++depth;
                } else if ((c == ']' || c == '}') && --depth == 0) {
                    ++i;
                    break;
                }
            }
            out[key] = line.substr(start, i - start);
        } else {
            size_t start = i;
            while (i < line.size() && line[i] != ',' && line[i] != '}') ++i;
            out[key] = line.substr(start, i - start);
        }
    }
    return out;
}

}  // namespace

const std::vector<Member>& members() {
    static std::vector<Member> all = [] {
        std::vector<Member> list;
        FILE* f = std::fopen((folder() + "/manifest.jsonl").c_str(), "r");
        if (!f) return list;
        char* line = nullptr;
        size_t cap = 0;
        while (getline(&line, &cap, f) > 0) {
            auto o = parseObject(line);
            Member m;
            m.archive = o["archive"];
            m.index = std::atoi(o["index"].c_str());
            m.type = o["type"];
            m.path = o["path"];
            m.method = o["method"];
            m.inScope = o["method_in_scope"] == "true";
            m.level = std::atoi(o["level"].c_str());
            m.size = std::strtoull(o["size"].c_str(), nullptr, 10);
            m.crc16 = o.count("crc16") && o["crc16"] != "null" ? o["crc16"] : "";
            m.sha256 = o.count("sha256") && o["sha256"] != "null" ? o["sha256"] : "";
            m.status = o["status"];
            m.mtimeUtc = o["mtime_utc"];
            m.mtimeBasis = o["mtime_basis"];
            list.push_back(m);
        }
        free(line);
        std::fclose(f);
        return list;
    }();
    return all;
}

std::vector<Member> membersOf(const std::string& archive) {
    std::vector<Member> out;
    for (const Member& m : members())
        if (m.archive == archive) out.push_back(m);
    return out;
}

std::vector<std::string> archives() {
    std::vector<std::string> out;
    for (const Member& m : members())
        if (out.empty() || out.back() != m.archive) out.push_back(m.archive);
    return out;
}

// SHA-256, enough for comparing test outputs.
std::string sha256(const std::vector<uint8_t>& data) {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::vector<uint8_t> m = data;
    const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 7; i >= 0; --i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    for (size_t off = 0; off < m.size(); off += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (uint32_t(m[off + 4 * i]) << 24) | (m[off + 4 * i + 1] << 16) |
                   (m[off + 4 * i + 2] << 8) | m[off + 4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; ++i) {
            uint32_t t1 =
                hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
    }
    char hex[65];
    for (int i = 0; i < 8; ++i) std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
    return hex;
}

std::vector<uint8_t> readAll(const std::string& path) {
    std::vector<uint8_t> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    return data;
}

void writeAll(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

std::string makeTempFolder() {
    char name[] = "/tmp/qorn-test-XXXXXX";
    const char* made = mkdtemp(name);
    return made ? made : "";
}

void RecordingReporter::messageBox(BoxOwner owner, const char16_t* text, const char16_t* caption,
                                   uint32_t flags) {
    boxes.push_back(
        Box{owner, text ? text : u"", caption ? caption : u"", caption != nullptr, flags});
}

DecoderContext& testDecoder() {
    static thread_local std::unique_ptr<DecoderContext> context(new DecoderContext());
    return *context;
}

DecodeOutcome decodeBytes(const std::vector<uint8_t>& packed, uint32_t originalSize,
                          Method method) {
    static const std::string dir = makeTempFolder();
    const std::string in = dir + "/packed.bin", out = dir + "/output.bin";
    writeAll(in, packed);
    makeCrcTable();
    DecodeOutcome outcome;
    {
        BinaryFile input(platform::openForReading(platform::fromUtf8(in.c_str()).c_str()));
        BinaryFile output(platform::createForWriting(platform::fromUtf8(out.c_str()).c_str()));
        RecordingReporter reporter;
        MemberResult r = decodeMember(testDecoder(), reporter, input, output, originalSize,
                                      static_cast<uint32_t>(packed.size()), method);
        outcome.crc = r.crc;
        outcome.damaged = r.damaged;
        outcome.outOfMemory = r.outOfMemory;
    }
    outcome.output = readAll(out);
    return outcome;
}

void forEachMember(BinaryFile& file, RunReporter& reporter,
                   const std::function<void(const ArchiveEntry&, int64_t dataStart)>& fn) {
    ArchiveEntry entry;
    while (readEntryHeader(file, entry, reporter) == HeaderResult::Member) {
        const int64_t dataStart = file.position();
        fn(entry, dataStart);
        if (!file.holds(dataStart, entry.packedSize) ||
            !file.moveTo(dataStart + static_cast<int64_t>(entry.packedSize)))
            break;
    }
}

}  // namespace qorn::corpus
