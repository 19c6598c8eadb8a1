// Shared fixture of the pageshield tests: a fresh load of the module per test, its tunables and
// report as a shell reads them, and processes that map a shared file.
#pragma once

#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/printk_log.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/mm/mm_host.h"
#include "tests/support/module_checks.h"
#include "tests/support/node_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include "simkernel/kernel/task.h"

#include <platform/mm.h>
#include <platform/trace/hooks/mm.h>
#include <platform/trace/hooks/vmscan.h>

namespace pageshield_test {

using simtest::exists;
using simtest::read;
using simtest::write;

inline const std::string kTunables = "/sys/module/pageshield/mapped_protect/zo_mapped_protect/";
inline const std::string kReport = "/proc/zo_mapped_protect_show";

// The report's lines as label -> value.
struct Report {
    std::map<std::string, std::string> v;
    long num(const std::string &label) const {
        auto it = v.find(label);
        EXPECT_NE(it, v.end()) << label;
        return it == v.end() ? -1 : std::stol(it->second);
    }
    long cur_anon() const { return num("zo_cur_anon_mapped_pages"); }
    long cur_file() const { return num("zo_cur_file_mapped_pages"); }
    long sum_anon() const { return num("zo_sum_anon_mapped_pages"); }
    long sum_file() const { return num("zo_sum_file_mapped_pages"); }
    long max_anon() const { return num("zo_max_sum_anon_mapped_pages"); }
    long max_file() const { return num("zo_max_sum_file_mapped_pages"); }
};

// Processes that each map the first `pages` pages of one file, in memcg if one is given (the
// first to map a page is charged for it); they exit with the object.
class Mappers {
  public:
    Mappers(std::string file, unsigned long pages, struct mem_cgroup *memcg = nullptr)
        : file_(std::move(file)), pages_(pages), memcg_(memcg) {}
    ~Mappers() { resize(0); }
    void resize(size_t n) {
        while (tasks_.size() < n) {
            tasks_.push_back(sim::task_create_user("ps_mapper"));
            if (memcg_) {
                EXPECT_EQ(sim::memcg_move_task(tasks_.back(), memcg_), 0);
            }
            EXPECT_EQ(sim::mm_map_file(tasks_.back(), file_, pages_), 0);
        }
        while (tasks_.size() > n) {
            sim::task_exit(tasks_.back());
            tasks_.pop_back();
        }
    }
    size_t size() const { return tasks_.size(); }
    struct page *page(unsigned long index) const {
        return sim::mm_file_page(file_, index);
    }
    struct task_struct *task(size_t i) const {
        return tasks_[i];
    }

  private:
    std::string file_;
    unsigned long pages_;
    struct mem_cgroup *memcg_;
    std::vector<struct task_struct *> tasks_;
};

// Pages that are on no list of the kernel's: the probes see only what the hooks pass them. Each
// starts with `flags` and `mapcount` mappings.
class SyntheticPages {
  public:
    explicit SyntheticPages(size_t n, unsigned long flags = 0, int mapcount = 0) : n_(n) {
        pages_ = static_cast<struct page *>(aligned_alloc(64, n * sizeof(struct page)));
        memset(pages_, 0, n * sizeof(struct page));
        for (size_t i = 0; i < n; i++) {
            pages_[i].flags = flags;
            atomic_set(&pages_[i]._mapcount, mapcount - 1);
        }
    }
    ~SyntheticPages() { free(pages_); }
    SyntheticPages(const SyntheticPages &) = delete;
    SyntheticPages &operator=(const SyntheticPages &) = delete;
    struct page *operator[](size_t i) const {
        return &pages_[i];
    }
    size_t size() const { return n_; }

  private:
    size_t n_;
    struct page *pages_;
};

class PageshieldTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::fault_clear();
        mark_ = sim::log_next_seq();
        ASSERT_EQ(sim::module_load("pageshield"), 0);
    }
    void TearDown() override {
        sim::fault_clear();
        sim::settle();
        if (sim::module_find("pageshield")) {
            EXPECT_EQ(sim::module_unload("pageshield"), 0);
        }
    }

    static std::string tunable(const std::string &name) { return read(kTunables + name); }
    static long set_tunable(const std::string &name, std::string_view text) {
        return write(kTunables + name, text);
    }
    static Report report() {
        Report r;
        std::istringstream in(read(kReport));
        std::string line;
        while (std::getline(in, line)) {
            size_t colon = line.find(':');
            if (colon != std::string::npos)
                r.v[line.substr(0, colon)] = line.substr(line.find_first_not_of(' ', colon + 1));
        }
        return r;
    }
    // The running counts equal a fresh walk's.
    static void expect_counts_agree(const Report &r) {
        EXPECT_EQ(r.sum_anon(), r.cur_anon());
        EXPECT_EQ(r.sum_file(), r.cur_file());
    }

    std::vector<std::string> log() const { return sim::log_texts_since(mark_); }
    int log_count(const std::string &text) const {
        auto l = log();
        return int(std::count(l.begin(), l.end(), text));
    }
    void mark_log() { mark_ = sim::log_next_seq(); }

    // Reloads the module with one failure armed for its start-up.
    void reload_with_fault(std::string_view op, uint64_t nth = 1) {
        ASSERT_EQ(sim::module_unload("pageshield"), 0);
        sim::FaultRule rule;
        rule.op = std::string(op);
        rule.module = "pageshield";
        rule.mode = sim::FaultRule::Mode::nth;
        rule.count = nth;
        sim::fault_arm(rule);
        mark_log();
        ASSERT_EQ(sim::module_load("pageshield"), 0);
        sim::fault_clear();
    }

    uint64_t mark_ = 0;
};

}  // namespace pageshield_test
