// The sub-PMIC flash LED class: a sub-PMIC driver registers its flash and torch LEDs in
// "subpmic_led_class" with a table of operations, and a camera driver finds the device by name
// and drives it through the five subpmic_camera_* calls, which hand each call on unchanged to
// the registrant's operation.
#pragma once

#include <platform/device.h>
#include <platform/rwsem.h>
#include <platform/types.h>

// Which LED of the device a camera call addresses. The values belong to the registrant and the
// camera driver; the class passes them through untouched.
enum SUBPMIC_LED_ID : u32 {
    SUBPMIC_LED1 = 0,
    SUBPMIC_LED2 = 1,
    SUBPMIC_LED_MAX,
};

struct subpmic_led_dev;

// Supplied by the registrant; any slot may be null. The slot order is part of the interface.
struct subpmic_led_ops {
    int (*set_led_flash_curr)(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int val);
    int (*set_led_flash_time)(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int val);
    int (*set_led_flash_enable)(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, bool on);
    int (*set_led_torch_curr)(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int val);
    int (*set_led_torch_enable)(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, bool on);
};

// One per registration, owned by the class. name and ops belong to the registrant and must
// outlive the registration.
struct subpmic_led_dev {
    struct device dev;
    const char *name;
    void *private_data;
    const struct subpmic_led_ops *ops;
    // Held for reading around every call into ops, and for writing when the registration ends
    // and ops is cleared, so no call runs into a registrant that has gone.
    struct rw_semaphore ops_lock;
};

extern "C" {
// The new record, or an error pointer (-EINVAL for a null name or ops, -ENOMEM, or the driver
// core's error when the device cannot be named or added); never null. With a parent, the
// registration ends when the parent's driver is unbound.
struct subpmic_led_dev *subpmic_led_register(const char *name, struct device *parent,
                                             const struct subpmic_led_ops *ops, void *private_data);
// The registrant's private data, or the error pointer -EINVAL for a null record.
void *subpmic_led_get_private(struct subpmic_led_dev *led);
// The first record of the class registered under exactly name, with a reference on its device
// that the caller drops with put_device(&led->dev) when done; null when there is none.
struct subpmic_led_dev *subpmic_led_find_dev_by_name(const char *name);

// -EINVAL for a null record or one without operations, -EOPNOTSUPP for an empty slot,
// otherwise what the registrant's operation returned.
int subpmic_camera_set_led_flash_curr(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int val);
int subpmic_camera_set_led_flash_time(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int val);
int subpmic_camera_set_led_flash_enable(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id,
                                        bool on);
int subpmic_camera_set_led_torch_curr(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int val);
int subpmic_camera_set_led_torch_enable(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id,
                                        bool on);
}
