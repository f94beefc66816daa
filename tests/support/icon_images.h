// Test support: icon images drawn in memory, written as the bitmaps and
// icon files icon editors write, and PNG files read back.
#pragma once

#include <cstdint>
#include <vector>

namespace qorn::icons {

using Bytes = std::vector<uint8_t>;

// RGBA pixels, rows from the top, not premultiplied.
struct Picture {
    uint32_t width = 0, height = 0;
    Bytes rgba;
    bool operator==(const Picture& o) const {
        return width == o.width && height == o.height && rgba == o.rgba;
    }
};

// An icon as drawn: a disc with a soft edge and a shaded fill on a
// transparent ground. `noise` (0 to 255) roughens the fill, as a photograph
// would: the larger, the fewer bytes a compressor saves. `opaque` fills the
// ground too.
Picture drawIcon(uint32_t size, unsigned noise, uint32_t seed, bool opaque = false);

// A picture of at most 2^bits colours (bits 1, 4 or 8) with every pixel
// opaque or transparent, for the palette bitmaps.
Picture drawFlat(uint32_t width, uint32_t height, unsigned bits);

// The picture as an icon's bitmap: 32 bits with its alpha channel, or 24,
// 8, 4 or 1 bits a pixel (a palette of the picture's colours) with the mask
// taken from alpha 0. A 32-bit bitmap gets the mask of alpha 0 as well.
Bytes bitmapOf(const Picture& p, unsigned bits);

// What Windows shows for bitmapOf(p, bits): with an alpha channel, p; with
// a mask, its colours opaque and the masked pixels all 0.
Picture shown(const Picture& p, unsigned bits);

// An icon file of the images, each given as its bytes (a bitmap or a PNG
// file) with the pixel size its directory entry names.
struct FileImage {
    uint32_t pixels;
    Bytes bytes;
    uint16_t bits = 32;
};
Bytes iconFile(const std::vector<FileImage>& images);
// The images of an icon file, in its order.
std::vector<Bytes> imagesOf(const Bytes& file);

bool isPng(const Bytes& image);
// A PNG file's pixels as RGBA, read by stb_image; false when it cannot be read.
bool readPng(const Bytes& png, Picture& p);

}  // namespace qorn::icons
