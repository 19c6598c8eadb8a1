// Copies from and to user memory: partial copies at a faulting range, the zero-filled tail of
// a short copy from user memory, and injected copy failures.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/uaccess.h"
#include "tests/kernel/fake_module.h"

namespace {

class UaccessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (size_t i = 0; i < sizeof(user); i++)
            user[i] = static_cast<char>('a' + i);
        memset(kbuf, 'K', sizeof(kbuf));
    }
    void TearDown() override { sim::fault_clear(); }

    void arm_copy_fault(std::string module) {
        sim::FaultRule r;
        r.op = std::string(sim::fault_op::copy_from_user);
        r.module = std::move(module);
        r.mode = sim::FaultRule::Mode::next;
        r.count = 1;
        sim::fault_arm(r);
    }

    char user[16];
    char kbuf[16];
};

TEST_F(UaccessTest, CopyFromUser_WholeBuffer) {
    EXPECT_EQ(copy_from_user(kbuf, user, sizeof(user)), 0u);
    EXPECT_EQ(memcmp(kbuf, user, sizeof(user)), 0);
}

TEST_F(UaccessTest, CopyFromUser_StopsAtFaultingByteAndZeroFillsTheRest) {
    sim::UserFaultRange bad(user + 10, 100);
    EXPECT_EQ(copy_from_user(kbuf, user, sizeof(user)), 6u);
    EXPECT_EQ(memcmp(kbuf, user, 10), 0);
    EXPECT_EQ(std::string(kbuf + 10, 6), std::string(6, '\0'));
    // A copy that ends before the range is whole.
    memset(kbuf, 'K', sizeof(kbuf));
    EXPECT_EQ(copy_from_user(kbuf, user, 10), 0u);
    // A range that covers the start fails the copy at once.
    EXPECT_EQ(copy_from_user(kbuf, user + 12, 4), 4u);
}

TEST_F(UaccessTest, CopyFromUser_RangeRemovedCopiesAgain) {
    { sim::UserFaultRange bad(user, 1); }
    EXPECT_EQ(copy_from_user(kbuf, user, sizeof(user)), 0u);
}

TEST_F(UaccessTest, CopyFromUser_NullPointerFaults) {
    EXPECT_EQ(copy_from_user(kbuf, nullptr, 8), 8u);
    EXPECT_EQ(std::string(kbuf, 8), std::string(8, '\0'));
    EXPECT_EQ(kbuf[8], 'K');
    EXPECT_EQ(copy_from_user(kbuf, nullptr, 0), 0u);
    EXPECT_FALSE(access_ok(nullptr, 1));
    EXPECT_TRUE(access_ok(user, sizeof(user)));
}

TEST_F(UaccessTest, CopyToUser_PartialLeavesTheRestAlone) {
    sim::UserFaultRange bad(user + 4, 4);
    EXPECT_EQ(copy_to_user(user, kbuf, 6), 2u);
    EXPECT_EQ(std::string(user, 6), "KKKKef");
}

TEST_F(UaccessTest, InjectedCopyFault_FailsTheWholeCopy) {
    arm_copy_fault("");
    EXPECT_EQ(copy_from_user(kbuf, user, sizeof(user)), sizeof(user));
    EXPECT_EQ(std::string(kbuf, sizeof(kbuf)), std::string(sizeof(kbuf), '\0'));
    EXPECT_EQ(copy_from_user(kbuf, user, sizeof(user)), 0u);  // only the next one
}

TEST_F(UaccessTest, InjectedCopyFault_OnlyForTheNamedModule) {
    simtest::FakeModule a{SIMTEST_FAKE_MODULE(moda, "fakemod_a")};
    simtest::FakeModule b{SIMTEST_FAKE_MODULE(modb, "fakemod_b")};
    arm_copy_fault("fakemod_a");
    EXPECT_EQ(b.copy_from_user(kbuf, user, 4), 0u);
    EXPECT_EQ(copy_from_user(kbuf, user, 4), 0u);
    EXPECT_EQ(a.copy_from_user(kbuf, user, 4), 4u);
    EXPECT_EQ(sim::fault_injected_count(sim::fault_op::copy_from_user), 1u);
}

TEST_F(UaccessTest, GetUserPutUser_FaultGivesEfault) {
    int value = 7, got = -1;
    EXPECT_EQ(get_user(got, &value), 0);
    EXPECT_EQ(got, 7);
    EXPECT_EQ(put_user(9, &value), 0);
    EXPECT_EQ(value, 9);
    sim::UserFaultRange bad(&value, sizeof(value));
    EXPECT_EQ(get_user(got, &value), -EFAULT);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(put_user(3, &value), -EFAULT);
}

}  // namespace
