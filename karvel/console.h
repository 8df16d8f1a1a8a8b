// The console: prompts and reports on standard output, answers from standard
// input, and the single-key pause on the terminal.
//
// Answers are taken line by line: nothing is read before the user presses
// Enter, and the words of one line serve the following prompts in turn.
// Standard output is flushed before every answer is awaited.
#ifndef KARVEL_CONSOLE_H
#define KARVEL_CONSOLE_H

#include <string>

// Writes text to standard output as it stands.
void out(const std::string &text);
// Writes text to standard output and flushes it (progress lines).
void out_now(const std::string &text);
// Writes text to standard error and flushes it.
void err_out(const std::string &text);

// Says on standard error that a square root was taken of a negative number.
void say_sqrt_domain_error();

// The square root; a negative argument writes "sqrt: DOMAIN error" on the
// standard error stream and yields a not-a-number, and the run goes on.
double ksqrt(double v);

enum class Answer {
    given,         // a value was read
    not_number,    // the next word is not a number: it stays unread
    out_of_range,  // a number beyond a 32-bit int was taken; the value is left as it was
    ended          // no more input
};

// The longest word the reader hands out whole; a longer one comes as its
// first kLongestWord + 1 bytes, which is longer than any answer may be.
constexpr size_t kLongestWord = 4096;

// "%d": skips white space, takes an optional sign and digits. Without a
// digit the value is left as it was and the text stays for the next prompt.
Answer read_int(int &value);

// "%s": skips white space and takes the word up to the next white space.
Answer read_word(std::string &word);

// The next word, as read_word would take it, left unread.
Answer peek_word(std::string &word);

// Drops the next word of the answers (after skipping white space).
void skip_word();

// Waits for one key on the terminal, without echo and without Enter; the
// rest of a key that sends several bytes is discarded. The buffered answers
// are left alone. Returns at once where no terminal can be opened.
void wait_key();

// Restarts answer reading from the current standard input (used by tests).
void reset_answers();

#endif
