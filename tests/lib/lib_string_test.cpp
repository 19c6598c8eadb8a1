// The kernel's own string functions and formatting: strim, strsep, strscpy, strlcpy, strnstr,
// sysfs_streq, kstrndup, scnprintf and the %p extensions.
#include <cstdarg>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <platform/errno.h>
#include <platform/slab.h>
#include <platform/string.h>

namespace {

class StringTest : public ::testing::Test {};

TEST_F(StringTest, Strim_CutsBothEndsInPlace) {
    struct {
        const char *in, *out;
        size_t offset;  // of the result within the buffer
    } cases[] = {
        {"", "", 0},           {"abc", "abc", 0},          {"  abc", "abc", 2},
        {"abc \n", "abc", 0},  {" \t a b \r\n", "a b", 3}, {"   ", "", 0},
        {"\v\fx\v\f", "x", 2}, {"\xa0x\xa0", "x", 1},  // the kernel's isspace has 0xA0
    };
    for (const auto &c : cases) {
        char buf[32];
        strcpy(buf, c.in);
        char *r = strim(buf);
        EXPECT_STREQ(r, c.out) << "\"" << c.in << "\"";
        EXPECT_EQ(static_cast<size_t>(r - buf), c.offset) << "\"" << c.in << "\"";
    }
}

TEST_F(StringTest, Strsep_SplitsAndEndsWithNull) {
    char buf[] = "a,b,,c";
    char *s = buf;
    EXPECT_STREQ(strsep(&s, ","), "a");
    EXPECT_STREQ(strsep(&s, ","), "b");
    EXPECT_STREQ(strsep(&s, ","), "");
    EXPECT_STREQ(strsep(&s, ","), "c");
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(strsep(&s, ","), nullptr);
}

TEST_F(StringTest, Strscpy_ReportsTruncation) {
    char buf[4];
    memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(strscpy(buf, "ab", sizeof(buf)), 2);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(strscpy(buf, "abc", sizeof(buf)), 3);
    EXPECT_EQ(strscpy(buf, "abcd", sizeof(buf)), -E2BIG);
    EXPECT_STREQ(buf, "abc");
    memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(strscpy(buf, "a", 0), -E2BIG);
    EXPECT_EQ(buf[0], 'x');
}

TEST_F(StringTest, Strlcpy_ReturnsSourceLength) {
    char buf[4];
    EXPECT_EQ(strlcpy(buf, "abcdef", sizeof(buf)), 6u);
    EXPECT_STREQ(buf, "abc");
    buf[0] = 'x';
    EXPECT_EQ(strlcpy(buf, "ab", 0), 2u);
    EXPECT_EQ(buf[0], 'x');
}

TEST_F(StringTest, Strncpy_PadsWithNuls) {
    char buf[6];
    memset(buf, 'x', sizeof(buf));
    strncpy(buf, "ab", sizeof(buf));
    EXPECT_EQ(std::string(buf, sizeof(buf)), std::string("ab\0\0\0\0", 6));
}

TEST_F(StringTest, Strnstr_LooksOnlyWithinLength) {
    const char *s = "hello world";
    EXPECT_EQ(strnstr(s, "world", 11), s + 6);
    EXPECT_EQ(strnstr(s, "world", 10), nullptr);
    EXPECT_EQ(strnstr(s, "", 0), s);
    EXPECT_EQ(strnstr(s, "lo", 5), s + 3);
}

TEST_F(StringTest, SysfsStreq_IgnoresOneTrailingNewline) {
    EXPECT_TRUE(sysfs_streq("on", "on"));
    EXPECT_TRUE(sysfs_streq("on", "on\n"));
    EXPECT_TRUE(sysfs_streq("on\n", "on"));
    EXPECT_FALSE(sysfs_streq("on", "on\n\n"));
    EXPECT_FALSE(sysfs_streq("on", "o"));
    EXPECT_FALSE(sysfs_streq("on ", "on"));
    const char *const modes[] = {"off", "low", "high"};
    EXPECT_EQ(sysfs_match_string(modes, "high\n"), 2);
    EXPECT_EQ(sysfs_match_string(modes, "mid"), -EINVAL);
    EXPECT_EQ(match_string(modes, ARRAY_SIZE(modes), "low\n"), -EINVAL);
}

TEST_F(StringTest, Kstrndup_CopiesAtMostNAndTerminates) {
    char *p = kstrndup("abcdef", 3, GFP_KERNEL);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "abc");
    kfree(p);
    p = kstrndup("ab", 10, GFP_KERNEL);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "ab");
    kfree(p);
    EXPECT_EQ(kstrndup(nullptr, 3, GFP_KERNEL), nullptr);
    p = kstrdup("xyz", GFP_KERNEL);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "xyz");
    kfree(p);
}

TEST_F(StringTest, Scnprintf_ReturnsWhatWasWritten) {
    char buf[8];
    const std::string ten = "0123456789";
    EXPECT_EQ(scnprintf(buf, sizeof(buf), "%s", ten.c_str()), 7);
    EXPECT_STREQ(buf, "0123456");
    EXPECT_EQ(scnprintf(buf, sizeof(buf), "%d", 42), 2);
    EXPECT_EQ(scnprintf(buf, 1, "%d", 42), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(scnprintf(nullptr, 0, "%d", 42), 0);
    // Building a text piece by piece stops cleanly at the end of the buffer.
    char line[10];
    int len = 0;
    for (int i = 0; i < 5; i++)
        len += scnprintf(line + len, sizeof(line) - len, "%d,", i * 11);
    EXPECT_EQ(len, 9);
    EXPECT_STREQ(line, "0,11,22,3");
}

TEST_F(StringTest, Kasprintf_AllocatesTheText) {
    char *p = kasprintf(GFP_KERNEL, "%s-%03d", "evt", 7);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "evt-007");
    kfree(p);
}

TEST_F(StringTest, PointerExtensions_PrintTheAddress) {
    char buf[64], plain[64];
    void *ptr = reinterpret_cast<void *>(0x1234);
    snprintf(plain, sizeof(plain), "at %p!", ptr);
    scnprintf(buf, sizeof(buf), "at %pS!", ptr);
    EXPECT_STREQ(buf, plain);
    scnprintf(buf, sizeof(buf), "at %ps!", ptr);
    EXPECT_STREQ(buf, plain);
    // The letters after %p belong to it; the next conversion still gets its argument.
    snprintf(plain, sizeof(plain), "%% %p%d", ptr, 5);
    scnprintf(buf, sizeof(buf), "%% %pKx%d", ptr, 5);
    EXPECT_STREQ(buf, plain);
}

}  // namespace
