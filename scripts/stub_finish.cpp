// Turns the linked stub into the front of every self-extracting file: marks
// its MS-DOS header, clears the PE checksum the marking makes stale, and pads
// it to the payload offset. Fails when the stub has outgrown that offset.
//
// usage: stub_finish IN.exe OUT.exe
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr long kPayloadOffset = 45056;
constexpr char kMark[] = "LHA's SFX ";  // ten bytes at 0x24..0x2D, the last a blank
constexpr size_t kMarkOffset = 0x24;

uint32_t read32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: stub_finish IN.exe OUT.exe\n");
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<unsigned char> image;
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        image.insert(image.end(), chunk, chunk + n);
    std::fclose(in);

    const long size = static_cast<long>(image.size());
    std::printf("stub: %ld bytes, %ld bytes of headroom below the payload offset %ld\n", size,
                kPayloadOffset - size, kPayloadOffset);
    if (size > kPayloadOffset) {
        std::fprintf(stderr,
                     "stub_finish: the stub is %ld bytes, %ld more than the %ld bytes before "
                     "the payload; the payload offset is fixed, so the stub must shrink\n",
                     size, size - kPayloadOffset, kPayloadOffset);
        return 1;
    }
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') {
        std::fprintf(stderr, "stub_finish: %s is not an executable\n", argv[1]);
        return 1;
    }
    // e_oemid, e_oeminfo and e_res2[0..2]: the loader reads none of them.
    std::memcpy(&image[kMarkOffset], kMark, 10);
    // The checksum covers the header just changed; 0 is "not set", which
    // ordinary programs may have.
    const uint32_t pe = read32(image, 0x3C);
    const size_t checksum = pe + 4 + 20 + 64;
    if (checksum + 4 > image.size() || std::memcmp(&image[pe], "PE\0\0", 4) != 0) {
        std::fprintf(stderr, "stub_finish: %s has no PE header\n", argv[1]);
        return 1;
    }
    std::memset(&image[checksum], 0, 4);
    image.resize(kPayloadOffset, 0);

    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
