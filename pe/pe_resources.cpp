#include "pe/pe_resources.h"

#include <algorithm>

#include "encode/le_bytes.h"
namespace qorn::encode {

namespace {

size_t alignUp(size_t v, size_t a) {
    return (v + a - 1) / a * a;
}

constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kDirectorySize = 16;
constexpr size_t kEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr size_t kDataAlignment = 8;

// Windows looks names up in upper case; the table must be sorted that way.
char16_t upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

// Named entries first, in name order, then numbers in ascending order.
bool before(const ResourceId& a, const ResourceId& b) {
    if (a.name.empty() != b.name.empty()) return !a.name.empty();
    if (a.name.empty()) return a.id < b.id;
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                        [](char16_t x, char16_t y) { return upper(x) < upper(y); });
}

bool resourceBefore(const Resource& a, const Resource& b) {
    if (!(a.type == b.type)) return before(a.type, b.type);
    if (!(a.name == b.name)) return before(a.name, b.name);
    return a.language < b.language;
}

}  // namespace

bool PeResources::load(const std::vector<uint8_t>& image, size_t limit, std::string& error) {
    resources.clear();
    limit_ = limit;
    error = "not a Windows executable";
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
    const size_t pe = get32(image, 0x3C);
    if (pe > image.size() || image.size() - pe < 24 + 96 || get32(image, pe) != 0x4550)
        return false;
    const size_t sections = get16(image, pe + 6);
    const size_t optionalSize = get16(image, pe + 20);
    optionalHeader_ = pe + 24;
    const uint16_t magic = get16(image, optionalHeader_);
    if (magic != 0x10B && magic != 0x20B) return false;
    const size_t directories = optionalHeader_ + (magic == 0x10B ? 96 : 112);
    const size_t sectionTable = optionalHeader_ + optionalSize;
    if (directories + 5 * 8 > sectionTable || sectionTable > image.size() ||
        (image.size() - sectionTable) / 40 < sections || get32(image, directories - 4) < 5)
        return false;
    fileAlignment_ = get32(image, optionalHeader_ + 36);
    sectionAlignment_ = get32(image, optionalHeader_ + 32);
    checksumOffset_ = optionalHeader_ + 64;
    auto powerOfTwo = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0 && v <= 0x10000; };
    if (!powerOfTwo(fileAlignment_) || !powerOfTwo(sectionAlignment_)) return false;

    if (get32(image, directories + 4 * 8) != 0) {
        error = "it is signed; signing comes after make, never before";
        return false;
    }
    directoryEntry_ = directories + 2 * 8;
    virtualAddress_ = get32(image, directoryEntry_);
    error = "it has no resources";
    if (virtualAddress_ == 0) return false;
    // The section that starts with the resource directory must be the last
    // one both in the file and in memory, clear of all others: it is
    // rewritten whole and may grow or shrink.
    error = "its resources are not in a section of their own at the end of the file";
    sectionHeader_ = 0;
    for (size_t i = 0; i < sections; ++i)
        if (get32(image, sectionTable + i * 40 + 12) == virtualAddress_) {
            if (sectionHeader_ != 0) return false;
            sectionHeader_ = sectionTable + i * 40;
        }
    if (sectionHeader_ == 0) return false;
    rawStart_ = get32(image, sectionHeader_ + 20);
    rawSize_ = get32(image, sectionHeader_ + 16);
    const size_t fileEnd = rawStart_ + rawSize_;
    if (rawSize_ == 0 || rawStart_ < sectionTable + sections * 40 || fileEnd > limit ||
        limit > image.size())
        return false;
    for (size_t i = 0; i < sections; ++i) {
        const size_t s = sectionTable + i * 40;
        if (s == sectionHeader_) continue;
        const size_t raw = get32(image, s + 16), virtualSize = get32(image, s + 8);
        if ((raw != 0 && get32(image, s + 20) + raw > rawStart_) ||
            get32(image, s + 12) + std::max(raw, virtualSize) > virtualAddress_)
            return false;
    }
    for (size_t i = fileEnd; i < limit; ++i)
        if (image[i] != 0) {
            error = "data follows its resources";
            return false;
        }
    Resource path;
    if (!readDirectory(image, 0, 0, path, error)) return false;
    error.clear();
    return true;
}

