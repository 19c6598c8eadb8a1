// Filters of the shell: grep, head, tail, wc and sort, reading files or standard input (the
// output of the command before them in a pipeline), with toybox's options, output and messages.
#include "phonesim/shell.h"

#include "simkernel/fs/vfs.h"

#include <algorithm>
#include <cstring>
#include <regex>

namespace phonesim {
namespace {

// Options and operands of one command line, split as toybox splits them: options anywhere,
// several letters in one word, a value attached ("-n3") or in the next word ("-n 3"); "--"
// ends the options and "-" alone is an operand (standard input).
struct Args {
    std::string flags;  // the value-less option letters seen, in order
    long long number = 0;
    bool has_number = false;
    bool number_plus = false;  // the value began with '+' (tail -n +N)
    std::vector<std::string> operands;
};

// Parses a count as toybox's atolx() does for the forms one types: decimal digits with an
// optional sign. False (with the message printed) when the text is no integer.
bool parse_count(Invocation &inv, const std::string &text, Args *a) {
    size_t i = 0;
    a->number_plus = !text.empty() && text[0] == '+';
    bool minus = !text.empty() && text[0] == '-';
    if (a->number_plus || minus)
        i++;
    long long v = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++, digits++)
        v = std::min(v * 10 + (text[i] - '0'), 1LL << 53);
    if (digits == 0 || i != text.size()) {
        inv.error("not integer: " + text);
        return false;
    }
    a->number = minus ? -v : v;
    a->has_number = true;
    return true;
}

// flags: the value-less letters; valued: the letter that takes a count, or 0. With
// dash_number, "-5" means "-n 5" (head and tail). False after printing the usage error.
bool parse_args(Invocation &inv, const char *flags, char valued, bool dash_number, Args *a) {
    bool options = true;
    for (size_t i = 1; i < inv.args.size(); i++) {
        const std::string &w = inv.args[i];
        if (!options || w.size() < 2 || w[0] != '-') {
            a->operands.push_back(w);
            continue;
        }
        if (w == "--") {
            options = false;
            continue;
        }
        if (dash_number && w[1] >= '0' && w[1] <= '9') {
            if (!parse_count(inv, w.substr(1), a))
                return false;
            continue;
        }
        for (size_t j = 1; j < w.size(); j++) {
            char c = w[j];
            if (valued && c == valued) {
                std::string value;
                if (j + 1 < w.size()) {
                    value = w.substr(j + 1);
                } else if (i + 1 < inv.args.size()) {
                    value = inv.args[++i];
                } else {
                    inv.error(std::string("Missing argument to -") + c);
                    return false;
                }
                if (!parse_count(inv, value, a))
                    return false;
                break;
            }
            if (!std::strchr(flags, c)) {
                inv.error(std::string("Unknown option '") + c + "'");
                return false;
            }
            a->flags += c;
        }
    }
    return true;
}

bool has(const Args &a, char c) {
    return a.flags.find(c) != std::string::npos;
}

// The whole of one input: standard input for "-", else the file read through the node
// filesystem. False (with "cmd: path: error" printed) when it cannot be read.
bool read_input(Invocation &inv, const std::string &path, std::string *text) {
    if (path == "-") {
        // Read to its end: a second "-" finds nothing more.
        text->assign(inv.in);
        inv.in = {};
        return true;
    }
    int r = sim::vfs::read_file(path, text);
    if (r < 0) {
        inv.error(path + ": " + std::strerror(-r));
        return false;
    }
    return true;
}

// The lines of text, each with its newline if it has one (the last may not).
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        size_t len = nl == std::string_view::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(0, len));
        text.remove_prefix(len);
    }
    return lines;
}

std::string_view chomp(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    return line;
}

// The messages of the C library's regerror() on the device (bionic's, from BSD).
const char *regex_message(std::regex_constants::error_type code) {
    using namespace std::regex_constants;
    switch (code) {
        case error_collate:
            return "invalid collating element";
        case error_ctype:
            return "invalid character class";
        case error_escape:
            return "trailing backslash (\\)";
        case error_backref:
            return "invalid backreference number";
        case error_brack:
            return "brackets ([ ]) not balanced";
        case error_paren:
            return "parentheses not balanced";
        case error_brace:
            return "braces not balanced";
        case error_badbrace:
            return "invalid repetition count(s)";
        case error_range:
            return "invalid character range";
        case error_space:
            return "out of memory";
        case error_badrepeat:
            return "repetition-operator operand invalid";
        default:
            return "invalid regular expression";
    }
}

