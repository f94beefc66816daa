#include "tools/stub_resources.h"

#include <cstdio>

#include "app/resource_ids.h"
#include "pe/icon_file.h"
#include "pe/pe_resources.h"
#include "pe/text_sets.h"
#include "pe/version_info.h"
#include "platform/platform.h"

namespace qorn::tool {

namespace {

struct VersionOption {
    const char* option;
    const char16_t* key;
};
const VersionOption kVersionOptions[] = {{"product-name", u"ProductName"},
                                         {"company", u"CompanyName"},
                                         {"description", u"FileDescription"},
                                         {"file-version", u"FileVersion"}};
constexpr size_t kMaxVersionText = 255;

bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    platform::FileHandle f = platform::openForReading(wide(path).c_str());
    if (f == platform::kNoFile) return false;
    uint8_t chunk[1 << 16];
    int64_t n;
    while ((n = platform::readFile(f, chunk, sizeof chunk)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    platform::closeFile(f);
    return n == 0;
}

std::string withCommas(size_t n) {
    std::string s = std::to_string(n);
    for (size_t at = s.size(); at > 3; at -= 3) s.insert(at - 3, ",");
    return s;
}

std::string byteCount(size_t n) {
    return withCommas(n) + (n == 1 ? " byte" : " bytes");
}

int versionEdit(const Arguments& args, encode::VersionEdit& edit) {
    for (const VersionOption& o : kVersionOptions) {
        if (!args.has(o.option)) continue;
        const std::string value = args.value(o.option);
        const WideString text = wide(value);
        if (text.length() == 0 || text.length() > kMaxVersionText) {
            std::fprintf(stderr, "qornsfx: --%s takes a text of 1 to %zu UTF-16 code units\n",
                         o.option, kMaxVersionText);
            return kExitUsage;
        }
        const std::u16string t(text.c_str(), text.length());
        edit.texts.emplace_back(o.key, t);
        if (std::string(o.option) != "file-version") continue;
        if (!encode::parseVersionNumbers(value, edit)) {
            std::fprintf(stderr,
                         "qornsfx: --file-version takes one to four numbers from 0 to 65535 "
                         "separated by dots, like 1.2.0.5\n");
            return kExitUsage;
        }
        // The product is what the file installs: its version goes with it.
        edit.texts.emplace_back(u"ProductVersion", t);
    }
    return 0;
}

constexpr uint16_t kResourceManifest = 24;
const char* const kExecutionLevels[] = {"asInvoker", "highestAvailable", "requireAdministrator"};

// The manifest's requestedExecutionLevel set to level; false when the
// manifest has no such element to change.
bool setExecutionLevel(std::vector<uint8_t>& manifest, const std::string& level) {
    std::string text(manifest.begin(), manifest.end());
    const size_t element = text.find("<requestedExecutionLevel");
    const size_t end = element == std::string::npos ? element : text.find('>', element);
    if (end == std::string::npos) return false;
    const size_t at = text.find(" level=\"", element);
    if (at == std::string::npos || at > end) return false;
    const size_t valueStart = at + 8;
    const size_t valueEnd = text.find('"', valueStart);
    if (valueEnd == std::string::npos || valueEnd > end) return false;
    text.replace(valueStart, valueEnd - valueStart, level);
    manifest.assign(text.begin(), text.end());
    return true;
}

}  // namespace

int editStubResources(const Arguments& args, const RunCommand* run, std::vector<uint8_t>& stub,
                      bool& edited) {
    edited = false;
    encode::VersionEdit edit;
    if (const int status = versionEdit(args, edit)) return status;
    const bool icon = args.has("icon");
    const bool level = args.has("execution-level");
    if (level) {
        bool known = false;
        for (const char* name : kExecutionLevels)
            known = known || args.value("execution-level") == name;
        if (!known) {
            std::fprintf(stderr,
                         "qornsfx: --execution-level takes asInvoker, highestAvailable or "
                         "requireAdministrator, not '%s'\n",
                         args.value("execution-level").c_str());
            return kExitUsage;
        }
    }
    // Japanese is the stub's own: choosing it changes nothing.
    const bool language = args.has("language") && args.value("language") != "ja";
    if (args.has("language")) {
        bool known = false;
        std::string names;
        for (const std::string& name : encode::languageNames()) {
            known = known || args.value("language") == name;
            names += (names.empty() ? "" : ", ") + name;
        }
        if (!known) {
            std::fprintf(stderr, "qornsfx: --language takes one of %s, not '%s'\n", names.c_str(),
                         args.value("language").c_str());
            return kExitUsage;
        }
    }
    if (!icon && edit.texts.empty() && !level && !language && !run) return 0;

    encode::PeResources pe;
    std::string error;
    if (!pe.load(stub, static_cast<size_t>(PayloadOffset), error)) {
        std::fprintf(stderr, "qornsfx: the stub's resources cannot be edited: %s\n", error.c_str());
        return 1;
    }
    if (!edit.texts.empty()) {
        bool found = false;
        for (encode::Resource& r : pe.resources) {
            if (!r.type.is(encode::kResourceVersion)) continue;
            found = true;
            if (!encode::editVersionInfo(r.data, edit, error)) {
                std::fprintf(stderr, "qornsfx: the stub's %s\n", error.c_str());
                return 1;
            }
        }
        if (!found) {
            std::fprintf(stderr, "qornsfx: the stub has no version resource\n");
            return 1;
        }
        const size_t size = pe.sectionSize(pe.resources);
        if (size > pe.room()) {
            std::fprintf(stderr,
                         "qornsfx: the version texts make the stub's resources %s bytes; it has "
                         "room for %s\n",
                         withCommas(size).c_str(), withCommas(pe.room()).c_str());
            return 1;
        }
    }
    if (language && !encode::applyLanguage(pe, args.value("language"), error)) {
        std::fprintf(stderr, "qornsfx: --language: %s\n", error.c_str());
        return 1;
    }
    if (run) addRunTexts(pe, *run);
    if (level) {
        bool found = false;
        for (encode::Resource& r : pe.resources)
            if (r.type.is(kResourceManifest))
                found = setExecutionLevel(r.data, args.value("execution-level")) || found;
        if (!found) {
            std::fprintf(stderr, "qornsfx: the stub's manifest names no execution level\n");
            return 1;
        }
    }
    if (icon) {
        const std::string path = args.value("icon");
        std::vector<uint8_t> file;
        std::vector<encode::IconImage> images;
        encode::IconPlacement placement;
        if (!readFileBytes(path, file)) {
            std::fprintf(stderr, "qornsfx: cannot read %s: %s\n", path.c_str(),
                         utf8(platform::systemErrorText(platform::lastError())).c_str());
            return 1;
        }
        if (!encode::readIconFile(file, images, error) ||
            !encode::replaceIconGroup(pe, IDI_PROGRAM, images, placement, error)) {
            std::fprintf(stderr, "qornsfx: %s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        auto sizeOf = [&](size_t i) {
            const encode::IconImage& image = images[i];
            return std::to_string(image.pixels()) + "x" +
                   std::to_string(image.height ? image.height : 256u);
        };
        // Lossless, and shown by every Windows since Vista: a note, not a warning.
        for (const auto& [i, bytes] : placement.asPng)
            std::fprintf(stderr,
                         "qornsfx: %s: the %s image is stored as PNG (%s bytes instead of its "
                         "%s-byte bitmap) to fit below the payload offset with the others\n",
                         path.c_str(), sizeOf(i).c_str(), withCommas(bytes).c_str(),
                         withCommas(images[i].bytes.size()).c_str());
        for (const encode::IconPlacement::LeftOut& l : placement.leftOut) {
            const std::string form = l.pngBytes ? withCommas(l.pngBytes) + " as PNG" : l.noPng;
            std::fprintf(stderr,
                         "qornsfx: warning: %s: the %s image (%s bytes%s%s) is left out: %s "
                         "free below the payload offset\n",
                         path.c_str(), sizeOf(l.image).c_str(),
                         withCommas(images[l.image].bytes.size()).c_str(), form.empty() ? "" : "; ",
                         form.c_str(), byteCount(placement.roomLeft).c_str());
        }
    }
    if (!pe.store(stub, error)) {
        std::fprintf(stderr, "qornsfx: %s\n", error.c_str());
        return 1;
    }
    edited = true;
    return 0;
}

void stampChecksum(std::vector<uint8_t>& stub, const std::vector<uint8_t>& settings,
                   const std::vector<uint8_t>& archive) {
    const size_t field =
        (stub[0x3C] | (stub[0x3D] << 8) | (stub[0x3E] << 16) | (size_t{stub[0x3F]} << 24)) + 88;
    encode::PeChecksum sum(field);
    sum.add(stub.data(), stub.size());
    sum.add(settings.data(), settings.size());
    sum.add(archive.data(), archive.size());
    const uint32_t value = sum.finish();
    for (int k = 0; k < 4; ++k) stub[field + k] = static_cast<uint8_t>(value >> (8 * k));
}

}  // namespace qorn::tool
