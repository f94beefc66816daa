#include "encode/icon_file.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "encode/le_bytes.h"
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
                               const std::vector<size_t>& chosen,
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
        put16(g, static_cast<uint32_t>(image.bytes.size()));
        put16(g, static_cast<uint32_t>(image.bytes.size() >> 16));
        put16(g, ids[k]);
    }
    return g;
}

}  // namespace

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
        // Some writers leave these 0; the group tells Windows what each image is.
        if (image.planes == 0) image.planes = 1;
        if (image.bitCount == 0) image.bitCount = png ? 32 : get16(image.bytes, 14);
        images.push_back(image);
    }
    return true;
}

bool replaceIconGroup(PeResources& pe, uint16_t group, const std::vector<IconImage>& images,
                      std::vector<size_t>& leftOut, std::string& error) {
    leftOut.clear();
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

    // The resources with the chosen images (in the file's order), or with
    // their entries only when `empty`.
    auto with = [&](const std::vector<bool>& chosen, bool empty) {
        std::vector<Resource> list = kept;
        std::vector<size_t> order;
        for (size_t i = 0; i < images.size(); ++i)
            if (chosen[i]) order.push_back(i);
        Resource g;
        g.type.id = kResourceGroupIcon;
        g.name.id = group;
        g.language = language;
        g.codePage = codePage;
        g.data = groupData(images, order, ids);
        list.push_back(g);
        for (size_t k = 0; k < order.size(); ++k) {
            Resource icon = g;
            icon.type.id = kResourceIcon;
            icon.name.id = ids[k];
            icon.data = empty ? std::vector<uint8_t>() : images[order[k]].bytes;
            list.push_back(icon);
        }
        return list;
    };

    std::vector<size_t> bySize(images.size());
    for (size_t i = 0; i < images.size(); ++i) bySize[i] = i;
    std::stable_sort(bySize.begin(), bySize.end(), [&](size_t a, size_t b) {
        if (images[a].pixels() != images[b].pixels())
            return images[a].pixels() < images[b].pixels();
        return images[a].bytes.size() < images[b].bytes.size();
    });
    std::vector<bool> chosen(images.size(), false);
    bool small = false;
    for (size_t i : bySize)
        if (images[i].pixels() <= 32) chosen[i] = small = true;
    if (!small) chosen[bySize.front()] = true;
    const size_t frame = pe.sectionSize(with(chosen, true));
    const size_t needed = pe.sectionSize(with(chosen, false));
    if (needed > pe.room()) {
        const size_t room = frame < pe.room() ? pe.room() - frame : 0;
        error = (small ? std::string("its images of 32 pixels and less need ")
                       : "its smallest image (" + sizeText(images[bySize.front()]) + ") needs ") +
                std::to_string(needed - frame) + " bytes; the stub has room for " +
                std::to_string(room);
        return false;
    }
    size_t size = needed;
    for (size_t i : bySize) {
        if (chosen[i]) continue;
        // Each image adds at least its own bytes: most misfits need no trial.
        if (size + images[i].bytes.size() > pe.room()) {
            leftOut.push_back(i);
            continue;
        }
        chosen[i] = true;
        const size_t withImage = pe.sectionSize(with(chosen, false));
        if (withImage <= pe.room()) {
            size = withImage;
        } else {
            chosen[i] = false;
            leftOut.push_back(i);
        }
    }
    pe.resources = with(chosen, false);
    return true;
}

}  // namespace qorn::encode
