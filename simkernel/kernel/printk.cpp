// Kernel log (a real model of kernel/printk/printk.c's record store in 5.10: levels parsed
// from KERN_SOH prefixes, continuation of the caller's open record, a bounded ring of records
// with sequence numbers and monotonic timestamps).
#include "simkernel/kernel/printk_log.h"

#include "simkernel/kernel/sim_time.h"
#include "simkernel/lib/format.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <mutex>

#include <platform/printk.h>
#include <platform/sched.h>

namespace sim {
namespace {

// LOG_LINE_MAX: 1024 less PREFIX_MAX, the buffer one printk formats into.
constexpr size_t kLogLineMax = 1024 - 32;
constexpr char kSoh = '\001';

struct Log {
    std::mutex lock;
    std::deque<LogRecord> records;
    size_t bytes = 0;
    size_t capacity = size_t(1) << 17;  // CONFIG_LOG_BUF_SHIFT=17
    uint64_t next_seq = 0;
    // The last record stays open to continuation lines while it has no newline and no other
    // record has been stored after it.
    bool last_open = false;
    const void *last_caller = nullptr;
};

Log &log() {
    static Log l;
    return l;
}

void trim_to_capacity(Log &l) {
    while (l.bytes > l.capacity && !l.records.empty()) {
        l.bytes -= l.records.front().text.size();
        l.records.pop_front();
        if (l.records.empty())
            l.last_open = false;
    }
}

void append_prefix(std::string &out, const LogRecord &rec, bool raw) {
    char prefix[48];
    uint64_t sec = rec.ts_ns / 1000000000ULL, usec = rec.ts_ns % 1000000000ULL / 1000;
    if (raw)
        snprintf(prefix, sizeof(prefix), "<%d>[%5" PRIu64 ".%06" PRIu64 "] ", rec.level, sec, usec);
    else
        snprintf(prefix, sizeof(prefix), "[%5" PRIu64 ".%06" PRIu64 "] ", sec, usec);
    out += prefix;
}

// Who is printing, for continuation lines: the task, as printk_caller_id() does in task
// context.
const void *caller_id() {
    return get_current();
}

int store(const char *text, size_t len) {
    int level = LOGLEVEL_DEFAULT;
    bool cont = false, newline = false;
    if (len && text[len - 1] == '\n') {
        len--;
        newline = true;
    }
    while (len >= 2 && text[0] == kSoh) {
        char c = text[1];
        if (c >= '0' && c <= '7') {
            if (level == LOGLEVEL_DEFAULT)
                level = c - '0';
        } else if (c == 'c') {
            cont = true;
        } else {
            break;
        }
        text += 2;
        len -= 2;
    }
    if (level == LOGLEVEL_DEFAULT)
        level = MESSAGE_LOGLEVEL_DEFAULT;

    const void *caller = caller_id();
    Log &l = log();
    std::lock_guard g(l.lock);
    if (cont && l.last_open && l.last_caller == caller &&
        l.records.back().text.size() + len <= kLogLineMax) {
        l.records.back().text.append(text, len);
    } else {
        l.records.push_back(LogRecord{l.next_seq++, level, clock_monotonic_ns(), {text, len}});
        l.last_caller = caller;
    }
    l.bytes += len;
    l.last_open = !newline;
    trim_to_capacity(l);
    return static_cast<int>(len);
}

}  // namespace

std::vector<LogRecord> log_records() {
    return log_records_since(0);
}

std::vector<LogRecord> log_records_since(uint64_t seq) {
    Log &l = log();
    std::lock_guard g(l.lock);
    // Oldest first, so the records since seq are a tail the search finds without a walk.
    auto first = std::partition_point(l.records.begin(), l.records.end(),
                                      [seq](const LogRecord &r) { return r.seq < seq; });
    return {first, l.records.end()};
}

std::vector<std::string> log_texts_since(uint64_t seq) {
    std::vector<std::string> out;
    for (LogRecord &r : log_records_since(seq))
        out.push_back(std::move(r.text));
    return out;
}

uint64_t log_next_seq() {
    Log &l = log();
    std::lock_guard g(l.lock);
    return l.next_seq;
}

void log_clear() {
    Log &l = log();
    std::lock_guard g(l.lock);
    l.records.clear();
    l.bytes = 0;
    l.last_open = false;
}

void log_set_capacity(size_t bytes) {
    Log &l = log();
    std::lock_guard g(l.lock);
    l.capacity = bytes;
    trim_to_capacity(l);
}

std::string log_format(const LogRecord &rec, bool raw) {
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t end = rec.text.find('\n', start);
        append_prefix(out, rec, raw);
        out.append(rec.text, start, end == std::string::npos ? std::string::npos : end - start);
        out += '\n';
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

}  // namespace sim

extern "C" {

int vprintk(const char *fmt, va_list args) {
    // As 5.10's textbuf: the level prefix counts against the limit too.
    char text[sim::kLogLineMax];
    int len = sim::format_kernel(text, sizeof(text), fmt, args);
    size_t stored = len < 0 ? 0 : std::min(static_cast<size_t>(len), sizeof(text) - 1);
    return sim::store(text, stored);
}

int printk(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = vprintk(fmt, args);
    va_end(args);
    return r;
}

}  // extern "C"
