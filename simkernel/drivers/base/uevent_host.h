// Host-side view of the uevents the kernel has sent, as a netlink listener (udevadm monitor
// --kernel --property) would have received them.
#pragma once

#include <cstddef>
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

// The backlog a listener keeps: at most the latest kUeventBacklog uevents sent since boot (or
// the last uevents_clear()), oldest first. Older ones are dropped, as a socket buffer that is
// never drained drops them, so a phone that binds and unbinds for days does not grow without end.
constexpr size_t kUeventBacklog = 4096;
std::vector<Uevent> uevents();
// Those with a sequence number of seq or above.
std::vector<Uevent> uevents_since(uint64_t seq);
// The sequence number the next uevent will get.
uint64_t uevent_next_seq();
void uevents_clear();
// "KERNEL[75.000000] change   /devices/platform/chgnotify (platform)\nACTION=change\n...\n\n"
std::string uevent_format(const Uevent &ev);

// Receives every uevent sent while it exists, beyond the backlog's bound: a listener that
// drains its socket as fast as the kernel sends.
class UeventRecorder {
  public:
    UeventRecorder();
    ~UeventRecorder();
    UeventRecorder(const UeventRecorder &) = delete;
    UeventRecorder &operator=(const UeventRecorder &) = delete;
    std::vector<Uevent> events() const;

  private:
    friend void uevent_deliver(Uevent ev);
    std::vector<Uevent> received_;
};

}  // namespace sim
