// Host-side view of the calling thread's lock state, for checks elsewhere in the simulator
// (for instance, that a callee left interrupts as its caller had them).
#pragma once

namespace sim {
// True while the calling host thread runs with interrupts masked.
bool irqs_disabled_now();
// Spin locks (and other preemption-disabling sections) the calling host thread holds.
int preempt_count_now();
}  // namespace sim
