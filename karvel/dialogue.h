// The questions of the set-up dialogue, with their rules for refused answers.
#ifndef KARVEL_DIALOGUE_H
#define KARVEL_DIALOGUE_H

#include <string>

// Prints the prompt and reads a number into value, asking again until the
// value lies between lo and hi. A word where a number is asked leaves the
// value as it was: if that value is a valid choice the word stays for the
// next prompt, otherwise it is dropped and the question asked again. At the
// end of the input a valid value is kept; otherwise the run stops.
void ask_choice(const std::string &prompt, int &value, int lo, int hi);

// Prints the prompt and reads one word. A word longer than max_len, or the
// end of the input, stops the run; `what` names the answer in the message.
std::string ask_name(const std::string &prompt, size_t max_len, const char *what);

// Stops the run when a path would be longer than a path may be.
void check_path_length(const std::string &path);

#endif
