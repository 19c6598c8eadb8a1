// The phonesim shell: runs commands on the simulated phone as a device's shell runs them, in
// a user task ("sh" unless `as` names another), settling the simulation after each command.
#pragma once

#include "phonesim/shell_lexer.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct task_struct;

namespace phonesim {

// Where a command's standard output goes: the terminal, or one buffered write() to a file.
class Output {
  public:
    virtual ~Output() = default;
    virtual void write(std::string_view bytes) = 0;
};

// Writes to a host descriptor (the terminal, an attached shell's socket), all of it unless the
// descriptor fails.
class FdOutput : public Output {
  public:
    explicit FdOutput(int fd) : fd_(fd) {}
    void write(std::string_view bytes) override;

  private:
    int fd_;
};

class Shell;

struct Invocation {
    Shell &shell;
    std::vector<std::string> args;  // args[0] is the command name
    Output &out;
    Output &err;
    // Standard input: all that the command before it in a pipeline wrote; empty for the first
    // command, as if it read /dev/null.
    std::string_view in;
    // "cmd: " + text + "\n" on standard error.
    void error(std::string_view text) const;
};

struct Builtin {
    const char *name;
    int (*run)(Invocation &inv);
    const char *usage;  // for --help: "NAME ARGS  what it does"
};

// The command tables, one per group of commands.
std::vector<Builtin> file_builtins();
std::vector<Builtin> kernel_builtins();
std::vector<Builtin> vm_builtins();
std::vector<Builtin> driver_builtins();
std::vector<Builtin> event_builtins();
std::vector<Builtin> hw_builtins();
std::vector<Builtin> filter_builtins();
// The usage lines of the hw subcommands.
std::string hw_usage();

class Shell {
  public:
    // out/err receive the bytes that a device's shell would print on its descriptors 1 and 2.
    Shell(Output &out, Output &err);

    // Runs every command of text in order, a pipeline's commands one after the other with each
    // one's output as the next one's input; stops early on `exit` or, under `set -e`, at the
    // first failing pipeline. Returns the status of the last pipeline run (a pipeline's is its
    // last command's).
    int run(std::string_view text);
    bool finished() const { return finished_; }
    int status() const { return status_; }

    // The usage lines of all commands, for --help.
    static std::string usage();
    // The command table: every builtin but the shell's own words (as, exit, set, ...).
    static std::vector<Builtin> builtins();

  private:
    int run_pipeline(const std::vector<Command> &cmds, size_t first, size_t last);
    int run_command(const Command &cmd, Output &out, std::string_view in);
    int run_words(std::vector<std::string> args, const std::vector<Redirect> &redirects,
                  Output &out, std::string_view in);
    int run_as(std::vector<std::string> args, const std::vector<Redirect> &redirects, Output &out,
               std::string_view in);
    int run_builtin(const Builtin &b, std::vector<std::string> args, Output &out,
                    std::string_view in);

    Output &out_;
    Output &err_;
    std::vector<Builtin> builtins_;
    int status_ = 0;
    bool errexit_ = false;
    bool finished_ = false;
};

}  // namespace phonesim
