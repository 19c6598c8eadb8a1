// Real model of the phone's charging hardware in virtual time: a 4,500 mAh cell (capacity,
// voltage, temperature, cycles) measured by the fuel gauge, the switching charger with its
// input and the charger manager's event FIFO, the master charge pump and the USB-PD port.
// While an adapter is plugged in and the cell is within its charging temperatures (5.0 to
// 48.0 degrees) the cell charges at 3 A, tapering from 80% to 0.3 A at 100%, where it is full;
// otherwise it discharges at 150 mA. Temperatures drift towards what the current heats them to
// with a ten-minute time constant. The gauge interrupts when capacity, status, cycle count or
// authentication change, or the temperature moves by a degree.
#include "hw/charging.h"

#include "hw/charging_model.h"
#include "hw/component.h"

#include <platform/device.h>
#include <platform/dv_notify.h>
#include <platform/errno.h>
#include <platform/jiffies.h>
#include <platform/of.h>
#include <platform/of_platform.h>
#include <platform/platform_device.h>
#include <platform/power_supply.h>
#include <platform/timer.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <utility>

namespace hw::charging {
namespace {

constexpr int kChargeMa = 3000;      // constant-current phase
constexpr int kTaperMa = 300;        // at 100%
constexpr int kDischargeMa = 150;    // the phone's own draw
constexpr int kResistanceMohm = 50;  // the cell's internal resistance
constexpr int kAmbient = 250;
constexpr double kTauSeconds = 600;
constexpr int kChargeTempMin = 50;   // JEITA: no charging below 5.0 degrees...
constexpr int kChargeTempMax = 480;  // ...or above 48.0
constexpr int kVbusMin = 4400000;

enum Key { kTemp, kSoc, kStatus, kCycle, kAuth, kVbat, kRsoc, kTboard, kVbusType, kNumKeys };
const char *const key_names[] = {"temp", "soc",  "status", "cycle",     "auth",
                                 "vbat", "rsoc", "tboard", "vbus_type", nullptr};

enum PartId { kFuelGauge, kCharger, kChargePump, kUsbPd, kNumParts };

struct Part {
    const char *name;
    const char *compatible;
    struct device_node *np = nullptr;
    bool present = false;
    bool attached = false;
};

struct Model {
    std::mutex lock;
    std::array<Part, kNumParts> parts{{{"fuel_gauge", "phonesim,fuel-gauge"},
                                       {"primary_chg", "phonesim,primary-charger"},
                                       {"master_cp_chg", "phonesim,charge-pump"},
                                       {"pd_adapter", "phonesim,usbpd-port"}}};

    // The cell.
    int64_t full_uah = 4500000;
    int vmin = 3400000, vmax = 4450000;
    int64_t charge_uah = 2250000;
    int64_t discharged_uah = 0;
    double temp = kAmbient, tboard = kAmbient;
    int cycle = 12, auth = 1;
    int vbus_type = HW_VBUS_TYPE_NONE;
    std::array<int, kNumKeys> pinned_value{};
    unsigned int pinned = 0;

    // The gauge.
    unsigned int status_word = 0;
    unsigned int fail_mask = 0;  // bits of hw_fg_reg: the next read fails
    unsigned int fg_int = 0;
    int last_soc = -1, last_status = -1, last_temp = 0, last_cycle = -1, last_auth = -1;

    // The charger.
    bool online = false, enabled = true;
    int vbus = 0;
    unsigned int chg_int = 0;
    std::deque<std::pair<int, int>> cm_events;

    // The charge pump.
    int cp_chip_ok = 1, cp_tdie = 300;
    unsigned int cp_int = 0;
    std::deque<int> cp_events;

    // The USB-PD port.
    bool pd_attached = false;
    Adapter adapter;
    int pd_int = 0;

