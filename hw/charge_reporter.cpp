// The charger's reporting line (see charge_reporter.h): one driver holds it at a time; requests
// run in the ringing task and may be many at once, and a detach waits for those in the driver.
#include "hw/charge_reporter_model.h"

#include "hw/component.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace hw {
namespace {

struct ChargeReporter {
    // Shared while a request is in the driver's handler, exclusive to attach or detach.
    std::shared_mutex line;
    charge_reporter_handler_t handler = nullptr;
    void *data = nullptr;

    std::mutex stats_lock;
    unsigned long requests = 0;
    std::string last;  // "uevent 5 -3 -> 0"
};

ChargeReporter &reporter() {
    static ChargeReporter r;
    return r;
}

std::string describe(const charge_reporter_request &req) {
    std::string s = req.bundle ? "uevent-bundle " : "uevent ";
    s += std::to_string(req.type);
    int n = req.bundle ? req.nr_values : 1;
    for (int i = 0; i < n; i++)
        s += " " + std::to_string(req.values[i]);
    return s;
}

std::string state() {
    ChargeReporter &r = reporter();
    bool attached;
    {
        std::shared_lock g(r.line);
        attached = r.handler != nullptr;
    }
    std::lock_guard g(r.stats_lock);
    std::string s = "charge-reporter: driver ";
    s += attached ? "attached" : "detached";
    s += ", requests " + std::to_string(r.requests);
    if (!r.last.empty())
        s += ", last " + r.last;
    return s + "\n";
}

void charge_reporter_boot() {
    {
        ChargeReporter &r = reporter();
        std::lock_guard g(r.stats_lock);
        r.requests = 0;
        r.last.clear();
    }
    component_add({"charge-reporter", state, nullptr});
}

}  // namespace

int charge_reporter_raise(const charge_reporter_request &req) {
    ChargeReporter &r = reporter();
    if (req.nr_values < 0 || req.nr_values > CHARGE_REPORTER_MAX_VALUES)
        return -EINVAL;
    // Registers the hardware has not been given read as zero.
    charge_reporter_request mailbox = req;
    for (int i = mailbox.nr_values; i < CHARGE_REPORTER_MAX_VALUES; i++)
        mailbox.values[i] = 0;
    int ret;
    {
        std::shared_lock g(r.line);
        ret = r.handler ? r.handler(r.data, &mailbox) : -ENODEV;
    }
    std::lock_guard g(r.stats_lock);
    r.requests++;
    r.last = describe(mailbox) + " -> " + std::to_string(ret);
    return ret;
}

}  // namespace hw

HW_MODEL(charge_reporter, hw::charge_reporter_boot, nullptr);

extern "C" int charge_reporter_attach(charge_reporter_handler_t handler, void *data) {
    hw::ChargeReporter &r = hw::reporter();
    std::unique_lock g(r.line);
    if (r.handler)
        return -EBUSY;
    r.handler = handler;
    r.data = data;
    return 0;
}

extern "C" void charge_reporter_detach(void *data) {
    hw::ChargeReporter &r = hw::reporter();
    std::unique_lock g(r.line);
    if (r.data == data) {
        r.handler = nullptr;
        r.data = nullptr;
    }
}
