#include "phonesim/shell_lexer.h"

#include <gtest/gtest.h>

namespace phonesim {
namespace {

std::vector<std::vector<std::string>> words_of(std::string_view in, int status = 0) {
    LexResult r = lex(in);
    EXPECT_EQ(r.error, "") << in;
    std::vector<std::vector<std::string>> out;
    for (const Command &c : r.commands) {
        std::vector<std::string> w;
        for (const Word &word : c.words)
            w.push_back(word.expand(status));
        out.push_back(w);
    }
    return out;
}

using Words = std::vector<std::vector<std::string>>;

TEST(ShellLexer, Words_SplitLikeSh) {
    struct Case {
        const char *in;
        Words want;
    } cases[] = {
        {"echo  a\tb", {{"echo", "a", "b"}}},
        {"echo 'a  b' \"c d\"", {{"echo", "a  b", "c d"}}},
        {"echo a\\ b", {{"echo", "a b"}}},
        {"echo '' \"\"", {{"echo", "", ""}}},
        {"echo 'it''s'", {{"echo", "its"}}},
        {"echo \"a\\\"b\\$c\\n\"", {{"echo", "a\"b$c\\n"}}},
        {"echo '$?' \"$?\" $?x", {{"echo", "$?", "7", "7x"}}},
        {"a; b\nc", {{"a"}, {"b"}, {"c"}}},
        {"echo a # comment; b\nc", {{"echo", "a"}, {"c"}}},
        {"echo a#b", {{"echo", "a#b"}}},
        {"echo 'x;y' \"p\nq\"", {{"echo", "x;y", "p\nq"}}},
        {"echo a\\\nb", {{"echo", "ab"}}},
        // Found by fuzzing: a continuation between words is removed, not an empty word.
        {"a;\\\necho x", {{"a"}, {"echo", "x"}}},
        {"echo \\\n x", {{"echo", "x"}}},
        {";;\n\n", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(words_of(c.in, 7), c.want) << c.in;
}

TEST(ShellLexer, Redirects_AttachToTheirCommand) {
    LexResult r = lex("echo 1 > /proc/a; echo 2 >>/proc/b x");
    ASSERT_EQ(r.commands.size(), 2u);
    ASSERT_EQ(r.commands[0].redirects.size(), 1u);
    EXPECT_FALSE(r.commands[0].redirects[0].append);
    EXPECT_EQ(r.commands[0].redirects[0].target.expand(0), "/proc/a");
    ASSERT_EQ(r.commands[1].redirects.size(), 1u);
    EXPECT_TRUE(r.commands[1].redirects[0].append);
    EXPECT_EQ(r.commands[1].redirects[0].target.expand(0), "/proc/b");
    ASSERT_EQ(r.commands[1].words.size(), 3u);
    EXPECT_EQ(r.commands[1].words[2].expand(0), "x");
}

TEST(ShellLexer, Errors_ReportIncompleteInput) {
    for (const char *in : {"echo 'abc", "echo \"abc", "echo abc\\"}) {
        LexResult r = lex(in);
        EXPECT_TRUE(r.incomplete) << in;
        EXPECT_NE(r.error, "") << in;
    }
    LexResult r = lex("echo >");
    EXPECT_FALSE(r.incomplete);
    EXPECT_NE(r.error, "");
}

// Found by fuzzing: a redirection followed only by a line continuation names no file, and an
// empty target must not reach the shell as one.
TEST(ShellLexer, Errors_RedirectionToALineContinuationOnly) {
    for (const char *in : {"echo x > \\\n", "echo x >>\\\n", "ech>\\\n"}) {
        LexResult r = lex(in);
        EXPECT_EQ(r.error, "syntax error: redirection without a file") << in;
        EXPECT_TRUE(r.commands.empty()) << in;
    }
    // A continuation before a real name is still a name.
    LexResult r = lex("echo x > \\\nfile");
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.commands.size(), 1u);
    ASSERT_EQ(r.commands[0].redirects.size(), 1u);
    EXPECT_EQ(r.commands[0].redirects[0].target.expand(0), "file");
}

std::vector<Link> links_of(std::string_view in) {
    LexResult r = lex(in);
    EXPECT_EQ(r.error, "") << in;
    std::vector<Link> out;
    for (const Command &c : r.commands)
        out.push_back(c.next);
    return out;
}

TEST(ShellLexer, Pipes_JoinCommandsWithOrWithoutBlanks) {
    using L = std::vector<Link>;
    struct Case {
        const char *in;
        Words words;
        L links;
    } cases[] = {
        {"cat /proc/meminfo | grep -E 'MemFree|MemAvailable'",
         {{"cat", "/proc/meminfo"}, {"grep", "-E", "MemFree|MemAvailable"}},
         {Link::Pipe, Link::End}},
        {"a|b|c", {{"a"}, {"b"}, {"c"}}, {Link::Pipe, Link::Pipe, Link::End}},
        {"a | b; c", {{"a"}, {"b"}, {"c"}}, {Link::Pipe, Link::End, Link::End}},
        {"a && b || c", {{"a"}, {"b"}, {"c"}}, {Link::And, Link::Or, Link::End}},
        {"a&&b||c|d", {{"a"}, {"b"}, {"c"}, {"d"}}, {Link::And, Link::Or, Link::Pipe, Link::End}},
        // Newlines and comments may follow an operator before the next command.
        {"a |\n  b", {{"a"}, {"b"}}, {Link::Pipe, Link::End}},
        {"a | # why\n\n b &&\n c", {{"a"}, {"b"}, {"c"}}, {Link::Pipe, Link::And, Link::End}},
        {"a |\\\n b", {{"a"}, {"b"}}, {Link::Pipe, Link::End}},
        // Quoted or escaped, the operators are text; a lone '&' is text too.
        {"echo 'x|y' \"a||b\" c\\|d e\\&\\&f",
         {{"echo", "x|y", "a||b", "c|d", "e&&f"}},
         {Link::End}},
        {"echo a&b &", {{"echo", "a&b", "&"}}, {Link::End}},
        {"echo a#b|c", {{"echo", "a#b"}, {"c"}}, {Link::Pipe, Link::End}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(words_of(c.in), c.words) << c.in;
        EXPECT_EQ(links_of(c.in), c.links) << c.in;
    }
}

TEST(ShellLexer, Pipes_RedirectionsStayWithTheirCommand) {
    LexResult r = lex("echo a > /proc/x | cat >> /proc/y\ncat >|/proc/z");
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.commands.size(), 3u);
    ASSERT_EQ(r.commands[0].redirects.size(), 1u);
    EXPECT_EQ(r.commands[0].redirects[0].target.expand(0), "/proc/x");
    EXPECT_EQ(r.commands[0].next, Link::Pipe);
    ASSERT_EQ(r.commands[1].redirects.size(), 1u);
    EXPECT_TRUE(r.commands[1].redirects[0].append);
    EXPECT_EQ(r.commands[1].redirects[0].target.expand(0), "/proc/y");
    // ">|" is '>' (noclobber is never on).
    ASSERT_EQ(r.commands[2].redirects.size(), 1u);
    EXPECT_FALSE(r.commands[2].redirects[0].append);
    EXPECT_EQ(r.commands[2].redirects[0].target.expand(0), "/proc/z");
    EXPECT_EQ(r.commands[2].line, 2);
    EXPECT_EQ(lex("a |\n\nb").commands.at(1).line, 3);
}

TEST(ShellLexer, Pipes_MisplacedOperatorsAreSyntaxErrors) {
    struct Case {
        const char *in;
        const char *error;
        bool incomplete;
    } cases[] = {
        {"| a", "syntax error: '|' unexpected", false},
        {"a | | b", "syntax error: '|' unexpected", false},
        {"a ; | b", "syntax error: '|' unexpected", false},
        {"a\n&& b", "syntax error: '&&' unexpected", false},
        {"a || ; b", "syntax error: ';' unexpected", false},
        {"a |\n;", "syntax error: ';' unexpected", false},
        {"echo > | b", "syntax error: redirection without a file", false},
        // An operator at the end wants the next line, as an interactive shell asks for it.
        {"a |", "syntax error: unexpected end of input after |", true},
        {"a | # more to come\n", "syntax error: unexpected end of input after |", true},
        {"a &&", "syntax error: unexpected end of input after &&", true},
        {"a ||\n\n", "syntax error: unexpected end of input after ||", true},
        {"a | \\\n", "syntax error: unexpected end of input after |", true},
    };
    for (const Case &c : cases) {
        LexResult r = lex(c.in);
        EXPECT_EQ(r.error, c.error) << c.in;
        EXPECT_EQ(r.incomplete, c.incomplete) << c.in;
        EXPECT_TRUE(r.commands.empty()) << c.in;
    }
}

}  // namespace
}  // namespace phonesim
