// The settings block in front of the archive, read from arbitrary bytes.
#include <memory>

#include "payload/sfx_settings.h"
#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"

using namespace qorn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        platform::setProgramFilesFolder(u"C:\\Program Files");
        return true;
    }();
    (void)ready;
    std::unique_ptr<BinaryFile> file(fuzz::memoryFile(data, size));
    SfxSettings settings;
    if (!readSettings(*file, settings)) return 0;

    const int64_t used = file->position();
    QORN_FUZZ_CHECK(used >= 1 && used <= static_cast<int64_t>(size));
    // Each string is one length byte and at most 255 code units.
    const WideString* strings[] = {&settings.title, &settings.mainFile, &settings.openFile,
                                   &settings.linkName};
    for (const WideString* s : strings) QORN_FUZZ_CHECK(s->length() <= 255);
    QORN_FUZZ_CHECK(!settings.title.isEmpty());
    QORN_FUZZ_CHECK(!settings.destination.isEmpty());
    if (!settings.present) QORN_FUZZ_CHECK(used == 1 && data[0] == 0);
    // A destination resolves to itself once it is absolute.
    const WideString again = resolveDestination(settings.destination, data[used - 1] & 1);
    if (platform::hasDrive(settings.destination.c_str()))
        QORN_FUZZ_CHECK(again == settings.destination.c_str());
    return 0;
}