    struct timer_list timer {};
};

Model *model;  // null while the hardware is not booted

struct IrqLine {
    std::mutex lock;  // held while the handler runs, so hw_free_irq() waits for it
    hw_irq_handler_t handler = nullptr;
    void *data = nullptr;
};
std::array<IrqLine, HW_IRQ_NR> irqs;

void raise_irq(hw_irq_line line) {
    IrqLine &l = irqs[line];
    std::lock_guard g(l.lock);
    if (l.handler)
        l.handler(l.data);
}

// Everything below with the model's lock held.

bool attached(const Model &m, PartId id) {
    return m.parts[id].attached;
}

int natural_soc(const Model &m) {
    return static_cast<int>(m.charge_uah * 100 / m.full_uah);
}

int value(const Model &m, Key k);

bool can_charge(const Model &m) {
    int t = value(m, kTemp);
    return m.online && m.enabled && m.vbus >= kVbusMin && t >= kChargeTempMin &&
           t <= kChargeTempMax;
}

// Milliamps into the cell: positive while charging.
int current_ma(const Model &m) {
    if (!m.online)
        return -kDischargeMa;
    if (!can_charge(m) || m.charge_uah >= m.full_uah)
        return 0;
    int soc = natural_soc(m);
    if (soc < 80)
        return kChargeMa;
    return kChargeMa - (kChargeMa - kTaperMa) * (soc - 80) / 20;
}

int natural_status(const Model &m) {
    if (!m.online)
        return POWER_SUPPLY_STATUS_DISCHARGING;
    if (m.charge_uah >= m.full_uah)
        return POWER_SUPPLY_STATUS_FULL;
    if (!can_charge(m))
        return POWER_SUPPLY_STATUS_NOT_CHARGING;
    return POWER_SUPPLY_STATUS_CHARGING;
}

int natural_value(const Model &m, Key k) {
    switch (k) {
        case kTemp:
            return static_cast<int>(std::lround(m.temp));
        case kSoc:
            return natural_soc(m);
        case kStatus:
            return natural_status(m);
        case kCycle:
            return m.cycle;
        case kAuth:
            return m.auth;
        case kVbat: {
            int64_t ocv = m.vmin + (m.vmax - m.vmin) * m.charge_uah / m.full_uah;
            int64_t v = ocv + static_cast<int64_t>(current_ma(m)) * kResistanceMohm;
            return static_cast<int>(v > m.vmax ? m.vmax : v);
        }
        case kRsoc:
            return static_cast<int>((m.charge_uah * 100 + m.full_uah / 2) / m.full_uah);
        case kTboard:
            return static_cast<int>(std::lround(m.tboard));
        case kVbusType:
            return m.vbus_type;
        default:
            return 0;
    }
}

int value(const Model &m, Key k) {
    if (m.pinned & (1U << k))
        return m.pinned_value[k];
    return natural_value(m, k);
}

// Sets the gauge's battery interrupt when what it reports moved enough; true if it did.
bool gauge_check(Model &m) {
    int soc = value(m, kSoc), status = value(m, kStatus), temp = value(m, kTemp);
    int cycle = value(m, kCycle), auth = value(m, kAuth);
    if (soc == m.last_soc && status == m.last_status && std::abs(temp - m.last_temp) < 10 &&
        cycle == m.last_cycle && auth == m.last_auth)
        return false;
    m.last_soc = soc;
    m.last_status = status;
    m.last_temp = temp;
    m.last_cycle = cycle;
    m.last_auth = auth;
    m.fg_int |= HW_FG_INT_BATTERY;
    return true;
}

// An interrupt of the gauge whatever moved (a value was set from outside).
bool gauge_force(Model &m) {
    gauge_check(m);
    m.fg_int |= HW_FG_INT_BATTERY;
    return true;
}

void step(Model &m, int seconds) {
    int ma = current_ma(m);
    int64_t delta = static_cast<int64_t>(ma) * 1000 * seconds / 3600;
    m.charge_uah += delta;
    if (m.charge_uah > m.full_uah)
        m.charge_uah = m.full_uah;
    if (m.charge_uah < 0)
        m.charge_uah = 0;
    if (delta < 0) {
        m.discharged_uah -= delta;
        while (m.discharged_uah >= m.full_uah) {
            m.discharged_uah -= m.full_uah;
            m.cycle++;
        }
    }
    double k = 1 - std::exp(-seconds / kTauSeconds);
    int heat = ma > 0 ? ma : 0;
    m.temp += (kAmbient + heat / 30.0 - m.temp) * k;
    m.tboard += (kAmbient + heat / 50.0 - m.tboard) * k;
}

bool fg_fail_once(Model &m, hw_fg_reg reg) {
    if (!(m.fail_mask & (1U << reg)))
        return false;
    m.fail_mask &= ~(1U << reg);
    return true;
}

void timer_fn(struct timer_list *t) {
    bool fg = false;
    {
        std::lock_guard g(model->lock);
        step(*model, kTickSeconds);
        fg = gauge_check(*model) && attached(*model, kFuelGauge);
        mod_timer(t, t->expires + kTickSeconds * HZ);
    }
    if (fg)
        raise_irq(HW_IRQ_FG);
}

// Raises the interrupts of the parts whose causes are set, in the order a plug-in shows them:
// the port first, then the charger, the gauge and the charge pump.
void raise_pending() {
    bool pd, chg, fg, cp;
    {
        std::lock_guard g(model->lock);
        Model &m = *model;
        pd = m.pd_int && attached(m, kUsbPd);
        chg = (m.chg_int || !m.cm_events.empty()) && attached(m, kCharger);
        fg = m.fg_int && attached(m, kFuelGauge);
        cp = (m.cp_int || !m.cp_events.empty()) && attached(m, kChargePump);
    }
    if (pd)
        raise_irq(HW_IRQ_USBPD);
    if (chg)
        raise_irq(HW_IRQ_CHARGER);
    if (fg)
        raise_irq(HW_IRQ_FG);
    if (cp)
        raise_irq(HW_IRQ_CP);
}

const char *status_name(int status) {
    switch (status) {
        case POWER_SUPPLY_STATUS_UNKNOWN:
            return "unknown";
        case POWER_SUPPLY_STATUS_CHARGING:
            return "charging";
        case POWER_SUPPLY_STATUS_DISCHARGING:
            return "discharging";
        case POWER_SUPPLY_STATUS_NOT_CHARGING:
            return "not-charging";
        case POWER_SUPPLY_STATUS_FULL:
            return "full";
    }
    return nullptr;
}

std::string part_prefix(const Part &p) {
    return std::string(p.name) + ": " +
           (!p.present   ? "absent"
            : p.attached ? "attached"
                         : "detached");
}

std::string battery_state() {
    std::lock_guard g(model->lock);
    const Model &m = *model;
    char buf[512];
    int status = value(m, kStatus);
    const char *name = status_name(status);
    std::string st = name ? name : std::to_string(status);
    snprintf(buf, sizeof(buf),
             "battery: soc=%d status=%s temp=%d vbat=%d current=%d cycle=%d auth=%d rsoc=%d "
             "tboard=%d vbus_type=%d",
             value(m, kSoc), st.c_str(), value(m, kTemp), value(m, kVbat), current_ma(m) * 1000,
             value(m, kCycle), value(m, kAuth), value(m, kRsoc), value(m, kTboard),
             value(m, kVbusType));
    std::string s = buf;
    if (m.pinned) {
        s += " pinned=";
        bool first = true;
        for (int k = 0; k < kNumKeys; k++)
            if (m.pinned & (1U << k)) {
                s += std::string(first ? "" : ",") + key_names[k];
                first = false;
            }
    }
    return s + "\n";
}

std::string part_state(PartId id) {
    std::lock_guard g(model->lock);
    const Model &m = *model;
    const Part &p = m.parts[id];
    std::string s = part_prefix(p);
    char buf[256] = "";
    if (p.present) {
        switch (id) {
            case kFuelGauge:
                snprintf(buf, sizeof(buf), " status_word=0x%x", m.status_word);
                break;
            case kCharger:
                snprintf(buf, sizeof(buf), " online=%d vbus=%d enable=%d", m.online, m.vbus,
                         m.enabled);
                break;
            case kChargePump:
                snprintf(buf, sizeof(buf), " chip_ok=%d tdie=%d", m.cp_chip_ok, m.cp_tdie);
                break;
            case kUsbPd:
                if (m.pd_attached)
                    snprintf(buf, sizeof(buf), " adapter svid=0x%x verified=%d done=%d",
                             m.adapter.svid, m.adapter.verified, m.adapter.verify_done);
                else
                    snprintf(buf, sizeof(buf), " adapter=none");
                break;
            default:
                break;
        }
    }
    return s + buf + "\n";
}

// Makes a part's device vanish or appear as the kernel sees it: the platform device made from
// its device-tree node is destroyed, or made again (which probes its driver).
int set_attached(PartId id, bool attach) {
    struct device_node *np;
    {
        std::lock_guard g(model->lock);
        Part &p = model->parts[id];
        if (!p.present)
            return -ENODEV;
        if (p.attached == attach)
            return 0;
        p.attached = attach;
        np = p.np;
    }
    if (!attach) {
        struct platform_device *pdev = of_find_device_by_node(np);
        if (pdev) {
            of_platform_device_destroy(&pdev->dev, nullptr);
            put_device(&pdev->dev);
        }
        return 0;
    }
    if (!of_platform_device_create(np, nullptr, nullptr)) {
        std::lock_guard g(model->lock);
        model->parts[id].attached = false;
        return -ENODEV;
    }
    return 0;
}

void read_battery_node(Model &m, struct device_node *fg) {
    struct device_node *bat = of_parse_phandle(fg, "monitored-battery", 0);
    if (!bat)
        return;
    u32 v;
    if (!of_property_read_u32(bat, "charge-full-design-microamp-hours", &v) && v)
        m.full_uah = v;
    if (!of_property_read_u32(bat, "voltage-min-design-microvolt", &v))
        m.vmin = static_cast<int>(v);
    if (!of_property_read_u32(bat, "voltage-max-design-microvolt", &v))
        m.vmax = static_cast<int>(v);
    of_node_put(bat);
    m.charge_uah = m.full_uah / 2;
}

void charging_boot() {
    auto *m = new Model;
    bool any = false;
    for (Part &p : m->parts) {
        p.np = of_find_compatible_node(nullptr, nullptr, p.compatible);
        p.present = p.np && of_device_is_available(p.np);
        p.attached = p.present;
        any |= p.np != nullptr;
    }
    if (!any) {
        delete m;
        return;
    }
    if (m->parts[kFuelGauge].np)
        read_battery_node(*m, m->parts[kFuelGauge].np);
    gauge_check(*m);
    m->fg_int = 0;
    model = m;

    component_add({"battery", battery_state, nullptr});
    for (int id = 0; id < kNumParts; id++)
        component_add({m->parts[id].name, [id] { return part_state(PartId(id)); },
                       [id](bool attach) { return set_attached(PartId(id), attach); }});

    timer_setup(&m->timer, timer_fn, 0);
    std::lock_guard g(m->lock);
    mod_timer(&m->timer, jiffies + kTickSeconds * HZ);
}

void charging_shutdown() {
    Model *m = model;
    if (!m)
        return;
    del_timer_sync(&m->timer);
    component_remove("battery");
    for (Part &p : m->parts) {
        component_remove(p.name);
        of_node_put(p.np);
    }
    model = nullptr;
    delete m;
}

HW_MODEL(charging, charging_boot, charging_shutdown);

// Runs fn on the model with its lock held, then raises what it left pending; -ENODEV without
// charging hardware.
template <typename Fn>
int control(Fn fn) {
    if (!model)
        return -ENODEV;
    int r;
    {
        std::lock_guard g(model->lock);
        r = fn(*model);
    }
    if (r == 0)
        raise_pending();
    return r;
}

// One bus transfer to a part: fn runs on the model with its lock held. -ENXIO without charging
// hardware or with the part detached, as a transfer to an absent chip fails.
template <typename Fn>
int transfer(PartId id, Fn fn) {
    if (!model)
        return -ENXIO;
    std::lock_guard g(model->lock);
    if (!attached(*model, id))
        return -ENXIO;
    return fn(*model);
}

// An interrupt-cause register: reading it clears it.
template <typename T>
int read_clear(T &causes) {
    int v = static_cast<int>(causes);
    causes = 0;
    return v;
}

// Reads register reg of a part, one of its nregs: what fn gives for it, with the model's lock
// held. Reads of the gauge fail once where a failure was armed.
template <typename Fn>
int read_reg(PartId id, int reg, int nregs, int *val, Fn fn) {
    return transfer(id, [&](Model &m) {
        if (reg < 0 || reg >= nregs)
            return -EINVAL;
        if (id == kFuelGauge && fg_fail_once(m, hw_fg_reg(reg)))
            return -EIO;
        *val = fn(m);
        return 0;
    });
}

}  // namespace

const char *const *battery_keys() {
    return key_names;
}

bool parse_status(const std::string &text, int *status) {
    for (int s = POWER_SUPPLY_STATUS_UNKNOWN; s <= POWER_SUPPLY_STATUS_FULL; s++)
        if (text == status_name(s)) {
            *status = s;
            return true;
        }
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < INT32_MIN || v > INT32_MAX)
        return false;
    *status = static_cast<int>(v);
    return true;
}

