// Notifier chains: priority order, NOTIFY_STOP_MASK, results, unregistration, injected
// registration failure and module ownership.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simkernel/kernel/fault.h"
#include "tests/kernel/sched_test_util.h"

#include <platform/notifier.h>

namespace {

std::vector<std::string> calls;

struct Block {
    struct notifier_block nb;
    const char *name;
    int result;
};

int record_call(struct notifier_block *nb, unsigned long action, void *data) {
    Block *b = container_of(nb, Block, nb);
    calls.push_back(std::string(b->name) + ":" + std::to_string(action) + ":" +
                    static_cast<const char *>(data));
    return b->result;
}

class NotifierChain : public ::testing::Test {
  protected:
    void SetUp() override { calls.clear(); }
    void TearDown() override { sim::fault_clear(); }
    Block low_{{record_call, nullptr, 0}, "low", NOTIFY_OK};
    Block mid_{{record_call, nullptr, 5}, "mid", NOTIFY_DONE};
    Block high_{{record_call, nullptr, 10}, "high", NOTIFY_OK};
    Block mid2_{{record_call, nullptr, 5}, "mid2", NOTIFY_OK};
};

TEST_F(NotifierChain, CallChain_RunsByPriorityAndReturnsLastResult) {
    ATOMIC_NOTIFIER_HEAD(chain);
    for (Block *b : {&low_, &mid_, &high_, &mid2_})
        ASSERT_EQ(atomic_notifier_chain_register(&chain, &b->nb), 0);
    char arg[] = "x";
    EXPECT_EQ(atomic_notifier_call_chain(&chain, 3, arg), NOTIFY_OK);
    // Equal priorities run in registration order.
    EXPECT_EQ(calls, (std::vector<std::string>{"high:3:x", "mid:3:x", "mid2:3:x", "low:3:x"}));
    for (Block *b : {&low_, &mid_, &high_, &mid2_})
        EXPECT_EQ(atomic_notifier_chain_unregister(&chain, &b->nb), 0);
}

TEST_F(NotifierChain, StopMask_EndsTheCall) {
    BLOCKING_NOTIFIER_HEAD(chain);
    mid_.result = NOTIFY_STOP;
    for (Block *b : {&low_, &mid_, &high_})
        blocking_notifier_chain_register(&chain, &b->nb);
    char arg[] = "y";
    EXPECT_EQ(blocking_notifier_call_chain(&chain, 1, arg), NOTIFY_STOP);
    EXPECT_EQ(calls, (std::vector<std::string>{"high:1:y", "mid:1:y"}));
    calls.clear();
    mid_.result = notifier_from_errno(-EINVAL);
    EXPECT_EQ(notifier_to_errno(blocking_notifier_call_chain(&chain, 2, arg)), -EINVAL);
    EXPECT_EQ(calls.size(), 2u);
    for (Block *b : {&low_, &mid_, &high_})
        blocking_notifier_chain_unregister(&chain, &b->nb);
}

TEST_F(NotifierChain, EmptyChain_ReturnsDone) {
    RAW_NOTIFIER_HEAD(chain);
    EXPECT_EQ(raw_notifier_call_chain(&chain, 0, nullptr), NOTIFY_DONE);
    BLOCKING_NOTIFIER_HEAD(bchain);
    EXPECT_EQ(blocking_notifier_call_chain(&bchain, 0, nullptr), NOTIFY_DONE);
}

TEST_F(NotifierChain, Unregister_OfUnknownBlockIsEnoent) {
    RAW_NOTIFIER_HEAD(chain);
    raw_notifier_chain_register(&chain, &low_.nb);
    EXPECT_EQ(raw_notifier_chain_unregister(&chain, &high_.nb), -ENOENT);
    EXPECT_EQ(raw_notifier_chain_unregister(&chain, &low_.nb), 0);
    EXPECT_EQ(raw_notifier_chain_unregister(&chain, &low_.nb), -ENOENT);
}

TEST_F(NotifierChain, DoubleRegister_WarnsAndKeepsOneEntry) {
    RAW_NOTIFIER_HEAD(chain);
    uint64_t mark = sim::log_next_seq();
    EXPECT_EQ(raw_notifier_chain_register(&chain, &low_.nb), 0);
    EXPECT_EQ(raw_notifier_chain_register(&chain, &low_.nb), 0);
    EXPECT_TRUE(simtest::log_has(mark, "double register detected"));
    char arg[] = "z";
    raw_notifier_call_chain(&chain, 0, arg);
    EXPECT_EQ(calls.size(), 1u);
    raw_notifier_chain_unregister(&chain, &low_.nb);
}

TEST_F(NotifierChain, ModuleBlock_IsResourceAndInjectedFailureLeavesChainAlone) {
    simtest::FakeModule mod = SIMTEST_SCHEDMOD();
    ATOMIC_NOTIFIER_HEAD(chain);
    struct notifier_block nb = {simtest::schedmod_notifier, nullptr, 0};
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::notifier_register);
    rule.module = "schedmod";
    sim::fault_arm(rule);
    EXPECT_EQ(simtest::schedmod_register(&chain, &nb), -ENOMEM);
    EXPECT_EQ(chain.head, nullptr);
    EXPECT_TRUE(sim::resource_list(mod.mod()).empty());
    EXPECT_EQ(simtest::schedmod_register(&chain, &nb), 0);
    auto left = sim::resource_list(mod.mod());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].kind, "notifier");
    EXPECT_EQ(left[0].name, "schedmod_notifier");
    EXPECT_EQ(atomic_notifier_call_chain(&chain, 0, nullptr), NOTIFY_OK);
    sim::resource_release_all(mod.mod());  // the module "forgot" to unregister
    EXPECT_EQ(chain.head, nullptr);
}

}  // namespace
