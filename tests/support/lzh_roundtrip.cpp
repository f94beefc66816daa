#include "tests/support/lzh_roundtrip.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "base/crc16.h"
#include "decode/decode_session.h"
#include "platform/platform.h"
#include "tests/support/corpus.h"

namespace qorn::test {

namespace {

class QuietReporter : public RunReporter {
  public:
    void messageBox(BoxOwner, const char16_t*, const char16_t*, uint32_t) override {}
};

}  // namespace

bool decodeWithProject(Method method, const std::vector<uint8_t>& packed, uint32_t originalSize,
                       std::vector<uint8_t>& out) {
    const std::string folder = makeTempFolder("decode");
    const std::string in = folder + "/packed", result = folder + "/out";
    bool ok = writeFileBytes(in, packed);
    if (ok) {
        BinaryFile* input = BinaryFile::openForReading(platform::fromUtf8(in.c_str()).c_str());
        BinaryFile* output =
            BinaryFile::createForWriting(platform::fromUtf8(result.c_str()).c_str());
        ok = input && output;
        if (ok) {
            makeCrcTable();
            QuietReporter reporter;
            const MemberResult r =
                decodeMember(corpus::testDecoder(), reporter, *input, *output, originalSize,
                             static_cast<uint32_t>(packed.size()), method);
            output->close();
            ok = !r.damaged && readFileBytes(result, out);
            if (ok) {
                uint16_t crc = 0;
                updateCrc(crc, out.data(), static_cast<uint32_t>(out.size()));
                ok = crc == r.crc;
            }
        }
        delete input;
        delete output;
    }
    removeTree(folder);
    return ok;
}

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(size);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// A walk through every pair of bytes once (an Euler circuit of the complete
// graph on 256 bytes, loops included), the edges out of each byte taken in a
// random order so the bytes look like noise at every scale.
std::vector<uint8_t> matchlessBytes(size_t size) {
    std::mt19937 random(1);
    std::vector<std::vector<uint8_t>> unused(256);
    for (auto& edges : unused) {
        for (int b = 0; b < 256; ++b) edges.push_back(static_cast<uint8_t>(b));
        std::shuffle(edges.begin(), edges.end(), random);
    }
    std::vector<uint8_t> stack = {0}, out;
    while (!stack.empty()) {
        std::vector<uint8_t>& edges = unused[stack.back()];
        if (edges.empty()) {
            out.push_back(stack.back());
            stack.pop_back();
        } else {
            stack.push_back(edges.back());
            edges.pop_back();
        }
    }
    out.resize(std::min(size, out.size()));
    return out;
}

std::vector<uint8_t> wordyBytes(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"static", "const", "int", "return", "the",  "window",
                                         "match",  "code",  "(",   ");\n",   "    ", "{\n",
                                         "}\n",    "block", "=",   "+ 1",    "if",   "while"};
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    v.reserve(size + 16);
    while (v.size() < size) {
        const char* w = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        while (*w) v.push_back(static_cast<uint8_t>(*w++));
        if (rng() % 4 == 0) v.push_back(static_cast<uint8_t>('a' + rng() % 26));
        v.push_back(' ');
    }
    v.resize(size);
    return v;
}

std::string makeTempFolder(const char* tag) {
    std::string pattern = std::string("/tmp/qorn-") + tag + "-XXXXXX";
    char* made = mkdtemp(&pattern[0]);
    return made ? std::string(made) : std::string();
}

void removeTree(const std::string& path) {
    if (path.rfind("/tmp/qorn-", 0) != 0) return;
    runCommand("rm -rf '" + path + "'");
}

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes.clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return true;
}

std::string findProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::string all = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        const std::string candidate = all.substr(start, end - start) + "/" + name;
        if (platform::pathKind(platform::fromUtf8(candidate.c_str()).c_str()) ==
            platform::PathKind::File)
            return candidate;
        start = end + 1;
    }
    return std::string();
}

int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace qorn::test
