// The extraction worker: walks the archive behind the settings block and
// writes every member under the current directory.
#pragma once

#include "base/failure.h"
#include "decode/decode_session.h"
#include "payload/archive_entry.h"
#include "payload/binary_file.h"
#include "payload/sfx_settings.h"
#include "platform/wide_string.h"

namespace qorn {

// How a run decodes a member: decodeMember's arguments and result. The
// stub's runs take decodeMember itself; the native tool may give one that
// takes members decoded ahead on other threads (extract/parallel_decode.h).
using MemberDecoder = MemberResult (*)(DecoderContext& context, RunReporter& reporter,
                                       BinaryFile& input, BinaryFile& output, uint32_t originalSize,
                                       uint32_t packedSize, Method method);

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
    // The run's progress, in its decoder, once the run has started.
    const ProgressState* progress = nullptr;
    MemberDecoder decode = nullptr;  // none: decodeMember
};

// Thread procedure; its argument is the ExtractionJob. Ends with
// reporter->runEnded(aborted).
void extractionWorker(void* job);

// One member; true to go on with the next.
bool extractEntry(ExtractionJob& job, ArchiveEntry& entry);

// Starts extractionWorker on a thread of its own.
bool startExtraction(ExtractionJob& job);

}  // namespace qorn
