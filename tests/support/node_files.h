// Reading and writing node files from tests as a shell would: one open, one read or write.
#pragma once

#include "simkernel/fs/vfs.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace simtest {

inline std::string read(const std::string &path) {
    std::string out;
    EXPECT_EQ(sim::vfs::read_file(path, &out), 0) << path;
    return out;
}

inline long write(const std::string &path, std::string_view text) {
    return sim::vfs::write_file(path, text);
}

inline bool exists(const std::string &path) {
    sim::vfs::Stat st;
    return sim::vfs::stat(path, &st) == 0;
}

// Permission bits of a node.
inline unsigned mode(const std::string &path) {
    sim::vfs::Stat st;
    EXPECT_EQ(sim::vfs::stat(path, &st), 0) << path;
    return st.mode & 07777;
}

}  // namespace simtest