// A '*' that begins a basic regex (or follows its '^') is a plain '*', as POSIX has it; the
// library's basic grammar rejects it, so it is escaped here.
std::string bre_leading_star(const std::string &pattern, bool extended) {
    size_t at = !pattern.empty() && pattern[0] == '^' ? 1 : 0;
    if (extended || at >= pattern.size() || pattern[at] != '*')
        return pattern;
    return pattern.substr(0, at) + "\\" + pattern.substr(at);
}

int cmd_grep(Invocation &inv) {
    Args a;
    if (!parse_args(inv, "vciE", 0, false, &a))
        return 2;
    if (a.operands.empty()) {
        inv.error("needs 1 argument");
        return 2;
    }
    // A pattern with newlines is one pattern a line, as grep reads them.
    std::vector<std::regex> patterns;
    auto flags = has(a, 'E') ? std::regex::extended : std::regex::basic;
    if (has(a, 'i'))
        flags |= std::regex::icase;
    for (std::string_view rest = a.operands[0];;) {
        size_t nl = rest.find('\n');
        std::string one(rest.substr(0, nl));
        try {
            patterns.emplace_back(bre_leading_star(one, has(a, 'E')), flags);
        } catch (const std::regex_error &e) {
            inv.error("bad regex '" + one + "': " + regex_message(e.code()));
            return 2;
        }
        if (nl == std::string_view::npos)
            break;
        rest.remove_prefix(nl + 1);
    }

    std::vector<std::string> files(a.operands.begin() + 1, a.operands.end());
    if (files.empty())
        files.push_back("-");
    const bool names = files.size() > 1;
    bool error = false, selected = false;
    for (const std::string &f : files) {
        std::string text;
        if (!read_input(inv, f, &text)) {
            error = true;
            continue;
        }
        const std::string prefix = names ? (f == "-" ? "(standard input)" : f) + ":" : "";
        long count = 0;
        std::string out;
        for (std::string_view line : split_lines(text)) {
            std::string_view body = chomp(line);
            bool match = false;
            try {
                for (const std::regex &re : patterns)
                    if ((match = std::regex_search(body.begin(), body.end(), re)))
                        break;
            } catch (const std::regex_error &e) {
                // Matching itself can give up (a line too long for the pattern).
                inv.out.write(out);
                inv.error(f + ": " + regex_message(e.code()));
                return 2;
            }
            if (match == has(a, 'v'))
                continue;
            count++;
            if (!has(a, 'c'))
                out.append(prefix).append(body).append("\n");
        }
        if (has(a, 'c'))
            out = prefix + std::to_string(count) + "\n";
        inv.out.write(out);
        selected |= count > 0;
    }
    return error ? 2 : selected ? 0 : 1;
}

// head and tail: the first or last N lines of each input, with "==> NAME <==" headers when
// there are several.
int head_tail(Invocation &inv, bool tail) {
    Args a;
    if (!parse_args(inv, "", 'n', true, &a))
        return 1;
    long long n = a.has_number ? a.number : 10;
    bool from_start = tail && a.number_plus;  // tail -n +N: from line N on
    if (!tail && n < 0) {
        inv.error("-n < 0");
        return 1;
    }
    if (n < 0)
        n = -n;
    std::vector<std::string> files = a.operands;
    if (files.empty())
        files.push_back("-");
    int status = 0;
    bool first = true;
    for (const std::string &f : files) {
        std::string text;
        if (!read_input(inv, f, &text)) {
            status = 1;
            continue;
        }
        std::string out;
        if (files.size() > 1) {
            out = (first ? "" : "\n") + std::string("==> ") + (f == "-" ? "standard input" : f) +
                  " <==\n";
            first = false;
        }
        std::vector<std::string_view> lines = split_lines(text);
        size_t total = lines.size(), begin = 0, end = total;
        size_t count = static_cast<size_t>(std::min<long long>(n, static_cast<long long>(total)));
        if (!tail)
            end = count;
        else if (from_start)
            begin = n > 1 ? static_cast<size_t>(std::min<long long>(n - 1, total)) : 0;
        else
            begin = total - count;
        for (size_t i = begin; i < end; i++)
            out.append(lines[i]);
        inv.out.write(out);
    }
    return status;
}

int cmd_head(Invocation &inv) {
    return head_tail(inv, false);
}

int cmd_tail(Invocation &inv) {
    return head_tail(inv, true);
}

