// Host-side controls of the charging hardware (hw/charging.h is the drivers' side): what
// phonesim's `hw` subcommands and the tests do to the battery, charger, charge pump, fuel gauge
// and USB-PD port. Every control changes what the hardware would and raises the interrupt the
// hardware raises, so the drivers notice it as they would on a device.
#pragma once

#include <cstdint>
#include <string>

namespace hw::charging {

// What the fuel gauge reports for the battery (pinned values included).
struct BatteryView {
    int status = 0, soc = 0, temp = 0, vbat = 0, current = 0, cycle = 0, auth = 0, rsoc = 0,
        tboard = 0, vbus_type = 0;
    unsigned int pinned = 0;  // bits of battery_keys() order
};

// The keys of battery_set(): temp, soc, status, cycle, auth, vbat, rsoc, tboard, vbus_type.
const char *const *battery_keys();
// Pins one battery value until battery_auto(); temp, soc, tboard and cycle also move the cell's
// own state there. 0, or -EINVAL for an unknown key, -ENODEV without a battery.
int battery_set(const std::string &key, int value);
// Parses a status name (charging, discharging, not-charging, full, unknown) or number.
bool parse_status(const std::string &text, int *status);
// Hands every pinned value back to the model.
int battery_auto();
// The next read of prop (temp, cycle_count, authentic, capacity, status, voltage_now) fails.
int battery_fail(const std::string &prop);
BatteryView battery();

// The charger's input voltage, microvolts (until the adapter is plugged or unplugged).
int usb_set_vbus(int microvolts);
int cp_set_temp(int tenths);
int cp_set_chip_ok(bool ok);
// Latches a fault event (CP_EVENT_* code) in the charge pump's FIFO.
int cp_event(int code);
// Queues a charger-manager event with its data byte.
int cm_event(int code, int data);
int fg_set_status(unsigned int word);

struct Adapter {
    uint32_t svid = 0x1234;
    bool verified = true;
    int verify_done = 1;
    int vbus_type = 4;  // HW_VBUS_TYPE_PD
};
// -EBUSY when an adapter is plugged in already.
int adapter_plug(const Adapter &adapter);
// -ENODEV when none is plugged in.
int adapter_unplug();

// The cell model moves on every kTickSeconds of virtual time.
inline constexpr int kTickSeconds = 10;

}  // namespace hw::charging
