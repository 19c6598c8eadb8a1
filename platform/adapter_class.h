// USB-PD adapters (module vq_adapter_class): the port's adapter device, found by name, with the
// attached adapter's vendor id and authentication state.
#pragma once

#include <platform/device.h>

struct adapter_device;

struct adapter_ops {
    // 0 and *verified, or a negative errno.
    int (*get_usbpd_verifed)(struct adapter_device *adapter, bool *verified);
};

struct adapter_device {
    struct device dev;
    const char *name;
    const struct adapter_ops *ops;
    void *driver_data;
    // The attached adapter, as the port driver last read it; read directly by listeners.
    u32 adapter_svid;
    u8 verify_done;  // PD verification finished (0 to 255)
};

extern "C" {
// Null when no adapter device of that name is registered.
struct adapter_device *get_adapter_by_name(const char *name);
// 0 and *verified, or a negative errno (-EINVAL for a null adapter, -EOPNOTSUPP without ops).
int adapter_get_usbpd_verifed(struct adapter_device *adapter, bool *verified);

// For port drivers: an error pointer on failure.
struct adapter_device *adapter_device_register(const char *name, struct device *parent,
                                               void *driver_data, const struct adapter_ops *ops);
void adapter_device_unregister(struct adapter_device *adapter);
}