int cmd_wc(Invocation &inv) {
    Args a;
    if (!parse_args(inv, "lwc", 0, false, &a))
        return 1;
    // Columns in the order lines, words, bytes, whatever order the options came in.
    bool show[3] = {has(a, 'l'), has(a, 'w'), has(a, 'c')};
    if (a.flags.empty())
        show[0] = show[1] = show[2] = true;
    int shown = show[0] + show[1] + show[2];
    std::vector<std::string> files = a.operands;
    const bool named = !files.empty();
    if (files.empty())
        files.push_back("-");
    // One number for one input stands alone; anything more is in columns 7 wide.
    const int width = (shown > 1 || files.size() > 1) ? 7 : 0;
    unsigned long long totals[3] = {0, 0, 0};
    auto print = [&](const unsigned long long *counts, const std::string &name) {
        std::string line;
        char buf[32];
        for (int i = 0; i < 3; i++) {
            if (!show[i])
                continue;
            std::snprintf(buf, sizeof(buf), line.empty() ? "%*llu" : " %*llu", width, counts[i]);
            line += buf;
        }
        if (named)
            line += " " + name;
        inv.out.write(line + "\n");
    };
    int status = 0;
    for (const std::string &f : files) {
        std::string text;
        if (!read_input(inv, f, &text)) {
            status = 1;
            continue;
        }
        unsigned long long counts[3] = {0, 0, text.size()};
        bool in_word = false;
        for (char c : text) {
            if (c == '\n')
                counts[0]++;
            bool space = c == ' ' || (c >= '\t' && c <= '\r');
            if (!space && !in_word)
                counts[1]++;
            in_word = !space;
        }
        for (int i = 0; i < 3; i++)
            totals[i] += counts[i];
        print(counts, f);
    }
    if (files.size() > 1)
        print(totals, "total");
    return status;
}

// sort -n's key: the number at the start of the line after blanks (an optional '-', digits and
// a fraction); 0 when there is none.
double numeric_key(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        i++;
    bool minus = i < line.size() && line[i] == '-';
    if (minus)
        i++;
    double v = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; i++)
        v = v * 10 + (line[i] - '0');
    if (i < line.size() && line[i] == '.') {
        double scale = 0.1;
        for (i++; i < line.size() && line[i] >= '0' && line[i] <= '9'; i++, scale /= 10)
            v += (line[i] - '0') * scale;
    }
    return minus ? -v : v;
}

int cmd_sort(Invocation &inv) {
    Args a;
    if (!parse_args(inv, "nr", 0, false, &a))
        return 1;
    std::vector<std::string> files = a.operands;
    if (files.empty())
        files.push_back("-");
    int status = 0;
    std::vector<std::string> texts;
    for (const std::string &f : files) {
        std::string text;
        if (!read_input(inv, f, &text)) {
            status = 1;
            continue;
        }
        texts.push_back(std::move(text));
    }
    std::vector<std::string_view> lines;
    for (const std::string &t : texts)
        for (std::string_view l : split_lines(t))
            lines.push_back(chomp(l));
    const bool numeric = has(a, 'n'), reverse = has(a, 'r');
    // Lines whose keys are equal fall back to comparing whole lines byte by byte, and -r
    // reverses that too, as toybox does.
    std::stable_sort(lines.begin(), lines.end(), [&](std::string_view x, std::string_view y) {
        int c = 0;
        if (numeric) {
            double kx = numeric_key(x), ky = numeric_key(y);
            c = kx < ky ? -1 : kx > ky ? 1 : 0;
        }
        if (c == 0)
            c = x.compare(y);
        return reverse ? c > 0 : c < 0;
    });
    std::string out;
    for (std::string_view l : lines)
        out.append(l).append("\n");
    inv.out.write(out);
    return status;
}

}  // namespace

std::vector<Builtin> filter_builtins() {
    return {
        {"grep", cmd_grep,
         "grep [-vciE] PATTERN [FILE...]\n"
         "                         print lines that match (-v: that do not, -c: count them,\n"
         "                         -i: ignoring case, -E: extended regex); status 0 when a\n"
         "                         line was selected, 1 when none, 2 on an error"},
        {"head", cmd_head, "head [-n N] [FILE...]  print the first N lines (default 10)"},
        {"tail", cmd_tail,
         "tail [-n N|+N] [FILE...]\n"
         "                         print the last N lines (default 10), or from line N on"},
        {"wc", cmd_wc,
         "wc [-lwc] [FILE...]    count lines, words and bytes (one count of standard input\n"
         "                         prints just the number)"},
        {"sort", cmd_sort,
         "sort [-nr] [FILE...]   sort lines (-n: by leading number, -r: reversed)"},
    };
}

}  // namespace phonesim
