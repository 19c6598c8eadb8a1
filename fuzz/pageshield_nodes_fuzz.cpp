// pageshield's tunables: each record of an input is one write() to one tunable, followed by a
// read of the three tunables and of /proc/zo_mapped_protect_show. Between writes the memory
// manager runs through the module's hooks (a reclaim request, page-cache reads and a mapping),
// so the tunables written are the ones the protection decision then uses.
//
// A finding: a crash, a sanitizer report, a kernel warning, or a tunable that reads back other
// than the parser's value of what was accepted (the store parses with kstrtobool, or kstrtouint
// in base 0, and refuses what those refuse with -EINVAL).
//
// Input: records of one selector byte and the bytes up to the next newline. The selector's low
// three bits pick the action: 0 enabled, 1 mapcount_protect_thres, 2 noprotect_thres_control,
// 3 a request to /proc/global_reclaim, 4 a page-cache read of a file, 5 a task mapping a file;
// with bit 5 clear ('A'..) a write ends with a newline, with it set ('a'..) it goes as it is.
#include "fuzz/support/fuzz_phone.h"
#include "fuzz/support/kstrtox_ref.h"

#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"
#include "simkernel/mm/mm_host.h"

#include <cstdio>
#include <string>

#include <platform/errno.h>

namespace {

const std::string kDir = "/sys/module/pageshield/mapped_protect/zo_mapped_protect/";
const char *const kTunables[] = {"enabled", "mapcount_protect_thres", "noprotect_thres_control"};

// Tasks that map the fuzz files; each keeps its mappings (mapcounts only go up), so the number
// of mappings is capped to keep the phone's memory bounded over millions of inputs.
constexpr int kMappers = 4, kMaxMaps = 64;
struct task_struct *g_mapper[kMappers];
int g_maps[kMappers];

std::string read_node(const std::string &path) {
    std::string out;
    int rr = sim::vfs::read_file(path, &out);
    if (rr < 0) {
        char msg[200];
        std::snprintf(msg, sizeof(msg), "read of %s failed with %d", path.c_str(), rr);
        fuzz::finding(msg);
    }
    return out;
}

// What a tunable reads after text was written to it: the parsed value, or what it was.
std::string expected_after(int tunable, const std::string &text, const std::string &before,
                           long *want_ret) {
    // sysfs hands the store at most a page less one byte, NUL-terminated.
    std::string seen = text.substr(0, 4095);
    // sysfs answers an empty write itself, with 0.
    if (text.empty()) {
        *want_ret = 0;
        return before;
    }
    if (tunable == 0) {
        bool v = false;
        if (fuzz::ref::kstrtobool(seen, &v) != fuzz::ref::Status::ok) {
            *want_ret = -EINVAL;
            return before;
        }
        *want_ret = long(text.size());
        return v ? "yes\n" : "no\n";
    }
    fuzz::ref::Parsed p = fuzz::ref::kstrtoull(seen, 0);
    if (p.status != fuzz::ref::Status::ok || p.value > UINT32_MAX) {
        *want_ret = -EINVAL;
        return before;
    }
    *want_ret = long(text.size());
    return std::to_string((unsigned long long)p.value) + "\n";
}

unsigned long small_count(std::string_view data) {
    unsigned long n = 0;
    for (char c : data)
        n = n * 31 + static_cast<unsigned char>(c);
    return n % 64;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::boot_phone();
    for (int i = 0; i < kMappers; i++)
        g_mapper[i] = sim::task_create_user("fuzz_mapper" + std::to_string(i), 10099);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sim::TaskScope as(fuzz::user_task());
    uint64_t mark = fuzz::log_mark();
    for (const fuzz::Record &r : fuzz::split_records(data, size)) {
        std::string text(r.data);
        if (!(r.selector & 0x20))
            text += '\n';
        unsigned action = (r.selector & 0x07) % 6;
        if (action < 3) {
            std::string path = kDir + kTunables[action];
            std::string before = read_node(path);
            long want_ret = 0;
            std::string want = expected_after(int(action), text, before, &want_ret);
            long ret = sim::vfs::write_file(path, text);
            if (text.size() >= 4096)
                want_ret = ret;  // a page or more: sysfs cuts it, the count is its business
            std::string after = read_node(path);
            if (ret != want_ret || (ret >= 0 && after != want) || (ret < 0 && after != before)) {
                char msg[300];
                std::snprintf(msg, sizeof(msg),
                              "%s: write of %zu bytes returned %ld (want %ld), reads \"%s\" "
                              "(want \"%s\")",
                              kTunables[action], text.size(), ret, want_ret, after.c_str(),
                              want.c_str());
                fuzz::finding(msg);
            }
        } else if (action == 3) {
            sim::vfs::write_file("/proc/global_reclaim", text);
        } else if (action == 4) {
            sim::mm_file_read("/data/fuzz/" + std::to_string(small_count(r.data) % 4),
                              small_count(r.data));
        } else {
            unsigned long n = small_count(r.data);
            int m = int(n % kMappers);
            if (g_maps[m] < kMaxMaps) {
                g_maps[m]++;
                sim::mm_map_file(g_mapper[m], "/data/fuzz/" + std::to_string(n / kMappers % 4), n);
            }
        }
        sim::settle();
        for (const char *t : kTunables)
            read_node(kDir + t);
        read_node("/proc/zo_mapped_protect_show");
        fuzz::check_kernel_quiet(&mark, "a pageshield input");
    }
    return 0;
}
