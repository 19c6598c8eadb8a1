// Host-side control of simulated time. Clocks are virtual by default: time moves only when
// time_advance() moves it; timers and delayed work fire in time order, and after each firing
// the simulation settles (every kernel thread asleep, no work runnable). A real-time mode
// follows the host's monotonic clock instead, for interactive use.
#pragma once

#include <cstdint>

namespace sim {

// Nanoseconds since boot on the simulated monotonic clock.
uint64_t clock_monotonic_ns();
// Sets the wall clock (seconds since the epoch) at the current monotonic time.
void clock_set_wall(int64_t seconds);

// Advances virtual time by ns: each timer due within the step fires at its own expiry time,
// followed by settle(); then the clock reaches the end of the step and settles once more.
void time_advance(uint64_t ns);
// Waits until every kernel thread sleeps and no work item is runnable.
void settle();

// Real-time mode: a host thread moves virtual time along with the host clock.
void realtime_start();
void realtime_stop();
bool realtime_enabled();

}  // namespace sim
