// ledhub's registration and lookup by name: a registrant (a platform device bound to a driver,
// as a sub-PMIC's is) registers LEDs under any names, a camera driver looks names up and calls
// the found LED, and at the end of the input the registrant's device goes, which ends its
// registrations. A model of the class checks every answer: a lookup returns the first record
// registered under exactly that name (or null), a camera call reaches the registrant's
// operation unchanged, and nothing registered by a gone device is found again.
//
// Input: records of one selector byte and the bytes up to the next newline: selector % 4 is
// 0 register the bytes as a name, 1 look the bytes up, 2 look up and call the LED (the bytes'
// length picks the call and its value), 3 end the registrations (the parent device goes and a
// new one comes).
#include "fuzz/support/fuzz_phone.h"

#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/task.h"

#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "ledhub/subpmic_led.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/platform_device.h>

namespace {

decltype(&subpmic_led_register) g_register;
decltype(&subpmic_led_find_dev_by_name) g_find;
decltype(&subpmic_led_get_private) g_private;
decltype(&subpmic_camera_set_led_flash_curr) g_flash_curr;
decltype(&subpmic_camera_set_led_torch_enable) g_torch_enable;

struct platform_driver g_parent_driver;
struct platform_device *g_parent;
int g_parent_id;

// The last call an operation saw.
struct {
    struct subpmic_led_dev *led;
    int id;
    int val;
    int calls;
} g_seen;

int op_flash_curr(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int val) {
    g_seen = {led, int(id), val, g_seen.calls + 1};
    return val ^ 0x5a;
}
int op_torch_enable(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, bool on) {
    g_seen = {led, int(id), on, g_seen.calls + 1};
    return on ? 7 : 8;
}
const struct subpmic_led_ops g_ops = {
    .set_led_flash_curr = op_flash_curr,
    .set_led_flash_time = nullptr,
    .set_led_flash_enable = nullptr,
    .set_led_torch_curr = nullptr,
    .set_led_torch_enable = op_torch_enable,
};

// The class as the model sees it: the phone's own LED, then this parent's registrations, in
// order. The names must outlive their registrations.
struct Entry {
    std::string name;
    struct subpmic_led_dev *led;
};
std::deque<std::string> g_names;
std::vector<Entry> g_board, g_mine;

int parent_probe(struct platform_device *) {
    return 0;
}

void new_parent() {
    g_parent = platform_device_alloc("fuzz-ledhub-parent", g_parent_id++);
    if (!g_parent || platform_device_add(g_parent) != 0 || !g_parent->dev.driver)
        fuzz::finding("the registrant's device did not bind");
}

[[noreturn]] void wrong(const char *what, const std::string &name) {
    char msg[200];
    std::snprintf(msg, sizeof(msg), "%s (name of %zu bytes: \"%s\")", what, name.size(),
                  name.c_str());
    fuzz::finding(msg);
}

// What a lookup of name must return.
struct subpmic_led_dev *expected(const std::string &name) {
    for (const auto *list : {&g_board, &g_mine})
        for (const Entry &e : *list)
            if (e.name == name)
                return e.led;
    return nullptr;
}

struct subpmic_led_dev *lookup(const std::string &name) {
    struct subpmic_led_dev *led = g_find(name.c_str());
    if (led != expected(name))
        wrong("a lookup found the wrong record", name);
    return led;
}

// The registrant's device goes: its registrations end, and none of them is found again.
void end_registrations() {
    std::vector<Entry> gone = std::move(g_mine);
    g_mine.clear();
    platform_device_unregister(g_parent);
    g_parent = nullptr;
    for (const Entry &e : gone)
        if (struct subpmic_led_dev *led = lookup(e.name))
            put_device(&led->dev);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::boot_phone();
    g_register =
        reinterpret_cast<decltype(g_register)>(sim::module_symbol_get("subpmic_led_register"));
    g_find =
        reinterpret_cast<decltype(g_find)>(sim::module_symbol_get("subpmic_led_find_dev_by_name"));
    g_private =
        reinterpret_cast<decltype(g_private)>(sim::module_symbol_get("subpmic_led_get_private"));
    g_flash_curr = reinterpret_cast<decltype(g_flash_curr)>(
        sim::module_symbol_get("subpmic_camera_set_led_flash_curr"));
    g_torch_enable = reinterpret_cast<decltype(g_torch_enable)>(
        sim::module_symbol_get("subpmic_camera_set_led_torch_enable"));
    if (!g_register || !g_find || !g_private || !g_flash_curr || !g_torch_enable)
        fuzz::finding("ledhub's exports are not there");
    g_parent_driver.probe = parent_probe;
    g_parent_driver.driver.name = "fuzz-ledhub-parent";
    if (__platform_driver_register(&g_parent_driver, nullptr) != 0)
        fuzz::finding("the registrant's driver did not register");
    // The phone's sub-PMIC has registered its LEDs at boot.
    if (struct subpmic_led_dev *led = g_find("subpmic_led")) {
        g_board.push_back({"subpmic_led", led});
        put_device(&led->dev);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sim::TaskScope as(fuzz::user_task());
    uint64_t mark = fuzz::log_mark();
    // A name the driver core refuses (empty, or one the class has already) fails the
    // registration with the core's error, and the core reports it in the log as the kernel
    // does: an input with such a name is judged by its results alone.
    bool refused = false;
    new_parent();
    for (const fuzz::Record &r : fuzz::split_records(data, size)) {
        // A name is a C string: what follows a NUL is not part of it.
        std::string name(r.data.substr(0, r.data.find('\0')));
        switch (r.selector % 4) {
            case 0: {
                g_names.push_back(name);
                void *priv = &g_names.back();
                struct subpmic_led_dev *led =
                    g_register(g_names.back().c_str(), &g_parent->dev, &g_ops, priv);
                if (!led)
                    wrong("a registration returned null", name);
                if (IS_ERR(led)) {
                    long err = PTR_ERR(led);
                    refused = true;
                    // The driver core refuses some names; nothing else may fail here.
                    if (err != -EINVAL && err != -EEXIST && err != -ENOMEM)
                        wrong("a registration failed unexpectedly", name);
                    break;
                }
                if (g_private(led) != priv || led->name != g_names.back().c_str())
                    wrong("a registration keeps the wrong name or data", name);
                g_mine.push_back({name, led});
                break;
            }
            case 1:
                if (struct subpmic_led_dev *led = lookup(name))
                    put_device(&led->dev);
                break;
            case 2: {
                struct subpmic_led_dev *led = lookup(name);
                if (!led)
                    break;
                int calls = g_seen.calls;
                int val = int(r.data.size()) * 1000 - 3;
                bool mine = led->ops == &g_ops;
                int ret = (r.data.size() & 1) ? g_torch_enable(led, SUBPMIC_LED2, val & 1)
                                              : g_flash_curr(led, SUBPMIC_LED1, val);
                if (mine) {
                    int want = (r.data.size() & 1) ? ((val & 1) ? 7 : 8) : (val ^ 0x5a);
                    int want_val = (r.data.size() & 1) ? (val & 1) : val;
                    int want_id = (r.data.size() & 1) ? 1 : 0;
                    if (ret != want || g_seen.calls != calls + 1 || g_seen.led != led ||
                        g_seen.val != want_val || g_seen.id != want_id)
                        wrong("a camera call did not reach the registrant unchanged", name);
                }
                put_device(&led->dev);
                break;
            }
            default:
                end_registrations();
                new_parent();
                break;
        }
    }
    end_registrations();
    if (!refused)
        fuzz::check_kernel_quiet(&mark, "a ledhub input");
    g_names.clear();
    return 0;
}
