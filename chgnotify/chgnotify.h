// chgnotify's device record and the building of its uevent environments.
#pragma once

#include <platform/mutex.h>

struct platform_device;

// One per bound device, allocated with the device and freed by the driver core after remove.
struct chg_uevent_dev {
    struct platform_device *pdev;
    // One report at a time, from before its strings are built to after its last log line.
    struct mutex report_lock;
};

// Each environment string has a zeroed buffer of its own; the longest string built is 45
// characters, so nothing is ever cut.
#define CHG_UEVENT_STR_LEN 64
// A bundle has room for five strings and the terminating null.
#define CHG_UEVENT_BUNDLE_MAX 5

// Indexed by event type; null where the type is not supported.
extern const char *const chgnotify_prefix_str[11];

// The string of one event in buf (CHG_UEVENT_STR_LEN bytes, zero-filled first); 0, or
// -EINVAL for an unsupported type, with buf left zeroed.
int chg_uevent_build(int event_type, int event_value, char *buf);

// How many int values a bundle type takes, or -EINVAL for an unsupported type.
int chg_uevent_bundle_nr_values(int bundle_type);

// A bundle's strings and its null-terminated environment list, built from the values its type
// takes (chg_uevent_bundle_nr_values() of them).
struct chg_uevent_bundle {
    char str[CHG_UEVENT_BUNDLE_MAX][CHG_UEVENT_STR_LEN];
    char *envp[CHG_UEVENT_BUNDLE_MAX + 1];
};

// Zeroes the bundle, then fills it: the number of strings, or -EINVAL for an unsupported type
// (the bundle then stays zeroed and values is not read).
int chg_uevent_bundle_build(int bundle_type, const int *values, struct chg_uevent_bundle *b);
