// File commands of the shell: cat, echo, ls, mkdir, rmdir, with toybox's output and messages.
#include "phonesim/shell.h"

#include "simkernel/fs/vfs.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

namespace phonesim {
namespace {

std::string errstr(long err) {
    return std::strerror(static_cast<int>(-err));
}

int cmd_cat(Invocation &inv) {
    int status = 0;
    // No file, or "-": standard input, read to its end the first time.
    if (inv.args.size() == 1)
        inv.out.write(inv.in);
    for (size_t i = 1; i < inv.args.size(); i++) {
        const std::string &path = inv.args[i];
        if (path == "-") {
            inv.out.write(inv.in);
            inv.in = {};
            continue;
        }
        int fd = sim::vfs::open(path, sim::vfs::O_RDONLY_);
        if (fd < 0) {
            inv.error(path + ": " + errstr(fd));
            status = 1;
            continue;
        }
        char buf[4096];
        for (;;) {
            ssize_t n = sim::vfs::read(fd, buf, sizeof(buf));
            if (n < 0) {
                inv.error(path + ": " + errstr(n));
                status = 1;
                break;
            }
            if (n == 0)
                break;
            inv.out.write(std::string_view(buf, static_cast<size_t>(n)));
        }
        sim::vfs::close(fd);
    }
    return status;
}

// echo's -e escapes; returns false when \c ends the output.
bool unescape(const std::string &in, std::string *out) {
    for (size_t i = 0; i < in.size(); i++) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            *out += in[i];
            continue;
        }
        char c = in[++i];
        switch (c) {
            case 'a':
                *out += '\a';
                break;
            case 'b':
                *out += '\b';
                break;
            case 'c':
                return false;
            case 'e':
                *out += '\033';
                break;
            case 'f':
                *out += '\f';
                break;
            case 'n':
                *out += '\n';
                break;
            case 'r':
                *out += '\r';
                break;
            case 't':
                *out += '\t';
                break;
            case 'v':
                *out += '\v';
                break;
            case '\\':
                *out += '\\';
                break;
            case '0': {
                int v = 0, n = 0;
                while (n < 3 && i + 1 < in.size() && in[i + 1] >= '0' && in[i + 1] <= '7') {
                    v = v * 8 + (in[++i] - '0');
                    n++;
                }
                *out += static_cast<char>(v);
                break;
            }
            case 'x': {
                int v = 0, n = 0;
                while (n < 2 && i + 1 < in.size() && std::isxdigit((unsigned char)in[i + 1])) {
                    char h = in[++i];
                    v = v * 16 + (std::isdigit((unsigned char)h) ? h - '0' : (h | 0x20) - 'a' + 10);
                    n++;
                }
                if (n == 0)
                    *out += "\\x";
                else
                    *out += static_cast<char>(v);
                break;
            }
            default:
                *out += '\\';
                *out += c;
        }
    }
    return true;
}

int cmd_echo(Invocation &inv) {
    bool newline = true, escapes = false;
    size_t i = 1;
    // Leading option words made only of n, e and E, as toybox's echo takes them.
    for (; i < inv.args.size(); i++) {
        const std::string &a = inv.args[i];
        if (a.size() < 2 || a[0] != '-' || a.find_first_not_of("neE", 1) != std::string::npos)
            break;
        for (char c : a.substr(1)) {
            if (c == 'n')
                newline = false;
            if (c == 'e')
                escapes = true;
            if (c == 'E')
                escapes = false;
        }
    }
    std::string text;
    for (size_t j = i; j < inv.args.size(); j++) {
        if (j > i)
            text += ' ';
        if (!escapes) {
            text += inv.args[j];
        } else if (!unescape(inv.args[j], &text)) {
            inv.out.write(text);
            return 0;
        }
    }
    if (newline)
        text += '\n';
    inv.out.write(text);
    return 0;
}

std::string mode_string(umode_t mode) {
    std::string s;
    switch (mode & 0170000) {
        case 0040000:
            s = "d";
            break;
        case 0120000:
            s = "l";
            break;
        case 0020000:
            s = "c";
            break;
        default:
            s = "-";
    }
    const char *rwx = "rwxrwxrwx";
    for (int bit = 0; bit < 9; bit++)
        s += (mode & (0400 >> bit)) ? rwx[bit] : '-';
    return s;
}

// Android's names for the ids that matter on a phone.
std::string id_name(unsigned int id) {
    if (id == 0)
        return "root";
    if (id == 1000)
        return "system";
    if (id == 2000)
        return "shell";
    if (id >= 10000 && id < 20000)
        return "u0_a" + std::to_string(id - 10000);
    return std::to_string(id);
}

