#include "extract/extraction_worker.h"

#include "platform/platform.h"

namespace qorn {
void extractionWorker(void* job) {
    static_cast<ExtractionJob*>(job)->reporter->runEnded(false);
}
bool extractEntry(ExtractionJob&, ArchiveEntry&) {
    return false;
}
bool startExtraction(ExtractionJob& job) {
    return platform::startThread(extractionWorker, &job);
}
}  // namespace qorn
