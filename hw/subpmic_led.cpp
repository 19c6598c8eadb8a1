// Real model of the sub-PMIC flash LED block: registers, strobes and their safety timeout in
// virtual time. A strobe's end is exact: every look at the part first ends strobes whose
// deadline has passed, and a kernel timer makes sure one ends (and its flag latches) even when
// nobody looks.
#include "hw/subpmic_led.h"

#include "hw/component.h"
#include "hw/subpmic_led_model.h"
#include "simkernel/kernel/sim_time.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <mutex>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include <platform/of.h>
#include <platform/timer.h>

namespace {

struct Channel {
    struct timer_list timer;
    uint8_t flash_code;
    uint8_t torch_code;
    uint8_t timeout_code;
    bool strobing;
    bool torch;
    bool timeout_flag;
    uint64_t deadline_ns;
    unsigned strobes;
    unsigned timeouts;
};

struct Model {
    std::mutex lock;
    bool present = false;
    Channel ch[SUBPMIC_LED_HW_CHANNELS] = {};
};

Model &model() {
    static Model m;
    return m;
}

unsigned flash_ma(uint8_t code) {
    return (code + 1u) * SUBPMIC_LED_FLASH_STEP_UA / 1000;
}
unsigned torch_ma(uint8_t code) {
    return (code + 1u) * SUBPMIC_LED_TORCH_STEP_UA / 1000;
}
unsigned timeout_ms(uint8_t code) {
    return (code + 1u) * SUBPMIC_LED_TIMEOUT_STEP_US / 1000;
}

// Ends the strobes whose timeout has run out by now.
void expire_locked(Model &m) {
    uint64_t now = sim::clock_monotonic_ns();
    for (Channel &c : m.ch) {
        if (c.strobing && now >= c.deadline_ns) {
            c.strobing = false;
            c.timeout_flag = true;
            c.timeouts++;
        }
    }
}

void strobe_timer_fn(struct timer_list *t) {
    Channel *c = from_timer(c, t, timer);
    Model &m = model();
    std::lock_guard g(m.lock);
    expire_locked(m);
    // A strobe restarted after this timer was armed keeps its own, later deadline.
    if (c->strobing)
        mod_timer(&c->timer, jiffies + 1);
}

void reset_locked(Model &m) {
    for (Channel &c : m.ch) {
        del_timer(&c.timer);
        c.flash_code = c.torch_code = c.timeout_code = 0;
        c.strobing = c.torch = c.timeout_flag = false;
        c.deadline_ns = 0;
    }
}

void write_enable_locked(Model &m, uint8_t val) {
    expire_locked(m);
    for (int i = 0; i < SUBPMIC_LED_HW_CHANNELS; i++) {
        Channel &c = m.ch[i];
        bool flash = val & SUBPMIC_LED_FLASH_EN(i);
        c.torch = val & SUBPMIC_LED_TORCH_EN(i);
        if (flash && !c.strobing) {
            // The timeout is latched when the strobe starts.
            unsigned ms = timeout_ms(c.timeout_code);
            c.strobing = true;
            c.deadline_ns = sim::clock_monotonic_ns() + uint64_t(ms) * 1000000;
            c.strobes++;
            // One tick more than the timeout, so the timer never fires before the deadline.
            mod_timer(&c.timer, jiffies + __msecs_to_jiffies(ms) + 1);
        } else if (!flash && c.strobing) {
            c.strobing = false;
            del_timer(&c.timer);
        }
    }
}

hw::SubpmicLedChannel channel_view(const Channel &c) {
    hw::SubpmicLedChannel v;
    v.flash_ma = flash_ma(c.flash_code);
    v.flash_time_ms = timeout_ms(c.timeout_code);
    v.torch_ma = torch_ma(c.torch_code);
    v.flash_on = c.strobing;
    v.torch_on = c.torch;
    v.output_ma = c.strobing ? v.flash_ma : c.torch ? v.torch_ma : 0;
    v.strobes = c.strobes;
    v.timeouts = c.timeouts;
    return v;
}

std::string describe_locked(Model &m) {
    std::string s;
    for (int i = 0; i < SUBPMIC_LED_HW_CHANNELS; i++) {
        hw::SubpmicLedChannel v = channel_view(m.ch[i]);
        char line[200];
        snprintf(line, sizeof(line),
                 "subpmic-led led%d: flash %s %u mA %u ms, torch %s %u mA, output %u mA, "
                 "strobes %u, timeouts %u\n",
                 i + 1, v.flash_on ? "on" : "off", v.flash_ma, v.flash_time_ms,
                 v.torch_on ? "on" : "off", v.torch_ma, v.output_ma, v.strobes, v.timeouts);
        s += line;
    }
    return s;
}

uint8_t saturate(uint8_t val, uint8_t max) {
    return val > max ? max : val;
}

void subpmic_led_boot() {
    struct device_node *np = of_find_compatible_node(nullptr, nullptr, "phonesim,subpmic-led");
    bool present = np && of_device_is_available(np);
    of_node_put(np);

    Model &m = model();
    {
        std::lock_guard g(m.lock);
        for (Channel &c : m.ch) {
            timer_setup(&c.timer, strobe_timer_fn, 0);
            c.strobes = c.timeouts = 0;
        }
        reset_locked(m);
        m.present = present;
    }
    if (present)
        hw::component_add({"subpmic-led", hw::subpmic_led_describe, nullptr});
}

void subpmic_led_shutdown() {
    Model &m = model();
    {
        std::lock_guard g(m.lock);
        m.present = false;
        for (Channel &c : m.ch)
            c.strobing = false;
    }
    // Outside the lock: a running timer function takes it.
    for (Channel &c : m.ch)
        del_timer_sync(&c.timer);
}

}  // namespace

