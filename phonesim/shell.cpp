#include "phonesim/shell.h"

#include "simkernel/kernel/kmod.h"

#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/sim_time.h"
#include "simkernel/kernel/task.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace phonesim {

void FdOutput::write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n <= 0)
            return;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

void Invocation::error(std::string_view text) const {
    err.write(args[0] + ": " + std::string(text) + "\n");
}

namespace {

// Collects a command's output so that a redirection writes it with one write(), as the
// command's own single write would on a device.
class BufferOutput : public Output {
  public:
    void write(std::string_view bytes) override { buf_ += bytes; }
    const std::string &text() const { return buf_; }

  private:
    std::string buf_;
};

bool parse_status(const std::string &s, int *out) {
    char *end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end)
        return false;
    *out = static_cast<int>(v & 0xff);
    return true;
}

}  // namespace

Shell::Shell(Output &out, Output &err) : out_(out), err_(err), builtins_(builtins()) {}

int Shell::run(std::string_view text) {
    LexResult lexed = lex(text);
    if (!lexed.error.empty()) {
        err_.write("sh: " + lexed.error + "\n");
        status_ = 2;
        if (errexit_)
            finished_ = true;
        return status_;
    }
    const std::vector<Command> &cmds = lexed.commands;
    for (size_t first = 0; first < cmds.size() && !finished_;) {
        size_t last = first;
        while (cmds[last].next == Link::Pipe)
            last++;
        bool run_it = true;
        if (first > 0 && cmds[first - 1].next == Link::And)
            run_it = status_ == 0;
        else if (first > 0 && cmds[first - 1].next == Link::Or)
            run_it = status_ != 0;
        if (run_it) {
            status_ = run_pipeline(cmds, first, last);
            sim::settle();
            // ueventd: modules for the devices the commands made appear.
            sim::ueventd_run();
            sim::settle();
            // A failure that && or || tests is no reason to stop.
            if (errexit_ && status_ != 0 && cmds[last].next == Link::End)
                finished_ = true;
        }
        first = last + 1;
    }
    return status_;
}

int Shell::run_pipeline(const std::vector<Command> &cmds, size_t first, size_t last) {
    if (first == last)
        return run_command(cmds[first], out_, {});
    // Each command of a pipeline runs in a subshell: `exit` and `set` there leave this shell
    // as it was.
    const bool finished = finished_, errexit = errexit_;
    std::string input;
    int status = 0;
    for (size_t i = first; i <= last; i++) {
        BufferOutput pipe;
        status = run_command(cmds[i], i == last ? out_ : pipe, input);
        input = pipe.text();
        finished_ = finished;
        errexit_ = errexit;
    }
    return status;
}

int Shell::run_command(const Command &cmd, Output &out, std::string_view in) {
    std::vector<std::string> args;
    for (const Word &w : cmd.words)
        args.push_back(w.expand(status_));
    return run_words(std::move(args), cmd.redirects, out, in);
}

