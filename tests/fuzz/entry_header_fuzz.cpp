// Member headers of every level read one after another from arbitrary bytes,
// moving over each member's data the way the extraction worker does.
#include <memory>

#include "payload/archive_entry.h"
#include "tests/fuzz/fuzz_support.h"

using namespace qorn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<BinaryFile> file(fuzz::memoryFile(data, size));
    const int64_t end = static_cast<int64_t>(size);

    // The sum walks without reading names and leaves the file where it was.
    sumOriginalSizes(*file);
    QORN_FUZZ_CHECK(file->position() == 0);

    fuzz::QuietReporter reporter;
    ArchiveEntry entry;
    for (int member = 0; member < 64; ++member) {
        const int64_t start = file->position();
        const int boxes = reporter.boxes;
        const HeaderResult result = readEntryHeader(*file, entry, reporter);
        // Only a Bad result may come with the "unknown header" box.
        QORN_FUZZ_CHECK(reporter.boxes == boxes || result == HeaderResult::Bad);
        if (result != HeaderResult::Member) break;

        const int64_t dataStart = file->position();
        QORN_FUZZ_CHECK(dataStart > start + 21 && dataStart <= end);
        // Every level, extended headers included, fits the header buffer.
        QORN_FUZZ_CHECK(dataStart - start <= HeaderBufferSize);
        QORN_FUZZ_CHECK(entry.path.length() < HeaderBufferSize);
        methodOf(entry.method);
        if (!file->moveTo(dataStart + static_cast<int64_t>(entry.packedSize))) break;
    }
    return 0;
}
