// File-system steps of extraction: cleaning a member path, making folders
// and output files, restoring a file's time stamp.
#pragma once

#include "payload/archive_entry.h"
#include "payload/binary_file.h"
#include "platform/wide_string.h"

namespace qorn {

// Rewrites a member path in place so that it stays inside the destination
// folder: relative, no "..", no drive or device prefix, no character
// Windows refuses in a name (each becomes '_'), no part of dots and spaces
// only but ".", no device name (which gets a '_' in front, the one way the
// path can grow). The components are joined with '/'.
void sanitizeEntryPath(WideString& path);

// True when the folder exists afterwards (parents are made as needed).
bool createFolderTree(const char16_t* path);

// The member's output file, created anew with its folder; null on failure
// with the system's last error set.
BinaryFile* createOutputFile(const char16_t* path);

// Access and modification time from the entry; failures are ignored.
void applyEntryTime(const char16_t* path, const ArchiveEntry& entry);

}  // namespace qorn
