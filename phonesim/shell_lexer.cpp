#include "phonesim/shell_lexer.h"

namespace phonesim {

std::string Word::expand(int status) const {
    std::string out;
    for (const WordPart &p : parts) {
        if (const auto *s = std::get_if<std::string>(&p))
            out += *s;
        else
            out += std::to_string(status);
    }
    return out;
}

namespace {

class Lexer {
  public:
    explicit Lexer(std::string_view in) : in_(in) {}

    LexResult run() {
        LexResult r;
        Command cmd;
        cmd.line = line_;
        while (pos_ < in_.size()) {
            char c = in_[pos_];
            if (c == ' ' || c == '\t') {
                pos_++;
            } else if (c == '\n' || c == ';') {
                pos_++;
                finish(r, cmd);
                if (c == '\n')
                    line_++;
                cmd.line = line_;
            } else if (c == '|' || operator_and()) {
                Link link = Link::Pipe;
                const char *op = "|";
                if (c == '&') {
                    link = Link::And;
                    op = "&&";
                } else if (pos_ + 1 < in_.size() && in_[pos_ + 1] == '|') {
                    link = Link::Or;
                    op = "||";
                }
                pos_ += link == Link::Pipe ? 1 : 2;
                if (cmd.words.empty() && cmd.redirects.empty()) {
                    unexpected(r, op);
                    return r;
                }
                cmd.next = link;
                finish(r, cmd);
                // Blanks, newlines and comments may come before the next command.
                skip_blank_lines();
                if (pos_ < in_.size() && in_[pos_] == ';') {
                    unexpected(r, ";");
                    return r;
                }
                cmd.line = line_;
            } else if (c == '#') {
                while (pos_ < in_.size() && in_[pos_] != '\n')
                    pos_++;
            } else if (c == '>') {
                Redirect red;
                pos_++;
                if (pos_ < in_.size() && in_[pos_] == '>') {
                    red.append = true;
                    pos_++;
                } else if (pos_ < in_.size() && in_[pos_] == '|') {
                    pos_++;  // ">|": the same as '>' while noclobber is off, as it always is
                }
                while (pos_ < in_.size() && (in_[pos_] == ' ' || in_[pos_] == '\t'))
                    pos_++;
                if (pos_ >= in_.size() || is_separator(in_[pos_])) {
                    r.error = "syntax error: redirection without a file";
                    return r;
                }
                if (!word(red.target, r))
                    return r;
                // Only a line continuation followed ("> \\<newline>" at the end): no file.
                if (red.target.parts.empty()) {
                    r.error = "syntax error: redirection without a file";
                    return r;
                }
                cmd.redirects.push_back(std::move(red));
            } else {
                Word w;
                if (!word(w, r))
                    return r;
                // A line continuation alone ("\\<newline>" between words) is no word.
                if (!w.parts.empty())
                    cmd.words.push_back(std::move(w));
            }
        }
        finish(r, cmd);
        // "a |" and "a &&" at the end of the input: the command after the operator is still to
        // come, on the next line of an interactive shell.
        if (!r.commands.empty() && r.commands.back().next != Link::End) {
            Link last = r.commands.back().next;
            r.commands.clear();
            r.incomplete = true;
            r.error = std::string("syntax error: unexpected end of input after ") +
                      (last == Link::Pipe  ? "|"
                       : last == Link::And ? "&&"
                                           : "||");
        }
        return r;
    }

  private:
    static bool is_separator(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '>' || c == '|';
    }

    // A lone '&' is an ordinary character here (there are no background jobs); "&&" is the
    // operator.
    bool operator_and() const {
        return pos_ + 1 < in_.size() && in_[pos_] == '&' && in_[pos_ + 1] == '&';
    }

    static void unexpected(LexResult &r, const char *op) {
        r.commands.clear();
        r.error = std::string("syntax error: '") + op + "' unexpected";
    }

    void skip_blank_lines() {
        while (pos_ < in_.size()) {
            char c = in_[pos_];
            if (c == '\n')
                line_++;
            else if (c == '#')
                while (pos_ + 1 < in_.size() && in_[pos_ + 1] != '\n')
                    pos_++;
            else if (c != ' ' && c != '\t')
                break;
            pos_++;
        }
    }

    static void finish(LexResult &r, Command &cmd) {
        if (!cmd.words.empty() || !cmd.redirects.empty())
            r.commands.push_back(std::move(cmd));
        cmd = Command{};
    }

    static void literal(Word &w, char c) {
        if (w.parts.empty() || !std::holds_alternative<std::string>(w.parts.back()))
            w.parts.emplace_back(std::string());
        std::get<std::string>(w.parts.back()) += c;
    }

    bool status_ref(Word &w) {
        if (pos_ + 1 < in_.size() && in_[pos_ + 1] == '?') {
            w.parts.emplace_back(StatusRef{});
            pos_ += 2;
            return true;
        }
        return false;
    }

    // Reads one word; false (with r set) on an unterminated quote.
    bool word(Word &w, LexResult &r) {
        while (pos_ < in_.size() && !is_separator(in_[pos_]) && !operator_and()) {
            char c = in_[pos_];
            if (c == '\'') {
                size_t end = in_.find('\'', pos_ + 1);
                if (end == std::string_view::npos)
                    return unterminated(r);
                for (size_t i = pos_ + 1; i < end; i++)
                    literal(w, in_[i]);
                // An empty quoted string is still a word.
                if (end == pos_ + 1)
                    literal_empty(w);
                count_lines(pos_, end);
                pos_ = end + 1;
            } else if (c == '"') {
                size_t start = pos_++;
                bool any = false;
                while (pos_ < in_.size() && in_[pos_] != '"') {
                    char d = in_[pos_];
                    if (d == '\\' && pos_ + 1 < in_.size() &&
                        std::string_view("$`\"\\\n").find(in_[pos_ + 1]) !=
                            std::string_view::npos) {
                        if (in_[pos_ + 1] != '\n')
                            literal(w, in_[pos_ + 1]);
                        pos_ += 2;
                    } else if (d == '$' && status_ref(w)) {
                    } else {
                        literal(w, d);
                        pos_++;
                    }
                    any = true;
                }
                if (pos_ >= in_.size())
                    return unterminated(r);
                if (!any)
                    literal_empty(w);
                count_lines(start, pos_);
                pos_++;
            } else if (c == '\\') {
                if (pos_ + 1 >= in_.size()) {
                    r.incomplete = true;
                    r.error = "syntax error: unexpected end of input after \\";
                    return false;
                }
                if (in_[pos_ + 1] == '\n')
                    line_++;
                else
                    literal(w, in_[pos_ + 1]);
                pos_ += 2;
            } else if (c == '$' && status_ref(w)) {
            } else {
                literal(w, c);
                pos_++;
            }
        }
        return true;
    }

    static void literal_empty(Word &w) {
        if (w.parts.empty())
            w.parts.emplace_back(std::string());
    }

    void count_lines(size_t from, size_t to) {
        for (size_t i = from; i < to; i++)
            if (in_[i] == '\n')
                line_++;
    }

    bool unterminated(LexResult &r) {
        r.incomplete = true;
        r.error = "syntax error: unterminated quoted string";
        return false;
    }

    std::string_view in_;
    size_t pos_ = 0;
    int line_ = 1;
};

}  // namespace

LexResult lex(std::string_view input) {
    return Lexer(input).run();
}

}  // namespace phonesim
