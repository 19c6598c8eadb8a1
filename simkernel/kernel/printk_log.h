// Host-side reader of the kernel log, for dmesg, phonesim and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct LogRecord {
    uint64_t seq;      // sequence number, from 0 at boot, never reused
    int level;         // 0 (KERN_EMERG) to 7 (KERN_DEBUG)
    uint64_t ts_ns;    // monotonic time of the first printk of the record
    std::string text;  // without the level prefix and the final newline
};

// The records still in the log, oldest first.
std::vector<LogRecord> log_records();
// The records with a sequence number of at least seq (one taken by log_next_seq() earlier).
std::vector<LogRecord> log_records_since(uint64_t seq);
// Just the texts of log_records_since(seq).
std::vector<std::string> log_texts_since(uint64_t seq);
// The sequence number the next record will get: a mark for log_records_since().
uint64_t log_next_seq();
void log_clear();
// Bounds the log to this many bytes of text; the oldest records go first (like the kernel's
// ring buffer, 2^CONFIG_LOG_BUF_SHIFT bytes).
void log_set_capacity(size_t bytes);

// One record as dmesg prints it, one line per line of text, each ending in '\n':
// "[    1.000104] text", or with raw "<3>[    1.000104] text" as dmesg -r prints it.
std::string log_format(const LogRecord &rec, bool raw = false);

}  // namespace sim
