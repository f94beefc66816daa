#include "extract/extraction_worker.h"

#include "base/crc16.h"
#include "decode/decoder_context.h"
#include "extract/entry_paths.h"
#include "platform/platform.h"

namespace qorn {

namespace {

// The run's decoder: the stub holds this one instance.
DecoderContext workerDecoder;

// The damaged-file box text fits this many characters with its terminator.
constexpr size_t kDamagedTextSize = 256;

// Fills "ファイル %s が壊れています。" (for a folder member, "フォルダ ...")
// with the path. A path too long for the box keeps its end (the file name)
// behind an ellipsis, so the text is never cut off in the middle of the
// sentence.
WideString damagedText(const char16_t* path, bool folder) {
    const char16_t* format = folder ? kTextDamagedFolderFormat : kTextDamagedFormat;
    size_t marker = 0;
    while (format[marker] && !(format[marker] == u'%' && format[marker + 1] == u's')) ++marker;
    const char16_t* suffix = format[marker] ? format + marker + 2 : format + marker;
    const size_t suffixLength = textLength(suffix);
    const size_t room = kDamagedTextSize - 1 - marker - suffixLength;
    size_t pathLength = textLength(path);
    WideString text(format, marker);
    if (pathLength > room) {
        text.appendChar(u'\u2026');
        path += pathLength - (room - 1);
        pathLength = room - 1;
    }
    text.append(path, pathLength);
    text.append(suffix);
    return text;
}

// The damaged-member box for a member, under its cleaned path; the run fails.
void reportDamaged(ExtractionJob& job, const WideString& path, bool folder = false) {
    WideString cleaned(path);
    sanitizeEntryPath(cleaned);
    job.failed = true;
    WideString text = damagedText(cleaned.c_str(), folder);
    job.reporter->messageBox(BoxOwner::MainWindow, text.c_str(), nullptr, kBoxIconWarning);
}

// The shell learns of every member under its full path with backslashes.
void notifyCreated(ExtractionJob& job, const WideString& storedPath) {
    WideString full =
        job.destinationFolder.isEmpty() ? platform::currentDirectory() : job.destinationFolder;
    full.appendIfMissing(u'\\');
    // The cleaned path, where the member really went: a stored "..\x" must
    // not make the shell look above the destination. A folder keeps its
    // trailing separator.
    WideString member(storedPath);
    sanitizeEntryPath(member);
    const size_t length = storedPath.length();
    if (length > 0 && !member.isEmpty() && PathBuffer::isSeparator(storedPath.c_str()[length - 1]))
        member.appendChar(u'/');
    member.replaceSeparators(u'\\');
    full.append(member);
    job.reporter->itemCreated(full.c_str());
}

// A -lhd- member of a Unix archive whose name reads "name|target" is a
// symbolic link. Links are never made: one could point anywhere, and a later
// member written through it would leave the destination. The member is
// passed over like one of an unknown method.
bool isSymbolicLink(const WideString& path) {
    for (const char16_t* p = path.c_str(); *p; ++p)
        if (*p == u'|') return true;
    return false;
}

}  // namespace

void extractionWorker(void* argument) {
    ExtractionJob& job = *static_cast<ExtractionJob*>(argument);
    RunReporter& reporter = *job.reporter;
    BinaryFile& payload = *job.payloadFile;

    makeCrcTable();
    ProgressState& progress = workerDecoder.progress;
    progress.reset(&reporter, sumOriginalSizes(payload, kProgressPerMember));
    job.progress = &progress;

    ArchiveEntry entry;
    for (;;) {
        const HeaderResult header = readEntryHeader(payload, entry, reporter);
        if (header == HeaderResult::End) break;
        if (header == HeaderResult::Bad) {
            // The archive is damaged: whatever follows is missing, so the run
            // must not count as complete (no shortcuts, nothing opened).
            job.failed = true;
            break;
        }
        const int64_t dataStart = payload.position();
        reporter.memberStarted(entry.path.c_str());
        if (!extractEntry(job, entry)) {
            job.failed = true;
            break;
        }
        notifyCreated(job, entry.path);
        progress.memberDone(entry.originalSize);
        // Folders and skipped members never reach the decoder's own check, so
        // an abort during a run of them is seen here.
        if (!stillRunning()) {
            job.failed = true;
            break;
        }
        // Nor its check of the packed size: one that runs past the end of the
        // file would move the walk past every later header, and the run would
        // look complete with members missing.
        if (!payload.holds(dataStart, entry.packedSize)) {
            // A member of the folder method is called a folder, a link too
            // (telling it apart would cost the stub 512 bytes); one of an
            // unknown method keeps the file's wording.
            reportDamaged(job, entry.path, methodOf(entry.method) == Method::Lhd);
            break;
        }
        // Whatever the decoder consumed, the next header follows the data.
        if (!payload.moveTo(dataStart + static_cast<int64_t>(entry.packedSize))) {
            job.failed = true;
            break;
        }
    }
    reporter.runEnded(!stillRunning());
}

bool extractEntry(ExtractionJob& job, ArchiveEntry& entry) {
    RunReporter& reporter = *job.reporter;
    WideString path(entry.path);
    sanitizeEntryPath(path);

    const Method method = methodOf(entry.method);
    if (method == Method::Unknown) return true;
    if (method == Method::Lhd && isSymbolicLink(entry.path)) return true;
    // A folder member whose name cleans away to nothing ("/", "../", or the
    // empty name some OS-9 archivers store) stands for the destination itself,
    // which exists: there is nothing to make.
    if (method == Method::Lhd && path.isEmpty()) return true;

    if (platform::pathKind(path.c_str()) == platform::PathKind::Folder) {
        WideString text(path);
        text.appendChar(u' ');
        text.append(kTextFolderExists);
        reporter.messageBox(BoxOwner::MainWindow, text.c_str(), nullptr, kBoxIconWarning);
    }
    platform::deleteFile(path.c_str());

    if (method == Method::Lhd) {
        if (createFolderTree(path.c_str())) return true;
        job.failureStatus = kExitSwitchCannotCreate;
        showPathError(reporter, path.c_str());
        return false;
    }

    BinaryFile* output = createOutputFile(path.c_str());
    if (!output) {
        job.failureStatus = kExitSwitchCannotCreate;
        showPathError(reporter, path.c_str());
        return false;
    }
    // From here until the file is closed and checked, an abort deletes it.
    job.currentFile = path;
    const MemberDecoder decode = job.decode ? job.decode : decodeMember;
    const MemberResult result = decode(workerDecoder, reporter, *job.payloadFile, *output,
                                       entry.originalSize, entry.packedSize, method);
    delete output;

    // An abort, or memory that could not be had: the file being written goes.
    if (!stillRunning() || result.outOfMemory) {
        platform::deleteFile(path.c_str());
        if (result.outOfMemory) failAllocation();
        return false;
    }
    // The file is complete as far as it goes: neither kept nor damaged ones
    // may be deleted by a later abort.
    job.currentFile.clear();

    // An overrun alone is caught by the CRC when the header has one.
    const bool damaged = (result.damaged && !(result.overrunOnly && entry.hasCrc)) ||
                         (entry.hasCrc && result.crc != entry.crc);
    if (damaged) {
        reportDamaged(job, path);
        return false;
    }
    applyEntryTime(path.c_str(), entry);
    return true;
}

bool startExtraction(ExtractionJob& job) {
    return platform::startThread(extractionWorker, &job);
}

}  // namespace qorn
