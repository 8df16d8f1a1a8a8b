// A command line read as its options are declared, the usage text made
// from the declarations, and the numbers of the options' values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "command_line.h"

namespace {

// What a command line of every kind of option took.
struct Taken {
    std::vector<std::string> names, operands;
    std::string result = "none", method = "none";
    bool crop = false;
};

CommandLine tool(Taken &t) {
    CommandLine cl;
    cl.program = "tool";
    cl.synopsis = "[OPTIONS] IN";
    cl.description = "Does a thing.\n";
    cl.help_column = 16;
    cl.options = {
        Option(
            "names", Takes::two, "A B", "two names",
            [&t](const std::vector<std::string> &v) {
                t.names = v;
                return "";
            },
            "two names"),
        Option("result", Takes::one, "R", "the result\nover two lines",
               [&t](const std::vector<std::string> &v) {
                   t.result = v[0];
                   return v[0] == "bad" ? "--result: \"bad\" will not do" : "";
               }),
        Option("align", Takes::optional, "METHOD", "resample",
               [&t](const std::vector<std::string> &v) {
                   t.method = v.empty() ? "default" : v[0];
                   return "";
               }),
        Option("crop", Takes::none, "", "cut",
               [&t](const std::vector<std::string> &) {
                   t.crop = true;
                   return "";
               }),
    };
    cl.closing = "Exit status: 0 or 2.\n";
    cl.operands = [&t](const std::vector<std::string> &words) -> std::string {
        t.operands = words;
        return words.size() == 1 ? "" : "expected IN, got " + std::to_string(words.size());
    };
    return cl;
}

Parsed parse(const std::vector<std::string> &args, Taken &t, std::string &problem) {
    return parse_command_line(tool(t), args, problem);
}

}  // namespace

