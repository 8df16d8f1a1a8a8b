#include "command_line.h"

#include <cstdio>

#include "paths.h"

namespace {

// Every companion's -h and --help.
const Option kHelp = [] {
    Option o("help", Takes::none, "", "print this text", nullptr);
    o.letter = 'h';
    return o;
}();

// The option as the usage text shows it.
std::string label(const Option &o) {
    std::string l = o.letter ? std::string("-") + o.letter + ", --" + o.name : "--" + o.name;
    if (o.takes == Takes::one || o.takes == Takes::two) l += " " + o.value;
    if (o.takes == Takes::optional) l += "[=" + o.value + "]";
    return l;
}

// The option's lines of the usage text, its help from the help column on.
std::string option_lines(const Option &o, size_t column) {
    const std::string indent(column, ' ');
    std::string text = "  " + label(o);
    if (text.size() + 2 <= column) {
        text.resize(column, ' ');
    } else {
        text += '\n';
        text += indent;
    }
    for (char c : o.help) {
        text += c;
        if (c == '\n') text += indent;
    }
    text += '\n';
    return text;
}

// The declaration that `word` (an argument beginning with '-') names:
// "--name", "--name=VALUE" or "-x".
const Option *named(const CommandLine &cl, const std::string &word, size_t name_end) {
    const bool letter = word.compare(0, 2, "--") != 0;
    if (letter && word.size() != 2) return nullptr;
    const std::string name = letter ? "" : word.substr(2, name_end - 2);
    auto is = [&](const Option &o) { return letter ? o.letter == word[1] : o.name == name; };
    if (is(kHelp)) return &kHelp;
    for (const Option &o : cl.options)
        if (is(o)) return &o;
    return nullptr;
}

}  // namespace

Parsed parse_command_line(const CommandLine &cl, const std::vector<std::string> &args, std::string &problem) {
    problem.clear();
    std::vector<std::string> operands;
    bool options_ended = false;
    for (size_t k = 0; k < args.size(); k++) {
        const std::string &word = args[k];
        if (options_ended || word.size() < 2 || word[0] != '-') {
            operands.push_back(word);
            continue;
        }
        if (word == "--") {
            options_ended = true;
            continue;
        }
        const size_t eq = word.compare(0, 2, "--") == 0 ? word.find('=') : std::string::npos;
        const Option *o = named(cl, word, eq == std::string::npos ? word.size() : eq);
        const bool inline_value = eq != std::string::npos;
        // An option without values, or with two, never takes one after '='.
        if (!o || (inline_value && (o->takes == Takes::none || o->takes == Takes::two))) {
            problem = "unknown option " + word;
            return Parsed::wrong;
        }
        if (o == &kHelp) return Parsed::help;
        const std::string spelled = word.substr(0, eq);
        std::vector<std::string> values;
        if (inline_value) {
            values.push_back(word.substr(eq + 1));
        } else if (o->takes == Takes::one || o->takes == Takes::two) {
            const size_t count = o->takes == Takes::one ? 1 : 2;
            if (args.size() - 1 - k < count) {
                problem = spelled + " needs " + (!o->needs.empty() ? o->needs : count == 1 ? "a value" : "two values");
                return Parsed::wrong;
            }
            values.assign(args.begin() + std::ptrdiff_t(k + 1), args.begin() + std::ptrdiff_t(k + 1 + count));
            k += count;
        }
        if (o->take) problem = o->take(values);
        if (!problem.empty()) return Parsed::wrong;
    }
    if (cl.operands) problem = cl.operands(operands);
    return problem.empty() ? Parsed::run : Parsed::wrong;
}

std::string usage_text(const CommandLine &cl) {
    std::string text = "Usage: " + cl.program + " " + cl.synopsis + "\n";
    if (!cl.description.empty()) text += "\n" + cl.description;
    text += "\n";
    for (const Option &o : cl.options) text += option_lines(o, size_t(cl.help_column));
    text += option_lines(kHelp, size_t(cl.help_column));
    if (!cl.closing.empty()) text += "\n" + cl.closing;
    return text;
}

std::string usage_error_text(const CommandLine &cl, const std::string &problem) {
    return cl.program + ": " + printable(problem) + "\nUsage: " + cl.program + " " + cl.synopsis + "\nTry '" +
           cl.program + " --help'.\n";
}

std::optional<int> read_command_line(const CommandLine &cl, const std::vector<std::string> &args) {
    std::string problem;
    switch (parse_command_line(cl, args, problem)) {
        case Parsed::run:
            return std::nullopt;
        case Parsed::help:
            std::fputs(usage_text(cl).c_str(), stdout);
            std::fflush(stdout);
            return kHelpShown;
        case Parsed::wrong:
            break;
    }
    std::fflush(stdout);
    std::fputs(usage_error_text(cl, problem).c_str(), stderr);
    return kUsageError;
}
