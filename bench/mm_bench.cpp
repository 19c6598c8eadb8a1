// Cost of the memory manager's hot paths: a hook with no probe, and a 512-page reclaim from a
// group refilled before each run.
#include "simkernel/kernel/boot.h"
#include "simkernel/kernel/task.h"
#include "simkernel/mm/mm_host.h"

#include <platform/swap.h>
#include <platform/trace/hooks/vmscan.h>

#include <benchmark/benchmark.h>

namespace {

void BM_HookWithoutProbe(benchmark::State &state) {
    char scan_balance = 1;
    for (auto _ : state) {
        trace_android_vh_tune_scan_type(&scan_balance);
        benchmark::DoNotOptimize(scan_balance);
    }
}
BENCHMARK(BM_HookWithoutProbe);

void BM_Reclaim512FromGroup(benchmark::State &state) {
    sim::memcg_mkdir("bench");
    struct mem_cgroup *memcg = sim::memcg_lookup("bench");
    for (auto _ : state) {
        state.PauseTiming();
        struct task_struct *t = sim::task_create_user("bench");
        sim::memcg_move_task(t, memcg);
        sim::mm_fault_anon(t, 2048);
        sim::mm_map_file(t, "/data/bench.bin", 2048);
        state.ResumeTiming();
        benchmark::DoNotOptimize(try_to_free_mem_cgroup_pages(memcg, 512, GFP_KERNEL, true));
        state.PauseTiming();
        sim::task_exit(t);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Reclaim512FromGroup)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    sim::kernel_boot(sim::BootParams{});
    benchmark::RunSpecifiedBenchmarks();
    sim::kernel_shutdown();
    return 0;
}
