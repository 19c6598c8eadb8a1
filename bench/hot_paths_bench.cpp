// The simulated kernel's hot paths, each measured beside its baseline in the same run:
//   - open, read and close of a procfs and a sysfs node from a quiet kernel, against the host
//     kernel's own /proc/loadavg, and the host threads each read wakes;
//   - a vendor hook with one idle probe, against an empty out-of-line call;
//   - a page's map and unmap with pageshield's probes, against the same without them;
//   - an uncontended simulated mutex, against std::mutex.
// After the runs, one line per pair gives the ratio of wall-clock times and the bound it is
// held to (with --benchmark_repetitions=N, of the medians).
#include "bench/host_loadavg.h"
#include "bench/ratio_reporter.h"
#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/boot.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/sched_internal.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"
#include "simkernel/mm/mm_host.h"
#include "simkernel/mm/mm_internal.h"

#include <platform/mutex.h>
#include <platform/tracepoint.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

extern "C" {
DECLARE_HOOK(bench_idle_hook, TP_PROTO(int *value), TP_ARGS(value));
struct tracepoint __tracepoint_bench_idle_hook = {"bench_idle_hook", nullptr};
}

namespace {

constexpr const char *kProcNode = "/proc/kswapd_pid";
constexpr const char *kSysfsNode = "/sys/module/vmassist/zomd/zomdtrigger";

// --- node reads --------------------------------------------------------------------------

void node_read(benchmark::State &state, const char *path) {
    char buf[4096];
    sim::settle();
    uint64_t woken = sim::sched_wakeups();
    for (auto _ : state) {
        int fd = sim::vfs::open(path, O_RDONLY);
        benchmark::DoNotOptimize(sim::vfs::read(fd, buf, sizeof buf));
        sim::vfs::close(fd);
    }
    state.counters["woken/read"] =
        benchmark::Counter(double(sim::sched_wakeups() - woken) / double(state.iterations()));
}

void BM_ProcNodeRead(benchmark::State &state) {
    node_read(state, kProcNode);
}
BENCHMARK(BM_ProcNodeRead);

void BM_SysfsNodeRead(benchmark::State &state) {
    node_read(state, kSysfsNode);
}
BENCHMARK(BM_SysfsNodeRead);

// --- hooks ---------------------------------------------------------------------------------

__attribute__((noinline)) void empty_call(int *value) {
    benchmark::DoNotOptimize(value);
}

void idle_probe(void *, int *value) {
    benchmark::DoNotOptimize(value);
}

void BM_EmptyCall(benchmark::State &state) {
    int v = 0;
    for (auto _ : state)
        empty_call(&v);
}
BENCHMARK(BM_EmptyCall);

void BM_HookNoProbe(benchmark::State &state) {
    int v = 0;
    for (auto _ : state) {
        trace_bench_idle_hook(&v);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_HookNoProbe);

void BM_HookOneProbe(benchmark::State &state) {
    int v = 0;
    register_trace_bench_idle_hook(idle_probe, nullptr);
    for (auto _ : state)
        trace_bench_idle_hook(&v);
    unregister_trace_bench_idle_hook(idle_probe, nullptr);
}
BENCHMARK(BM_HookOneProbe);

// --- map and unmap -------------------------------------------------------------------------

// One more mapping of a page a task maps already, and its unmapping: the mapcount update with
// its hook, as each fault and unmap does it.
void map_unmap(benchmark::State &state, bool with_pageshield) {
    if (with_pageshield && sim::module_load("pageshield") != 0) {
        state.SkipWithError("pageshield did not load");
        return;
    }
    struct page *page = sim::mm_file_page("/data/bench_map.bin", 0);
    for (auto _ : state) {
        sim::mm::page_add_file_rmap(page);
        sim::mm::page_remove_rmap(page);
    }
    if (with_pageshield)
        sim::module_unload("pageshield");
}

void BM_MapUnmap(benchmark::State &state) {
    map_unmap(state, false);
}
BENCHMARK(BM_MapUnmap);

void BM_MapUnmapPageshield(benchmark::State &state) {
    map_unmap(state, true);
}
BENCHMARK(BM_MapUnmapPageshield);

// --- mutexes -------------------------------------------------------------------------------

DEFINE_MUTEX(bench_mutex);

void BM_StdMutex(benchmark::State &state) {
    std::mutex m;
    for (auto _ : state) {
        m.lock();
        benchmark::ClobberMemory();
        m.unlock();
    }
}
BENCHMARK(BM_StdMutex);

void BM_SimMutex(benchmark::State &state) {
    for (auto _ : state) {
        mutex_lock(&bench_mutex);
        benchmark::ClobberMemory();
        mutex_unlock(&bench_mutex);
    }
}
BENCHMARK(BM_SimMutex);

// --- ratios --------------------------------------------------------------------------------

void print_ratios(const RatioReporter &r) {
    std::printf("\n");
    r.ratio("node read (procfs) / host /proc/loadavg", "BM_ProcNodeRead", "BM_HostLoadavg", 0.5);
    r.ratio("node read (sysfs) / host /proc/loadavg", "BM_SysfsNodeRead", "BM_HostLoadavg", 0.5);
    r.ratio("hook with one idle probe / empty call", "BM_HookOneProbe", "BM_EmptyCall", 3.0);
    r.ratio("hook without probe / empty call", "BM_HookNoProbe", "BM_EmptyCall", 0.0);
    r.ratio("map+unmap with pageshield / without", "BM_MapUnmapPageshield", "BM_MapUnmap", 2.0);
    r.ratio("simulated mutex / std::mutex (uncontended)", "BM_SimMutex", "BM_StdMutex", 0.0);
    for (const char *b : {"BM_ProcNodeRead", "BM_SysfsNodeRead"}) {
        double woken;
        if (r.counter(std::string(b) + "/woken/read", &woken))
            std::printf("%-46s %8.3f  (at most 0)\n",
                        (std::string("host threads woken per read, ") + b).c_str(), woken);
    }
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (!sim::kernel_boot(sim::BootParams{}))
        return 1;
    // A phone's worth of kernel threads: the memory modules and their threads, then quiet.
    sim::module_load("vmassist");
    struct task_struct *t = sim::task_create_user("bench");
    sim::mm_map_file(t, "/data/bench_map.bin", 1);
    sim::settle();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_ratios(reporter);
    sim::task_exit(t);
    sim::kernel_shutdown();
    return 0;
}
