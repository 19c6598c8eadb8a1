// The attach socket: each connection is a phonesim shell of its own, fed with the lines the
// client sends. The client's first byte says whether it reads from a terminal ('t', which gets
// a prompt) or not ('n').
#include "phonesim/fuse_session.h"

#include "phonesim/shell.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <list>
#include <mutex>
#include <thread>

namespace phonesim {

std::string attach_socket_path(const std::string &dir) {
    char real[PATH_MAX];
    std::string abs = realpath(dir.c_str(), real) ? real : dir;
    // FNV-1a: a short name that fits a socket address whatever the path's length.
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : abs)
        h = (h ^ c) * 1099511628211ull;
    char name[32];
    snprintf(name, sizeof(name), "/%016llx.sock", static_cast<unsigned long long>(h));
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    std::string base = runtime && *runtime ? std::string(runtime) + "/phonesim"
                                           : "/tmp/phonesim-" + std::to_string(getuid());
    return base + name;
}

namespace {

bool make_address(const std::string &path, struct sockaddr_un *addr) {
    *addr = {};
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr->sun_path))
        return false;
    memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

void serve_connection(int fd) {
    char mode = 'n';
    if (read(fd, &mode, 1) != 1)
        return;
    FdOutput out(fd);
    Shell shell(out, out);
    std::string pending, input;
    char buf[4096];
    for (;;) {
        if (mode == 't')
            out.write(pending.empty() ? "phone:/ # " : "> ");
        size_t nl;
        while ((nl = input.find('\n')) == std::string::npos) {
            ssize_t n = read(fd, buf, sizeof(buf));
            if (n <= 0)
                return;
            input.append(buf, static_cast<size_t>(n));
        }
        pending += input.substr(0, nl + 1);
        input.erase(0, nl + 1);
        if (lex(pending).incomplete)
            continue;
        shell.run(pending);
        pending.clear();
        if (shell.finished())
            return;
    }
}

}  // namespace

struct AttachServer::Impl {
    std::string path;
    int listen_fd = -1;
    std::thread acceptor;
    std::mutex lock;
    struct Conn {
        int fd;
        std::thread thread;
    };
    std::list<Conn> conns;  // under lock
    bool closing = false;   // under lock

    void accept_loop() {
        for (;;) {
            int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            std::lock_guard g(lock);
            if (closing) {
                close(fd);
                return;
            }
            Conn &c = conns.emplace_back(Conn{fd, {}});
            c.thread = std::thread([fd] {
                serve_connection(fd);
                shutdown(fd, SHUT_RDWR);
            });
        }
    }

    ~Impl() {
        {
            std::lock_guard g(lock);
            closing = true;
            for (Conn &c : conns)
                shutdown(c.fd, SHUT_RDWR);
        }
        shutdown(listen_fd, SHUT_RDWR);
        if (acceptor.joinable())
            acceptor.join();
        for (Conn &c : conns) {
            c.thread.join();
            close(c.fd);
        }
        close(listen_fd);
        unlink(path.c_str());
    }
};

AttachServer::AttachServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AttachServer::~AttachServer() = default;

std::unique_ptr<AttachServer> AttachServer::listen(const std::string &dir, std::string *error) {
    std::string path = attach_socket_path(dir);
    std::string base = path.substr(0, path.rfind('/'));
    if (mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = base + ": " + strerror(errno);
        return nullptr;
    }
    struct sockaddr_un addr;
    if (!make_address(path, &addr)) {
        *error = path + ": name too long";
        return nullptr;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + strerror(errno);
        return nullptr;
    }
    // A socket left by a phonesim that did not end cleanly.
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) != 0 ||
        ::listen(fd, 4) != 0) {
        *error = path + ": " + strerror(errno);
        close(fd);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->listen_fd = fd;
    Impl *p = impl.get();
    impl->acceptor = std::thread([p] { p->accept_loop(); });
    return std::unique_ptr<AttachServer>(new AttachServer(std::move(impl)));
}

int attach(const std::string &dir) {
    std::string path = attach_socket_path(dir);
    struct sockaddr_un addr;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !make_address(path, &addr) ||
        connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) != 0) {
        std::cerr << "phonesim: " << dir << ": no phone mounted there (" << path << ": "
                  << strerror(errno) << ")\n";
        return 1;
    }
    char mode = isatty(0) ? 't' : 'n';
    if (write(fd, &mode, 1) != 1)
        return 1;
    // Standard input goes over as it comes; the process ends when the phone's side closes.
    std::thread([fd] {
        char buf[4096];
        ssize_t n;
        while ((n = read(0, buf, sizeof(buf))) > 0) {
            FdOutput(fd).write(std::string_view(buf, static_cast<size_t>(n)));
        }
        shutdown(fd, SHUT_WR);
    }).detach();
    FdOutput out(1);
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0)
        out.write(std::string_view(buf, static_cast<size_t>(n)));
    return 0;
}

}  // namespace phonesim