std::string long_line(const std::string &path, const std::string &shown, const sim::vfs::Stat &st) {
    char date[32];
    time_t t = static_cast<time_t>(st.mtime);
    struct tm tm;
    gmtime_r(&t, &tm);
    strftime(date, sizeof(date), "%Y-%m-%d %H:%M", &tm);
    std::string line = mode_string(st.mode) + " " + std::to_string(st.nlink) + " " +
                       id_name(st.uid) + " " + id_name(st.gid) + " " + std::to_string(st.size) +
                       " " + date + " " + shown;
    if ((st.mode & 0170000) == 0120000) {
        std::string target;
        if (sim::vfs::readlink(path, &target) >= 0)
            line += " -> " + target;
    }
    return line + "\n";
}

// As ls does without -l: a symlink named on the command line that leads to a directory is
// listed as that directory (/proc/device-tree).
bool links_to_dir(const std::string &path, const sim::vfs::Stat &st) {
    std::vector<sim::vfs::DirEntry> entries;
    return (st.mode & 0170000) == 0120000 && sim::vfs::readdir(path, &entries) >= 0;
}

int cmd_ls(Invocation &inv) {
    bool longfmt = false;
    std::vector<std::string> paths;
    for (size_t i = 1; i < inv.args.size(); i++) {
        const std::string &a = inv.args[i];
        if (a.size() > 1 && a[0] == '-') {
            for (char c : a.substr(1)) {
                if (c != 'l') {
                    inv.error(std::string("Unknown option '") + c + "'");
                    return 1;
                }
                longfmt = true;
            }
        } else {
            paths.push_back(a);
        }
    }
    if (paths.empty())
        paths.push_back("/");

    int status = 0;
    std::vector<std::string> files, dirs;
    for (const std::string &p : paths) {
        sim::vfs::Stat st;
        int r = sim::vfs::stat(p, &st);
        if (r < 0) {
            inv.error(p + ": " + errstr(r));
            status = 1;
        } else if ((st.mode & 0170000) == 0040000 || (!longfmt && links_to_dir(p, st))) {
            dirs.push_back(p);
        } else {
            files.push_back(p);
        }
    }
    std::sort(files.begin(), files.end());
    std::sort(dirs.begin(), dirs.end());
    std::string text;
    for (const std::string &f : files) {
        sim::vfs::Stat st;
        sim::vfs::stat(f, &st);
        text += longfmt ? long_line(f, f, st) : f + "\n";
    }
    bool headers = files.size() + dirs.size() > 1;
    for (size_t d = 0; d < dirs.size(); d++) {
        std::vector<sim::vfs::DirEntry> entries;
        int r = sim::vfs::readdir(dirs[d], &entries);
        if (r < 0) {
            inv.error(dirs[d] + ": " + errstr(r));
            status = 1;
            continue;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto &a, const auto &b) { return a.name < b.name; });
        if (headers)
            text += (d > 0 || !files.empty() ? "\n" : "") + dirs[d] + ":\n";
        for (const sim::vfs::DirEntry &e : entries) {
            std::string full = dirs[d] + (dirs[d].back() == '/' ? "" : "/") + e.name;
            sim::vfs::Stat st;
            if (longfmt && sim::vfs::stat(full, &st) >= 0)
                text += long_line(full, e.name, st);
            else
                text += e.name + "\n";
        }
    }
    inv.out.write(text);
    return status;
}

int cmd_mkdir(Invocation &inv) {
    int status = 0;
    for (size_t i = 1; i < inv.args.size(); i++) {
        int r = sim::vfs::mkdir(inv.args[i], 0777);
        if (r < 0) {
            inv.error("'" + inv.args[i] + "': " + errstr(r));
            status = 1;
        }
    }
    return status;
}

int cmd_rmdir(Invocation &inv) {
    int status = 0;
    for (size_t i = 1; i < inv.args.size(); i++) {
        int r = sim::vfs::rmdir(inv.args[i]);
        if (r < 0) {
            inv.error("'" + inv.args[i] + "': " + errstr(r));
            status = 1;
        }
    }
    return status;
}

}  // namespace

std::vector<Builtin> file_builtins() {
    return {
        {"cat", cmd_cat, "cat [FILE...]          print files (or standard input), byte for byte"},
        {"echo", cmd_echo,
         "echo [-n] [-e] ARG...  print the words (-n: no newline, -e: backslash escapes);\n"
         "                         with > FILE or >> FILE the whole text is one write()"},
        {"ls", cmd_ls, "ls [-l] [PATH...]      list directories (-l: mode, owner, date)"},
        {"mkdir", cmd_mkdir, "mkdir DIR...           make directories where the tree allows it"},
        {"rmdir", cmd_rmdir, "rmdir DIR...           remove empty directories"},
    };
}

}  // namespace phonesim
