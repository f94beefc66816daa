// The thin layer between the core and the operating system.
//
// One interface, two implementations: platform_win32.cpp for the stub and
// platform_posix.cpp for the native tool and the tests. Paths are UTF-16
// everywhere; the POSIX side converts them to UTF-8 at its edge.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wide_string.h"

namespace qorn {

// Ends the process when memory cannot be had: a buffer of this layer (a
// WideString's) fails that way, and so does any above it. The program
// defines what it shows first (base/failure.cpp); it never returns.
[[noreturn]] void failAllocation();

}  // namespace qorn

namespace qorn::platform {

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

enum class Seek { Begin, Current };

// Shared reading, existing file only (the payload).
FileHandle openForReading(const char16_t* path);
// Exclusive writing, always created anew (a member's output).
FileHandle createForWriting(const char16_t* path);
// Bytes read (may be fewer at the end of the file), or -1.
int64_t readFile(FileHandle file, void* buffer, uint32_t count);
bool writeFile(FileHandle file, const void* buffer, uint32_t count);
bool seekFile(FileHandle file, int64_t distance, Seek origin);
int64_t filePosition(FileHandle file);
int64_t fileSize(FileHandle file);
void closeFile(FileHandle file);

bool deleteFile(const char16_t* path);
enum class PathKind { Missing, File, Folder };
PathKind pathKind(const char16_t* path);
// False with lastError() set; lastErrorIsAlreadyExists() tells that case apart.
bool createFolder(const char16_t* path);
bool setCurrentDirectory(const char16_t* path);
// Empty when the call fails or the path does not fit the system's limit.
WideString currentDirectory();
// Folder under which a destination without drive goes when the base flag is set.
WideString programFilesFolder();
// Is the path absolute (drive or root on Windows, '/' on POSIX)?
bool hasDrive(const char16_t* path);
// The path made absolute against the current directory.
WideString absolutePath(const char16_t* path);

// The system's code for "not enough memory".
#ifdef _WIN32
constexpr uint32_t kErrorNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY
#else
constexpr uint32_t kErrorNotEnoughMemory = 12;  // ENOMEM
#endif

uint32_t lastError();
void setLastError(uint32_t code);
bool lastErrorIsAlreadyExists();
WideString systemErrorText(uint32_t code);

// Text of the ANSI code page (CP_ACP on Windows, a setting here).
WideString ansiToUtf16(const char* bytes, size_t count);

uint64_t availablePhysicalMemory();
// The decoder's input buffer, freed with delete[]; null when the memory
// cannot be had.
uint8_t* allocateBuffer(size_t size);
// Whole pages straight from the system for bulk data held a while (the
// tool's members decoded ahead), freed with freePages and the same size.
// On Linux in huge pages where the system gives them, a page fault per
// 2 MiB instead of per 4 KiB. Null when the memory cannot be had.
void* allocatePages(size_t size);
void freePages(void* pages, size_t size);
// Access and modification time, seconds since 1970 UTC. False if not set.
bool setFileTime(const char16_t* path, int64_t modified);
// Seconds west of UTC, read anew on every call.
int32_t timezoneOffset();

bool startThread(void (*entry)(void*), void* argument);
[[noreturn]] void exitProcess(int status);

#ifdef _WIN32
// What the file calls above take is passed through this: a path whose full
// form reaches MAX_PATH goes in the "\\?\" form, good up to 32,767 characters.
WideString systemPath(const char16_t* path);
// A form below MAX_PATH for the shell (links, opening a file): the path, or
// its short form; empty with the last error set when none fits.
WideString shellPath(const char16_t* path);
#endif

#ifndef _WIN32
// Settings of the POSIX layer (the tool's --codepage, tests).
bool setAnsiCodePage(const char* name);  // iconv name, default "CP932"
void setProgramFilesFolder(const char16_t* path);

// Fault injection for tests. Each counter counts down on every call of its
// kind and makes the call fail when it reaches zero; -1 never fails.
struct Faults {
    int64_t failReadAfter = -1;        // calls of readFile
    int64_t failWriteAfterBytes = -1;  // bytes written before writes fail
    int64_t failCreateFolder = -1;     // calls of createFolder
    uint64_t memoryLimit = 0;          // availablePhysicalMemory() result when non-zero
    uint64_t failAllocationAbove = 0;  // allocateBuffer refuses larger sizes when non-zero
    bool exitThrows = false;           // exitProcess calls the hook instead of exiting
    void (*exitHook)(int) = nullptr;   // called by exitProcess before the process ends
};
Faults& faults();
#endif

// UTF-8 for the terminal and POSIX paths; UTF-16 from command-line arguments.
// (The tool's; the stub calls neither.)
std::size_t toUtf8(const char16_t* text, char* out, std::size_t outSize);
WideString fromUtf8(const char* text);

}  // namespace qorn::platform
