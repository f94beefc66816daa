#include "pe/png_writer.h"

#include <cstdlib>
#include <cstring>

#ifdef QORN_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

#ifdef QORN_HAVE_ZLIB
// The pixel data deflated by zlib at its best level, with the strategy of
// the two that gives fewer bytes: both are cheap for images of icon size,
// and zlib's output is a quarter smaller than the writer's own deflate for
// photographic icons. Allocated with malloc, as the writer frees it.
unsigned char* deflateBest(unsigned char* data, int length, int* outLength, int) {
    unsigned char* best = nullptr;
    *outLength = 0;
    for (const int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED}) {
        z_stream z;
        std::memset(&z, 0, sizeof z);
        if (deflateInit2(&z, 9, Z_DEFLATED, 15, 9, strategy) != Z_OK) continue;
        const uLong bound = deflateBound(&z, static_cast<uLong>(length));
        auto* out = static_cast<unsigned char*>(std::malloc(bound));
        z.next_in = data;
        z.avail_in = static_cast<uInt>(length);
        z.next_out = out;
        z.avail_out = static_cast<uInt>(bound);
        const bool done = out && deflate(&z, Z_FINISH) == Z_STREAM_END;
        const int n = static_cast<int>(z.total_out);
        deflateEnd(&z);
        if (done && (!best || n < *outLength)) {
            std::free(best);
            best = out;
            *outLength = n;
        } else {
            std::free(out);
        }
    }
    return best;
}
#define STBIW_ZLIB_COMPRESS deflateBest
#endif

}  // namespace

// The writer's functions and settings stay in this file.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"

namespace qorn::encode {

namespace {

void append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::vector<uint8_t> pngFile(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba) {
    const uint64_t pixels = uint64_t{width} * height;
    if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF || rgba.size() != 4 * pixels)
        return {};
    bool opaque = true;
    for (uint64_t i = 0; i < pixels && opaque; ++i) opaque = rgba[4 * i + 3] == 255;
    std::vector<uint8_t> rgb;
    if (opaque) {
        rgb.resize(3 * pixels);
        for (uint64_t i = 0; i < pixels; ++i) std::memcpy(&rgb[3 * i], &rgba[4 * i], 3);
    }
    const int components = opaque ? 3 : 4;
    const uint8_t* data = opaque ? rgb.data() : rgba.data();
    // The writer's own choice of filter for each row (-1), then each filter
    // for every row: the smallest file wins, the first of equals. Twelve
    // deflates take about 20 ms for a 48 px image, 0.3 to 0.6 s for 256 px.
    std::vector<uint8_t> best;
    stbi_write_png_compression_level = 9;
    for (int filter = -1; filter <= 4; ++filter) {
        stbi_write_force_png_filter = filter;
        std::vector<uint8_t> png;
        if (!stbi_write_png_to_func(append, &png, static_cast<int>(width), static_cast<int>(height),
                                    components, data, static_cast<int>(width) * components))
            continue;
        if (best.empty() || png.size() < best.size()) best.swap(png);
    }
    return best;
}

}  // namespace qorn::encode
