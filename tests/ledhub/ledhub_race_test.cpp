// Camera calls racing the end of a registration: a camera that looked the device up keeps
// calling while the registrant's device is unbound and its private data freed. Each call must
// either reach the registrant while it is still bound or be turned away with -EINVAL; none may
// run in the registrant after its unbinding has returned. AddressSanitizer and ThreadSanitizer
// runs check the memory side.
#include "tests/ledhub/ledhub_test_util.h"

#include <atomic>
#include <thread>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include "simkernel/kernel/task.h"

namespace ledhub_test {
namespace {

constexpr int kCallers = 3;
constexpr int kCycles = 40;

struct Registrant {
    std::atomic<bool> unbound{false};
    std::atomic<int> late_calls{0};
    int *data = nullptr;  // the registrant's private data, freed once it is unbound
};

int race_flash_curr(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID, int val) {
    auto *r = static_cast<Registrant *>(led->private_data);
    if (r->unbound.load())
        r->late_calls++;
    // Touches what the registrant frees when it goes.
    __atomic_store_n(r->data, val, __ATOMIC_RELAXED);
    return 1;
}

const struct subpmic_led_ops race_ops = {
    .set_led_flash_curr = race_flash_curr,
    .set_led_flash_time = nullptr,
    .set_led_flash_enable = nullptr,
    .set_led_torch_curr = nullptr,
    .set_led_torch_enable = nullptr,
};

class LedhubRaceTest : public LedhubTest {};

TEST_F(LedhubRaceTest, CameraCallsAgainstParentUnbind_ReachTheRegistrantOrAreTurnedAway) {
    std::vector<struct task_struct *> tasks;
    for (int i = 0; i < kCallers; i++)
        tasks.push_back(sim::task_create_user("camera" + std::to_string(i)));

    int reached = 0, turned_away = 0, wrong = 0, late = 0;
    for (int cycle = 0; cycle < kCycles; cycle++) {
        Registrant reg;
        reg.data = new int(0);
        auto parent = std::make_unique<ParentDevice>(100 + cycle);
        ASSERT_TRUE(parent->bound());
        ASSERT_FALSE(IS_ERR_OR_NULL(x_.reg("race_led", parent->dev(), &race_ops, &reg)));
        struct subpmic_led_dev *led = x_.find("race_led");
        ASSERT_NE(led, nullptr);

        std::atomic<int> ok{0}, away{0}, bad{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> callers;
        for (int i = 0; i < kCallers; i++) {
            callers.emplace_back([&, i] {
                sim::TaskScope as(tasks[i]);
                while (!stop.load()) {
                    int ret = x_.flash_curr(led, SUBPMIC_LED1, i);
                    if (ret == 1)
                        ok++;
                    else if (ret == -EINVAL)
                        away++;
                    else
                        bad++;
                }
            });
        }
        // Unbind while the calls are running, then free what the registrant owned.
        while (ok.load() < cycle % 7 + 1)
            std::this_thread::yield();
        parent->unbind();
        reg.unbound = true;
        delete reg.data;
        reg.data = nullptr;
        // Let every caller see the record turned away at least once before stopping.
        while (away.load() < kCallers && bad.load() == 0)
            std::this_thread::yield();
        stop = true;
        for (auto &t : callers)
            t.join();
        put_device(&led->dev);
        parent.reset();

        reached += ok.load();
        turned_away += away.load();
        wrong += bad.load();
        late += reg.late_calls.load();
    }
    for (struct task_struct *t : tasks)
        sim::task_exit(t);

    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(late, 0);
    EXPECT_GE(reached, kCycles);
    EXPECT_GE(turned_away, kCycles * kCallers);
    EXPECT_EQ(class_entries(), std::vector<std::string>{});
}

}  // namespace
}  // namespace ledhub_test
