#include "tools/run_option.h"

#include <memory>

#include "app/resource_ids.h"
#include "payload/binary_file.h"
#include "payload/sfx_settings.h"
#include "pe/text_sets.h"
#include "tools/case_fold.h"
#include "tools/common.h"

namespace qorn::tool {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// A string table entry holds at most this many units.
constexpr size_t kMaxText = 65535;

}  // namespace

bool parseRunCommand(const std::string& text, RunCommand& run, std::string& error) {
    const WideString whole = wide(text);
    const std::u16string line(whole.c_str(), whole.length());
    size_t at = 0;
    while (at < line.size() && isBlank(line[at])) ++at;
    std::u16string program;
    if (at < line.size() && line[at] == u'"') {
        const size_t close = line.find(u'"', at + 1);
        if (close == std::u16string::npos) {
            error = "--run: the program's closing quote is missing";
            return false;
        }
        program = line.substr(at + 1, close - at - 1);
        at = close + 1;
    } else {
        while (at < line.size() && !isBlank(line[at])) program.push_back(line[at++]);
    }
    while (at < line.size() && isBlank(line[at])) ++at;
    run.arguments = line.substr(at);
    for (char16_t& c : program)
        if (c == u'/') c = u'\\';
    run.program = program;
    if (program.empty()) {
        error = "--run names no program";
        return false;
    }
    // A member's path, relative to the folder the file extracts into.
    const bool absolute = program[0] == u'\\' || (program.size() > 1 && program[1] == u':');
    bool parent = false;
    for (size_t start = 0; start <= program.size();) {
        size_t end = program.find(u'\\', start);
        if (end == std::u16string::npos) end = program.size();
        parent = parent || program.compare(start, end - start, u"..") == 0;
        start = end + 1;
    }
    if (absolute || parent) {
        error = "--run: " + utf8(WideString(program.c_str())) +
                " is not a path inside the archive (it must name a member, relative to the "
                "folder the file extracts into)";
        return false;
    }
    if (program.size() > kMaxText || run.arguments.size() > kMaxText) {
        error = "--run: the command is too long";
        return false;
    }
    return true;
}

bool namesMember(std::u16string& program, const std::vector<std::u16string>& files) {
    std::string why;
    const std::u16string wanted = settingPath(utf8(WideString(program.c_str())), why);
    if (wanted.empty()) return false;
    for (const std::u16string& file : files)
        if (settingPath(utf8(WideString(file.c_str())), why) == wanted) {
            program = file;
            for (char16_t& c : program)
                if (c == u'/') c = u'\\';
            return true;
        }
    return false;
}

bool readRunCommand(const std::string& path, RunCommand& run) {
    std::unique_ptr<BinaryFile> file(BinaryFile::openForReading(wide(path).c_str()));
    std::vector<uint8_t> stub(static_cast<size_t>(PayloadOffset));
    if (!file || file->read(stub.data(), static_cast<uint32_t>(stub.size())) != PayloadOffset)
        return false;
    encode::PeResources pe;
    std::string error;
    if (!pe.load(stub, stub.size(), error)) return false;
    for (const encode::Resource& r : pe.resources) {
        if (!r.type.is(encode::kResourceStringTable) || !r.name.is(IDS_RUN_PROGRAM / 16 + 1))
            continue;
        // Entries: a count of units, then the units; the first two are ours.
        std::u16string texts[2];
        size_t at = 0;
        for (std::u16string& text : texts) {
            if (at + 2 > r.data.size()) return false;
            const size_t units = r.data[at] | (r.data[at + 1] << 8);
            at += 2;
            if (at + 2 * units > r.data.size()) return false;
            for (size_t i = 0; i < units; ++i, at += 2)
                text.push_back(static_cast<char16_t>(r.data[at] | (r.data[at + 1] << 8)));
        }
        run.program = texts[0];
        run.arguments = texts[1];
        return !run.program.empty();
    }
    return false;
}

void addRunTexts(encode::PeResources& pe, const RunCommand& run) {
    // Block 2 holds the ids 16 to 31.
    encode::Resource table;
    table.type.id = encode::kResourceStringTable;
    table.name.id = IDS_RUN_PROGRAM / 16 + 1;
    table.data = encode::stringTableBlock({run.program, run.arguments});
    pe.resources.push_back(table);
}

}  // namespace qorn::tool
