// The event channel (module zoev): key-and-value records with an event id, written to
// /dev/zoev for the device's diagnostics service.
#pragma once

#include <platform/types.h>

struct tevent;

extern "C" {
// A new record for event id, or null when it cannot be allocated.
struct tevent *cdev_tevent_alloc(u32 id);
// Appends a field; the texts are copied. 0 or a negative errno.
int cdev_tevent_add_str(struct tevent *ev, const char *key, const char *value);
int cdev_tevent_add_int(struct tevent *ev, const char *key, s64 value);
// Delivers the record to the channel; 0 or a negative errno.
int cdev_tevent_write(struct tevent *ev);
void cdev_tevent_destroy(struct tevent *ev);
}
