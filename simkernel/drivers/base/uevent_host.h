// Host-side view of the uevents the kernel has sent, as a netlink listener (udevadm monitor
// --kernel --property) would have received them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Uevent {
    uint64_t seqnum = 0;
    int64_t time_ns = 0;  // monotonic clock when sent
    std::string action;   // "add", "change", ...
    std::string devpath;  // "/devices/platform/chgnotify"
    std::string subsystem;
    // Every KEY=value of the environment, in the order sent (ACTION first, SEQNUM last).
    std::vector<std::string> env;
};

// The uevents sent since boot (or the last uevents_clear()), oldest first.
std::vector<Uevent> uevents();
// Those with a sequence number of seq or above.
std::vector<Uevent> uevents_since(uint64_t seq);
// The sequence number the next uevent will get.
uint64_t uevent_next_seq();
void uevents_clear();
// "KERNEL[75.000000] change   /devices/platform/chgnotify (platform)\nACTION=change\n...\n\n"
std::string uevent_format(const Uevent &ev);

}  // namespace sim
