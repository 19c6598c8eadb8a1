// The default phone's user space at boot (what init, zygote and the activity manager start):
// a real model in the sense that every page of it goes through the same fault, page-cache and
// charging paths as the shell's commands. Sizes scale with RAM; 8 GiB gives about 4 GiB in use.
#include "simkernel/kernel/task.h"
#include "simkernel/mm/mm_host.h"

#include <platform/memcontrol.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace sim::mm {
namespace {

struct Service {
    const char *comm;
    unsigned int anon_mib;
    bool zygote;  // forked from zygote: maps the framework
    bool locked;  // mlockall()ed
};

const Service services[] = {
    {"init", 6, false, false},
    {"ueventd", 3, false, false},
    {"logd", 18, false, false},
    {"lmkd", 4, false, true},
    {"servicemanager", 3, false, false},
    {"vold", 9, false, false},
    {"netd", 11, false, false},
    {"surfaceflinger", 96, false, false},
    {"audioserver", 22, false, false},
    {"cameraserver", 19, false, false},
    {"media.codec", 24, false, false},
    {"statsd", 9, false, false},
    {"zomd@2.0-service", 12, false, false},
    {"adbd", 6, false, false},
    {"zygote64", 64, true, false},
    {"zygote", 28, true, false},
    {"system_server", 320, true, false},
};

const char *const apps[] = {
    "com.android.systemui",
    "com.android.launcher3",
    "com.android.phone",
    "com.google.android.gms",
    "com.android.chrome",
    "com.google.android.youtube",
    "com.whatsapp",
    "com.instagram.android",
    "com.spotify.music",
    "com.android.vending",
    "com.google.android.apps.maps",
    "com.google.android.gm",
    "com.android.camera2",
    "com.android.settings",
    "com.android.contacts",
    "com.android.mms",
    "com.google.android.apps.photos",
    "com.android.deskclock",
    "com.android.calendar",
    "com.google.android.inputmethod",
    "com.android.bluetooth",
    "com.android.nfc",
    "com.android.providers.media",
    "com.android.printspooler",
    "com.netflix.mediaclient",
    "com.twitter.android",
    "com.facebook.katana",
    "com.amazon.mShop.android",
    "org.telegram.messenger",
    "com.android.documentsui",
    "com.google.android.apps.docs",
    "com.android.music",
    "com.android.email",
    "com.google.android.keep",
    "com.android.gallery3d",
    "com.android.dialer",
};

// Mapped by every process forked from zygote (so their pages have a mapcount of dozens).
const struct {
    const char *path;
    unsigned int mib;
    bool exec;  // compiled code, mapped executable
} framework[] = {
    {"/system/framework/arm64/boot-framework.oat", 18, true},
    {"/system/framework/framework.jar", 8, false},
    {"/system/framework/arm64/boot.oat", 6, true},
    {"/apex/com.android.art/lib64/libart.so", 3, true},
    {"/system/lib64/libhwui.so", 4, true},
    {"/system/lib64/libandroid_runtime.so", 2, true},
};
// Mapped by every native service and every zygote process.
const struct {
    const char *path;
    unsigned int mib;
} native_libs[] = {
    {"/apex/com.android.runtime/lib64/bionic/libc.so", 1},
    {"/system/lib64/libbinder.so", 1},
    {"/system/lib64/libutils.so", 1},
};

// A small deterministic generator, so that every boot has the same population.
uint32_t next_rand(uint32_t *state) {
    *state = *state * 1103515245u + 12345u;
    return (*state >> 16) & 0x7fff;
}

}  // namespace

void populate_default_phone(uint64_t ram_bytes, unsigned int boot_apps) {
    // Pages per MiB of the default phone, scaled to this phone's RAM.
    const unsigned long per_mib = (256UL * ram_bytes) / (8ULL << 30);
    if (!per_mib)
        return;
    uint32_t seed = 20261208;
    // Lists balanced as inactive_is_low() keeps a group's below 1 GiB: as much inactive as
    // active. How much of each process's heap it has used lately; a stream of its own, so that the
    // sizes drawn from seed do not depend on it.
    uint32_t heat = 20261209;
    memcg_mkdir("system");
    memcg_mkdir("apps");
    struct mem_cgroup *system = memcg_lookup("system");

    auto map_common = [&](struct task_struct *t, bool zygote) {
        for (const auto &lib : native_libs)
            mm_map_file(t, lib.path, lib.mib * per_mib, true);
        if (!zygote)
            return;
        for (const auto &f : framework)
            mm_map_file(t, f.path, f.mib * per_mib, f.exec);
    };

    for (const Service &s : services) {
        struct task_struct *t = task_find_by_comm(std::string(s.comm).substr(0, 15));
        if (!t)
            t = task_create_user(s.comm, 0);
        if (std::string(s.comm) != "init")
            memcg_move_task(t, system);
        map_common(t, s.zygote);
        mm_fault_anon(t, s.anon_mib * per_mib, s.locked);
        mm_age_anon(t, 50, 10 + next_rand(&heat) % 30);
    }

    // Zygote preloads the framework: read twice, its page cache is on the active list.
    if (struct task_struct *zygote = task_find_by_comm("zygote64")) {
        TaskScope as(zygote);
        for (int pass = 0; pass < 2; pass++)
            for (const auto &f : framework)
                mm_file_read(f.path, f.mib * per_mib);
    }

    for (unsigned int i = 0; i < std::size(apps) && i < boot_apps; i++) {
        const char *app = apps[i];
        unsigned int uid = 10010 + i;
        std::string group = "apps/uid_" + std::to_string(uid);
        memcg_mkdir(group);
        // As Android names app processes: the last 15 characters of the package name.
        std::string name(app);
        struct task_struct *t =
            task_create_user(name.size() > 15 ? name.substr(name.size() - 15) : name, uid);
        memcg_move_task(t, memcg_lookup(group));
        map_common(t, true);
        std::string apk = std::string("/data/app/") + app + "/base.apk";
        mm_map_file(t, apk, (2 + next_rand(&seed) % 8) * per_mib);
        mm_fault_anon(t, (24 + next_rand(&seed) % 72) * per_mib);
        mm_age_anon(t, 50, 5 + next_rand(&heat) % 40);
    }

    // Page cache nobody maps: media scanned, logs and databases read by the system.
    struct task_struct *scanner = task_find_by_comm("providers.media");
    if (scanner) {
        TaskScope as(scanner);
        mm_file_read("/data/media/0/DCIM/Camera/VID_20261201.mp4", 380 * per_mib);
        mm_file_read("/data/media/0/Music/album.flac", 120 * per_mib);
    }
    mm_file_read("/data/system/packages.xml", 2 * per_mib);
    mm_file_read("/data/misc/logd/logcat", 40 * per_mib);
    mm_file_read("/system/etc/fonts.xml", 1 * per_mib);
    mm_file_read("/system/fonts/NotoColorEmoji.ttf", 10 * per_mib);
    mm_age_file_mappings(30);
}

}  // namespace sim::mm
