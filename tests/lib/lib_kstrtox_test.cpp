// The parsers against lib/kstrtox.c's rules: bases and prefixes, signs, one trailing newline,
// the range of each type, and the target left alone on failure.
#include <climits>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include <platform/errno.h>
#include <platform/kstrtox.h>

namespace {

struct U64Case {
    const char *what;
    const char *text;
    unsigned int base;
    int ret;
    unsigned long long value;
};

const U64Case kU64Cases[] = {
    {"decimal", "42", 10, 0, 42},
    {"plus sign", "+42", 10, 0, 42},
    {"trailing newline", "42\n", 10, 0, 42},
    {"two newlines", "42\n\n", 10, -EINVAL, 0},
    {"leading space", " 42", 10, -EINVAL, 0},
    {"trailing space", "42 ", 10, -EINVAL, 0},
    {"minus", "-1", 10, -EINVAL, 0},
    {"minus zero", "-0", 10, -EINVAL, 0},
    {"two signs", "++1", 10, -EINVAL, 0},
    {"empty", "", 10, -EINVAL, 0},
    {"newline only", "\n", 10, -EINVAL, 0},
    {"sign only", "+", 10, -EINVAL, 0},
    {"max", "18446744073709551615", 10, 0, ULLONG_MAX},
    {"max plus one", "18446744073709551616", 10, -ERANGE, 0},
    {"overflow before garbage", "99999999999999999999x", 10, -ERANGE, 0},
    {"leading zeros decimal", "000123", 10, 0, 123},
    {"hex digits in base 10", "12a", 10, -EINVAL, 0},
    {"base 16", "ff", 16, 0, 255},
    {"base 16 upper", "FF", 16, 0, 255},
    {"base 16 with 0x", "0xff", 16, 0, 255},
    {"base 16 with 0X", "0Xff", 16, 0, 255},
    {"base 16 lone 0x", "0x", 16, -EINVAL, 0},
    {"base 16 max", "ffffffffffffffff", 16, 0, ULLONG_MAX},
    {"base 16 overflow", "10000000000000000", 16, -ERANGE, 0},
    {"base 8", "777", 8, 0, 0777},
    {"base 8 digit 8", "8", 8, -EINVAL, 0},
    {"base 8 no 0x", "0x10", 8, -EINVAL, 0},
    {"base 0 decimal", "10", 0, 0, 10},
    {"base 0 hex", "0x10", 0, 0, 16},
    {"base 0 octal", "010", 0, 0, 8},
    {"base 0 zero", "0", 0, 0, 0},
    {"base 0 zero newline", "0\n", 0, 0, 0},
    {"base 0 lone 0x", "0x", 0, -EINVAL, 0},
    {"base 0 0x non-hex", "0xg", 0, -EINVAL, 0},
    {"base 0 octal bad digit", "09", 0, -EINVAL, 0},
    {"base 0 plus hex", "+0x1f", 0, 0, 31},
    {"base 10 rejects 0x", "0x10", 10, -EINVAL, 0},
};

class KstrtoxTest : public ::testing::Test {};

TEST_F(KstrtoxTest, Kstrtoull_Table) {
    for (const U64Case &c : kU64Cases) {
        unsigned long long v = 0xdeadbeef;
        EXPECT_EQ(kstrtoull(c.text, c.base, &v), c.ret) << c.what << ": \"" << c.text << "\"";
        EXPECT_EQ(v, c.ret ? 0xdeadbeefULL : c.value) << c.what << ": \"" << c.text << "\"";
    }
}

struct SignedCase {
    const char *what;
    const char *text;
    int ret;
    long long value;
};

const SignedCase kS64Cases[] = {
    {"negative", "-42", 0, -42},
    {"positive with plus", "+42", 0, 42},
    {"minus zero", "-0", 0, 0},
    {"min", "-9223372036854775808", 0, LLONG_MIN},
    {"below min", "-9223372036854775809", -ERANGE, 0},
    {"max", "9223372036854775807", 0, LLONG_MAX},
    {"above max", "9223372036854775808", -ERANGE, 0},
    {"minus plus", "-+1", -EINVAL, 0},
    {"plus minus", "+-1", -EINVAL, 0},
    {"double minus", "--1", -EINVAL, 0},
    {"lone minus", "-", -EINVAL, 0},
    {"negative newline", "-7\n", 0, -7},
};

TEST_F(KstrtoxTest, Kstrtoll_Table) {
    for (const SignedCase &c : kS64Cases) {
        long long v = 77;
        EXPECT_EQ(kstrtoll(c.text, 10, &v), c.ret) << c.what << ": \"" << c.text << "\"";
        EXPECT_EQ(v, c.ret ? 77 : c.value) << c.what;
    }
}

TEST_F(KstrtoxTest, KstrtollHexNegative_ParsesMagnitude) {
    long long v = 0;
    ASSERT_EQ(kstrtoll("-0x10", 0, &v), 0);
    EXPECT_EQ(v, -16);
}

// Each narrow type at and just past its limits.
template <typename T>
struct Bound {
    const char *text;
    int ret;
    T value;
};

template <typename T, typename F>
void check_bounds(const char *type, F parse, std::initializer_list<Bound<T>> cases) {
    for (const Bound<T> &c : cases) {
        T v = static_cast<T>(99);
        EXPECT_EQ(parse(c.text, 10, &v), c.ret) << type << " \"" << c.text << "\"";
        EXPECT_EQ(v, c.ret ? static_cast<T>(99) : c.value) << type << " \"" << c.text << "\"";
    }
}

TEST_F(KstrtoxTest, NarrowTypes_RangeAtEachBoundary) {
    check_bounds<unsigned int>("uint", kstrtouint,
                               {{"4294967295", 0, UINT_MAX},
                                {"4294967296", -ERANGE, 0},
                                {"-1", -EINVAL, 0},
                                {"+0", 0, 0}});
    check_bounds<int>("int", kstrtoint,
                      {{"2147483647", 0, INT_MAX},
                       {"2147483648", -ERANGE, 0},
                       {"-2147483648", 0, INT_MIN},
                       {"-2147483649", -ERANGE, 0},
                       {"-5\n", 0, -5},
                       {"5\n\n", -EINVAL, 0}});
    check_bounds<u16>("u16", kstrtou16, {{"65535", 0, 65535}, {"65536", -ERANGE, 0}});
    check_bounds<s16>("s16", kstrtos16,
                      {{"32767", 0, 32767},
                       {"32768", -ERANGE, 0},
                       {"-32768", 0, -32768},
                       {"-32769", -ERANGE, 0}});
    check_bounds<u8>("u8", kstrtou8, {{"255", 0, 255}, {"256", -ERANGE, 0}});
    check_bounds<s8>(
        "s8", kstrtos8,
        {{"127", 0, 127}, {"128", -ERANGE, 0}, {"-128", 0, -128}, {"-129", -ERANGE, 0}});
}

TEST_F(KstrtoxTest, KstrtoulAndKstrtol_AreTheSixtyFourBitParsers) {
    unsigned long ul = 0;
    ASSERT_EQ(kstrtoul("18446744073709551615", 10, &ul), 0);
    EXPECT_EQ(ul, ULONG_MAX);
    long l = 0;
    ASSERT_EQ(kstrtol("-9223372036854775808", 10, &l), 0);
    EXPECT_EQ(l, LONG_MIN);
}

TEST_F(KstrtoxTest, Kstrtobool_AcceptedSet) {
    struct {
        const char *text;
        int ret;
        bool value;
    } cases[] = {
        {"y", 0, true},
        {"Y", 0, true},
        {"1", 0, true},
        {"yes", 0, true},
        {"10", 0, true},
        {"1\n", 0, true},
        {"on", 0, true},
        {"ON", 0, true},
        {"oN\n", 0, true},
        {"n", 0, false},
        {"N", 0, false},
        {"0", 0, false},
        {"no", 0, false},
        {"off", 0, false},
        {"of", 0, false},
        {"OFF", 0, false},
        {"o", -EINVAL, false},
        {"ox", -EINVAL, false},
        {"", -EINVAL, false},
        {"t", -EINVAL, false},
        {"true", -EINVAL, false},
        {"f", -EINVAL, false},
        {"false", -EINVAL, false},
        {" y", -EINVAL, false},
        {"2", -EINVAL, false},
    };
    for (const auto &c : cases) {
        for (bool initial : {false, true}) {
            bool v = initial;
            EXPECT_EQ(kstrtobool(c.text, &v), c.ret) << "\"" << c.text << "\"";
            EXPECT_EQ(v, c.ret ? initial : c.value) << "\"" << c.text << "\"";
        }
    }
    bool v = true;
    EXPECT_EQ(kstrtobool(nullptr, &v), -EINVAL);
}

TEST_F(KstrtoxTest, FromUser_CutsToTheLongestValidText) {
    unsigned int u = 0;
    const char text[] = "123\n";
    ASSERT_EQ(kstrtouint_from_user(text, 4, 10, &u), 0);
    EXPECT_EQ(u, 123u);
    // The count, not a NUL, ends the user text.
    ASSERT_EQ(kstrtouint_from_user("4567", 2, 10, &u), 0);
    EXPECT_EQ(u, 45u);
    bool b = false;
    ASSERT_EQ(kstrtobool_from_user("on\n", 3, &b), 0);
    EXPECT_TRUE(b);
    int i = 5;
    EXPECT_EQ(kstrtoint_from_user(nullptr, 3, 10, &i), -EFAULT);
    EXPECT_EQ(i, 5);
}

TEST_F(KstrtoxTest, SimpleStrtoul_StopsAtFirstNonDigit) {
    struct {
        const char *text;
        unsigned int base;
        unsigned long value;
        size_t consumed;
    } cases[] = {
        {"123abc", 10, 123, 3}, {"0x1fz", 0, 31, 4}, {"017", 0, 15, 3}, {"ff", 16, 255, 2},
        {"  12", 10, 0, 0},     {"+12", 10, 0, 0},   {"", 10, 0, 0},    {"0x", 16, 0, 2},
    };
    for (const auto &c : cases) {
        char *end = nullptr;
        EXPECT_EQ(simple_strtoul(c.text, &end, c.base), c.value) << "\"" << c.text << "\"";
        EXPECT_EQ(static_cast<size_t>(end - c.text), c.consumed) << "\"" << c.text << "\"";
    }
    char *end = nullptr;
    EXPECT_EQ(simple_strtol("-12x", &end, 10), -12);
    EXPECT_EQ(*end, 'x');
    EXPECT_EQ(simple_strtoll("-0x10", nullptr, 0), -16);
}

}  // namespace
