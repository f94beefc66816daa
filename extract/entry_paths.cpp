#include "extract/entry_paths.h"

namespace qorn {
void sanitizeEntryPath(WideString&) {}
bool createFolderTree(const char16_t*) {
    return false;
}
BinaryFile* createOutputFile(const char16_t*) {
    return nullptr;
}
void applyEntryTime(const char16_t*, const ArchiveEntry&) {}
}  // namespace qorn
