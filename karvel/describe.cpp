// Obtaining the description of a raster in the dialogue: read from its
// file, or asked for and created.
#include "describe.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "console.h"
#include "description.h"
#include "dialogue.h"
#include "numfmt.h"
#include "run.h"
#include "state.h"

namespace {

[[noreturn]] void refuse(const std::string &shown_path, const std::string &problem) {
    stop_run(kfmt("\n\n\tThe description file %s cannot be used: %s\n", shown_path.c_str(), problem.c_str()));
}

}  // namespace

void obtain_description(const std::string &shown_path, TextFile &handle, int &lines, int &cols, int sample_bytes) {
    const std::string real = images.real_path(shown_path);
    struct stat st;
    if (stat(real.c_str(), &st) == 0) {
        int values[6] = {0, 0, 0, 0, 0, 0};
        const std::string problem = read_description(real, values);
        if (!problem.empty()) refuse(shown_path, problem);
        lines = values[0];
        cols = values[1];
        taille_pix = values[5];
        return;
    }
    const int stat_err = errno;
    // A link that leads to no file is the user's: it is neither followed to
    // create a file nor replaced.
    if (lstat(real.c_str(), &st) == 0)
        stop_run(
            kfmt("\n\n\tThe description file %s cannot be written: it is a symbolic link that leads to no file "
                 "(%s)\n",
                 shown_path.c_str(), std::strerror(stat_err)));
    if (stat_err != ENOENT) refuse(shown_path, kfmt("it cannot be read (%s)", std::strerror(stat_err)));

    out(kfmt("\n\n\tNo File %s \n\n", shown_path.c_str()));
    ask_choice("\n\t\tNumber of lines   ? ", lines, 1, 2147483647);
    ask_choice("\n\t\tNumber of columns ? ", cols, 1, 2147483647);
    ask_choice("\n\t\tPixel size ? ", taille_pix, -2147483647 - 1, 2147483647);
    const std::string problem = size_problem(lines, cols);
    if (!problem.empty())
        stop_run(kfmt("\n\n\tThe size typed for the new description file %s cannot be used: %s\n", shown_path.c_str(),
                      problem.c_str()));

    const int values[6] = {lines, cols, sample_bytes, 0, 65500, taille_pix};
    // Written whole under a temporary name: a description cut short would be
    // read by the next run, and only what this run created is ever removed.
    bool written = text_create(handle, real, shown_path);
    if (written) {
        text_write(handle, description_text(values));
        written = text_close(handle);
    }
    if (!written)
        stop_run(kfmt("\n\n\tThe description file %s cannot be written: %s\n", shown_path.c_str(),
                      std::strerror(handle.err)));
}
