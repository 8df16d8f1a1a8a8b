// The companions' command lines: each option declared once, with how it is
// written, how the usage text shows it and what it does; the usage text is
// made from the declarations.
//
// Both companions read their arguments alike: -h or --help prints the
// usage on standard output (exit status 0); "--" ends the options; an
// option's value follows it as the next word or after '=' (--name=VALUE);
// a word "-" or one that does not begin with '-' is an operand. An unknown
// option, a missing value or one an option refuses is a usage error: the
// program's name and the problem on standard error, then the usage line
// and where to read more (exit status 2).
#ifndef KARVEL_COMPANION_COMMAND_LINE_H
#define KARVEL_COMPANION_COMMAND_LINE_H

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Exit statuses of a command line that does not run the program.
constexpr int kHelpShown = 0;
constexpr int kUsageError = 2;

// The values an option takes.
enum class Takes {
    none,      // --crop
    one,       // --result R or --result=R
    two,       // --names A B
    optional,  // --align or --align=METHOD: a value only after '='
};

struct Option {
    // Takes the values given (none, one or two; an optional value only
    // when given). Empty, or what is wrong with them.
    using Take = std::function<std::string(const std::vector<std::string> &values)>;

    Option(std::string name, Takes takes, std::string value, std::string help, Take take, std::string needs = "")
        : name(std::move(name)),
          takes(takes),
          value(std::move(value)),
          help(std::move(help)),
          take(std::move(take)),
          needs(std::move(needs)) {}

    std::string name;  // the long name, without "--"
    Takes takes;
    std::string value;  // the value as the usage shows it: "R", "A B", "METHOD"
    std::string help;   // the help text's lines, '\n' between them
    Take take;
    // What a missing value is called in "--NAME needs ..." (empty: "a
    // value", or "two values").
    std::string needs;
    char letter = 0;  // the short name (-x), or 0 for none
};

struct CommandLine {
    std::string program;      // "karvel-import"
    std::string synopsis;     // after the program's name in the usage line
    std::string description;  // the paragraph after the usage line, each line ending in '\n'
    std::vector<Option> options;
    int help_column = 21;  // where the options' help begins; a longer option stands on its own line
    std::string closing;   // the paragraphs after the options (exit statuses, ...), each line ending in '\n'
    // Takes the operands once every option is taken. Empty, or what is
    // wrong with the command line.
    std::function<std::string(const std::vector<std::string> &operands)> operands;
};

// What a command line comes to.
enum class Parsed { run, help, wrong };

// Reads args (without the program's name) as cl declares them, each option
// taken in turn; `problem` tells what is wrong.
Parsed parse_command_line(const CommandLine &cl, const std::vector<std::string> &args, std::string &problem);

// What -h and --help print.
std::string usage_text(const CommandLine &cl);

// What a usage error prints: the problem, the usage line and the hint.
std::string usage_error_text(const CommandLine &cl, const std::string &problem);

// Reads args and, unless they make a command that runs, prints the usage or
// the usage error. Nothing to run the program; else its exit status.
std::optional<int> read_command_line(const CommandLine &cl, const std::vector<std::string> &args);

// Options and texts the companions' command lines share: --band N (a
// whole number from 1 to 1000000) into band; an option that takes one
// text into `to`, refusing an empty one with "--NAME needs <needs>" when
// `needs` is given.
Option band_option(const std::string &help, int &band);
Option text_option(const std::string &name, const std::string &value, const std::string &help, std::string &to,
                   const std::string &needs = "");
// --coregister[=xy|xyz]: sets coregister, and remove_bias with xyz.
Option coregister_option(const std::string &help, bool &coregister, bool &remove_bias);
// The usage's last line, "\nThe images directory is DIR.\n", for the images
// directory configured as images_root; empty when it cannot be resolved.
std::string images_dir_note(const std::string &images_root);
// "expected <what>, got N operand(s)".
std::string operand_count_problem(const std::string &what, size_t got);

// The numbers of option values, all read by this one rule: blanks (spaces
// or tabs) around it, an optional sign, decimal digits with an optional
// fraction (5, 5., .5, 5.25) and exponent (1e3, 2.5E-1), nothing else: no
// hexadecimal, no inf or nan, no other character. The value, or nothing
// when the text is not such a number or its magnitude lies beyond a
// double's (finite, not rounded to 0 from a nonzero number).
std::optional<double> decimal_number(const std::string &text);
// The same rule for a whole number: an optional sign and decimal digits
// alone, blanks around; nothing when beyond a long long.
std::optional<long long> whole_number(const std::string &text);
// The text without the blanks around it, as those rules take it.
std::string unblanked(const std::string &text);

#endif