bool PeResources::readDirectory(const std::vector<uint8_t>& image, uint32_t offset, int depth,
                                Resource& path, std::string& error) {
    error = "its resource directory is damaged";
    if (offset > rawSize_ || rawSize_ - offset < kDirectorySize) return false;
    const size_t at = rawStart_ + offset;
    const size_t count = size_t{get16(image, at + 12)} + get16(image, at + 14);
    if ((rawSize_ - offset - kDirectorySize) / kEntrySize < count) return false;
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = at + kDirectorySize + i * kEntrySize;
        const uint32_t name = get32(image, entry);
        const uint32_t target = get32(image, entry + 4);
        ResourceId id;
        if (name & kHighBit) {
            const size_t n = name & ~kHighBit;
            if (n + 2 > rawSize_) return false;
            const size_t length = get16(image, rawStart_ + n);
            if (length == 0 || (rawSize_ - n - 2) / 2 < length) return false;
            for (size_t k = 0; k < length; ++k)
                id.name += static_cast<char16_t>(get16(image, rawStart_ + n + 2 + 2 * k));
        } else {
            id.id = static_cast<uint16_t>(name);
        }
        // Type, name and language: three levels, then the data.
        const bool subdirectory = (target & kHighBit) != 0;
        if (subdirectory != (depth < 2)) return false;
        if (depth == 0) path.type = id;
        if (depth == 1) path.name = id;
        if (subdirectory) {
            if (!readDirectory(image, target & ~kHighBit, depth + 1, path, error)) return false;
            continue;
        }
        if (!id.name.empty() || target > rawSize_ || rawSize_ - target < kDataEntrySize)
            return false;
        const uint32_t rva = get32(image, rawStart_ + target);
        const uint32_t size = get32(image, rawStart_ + target + 4);
        if (rva < virtualAddress_ || rva - virtualAddress_ > rawSize_ ||
            rawSize_ - (rva - virtualAddress_) < size)
            return false;
        path.language = id.id;
        path.codePage = get32(image, rawStart_ + target + 8);
        const size_t from = rawStart_ + (rva - virtualAddress_);
        path.data.assign(image.begin() + from, image.begin() + from + size);
        // Entries may share a directory; more resources than the section
        // has bytes for data entries can only come from such a loop.
        if (resources.size() >= rawSize_ / kDataEntrySize) return false;
        resources.push_back(path);
    }
    return true;
}

