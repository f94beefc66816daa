#include "tests/support/icon_images.h"

#include <cmath>
#include <cstring>
#include <map>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include "stb_image.h"

namespace qorn::icons {

namespace {

void put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
uint32_t get32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

}  // namespace

Picture drawIcon(uint32_t size, unsigned noise, uint32_t seed, bool opaque) {
    Picture p{size, size, Bytes(4 * size * size)};
    const double c = size / 2.0, r = size * 0.45;
    uint32_t random = seed * 2654435761u + 1;
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            random = random * 1103515245u + 12345u;
            const int jitter =
                noise ? static_cast<int>((random >> 16) % (noise + 1)) - noise / 2 : 0;
            const double d = std::hypot(x + 0.5 - c, y + 0.5 - c);
            const double cover = std::fmin(1.0, std::fmax(0.0, r - d + 0.5));
            auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
            uint8_t* px = &p.rgba[4 * (y * size + x)];
            px[0] = clamp(static_cast<int>(40 + 180 * x / size) + jitter);
            px[1] = clamp(static_cast<int>(90 + 120 * y / size) - jitter);
            px[2] = clamp(static_cast<int>(200 - 150 * (x + y) / (2 * size)) + jitter / 2);
            px[3] = opaque ? 255 : static_cast<uint8_t>(std::lround(255 * cover));
        }
    return p;
}

Picture drawFlat(uint32_t width, uint32_t height, unsigned bits) {
    Picture p{width, height, Bytes(4 * width * height)};
    // One palette entry is kept for the black under the mask.
    const uint32_t colours = bits >= 8 ? 200 : (1u << bits) - 1;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* px = &p.rgba[4 * (y * width + x)];
            const uint32_t k = (x * 7 + y * 3) % colours;
            px[0] = static_cast<uint8_t>(k * 37 + 11);
            px[1] = static_cast<uint8_t>(k * 91);
            px[2] = static_cast<uint8_t>(255 - k * 13);
            // A corner of transparent pixels, and one in the middle.
            px[3] = (x + y < 3 || (x == width / 2 && y == height / 2)) ? 0 : 255;
        }
    return p;
}

Bytes bitmapOf(const Picture& p, unsigned bits) {
    std::vector<uint32_t> palette;
    std::map<uint32_t, uint32_t> indexOf;
    auto colourOf = [&](size_t i) {
        return uint32_t{p.rgba[4 * i + 2]} | (uint32_t{p.rgba[4 * i + 1]} << 8) |
               (uint32_t{p.rgba[4 * i]} << 16);
    };
    if (bits <= 8) {
        // Masked pixels are black: the screen behind them shows unchanged.
        palette.push_back(0);
        for (size_t i = 0; i < size_t{p.width} * p.height; ++i)
            if (p.rgba[4 * i + 3] && !indexOf.count(colourOf(i))) {
                indexOf[colourOf(i)] = static_cast<uint32_t>(palette.size());
                palette.push_back(colourOf(i));
            }
    }
    Bytes b;
    put32(b, 40);
    put32(b, p.width);
    put32(b, 2 * p.height);
    put16(b, 1);
    put16(b, bits);
    put32(b, 0);
    const size_t stride = (size_t{p.width} * bits + 31) / 32 * 4;
    const size_t maskStride = (size_t{p.width} + 31) / 32 * 4;
    put32(b, static_cast<uint32_t>((stride + maskStride) * p.height));
    put32(b, 0);
    put32(b, 0);
    put32(b, static_cast<uint32_t>(palette.size()));
    put32(b, 0);
    for (uint32_t c : palette) put32(b, c);
    const size_t pixelsAt = b.size();
    b.resize(pixelsAt + (stride + maskStride) * p.height, 0);
    const size_t maskAt = pixelsAt + stride * p.height;
    for (uint32_t y = 0; y < p.height; ++y) {
        const size_t row = pixelsAt + (p.height - 1 - y) * stride;
        const size_t maskRow = maskAt + (p.height - 1 - y) * maskStride;
        for (uint32_t x = 0; x < p.width; ++x) {
            const size_t i = size_t{y} * p.width + x;
            const uint8_t* px = &p.rgba[4 * i];
            const bool masked = px[3] == 0;
            if (masked) b[maskRow + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            if (bits == 32 || bits == 24) {
                uint8_t* out = &b[row + x * (bits / 8)];
                // Masked pixels are black where the mask shows them.
                const bool black = masked && bits == 24;
                out[0] = black ? 0 : px[2];
                out[1] = black ? 0 : px[1];
                out[2] = black ? 0 : px[0];
                if (bits == 32) out[3] = px[3];
            } else if (!masked) {
                const size_t bit = size_t{x} * bits;
                b[row + bit / 8] |=
                    static_cast<uint8_t>(indexOf[colourOf(i)] << (8 - bits - bit % 8));
            }
        }
    }
    return b;
}

Picture shown(const Picture& p, unsigned bits) {
    if (bits == 32) return p;
    Picture s = p;
    for (size_t i = 0; i < size_t{p.width} * p.height; ++i) {
        uint8_t* px = &s.rgba[4 * i];
        if (px[3] == 0)
            std::memset(px, 0, 4);
        else
            px[3] = 255;
    }
    return s;
}

Bytes iconFile(const std::vector<FileImage>& images) {
    Bytes f = {0, 0, 1, 0};
    put16(f, static_cast<uint32_t>(images.size()));
    size_t at = 6 + 16 * images.size();
    for (const FileImage& i : images) {
        const uint8_t px = static_cast<uint8_t>(i.pixels == 256 ? 0 : i.pixels);
        f.insert(f.end(), {px, px, 0, 0});
        put16(f, 1);
        put16(f, i.bits);
        put32(f, static_cast<uint32_t>(i.bytes.size()));
        put32(f, static_cast<uint32_t>(at));
        at += i.bytes.size();
    }
    for (const FileImage& i : images) f.insert(f.end(), i.bytes.begin(), i.bytes.end());
    return f;
}

std::vector<Bytes> imagesOf(const Bytes& f) {
    std::vector<Bytes> images;
    if (f.size() < 6) return images;
    for (size_t k = 0; k < static_cast<size_t>(f[4] | (f[5] << 8)); ++k) {
        const size_t size = get32(f, 6 + 16 * k + 8), at = get32(f, 6 + 16 * k + 12);
        images.emplace_back(f.begin() + at, f.begin() + at + size);
    }
    return images;
}

bool isPng(const Bytes& image) {
    return image.size() >= 8 && std::memcmp(image.data(), "\x89PNG\r\n\x1A\n", 8) == 0;
}

bool readPng(const Bytes& png, Picture& p) {
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels =
        stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &channels, 4);
    if (!pixels) return false;
    p.width = static_cast<uint32_t>(w);
    p.height = static_cast<uint32_t>(h);
    p.rgba.assign(pixels, pixels + size_t{p.width} * p.height * 4);
    stbi_image_free(pixels);
    return true;
}

}  // namespace qorn::icons
