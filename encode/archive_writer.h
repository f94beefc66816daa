// Writing plain LHA archives from files and folders on disk.
//
// Members come in a fixed order (each root as given, folder contents sorted
// by name), and nothing of the moment of packing (no current time, no access
// times) goes into the headers, so the same input gives the same archive.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "encode/lzh_encoder.h"
#include "encode/member_header.h"
#include "payload/archive_entry.h"

namespace qorn::encode {

struct PackOptions {
    Method method = Method::Lh5;  // -lh5-, -lh6- or -lh7-
    int headerLevel = 2;          // 0, 1 or 2
    EncodeLevel encodeLevel = EncodeLevel::Default;
    // iconv name of the ANSI code page names are stored in when they fit.
    std::string codePage = "CP932";
    // Folder members only for folders that hold no member: the others come
    // with their files' paths, and an extractor that meets a folder member
    // whose folder exists need not ask about it.
    bool foldersOnlyWhenEmpty = false;
    // Bytes of file data done so far out of the total, and the member at hand.
    std::function<void(uint64_t done, uint64_t total, const std::string& path)> progress;
    // Things left out (links, devices); packing goes on.
    std::function<void(const std::string& text)> warning;
};

// Packs every root (a file, or a folder with all it holds) into out, which
// must be seekable; the archive starts at out's position. A root written as
// "dir/" or "." stores the folder's contents, "dir" stores the folder itself.
// On failure error names the file and out holds a partial archive.
bool writeArchive(const std::vector<std::string>& roots, const PackOptions& options, FILE* out,
                  std::string& error);

}  // namespace qorn::encode
