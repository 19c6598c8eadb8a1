// The baseline of the node-read benches: the host kernel's open, read and close of
// /proc/loadavg, a small seq_file node like the phone's. Registered in each bench that includes
// this, so that both sides run under the same load.
#pragma once

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

inline void BM_HostLoadavg(benchmark::State &state) {
    char buf[256];
    for (auto _ : state) {
        int fd = ::open("/proc/loadavg", O_RDONLY);
        benchmark::DoNotOptimize(::read(fd, buf, sizeof buf));
        ::close(fd);
    }
}
BENCHMARK(BM_HostLoadavg);
