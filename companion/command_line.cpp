#include "command_line.h"

#include <charconv>
#include <cstdio>
#include <limits>
#include <string_view>

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

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The digits from `at` on; how many there are.
size_t digits_at(const std::string &s, size_t at) {
    size_t n = 0;
    while (at + n < s.size() && is_digit(s[at + n])) n++;
    return n;
}

// The text after its sign, when it is [digits][.digits][e[sign]digits]
// with a digit before or after the point (and, when whole, digits alone);
// else empty. from_chars reads what is left, never a sign of its own.
std::string_view unsigned_part(const std::string &s, bool whole, bool &negative) {
    size_t at = 0;
    negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) at = 1;
    const size_t begin = at;
    size_t digits = digits_at(s, at);
    at += digits;
    if (!whole && at < s.size() && s[at] == '.') {
        const size_t fraction = digits_at(s, at + 1);
        digits += fraction;
        at += 1 + fraction;
    }
    if (digits == 0) return {};
    if (!whole && at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
        const size_t sign = at + 1 < s.size() && (s[at + 1] == '+' || s[at + 1] == '-') ? 1 : 0;
        const size_t exponent = digits_at(s, at + 1 + sign);
        if (exponent == 0) return {};
        at += 1 + sign + exponent;
    }
    if (at != s.size()) return {};
    return std::string_view(s).substr(begin);
}

}  // namespace

std::string unblanked(const std::string &text) {
    size_t first = 0, end = text.size();
    while (first < end && is_blank(text[first])) first++;
    while (end > first && is_blank(text[end - 1])) end--;
    return text.substr(first, end - first);
}

std::optional<double> decimal_number(const std::string &text) {
    const std::string s = unblanked(text);
    bool negative = false;
    const std::string_view u = unsigned_part(s, false, negative);
    if (u.empty()) return std::nullopt;
    double v = 0;
    const auto [end, ec] = std::from_chars(u.data(), u.data() + u.size(), v, std::chars_format::general);
    if (ec != std::errc() || end != u.data() + u.size()) return std::nullopt;
    return negative ? -v : v;
}

std::optional<long long> whole_number(const std::string &text) {
    const std::string s = unblanked(text);
    bool negative = false;
    const std::string_view u = unsigned_part(s, true, negative);
    if (u.empty()) return std::nullopt;
    unsigned long long m = 0;
    const auto [end, ec] = std::from_chars(u.data(), u.data() + u.size(), m);
    const unsigned long long limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
    if (ec != std::errc() || end != u.data() + u.size() || m > limit) return std::nullopt;
    return negative ? (m == limit ? std::numeric_limits<long long>::min() : -(long long)m) : (long long)m;
}

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

Option band_option(const std::string &help, int &band) {
    return Option("band", Takes::one, "N", help, [&band](const std::vector<std::string> &v) -> std::string {
        const long long n = whole_number(v[0]).value_or(0);
        if (n < 1 || n > 1000000) return "--band: \"" + v[0] + "\" is not a band number (1, 2, ...)";
        band = int(n);
        return "";
    });
}

Option text_option(const std::string &name, const std::string &value, const std::string &help, std::string &to,
                   const std::string &needs) {
    return Option(name, Takes::one, value, help, [&to, name, needs](const std::vector<std::string> &v) {
        to = v[0];
        return needs.empty() || !v[0].empty() ? std::string() : "--" + name + " needs " + needs;
    });
}

std::string images_dir_note(const std::string &images_root) {
    std::string message;
    ImagesDir images;
    if (!resolve_images_dir(images_root, images, message)) return "";
    return "\nThe images directory is " + printable(images.dir) + ".\n";
}

std::string operand_count_problem(const std::string &what, size_t got) {
    return "expected " + what + ", got " + std::to_string(got) + " operand" + (got == 1 ? "" : "s");
}

Option coregister_option(const std::string &help, bool &coregister, bool &remove_bias) {
    return Option("coregister", Takes::optional, "xy|xyz", help,
                  [&coregister, &remove_bias](const std::vector<std::string> &v) -> std::string {
                      coregister = true;
                      if (!v.empty() && v[0] != "xy" && v[0] != "xyz")
                          return "--coregister: \"" + v[0] + "\" is neither xy nor xyz";
                      remove_bias = !v.empty() && v[0] == "xyz";
                      return "";
                  });
}
