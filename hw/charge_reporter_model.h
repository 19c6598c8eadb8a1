// Host side of the charger's reporting line, for phonesim's `hw uevent` and the tests. The
// driver's side is hw/charge_reporter.h.
#pragma once

#include "hw/charge_reporter.h"

namespace hw {

// Rings the doorbell with req in the calling task: the driver's result, -ENODEV while no driver
// holds the line, or -EINVAL for more values than the line has registers.
int charge_reporter_raise(const struct charge_reporter_request &req);

}  // namespace hw