TEST(CommandLine, ValuesAfterTheOptionOrAfterAnEqualsSign) {
    Taken t;
    std::string problem;
    EXPECT_EQ(parse({"--result", "r1", "--names", "a", "b", "in", "--crop", "--align"}, t, problem), Parsed::run);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(t.result, "r1");
    EXPECT_EQ(t.names, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(t.crop);
    EXPECT_EQ(t.method, "default");
    EXPECT_EQ(t.operands, std::vector<std::string>{"in"});
    // A value after '=' (an empty one too); the next word is a value even
    // when it looks like an option; a lone "-" is an operand.
    t = Taken();
    EXPECT_EQ(parse({"--result=", "--align=cubic", "-"}, t, problem), Parsed::run);
    EXPECT_EQ(t.result, "");
    EXPECT_EQ(t.method, "cubic");
    EXPECT_EQ(t.operands, std::vector<std::string>{"-"});
    t = Taken();
    EXPECT_EQ(parse({"--result", "--crop", "in"}, t, problem), Parsed::run);
    EXPECT_EQ(t.result, "--crop");
    EXPECT_FALSE(t.crop);
    // --align takes a value only after '=': the next word is an operand.
    t = Taken();
    EXPECT_EQ(parse({"--align", "cubic"}, t, problem), Parsed::run);
    EXPECT_EQ(t.method, "default");
    EXPECT_EQ(t.operands, std::vector<std::string>{"cubic"});
}

TEST(CommandLine, HelpAndTheEndOfTheOptions) {
    Taken t;
    std::string problem;
    EXPECT_EQ(parse({"-h"}, t, problem), Parsed::help);
    EXPECT_EQ(parse({"in", "extra", "--help", "--bogus"}, t, problem), Parsed::help);  // the first word that decides
    EXPECT_EQ(parse({"--bogus", "--help"}, t, problem), Parsed::wrong);
    // After "--" every word is an operand.
    t = Taken();
    EXPECT_EQ(parse({"--crop", "--", "--help"}, t, problem), Parsed::run);
    EXPECT_TRUE(t.crop);
    EXPECT_EQ(t.operands, std::vector<std::string>{"--help"});
    EXPECT_EQ(parse({"--", "-x", "--"}, t, problem), Parsed::wrong);
    EXPECT_EQ(t.operands, (std::vector<std::string>{"-x", "--"}));
}

TEST(CommandLine, WhatIsWrongIsSaidInTheDeclarationsWords) {
    const struct {
        std::vector<std::string> args;
        std::string problem;
    } cases[] = {
        {{"--bogus", "in"}, "unknown option --bogus"},
        {{"-x", "in"}, "unknown option -x"},
        {{"-hx"}, "unknown option -hx"},
        {{"--crop=yes", "in"}, "unknown option --crop=yes"},  // no value after '=' for an option without one
        {{"--names=a", "b", "in"}, "unknown option --names=a"},
        {{"in", "--result"}, "--result needs a value"},
        {{"in", "--names", "a"}, "--names needs two names"},
        {{"--result", "bad", "in"}, "--result: \"bad\" will not do"},
        {{"a", "b"}, "expected IN, got 2"},
    };
    for (const auto &c : cases) {
        Taken t;
        std::string problem;
        EXPECT_EQ(parse(c.args, t, problem), Parsed::wrong) << c.problem;
        EXPECT_EQ(problem, c.problem);
    }
    Taken t;
    EXPECT_EQ(usage_error_text(tool(t), "unknown option \x01"),
              "tool: unknown option \\x01\nUsage: tool [OPTIONS] IN\nTry 'tool --help'.\n");
}

TEST(CommandLine, TheUsageTextIsMadeFromTheDeclarations) {
    Taken t;
    EXPECT_EQ(usage_text(tool(t)),
              "Usage: tool [OPTIONS] IN\n"
              "\n"
              "Does a thing.\n"
              "\n"
              "  --names A B   two names\n"
              "  --result R    the result\n"
              "                over two lines\n"
              "  --align[=METHOD]\n"
              "                resample\n"
              "  --crop        cut\n"
              "  -h, --help    print this text\n"
              "\n"
              "Exit status: 0 or 2.\n");
}

// Every number of an option's value is read by one rule: decimal, blanks
// alike on either side, nothing else around it.
TEST(CommandLine, NumbersOfOptionValuesAreDecimalWithBlanksAlikeOnEitherSide) {
    const std::pair<const char *, double> numbers[] = {{" 5", 5},       {"5 ", 5},   {"\t5.5\t ", 5.5}, {"+5", 5},
                                                       {"-2.5", -2.5},  {"5.", 5},   {".5", 0.5},       {"1e3", 1000},
                                                       {"2.5E-1", 0.25}, {"010", 10}, {"89.9", 89.9}};
    for (const auto &[text, value] : numbers) EXPECT_EQ(decimal_number(text), value) << text;
    EXPECT_TRUE(std::signbit(decimal_number("-0").value()));
    for (const char *bad : {"", " ", "0x10", "0X1p3", "inf", "-inf", "nan", "infinity", "5x", "5 x", "5,", "1e",
                            "1e+", "e5", ".", "-", "+-5", "5\n", "\n5", "1 000", "1e400", "-1e400", "1e-400", "5..1"})
        EXPECT_FALSE(decimal_number(bad).has_value()) << '"' << bad << '"';

    EXPECT_EQ(whole_number(" 2 "), 2);
    EXPECT_EQ(whole_number("+7"), 7);
    EXPECT_EQ(whole_number("-3\t"), -3);
    EXPECT_EQ(whole_number("9223372036854775807"), std::numeric_limits<long long>::max());
    EXPECT_EQ(whole_number("-9223372036854775808"), std::numeric_limits<long long>::min());
    for (const char *bad : {"", "0x2", "2.0", "2.", "1e2", "2 2", "9223372036854775808", "-9223372036854775809",
                            "nan", "2b"})
        EXPECT_FALSE(whole_number(bad).has_value()) << '"' << bad << '"';
    EXPECT_EQ(unblanked(" \t a b \t"), "a b");
}
