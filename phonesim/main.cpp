// phonesim: boots the simulated phone from a device tree, loads the vendor modules as init
// does at boot, and runs a shell over the phone's files and hardware.
#include "phonesim/devicetree.h"
#include "phonesim/fuse_mount.h"
#include "phonesim/fuse_session.h"
#include "phonesim/line_editor.h"
#include "phonesim/shell.h"

#include "hw/component.h"
#include "simkernel/kernel/boot.h"
#include "simkernel/kernel/kmod.h"
#include "simkernel/kernel/module_loader.h"
#include "simkernel/kernel/sim_time.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <thread>

namespace {

const char kHelp[] =
    "usage: phonesim [--dtb FILE] [--realtime] [--no-modules] [-c COMMANDS | SCRIPT]\n"
    "       phonesim [--dtb FILE] [--no-modules] [--virtual-time] --mount DIR\n"
    "       phonesim --attach DIR\n"
    "\n"
    "Boots a simulated Android phone (Linux 5.10, arm64) in this process, loads its vendor\n"
    "modules as init does at boot, and runs a shell on it: the commands of -c, of the\n"
    "script file, or of standard input (with a prompt when it is a terminal).\n"
    "\n"
    "  --dtb FILE    boot from this compiled device tree instead of the embedded default\n"
    "                phone (8 CPUs, 8 GiB of RAM)\n"
    "  --realtime    let time follow the host clock instead of advancing only on `sleep`\n"
    "  --no-modules  boot without loading the vendor modules\n"
    "  -c COMMANDS   run COMMANDS and exit with the status of the last one\n"
    "  --mount DIR   mount the phone's /proc, /sys and /dev on DIR with FUSE, so that\n"
    "                real shells and programs use them (as a task named after the\n"
    "                calling program, with its user), and keep the shell on standard\n"
    "                input; time follows the host clock. `exit`, end of input at a\n"
    "                terminal, Ctrl-C, SIGTERM or `fusermount3 -u DIR` shut the phone\n"
    "                down; at the end of other input the mount stays\n"
    "  --virtual-time  with --mount: time moves only with `sleep`\n"
    "  --attach DIR  a shell on the phone mounted on DIR, from another terminal\n"
    "  --help        show this text\n"
    "\n"
    "The shell splits words on blanks, with single and double quotes and backslash escapes\n"
    "as sh has them; `;` and newlines separate commands, `#` starts a comment, $? is the\n"
    "status of the last command, > FILE and >> FILE redirect standard output, | pipes a\n"
    "command's output into the next one's input, && and || run the next command only if the\n"
    "last succeeded or failed. At a terminal, lines are edited with the arrow keys and keep\n"
    "a history, and tab completes commands and the phone's paths. Errors are\n"
    "printed as a device's shell prints them and set the status. Time is virtual: it moves\n"
    "only with `sleep`, and after every command the phone settles (every kernel thread\n"
    "asleep, no work pending), so runs are repeatable.\n"
    "\n"
    "Commands:\n";

std::string executable_dir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return ".";
    buf[n] = 0;
    return std::filesystem::path(buf).parent_path().string();
}

