// Test control over spin-lock contention: make the next task that takes a spin lock of a given
// class keep it until the test lets go, so that the path which meets the busy lock (a trylock
// that gives up, a spinner that waits) can be driven deterministically.
#pragma once

#include <string>

namespace sim {

// Armed on construction, for one acquisition of a lock whose class name is `lock_class` (the
// variable name of a DEFINE_SPINLOCK, or the argument of spin_lock_init). The destructor lets
// the holder go if it still waits.
class LockHold {
  public:
    explicit LockHold(std::string lock_class);
    ~LockHold();
    LockHold(const LockHold &) = delete;
    LockHold &operator=(const LockHold &) = delete;

    // Blocks until some task has taken the lock and is being held with it.
    void wait_held();
    // Lets the holder continue (it then runs on and unlocks as its code says).
    void release();
};

// Called by the lock code after each spin-lock acquisition.
void lock_hold_acquired(const char *lock_class);

}  // namespace sim