int battery_set(const std::string &key, int v) {
    int k = 0;
    while (key_names[k] && key != key_names[k])
        k++;
    if (!key_names[k])
        return -EINVAL;
    return control([&](Model &m) {
        switch (k) {
            case kTemp:
                m.temp = v;
                break;
            case kTboard:
                m.tboard = v;
                break;
            case kCycle:
                m.cycle = v;
                break;
            case kSoc:
                if (v >= 0 && v <= 100)
                    m.charge_uah = m.full_uah * v / 100;
                break;
            default:
                break;
        }
        m.pinned |= 1U << k;
        m.pinned_value[k] = v;
        gauge_force(m);
        return 0;
    });
}

int battery_auto() {
    return control([](Model &m) {
        m.pinned = 0;
        gauge_force(m);
        return 0;
    });
}

int battery_fail(const std::string &prop) {
    static const std::pair<const char *, hw_fg_reg> props[] = {
        {"temp", HW_FG_TEMP},           {"cycle_count", HW_FG_CYCLE_COUNT},
        {"authentic", HW_FG_AUTHENTIC}, {"capacity", HW_FG_CAPACITY},
        {"status", HW_FG_STATUS},       {"voltage_now", HW_FG_VOLTAGE_NOW}};
    for (const auto &[name, reg] : props)
        if (prop == name) {
            hw_fg_reg r = reg;
            // Arms the failure only: nothing changes that the gauge would interrupt for.
            if (!model)
                return -ENODEV;
            std::lock_guard g(model->lock);
            model->fail_mask |= 1U << r;
            return 0;
        }
    return -EINVAL;
}

