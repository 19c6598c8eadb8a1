// Wakeup sources: activation, relax, timeouts on the virtual clock, and their sysfs statistics.
#include "simkernel/drivers/base/power/wakeup_host.h"
#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/sim_time.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <platform/pm_wakeup.h>

namespace {

class WakeupSourceTest : public ::testing::Test {
  protected:
    void SetUp() override { ws_ = wakeup_source_register(nullptr, "test_ws"); }
    void TearDown() override { wakeup_source_unregister(ws_); }

    std::string stat(const char *file) const {
        std::string out;
        EXPECT_EQ(sim::vfs::read_file(dir() + file, &out), 0) << file;
        return out;
    }
    std::string dir() const { return "/sys/class/wakeup/wakeup" + std::to_string(ws_->id) + "/"; }

    struct wakeup_source *ws_ = nullptr;
};

TEST_F(WakeupSourceTest, Register_ShowsSourceInSysClassWakeup) {
    ASSERT_NE(ws_, nullptr);
    EXPECT_EQ(stat("name"), "test_ws\n");
    EXPECT_EQ(stat("active_count"), "0\n");
    EXPECT_EQ(stat("event_count"), "0\n");
    EXPECT_EQ(stat("active_time_ms"), "0\n");
    EXPECT_EQ(sim::wakeup_source_find("test_ws"), ws_);
}

TEST_F(WakeupSourceTest, Unregister_RemovesDirectoryAndFreesId) {
    std::string d = dir();
    int id = ws_->id;
    wakeup_source_unregister(ws_);
    sim::vfs::Stat st;
    EXPECT_NE(sim::vfs::stat(d, &st), 0);
    EXPECT_EQ(sim::wakeup_source_find("test_ws"), nullptr);
    ws_ = wakeup_source_register(nullptr, "again");
    EXPECT_EQ(ws_->id, id);
}

TEST_F(WakeupSourceTest, StayAwakeThenRelax_CountsActiveTime) {
    __pm_stay_awake(ws_);
    EXPECT_TRUE(ws_->active);
    sim::time_advance(250'000'000);
    EXPECT_EQ(stat("active_time_ms"), "250\n");
    EXPECT_EQ(stat("total_time_ms"), "250\n");
    __pm_relax(ws_);
    EXPECT_FALSE(ws_->active);
    EXPECT_EQ(stat("active_count"), "1\n");
    EXPECT_EQ(stat("event_count"), "1\n");
    EXPECT_EQ(stat("active_time_ms"), "0\n");
    EXPECT_EQ(stat("total_time_ms"), "250\n");
    EXPECT_EQ(stat("max_time_ms"), "250\n");
    EXPECT_EQ(stat("expire_count"), "0\n");
}

TEST_F(WakeupSourceTest, WsEvent_ExpiresAfterTimeout) {
    pm_wakeup_ws_event(ws_, 30000, false);
    EXPECT_TRUE(ws_->active);
    sim::time_advance(29'000'000'000);
    EXPECT_TRUE(ws_->active);
    sim::time_advance(1'100'000'000);
    EXPECT_FALSE(ws_->active);
    EXPECT_EQ(stat("expire_count"), "1\n");
    EXPECT_EQ(stat("active_count"), "1\n");
}

TEST_F(WakeupSourceTest, WsEvent_RelaxedEarlyDoesNotExpire) {
    pm_wakeup_ws_event(ws_, 30000, false);
    __pm_relax(ws_);
    sim::time_advance(31'000'000'000);
    EXPECT_EQ(stat("expire_count"), "0\n");
    EXPECT_EQ(stat("active_count"), "1\n");
}

TEST_F(WakeupSourceTest, WsEvent_LaterEventExtendsButShorterDoesNot) {
    pm_wakeup_ws_event(ws_, 1000, false);
    pm_wakeup_ws_event(ws_, 3000, false);
    pm_wakeup_ws_event(ws_, 500, false);
    sim::time_advance(2'000'000'000);
    EXPECT_TRUE(ws_->active);
    sim::time_advance(1'100'000'000);
    EXPECT_FALSE(ws_->active);
    EXPECT_EQ(stat("event_count"), "3\n");
    EXPECT_EQ(stat("active_count"), "1\n");
}

TEST_F(WakeupSourceTest, WsEvent_ZeroTimeoutEndsAtOnce) {
    pm_wakeup_ws_event(ws_, 0, false);
    EXPECT_FALSE(ws_->active);
    EXPECT_EQ(stat("event_count"), "1\n");
    EXPECT_EQ(stat("active_count"), "1\n");
}

TEST(WakeupSourceNullTest, NullSource_Ignored) {
    pm_wakeup_ws_event(nullptr, 30000, false);
    __pm_stay_awake(nullptr);
    __pm_relax(nullptr);
    wakeup_source_unregister(nullptr);
}

TEST(WakeupSourceFaultTest, Register_FailsByInjection) {
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::wakeup_source_register);
    sim::fault_arm(rule);
    EXPECT_EQ(wakeup_source_register(nullptr, "never"), nullptr);
    sim::fault_clear();
    EXPECT_EQ(sim::wakeup_source_find("never"), nullptr);
}

TEST_F(WakeupSourceTest, Events_ConcurrentWithReaders) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++)
        threads.emplace_back([&, i] {
            for (int j = 0; j < 200; j++) {
                if (i % 2) {
                    pm_wakeup_ws_event(ws_, 100, false);
                    __pm_relax(ws_);
                } else {
                    std::string s;
                    EXPECT_EQ(sim::vfs::read_file(dir() + "active_count", &s), 0);
                }
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(stat("event_count"), "400\n");
    EXPECT_FALSE(ws_->active);
}

}  // namespace
