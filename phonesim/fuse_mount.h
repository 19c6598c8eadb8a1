// The phone's tree (/proc, /sys, /dev) mounted on a host directory with FUSE, so that real
// shells and programs use its files: each FUSE operation is the node filesystem's call, made
// as a user task standing for the calling host process.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace phonesim {

// The errno a FUSE reply carries for a node call's negative result. The kernel's own codes
// (-ERESTARTSYS and the rest from 512 up) never reach user space as they are, and FUSE refuses
// them in a reply; they become what a system call returns in their place.
int fuse_errno(long result);

class FuseMount {
  public:
    // Mounts the booted phone's tree on dir (allow_other when running as root). Null, with
    // *error set, when FUSE or the directory is not usable.
    static std::unique_ptr<FuseMount> mount(const std::string &dir, std::string *error);
    // Stops serving and unmounts, if that has not happened yet.
    ~FuseMount();
    FuseMount(const FuseMount &) = delete;
    FuseMount &operator=(const FuseMount &) = delete;

    // Serves requests on a thread of its own; on_unmounted runs there when the mount goes
    // away from outside (fusermount3 -u, umount).
    void serve(std::function<void()> on_unmounted);
    // Stops serving and unmounts.
    void unmount();

    struct Impl;

  private:
    explicit FuseMount(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace phonesim
