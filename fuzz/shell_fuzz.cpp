// The phonesim shell's lexer and command parser. Every input is lexed, and a lexed input must
// survive a round trip: its commands written back with every literal in single quotes and every
// $? as "$?" lex to the same commands. Inputs whose commands are all safe to run on a shared
// phone (no module unloading, no writes to existing nodes, short sleeps, ...) then run in a
// fresh shell on the booted phone, so the builtins' argument parsing is fuzzed too; the faults
// they arm are cleared afterwards.
//
// Input: shell text, as typed or as a script.
#include "fuzz/support/fuzz_phone.h"

#include "phonesim/shell.h"
#include "phonesim/shell_lexer.h"
#include "simkernel/fs/vfs.h"
#include "simkernel/kernel/fault.h"
#include "simkernel/kernel/task.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace {

using phonesim::Command;
using phonesim::LexResult;
using phonesim::Word;

class NullOutput : public phonesim::Output {
  public:
    void write(std::string_view bytes) override { bytes_ += bytes.size(); }
    size_t bytes_ = 0;
};

// A word as a list of literal runs and $? references, adjacent literals merged.
std::vector<std::string> normal(const Word &w) {
    std::vector<std::string> out;
    bool last_literal = false;
    for (const auto &part : w.parts) {
        if (const std::string *s = std::get_if<std::string>(&part)) {
            if (!last_literal)
                out.emplace_back();
            out.back() += *s;
            last_literal = true;
        } else {
            out.push_back("\x01$?");  // not a literal: literals cannot start so and be merged
            last_literal = false;
        }
    }
    return out;
}

std::string quote(const Word &w) {
    std::string out;
    for (const auto &part : w.parts) {
        if (const std::string *s = std::get_if<std::string>(&part)) {
            out += '\'';
            for (char c : *s)
                out += c == '\'' ? std::string("'\\''") : std::string(1, c);
            out += '\'';
        } else {
            out += "\"$?\"";
        }
    }
    if (out.empty())
        out = "''";
    return out;
}

std::string serialise(const LexResult &r) {
    std::string out;
    for (const Command &c : r.commands) {
        for (const Word &w : c.words)
            out += quote(w) + " ";
        for (const auto &rd : c.redirects)
            out += std::string(rd.append ? ">> " : "> ") + quote(rd.target) + " ";
        out += c.next == phonesim::Link::Pipe  ? "|\n"
               : c.next == phonesim::Link::And ? "&&\n"
               : c.next == phonesim::Link::Or  ? "||\n"
                                               : "\n";
    }
    return out;
}

void check_round_trip(std::string_view input, const LexResult &first) {
    std::string again = serialise(first);
    LexResult second = phonesim::lex(again);
    bool same = second.error.empty() && !second.incomplete &&
                second.commands.size() == first.commands.size();
    for (size_t i = 0; same && i < first.commands.size(); i++) {
        const Command &a = first.commands[i], &b = second.commands[i];
        same = a.words.size() == b.words.size() && a.redirects.size() == b.redirects.size() &&
               a.next == b.next;
        for (size_t j = 0; same && j < a.words.size(); j++)
            same = normal(a.words[j]) == normal(b.words[j]);
        for (size_t j = 0; same && j < a.redirects.size(); j++)
            same = a.redirects[j].append == b.redirects[j].append &&
                   normal(a.redirects[j].target) == normal(b.redirects[j].target);
    }
    if (!same) {
        std::fprintf(stderr, "  input: %.*s\n  again: %s\n", int(input.size()), input.data(),
                     again.c_str());
        fuzz::finding("lexing the lexed commands written back gives other commands");
    }
}

bool literal(const Word &w, std::string *out) {
    out->clear();
    for (const auto &part : w.parts) {
        const std::string *s = std::get_if<std::string>(&part);
        if (!s)
            return false;
        *out += *s;
    }
    return true;
}

// Commands whose every argument is harmless to the shared phone: they read, print, parse, or
// arm faults that are cleared after the input. (Not grep: a pattern can backtrack for ages.)
const std::set<std::string> kSafe = {"echo",          "cat",  "ls",    "ps",    "lsmod",  "dmesg",
                                     "set",           "exit", "fault", "sleep", "events", "uevents",
                                     "nosuchcommand", "head", "tail",  "wc",    "sort"};

bool safe_words(const std::vector<std::string> &args) {
    if (args.empty())
        return true;
    const std::string &name = args[0];
    if (name == "as") {
        // Only the tasks that exist already: each new name would be a new task for good.
        size_t i = 1;
        if (i + 1 < args.size() && args[i] == "-u")
            i += 2;
        if (i >= args.size() || (args[i] != "fuzz" && args[i] != "sh"))
            return i >= args.size();
        return safe_words(std::vector<std::string>(args.begin() + i + 1, args.end()));
    }
    if (!kSafe.count(name))
        return false;
    if (name == "dmesg")
        return args.size() == 1 || (args.size() == 2 && args[1] == "-r");
    if (name == "sleep" && args.size() == 2) {
        // Time costs work (every timer that falls due runs): a second at most.
        char *end = nullptr;
        double s = std::strtod(args[1].c_str(), &end);
        return !(s > 1.0);
    }
    return true;
}

bool safe(const LexResult &r) {
    for (const Command &c : r.commands) {
        std::vector<std::string> args;
        for (const Word &w : c.words) {
            std::string s;
            // $? in a command name or an argument would hide what runs; literal words only.
            if (!literal(w, &s))
                return false;
            args.push_back(s);
        }
        if (!safe_words(args))
            return false;
        for (const auto &rd : c.redirects) {
            std::string target;
            sim::vfs::Stat st;
            // Only to what does not exist: the redirection's open then fails or creates nothing.
            if (!literal(rd.target, &target) || sim::vfs::stat(target, &st) == 0)
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::boot_phone();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    LexResult r = phonesim::lex(input);
    if (!r.error.empty() || r.incomplete)
        return 0;
    check_round_trip(input, r);
    if (r.commands.size() > 16 || !safe(r))
        return 0;

    sim::TaskScope as(fuzz::user_task());
    NullOutput out, err;
    phonesim::Shell shell(out, err);
    shell.run(input);
    sim::fault_clear();
    return 0;
}