HW_MODEL(subpmic_led, subpmic_led_boot, subpmic_led_shutdown);

extern "C" int subpmic_led_hw_read(uint8_t reg, uint8_t *val) {
    Model &m = model();
    std::lock_guard g(m.lock);
    if (!m.present)
        return -ENXIO;
    expire_locked(m);
    switch (reg) {
        case SUBPMIC_LED_REG_FLASH_CURR(0):
        case SUBPMIC_LED_REG_FLASH_CURR(1):
            *val = m.ch[reg - SUBPMIC_LED_REG_FLASH_CURR(0)].flash_code;
            return 0;
        case SUBPMIC_LED_REG_TORCH_CURR(0):
        case SUBPMIC_LED_REG_TORCH_CURR(1):
            *val = m.ch[reg - SUBPMIC_LED_REG_TORCH_CURR(0)].torch_code;
            return 0;
        case SUBPMIC_LED_REG_FLASH_TIMEOUT(0):
        case SUBPMIC_LED_REG_FLASH_TIMEOUT(1):
            *val = m.ch[reg - SUBPMIC_LED_REG_FLASH_TIMEOUT(0)].timeout_code;
            return 0;
        case SUBPMIC_LED_REG_ENABLE:
            *val = 0;
            for (int i = 0; i < SUBPMIC_LED_HW_CHANNELS; i++) {
                if (m.ch[i].strobing)
                    *val |= SUBPMIC_LED_FLASH_EN(i);
                if (m.ch[i].torch)
                    *val |= SUBPMIC_LED_TORCH_EN(i);
            }
            return 0;
        case SUBPMIC_LED_REG_STATUS:
            *val = 0;
            for (int i = 0; i < SUBPMIC_LED_HW_CHANNELS; i++) {
                if (m.ch[i].timeout_flag)
                    *val |= SUBPMIC_LED_FLASH_TIMEOUT_FLAG(i);
                m.ch[i].timeout_flag = false;
            }
            return 0;
        default:
            return -EIO;
    }
}

extern "C" int subpmic_led_hw_write(uint8_t reg, uint8_t val) {
    Model &m = model();
    std::lock_guard g(m.lock);
    if (!m.present)
        return -ENXIO;
    switch (reg) {
        case SUBPMIC_LED_REG_FLASH_CURR(0):
        case SUBPMIC_LED_REG_FLASH_CURR(1):
            m.ch[reg - SUBPMIC_LED_REG_FLASH_CURR(0)].flash_code =
                saturate(val, SUBPMIC_LED_FLASH_MAX_CODE);
            return 0;
        case SUBPMIC_LED_REG_TORCH_CURR(0):
        case SUBPMIC_LED_REG_TORCH_CURR(1):
            m.ch[reg - SUBPMIC_LED_REG_TORCH_CURR(0)].torch_code =
                saturate(val, SUBPMIC_LED_TORCH_MAX_CODE);
            return 0;
        case SUBPMIC_LED_REG_FLASH_TIMEOUT(0):
        case SUBPMIC_LED_REG_FLASH_TIMEOUT(1):
            m.ch[reg - SUBPMIC_LED_REG_FLASH_TIMEOUT(0)].timeout_code =
                saturate(val, SUBPMIC_LED_TIMEOUT_MAX_CODE);
            return 0;
        case SUBPMIC_LED_REG_ENABLE:
            write_enable_locked(m, val);
            return 0;
        default:
            // The status register is read-only.
            return -EIO;
    }
}

namespace hw {

bool subpmic_led_present() {
    Model &m = model();
    std::lock_guard g(m.lock);
    return m.present;
}

std::vector<SubpmicLedChannel> subpmic_led_channels() {
    Model &m = model();
    std::lock_guard g(m.lock);
    std::vector<SubpmicLedChannel> v;
    if (!m.present)
        return v;
    expire_locked(m);
    for (const Channel &c : m.ch)
        v.push_back(channel_view(c));
    return v;
}

std::string subpmic_led_describe() {
    Model &m = model();
    std::lock_guard g(m.lock);
    if (!m.present)
        return {};
    expire_locked(m);
    return describe_locked(m);
}

}  // namespace hw
