// What make reads besides the archive: icon files, executables' resource
// sections and version resources, from arbitrary bytes. Byte 0 picks which
// (0: icon file, 1: executable, 2: version resource); the rest is the input.
#include <string>
#include <vector>

#include "pe/icon_file.h"
#include "pe/pe_resources.h"
#include "pe/version_info.h"
#include "tests/fuzz/fuzz_support.h"

using namespace qorn;

namespace {

bool sameResources(const std::vector<encode::Resource>& a, const std::vector<encode::Resource>& b) {
    if (a.size() != b.size()) return false;
    // Written back sorted; each one must still be there exactly once.
    for (const encode::Resource& r : a) {
        size_t found = 0;
        for (const encode::Resource& s : b)
            found += r.type == s.type && r.name == s.name && r.language == s.language &&
                     r.codePage == s.codePage && r.data == s.data;
        if (found != 1) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::vector<uint8_t> input(data + 1, data + size);
    std::string error;
    if (data[0] % 3 == 0) {
        std::vector<encode::IconImage> images;
        if (!encode::readIconFile(input, images, error)) {
            QORN_FUZZ_CHECK(!error.empty());
            return 0;
        }
        QORN_FUZZ_CHECK(!images.empty());
        size_t total = 0;
        for (const encode::IconImage& image : images) {
            QORN_FUZZ_CHECK(!image.bytes.empty() && image.bytes.size() <= input.size());
            QORN_FUZZ_CHECK(image.planes != 0 && image.pixels() >= 1 && image.pixels() <= 256);
            total += image.bytes.size();
            // A bitmap the file accepted gives its pixels, within what its
            // header names, or a reason; never a read past its bytes.
            if (image.bytes[0] == 0x89) continue;
            uint32_t width = 0, height = 0;
            std::vector<uint8_t> rgba;
            std::string why;
            if (encode::bitmapPixels(image.bytes, width, height, rgba, why))
                QORN_FUZZ_CHECK(width >= 1 && width <= 256 && height >= 1 && height <= 256 &&
                                rgba.size() == size_t{4} * width * height);
            else
                QORN_FUZZ_CHECK(!why.empty());
        }
        (void)total;
    } else if (data[0] % 3 == 1) {
        // Rewriting the resources as read and reading them again changes
        // nothing, and the section stays below the limit.
        encode::PeResources pe;
        if (!pe.load(input, input.size(), error)) return 0;
        std::vector<uint8_t> image = input;
        if (!pe.store(image, error)) return 0;
        QORN_FUZZ_CHECK(image.size() == input.size());
        encode::PeResources again;
        QORN_FUZZ_CHECK(again.load(image, image.size(), error));
        QORN_FUZZ_CHECK(sameResources(pe.resources, again.resources));
    } else {
        // An edit that succeeds gives a resource the same edit accepts again
        // and leaves unchanged.
        encode::VersionEdit edit;
        edit.texts.emplace_back(u"ProductName", u"製品");
        edit.texts.emplace_back(u"CompanyName", u"");
        encode::parseVersionNumbers("1.2.3.4", edit);
        std::vector<uint8_t> once = input;
        if (!encode::editVersionInfo(once, edit, error)) return 0;
        std::vector<uint8_t> twice = once;
        QORN_FUZZ_CHECK(encode::editVersionInfo(twice, edit, error));
        QORN_FUZZ_CHECK(twice == once);
    }
    return 0;
}
