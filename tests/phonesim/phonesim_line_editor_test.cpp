// The interactive prompt: completion of commands and of the phone's paths, and phonesim on a
// terminal (a pseudo-terminal here) editing lines, recalling history and completing with tab;
// with standard input not a terminal, no prompt and no editing.
#include "phonesim/line_editor.h"

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace phonesim {
namespace {

using Words = std::vector<std::string>;

TEST(LineEditor, CompletesCommandNamesWhereACommandBegins) {
    EXPECT_EQ(complete_word("gr", true), Words{"grep"});
    EXPECT_EQ(complete_word("he", true), (Words{"head", "help"}));
    EXPECT_EQ(complete_word("ex", true), Words{"exit"});
    EXPECT_EQ(complete_word("zz", true), Words{});
    for (const char *before : {"", "  ", "cat x | ", "a;", "a && ", "a ||"})
        EXPECT_TRUE(at_command_position(before)) << before;
    for (const char *before : {"cat ", "grep -E ", "echo a&b "})
        EXPECT_FALSE(at_command_position(before)) << before;
}

TEST(LineEditor, CompletesPathsInThePhonesTrees) {
    EXPECT_EQ(complete_word("/proc/memi", false), Words{"/proc/meminfo"});
    EXPECT_EQ(complete_word("/pro", false), Words{"/proc/"});
    EXPECT_EQ(complete_word("/sys/k", false), Words{"/sys/kernel/"});
    EXPECT_EQ(complete_word("/", false), (Words{"/dev/", "/proc/", "/sys/"}));
    // From the root, the shell's directory; a path in command position is a path.
    EXPECT_EQ(complete_word("pro", false), Words{"proc/"});
    EXPECT_EQ(complete_word("/proc/memi", true), Words{"/proc/meminfo"});
    EXPECT_EQ(complete_word("/nowhere/x", false), Words{});
    EXPECT_EQ(complete_word("/proc/meminfo/", false), Words{});
    // A symlink to a directory completes as a directory.
    EXPECT_EQ(complete_word("/proc/device-t", false), Words{"/proc/device-tree/"});
}

// Reads from fd until text has appeared after what was already consumed; returns what came
// up to and including it (everything, if the terminal closed first).
std::string read_until(int fd, std::string *buffer, const std::string &text) {
    size_t at;
    while ((at = buffer->find(text)) == std::string::npos) {
        char chunk[4096];
        ssize_t n = read(fd, chunk, sizeof(chunk));
        if (n <= 0)
            break;
        buffer->append(chunk, static_cast<size_t>(n));
    }
    size_t end = at == std::string::npos ? buffer->size() : at + text.size();
    std::string got = buffer->substr(0, end);
    buffer->erase(0, end);
    return got;
}

TEST(LineEditor, PhonesimOnATerminalEditsRecallsAndCompletes) {
    int fd = -1;
    pid_t pid = forkpty(&fd, nullptr, nullptr, nullptr);
    if (pid < 0)
        GTEST_SKIP() << "skipped: no pseudo-terminal to be had: " << std::strerror(errno);
    if (pid == 0) {
        setenv("TERM", "xterm", 1);
        execl(PHONESIM_BIN, "phonesim", static_cast<char *>(nullptr));
        _exit(127);
    }
    std::string buf;
    const std::string prompt = "phone:/ # ";
    auto type = [&](const std::string &keys) {
        ASSERT_EQ(write(fd, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    };
    EXPECT_NE(read_until(fd, &buf, prompt).find(prompt), std::string::npos);
    // Tab completes the file name; the rest of the line follows.
    type("cat /proc/memi\t| grep MemT\r");
    std::string got = read_until(fd, &buf, prompt);
    // (The terminal shows the completion with cursor moves: judge by what ran.)
    EXPECT_NE(got.find("MemTotal:"), std::string::npos) << got;
    EXPECT_EQ(got.find("No such file"), std::string::npos) << got;
    // Up arrow brings the line back; Ctrl-A and Ctrl-K edit it: "echo" replaces the command.
    type("\x1b[A\r");
    got = read_until(fd, &buf, prompt);
    EXPECT_NE(got.find("MemTotal:"), std::string::npos) << got;
    type(
        "x y z\x01\x0b"
        "echo edited\r");
    got = read_until(fd, &buf, prompt);
    EXPECT_NE(got.find("edited\r\n"), std::string::npos) << got;
    EXPECT_EQ(got.find("sh: x: inaccessible"), std::string::npos) << got;
    // Completion looks in the phone's trees only: the host's /tmp is not offered.
    type("ls /tm\t\r");
    got = read_until(fd, &buf, prompt);
    EXPECT_NE(got.find("ls: /tm: No such file or directory"), std::string::npos) << got;
    // A pipe at the end of a line asks for the rest.
    type("echo continued |\r");
    EXPECT_NE(read_until(fd, &buf, "> ").find("> "), std::string::npos);
    type("wc -c\r");
    got = read_until(fd, &buf, prompt);
    EXPECT_NE(got.find("10\r\n"), std::string::npos) << got;
    type("exit 3\r");
    read_until(fd, &buf, "\x04never");
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    close(fd);
}

TEST(LineEditor, PipedInputHasNoPromptAndNoEditing) {
    // A tab in piped input is a blank as before, not a completion.
    std::string cmd =
        std::string(
            "printf 'echo a\\tb | wc -c\\necho \\047x\\033[Ay\\047 | wc -c\\nexit 4\\n' | ") +
        PHONESIM_BIN + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char chunk[256];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), p)) > 0)
        out.append(chunk, n);
    int status = pclose(p);
    EXPECT_EQ(out, "4\n6\n");
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 4);
}

}  // namespace
}  // namespace phonesim
