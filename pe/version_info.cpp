#include "pe/version_info.h"

#include <algorithm>

#include "encode/le_bytes.h"

namespace qorn::encode {

namespace {

// One block of the resource: a key, a value (text or bytes) and the blocks
// inside it.
struct Block {
    std::u16string key;
    uint16_t type = 1;  // 1: the value is text, 0: bytes
    std::vector<uint8_t> value;
    std::vector<Block> children;
};

constexpr int kMaxDepth = 4;  // root, file info, string table, string
constexpr uint32_t kFixedSignature = 0xFEEF04BD;

size_t align4(size_t v) {
    return (v + 3) & ~size_t{3};
}

// Blocks start on four-byte boundaries counted from the resource's start.
bool parse(const std::vector<uint8_t>& d, size_t at, size_t limit, int depth, Block& block,
           size_t& length) {
    if (depth >= kMaxDepth || at > limit || limit - at < 6) return false;
    length = get16(d, at);
    const size_t valueLength = get16(d, at + 2);
    block.type = get16(d, at + 4);
    if (length < 6 || length > limit - at || block.type > 1) return false;
    const size_t end = at + length;
    size_t p = at + 6;
    for (;;) {
        if (end - p < 2) return false;
        const char16_t c = get16(d, p);
        p += 2;
        if (c == 0) break;
        block.key += c;
    }
    p = align4(p);
    const size_t valueBytes = block.type == 1 ? valueLength * 2 : valueLength;
    if (p > end || end - p < valueBytes) return false;
    block.value.assign(d.begin() + p, d.begin() + p + valueBytes);
    p = align4(p + valueBytes);
    while (p < end) {
        Block child;
        size_t childLength;
        if (!parse(d, p, end, depth + 1, child, childLength)) return false;
        block.children.push_back(child);
        p = align4(p + childLength);
    }
    return true;
}

void write(const Block& block, std::vector<uint8_t>& out) {
    while (out.size() % 4) out.push_back(0);
    const size_t start = out.size();
    out.resize(start + 6, 0);
    for (char16_t c : block.key) put16(out, c);
    put16(out, 0);
    while (out.size() % 4) out.push_back(0);
    out.insert(out.end(), block.value.begin(), block.value.end());
    for (const Block& child : block.children) write(child, out);
    set16(out, start, static_cast<uint32_t>(out.size() - start));
    set16(out, start + 2,
          static_cast<uint32_t>(block.type == 1 ? block.value.size() / 2 : block.value.size()));
    set16(out, start + 4, block.type);
}

std::vector<uint8_t> textValue(const std::u16string& text) {
    std::vector<uint8_t> v;
    for (char16_t c : text) put16(v, c);
    put16(v, 0);
    return v;
}

void setText(Block& table, const std::u16string& key, const std::u16string& text) {
    for (Block& s : table.children)
        if (s.key == key) {
            s.type = 1;
            s.value = textValue(text);
            return;
        }
    Block s;
    s.key = key;
    s.value = textValue(text);
    table.children.push_back(s);
}

}  // namespace

bool parseVersionNumbers(const std::string& text, VersionEdit& edit) {
    uint16_t parts[4] = {0, 0, 0, 0};
    size_t count = 0, p = 0;
    while (true) {
        // Any number of digits, leading zeros included: the value alone
        // decides (held above the limit once past it, so it cannot wrap).
        uint32_t value = 0;
        size_t digits = 0;
        while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
            value =
                std::min<uint32_t>(value * 10 + static_cast<uint32_t>(text[p++] - '0'), 0x10000);
            ++digits;
        }
        if (digits == 0 || value > 0xFFFF || count == 4) return false;
        parts[count++] = static_cast<uint16_t>(value);
        if (p == text.size()) break;
        if (text[p++] != '.') return false;
    }
    edit.setNumbers = true;
    for (int i = 0; i < 4; ++i) edit.numbers[i] = parts[i];
    return true;
}

bool editVersionInfo(std::vector<uint8_t>& data, const VersionEdit& edit, std::string& error) {
    Block root;
    size_t length;
    if (!parse(data, 0, data.size(), 0, root, length) || root.key != u"VS_VERSION_INFO" ||
        root.value.size() < 52 || get16(root.value, 0) != (kFixedSignature & 0xFFFF) ||
        get16(root.value, 2) != kFixedSignature >> 16) {
        error = "the version resource is damaged";
        return false;
    }
    if (edit.setNumbers) {
        // The file version, then the product version: most significant
        // 32 bits first, each of them high part first.
        for (size_t at : {8u, 16u}) {
            set16(root.value, at, edit.numbers[1]);
            set16(root.value, at + 2, edit.numbers[0]);
            set16(root.value, at + 4, edit.numbers[3]);
            set16(root.value, at + 6, edit.numbers[2]);
        }
    }
    Block* strings = nullptr;
    for (Block& b : root.children)
        if (b.key == u"StringFileInfo") strings = &b;
    if (!strings) {
        Block b;
        b.key = u"StringFileInfo";
        root.children.insert(root.children.begin(), b);
        strings = &root.children.front();
    }
    if (strings->children.empty()) {
        Block table;
        table.key = u"040904B0";
        strings->children.push_back(table);
    }
    for (Block& table : strings->children)
        for (const auto& text : edit.texts) setText(table, text.first, text.second);
    std::vector<uint8_t> out;
    write(root, out);
    if (out.size() > 0xFFFF) {
        error = "the version texts are too long";
        return false;
    }
    data.swap(out);
    return true;
}

}  // namespace qorn::encode
