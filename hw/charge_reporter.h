// The charger's reporting line: the charger hardware asks its driver to tell user space about
// a charging condition (an event type with a value, or a bundle of values), and the driver
// answers with the result of its report. A real model of a mailbox with a doorbell: the request
// is delivered to the handler the driver attached, in the task that rings, and its result comes
// back to the hardware.
//
// The driver's side, plain C so that a board driver can include it; the hardware's side is
// hw/charge_reporter_model.h.
#pragma once

#define CHARGE_REPORTER_MAX_VALUES 5

struct charge_reporter_request {
    int bundle;  // 0: one event of `type` with values[0]; 1: a bundle of `type`
    int type;
    int nr_values;  // values given, at most CHARGE_REPORTER_MAX_VALUES; the rest read as 0
    int values[CHARGE_REPORTER_MAX_VALUES];
};

// 0 or a negative errno, handed back to whoever rang.
typedef int (*charge_reporter_handler_t)(void *data, const struct charge_reporter_request *req);

extern "C" {
// The driver takes the line at probe: 0, or -EBUSY when another driver holds it.
int charge_reporter_attach(charge_reporter_handler_t handler, void *data);
// The driver lets it go at remove; returns once no request is in the driver's handler.
void charge_reporter_detach(void *data);
}
