// Cost of chgsentry's condition checks: a simulated day on the charger (17,280 checks at 5 s,
// each with its status line, and the report passes they start) on the default phone with the
// charging stack, as virtual time moves.
#include "hw/charging_model.h"
#include "hw/component.h"
#include "phonesim/devicetree.h"
#include "simkernel/kernel/boot.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sim_time.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

constexpr uint64_t kSecond = 1000000000ULL;
constexpr uint64_t kDay = 86400 * kSecond;
const std::string kStatusLine = "[DV_CHG_DFS][handle_evt_cond_check_work]:cycle_cnt:";

const char *const kModules[] = {
    "dv_notify",       "zoev",        "dvsys_pcba",       "dv_charger_class",
    "dv_cp_class",     "dv_fg_class", "vq_adapter_class", "usbpd_port",
    "primary_charger", "charge_pump", "fuel_gauge",       "chgsentry",
};

void BM_ChargingDay(benchmark::State &state) {
    int64_t checks = 0;
    for (auto _ : state) {
        uint64_t mark = sim::log_next_seq();
        sim::time_advance(kDay);
        state.PauseTiming();
        for (const std::string &text : sim::log_texts_since(mark))
            checks += text.rfind(kStatusLine, 0) == 0;
        sim::log_clear();
        state.ResumeTiming();
    }
    state.counters["checks_per_day"] =
        benchmark::Counter(double(checks) / double(state.iterations()));
}
BENCHMARK(BM_ChargingDay)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    sim::kernel_set_hardware_hooks(hw::hw_boot, hw::hw_shutdown);
    sim::BootParams params;
    params.dtb = phonesim::default_dtb();
    std::string err;
    if (!sim::kernel_boot(params, &err)) {
        std::fprintf(stderr, "boot failed: %s\n", err.c_str());
        return 1;
    }
    for (const char *m : kModules) {
        if (sim::module_load(m) != 0) {
            std::fprintf(stderr, "cannot load %s\n", m);
            return 1;
        }
    }
    // Room in the log for a day of status lines, so the passes can be counted.
    sim::log_set_capacity(size_t(64) << 20);
    // On the charger all day: a check every 5 s after the first one.
    hw::charging::adapter_plug(hw::charging::Adapter{});
    sim::time_advance(60 * kSecond);
    sim::settle();
    benchmark::RunSpecifiedBenchmarks();
    sim::kernel_shutdown();
    return 0;
}
