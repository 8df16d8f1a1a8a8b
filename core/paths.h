// Paths: what the user sees and what is opened.
//
// Every path is shown and recorded in its drive-letter form under the fixed
// root c:\images\ (c:\images\dem\a_m2.raw). The file actually opened is this
// installation's images directory followed by the rest of that path, every
// backslash becoming a slash.
#ifndef KARVEL_PATHS_H
#define KARVEL_PATHS_H

#include <cstddef>
#include <string>

// The root as the user sees it, with its final backslash.
extern const char kShownRoot[];

// The longest answers and paths the dialogue takes, in characters: a folder
// answer, a raster or result name, and a whole path.
constexpr size_t kMaxFolder = 127;
constexpr size_t kMaxName = 99;
constexpr size_t kMaxPath = 127;

// Empty when the dialogue takes the word as it stands: not empty, no white
// space, no control byte (below 32, or 127), at most max_len characters.
// Otherwise what is wrong with it ("it holds the control byte \x00").
std::string answer_problem(const std::string &word, size_t max_len);

// The rules for the answers and paths a companion program hands karvel, one
// for each: empty when karvel takes it, else why not, as the rest of a
// sentence that names it ("the folder \"a b\" " + the problem):
//
// a folder answer: one the dialogue takes (answer_problem, at most
// kMaxFolder characters), relative (no leading slash or backslash, no drive
// letter) and, its segments between slashes or backslashes taken lexically
// (".." up one, "." and empty ones in place), never above the images
// directory:
//   "is not an answer karvel's dialogue takes: it holds white space",
//   "is an absolute path; a folder lies within the images directory c:\images\",
//   "leads out of the images directory";
std::string folder_problem(const std::string &folder);
// a raster's name (the base name of its files): one the dialogue takes (at
// most kMaxName characters) and one file name, without a folder: "is not an
// answer karvel's dialogue takes: a name is one file name, without a folder";
std::string name_problem(const std::string &name);
// a whole path as shown (c:\images\dem\a_m4.raw), at most kMaxPath
// characters: "has 130 characters; karvel takes paths of at most 127".
std::string path_problem(const std::string &shown);

// The text with every byte that is not printable ASCII shown as \xHH (and
// a backslash as it stands), fit to be sent to a terminal.
std::string printable(const std::string &text);

// The images directory of a program: the folder that the shown root
// c:\images\ stands for.
struct ImagesDir {
    std::string dir;
    // Maps a shown path (beginning with kShownRoot) to the path to open.
    std::string real_path(const std::string &shown) const;
};

// The images directory from its configured form; a leading "~" stands for
// the home directory of the user running the program, as the system's user
// database gives it. Returns false with a message when it cannot.
bool resolve_images_dir(const std::string &configured, ImagesDir &images, std::string &message);

// The suffixes of a run's three result files: the summary, the per-line
// table and the histogram table.
extern const char kSummarySuffix[], kLineTableSuffix[], kHistogramSuffix[];
// The suffixes of what karvel-import writes of a result beside its
// answers: the co-registration it found, and what produced the pair.
extern const char kCoregSuffix[], kInputsSuffix[];

// The shown path of a folder answer, with its final backslash:
// c:\images\dem\ for the answer dem.
std::string shown_folder(const std::string &folder);

// The GDAL-readable header written beside a raw raster: the raw file's name
// with ".hdr" in place of ".raw" (A_m4.raw: A_m4.hdr), or ".hdr" appended
// to any other name.
std::string header_name(const std::string &raw_name);

#endif
