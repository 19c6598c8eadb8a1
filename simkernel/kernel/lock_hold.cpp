// One armed hold at a time: the first task that acquires a spin lock of the armed class parks
// on a host condition variable with the lock taken, until the test releases it.
#include "simkernel/kernel/lock_hold.h"

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <mutex>

namespace sim {
namespace {

struct HoldState {
    std::mutex lock;
    std::condition_variable cv;
    std::string lock_class;
    bool held = false;
    bool released = false;
};

// Checked on every acquisition, so an unarmed hold costs one load.
std::atomic<bool> armed{false};

HoldState &state() {
    static HoldState s;
    return s;
}

}  // namespace

LockHold::LockHold(std::string lock_class) {
    HoldState &s = state();
    std::lock_guard g(s.lock);
    assert(!armed.load() && "one LockHold at a time");
    s.lock_class = std::move(lock_class);
    s.held = false;
    s.released = false;
    armed.store(true);
}

LockHold::~LockHold() {
    release();
    HoldState &s = state();
    std::unique_lock lk(s.lock);
    armed.store(false);
    // A holder that has been let go may still be on its way out of the wait.
    s.cv.wait(lk, [&s] { return !s.held; });
}

void LockHold::wait_held() {
    HoldState &s = state();
    std::unique_lock lk(s.lock);
    s.cv.wait(lk, [&s] { return s.held; });
}

void LockHold::release() {
    HoldState &s = state();
    std::lock_guard g(s.lock);
    s.released = true;
    s.cv.notify_all();
}

void lock_hold_acquired(const char *lock_class) {
    if (!armed.load(std::memory_order_acquire))
        return;
    HoldState &s = state();
    std::unique_lock lk(s.lock);
    if (!armed.load() || s.held || s.released || !lock_class || s.lock_class != lock_class)
        return;
    s.held = true;
    s.cv.notify_all();
    s.cv.wait(lk, [&s] { return s.released; });
    s.held = false;
    s.cv.notify_all();
}

}  // namespace sim
