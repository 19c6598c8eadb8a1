// Splitting shell input into commands and words, as sh does: blanks separate words; single
// quotes keep everything; double quotes keep everything but backslash escapes of $ ` " \ and
// newline, and $?; outside quotes a backslash keeps the next character; ';' and newlines end a
// command; '#' at the start of a word begins a comment; '>' and '>>' (and '>|') redirect standard
// output; '|' joins commands into a pipeline, and '&&' and '||' join pipelines into a list whose
// later members run depending on the status before them. Newlines may follow any of '|', '&&'
// and '||'.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace phonesim {

// A word is a sequence of literal text and references to $? that expand when it runs.
struct StatusRef {};
using WordPart = std::variant<std::string, StatusRef>;
struct Word {
    std::vector<WordPart> parts;
    std::string expand(int status) const;
};

struct Redirect {
    bool append = false;
    Word target;
};

// How a command connects to the one after it.
enum class Link {
    End,   // ';', a newline or the end: the next command runs regardless
    Pipe,  // '|': this command's standard output is the next one's standard input
    And,   // '&&': the next pipeline runs only if this one succeeded
    Or,    // '||': the next pipeline runs only if this one failed
};

struct Command {
    std::vector<Word> words;
    std::vector<Redirect> redirects;
    int line = 0;  // where the command starts, for messages
    Link next = Link::End;
};

struct LexResult {
    std::vector<Command> commands;
    std::string error;  // "syntax error: unterminated quoted string" etc.; empty when fine
    // Input ended inside a quote or after a trailing backslash: an interactive shell asks for
    // more lines.
    bool incomplete = false;
};

LexResult lex(std::string_view input);

}  // namespace phonesim
