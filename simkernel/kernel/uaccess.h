// Host-side control of user memory. A task's user buffer is host memory; ranges marked here
// fault like unmapped user addresses, so a copy that reaches them stops at the first faulting
// byte. The first page (null and small pointers) always faults.
#pragma once

#include <cstddef>

namespace sim {

void user_fault_range_add(const void *addr, size_t len);
// Removes the range that starts at addr.
void user_fault_range_remove(const void *addr);

// Marks [addr, addr + len) as faulting while alive.
class UserFaultRange {
  public:
    UserFaultRange(const void *addr, size_t len) : addr_(addr) { user_fault_range_add(addr, len); }
    ~UserFaultRange() { user_fault_range_remove(addr_); }
    UserFaultRange(const UserFaultRange &) = delete;
    UserFaultRange &operator=(const UserFaultRange &) = delete;

  private:
    const void *addr_;
};

}  // namespace sim
