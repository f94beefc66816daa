// Icon files (.ico) and the icon groups of an executable's resources.
#pragma once

#include <cstdint>
#include <string>
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

// Puts images in place of the icon group `group` and the icons it holds.
// When they do not all fit the resource section, the smallest ones are kept
// and the others left out (their indexes in `leftOut`); the images of 32
// pixels and less (or the smallest one, when there are none) must fit.
bool replaceIconGroup(PeResources& pe, uint16_t group, const std::vector<IconImage>& images,
                      std::vector<size_t>& leftOut, std::string& error);

}  // namespace qorn::encode
