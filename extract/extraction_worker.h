// The extraction worker: walks the archive behind the settings block and
// writes every member under the current directory.
#pragma once

#include "base/failure.h"
#include "base/wide_string.h"
#include "payload/archive_entry.h"
#include "payload/binary_file.h"
#include "payload/sfx_settings.h"

namespace qorn {

// What a run works on. The Windows shell's ExtractorWindow is one; the
// native tool and the tests make their own.
struct ExtractionJob {
    BinaryFile* payloadFile = nullptr;  // at the first member header
    SfxSettings settings;
    WideString destinationFolder;  // prefix of the paths given to the shell
    WideString currentFile;        // the output file being written, if any
    bool failed = false;           // a member failed; no shortcuts, nothing opened
    // What `failed` means to a run started with switches: its exit status.
    int failureStatus = kExitSwitchDamaged;
    RunReporter* reporter = nullptr;
};

// Thread procedure; its argument is the ExtractionJob. Ends with
// reporter->runEnded(aborted).
void extractionWorker(void* job);

// One member; true to go on with the next.
bool extractEntry(ExtractionJob& job, ArchiveEntry& entry);

// Starts extractionWorker on a thread of its own.
bool startExtraction(ExtractionJob& job);

}  // namespace qorn
