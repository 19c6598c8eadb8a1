// The shell's pipelines and filters, run as a user types them: each case is a command line on
// the booted phone, with what it prints on standard output and error and its status, as
// toybox's tools give them on a device.
#include "phonesim/shell.h"

#include "simkernel/fs/vfs.h"

#include <gtest/gtest.h>

namespace phonesim {
namespace {

class StringOutput : public Output {
  public:
    void write(std::string_view bytes) override { text += bytes; }
    std::string text;
};

struct Result {
    std::string out, err;
    int status;
    bool operator==(const Result &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Result &r) {
    return os << "{out=\"" << r.out << "\", err=\"" << r.err << "\", status=" << r.status << "}";
}

Result sh(std::string_view text) {
    StringOutput out, err;
    Shell shell(out, err);
    int status = shell.run(text);
    return {out.text, err.text, status};
}

struct Case {
    const char *in;
    Result want;
};

void check(const std::vector<Case> &cases) {
    for (const Case &c : cases)
        EXPECT_EQ(sh(c.in), c.want) << c.in;
}

// Twelve numbered lines on standard output.
const char kTwelve[] = "echo -e '1\\n2\\n3\\n4\\n5\\n6\\n7\\n8\\n9\\n10\\n11\\n12'";

std::string file(const char *path) {
    std::string text;
    EXPECT_EQ(sim::vfs::read_file(path, &text), 0) << path;
    return text;
}

// The line of path that starts with prefix, with its newline.
std::string line_of(const char *path, std::string_view prefix) {
    std::string text = "\n" + file(path);
    size_t at = text.find("\n" + std::string(prefix));
    EXPECT_NE(at, std::string::npos) << prefix;
    return text.substr(at + 1, text.find('\n', at + 1) - at);
}

size_t lines_in(const std::string &text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(ShellPipes, StatusIsTheLastCommands) {
    check({
        {"echo abc | cat", {"abc\n", "", 0}},
        {"echo abc | cat - -", {"abc\n", "", 0}},  // standard input is read once
        {"echo abc | grep x", {"", "", 1}},
        {"echo abc | grep x | wc -l", {"0\n", "", 0}},
        {"cat /proc/nothing | wc -c",
         {"0\n", "cat: /proc/nothing: No such file or directory\n", 0}},
        {"nosuch | wc -l", {"0\n", "sh: nosuch: inaccessible or not found\n", 0}},
        // Each command expands $? from before the pipeline.
        {"false; echo $? | cat; echo $?", {"1\n0\n", "", 0}},
        // Output redirected to a file leaves the next command nothing to read.
        {"echo x > /proc/nothing/x | wc -l",
         {"0\n", "sh: can't create /proc/nothing/x: No such file or directory\n", 0}},
    });
}

TEST(ShellPipes, MembersRunAsSubshells) {
    // exit and set in a pipeline leave the shell as it was.
    StringOutput out, err;
    Shell shell(out, err);
    EXPECT_EQ(shell.run("exit 3 | echo a; echo b"), 0);
    EXPECT_FALSE(shell.finished());
    EXPECT_EQ(shell.run("echo a | exit 4"), 4);
    EXPECT_FALSE(shell.finished());
    EXPECT_EQ(shell.run("set -e | true; false; echo still"), 0);
    EXPECT_EQ(out.text, "a\nb\nstill\n");
    EXPECT_EQ(err.text, "");
}

TEST(ShellPipes, AndOrListsAndSetE) {
    check({
        {"true && echo a || echo b", {"a\n", "", 0}},
        {"false && echo a || echo b", {"b\n", "", 0}},
        {"false && echo a && echo b; echo $?", {"1\n", "", 0}},
        {"true || echo a && echo b", {"b\n", "", 0}},
        {"echo x | grep x && echo found", {"x\nfound\n", "", 0}},
        {"echo x | grep -q x || echo missing", {"missing\n", "grep: Unknown option 'q'\n", 0}},
        // set -e stops at a failing pipeline, not at one that && or || tests.
        {"set -e; false && echo no; false || echo yes; echo x | grep y; echo not reached",
         {"yes\n", "", 1}},
        {"set -e; true && false; echo not reached", {"", "", 1}},
    });
}

TEST(ShellFilters, GrepSelectsLines) {
    const char *fruit = "echo -e 'apple\\nBanana\\ncherry pie\\na|b' | ";
    auto with = [&](const char *cmd) { return std::string(fruit) + cmd; };
    std::vector<std::string> lines = {
        with("grep an"),         with("grep -v an"),        with("grep -c an"),
        with("grep -i BAN"),     with("grep -E 'app|pie'"), with("grep 'a|b'"),
        with("grep 'p\\{2\\}'"), with("grep -vc e"),        with("grep -ci A"),
        with("grep ''"),         with("grep an -c"),        with("grep -c zzz"),
        with("grep -- -v"),      with("grep '^c.*e$'"),
    };
    std::vector<Result> want = {
        {"Banana\n", "", 0},
        {"apple\ncherry pie\na|b\n", "", 0},
        {"1\n", "", 0},
        {"Banana\n", "", 0},
        {"apple\ncherry pie\n", "", 0},
        {"a|b\n", "", 0},  // '|' is no alternation in a basic regex
        {"apple\n", "", 0},
        {"2\n", "", 0},
        {"3\n", "", 0},
        {"apple\nBanana\ncherry pie\na|b\n", "", 0},
        {"1\n", "", 0},  // options may follow the pattern
        {"0\n", "", 1},
        {"", "", 1},
        {"cherry pie\n", "", 0},
    };
    for (size_t i = 0; i < lines.size(); i++)
        EXPECT_EQ(sh(lines[i]), want[i]) << lines[i];
    check({
        // The last line needs no newline to match, and gets one.
        {"echo -n -e 'x\\ny' | grep y", {"y\n", "", 0}},
        {"echo -e 'a\\n-v' | grep -- -v", {"-v\n", "", 0}},
        // A pattern of several lines is several patterns.
        {"echo -e 'a\\nb\\nc' | grep \"a\nc\"", {"a\nc\n", "", 0}},
    });
}

TEST(ShellFilters, GrepFilesAndErrors) {
    const std::string total = line_of("/proc/meminfo", "MemTotal:");
    const size_t kb = lines_in(file("/proc/meminfo"));
    check({
        {"grep MemTotal /proc/meminfo", {total, "", 0}},
        {"cat /proc/meminfo | grep -E 'MemTotal|NoSuchKey'", {total, "", 0}},
        {"echo MemTotal | grep MemTotal /proc/meminfo -",
         {"/proc/meminfo:" + total + "(standard input):MemTotal\n", "", 0}},
        {"grep -c '' /proc/meminfo /proc/nothing",
         {"/proc/meminfo:" + std::to_string(kb) + "\n",
          "grep: /proc/nothing: No such file or directory\n", 2}},
        {"grep x /proc/nothing", {"", "grep: /proc/nothing: No such file or directory\n", 2}},
        {"grep", {"", "grep: needs 1 argument\n", 2}},
        {"grep -x a", {"", "grep: Unknown option 'x'\n", 2}},
        {"grep 'a['", {"", "grep: bad regex 'a[': brackets ([ ]) not balanced\n", 2}},
        {"grep -E 'a('", {"", "grep: bad regex 'a(': parentheses not balanced\n", 2}},
        {"grep -E 'a{1'", {"", "grep: bad regex 'a{1': braces not balanced\n", 2}},
        {"grep 'a\\{2,1\\}'",
         {"", "grep: bad regex 'a\\{2,1\\}': invalid repetition count(s)\n", 2}},
        {"grep '\\(a\\)\\2'",
         {"", "grep: bad regex '\\(a\\)\\2': invalid backreference number\n", 2}},
        // A basic regex may start with a plain '*', and refer back to a group.
        {"echo -e '*x\\nx\\nabab' | grep '*x'", {"*x\n", "", 0}},
        {"echo -e '*x\\nx\\nabab' | grep '^*x'", {"*x\n", "", 0}},
        {"echo -e '*x\\nx\\nabab' | grep '\\(ab\\)\\1'", {"abab\n", "", 0}},
    });
}

TEST(ShellFilters, HeadAndTail) {
    auto twelve = [](const char *cmd) { return std::string(kTwelve) + " | " + cmd; };
    std::vector<std::pair<std::string, Result>> cases = {
        {twelve("head"), {"1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n", "", 0}},
        {twelve("tail"), {"3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n", "", 0}},
        {twelve("head -n 2"), {"1\n2\n", "", 0}},
        {twelve("head -n2"), {"1\n2\n", "", 0}},
        {twelve("head -3"), {"1\n2\n3\n", "", 0}},
        {twelve("head -n 0"), {"", "", 0}},
        {twelve("head -n 99"), {"1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n", "", 0}},
        {twelve("tail -n 2"), {"11\n12\n", "", 0}},
        {twelve("tail -2"), {"11\n12\n", "", 0}},
        {twelve("tail -n +11"), {"11\n12\n", "", 0}},
        {twelve("tail -n +0"), {"1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n", "", 0}},
        {twelve("tail -n 0"), {"", "", 0}},
        {twelve("head -n 3 | tail -n 1"), {"3\n", "", 0}},
        // The bytes pass as they are: a last line without its newline stays so.
        {"echo -n -e 'a\\nb' | tail -n 1", {"b", "", 0}},
        {"echo -n -e 'a\\nb' | head -n 5", {"a\nb", "", 0}},
        {"echo -n '' | tail", {"", "", 0}},
        {twelve("head -n abc"), {"", "head: not integer: abc\n", 1}},
        {twelve("head -n -1"), {"", "head: -n < 0\n", 1}},
        {twelve("tail -n"), {"", "tail: Missing argument to -n\n", 1}},
        {twelve("tail -f"), {"", "tail: Unknown option 'f'\n", 1}},
    };
    for (const auto &[in, want] : cases)
        EXPECT_EQ(sh(in), want) << in;

    const std::string meminfo = file("/proc/meminfo");
    const std::string first = meminfo.substr(0, meminfo.find('\n') + 1);
    const std::string last = meminfo.substr(meminfo.rfind('\n', meminfo.size() - 2) + 1);
    check({
        {"head -n 1 /proc/meminfo", {first, "", 0}},
        {"tail -n 1 /proc/meminfo", {last, "", 0}},
        {"echo in | head -n 1 /proc/meminfo - /proc/nothing",
         {"==> /proc/meminfo <==\n" + first + "\n==> standard input <==\nin\n",
          "head: /proc/nothing: No such file or directory\n", 1}},
    });
}

TEST(ShellFilters, WcCounts) {
    const std::string meminfo = file("/proc/meminfo");
    const size_t lines = lines_in(meminfo);
    const std::string n = std::to_string(lines), bytes = std::to_string(meminfo.size());
    auto col7 = [](size_t v) {
        std::string s = std::to_string(v);
        return std::string(s.size() < 7 ? 7 - s.size() : 0, ' ') + s;
    };
    check({
        // One count of standard input is just the number; more are columns 7 wide.
        {"echo -e 'one two\\n three' | wc -l", {"2\n", "", 0}},
        {"echo -e 'one two\\n three' | wc -w", {"3\n", "", 0}},
        {"echo -e 'one two\\n three' | wc -c", {"15\n", "", 0}},
        {"echo -e 'one two\\n three' | wc", {"      2       3      15\n", "", 0}},
        {"echo -e 'one two\\n three' | wc -cl", {"      2      15\n", "", 0}},
        {"echo -e 'one two\\n three' | wc -w -l", {"      2       3\n", "", 0}},
        {"echo -n 'no newline' | wc -l", {"0\n", "", 0}},
        {"echo -n '' | wc", {"      0       0       0\n", "", 0}},
        {"echo -e ' \\t\\n' | wc -w", {"0\n", "", 0}},
        {"wc -l /proc/meminfo", {n + " /proc/meminfo\n", "", 0}},
        {"wc -c /proc/meminfo", {bytes + " /proc/meminfo\n", "", 0}},
        {"echo a | wc -l /proc/meminfo - /proc/nothing",
         {col7(lines) + " /proc/meminfo\n      1 -\n" + col7(lines + 1) + " total\n",
          "wc: /proc/nothing: No such file or directory\n", 1}},
        // Standard input twice: the second finds it read to its end.
        {"echo abc | wc -l - -", {"      1 -\n      0 -\n      1 total\n", "", 0}},
        {"wc -x", {"", "wc: Unknown option 'x'\n", 1}},
    });
}

TEST(ShellFilters, SortOrders) {
    const char *in = "echo -n -e 'b\\na\\nB\\n10\\n9\\n-1\\nx 2.5\\n2.5\\n1 b\\n1 a' | ";
    auto with = [&](const char *cmd) { return std::string(in) + cmd; };
    check({
        // Bytes order, and the last line gets its newline.
        {with("sort").c_str(), {"-1\n1 a\n1 b\n10\n2.5\n9\nB\na\nb\nx 2.5\n", "", 0}},
        {with("sort -r").c_str(), {"x 2.5\nb\na\nB\n9\n2.5\n10\n1 b\n1 a\n-1\n", "", 0}},
        // By leading number (none is 0), equal numbers by the whole line.
        {with("sort -n").c_str(), {"-1\nB\na\nb\nx 2.5\n1 a\n1 b\n2.5\n9\n10\n", "", 0}},
        {with("sort -nr").c_str(), {"10\n9\n2.5\n1 b\n1 a\nx 2.5\nb\na\nB\n-1\n", "", 0}},
        {with("sort -n -r").c_str(), {"10\n9\n2.5\n1 b\n1 a\nx 2.5\nb\na\nB\n-1\n", "", 0}},
        {"echo -n '' | sort", {"", "", 0}},
        {"sort /proc/nothing", {"", "sort: /proc/nothing: No such file or directory\n", 1}},
        {"sort -u", {"", "sort: Unknown option 'u'\n", 1}},
    });
}

TEST(ShellFilters, HelpListsThem) {
    check({
        {"help | grep -c -E '^  (grep|head|tail|wc|sort) '", {"5\n", "", 0}},
        {"help | grep '^  help '", {"  help                   this list\n", "", 0}},
    });
}

}  // namespace
}  // namespace phonesim
