// Replays saved inputs through a fuzz target without libFuzzer: every file
// under the folders (or files) named on the command line, in name order.
// A broken invariant or a sanitizer report ends the run like it would the
// fuzzer; otherwise prints how many inputs ran.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void collect(const std::string& path, std::vector<std::string>& files) {
    struct stat st;
    // Absolute names: a target may change the current directory.
    if (path[0] != '/') {
        char* full = realpath(path.c_str(), nullptr);
        if (!full) return;
        const std::string absolute(full);
        free(full);
        return collect(absolute, files);
    }
    if (stat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return;
    }
    DIR* dir = opendir(path.c_str());
    if (!dir) return;
    while (const dirent* e = readdir(dir))
        if (e->d_name[0] != '.') collect(path + "/" + e->d_name, files);
    closedir(dir);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) collect(argv[i], files);
    std::sort(files.begin(), files.end());
    for (const std::string& name : files) {
        std::ifstream in(name, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "%s\n", name.c_str());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
