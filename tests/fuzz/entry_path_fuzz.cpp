// sanitizeEntryPath over arbitrary text: whatever comes in, what comes out
// must stay inside the destination folder.
#include <vector>

#include "extract/entry_paths.h"
#include "tests/fuzz/fuzz_support.h"

using namespace qorn;

namespace {

// A name Windows opens as a device, whatever follows its first dot.
bool isDevice(const char16_t* part, size_t count) {
    size_t base = 0;
    while (base < count && part[base] != u'.') ++base;
    while (base > 0 && part[base - 1] == u' ') --base;
    auto is = [&](const char* name, size_t n) {
        for (size_t k = 0; k < n; ++k)
            if ((part[k] & ~0x20) != name[k]) return false;
        return true;
    };
    if (base == 3) return is("CON", 3) || is("PRN", 3) || is("AUX", 3) || is("NUL", 3);
    return base == 4 && (is("COM", 3) || is("LPT", 3)) && part[3] >= u'1' && part[3] <= u'9';
}

void checkClean(const WideString& path, size_t inputLength) {
    const char16_t* p = path.c_str();
    const size_t length = path.length();
    size_t components = 0;
    size_t start = 0;
    // Nothing left at all is fine: the member then stands for the destination.
    for (size_t i = 0; length > 0 && i <= length; ++i) {
        if (i < length && p[i] != u'/') {
            QORN_FUZZ_CHECK(p[i] != u'\\' && p[i] != 0xFFFF && p[i] >= 0x20);
            for (char16_t bad : u":<>\"|?*") QORN_FUZZ_CHECK(p[i] != bad);
            continue;
        }
        const char16_t* part = p + start;
        const size_t count = i - start;
        // No empty component: no leading '/', no "//", no trailing '/'.
        QORN_FUZZ_CHECK(count > 0);
        ++components;
        bool dotsOnly = true;
        for (size_t k = 0; k < count; ++k) dotsOnly = dotsOnly && part[k] == u'.';
        if (dotsOnly) {
            QORN_FUZZ_CHECK(count == 1);
        } else {
            // Windows would trim these and could meet ".." or a device.
            QORN_FUZZ_CHECK(part[count - 1] != u'.' && part[count - 1] != u' ');
        }
        QORN_FUZZ_CHECK(!isDevice(part, count));
        start = i + 1;
    }
    // The only growth is one '_' per device name.
    QORN_FUZZ_CHECK(length <= inputLength + components);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Odd first byte: one byte per character (0xFF stands for 0xFFFF), so that
    // separators and dots are one mutation away; even: UTF-16LE pairs.
    std::vector<char16_t> text;
    if (data[0] & 1) {
        for (size_t i = 1; i < size; ++i)
            text.push_back(data[i] == 0xFF ? char16_t(0xFFFF) : char16_t(data[i]));
    } else {
        for (size_t i = 1; i + 1 < size; i += 2)
            text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    text.push_back(0);
    WideString path(text.data());
    const size_t inputLength = path.length();

    sanitizeEntryPath(path);
    checkClean(path, inputLength);
    // Cleaning what is already clean changes nothing.
    WideString again(path);
    sanitizeEntryPath(again);
    QORN_FUZZ_CHECK(again == path.c_str());
    return 0;
}
