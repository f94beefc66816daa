#include "encode/tree_collector.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/host_files.h"

namespace qorn::encode {

namespace {

bool isDotName(const std::string& s) {
    return s.empty() || s == "." || s == "..";
}

class Collector {
  public:
    Collector(const PackOptions& options, FILE* out, std::vector<Item>& items, std::string& error)
        : options_(options), items_(items), error_(error), out_(out) {}

    bool addRoot(const std::string& root) {
        std::string r = root;
#ifdef _WIN32
        std::replace(r.begin(), r.end(), '\\', '/');
#endif
        bool contents = false;
        while (r.size() > 1 && r.back() == '/') {
            r.pop_back();
            contents = true;
        }
        const size_t slash = r.rfind('/');
        const std::string base = slash == std::string::npos ? r : r.substr(slash + 1);
        if (isDotName(base)) contents = true;
        host::PathInfo st;
        if (!host::pathInfo(r, st)) return fail(root + ": " + host::errorText());
        if (st.kind == host::Kind::Folder) {
            if (contents) return walk(r, "");
            if (!addItem(r, base + "/", st)) return false;
            return walk(r, base + "/");
        }
        if (st.kind == host::Kind::File && !contents) return addItem(r, base, st);
        return skip(root, st);
    }

  private:
    bool fail(const std::string& text) {
        error_ = text;
        return false;
    }

    bool skip(const std::string& path, const host::PathInfo& st) {
        if (options_.warning)
            options_.warning(
                path + ": " +
                (st.kind == host::Kind::Link ? "symbolic link" : "not a regular file") +
                ", left out");
        return true;
    }

    bool addItem(const std::string& disk, const std::string& path, const host::PathInfo& st) {
        // The archive itself may lie in a folder being packed.
        if (out_.is(disk, st)) {
            if (options_.warning) options_.warning(disk + ": the archive being written, left out");
            return true;
        }
        if (path.find('\\') != std::string::npos)
            return fail(disk + ": a backslash in the name would read as a folder separator");
        // Two roots may hold the same folder, which is then stored once; the
        // same file path twice would make extraction keep only one of them.
        const auto seen = paths_.emplace(path, disk);
        if (!seen.second) {
            if (st.kind == host::Kind::Folder) return true;
            return fail(disk + ": the archive already holds " + path + " (from " +
                        seen.first->second + ")");
        }
        Item item;
        item.disk = disk;
        item.header.path = path;
        item.header.folder = st.kind == host::Kind::Folder;
        item.header.modifiedTime = st.modified;
        item.size = item.header.folder ? 0 : st.size;
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
        std::vector<std::string> names;
        if (!host::listFolder(dir, names)) return fail(dir + ": " + host::errorText());
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            const std::string disk = dir + "/" + n;
            host::PathInfo st;
            if (!host::pathInfo(disk, st)) return fail(disk + ": " + host::errorText());
            if (st.kind == host::Kind::Folder) {
                if (!addItem(disk, prefix + n + "/", st) || !walk(disk, prefix + n + "/"))
                    return false;
            } else if (st.kind == host::Kind::File) {
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
    const host::SameFile out_;
};

}  // namespace

bool collectItems(const std::vector<std::string>& roots, const PackOptions& options, FILE* out,
                  std::vector<Item>& items, std::string& error) {
    Collector collector(options, out, items, error);
    for (const std::string& root : roots)
        if (!collector.addRoot(root)) return false;
    if (!options.foldersOnlyWhenEmpty) return true;
    // A folder holds a member when the next path in sorted order lies in it.
    std::set<std::string> paths;
    for (const Item& item : items) paths.insert(item.header.path);
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&](const Item& item) {
                                   if (!item.header.folder) return false;
                                   const auto next = paths.upper_bound(item.header.path);
                                   return next != paths.end() &&
                                          next->compare(0, item.header.path.size(),
                                                        item.header.path) == 0;
                               }),
                items.end());
    return true;
}

}  // namespace qorn::encode
