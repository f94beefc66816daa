// Owned UTF-16 text and a growable path buffer.
//
// Every buffer comes from new (std::nothrow); a failed allocation ends the
// process through failAllocation() (see platform.h), so callers never see a
// half-made string.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorn {

size_t textLength(const char16_t* text);

class PathBuffer;

class WideString {
  public:
    WideString() = default;
    WideString(const char16_t* text);  // NOLINT: implicit on purpose, like the text it holds
    WideString(const char16_t* text, size_t maxCount);
    WideString(const WideString& other);
    WideString(WideString&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }
    ~WideString();

    // Narrow text in the ANSI code page; the only narrow-to-UTF-16 conversion.
    static WideString fromNarrow(const char* text);
    static WideString fromNarrow(const char* bytes, size_t count);
    const char16_t* assignNarrow(const char* text);

    WideString& operator=(const WideString& other);
    WideString& operator=(WideString&& other) noexcept;
    const char16_t* assign(const char16_t* text);

    bool hasText() const { return text_ != nullptr; }
    bool isEmpty() const { return text_ == nullptr || text_[0] == 0; }
    size_t length() const { return text_ ? textLength(text_) : 0; }
    const char16_t* text() const { return text_; }
    char16_t* mutableText() { return text_; }
    // Never null: no text reads as an empty text.
    const char16_t* characterAt(size_t i) const;
    const char16_t* c_str() const { return characterAt(0); }

    WideString& append(const WideString& other) { return append(other.text_); }
    WideString& append(const char16_t* other);
    WideString& append(const char16_t* other, size_t count);
    WideString& appendChar(char16_t ch);
    WideString& appendIfMissing(char16_t ch);
    void replaceSeparators(char16_t ch);
    PathBuffer toPathBuffer() const;

    // Takes ownership of a buffer made by allocateText().
    static WideString adopt(char16_t* buffer);
    void clear();

  private:
    char16_t* text_ = nullptr;
};

bool operator==(const WideString& a, const char16_t* b);
inline bool operator!=(const WideString& a, const char16_t* b) {
    return !(a == b);
}

// A zero-filled buffer of count + 1 characters.
char16_t* allocateText(size_t count);

class PathBuffer {
  public:
    PathBuffer();
    explicit PathBuffer(const char16_t* text);
    PathBuffer(const char16_t* text, size_t count);
    PathBuffer(const PathBuffer& other);
    PathBuffer(PathBuffer&& other) noexcept;
    ~PathBuffer();
    PathBuffer& operator=(const PathBuffer& other);
    PathBuffer& operator=(const char16_t* text);

    void assignRange(const char16_t* first, const char16_t* last);
    void reserve(size_t n);
    void resize(size_t n, char16_t fill = 0);
    void swap(PathBuffer& other);
    long lastIndexOf(char16_t ch, long from = -1) const;
    bool truncateAtLast(char16_t ch);
    void append(const char16_t* text, size_t count);
    void append(const char16_t* text) { append(text, textLength(text)); }
    void push(char16_t ch) { append(&ch, 1); }

    const char16_t* text() const { return text_; }
    char16_t* data() { return text_; }
    size_t length() const { return length_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return length_ == 0; }
    static bool isSeparator(char16_t ch) { return ch == u'/' || ch == u'\\'; }

  private:
    char16_t* text_;
    size_t length_;
    size_t capacity_;
};

}  // namespace qorn
