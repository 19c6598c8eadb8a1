// vmassist's writable nodes: each record of an input is one write() to one node, as a memory
// service would make it, followed by a read of the module's status nodes. The two record logs
// (2048 lines each once full) and the exception table (up to 128 KiB) change only when written,
// so each is read once, after the input's last write, when the input wrote to it. A crash, a
// sanitizer report, a kernel warning, a failed read or a write result that is neither the byte
// count nor an errno is a finding.
//
// Input: records of one selector byte and the bytes up to the next newline. The selector's low
// five bits pick the node (modulo their number); with bit 5 clear ('A'..) the write ends with
// the newline echo adds, with it set ('a'..) it goes as it is (echo -n).
#include "fuzz/support/fuzz_phone.h"

#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

const char *const kWritable[] = {
    "/proc/perflock_records",
    "/proc/zomdlog",
    "/proc/global_reclaim",
    "/proc/kdamond_cpuset",
    "/proc/kcompactd_pid",
    "/proc/perflock_exception",
    "/sys/module/vmassist/zomd/zomdtrigger",
    "/sys/module/vmassist/zomd/zomdnotifier",
    "/dev/memcg/memory.reclaim_once",
    "/dev/memcg/memory.process_fg",
    "/dev/memcg/apps/memory.reclaim_once",
    "/dev/memcg/apps/memory.process_fg",
    "/dev/memcg/apps/uid_10010/memory.reclaim_once",
    "/dev/memcg/apps/uid_10010/memory.process_fg",
};
constexpr size_t kNodes = sizeof(kWritable) / sizeof(kWritable[0]);

// The nodes that only a write to them changes, by their index in kWritable: the two record logs
// and the exception table.
constexpr size_t kReadWhenWritten[] = {0, 1, 5};

const char *const kStatus[] = {
    "/proc/global_reclaim",
    "/proc/kswapd_pid",
    "/proc/kdamond_cpuset",
    "/proc/kcompactd_pid",
    "/sys/module/vmassist/zomd/zomdtrigger",
    "/sys/module/vmassist/zomd/zomdnotifier",
};

// Every node is readable by root, whatever was written before.
void read_node(const char *node) {
    std::string out;
    int rr = sim::vfs::read_file(node, &out);
    if (rr < 0) {
        char msg[160];
        std::snprintf(msg, sizeof(msg), "read of %s failed with %d", node, rr);
        fuzz::finding(msg);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::boot_phone();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sim::TaskScope as(fuzz::user_task());
    uint64_t mark = fuzz::log_mark();
    bool written[kNodes] = {};
    for (const fuzz::Record &r : fuzz::split_records(data, size)) {
        size_t node = (r.selector & 0x1f) % kNodes;
        const char *path = kWritable[node];
        written[node] = true;
        std::string text(r.data);
        if (!(r.selector & 0x20))
            text += '\n';
        long ret = sim::vfs::write_file(path, text);
        // The reclaim thread and the group reclaim run before the reads, as they would between
        // a service's write and its next look.
        sim::settle();
        // A request of 0 pages is no request: global_reclaim consumes nothing then.
        bool zero_ok = text.empty() || std::string_view(path) == "/proc/global_reclaim";
        if (ret > long(text.size()) || (ret == 0 && !zero_ok) || ret < -4095) {
            char msg[160];
            std::snprintf(msg, sizeof(msg), "write of %zu bytes to %s returned %ld", text.size(),
                          path, ret);
            fuzz::finding(msg);
        }
        for (const char *status : kStatus)
            read_node(status);
        fuzz::check_kernel_quiet(&mark, path);
    }
    for (size_t i : kReadWhenWritten)
        if (written[i])
            read_node(kWritable[i]);
    fuzz::check_kernel_quiet(&mark, "the record logs");
    return 0;
}
