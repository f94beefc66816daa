#include "pe/icon_file.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "encode/le_bytes.h"
#include "pe/png_writer.h"
namespace qorn::encode {

namespace {

constexpr size_t kFileEntrySize = 16;
constexpr size_t kGroupEntrySize = 14;
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string sizeText(const IconImage& image) {
    return std::to_string(image.pixels()) + "x" +
           std::to_string(image.height ? image.height : 256u);
}

// The icon ids a group's data lists.
std::vector<uint16_t> groupMembers(const std::vector<uint8_t>& group) {
    std::vector<uint16_t> ids;
    if (group.size() < 6) return ids;
    const size_t count = get16(group, 4);
    for (size_t k = 0; k < count && 6 + (k + 1) * kGroupEntrySize <= group.size(); ++k)
        ids.push_back(get16(group, 6 + k * kGroupEntrySize + 12));
    return ids;
}

std::vector<uint8_t> groupData(const std::vector<IconImage>& images,
                               const std::vector<size_t>& chosen, const std::vector<size_t>& sizes,
                               const std::vector<uint16_t>& ids) {
    std::vector<uint8_t> g;
    put16(g, 0);
    put16(g, 1);
    put16(g, static_cast<uint32_t>(chosen.size()));
    for (size_t k = 0; k < chosen.size(); ++k) {
        const IconImage& image = images[chosen[k]];
        g.push_back(image.width);
        g.push_back(image.height);
        g.push_back(image.colors);
        g.push_back(0);
        put16(g, image.planes);
        put16(g, image.bitCount);
        put16(g, static_cast<uint32_t>(sizes[k]));
        put16(g, static_cast<uint32_t>(sizes[k] >> 16));
        put16(g, ids[k]);
    }
    return g;
}

uint32_t bigEndian32(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
           b[at + 3];
}

// CRC-32 as PNG chunks carry it.
uint32_t chunkCrc(const uint8_t* p, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// The sizes an icon image may have: its directory entry can name no other.
constexpr uint32_t kLargestIcon = 256;

std::string sizeRule(uint64_t width, uint64_t height) {
    return std::to_string(width) + "x" + std::to_string(height) + "; an icon image is 1 to " +
           std::to_string(kLargestIcon) + " pixels each way";
}

// Why a PNG image cannot be shown as an icon, or "": a header chunk with
// its CRC and sizes and a layout PNG allows, then chunks that fit the image
// up to IEND, pixel data among them. The pixel data themselves are not
// inflated.
std::string pngFault(const std::vector<uint8_t>& png) {
    if (png.size() < 8 + 25 || bigEndian32(png, 8) != 13 || std::memcmp(&png[12], "IHDR", 4) != 0)
        return "its PNG data do not start with a header chunk (IHDR)";
    if (chunkCrc(&png[12], 17) != bigEndian32(png, 29))
        return "its PNG header chunk is damaged (its CRC does not match)";
    const uint32_t width = bigEndian32(png, 16), height = bigEndian32(png, 20);
    if (width == 0 || height == 0 || width > kLargestIcon || height > kLargestIcon)
        return "its PNG image is " + sizeRule(width, height);
    const uint8_t depth = png[24], colour = png[25];
    const bool layout =
        (colour == 0 && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)) ||
        (colour == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) ||
        ((colour == 2 || colour == 4 || colour == 6) && (depth == 8 || depth == 16));
    if (!layout || png[26] != 0 || png[27] != 0 || png[28] > 1)
        return "its PNG header names no layout PNG has (colour type " + std::to_string(colour) +
               ", " + std::to_string(depth) + " bits)";
    bool pixels = false;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = bigEndian32(png, at);
        if (length > png.size() - at - 12) break;
        const char* type = reinterpret_cast<const char*>(&png[at + 4]);
        if (std::memcmp(type, "IDAT", 4) == 0) pixels = true;
        if (std::memcmp(type, "IEND", 4) == 0)
            return pixels ? "" : "its PNG data hold no pixels (no IDAT chunk)";
        at += 12 + size_t{length};
    }
    return "its PNG data are cut short (no IEND chunk within the image)";
}

// Why a bitmap cannot be shown as an icon, or "": its size, one plane, a
// pixel format icons use, and room for the colours and the mask below
// them (an icon's bitmap is twice the image's height).
std::string bitmapFault(const std::vector<uint8_t>& bmp) {
    const uint32_t header = get32(bmp, 0);
    if (bmp.size() < header) return "its bitmap header is cut short";
    const int32_t width = static_cast<int32_t>(get32(bmp, 4));
    const int32_t height = static_cast<int32_t>(get32(bmp, 8));
    const uint16_t planes = get16(bmp, 12), bits = get16(bmp, 14);
    const uint32_t compression = get32(bmp, 16), used = get32(bmp, 32);
    if (width < 1 || height < 2 || static_cast<uint32_t>(width) > kLargestIcon ||
        static_cast<uint32_t>(height) > 2 * kLargestIcon)
        return "its bitmap is " + std::to_string(width) + " pixels wide and " +
               std::to_string(height) +
               " high (colours and mask); an icon image is 1 to 256 pixels each way";
    if (planes != 1) return "its bitmap has " + std::to_string(planes) + " planes instead of 1";
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return "its bitmap has " + std::to_string(bits) +
               " bits a pixel; icons have 1, 4, 8, 16, 24 or 32";
    const bool masks = compression == 3 && (bits == 16 || bits == 32);
    if (compression != 0 && !masks)
        return "its bitmap is compressed (method " + std::to_string(compression) +
               "), which an icon's is not";
    if (bits <= 8 && used > (1u << bits))
        return "its bitmap lists " + std::to_string(used) + " colours for " + std::to_string(bits) +
               " bits a pixel";
    const uint64_t rows = static_cast<uint64_t>(height) / 2;
    const uint64_t colours = bits <= 8 && used == 0 ? (1u << bits) : used;
    const uint64_t need = header + (masks && header == 40 ? 12 : 0) + 4 * colours +
                          rows * ((static_cast<uint64_t>(width) * bits + 31) / 32 * 4) +
                          rows * ((static_cast<uint64_t>(width) + 31) / 32 * 4);
    if (bmp.size() < need)
        return "its bitmap holds " + std::to_string(bmp.size()) + " bytes; a " +
               std::to_string(width) + "x" + std::to_string(rows) + " image of " +
               std::to_string(bits) + " bits a pixel with its mask needs " + std::to_string(need);
    return "";
}

}  // namespace

