// The uevent environments of chgnotify as plain logic: which event and bundle types are
// supported and the exact strings they build, without a bound device.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include "chgnotify/chgnotify.h"

#include <platform/errno.h>

namespace {

// Built into a buffer that starts out dirty, so that the zero-filling shows.
std::string build(int type, int value, int *ret, char (&buf)[CHG_UEVENT_STR_LEN]) {
    memset(buf, 'x', sizeof(buf));
    *ret = chg_uevent_build(type, value, buf);
    return std::string(buf, strnlen(buf, sizeof(buf)));
}

bool zero_after_string(const char (&buf)[CHG_UEVENT_STR_LEN]) {
    for (size_t i = strnlen(buf, sizeof(buf)); i < sizeof(buf); i++)
        if (buf[i])
            return false;
    return true;
}

struct Case {
    const char *what;
    int type, value;
    const char *expect;  // null: rejected
};

const Case kCases[] = {
    {"default type ignores the value", 0, 77, "CHG_UEVENT_DEFAULT_TYPE"},
    {"soc decimal", 1, 55, "POWER_SUPPLY_SOC_DECIMAL=55"},
    {"soc decimal rate", 2, 3, "POWER_SUPPLY_SOC_DECIMAL_RATE=3"},
    {"quick charge type", 3, 1, "POWER_SUPPLY_QUICK_CHARGE_TYPE=1"},
    {"shutdown delay", 4, 0, "POWER_SUPPLY_SHUTDOWN_DELAY=0"},
    {"negative connector temperature", 5, -3, "POWER_SUPPLY_CONNECTOR_TEMP=-3"},
    {"ntc alarm", 6, 1, "POWER_SUPPLY_NTC_ALARM=1"},
    {"moisture detection", 7, 2, "POWER_SUPPLY_MOISTURE_DET_STS=2"},
    {"reverse quick charge", 8, 4, "POWER_SUPPLY_REVERSE_QUICK_CHARGE=4"},
    {"largest value", 8, INT_MAX, "POWER_SUPPLY_REVERSE_QUICK_CHARGE=2147483647"},
    {"cc short ignores the value", 10, -9, "POWER_SUPPLY_CC_SHORT_VBUS"},
    {"type 9 has no entry", 9, 1, nullptr},
    {"type above the table", 11, 1, nullptr},
    {"negative type", -1, 1, nullptr},
    {"lowest type wraps past the unsigned range test", INT_MIN, 1, nullptr},
    {"highest type", INT_MAX, 1, nullptr},
};

TEST(ChgUeventBuild, EveryTypeByTable) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(std::string(c.what) + ": type " + std::to_string(c.type) + " value " +
                     std::to_string(c.value));
        char buf[CHG_UEVENT_STR_LEN];
        int ret;
        std::string s = build(c.type, c.value, &ret, buf);
        if (c.expect) {
            EXPECT_EQ(ret, 0);
            EXPECT_EQ(s, c.expect);
        } else {
            EXPECT_EQ(ret, -EINVAL);
            EXPECT_EQ(s, "");
        }
        EXPECT_TRUE(zero_after_string(buf));
    }
}

TEST(ChgUeventBuild, LongestStringSentWhole) {
    char buf[CHG_UEVENT_STR_LEN];
    int ret;
    std::string s = build(8, INT_MIN, &ret, buf);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(s, "POWER_SUPPLY_REVERSE_QUICK_CHARGE=-2147483648");
    EXPECT_EQ(s.size(), 45u);
    EXPECT_TRUE(zero_after_string(buf));
}

TEST(ChgUeventBuild, PrefixTableShape) {
    // Value-carrying entries end in '=', the bare ones do not, and 9 is empty.
    for (int t = 1; t <= 8; t++) {
        ASSERT_NE(chgnotify_prefix_str[t], nullptr) << t;
        EXPECT_EQ(std::string(chgnotify_prefix_str[t]).back(), '=') << t;
    }
    EXPECT_STREQ(chgnotify_prefix_str[0], "CHG_UEVENT_DEFAULT_TYPE");
    EXPECT_STREQ(chgnotify_prefix_str[10], "POWER_SUPPLY_CC_SHORT_VBUS");
    EXPECT_EQ(chgnotify_prefix_str[9], nullptr);
}

TEST(ChgUeventBundle, QuickChargeAndSocInOrder) {
    EXPECT_EQ(chg_uevent_bundle_nr_values(0), 3);
    const int values[] = {1, 55, 3};
    chg_uevent_bundle b;
    memset(&b, 'x', sizeof(b));
    ASSERT_EQ(chg_uevent_bundle_build(0, values, &b), 3);
    ASSERT_EQ(b.envp[0], b.str[0]);
    ASSERT_EQ(b.envp[1], b.str[1]);
    ASSERT_EQ(b.envp[2], b.str[2]);
    EXPECT_STREQ(b.envp[0], "POWER_SUPPLY_QUICK_CHARGE_TYPE=1");
    EXPECT_STREQ(b.envp[1], "POWER_SUPPLY_SOC_DECIMAL=55");
    EXPECT_STREQ(b.envp[2], "POWER_SUPPLY_SOC_DECIMAL_RATE=3");
    for (int i = 3; i <= CHG_UEVENT_BUNDLE_MAX; i++)
        EXPECT_EQ(b.envp[i], nullptr) << i;
    for (int i = 3; i < CHG_UEVENT_BUNDLE_MAX; i++)
        EXPECT_EQ(b.str[i][0], '\0') << i;
}

TEST(ChgUeventBundle, ExtremeValuesFitWhole) {
    const int values[] = {INT_MIN, INT_MAX, -1};
    chg_uevent_bundle b;
    ASSERT_EQ(chg_uevent_bundle_build(0, values, &b), 3);
    EXPECT_STREQ(b.envp[0], "POWER_SUPPLY_QUICK_CHARGE_TYPE=-2147483648");
    EXPECT_STREQ(b.envp[1], "POWER_SUPPLY_SOC_DECIMAL=2147483647");
    EXPECT_STREQ(b.envp[2], "POWER_SUPPLY_SOC_DECIMAL_RATE=-1");
}

TEST(ChgUeventBundle, OtherTypesRejectedWithoutReadingValues) {
    for (int type : {1, 2, -1, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(chg_uevent_bundle_nr_values(type), -EINVAL);
        chg_uevent_bundle b;
        memset(&b, 'x', sizeof(b));
        // A null value array: a rejected type must not read it.
        EXPECT_EQ(chg_uevent_bundle_build(type, nullptr, &b), -EINVAL);
        for (char *p : b.envp)
            EXPECT_EQ(p, nullptr);
        for (auto &s : b.str)
            EXPECT_EQ(s[0], '\0');
    }
}

}  // namespace