int Shell::run_words(std::vector<std::string> args, const std::vector<Redirect> &redirects,
                     Output &out, std::string_view in) {
    if (args.empty()) {
        // A bare redirection opens (and truncates) the file, as sh does.
        for (const Redirect &r : redirects) {
            std::string path = r.target.expand(status_);
            int fd =
                sim::vfs::open(path, sim::vfs::O_WRONLY_ | sim::vfs::O_CREAT_ |
                                         (r.append ? sim::vfs::O_APPEND_ : sim::vfs::O_TRUNC_));
            if (fd < 0) {
                err_.write("sh: can't create " + path + ": " + std::strerror(-fd) + "\n");
                return 1;
            }
            sim::vfs::close(fd);
        }
        return 0;
    }
    const std::string name = args[0];  // a copy: args is moved to the builtin below
    if (name == "as")
        return run_as(std::move(args), redirects, out, in);
    if (name == "exit") {
        int code = status_;
        if (args.size() > 1 && !parse_status(args[1], &code)) {
            err_.write("sh: exit: " + args[1] + ": bad number\n");
            code = 2;
        }
        finished_ = true;
        return code;
    }
    if (name == "help") {
        out.write(usage());
        return 0;
    }
    if (name == "true")
        return 0;
    if (name == "false")
        return 1;
    if (name == "set") {
        for (size_t i = 1; i < args.size(); i++) {
            if (args[i] == "-e") {
                errexit_ = true;
            } else if (args[i] == "+e") {
                errexit_ = false;
            } else {
                err_.write("sh: set: " + args[i] + ": bad option\n");
                return 1;
            }
        }
        return 0;
    }

    const Builtin *builtin = nullptr;
    for (const Builtin &b : builtins_)
        if (name == b.name)
            builtin = &b;
    if (!builtin) {
        err_.write("sh: " + name + ": inaccessible or not found\n");
        return 127;
    }
    if (redirects.empty())
        return run_builtin(*builtin, std::move(args), out, in);

    // Only the last redirection receives the output; earlier ones are opened and truncated.
    for (size_t i = 0; i + 1 < redirects.size(); i++)
        if (int st = run_words({}, {redirects[i]}, out, in))
            return st;
    const Redirect &r = redirects.back();
    std::string path = r.target.expand(status_);
    int fd = sim::vfs::open(path, sim::vfs::O_WRONLY_ | sim::vfs::O_CREAT_ |
                                      (r.append ? sim::vfs::O_APPEND_ : sim::vfs::O_TRUNC_));
    if (fd < 0) {
        err_.write("sh: can't create " + path + ": " + std::strerror(-fd) + "\n");
        return 1;
    }
    BufferOutput buffered;
    int status = run_builtin(*builtin, std::move(args), buffered, in);
    if (!buffered.text().empty()) {
        ssize_t n = sim::vfs::write(fd, buffered.text().data(), buffered.text().size());
        if (n < 0) {
            err_.write("sh: " + name + ": write error: " + std::strerror(static_cast<int>(-n)) +
                       "\n");
            status = 1;
        }
    }
    sim::vfs::close(fd);
    return status;
}

int Shell::run_as(std::vector<std::string> args, const std::vector<Redirect> &redirects,
                  Output &out, std::string_view in) {
    size_t i = 1;
    uid_t uid = 0;
    bool uid_given = false;
    if (i + 1 < args.size() && args[i] == "-u") {
        char *end = nullptr;
        unsigned long v = std::strtoul(args[i + 1].c_str(), &end, 10);
        if (args[i + 1].empty() || *end) {
            err_.write("as: bad uid '" + args[i + 1] + "'\n");
            return 1;
        }
        uid = static_cast<uid_t>(v);
        uid_given = true;
        i += 2;
    }
    if (i + 1 >= args.size()) {
        err_.write("as: usage: as [-u UID] COMM COMMAND [ARG]...\n");
        return 1;
    }
    struct task_struct *task = sim::task_find_by_comm(args[i]);
    if (task && task->mm == nullptr) {
        err_.write("as: " + args[i] + " is a kernel thread\n");
        return 1;
    }
    if (task && uid_given && task->cred->uid.val != uid) {
        err_.write("as: " + args[i] + " already runs as uid " +
                   std::to_string(task->cred->uid.val) + "\n");
        return 1;
    }
    if (!task)
        task = sim::task_create_user(args[i], uid);
    sim::TaskScope scope(task);
    return run_words(std::vector<std::string>(args.begin() + i + 1, args.end()), redirects, out,
                     in);
}

int Shell::run_builtin(const Builtin &b, std::vector<std::string> args, Output &out,
                       std::string_view in) {
    Invocation inv{*this, std::move(args), out, err_, in};
    return b.run(inv);
}

std::vector<Builtin> Shell::builtins() {
    std::vector<Builtin> all;
    for (auto table : {file_builtins, filter_builtins, kernel_builtins, vm_builtins,
                       driver_builtins, event_builtins, hw_builtins})
        for (const Builtin &b : table())
            all.push_back(b);
    return all;
}

std::string Shell::usage() {
    std::ostringstream s;
    for (const Builtin &b : builtins())
        s << "  " << b.usage << "\n";
    s << hw_usage();
    s << "  as [-u UID] COMM COMMAND...  run one command in the user task COMM (made on first "
         "use)\n"
         "  set -e | set +e        stop a script at the first failing command, or not\n"
         "  true | false           succeed, or fail, doing nothing\n"
         "  help                   this list\n"
         "  exit [N]               leave the shell (and phonesim) with status N\n";
    return s.str();
}

}  // namespace phonesim
