// A node read by a host program through phonesim's FUSE mount (open, read and close, each a
// system call that goes through the host kernel to the mount's thread and back), against the
// host kernel's own /proc/loadavg in the same run. The ratio is printed after the runs.
#include "bench/host_loadavg.h"
#include "bench/ratio_reporter.h"
#include "phonesim/fuse_mount.h"
#include "simkernel/kernel/boot.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/sim_time.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

std::string mount_dir;

void mount_read(benchmark::State &state, const char *node) {
    std::string path = mount_dir + node;
    char buf[4096];
    for (auto _ : state) {
        int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) {
            state.SkipWithError("the node cannot be opened through the mount");
            return;
        }
        benchmark::DoNotOptimize(::read(fd, buf, sizeof buf));
        ::close(fd);
    }
}

void BM_MountProcNodeRead(benchmark::State &state) {
    mount_read(state, "/proc/kswapd_pid");
}
BENCHMARK(BM_MountProcNodeRead);

void BM_MountSysfsNodeRead(benchmark::State &state) {
    mount_read(state, "/sys/module/vmassist/zomd/zomdtrigger");
}
BENCHMARK(BM_MountSysfsNodeRead);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (!sim::kernel_boot(sim::BootParams{}))
        return 1;
    sim::module_load("vmassist");
    sim::settle();
    char dir[] = "/tmp/fuse_mount_bench.XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    mount_dir = dir;
    std::string err;
    auto mount = phonesim::FuseMount::mount(mount_dir, &err);
    if (!mount) {
        std::printf("skipped: /dev/fuse not usable (%s)\n", err.c_str());
        rmdir(dir);
        sim::kernel_shutdown();
        return 0;
    }
    mount->serve(nullptr);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    reporter.ratio("mount read (procfs) / host /proc/loadavg", "BM_MountProcNodeRead",
                   "BM_HostLoadavg", 10.0);
    reporter.ratio("mount read (sysfs) / host /proc/loadavg", "BM_MountSysfsNodeRead",
                   "BM_HostLoadavg", 10.0);
    mount->unmount();
    mount.reset();
    rmdir(dir);
    sim::kernel_shutdown();
    return 0;
}
