// chgsentry's upload of an event text: any text goes to zoevent_upload (through the fuzz-only
// module chgsentry_upload_fuzz, built from chgsentry's own source), and the event channel must
// then hold exactly the record a reference cutting of the text describes. A crash, a sanitizer
// report, a kernel warning or a different record is a finding.
//
// The text's rules: at most 127 bytes (the module's copy), up to the first NUL; items split at
// ','; empty items name no field; an item is "key:value" (without ':' the value is "None"; with
// more pairs the last complete one counts); a value that is a decimal int becomes an integer
// field, anything else a string field with '"' and '\' escaped.
//
// Input: the text, as bytes.
#include "fuzz/support/fuzz_phone.h"
#include "fuzz/support/kstrtox_ref.h"

#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/task.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kCode = 909002004;
int (*g_upload)(int, const char *);

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t n = s.find(sep, start);
        if (n == std::string::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, n - start));
        start = n + 1;
    }
}

std::string expected_fields(const std::string &input) {
    std::string text = std::string(fuzz::ref::c_string(input)).substr(0, 127);
    std::string out;
    for (const std::string &item : split(text, ',')) {
        if (item.empty())
            continue;
        std::vector<std::string> p = split(item, ':');
        std::string key, value;
        for (size_t i = 0;; i += 2) {
            key = p[i];
            if (i + 1 >= p.size()) {
                value = "None";
                break;
            }
            value = p[i + 1];
            // Nothing after the value, or only a trailing ':'.
            if (i + 2 >= p.size() || (i + 3 == p.size() && p[i + 2].empty()))
                break;
        }
        fuzz::ref::Status st;
        auto num =
            fuzz::ref::signed_in(fuzz::ref::kstrtoll_parse(value, 10), INT32_MIN, INT32_MAX, &st);
        if (num) {
            out += " " + key + "=" + std::to_string(*num);
        } else {
            out += " " + key + "=\"";
            for (char c : value) {
                if (c == '"' || c == '\\')
                    out += '\\';
                out += c;
            }
            out += '"';
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::boot_phone();
    if (sim::module_load("chgsentry_upload_fuzz") != 0)
        fuzz::finding("chgsentry_upload_fuzz did not load");
    g_upload =
        reinterpret_cast<int (*)(int, const char *)>(sim::module_symbol_get("fuzz_zoevent_upload"));
    if (!g_upload)
        fuzz::finding("fuzz_zoevent_upload is not there");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sim::TaskScope as(fuzz::user_task());
    uint64_t mark = fuzz::log_mark();
    std::string input(reinterpret_cast<const char *>(data), size);
    if (sim::vfs::write_file("/dev/zoev", "clear") != 5)
        fuzz::finding("the event channel did not clear");
    g_upload(kCode, input.c_str());

    std::string got;
    if (sim::vfs::read_file("/dev/zoev", &got) != 0)
        fuzz::finding("the event channel did not read");
    // "[    t.tttttt] CODE fields\n": one record, whatever its time.
    size_t close = got.find("] ");
    std::string want = std::to_string(kCode) + expected_fields(input) + "\n";
    if (close == std::string::npos || got.substr(close + 2) != want) {
        std::fprintf(stderr, "  got  %s  want %s", got.c_str(), want.c_str());
        fuzz::finding("the uploaded record differs from the text's fields");
    }
    fuzz::check_kernel_quiet(&mark, "an upload");
    return 0;
}
