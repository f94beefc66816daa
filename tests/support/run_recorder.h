// Test support for extraction runs: a reporter that records every call of a
// run in order, with hooks that let a test act at a chosen moment (press
// "abort" while a member is being written, for instance), and stored members
// for hand-made archives.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "tests/support/header_bytes.h"

namespace qorn::extract_test {

class RunRecorder : public RunReporter {
  public:
    struct Box {
        BoxOwner owner;
        std::u16string text;
        bool hasCaption;
        uint32_t flags;
    };
    std::vector<std::u16string> started;
    std::vector<std::u16string> created;
    std::vector<Box> boxes;
    std::vector<uint32_t> positions;
    int runEndedCalls = 0;
    bool endedAborted = false;

    std::function<void(const std::u16string&)> onMemberStarted;
    std::function<void(uint32_t)> onProgress;
    std::function<void(const std::u16string&)> onItemCreated;

    void memberStarted(const char16_t* path) override {
        started.emplace_back(path);
        if (onMemberStarted) onMemberStarted(started.back());
    }
    void progressPosition(uint32_t position) override {
        positions.push_back(position);
        if (onProgress) onProgress(position);
    }
    void messageBox(BoxOwner owner, const char16_t* text, const char16_t* caption,
                    uint32_t flags) override {
        boxes.push_back(Box{owner, text ? text : u"", caption != nullptr, flags});
    }
    void itemCreated(const char16_t* fullPath) override {
        created.emplace_back(fullPath);
        if (onItemCreated) onItemCreated(created.back());
    }
    void runEnded(bool aborted) override {
        ++runEndedCalls;
        endedAborted = aborted;
    }
};

// CRC-16/ARC worked out bit by bit, apart from the table the decoder uses.
inline uint16_t referenceCrc16(const std::string& data) {
    uint16_t crc = 0;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// A member with stored data (-lh0-), a folder (-lhd-) or any method id with
// raw data. Level 0 keeps the name's bytes as they are (backslashes, drive
// letters...); level 2 puts the whole path in a 0x01 name header.
struct TestMember {
    std::string method = "-lh0-";
    std::string path = {};
    std::string data = {};
    int level = 2;
    bool withCrc = true;
    bool badCrc = false;
    uint32_t stamp = 0x5A000000;  // level 2: Unix time; level 0: MS-DOS stamp
    int64_t originalSizeDelta = 0;
};

inline corpus::Bytes memberBytes(const TestMember& m) {
    using namespace corpus;
    uint16_t crc = referenceCrc16(m.data);
    if (m.badCrc) crc ^= 0x5555;
    const uint32_t packed = static_cast<uint32_t>(m.data.size());
    const uint32_t original = static_cast<uint32_t>(m.data.size() + m.originalSizeDelta);
    Bytes b;
    if (m.level == 2) {
        b = level2(m.method.c_str(), packed, original, m.stamp, crc, {{0x01, text(m.path)}});
        // A length that is a multiple of 256 would read as the end mark.
        if (b[0] == 0)
            b = level2(m.method.c_str(), packed, original, m.stamp, crc, {{0x01, text(m.path)}}, 1);
    } else {
        Bytes extra;
        if (m.withCrc) put16(extra, crc);
        b = level01(m.level, m.method.c_str(), packed, original, m.stamp, m.path, extra);
    }
    b.insert(b.end(), m.data.begin(), m.data.end());
    return b;
}

// The members one after another and the end mark.
inline corpus::Bytes archiveBytes(const std::vector<TestMember>& members, bool endMark = true) {
    corpus::Bytes b;
    for (const TestMember& m : members) {
        corpus::Bytes one = memberBytes(m);
        b.insert(b.end(), one.begin(), one.end());
    }
    if (endMark) b.push_back(0);
    return b;
}

}  // namespace qorn::extract_test
