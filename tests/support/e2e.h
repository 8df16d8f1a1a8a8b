// End-to-end harness: runs the program built with its images directory in
// the build tree, with scripted answers on standard input and no controlling
// terminal, and hands back what it printed and wrote.
#ifndef KARVEL_TESTS_E2E_H
#define KARVEL_TESTS_E2E_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct RunResult {
    std::string out;  // standard output
    std::string err;  // standard error
    int status = -1;  // exit status, or -1 when the program did not exit normally
};

// A fresh folder under the images directory, removed with its files when
// the test ends.
class Folder {
public:
    Folder();
    ~Folder();
    const std::string &name() const { return name_; }  // the answer to the folder question
    std::string path(const std::string &file) const;   // real path of a file in it
    std::string shown(const std::string &file) const;  // c:\images\<folder>\<file>
    void write(const std::string &file, const std::string &bytes) const;
    std::string read(const std::string &file) const;
    bool exists(const std::string &file) const;

private:
    std::string name_, dir_;
};

// Runs the program with the given answers on standard input. A positive
// memory_limit caps its address space (bytes); a positive file_size_limit
// caps the size of every file it writes (bytes; a write beyond it fails).
RunResult run_karvel(const std::string &answers, uint64_t memory_limit = 0, uint64_t file_size_limit = 0);

// Runs the given binary (by default the one with its images directory in
// the build tree) with standard input read from the file at stdin_path, as
// a user (uid and gid) other than the caller's when uid is not negative.
// Empty when the user uid (and its group) can reach every path with its
// access mode (R_OK, X_OK, ...): a checkout in a private folder keeps other
// users from the binaries. Otherwise which path that user cannot reach.
std::string unreachable_by(int uid, const std::vector<std::pair<std::string, int>> &paths);

RunResult run_karvel_input(const std::string &stdin_path, uint64_t memory_limit = 0, uint64_t file_size_limit = 0,
                           const char *binary = nullptr, int uid = -1);
// Runs any binary with arguments and the given standard input, in the same
// way (no controlling terminal, output captured).
RunResult run_program(const std::string &binary, const std::vector<std::string> &args, const std::string &input,
                      uint64_t memory_limit = 0, uint64_t file_size_limit = 0);

// The two above, with standard input read from the file at stdin_path and
// as a user (uid and gid) other than the caller's when uid is not negative.
RunResult run_program_input(const std::string &binary, const std::vector<std::string> &args,
                            const std::string &stdin_path, uint64_t memory_limit = 0, uint64_t file_size_limit = 0,
                            int uid = -1);

// strace's path when it is installed and may trace a child here (ptrace
// may be forbidden in a container); empty otherwise.
std::string usable_strace();

// Runs the binary with the arguments under strace (usable_strace()),
// killed with SIGKILL as it enters its n-th rename (1, 2, ...), in any of
// its threads. *killed says whether it was: false when it ran to its end,
// having made fewer renames.
RunResult run_killed_at_rename(const std::string &binary, const std::vector<std::string> &args, int n, bool *killed);

// Files by name with their contents.
using FileSet = std::map<std::string, std::string>;

// What a folder holds (`state`) after the binary, run with the arguments,
// is killed at its n-th rename, for n = first, first + 1, ... until a run
// is not killed: that run must succeed, and its state goes to *done (left
// empty otherwise). `restore` puts the folder back before each run.
std::vector<FileSet> killed_at_each_rename(const std::string &binary, const std::vector<std::string> &args, int first,
                                           const std::function<void()> &restore, const std::function<FileSet()> &state,
                                           FileSet *done);

// Checks the states killed_at_each_rename gave for a result set committed
// under `manifest`, written by `program`: each is the earlier set, the new
// one (`replaced`, but for the files `dated`, whose bytes hold the time of
// the run: new, never the earlier ones), or a torn set whose manifest names
// the program and the file `listed`. Returns how many were torn.
int torn_or_whole(const std::vector<FileSet> &states, const FileSet &earlier, const FileSet &replaced,
                  const std::string &manifest, const std::string &program, const std::vector<std::string> &dated,
                  const std::string &listed);

// The files of one result set in folder f, with their contents: those of
// `names` that exist, and every file of its folder `sub`.
FileSet result_set_files(const Folder &f, const std::vector<std::string> &names, const std::string &sub);

// Puts the result set of `names` and `sub` in folder f back to `set` exactly.
void restore_result_set(const Folder &f, const std::vector<std::string> &names, const std::string &sub,
                        const FileSet &set);

// The renames the binary makes when run with the arguments under strace,
// in order, as strace shows them (one a line, with the paths).
std::vector<std::string> renames_of(const std::string &binary, const std::vector<std::string> &args);

// Description file text as the program writes it (CR LF line ends).
std::string description(int lines, int cols, int bytes, int pix = 1);

// A 2 x 3 pair of 16-bit DEMs a and b with their descriptions.
void dem_pair16(const Folder &f);

// Forks a child that runs binary with the pseudo-terminal `slave` as its
// controlling terminal and its output, and standard input from stdin_fd.
// In the background it runs in a process group of its own, which is not the
// terminal's foreground; the child then ends as the program did.
int spawn_on_terminal(const char *binary, int stdin_fd, int slave, int master, bool background = false);

// Little-endian sample bytes.
std::string bytes16(const std::vector<int> &values);
std::string bytes32(const std::vector<int> &values);
std::string bytes8(const std::vector<int> &values);

// Stores "\n" as CR LF, as the program's text files do.
std::string crlf(const std::string &text);

#endif
