// Icon files (.ico) and the icon groups of an executable's resources.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pe/pe_resources.h"

namespace qorn::encode {

struct IconImage {
    uint8_t width = 0;  // 0 stands for 256
    uint8_t height = 0;
    uint8_t colors = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    std::vector<uint8_t> bytes;  // a bitmap without file header, or a PNG file
    unsigned pixels() const { return width ? width : 256u; }
};

// Reads every image of an icon file; false with a message when the file is
// not one or is damaged.
bool readIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>& images,
                  std::string& error);

// The pixels Windows shows for a bitmap image (one readIconFile accepted):
// RGBA rows from the top, not premultiplied. A 32-bit image with any alpha
// value other than 0 is shown by its alpha channel; any other by its mask
// (a set bit: transparent). False, with the reason, for images no RGBA
// pixels can stand for (a set mask bit over a colour other than black
// inverts the screen behind it) and for layouts this does not read
// (16-bit pixels, colour masks, a colour index past the palette).
bool bitmapPixels(const std::vector<uint8_t>& bmp, uint32_t& width, uint32_t& height,
                  std::vector<uint8_t>& rgba, std::string& why);

// What replaceIconGroup did with the images: those left out and those
// stored as PNG files made from their bitmaps; the others are stored as
// they were in the file.
struct IconPlacement {
    struct LeftOut {
        size_t image;
        size_t pngBytes;    // its size as PNG, or 0 when it has none:
        std::string noPng;  // then why (a PNG image already, bitmapPixels' reason)
    };
    std::vector<LeftOut> leftOut;
    std::vector<std::pair<size_t, size_t>> asPng;  // image, PNG bytes
    size_t roomLeft = 0;                           // bytes below the payload offset left unused
};

// Puts images in place of the icon group `group` and the icons it holds.
// The images of 32 pixels and less (or the smallest one, when there are
// none) must fit; then 48 px images, then the other sizes from the smallest
// up are kept where they fit. An image's bitmap that does not fit is stored
// as PNG (which Windows reads at every size since Vista); then, room
// allowing, the images get their bitmaps back in the same order. Images
// that do not fit in either form are left out.
bool replaceIconGroup(PeResources& pe, uint16_t group, const std::vector<IconImage>& images,
                      IconPlacement& placement, std::string& error);

}  // namespace qorn::encode
