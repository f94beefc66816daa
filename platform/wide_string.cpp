#include "platform/wide_string.h"

#include <cstring>
#include <new>

#include "platform/platform.h"

namespace qorn {

namespace {
const char16_t kEmptyText[1] = {0};
}

size_t textLength(const char16_t* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

char16_t* allocateText(size_t count) {
    // count + 1 characters; a request that cannot be expressed fails like any other.
    if (count >= SIZE_MAX / sizeof(char16_t) - 1) failAllocation();
    char16_t* p = new (std::nothrow) char16_t[count + 1];
    if (!p) failAllocation();
    std::memset(p, 0, (count + 1) * sizeof(char16_t));
    return p;
}

static char16_t* copyText(const char16_t* text, size_t count) {
    char16_t* p = allocateText(count);
    std::memcpy(p, text, count * sizeof(char16_t));
    return p;
}

WideString::WideString(const char16_t* text) {
    if (text) text_ = copyText(text, textLength(text));
}

WideString::WideString(const char16_t* text, size_t maxCount) {
    if (!text) return;
    size_t n = 0;
    while (n < maxCount && text[n]) ++n;
    text_ = allocateText(maxCount);
    std::memcpy(text_, text, n * sizeof(char16_t));
}

WideString::WideString(const WideString& other) : WideString(other.text_) {}

WideString::~WideString() {
    delete[] text_;
}

WideString WideString::adopt(char16_t* buffer) {
    WideString s;
    s.text_ = buffer;
    return s;
}

WideString WideString::fromNarrow(const char* text) {
    if (!text) return WideString();
    return platform::ansiToUtf16(text, std::strlen(text));
}

WideString WideString::fromNarrow(const char* bytes, size_t count) {
    // The text ends at its first zero byte, if any.
    size_t n = 0;
    while (n < count && bytes[n]) ++n;
    return platform::ansiToUtf16(bytes, n);
}

const char16_t* WideString::assignNarrow(const char* text) {
    *this = fromNarrow(text);
    return text_;
}

WideString& WideString::operator=(const WideString& other) {
    if (this != &other) assign(other.text_);
    if (!other.text_) clear();
    return *this;
}

WideString& WideString::operator=(WideString&& other) noexcept {
    if (this != &other) {
        delete[] text_;
        text_ = other.text_;
        other.text_ = nullptr;
    }
    return *this;
}

const char16_t* WideString::assign(const char16_t* text) {
    if (text == text_) return text;
    if (!text) {
        clear();
        return nullptr;
    }
    char16_t* fresh = copyText(text, textLength(text));
    delete[] text_;
    text_ = fresh;
    return text;
}

void WideString::clear() {
    delete[] text_;
    text_ = nullptr;
}

const char16_t* WideString::characterAt(size_t i) const {
    return text_ ? text_ + i : kEmptyText;
}

WideString& WideString::append(const char16_t* other) {
    return append(other, textLength(other));
}

WideString& WideString::append(const char16_t* other, size_t count) {
    size_t own = length();
    char16_t* fresh = allocateText(own + count);
    if (own) std::memcpy(fresh, text_, own * sizeof(char16_t));
    if (count) std::memcpy(fresh + own, other, count * sizeof(char16_t));
    delete[] text_;
    text_ = fresh;
    return *this;
}

WideString& WideString::appendChar(char16_t ch) {
    return append(&ch, 1);
}

WideString& WideString::appendIfMissing(char16_t ch) {
    size_t n = length();
    if (text_ && n > 0 && text_[n - 1] == ch) return *this;
    return appendChar(ch);
}

void WideString::replaceSeparators(char16_t ch) {
    if (!text_) return;
    for (char16_t* p = text_; *p; ++p)
        if (*p == u'/' || *p == u'\\' || *p == 0xFFFF) *p = ch;
}

PathBuffer WideString::toPathBuffer() const {
    return PathBuffer(characterAt(0), length());
}

bool operator==(const WideString& a, const char16_t* b) {
    const char16_t* x = a.c_str();
    if (!b) return !a.hasText();
    while (*x && *x == *b) ++x, ++b;
    return *x == *b;
}

// PathBuffer

PathBuffer::PathBuffer() : text_(allocateText(0)), length_(0), capacity_(0) {}

PathBuffer::PathBuffer(const char16_t* text) : PathBuffer() {
    size_t n = textLength(text);
    if (n) assignRange(text, text + n);
}

PathBuffer::PathBuffer(const char16_t* text, size_t count)
    : text_(copyText(text, count)), length_(count), capacity_(count) {}

PathBuffer::PathBuffer(const PathBuffer& other) : PathBuffer() {
    if (other.length_) assignRange(other.text_, other.text_ + other.length_);
}

PathBuffer::PathBuffer(PathBuffer&& other) noexcept
    : text_(other.text_), length_(other.length_), capacity_(other.capacity_) {
    other.text_ = nullptr;
    other.length_ = other.capacity_ = 0;
}

PathBuffer::~PathBuffer() {
    delete[] text_;
}

PathBuffer& PathBuffer::operator=(const PathBuffer& other) {
    if (this != &other) {
        PathBuffer fresh(other);
        swap(fresh);
    }
    return *this;
}

PathBuffer& PathBuffer::operator=(const char16_t* text) {
    PathBuffer fresh(text);
    swap(fresh);
    return *this;
}

void PathBuffer::assignRange(const char16_t* first, const char16_t* last) {
    size_t count = static_cast<size_t>(last - first);
    if (count == 0) {
        length_ = 0;
        text_[0] = 0;
        return;
    }
    if (count > capacity_) {
        // The range may lie inside our own buffer: copy before freeing it.
        char16_t* fresh = copyText(first, count);
        delete[] text_;
        text_ = fresh;
        capacity_ = count;
    } else {
        std::memmove(text_, first, count * sizeof(char16_t));
    }
    length_ = count;
    text_[length_] = 0;
}

void PathBuffer::reserve(size_t n) {
    if (capacity_ >= n) return;
    char16_t* fresh = allocateText(n);
    std::memcpy(fresh, text_, (length_ + 1) * sizeof(char16_t));
    delete[] text_;
    text_ = fresh;
    capacity_ = n;
}

void PathBuffer::resize(size_t n, char16_t fill) {
    reserve(n);
    for (size_t i = length_; i < n; ++i) text_[i] = fill;
    length_ = n;
    text_[n] = 0;
}

void PathBuffer::swap(PathBuffer& other) {
    char16_t* t = text_;
    text_ = other.text_;
    other.text_ = t;
    size_t l = length_;
    length_ = other.length_;
    other.length_ = l;
    size_t c = capacity_;
    capacity_ = other.capacity_;
    other.capacity_ = c;
}

long PathBuffer::lastIndexOf(char16_t ch, long from) const {
    if (length_ == 0) return -1;
    long i = from < 0 || from >= static_cast<long>(length_) ? static_cast<long>(length_) - 1 : from;
    for (; i >= 0; --i)
        if (text_[i] == ch) return i;
    return -1;
}

bool PathBuffer::truncateAtLast(char16_t ch) {
    long i = lastIndexOf(ch);
    if (i < 0) return false;
    resize(static_cast<size_t>(i));
    return true;
}

void PathBuffer::append(const char16_t* text, size_t count) {
    if (!count) return;
    size_t old = length_;
    // Growth is exact; a path is built a few pieces at a time.
    if (old + count > capacity_) {
        char16_t* fresh = allocateText(old + count);
        std::memcpy(fresh, text_, old * sizeof(char16_t));
        std::memcpy(fresh + old, text, count * sizeof(char16_t));
        delete[] text_;
        text_ = fresh;
        capacity_ = old + count;
    } else {
        std::memmove(text_ + old, text, count * sizeof(char16_t));
    }
    length_ = old + count;
    text_[length_] = 0;
}

}  // namespace qorn
