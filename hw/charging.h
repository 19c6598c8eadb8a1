// The charging hardware as its drivers see it: the registers, event FIFOs and interrupt lines
// of the fuel gauge (with the battery cell it measures), the switching charger, the master
// charge pump and the USB-PD port controller. A plain C interface, so that board drivers
// (freestanding module code) can include it. Reads of a part that is not attached fail with
// -ENXIO, as a bus transfer to an absent chip does.
#pragma once

#include <cstdint>

extern "C" {

typedef void (*hw_irq_handler_t)(void *data);

enum hw_irq_line {
    HW_IRQ_FG,
    HW_IRQ_CHARGER,
    HW_IRQ_CP,
    HW_IRQ_USBPD,
    HW_IRQ_NR,
};

// Fuel gauge registers. Temperatures in tenths of a degree Celsius, voltages in microvolts,
// currents in microamps (positive while charging).
enum hw_fg_reg {
    HW_FG_STATUS,    // POWER_SUPPLY_STATUS_* of the battery
    HW_FG_CAPACITY,  // percent
    HW_FG_TEMP,
    HW_FG_VOLTAGE_NOW,
    HW_FG_CURRENT_NOW,
    HW_FG_CYCLE_COUNT,
    HW_FG_AUTHENTIC,           // 1 when the pack passed authentication
    HW_FG_RSOC,                // raw state of charge, percent, before the gauge's smoothing
    HW_FG_TBOARD,              // board thermistor
    HW_FG_VBUS_TYPE,           // charger input type the charger detected (HW_VBUS_TYPE_*)
    HW_FG_CHARGE_FULL_DESIGN,  // microamp-hours
    HW_FG_STATUS_WORD,         // gauge status: bit 0 authentication fault, bit 1 bus error
    HW_FG_INT,                 // interrupt causes (HW_FG_INT_*), cleared by the read
    HW_FG_NR_REGS,
};
#define HW_FG_INT_BATTERY (1U << 0)  // a battery value changed
#define HW_FG_INT_STATUS (1U << 1)   // the status word changed

// Charger input types the charger detects.
enum hw_vbus_type {
    HW_VBUS_TYPE_NONE = 0,
    HW_VBUS_TYPE_SDP = 1,
    HW_VBUS_TYPE_CDP = 2,
    HW_VBUS_TYPE_DCP = 3,
    HW_VBUS_TYPE_PD = 4,
    HW_VBUS_TYPE_NONSTANDARD = 5,
};

// Switching charger registers.
enum hw_charger_reg {
    HW_CHG_ONLINE,  // an adapter is plugged in
    HW_CHG_VBUS,    // input voltage, microvolts
    HW_CHG_ENABLE,  // charging enabled (writable)
    HW_CHG_INT,     // interrupt causes (HW_CHG_INT_*), cleared by the read
    HW_CHG_NR_REGS,
};
#define HW_CHG_INT_INPUT (1U << 0)  // the input (online, VBUS) changed

// Master charge pump registers.
enum hw_cp_reg {
    HW_CP_CHIP_OK,  // 1 when the chip answers on its bus
    HW_CP_TDIE,     // die temperature
    HW_CP_INT,      // interrupt causes (HW_CP_INT_*), cleared by the read
    HW_CP_NR_REGS,
};
#define HW_CP_INT_TEMP (1U << 0)

// USB-PD port controller registers: the attached adapter's identity and authentication.
enum hw_usbpd_reg {
    HW_PD_ATTACHED,
    HW_PD_SVID,
    HW_PD_VERIFIED,     // 1 when the adapter passed authentication
    HW_PD_VERIFY_DONE,  // authentication finished (0 to 255)
    HW_PD_INT,          // 1 when the adapter changed, cleared by the read
    HW_PD_NR_REGS,
};

// 0, -EBUSY (the line has a handler) or -EINVAL. The handler runs in the context that raised
// the interrupt and must not sleep; drivers defer their work.
int hw_request_irq(enum hw_irq_line line, hw_irq_handler_t handler, void *data);
// Waits for a running handler of the line to return (synchronize_irq).
void hw_free_irq(enum hw_irq_line line);

// 0 and *val, or -ENXIO (the part is not attached), -EIO (a read made to fail), -EINVAL.
int hw_fg_read(enum hw_fg_reg reg, int *val);
int hw_charger_read(enum hw_charger_reg reg, int *val);
int hw_charger_write(enum hw_charger_reg reg, int val);
int hw_cp_read(enum hw_cp_reg reg, int *val);
int hw_usbpd_read(enum hw_usbpd_reg reg, int *val);

// The oldest pending event of a part's event FIFO: 0 and the event, -ENODATA when the FIFO is
// empty, -ENXIO when the part is not attached. The charger's FIFO carries the charger
// manager's events (code and data byte), the charge pump's its fault events.
int hw_charger_pop_event(int *code, int *data);
int hw_cp_pop_event(int *code);
}