bool bitmapPixels(const std::vector<uint8_t>& bmp, uint32_t& width, uint32_t& height,
                  std::vector<uint8_t>& rgba, std::string& why) {
    if (bmp.size() < 40 || !bitmapFault(bmp).empty()) {
        why = "it is no bitmap an icon can show";
        return false;
    }
    const uint32_t header = get32(bmp, 0), w = get32(bmp, 4), rows = get32(bmp, 8) / 2;
    const uint16_t bits = get16(bmp, 14);
    if (get32(bmp, 16) != 0) {
        why = "its bitmap has colour masks";
        return false;
    }
    if (bits == 16) {
        why = "its bitmap has 16-bit pixels";
        return false;
    }
    const uint32_t used = get32(bmp, 32);
    const size_t colours = bits <= 8 ? (used ? used : 1u << bits) : 0;
    const size_t stride = (size_t{w} * bits + 31) / 32 * 4, maskStride = (size_t{w} + 31) / 32 * 4;
    const size_t pixelsAt = header + 4 * colours, maskAt = pixelsAt + rows * stride;
    bool alpha = false;
    for (size_t y = 0; bits == 32 && y < rows && !alpha; ++y)
        for (size_t x = 0; x < w && !alpha; ++x) alpha = bmp[pixelsAt + y * stride + 4 * x + 3];
    rgba.assign(4 * size_t{w} * rows, 0);
    for (size_t y = 0; y < rows; ++y) {
        // Rows are stored from the bottom.
        const size_t row = pixelsAt + (rows - 1 - y) * stride;
        const size_t maskRow = maskAt + (rows - 1 - y) * maskStride;
        for (size_t x = 0; x < w; ++x) {
            const uint8_t* p;
            if (bits == 32 || bits == 24) {
                p = &bmp[row + x * (bits / 8)];
            } else {
                const size_t bit = x * bits;
                const size_t index =
                    (bmp[row + bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= colours) {
                    why = "its bitmap names colour " + std::to_string(index) + " of a palette of " +
                          std::to_string(colours);
                    return false;
                }
                p = &bmp[header + 4 * index];
            }
            uint8_t* out = &rgba[4 * (y * w + x)];
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
            out[3] = 255;
            if (alpha) {
                out[3] = p[3];
            } else if ((bmp[maskRow + x / 8] >> (7 - x % 8)) & 1) {
                if (out[0] | out[1] | out[2]) {
                    why = "its mask inverts the screen behind some pixels, which PNG cannot show";
                    return false;
                }
                out[3] = 0;
            }
        }
    }
    width = w;
    height = rows;
    return true;
}

bool readIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>& images,
                  std::string& error) {
    images.clear();
    if (file.size() < 6 || get16(file, 0) != 0 || get16(file, 2) != 1) {
        error = "not an icon file";
        return false;
    }
    const size_t count = get16(file, 4);
    if (count == 0) {
        error = "the icon file holds no images";
        return false;
    }
    const size_t directoryEnd = 6 + count * kFileEntrySize;
    if (directoryEnd > file.size()) {
        error = "the icon file is cut short: it lists " + std::to_string(count) +
                " images but ends at byte " + std::to_string(file.size());
        return false;
    }
    for (size_t k = 0; k < count; ++k) {
        const size_t e = 6 + k * kFileEntrySize;
        IconImage image;
        image.width = file[e];
        image.height = file[e + 1];
        image.colors = file[e + 2];
        image.planes = get16(file, e + 4);
        image.bitCount = get16(file, e + 6);
        const size_t size = get32(file, e + 8), offset = get32(file, e + 12);
        const std::string which =
            "image " + std::to_string(k + 1) + " (" + sizeText(image) + ") of the icon file";
        if (size == 0 || offset < directoryEnd || offset > file.size() ||
            size > file.size() - offset) {
            error = which + " lies outside it (" + std::to_string(size) + " bytes at offset " +
                    std::to_string(offset) + "; the file has " + std::to_string(file.size()) + ")";
            return false;
        }
        image.bytes.assign(file.begin() + offset, file.begin() + offset + size);
        const bool png = size >= 8 && std::memcmp(image.bytes.data(), kPngSignature, 8) == 0;
        const uint32_t header = size >= 40 ? get32(image.bytes, 0) : 0;
        if (!png && header != 40 && header != 108 && header != 124) {
            error = which + " is neither a bitmap nor a PNG image";
            return false;
        }
        // Windows would show a broken image, or none, for any of these.
        std::string fault = png ? pngFault(image.bytes) : bitmapFault(image.bytes);
        if (image.planes > 1)
            fault = "the icon file gives it " + std::to_string(image.planes) + " planes";
        else if (image.bitCount != 0 && image.bitCount != 1 && image.bitCount != 4 &&
                 image.bitCount != 8 && image.bitCount != 16 && image.bitCount != 24 &&
                 image.bitCount != 32)
            fault = "the icon file gives it " + std::to_string(image.bitCount) + " bits a pixel";
        if (!fault.empty()) {
            error = which + " is no image an icon can show: " + fault;
            return false;
        }
        // Some writers leave these 0; the group tells Windows what each image is.
        if (image.planes == 0) image.planes = 1;
        if (image.bitCount == 0) image.bitCount = png ? 32 : get16(image.bytes, 14);
        images.push_back(image);
    }
    return true;
}