BatteryView battery() {
    BatteryView b;
    if (!model)
        return b;
    std::lock_guard g(model->lock);
    const Model &m = *model;
    b.status = value(m, kStatus);
    b.soc = value(m, kSoc);
    b.temp = value(m, kTemp);
    b.vbat = value(m, kVbat);
    b.current = current_ma(m) * 1000;
    b.cycle = value(m, kCycle);
    b.auth = value(m, kAuth);
    b.rsoc = value(m, kRsoc);
    b.tboard = value(m, kTboard);
    b.vbus_type = value(m, kVbusType);
    b.pinned = m.pinned;
    return b;
}

int usb_set_vbus(int microvolts) {
    return control([&](Model &m) {
        m.vbus = microvolts;
        m.chg_int |= HW_CHG_INT_INPUT;
        gauge_check(m);
        return 0;
    });
}

int cp_set_temp(int tenths) {
    return control([&](Model &m) {
        m.cp_tdie = tenths;
        m.cp_int |= HW_CP_INT_TEMP;
        return 0;
    });
}

int cp_set_chip_ok(bool ok) {
    // The chip answering or not is polled; nothing interrupts.
    return control([&](Model &m) {
        m.cp_chip_ok = ok;
        return 0;
    });
}

int cp_event(int code) {
    return control([&](Model &m) {
        m.cp_events.push_back(code);
        return 0;
    });
}

