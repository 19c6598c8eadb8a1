// The errno of a FUSE reply for a node call's result: user-space codes pass unchanged, the
// kernel's own codes become what a system call returns in their place.
#include "phonesim/fuse_mount.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(FuseErrno, SuccessIsNoError) {
    EXPECT_EQ(phonesim::fuse_errno(0), 0);
    EXPECT_EQ(phonesim::fuse_errno(4096), 0);
}

TEST(FuseErrno, UserSpaceCodesPassUnchanged) {
    EXPECT_EQ(phonesim::fuse_errno(-EINVAL), EINVAL);
    EXPECT_EQ(phonesim::fuse_errno(-EPERM), EPERM);
    EXPECT_EQ(phonesim::fuse_errno(-EACCES), EACCES);
    EXPECT_EQ(phonesim::fuse_errno(-ENODEV), ENODEV);
    EXPECT_EQ(phonesim::fuse_errno(-EFAULT), EFAULT);
    EXPECT_EQ(phonesim::fuse_errno(-EHWPOISON), EHWPOISON);
}

TEST(FuseErrno, RestartCodesAreInterruptions) {
    EXPECT_EQ(phonesim::fuse_errno(-512), EINTR);  // ERESTARTSYS
    EXPECT_EQ(phonesim::fuse_errno(-513), EINTR);  // ERESTARTNOINTR
    EXPECT_EQ(phonesim::fuse_errno(-514), EINTR);  // ERESTARTNOHAND
    EXPECT_EQ(phonesim::fuse_errno(-516), EINTR);  // ERESTART_RESTARTBLOCK
}

TEST(FuseErrno, OtherKernelCodesBecomeTheirUserSpaceKin) {
    EXPECT_EQ(phonesim::fuse_errno(-515), ENOTTY);      // ENOIOCTLCMD
    EXPECT_EQ(phonesim::fuse_errno(-518), ESTALE);      // EOPENSTALE
    EXPECT_EQ(phonesim::fuse_errno(-524), EOPNOTSUPP);  // ENOTSUPP
    EXPECT_EQ(phonesim::fuse_errno(-517), EIO);         // EPROBE_DEFER
    EXPECT_EQ(phonesim::fuse_errno(-529), EIO);         // EIOCBQUEUED
    EXPECT_EQ(phonesim::fuse_errno(-4095), EIO);
}

}  // namespace
