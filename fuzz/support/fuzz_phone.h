// What the fuzz targets share: one boot of the small phone per process, the modules a target
// needs, and the checks that turn what the kernel logs into findings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct task_struct;

namespace fuzz {

// Boots the small phone (fuzz/small_phone.dts) once, with the modules of the build's
// modules.load, as init does; later calls do nothing.
void boot_phone();
// The user task a target's writes and reads run in (root, as the memory service is).
struct task_struct *user_task();

// A mark in the kernel log, and the kernel's own reports of a fault since it: warnings, BUG
// reports, lockdep splats, bad seq_file counts. A target aborts on one, so it is a finding.
uint64_t log_mark();
std::vector<std::string> kernel_problems_since(uint64_t mark);
// Aborts with the lines when there are any since *mark (the input is then saved by libFuzzer);
// otherwise moves *mark past what it looked at, so each check reads only what is new.
void check_kernel_quiet(uint64_t *mark, std::string_view what);

// Prints why and aborts: a wrong result the sanitizers cannot see.
[[noreturn]] void finding(std::string_view what);

// Splits an input into records: each record is one byte (a selector) and the bytes up to the
// next '\n' or the end. Empty inputs give no record. Only the first kMaxRecords count, so that
// one input's cost stays bounded and a slow input is a finding of one write, not of hundreds.
constexpr size_t kMaxRecords = 16;
struct Record {
    uint8_t selector;
    std::string_view data;
};
std::vector<Record> split_records(const uint8_t *data, size_t size);

}  // namespace fuzz
