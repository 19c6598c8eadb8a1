// Device-id tables that drivers publish (include/linux/mod_devicetable.h).
#pragma once

// One entry of a device-tree match table; the table ends with an all-zero entry.
struct of_device_id {
    char name[32];
    char type[32];
    char compatible[128];
    const void *data;
};