int cm_event(int code, int data) {
    return control([&](Model &m) {
        m.cm_events.emplace_back(code, data);
        return 0;
    });
}

int fg_set_status(unsigned int word) {
    return control([&](Model &m) {
        m.status_word = word;
        m.fg_int |= HW_FG_INT_STATUS;
        return 0;
    });
}

int adapter_plug(const Adapter &adapter) {
    return control([&](Model &m) {
        if (m.online)
            return -EBUSY;
        m.online = true;
        m.vbus = adapter.vbus_type == HW_VBUS_TYPE_PD ? 9000000 : 5000000;
        m.vbus_type = adapter.vbus_type;
        m.pd_attached = adapter.vbus_type == HW_VBUS_TYPE_PD;
        m.adapter = adapter;
        m.pd_int = 1;
        m.chg_int |= HW_CHG_INT_INPUT;
        m.cm_events.emplace_back(CM_EVENT_ADAPTER_PLUGIN, 0);
        gauge_force(m);
        return 0;
    });
}

int adapter_unplug() {
    return control([&](Model &m) {
        if (!m.online)
            return -ENODEV;
        m.online = false;
        m.vbus = 0;
        m.vbus_type = HW_VBUS_TYPE_NONE;
        m.pd_attached = false;
        m.pd_int = 1;
        m.chg_int |= HW_CHG_INT_INPUT;
        m.cm_events.emplace_back(CM_EVENT_ADAPTER_PLUGOUT, 0);
        gauge_force(m);
        return 0;
    });
}

}  // namespace hw::charging

using namespace hw::charging;

