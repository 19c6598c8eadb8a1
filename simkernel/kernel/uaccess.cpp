// Copies from and to user memory (a real model of lib/usercopy.c on host memory: user
// addresses are host addresses, and the ranges marked as faulting stand for unmapped pages).
#include "simkernel/kernel/uaccess.h"

#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_owner.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include <platform/uaccess.h>

namespace sim {
namespace {

struct FaultRanges {
    std::mutex lock;
    std::map<uintptr_t, size_t> ranges;  // start -> length
};

FaultRanges &fault_ranges() {
    static FaultRanges r;
    return r;
}

// How many bytes from addr on can be reached before the first faulting one.
unsigned long accessible(const void *addr, unsigned long n) {
    auto a = reinterpret_cast<uintptr_t>(addr);
    if (a + n < a)
        return 0;  // wraps past the top of the address space: access_ok() fails
    if (a < PAGE_SIZE)
        return 0;  // the zero page is never mapped
    uintptr_t first_fault = a + n;
    FaultRanges &r = fault_ranges();
    std::lock_guard g(r.lock);
    for (const auto &[start, len] : r.ranges) {
        if (start >= first_fault)
            break;
        if (start + len > a)
            first_fault = std::min(first_fault, std::max(start, a));
    }
    return first_fault - a;
}

}  // namespace

void user_fault_range_add(const void *addr, size_t len) {
    FaultRanges &r = fault_ranges();
    std::lock_guard g(r.lock);
    r.ranges[reinterpret_cast<uintptr_t>(addr)] = len;
}

void user_fault_range_remove(const void *addr) {
    FaultRanges &r = fault_ranges();
    std::lock_guard g(r.lock);
    r.ranges.erase(reinterpret_cast<uintptr_t>(addr));
}

}  // namespace sim

extern "C" {

unsigned long _copy_from_user(void *to, const void __user *from, unsigned long n) {
    unsigned long res = n;
    if (!sim::fault_should_fail(sim::fault_op::copy_from_user, SIM_CALLER_MODULE())) {
        unsigned long ok = sim::accessible(from, n);
        if (ok)
            memcpy(to, from, ok);
        res = n - ok;
    }
    if (res)
        memset(static_cast<char *>(to) + (n - res), 0, res);
    return res;
}

unsigned long _copy_to_user(void __user *to, const void *from, unsigned long n) {
    unsigned long ok = sim::accessible(to, n);
    if (ok)
        memcpy(to, from, ok);
    return n - ok;
}

}  // extern "C"
