// Reading commands at an interactive prompt, as a device's shell does: line editing, history
// (the arrow keys, Ctrl-R) and tab completion of command names and of paths in the phone's
// trees, with libedit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace phonesim {

// Shows prompt and reads one line from the terminal on standard input, without its newline;
// false at the end of input (Ctrl-D on an empty line). A non-blank line joins the history.
bool edit_line(const char *prompt, std::string *line);

// The completions of word, as tab offers them: command names (the shell's own and its
// builtins) when the word is where a command begins, else paths in the phone's trees, a
// directory with '/' after it. Relative paths are from the root, the shell's directory.
std::vector<std::string> complete_word(std::string_view word, bool command_position);

// Whether the text before a word puts the word where a command begins: at the start of the
// line, or after '|', ';', '&&' or '||'.
bool at_command_position(std::string_view before);

}  // namespace phonesim