extern "C" {

int hw_request_irq(enum hw_irq_line line, hw_irq_handler_t handler, void *data) {
    if (line < 0 || line >= HW_IRQ_NR || !handler)
        return -EINVAL;
    IrqLine &l = irqs[line];
    std::lock_guard g(l.lock);
    if (l.handler)
        return -EBUSY;
    l.handler = handler;
    l.data = data;
    return 0;
}

void hw_free_irq(enum hw_irq_line line) {
    if (line < 0 || line >= HW_IRQ_NR)
        return;
    IrqLine &l = irqs[line];
    std::lock_guard g(l.lock);
    l.handler = nullptr;
    l.data = nullptr;
}

int hw_fg_read(enum hw_fg_reg reg, int *val) {
    return read_reg(kFuelGauge, reg, HW_FG_NR_REGS, val, [&](Model &m) {
        switch (reg) {
            case HW_FG_STATUS:
                return value(m, kStatus);
            case HW_FG_CAPACITY:
                return value(m, kSoc);
            case HW_FG_TEMP:
                return value(m, kTemp);
            case HW_FG_VOLTAGE_NOW:
                return value(m, kVbat);
            case HW_FG_CURRENT_NOW:
                return current_ma(m) * 1000;
            case HW_FG_CYCLE_COUNT:
                return value(m, kCycle);
            case HW_FG_AUTHENTIC:
                return value(m, kAuth);
            case HW_FG_RSOC:
                return value(m, kRsoc);
            case HW_FG_TBOARD:
                return value(m, kTboard);
            case HW_FG_VBUS_TYPE:
                return value(m, kVbusType);
            case HW_FG_CHARGE_FULL_DESIGN:
                return static_cast<int>(m.full_uah);
            case HW_FG_STATUS_WORD:
                return static_cast<int>(m.status_word);
            default:  // HW_FG_INT
                return read_clear(m.fg_int);
        }
    });
}

int hw_charger_read(enum hw_charger_reg reg, int *val) {
    return read_reg(kCharger, reg, HW_CHG_NR_REGS, val, [&](Model &m) {
        switch (reg) {
            case HW_CHG_ONLINE:
                return int(m.online);
            case HW_CHG_VBUS:
                return m.vbus;
            case HW_CHG_ENABLE:
                return int(m.enabled);
            default:  // HW_CHG_INT
                return read_clear(m.chg_int);
        }
    });
}

int hw_charger_write(enum hw_charger_reg reg, int val) {
    bool fg = false;
    int r = transfer(kCharger, [&](Model &m) {
        if (reg != HW_CHG_ENABLE)
            return -EINVAL;
        m.enabled = val != 0;
        fg = gauge_check(m) && attached(m, kFuelGauge);
        return 0;
    });
    if (fg)
        raise_irq(HW_IRQ_FG);
    return r;
}

int hw_cp_read(enum hw_cp_reg reg, int *val) {
    return read_reg(kChargePump, reg, HW_CP_NR_REGS, val, [&](Model &m) {
        switch (reg) {
            case HW_CP_CHIP_OK:
                return m.cp_chip_ok;
            case HW_CP_TDIE:
                return m.cp_tdie;
            default:  // HW_CP_INT
                return read_clear(m.cp_int);
        }
    });
}

int hw_usbpd_read(enum hw_usbpd_reg reg, int *val) {
    return read_reg(kUsbPd, reg, HW_PD_NR_REGS, val, [&](Model &m) {
        switch (reg) {
            case HW_PD_ATTACHED:
                return int(m.pd_attached);
            case HW_PD_SVID:
                return m.pd_attached ? static_cast<int>(m.adapter.svid) : 0;
            case HW_PD_VERIFIED:
                return int(m.pd_attached && m.adapter.verified);
            case HW_PD_VERIFY_DONE:
                return m.pd_attached ? int(m.adapter.verify_done) : 0;
            default:  // HW_PD_INT
                return read_clear(m.pd_int);
        }
    });
}

int hw_charger_pop_event(int *code, int *data) {
    return transfer(kCharger, [&](Model &m) {
        if (m.cm_events.empty())
            return -ENODATA;
        *code = m.cm_events.front().first;
        *data = m.cm_events.front().second;
        m.cm_events.pop_front();
        return 0;
    });
}

int hw_cp_pop_event(int *code) {
    return transfer(kChargePump, [&](Model &m) {
        if (m.cp_events.empty())
            return -ENODATA;
        *code = m.cp_events.front();
        m.cp_events.pop_front();
        return 0;
    });
}

}  // extern "C"
