#include "encode/tree_collector.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>

namespace qorn::encode {

namespace {

bool isDotName(const std::string& s) {
    return s.empty() || s == "." || s == "..";
}

class Collector {
  public:
    Collector(const PackOptions& options, FILE* out, std::vector<Item>& items, std::string& error)
        : options_(options), items_(items), error_(error) {
        struct stat st;
        if (fstat(fileno(out), &st) == 0) {
            outDevice_ = st.st_dev;
            outInode_ = st.st_ino;
            haveOut_ = true;
        }
    }

    bool addRoot(const std::string& root) {
        std::string r = root;
        bool contents = false;
        while (r.size() > 1 && r.back() == '/') {
            r.pop_back();
            contents = true;
        }
        const size_t slash = r.rfind('/');
        const std::string base = slash == std::string::npos ? r : r.substr(slash + 1);
        if (isDotName(base)) contents = true;
        struct stat st;
        if (lstat(r.c_str(), &st) != 0) return fail(root + ": " + systemError());
        if (S_ISDIR(st.st_mode)) {
            if (contents) return walk(r, "");
            if (!addItem(r, base + "/", st)) return false;
            return walk(r, base + "/");
        }
        if (S_ISREG(st.st_mode) && !contents) return addItem(r, base, st);
        return skip(root, st);
    }

  private:
    bool fail(const std::string& text) {
        error_ = text;
        return false;
    }

    bool skip(const std::string& path, const struct stat& st) {
        if (options_.warning)
            options_.warning(path + ": " +
                             (S_ISLNK(st.st_mode) ? "symbolic link" : "not a regular file") +
                             ", left out");
        return true;
    }

    bool addItem(const std::string& disk, const std::string& path, const struct stat& st) {
        // The archive itself may lie in a folder being packed.
        if (haveOut_ && st.st_dev == outDevice_ && st.st_ino == outInode_) {
            if (options_.warning) options_.warning(disk + ": the archive being written, left out");
            return true;
        }
        if (path.find('\\') != std::string::npos)
            return fail(disk + ": a backslash in the name would read as a folder separator");
        // Two roots may hold the same folder, which is then stored once; the
        // same file path twice would make extraction keep only one of them.
        const auto seen = paths_.emplace(path, disk);
        if (!seen.second) {
            if (S_ISDIR(st.st_mode)) return true;
            return fail(disk + ": the archive already holds " + path + " (from " +
                        seen.first->second + ")");
        }
        Item item;
        item.disk = disk;
        item.header.path = path;
        item.header.folder = S_ISDIR(st.st_mode);
        item.header.modifiedTime = static_cast<int64_t>(st.st_mtime);
        item.size = item.header.folder ? 0 : static_cast<uint64_t>(st.st_size);
        if (item.size > kMaxMemberSize)
            return fail(disk + ": larger than 4 GiB, too large for LHA");
        // The header is tried now, so a bad name stops packing before any data.
        std::vector<uint8_t> bytes;
        if (!buildHeader(item.header, options_.headerLevel, options_.codePage, bytes, error_)) {
            error_ = disk + " (" + error_ + ")";
            return false;
        }
        items_.push_back(item);
        return true;
    }

    bool walk(const std::string& dir, const std::string& prefix) {
        DIR* d = opendir(dir.c_str());
        if (!d) return fail(dir + ": " + systemError());
        std::vector<std::string> names;
        errno = 0;
        while (struct dirent* e = readdir(d)) {
            if (!isDotName(e->d_name)) names.push_back(e->d_name);
        }
        const bool readFailed = errno != 0;
        closedir(d);
        if (readFailed) return fail(dir + ": " + systemError());
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            const std::string disk = dir + "/" + n;
            struct stat st;
            if (lstat(disk.c_str(), &st) != 0) return fail(disk + ": " + systemError());
            if (S_ISDIR(st.st_mode)) {
                if (!addItem(disk, prefix + n + "/", st) || !walk(disk, prefix + n + "/"))
                    return false;
            } else if (S_ISREG(st.st_mode)) {
                if (!addItem(disk, prefix + n, st)) return false;
            } else if (!skip(disk, st)) {
                return false;
            }
        }
        return true;
    }

    const PackOptions& options_;
    std::vector<Item>& items_;
    std::string& error_;
    std::map<std::string, std::string> paths_;  // archive path -> file on disk
    dev_t outDevice_ = 0;
    ino_t outInode_ = 0;
    bool haveOut_ = false;
};

}  // namespace

bool collectItems(const std::vector<std::string>& roots, const PackOptions& options, FILE* out,
                  std::vector<Item>& items, std::string& error) {
    Collector collector(options, out, items, error);
    for (const std::string& root : roots)
        if (!collector.addRoot(root)) return false;
    return true;
}

}  // namespace qorn::encode
