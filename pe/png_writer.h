// PNG files written from RGBA pixels, for icon images that are too large
// as bitmaps.
#pragma once

#include <cstdint>
#include <vector>

namespace qorn::encode {

// A PNG file of `width` x `height` pixels, given as RGBA bytes row by row
// from the top (not premultiplied), or an empty vector when it cannot be
// written. The file is as small as this writer makes it: RGB alone when
// every pixel is opaque, and the filters and deflate settings that give the
// fewest bytes. The same pixels always give the same bytes.
std::vector<uint8_t> pngFile(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba);

}  // namespace qorn::encode
