#include "platform/wide_string.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace qorn {
namespace {

TEST(WideString, NoTextAndEmptyTextDiffer) {
    WideString none;
    EXPECT_FALSE(none.hasText());
    // Appending nothing still makes a text.
    none.append(u"");
    EXPECT_TRUE(none.hasText());
    EXPECT_EQ(none.length(), 0u);
    WideString copy(none);
    EXPECT_TRUE(copy.hasText());
}

TEST(WideString, CharacterAtWithoutTextIsTheEmptyText) {
    WideString none;
    EXPECT_EQ(*none.characterAt(5), 0);
    EXPECT_EQ(none.characterAt(5), none.characterAt(0));
}

TEST(WideString, AppendIfMissingAndSeparators) {
    WideString a(u"C:\\dir\\");
    a.appendIfMissing(u'\\');
    EXPECT_TRUE(a == u"C:\\dir\\");
    WideString b(u"C:\\dir");
    b.appendIfMissing(u'\\');
    EXPECT_TRUE(b == u"C:\\dir\\");
    WideString c;
    c.appendIfMissing(u'\\');
    EXPECT_TRUE(c == u"\\");
    WideString d(
        u"a/b\xFFFF"
        u"d");
    d.replaceSeparators(u'\\');
    EXPECT_TRUE(d == u"a\\b\\d");
}

TEST(WideString, MaximumCountAndSelfAssignment) {
    WideString s(u"abcdef", 3);
    EXPECT_TRUE(s == u"abc");
    s = s;
    EXPECT_TRUE(s == u"abc");
    s.assign(s.text());
    EXPECT_TRUE(s == u"abc");
}

TEST(PathBuffer, TruncateAtLastAndOverlappingAssign) {
    PathBuffer p(u"C:\\a\\b");
    EXPECT_TRUE(p.truncateAtLast(u'\\'));
    EXPECT_EQ(std::u16string(p.text()), u"C:\\a");
    PathBuffer q(u"abc");
    EXPECT_FALSE(q.truncateAtLast(u'\\'));
    EXPECT_EQ(std::u16string(q.text()), u"abc");
    // A range inside the buffer itself.
    PathBuffer r(u"0123456789");
    r.assignRange(r.text() + 3, r.text() + 7);
    EXPECT_EQ(std::u16string(r.text()), u"3456");
    EXPECT_EQ(r.length(), 4u);
    PathBuffer empty;
    EXPECT_EQ(empty.lastIndexOf(u'a'), -1);
    EXPECT_EQ(empty.text()[0], 0);
}

// Narrow names: printable ASCII may skip the converter only where the code
// page keeps it; in EBCDIC (CP037) 0xC1 is 'A' and 'A' (0x41) is a blank.
TEST(WideString, NarrowTextFollowsTheCodePage) {
    EXPECT_EQ(std::u16string(WideString::fromNarrow("dir/a b.txt").c_str()), u"dir/a b.txt");
    EXPECT_EQ(std::u16string(WideString::fromNarrow("\x83\x65\x83\x4c.txt").c_str()), u"テキ.txt");
    ASSERT_TRUE(platform::setAnsiCodePage("CP037"));
    EXPECT_EQ(std::u16string(WideString::fromNarrow("\xC1\xC2").c_str()), u"AB");
    EXPECT_NE(std::u16string(WideString::fromNarrow("AB").c_str()), u"AB");
    ASSERT_TRUE(platform::setAnsiCodePage("CP932"));
    EXPECT_EQ(std::u16string(WideString::fromNarrow("AB").c_str()), u"AB");
}

}  // namespace
}  // namespace qorn
