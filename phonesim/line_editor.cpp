#include "phonesim/line_editor.h"

#include "phonesim/shell.h"
#include "simkernel/fs/vfs.h"

#include <editline/readline.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace phonesim {
namespace {

// The words the shell itself handles before its command table.
const char *const kShellWords[] = {"as", "exit", "false", "help", "set", "true"};

char *dup(const std::string &s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

// libedit's completion hook: the matches for text, which starts at start in rl_line_buffer,
// as a malloc'ed NULL-terminated array whose first entry is what replaces text.
char **complete(const char *text, int start, int) {
    // Never fall back to completing the host's files.
    rl_attempted_completion_over = 1;
    std::vector<std::string> matches = complete_word(
        text, at_command_position(std::string_view(rl_line_buffer, static_cast<size_t>(start))));
    if (matches.empty())
        return nullptr;
    // A directory takes no space after it: the next tab goes on into it.
    rl_completion_append_character = matches.size() == 1 && matches[0].back() == '/' ? '\0' : ' ';
    std::string common = matches[0];
    for (const std::string &m : matches) {
        size_t n = 0;
        while (n < common.size() && n < m.size() && common[n] == m[n])
            n++;
        common.resize(n);
    }
    char **out = static_cast<char **>(std::calloc(matches.size() + 2, sizeof(char *)));
    out[0] = dup(matches.size() == 1 ? matches[0] : common);
    if (matches.size() > 1)
        for (size_t i = 0; i < matches.size(); i++)
            out[i + 1] = dup(matches[i]);
    return out;
}

void setup() {
    static bool done = false;
    if (done)
        return;
    done = true;
    rl_readline_name = "phonesim";
    rl_attempted_completion_function = complete;
    // Words end at blanks and at the shell's operators; '/' stays in a path.
    rl_basic_word_break_characters = " \t\n\"'<>;|&";
    using_history();
}

}  // namespace

bool at_command_position(std::string_view before) {
    size_t end = before.find_last_not_of(" \t");
    if (end == std::string_view::npos)
        return true;
    char c = before[end];
    return c == '|' || c == ';' || c == '&' || c == '\n';
}

std::vector<std::string> complete_word(std::string_view word, bool command_position) {
    std::vector<std::string> out;
    if (command_position && word.find('/') == std::string_view::npos) {
        for (const char *w : kShellWords)
            if (std::string_view(w).starts_with(word))
                out.emplace_back(w);
        for (const Builtin &b : Shell::builtins())
            if (std::string_view(b.name).starts_with(word))
                out.emplace_back(b.name);
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }
    size_t slash = word.rfind('/');
    std::string dir_part(slash == std::string_view::npos ? "" : word.substr(0, slash + 1));
    std::string_view prefix = slash == std::string_view::npos ? word : word.substr(slash + 1);
    std::string dir = dir_part.empty() ? "/" : dir_part;
    if (dir[0] != '/')
        dir = "/" + dir;
    std::vector<sim::vfs::DirEntry> entries;
    if (sim::vfs::readdir(dir, &entries) < 0)
        return out;
    for (const sim::vfs::DirEntry &e : entries) {
        if (!std::string_view(e.name).starts_with(prefix))
            continue;
        // Hidden names only when asked for, as shells complete them.
        if (e.name[0] == '.' && !prefix.starts_with("."))
            continue;
        std::string path = dir_part + e.name;
        // A symlink to a directory counts as one (/proc/self, /proc/device-tree).
        bool is_dir = (e.mode & 0170000) == 0040000;
        if (!is_dir && (e.mode & 0170000) == 0120000) {
            std::vector<sim::vfs::DirEntry> inside;
            is_dir = sim::vfs::readdir(dir + (dir.back() == '/' ? "" : "/") + e.name, &inside) >= 0;
        }
        out.push_back(is_dir ? path + "/" : path);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool edit_line(const char *prompt, std::string *line) {
    setup();
    char *text = readline(prompt);
    if (!text)
        return false;
    line->assign(text);
    std::free(text);
    if (line->find_first_not_of(" \t") != std::string::npos)
        add_history(line->c_str());
    return true;
}

}  // namespace phonesim