std::vector<uint8_t> PeResources::build(const std::vector<Resource>& list) const {
    std::vector<Resource> sorted = list;
    std::stable_sort(sorted.begin(), sorted.end(), resourceBefore);
    const size_t n = sorted.size();
    // Runs of the sorted list with one type, and within them one name.
    struct Run {
        size_t first, count;
    };
    struct TypeRun {
        size_t first;
        std::vector<Run> names;
    };
    std::vector<TypeRun> types;
    for (size_t i = 0; i < n; ++i) {
        if (i == 0 || !(sorted[i].type == sorted[i - 1].type)) types.push_back({i, {}});
        std::vector<Run>& names = types.back().names;
        if (names.empty() || !(sorted[i].name == sorted[i - 1].name)) names.push_back({i, 0});
        ++names.back().count;
    }

    // Where everything goes: the directories level by level, the names, the
    // data entries, then the data.
    size_t offset = kDirectorySize + types.size() * kEntrySize;
    std::vector<size_t> typeDirectory, nameDirectory;
    for (const TypeRun& t : types) {
        typeDirectory.push_back(offset);
        offset += kDirectorySize + t.names.size() * kEntrySize;
    }
    for (const TypeRun& t : types)
        for (const Run& r : t.names) {
            nameDirectory.push_back(offset);
            offset += kDirectorySize + r.count * kEntrySize;
        }
    size_t strings = offset;
    for (const TypeRun& t : types) {
        offset += sorted[t.first].type.name.empty() ? 0 : 2 + 2 * sorted[t.first].type.name.size();
        for (const Run& r : t.names)
            offset +=
                sorted[r.first].name.name.empty() ? 0 : 2 + 2 * sorted[r.first].name.name.size();
    }
    const size_t dataEntries = alignUp(offset, 4);
    size_t end = dataEntries + n * kDataEntrySize;
    std::vector<size_t> dataAt(n);
    for (size_t i = 0; i < n; ++i) {
        dataAt[i] = alignUp(end, kDataAlignment);
        end = dataAt[i] + sorted[i].data.size();
    }

    std::vector<uint8_t> out(end, 0);
    auto putId = [&](size_t entry, const ResourceId& id) {
        if (id.name.empty()) {
            set32(out, entry, id.id);
            return;
        }
        set32(out, entry, static_cast<uint32_t>(strings) | kHighBit);
        set16(out, strings, static_cast<uint32_t>(id.name.size()));
        for (size_t k = 0; k < id.name.size(); ++k) set16(out, strings + 2 + 2 * k, id.name[k]);
        strings += 2 + 2 * id.name.size();
    };
    auto putDirectory = [&](size_t at, size_t named, size_t all) {
        set16(out, at + 12, static_cast<uint32_t>(named));
        set16(out, at + 14, static_cast<uint32_t>(all - named));
    };
    size_t namedTypes = 0;
    for (const TypeRun& t : types) namedTypes += !sorted[t.first].type.name.empty();
    putDirectory(0, namedTypes, types.size());
    size_t nameIndex = 0;
    for (size_t ti = 0; ti < types.size(); ++ti) {
        const TypeRun& t = types[ti];
        const size_t typeEntry = kDirectorySize + ti * kEntrySize;
        putId(typeEntry, sorted[t.first].type);
        set32(out, typeEntry + 4, static_cast<uint32_t>(typeDirectory[ti]) | kHighBit);
        size_t namedNames = 0;
        for (const Run& r : t.names) namedNames += !sorted[r.first].name.name.empty();
        putDirectory(typeDirectory[ti], namedNames, t.names.size());
        for (size_t ni = 0; ni < t.names.size(); ++ni, ++nameIndex) {
            const Run& r = t.names[ni];
            const size_t nameEntry = typeDirectory[ti] + kDirectorySize + ni * kEntrySize;
            putId(nameEntry, sorted[r.first].name);
            set32(out, nameEntry + 4, static_cast<uint32_t>(nameDirectory[nameIndex]) | kHighBit);
            putDirectory(nameDirectory[nameIndex], 0, r.count);
            for (size_t li = 0; li < r.count; ++li) {
                const size_t i = r.first + li;
                const size_t entry = nameDirectory[nameIndex] + kDirectorySize + li * kEntrySize;
                const size_t data = dataEntries + i * kDataEntrySize;
                set32(out, entry, sorted[i].language);
                set32(out, entry + 4, static_cast<uint32_t>(data));
                set32(out, data, static_cast<uint32_t>(virtualAddress_ + dataAt[i]));
                set32(out, data + 4, static_cast<uint32_t>(sorted[i].data.size()));
                set32(out, data + 8, sorted[i].codePage);
                std::copy(sorted[i].data.begin(), sorted[i].data.end(), out.begin() + dataAt[i]);
            }
        }
    }
    return out;
}

size_t PeResources::sectionSize(const std::vector<Resource>& list) const {
    return build(list).size();
}

bool PeResources::store(std::vector<uint8_t>& image, std::string& error) const {
    const std::vector<uint8_t> section = build(resources);
    if (alignUp(section.size(), fileAlignment_) > room()) {
        error = "the resources need " + std::to_string(section.size()) +
                " bytes; there is room for " + std::to_string(room());
        return false;
    }
    const size_t raw = alignUp(section.size(), fileAlignment_);
    std::fill(image.begin() + rawStart_, image.begin() + limit_, 0);
    std::copy(section.begin(), section.end(), image.begin() + rawStart_);
    set32(image, sectionHeader_ + 8, static_cast<uint32_t>(section.size()));
    set32(image, sectionHeader_ + 16, static_cast<uint32_t>(raw));
    set32(image, directoryEntry_ + 4, static_cast<uint32_t>(section.size()));
    set32(image, optionalHeader_ + 56,
          static_cast<uint32_t>(alignUp(virtualAddress_ + section.size(), sectionAlignment_)));
    // Initialized data counts the section's bytes in the file.
    const uint32_t initialized = get32(image, optionalHeader_ + 8);
    if (initialized >= rawSize_)
        set32(image, optionalHeader_ + 8, static_cast<uint32_t>(initialized - rawSize_ + raw));
    return true;
}

void PeChecksum::add(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i, ++length_) {
        const uint8_t b = length_ - field_ < 4 ? 0 : bytes[i];
        if ((length_ & 1) == 0) {
            low_ = b;
            continue;
        }
        sum_ += low_ | (b << 8);
        sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    }
}

uint32_t PeChecksum::finish() const {
    uint32_t sum = sum_;
    if (length_ & 1) {
        sum += low_;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint32_t>(((sum & 0xFFFF) + (sum >> 16)) + length_);
}

}  // namespace qorn::encode
