// The flash LED class through its exports: registration, lookup by name, private data, the five
// camera calls, and what becomes of records when their parent is unbound or the module stops.
#include "tests/ledhub/ledhub_test_util.h"

namespace ledhub_test {
namespace {

const char kWarning[] = "subpmic_led_register: Expected proper parent device";

// What the registrant's operations saw, and what they answer.
struct Calls {
    int count = 0;
    int slot = 0;
    struct subpmic_led_dev *led = nullptr;
    uint32_t id = 0;
    long value = 0;
    int result = 0;
};
Calls calls;

template <int Slot>
int op_int(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int val) {
    calls.count++;
    calls.slot = Slot;
    calls.led = led;
    calls.id = id;
    calls.value = val;
    return calls.result;
}
template <int Slot>
int op_bool(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, bool on) {
    // The raw byte, so a value other than 0 or 1 would show.
    unsigned char raw;
    static_assert(sizeof(raw) == sizeof(on));
    __builtin_memcpy(&raw, &on, 1);
    calls.count++;
    calls.slot = Slot;
    calls.led = led;
    calls.id = id;
    calls.value = raw;
    return calls.result;
}

const struct subpmic_led_ops full_ops = {
    .set_led_flash_curr = op_int<1>,
    .set_led_flash_time = op_int<2>,
    .set_led_flash_enable = op_bool<3>,
    .set_led_torch_curr = op_int<4>,
    .set_led_torch_enable = op_bool<5>,
};

// The camera calls as one table: slot number and a caller that passes value through.
struct CameraCall {
    const char *name;
    int slot;
    int (*call)(const Ledhub &x, struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int value);
};
const CameraCall camera_calls[] = {
    {"flash_curr", 1,
     [](const Ledhub &x, subpmic_led_dev *l, SUBPMIC_LED_ID id, int v) {
         return x.flash_curr(l, id, v);
     }},
    {"flash_time", 2,
     [](const Ledhub &x, subpmic_led_dev *l, SUBPMIC_LED_ID id, int v) {
         return x.flash_time(l, id, v);
     }},
    {"flash_enable", 3,
     [](const Ledhub &x, subpmic_led_dev *l, SUBPMIC_LED_ID id, int v) {
         return x.flash_enable(l, id, v != 0);
     }},
    {"torch_curr", 4,
     [](const Ledhub &x, subpmic_led_dev *l, SUBPMIC_LED_ID id, int v) {
         return x.torch_curr(l, id, v);
     }},
    {"torch_enable", 5,
     [](const Ledhub &x, subpmic_led_dev *l, SUBPMIC_LED_ID id, int v) {
         return x.torch_enable(l, id, v != 0);
     }},
};

class LedhubClassTest : public LedhubTest {
  protected:
    void SetUp() override {
        LedhubTest::SetUp();
        calls = Calls{};
    }
};

TEST_F(LedhubClassTest, ClassDirectoryLivesWithTheModule) {
    EXPECT_TRUE(exists("/sys/class/subpmic_led_class"));
    unpin();
    simtest::expect_clean_unload("ledhub");
    EXPECT_FALSE(exists("/sys/class/subpmic_led_class"));
}

TEST_F(LedhubClassTest, RegisterWithParentIsVisibleAndFoundByName) {
    ParentDevice parent(1);
    ASSERT_TRUE(parent.bound());
    int priv;
    struct subpmic_led_dev *led = x_.reg("flash_a", parent.dev(), &full_ops, &priv);
    ASSERT_FALSE(IS_ERR_OR_NULL(led)) << err_of(led);
    EXPECT_EQ(log(), std::vector<std::string>{});
    EXPECT_STREQ(led->name, "flash_a");
    EXPECT_EQ(led->ops, &full_ops);
    EXPECT_EQ(led->private_data, &priv);
    EXPECT_EQ(led->dev.parent, parent.dev());
    EXPECT_STREQ(dev_name(&led->dev), "flash_a");
    EXPECT_EQ(class_entries(), std::vector<std::string>{"flash_a"});
    EXPECT_EQ(x_.get_private(led), &priv);

    struct subpmic_led_dev *found = x_.find("flash_a");
    EXPECT_EQ(found, led);
    put_device(&found->dev);
}

TEST_F(LedhubClassTest, RegisterWithNullParentWarnsOnceAndSucceeds) {
    struct subpmic_led_dev *led = x_.reg("flash_b", nullptr, &full_ops, nullptr);
    ASSERT_FALSE(IS_ERR_OR_NULL(led)) << err_of(led);
    EXPECT_EQ(log(), std::vector<std::string>{kWarning});
    EXPECT_EQ(led->dev.parent, nullptr);
    EXPECT_EQ(class_entries(), std::vector<std::string>{"flash_b"});
    // Registered without private data: the lookup hands back null, not an error.
    EXPECT_EQ(x_.get_private(led), nullptr);
}

TEST_F(LedhubClassTest, RegisterWithNullNameOrOpsAllocatesNothing) {
    ParentDevice parent(2);
    uint64_t before = ledhub_allocations();
    // A failure armed for ledhub's next allocation stays armed through refused registrations.
    arm_kmalloc_fault();

    EXPECT_EQ(err_of(x_.reg(nullptr, parent.dev(), &full_ops, nullptr)), -EINVAL);
    EXPECT_EQ(err_of(x_.reg("flash_c", parent.dev(), nullptr, nullptr)), -EINVAL);
    EXPECT_EQ(log(), std::vector<std::string>{});
    // With a null parent too, the warning still comes first.
    EXPECT_EQ(err_of(x_.reg(nullptr, nullptr, nullptr, nullptr)), -EINVAL);
    EXPECT_EQ(log(), std::vector<std::string>{kWarning});

    EXPECT_EQ(sim::fault_injected_count(sim::fault_op::kmalloc), 0u);
    EXPECT_EQ(ledhub_allocations(), before);
    EXPECT_EQ(class_entries(), std::vector<std::string>{});
}

TEST_F(LedhubClassTest, RegisterWhenAllocationFailsReturnsEnomem) {
    ParentDevice parent(3);
    uint64_t before = ledhub_allocations();
    arm_kmalloc_fault();
    EXPECT_EQ(err_of(x_.reg("flash_d", parent.dev(), &full_ops, nullptr)), -ENOMEM);
    EXPECT_EQ(sim::fault_injected_count(sim::fault_op::kmalloc), 1u);
    EXPECT_EQ(ledhub_allocations(), before);
    EXPECT_EQ(class_entries(), std::vector<std::string>{});
    EXPECT_EQ(x_.find("flash_d"), nullptr);
}

TEST_F(LedhubClassTest, RegisterOfATakenNameFailsAndFreesItsRecord) {
    ParentDevice parent(4);
    uint64_t before = ledhub_allocations();
    struct subpmic_led_dev *first = x_.reg("flash_e", parent.dev(), &full_ops, nullptr);
    ASSERT_FALSE(IS_ERR_OR_NULL(first)) << err_of(first);
    uint64_t with_one = ledhub_allocations();
    EXPECT_GT(with_one, before);

    // The name is taken in the class: the driver core's error comes back and the record is
    // freed by its release when the reference is dropped.
    EXPECT_EQ(err_of(x_.reg("flash_e", nullptr, &full_ops, nullptr)), -EEXIST);
    EXPECT_EQ(ledhub_allocations(), with_one);
    EXPECT_EQ(class_entries(), std::vector<std::string>{"flash_e"});
    struct subpmic_led_dev *found = x_.find("flash_e");
    EXPECT_EQ(found, first);
    put_device(&found->dev);
}

TEST_F(LedhubClassTest, RegisterWhenTheParentCannotTakeTheUnbindActionUndoesItself) {
    ParentDevice parent(5);
    uint64_t before = ledhub_allocations();
    // The record is allocated first; the second allocation is the devres action's.
    sim::FaultRule rule;
    rule.op = std::string(sim::fault_op::kmalloc);
    rule.module = "ledhub";
    rule.mode = sim::FaultRule::Mode::nth;
    rule.count = 2;
    sim::fault_arm(rule);
    EXPECT_EQ(err_of(x_.reg("flash_f", parent.dev(), &full_ops, nullptr)), -ENOMEM);
    EXPECT_EQ(sim::fault_injected_count(sim::fault_op::kmalloc), 1u);
    EXPECT_EQ(ledhub_allocations(), before);
    EXPECT_EQ(class_entries(), std::vector<std::string>{});
}

TEST_F(LedhubClassTest, GetPrivateOfNullRecordIsAnErrorPointer) {
    void *p = x_.get_private(nullptr);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(err_of(p), -EINVAL);
}

TEST_F(LedhubClassTest, FindIsExactAndCaseSensitive) {
    ParentDevice parent(6);
    struct subpmic_led_dev *led = x_.reg("subpmic_led", parent.dev(), &full_ops, nullptr);
    ASSERT_FALSE(IS_ERR_OR_NULL(led));
    EXPECT_EQ(x_.find("SUBPMIC_LED"), nullptr);
    EXPECT_EQ(x_.find("Subpmic_led"), nullptr);
    EXPECT_EQ(x_.find("subpmic_le"), nullptr);
    EXPECT_EQ(x_.find("subpmic_led2"), nullptr);
    EXPECT_EQ(x_.find(""), nullptr);
    EXPECT_EQ(x_.find(nullptr), nullptr);
    struct subpmic_led_dev *found = x_.find("subpmic_led");
    EXPECT_EQ(found, led);
    put_device(&found->dev);
}

TEST_F(LedhubClassTest, FindComparesTheRegisteredStringNotACopy) {
    ParentDevice parent(7);
    char name[] = "torch_x";
    struct subpmic_led_dev *led = x_.reg(name, parent.dev(), &full_ops, nullptr);
    ASSERT_FALSE(IS_ERR_OR_NULL(led));
    EXPECT_EQ(led->name, name);
    struct subpmic_led_dev *found = x_.find("torch_x");
    EXPECT_EQ(found, led);
    put_device(&found->dev);
}

TEST_F(LedhubClassTest, CameraCallsHandEachSlotItsArgumentsUnchanged) {
    ParentDevice parent(8);
    struct subpmic_led_dev *led = x_.reg("cam_led", parent.dev(), &full_ops, nullptr);
    ASSERT_FALSE(IS_ERR_OR_NULL(led));
    const auto odd_id = static_cast<SUBPMIC_LED_ID>(0xdeadbeefu);
    for (const CameraCall &c : camera_calls) {
        SCOPED_TRACE(c.name);
        bool toggle = c.slot == 3 || c.slot == 5;
        for (int value : {0, 1, 750, -3}) {
            calls = Calls{};
            calls.result = 0;
            EXPECT_EQ(c.call(x_, led, odd_id, value), 0);
            EXPECT_EQ(calls.count, 1);
            EXPECT_EQ(calls.slot, c.slot);
            EXPECT_EQ(calls.led, led);
            EXPECT_EQ(calls.id, 0xdeadbeefu);
            // On/off reaches the slot as exactly 0 or 1.
            EXPECT_EQ(calls.value, toggle ? long(value != 0) : long(value)) << value;
        }
    }
}

TEST_F(LedhubClassTest, CameraCallsReturnTheSlotResultWhateverItsSign) {
    ParentDevice parent(9);
    struct subpmic_led_dev *led = x_.reg("cam_led", parent.dev(), &full_ops, nullptr);
    ASSERT_FALSE(IS_ERR_OR_NULL(led));
    for (const CameraCall &c : camera_calls) {
        SCOPED_TRACE(c.name);
        for (int result : {7, 1, -EIO, -EBUSY, -EINVAL, -EOPNOTSUPP, -517}) {
            calls.result = result;
            EXPECT_EQ(c.call(x_, led, SUBPMIC_LED2, 1), result);
        }
    }
}

TEST_F(LedhubClassTest, CameraCallsOnANullRecordAreInvalid) {
    for (const CameraCall &c : camera_calls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(x_, nullptr, SUBPMIC_LED1, 1), -EINVAL);
    }
    EXPECT_EQ(calls.count, 0);
}

// Tables each lacking one slot, slot n at index n - 1.
struct subpmic_led_ops partial_ops(int empty_slot) {
    struct subpmic_led_ops ops = full_ops;
    switch (empty_slot) {
        case 1:
            ops.set_led_flash_curr = nullptr;
            break;
        case 2:
            ops.set_led_flash_time = nullptr;
            break;
        case 3:
            ops.set_led_flash_enable = nullptr;
            break;
        case 4:
            ops.set_led_torch_curr = nullptr;
            break;
        case 5:
            ops.set_led_torch_enable = nullptr;
            break;
    }
    return ops;
}
const struct subpmic_led_ops partial_tables[5] = {partial_ops(1), partial_ops(2), partial_ops(3),
                                                  partial_ops(4), partial_ops(5)};

TEST_F(LedhubClassTest, AnEmptySlotIsNotSupportedWhileTheOthersWork) {
    ParentDevice parent(10);
    const char *names[5] = {"no_flash_curr", "no_flash_time", "no_flash_enable", "no_torch_curr",
                            "no_torch_enable"};
    for (const CameraCall &empty : camera_calls) {
        SCOPED_TRACE(empty.name);
        struct subpmic_led_dev *led =
            x_.reg(names[empty.slot - 1], parent.dev(), &partial_tables[empty.slot - 1], nullptr);
        ASSERT_FALSE(IS_ERR_OR_NULL(led));
        for (const CameraCall &c : camera_calls) {
            calls = Calls{};
            calls.result = 42;
            if (c.slot == empty.slot) {
                EXPECT_EQ(c.call(x_, led, SUBPMIC_LED1, 1), -EOPNOTSUPP) << c.name;
                EXPECT_EQ(calls.count, 0) << c.name;
            } else {
                EXPECT_EQ(c.call(x_, led, SUBPMIC_LED1, 1), 42) << c.name;
                EXPECT_EQ(calls.slot, c.slot) << c.name;
            }
        }
    }
}

TEST_F(LedhubClassTest, UnbindingTheParentEndsTheRegistration) {
    ParentDevice parent(11);
    uint64_t before = ledhub_allocations();
    struct subpmic_led_dev *led = x_.reg("flash_g", parent.dev(), &full_ops, nullptr);
    ASSERT_FALSE(IS_ERR_OR_NULL(led));
    struct subpmic_led_dev *held = x_.find("flash_g");
    ASSERT_EQ(held, led);

    parent.unbind();
    EXPECT_FALSE(parent.bound());
    EXPECT_EQ(class_entries(), std::vector<std::string>{});
    EXPECT_EQ(x_.find("flash_g"), nullptr);

    // The looked-up reference keeps the record, but it no longer reaches the registrant.
    EXPECT_EQ(held->ops, nullptr);
    for (const CameraCall &c : camera_calls)
        EXPECT_EQ(c.call(x_, held, SUBPMIC_LED1, 1), -EINVAL) << c.name;
    EXPECT_EQ(calls.count, 0);
    EXPECT_GT(ledhub_allocations(), before);
    put_device(&held->dev);
    EXPECT_EQ(ledhub_allocations(), before);

    // The name is free again.
    struct subpmic_led_dev *again = x_.reg("flash_g", nullptr, &full_ops, nullptr);
    EXPECT_FALSE(IS_ERR_OR_NULL(again)) << err_of(again);
}

TEST_F(LedhubClassTest, UnregisteringWithoutOtherReferencesFreesTheRecord) {
    ParentDevice parent(12);
    uint64_t before = ledhub_allocations();
    ASSERT_FALSE(IS_ERR_OR_NULL(x_.reg("flash_h", parent.dev(), &full_ops, nullptr)));
    EXPECT_GT(ledhub_allocations(), before);
    parent.unbind();
    EXPECT_EQ(ledhub_allocations(), before);
}

TEST_F(LedhubClassTest, ModuleStopUnregistersEveryRecordLeftInTheClass) {
    ParentDevice parent(13);
    ASSERT_FALSE(IS_ERR_OR_NULL(x_.reg("left_a", nullptr, &full_ops, nullptr)));
    ASSERT_FALSE(IS_ERR_OR_NULL(x_.reg("left_b", parent.dev(), &full_ops, nullptr)));
    EXPECT_EQ(class_entries(), (std::vector<std::string>{"left_a", "left_b"}));

    // Nothing uses the exports any more: the module may go, and takes its records along.
    unpin();
    simtest::expect_clean_unload("ledhub");
    EXPECT_FALSE(exists("/sys/class/subpmic_led_class"));
    // The parent no longer holds an action of the unloaded module: unbinding it is harmless.
    parent.unbind();
    EXPECT_FALSE(parent.bound());
}

TEST_F(LedhubClassTest, UnloadIsRefusedWhileAnotherModuleUsesTheExports) {
    // Pinned by the fixture's symbol references, as an importer pins it.
    EXPECT_EQ(sim::module_unload("ledhub"), -EBUSY);
    EXPECT_TRUE(exists("/sys/class/subpmic_led_class"));
}

TEST_F(LedhubClassTest, StartFailsWithTheClassCreationError) {
    unpin();
    simtest::expect_clean_unload("ledhub");
    // Another class holds the name already.
    struct class_ *squatter = class_create(nullptr, "subpmic_led_class");
    ASSERT_FALSE(IS_ERR_OR_NULL(squatter));
    EXPECT_EQ(sim::module_load("ledhub"), -EEXIST);
    EXPECT_EQ(sim::module_find("ledhub"), nullptr);
    class_destroy(squatter);
    EXPECT_FALSE(exists("/sys/class/subpmic_led_class"));
}

}  // namespace
}  // namespace ledhub_test
