// Shared helpers of the fs tests: whole-file reads through a descriptor and log marks.
#pragma once

#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/printk_log.h"

#include <string>
#include <vector>

namespace fstest {

// Reads from fd in chunks of chunk bytes until end of file; a negative result is returned as
// the error and the text read so far is kept.
inline ssize_t read_all(int fd, std::string *out, size_t chunk = 4096) {
    out->clear();
    std::vector<char> buf(chunk);
    for (;;) {
        ssize_t n = sim::vfs::read(fd, buf.data(), chunk);
        if (n <= 0)
            return n;
        out->append(buf.data(), n);
    }
}

// True when some log line since mark contains text.
inline bool logged_since(uint64_t mark, const std::string &text) {
    for (const std::string &line : sim::log_texts_since(mark))
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

}  // namespace fstest