bool replaceIconGroup(PeResources& pe, uint16_t group, const std::vector<IconImage>& images,
                      IconPlacement& placement, std::string& error) {
    placement = IconPlacement();
    if (images.empty()) {
        error = "the icon holds no images";
        return false;
    }
    std::vector<Resource> kept;
    const Resource* old = nullptr;
    std::set<uint16_t> oldIcons, iconsInUse;
    for (const Resource& r : pe.resources)
        if (r.type.is(kResourceGroupIcon)) {
            const std::vector<uint16_t> ids = groupMembers(r.data);
            if (r.name.is(group))
                old = &r, oldIcons.insert(ids.begin(), ids.end());
            else
                iconsInUse.insert(ids.begin(), ids.end());
        }
    if (!old) {
        error = "the stub has no icon group " + std::to_string(group);
        return false;
    }
    const uint16_t language = old->language;
    const uint32_t codePage = old->codePage;
    std::set<uint16_t> idsTaken;
    for (const Resource& r : pe.resources) {
        const bool oldIcon = r.type.is(kResourceIcon) && r.name.name.empty() &&
                             oldIcons.count(r.name.id) && !iconsInUse.count(r.name.id);
        if (oldIcon || (r.type.is(kResourceGroupIcon) && r.name.is(group))) continue;
        kept.push_back(r);
        if (r.type.is(kResourceIcon) && r.name.name.empty()) idsTaken.insert(r.name.id);
    }
    std::vector<uint16_t> ids;
    for (uint32_t id = 1; ids.size() < images.size() && id <= 0xFFFF; ++id)
        if (!idsTaken.count(static_cast<uint16_t>(id))) ids.push_back(static_cast<uint16_t>(id));

    // How each image is stored, and the PNG files made from bitmaps (made
    // only when the images do not all fit as they are).
    enum Form { kOut, kOwn, kPng };
    std::vector<Form> form(images.size(), kOut);
    std::vector<std::vector<uint8_t>> png(images.size());
    std::vector<std::string> noPng(images.size());
    auto bytesOf = [&](size_t i) -> const std::vector<uint8_t>& {
        return form[i] == kPng ? png[i] : images[i].bytes;
    };

    // The resources with the images stored (in the file's order), or with
    // their entries only when `empty`.
    auto with = [&](bool empty) {
        std::vector<Resource> list = kept;
        std::vector<size_t> order, sizes;
        for (size_t i = 0; i < images.size(); ++i)
            if (form[i] != kOut) order.push_back(i), sizes.push_back(bytesOf(i).size());
        Resource g;
        g.type.id = kResourceGroupIcon;
        g.name.id = group;
        g.language = language;
        g.codePage = codePage;
        g.data = groupData(images, order, sizes, ids);
        list.push_back(g);
        for (size_t k = 0; k < order.size(); ++k) {
            Resource icon = g;
            icon.type.id = kResourceIcon;
            icon.name.id = ids[k];
            icon.data = empty ? std::vector<uint8_t>() : bytesOf(order[k]);
            list.push_back(icon);
        }
        return list;
    };

    // The order images are placed in: 16, 32 and 48 pixels first, the sizes
    // Windows shows at 96 DPI (title bar and lists, Alt+Tab, desktop and
    // Medium icons); then the others, the smallest first, for other DPIs
    // and views. So a 48 px image goes in before a 40 px one, used at 120
    // DPI only, and Windows scales the nearest size where one is missing.
    auto smaller = [&](size_t a, size_t b) {
        if (images[a].pixels() != images[b].pixels())
            return images[a].pixels() < images[b].pixels();
        return images[a].bytes.size() < images[b].bytes.size();
    };
    auto common = [&](size_t i) {
        const unsigned px = images[i].pixels();
        return (px == 16 || px == 32 || px == 48) && images[i].height == images[i].width;
    };
    std::vector<size_t> bySize(images.size());
    for (size_t i = 0; i < images.size(); ++i) bySize[i] = i;
    std::stable_sort(bySize.begin(), bySize.end(), [&](size_t a, size_t b) {
        if (common(a) != common(b)) return common(a);
        return smaller(a, b);
    });
    const size_t smallest = *std::min_element(bySize.begin(), bySize.end(), smaller);
    bool small = false;
    for (size_t i : bySize) small = small || images[i].pixels() <= 32;
    auto required = [&](size_t i) { return small ? images[i].pixels() <= 32 : i == smallest; };

    // The images that must fit, then each larger one where it fits, each in
    // its smaller form when `convert`. False when those that must fit do not.
    size_t size = 0;
    auto place = [&](bool convert) {
        for (size_t i : bySize) {
            const bool smaller =
                convert && !png[i].empty() && png[i].size() < images[i].bytes.size();
            form[i] = required(i) ? (smaller ? kPng : kOwn) : kOut;
        }
        size = pe.sectionSize(with(false));
        if (size > pe.room()) return false;
        for (size_t i : bySize) {
            if (required(i)) continue;
            const bool smaller =
                convert && !png[i].empty() && png[i].size() < images[i].bytes.size();
            form[i] = smaller ? kPng : kOwn;
            // Each image adds at least its own bytes: most misfits need no trial.
            const size_t withImage =
                size + bytesOf(i).size() > pe.room() ? pe.room() + 1 : pe.sectionSize(with(false));
            if (withImage <= pe.room())
                size = withImage;
            else
                form[i] = kOut;
        }
        return true;
    };
    auto anyLeftOut = [&] { return std::find(form.begin(), form.end(), kOut) != form.end(); };
    bool placed = place(false);
    if (!placed || anyLeftOut()) {
        for (size_t i = 0; i < images.size(); ++i) {
            uint32_t width = 0, height = 0;
            std::vector<uint8_t> rgba;
            if (images[i].bytes.size() >= 8 &&
                std::memcmp(images[i].bytes.data(), kPngSignature, 8) == 0)
                noPng[i] = "a PNG image already";
            else if (bitmapPixels(images[i].bytes, width, height, rgba, noPng[i]))
                png[i] = pngFile(width, height, rgba);
        }
        placed = place(true);
        // Room left over goes to bitmaps again, in the same order.
        for (size_t i : bySize) {
            if (!placed || form[i] != kPng) continue;
            form[i] = kOwn;
            const size_t withBitmap = pe.sectionSize(with(false));
            if (withBitmap <= pe.room())
                size = withBitmap;
            else
                form[i] = kPng;
        }
    }
    if (!placed) {
        const size_t frame = pe.sectionSize(with(true));
        const size_t room = frame < pe.room() ? pe.room() - frame : 0;
        error = (small ? std::string("its images of 32 pixels and less need ")
                       : "its smallest image (" + sizeText(images[smallest]) + ") needs ") +
                std::to_string(size - frame) + " bytes; the stub has room for " +
                std::to_string(room);
        return false;
    }
    for (size_t i : bySize) {
        if (form[i] == kPng) placement.asPng.emplace_back(i, png[i].size());
        if (form[i] != kOut) continue;
        placement.leftOut.push_back({i, png[i].size(), noPng[i]});
    }
    placement.roomLeft = pe.room() - size;
    pe.resources = with(false);
    return true;
}

}  // namespace qorn::encode
