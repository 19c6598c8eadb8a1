// The shell of a mounted phone from other terminals: `phonesim --mount DIR` listens on a unix
// socket named after DIR, and `phonesim --attach DIR` runs a phonesim shell over it.
#pragma once

#include <memory>
#include <string>

namespace phonesim {

// The socket of the phone mounted on dir: $XDG_RUNTIME_DIR/phonesim/ (or /tmp/phonesim-UID/)
// followed by a name made from dir's absolute path.
std::string attach_socket_path(const std::string &dir);

class AttachServer {
  public:
    // Listens on attach_socket_path(dir). Null, with *error set, when it cannot.
    static std::unique_ptr<AttachServer> listen(const std::string &dir, std::string *error);
    // Closes every attached shell and removes the socket.
    ~AttachServer();
    AttachServer(const AttachServer &) = delete;
    AttachServer &operator=(const AttachServer &) = delete;

    struct Impl;

  private:
    explicit AttachServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// `phonesim --attach DIR`: relays standard input to the phone's shell and its output back,
// until either side ends. Returns phonesim's exit status.
int attach(const std::string &dir);

}  // namespace phonesim
