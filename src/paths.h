// Paths: what the user sees and what is opened.
//
// Every path is shown and recorded in its drive-letter form under the fixed
// root c:\images\ (c:\images\dem\a_m2.raw). The file actually opened is this
// installation's images directory followed by the rest of that path, every
// backslash becoming a slash.
#ifndef KARVEL_PATHS_H
#define KARVEL_PATHS_H

#include <string>

// The root as the user sees it, with its final backslash.
extern const char kShownRoot[];

// The longest path a run may form, in characters.
constexpr size_t kMaxPath = 127;

// Sets the images directory from the configured form; a leading "~" stands
// for the home directory of the user running the program, as the system's
// user database gives it. Returns false with a message when it cannot.
bool set_images_dir(const std::string &configured, std::string &message);

// The images directory in use.
const std::string &images_dir();

// Maps a shown path (beginning with kShownRoot) to the path to open.
std::string real_path(const std::string &shown);

#endif