bool read_file(const std::string &path, std::string *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Loads the modules that modules.load lists, in its order, as Android's init does.
void load_boot_modules() {
    std::ifstream list(sim::module_dir() + "/modules.load");
    std::string name;
    while (std::getline(list, name))
        if (!name.empty())
            sim::module_load(name);
    sim::settle();
    // ueventd's coldplug: the modules of the devices found at boot.
    sim::ueventd_run();
    sim::settle();
}

// busy, if given, is held while a command runs.
int run_interactive(phonesim::Shell &shell, std::mutex *busy = nullptr) {
    bool tty = isatty(0);
    std::string pending, line;
    for (;;) {
        const char *prompt = pending.empty() ? "phone:/ # " : "> ";
        if (tty ? !phonesim::edit_line(prompt, &line) : !std::getline(std::cin, line))
            break;
        pending += line + "\n";
        if (phonesim::lex(pending).incomplete)
            continue;
        {
            std::unique_lock<std::mutex> g;
            if (busy)
                g = std::unique_lock(*busy);
            shell.run(pending);
        }
        pending.clear();
        if (shell.finished())
            break;
    }
    return shell.status();
}

// The phone mounted on dir until it is unmounted, phonesim is signalled, or the shell on
// standard input ends. Does not return: the shell's thread may still wait for input.
[[noreturn]] void run_mounted(const std::string &dir, bool realtime, phonesim::Shell &shell) {
    sigset_t stop;
    sigemptyset(&stop);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&stop, sig);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::string err;
    auto mount = phonesim::FuseMount::mount(dir, &err);
    if (!mount) {
        std::cerr << "phonesim: " << err << "\n";
        sim::kernel_shutdown();
        _exit(1);
    }
    auto server = phonesim::AttachServer::listen(dir, &err);
    if (!server)
        std::cerr << "phonesim: no shell to attach to: " << err << "\n";
    if (realtime)
        sim::realtime_start();
    const pid_t self = getpid();
    mount->serve([self] { kill(self, SIGUSR1); });

    struct termios saved;
    const bool tty = isatty(0) && tcgetattr(0, &saved) == 0;
    static std::mutex busy;
    static int status = 0;
    std::thread([&shell, tty, self] {
        int s = run_interactive(shell, &busy);
        // Input that is not a terminal may end long before the mount is done with.
        if (tty || shell.finished()) {
            status = s;
            kill(self, SIGUSR1);
        }
    }).detach();

    int sig;
    sigwait(&stop, &sig);
    busy.lock();
    server.reset();
    mount->unmount();
    mount.reset();
    if (realtime)
        sim::realtime_stop();
    sim::kernel_shutdown();
    if (tty)
        tcsetattr(0, TCSANOW, &saved);
    std::cout.flush();
    _exit(status);
}

}  // namespace

int main(int argc, char **argv) {
    std::string dtb_path, commands, script, mount_dir;
    bool have_commands = false, realtime = false, modules = true, virtual_time = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kHelp << phonesim::Shell::usage();
            return 0;
        } else if (a == "--dtb" && i + 1 < argc) {
            dtb_path = argv[++i];
        } else if (a == "--realtime") {
            realtime = true;
        } else if (a == "--mount" && i + 1 < argc) {
            mount_dir = argv[++i];
        } else if (a == "--virtual-time") {
            virtual_time = true;
        } else if (a == "--attach" && i + 1 < argc) {
            return phonesim::attach(argv[++i]);
        } else if (a == "--no-modules") {
            modules = false;
        } else if (a == "-c" && i + 1 < argc) {
            commands = argv[++i];
            have_commands = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::cerr << "phonesim: unknown option " << a << " (see --help)\n";
            return 2;
        } else if (script.empty()) {
            script = a;
        } else {
            std::cerr << "phonesim: more than one script given\n";
            return 2;
        }
    }

    if (!mount_dir.empty() && (have_commands || !script.empty())) {
        std::cerr << "phonesim: --mount takes no commands (the shell reads standard input)\n";
        return 2;
    }

    sim::BootParams params;
    params.dtb = phonesim::default_dtb();
    if (!dtb_path.empty() && !read_file(dtb_path, &params.dtb)) {
        std::cerr << "phonesim: " << dtb_path << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    if (!script.empty() && !read_file(script, &commands)) {
        std::cerr << "phonesim: " << script << ": " << std::strerror(errno) << "\n";
        return 1;
    }

    sim::kernel_set_hardware_hooks(hw::hw_boot, hw::hw_shutdown);
    std::string err;
    if (!sim::kernel_boot(params, &err)) {
        std::cerr << "phonesim: " << (dtb_path.empty() ? "default device tree" : dtb_path) << ": "
                  << err << "\n";
        return 1;
    }
    sim::module_set_dir(executable_dir() + "/../modules");
    if (modules)
        load_boot_modules();
    phonesim::FdOutput out(1), err_out(2);
    phonesim::Shell shell(out, err_out);
    if (!mount_dir.empty())
        run_mounted(mount_dir, !virtual_time, shell);
    if (realtime)
        sim::realtime_start();
    int status = (have_commands || !script.empty()) ? shell.run(commands) : run_interactive(shell);
    if (realtime)
        sim::realtime_stop();
    sim::kernel_shutdown();
    return status;
}
