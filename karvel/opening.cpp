// The set-up phase: banner, dialogue, paths, raster descriptions, size check
// and the result files.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "console.h"
#include "describe.h"
#include "envi_header.h"
#include "dialogue.h"
#include "numfmt.h"
#include "paths.h"
#include "run.h"
#include "state.h"
#include "summary_text.h"

namespace {

const char *const kBanner[] = {
    "\n\n\t**************************************************************",
    "\n\t*                                                            *",
    "\n\t*                           KARVEL                           *",
    "\n\t*                                                            *",
    "\n\t*                Calculation using two images                *",
    "\n\t*                                                            *",
    "\n\t*                                                            *",
    "\n\t*                                                            *",
    "\n\t*                                        (September 2014)    *",
    "\n\t*                                                            *",
    "\n\t**************************************************************",
    "\n\n\n\tThis program devoted to DEM (16 or 32 bits) rms error calculation",
    "\n\tcan be eventually applied to morphometric variables (8 bits image)\n",
};

const char kWidthMenu[] = "\n\ttype of DEM :\n\t\t0 ====> 16 bits\n\t\t1 ====> 32 bits\n\t\t";

// The folder part of a shown path, with its final backslash.
std::string folder_of(const std::string &shown) { return shown.substr(0, shown.rfind('\\') + 1); }

// Opens a raster for reading its bytes without ever blocking: anything but
// a regular file counts as missing. On failure *why receives one line that
// says why, or stays empty when the file is simply not there.
bool open_raster(RasterFile &f, const std::string &shown, std::string *why) {
    why->clear();
    const std::string problem = raster_open(f, images.real_path(shown), shown);
    if (problem.empty()) return true;
    const int err = errno;
    struct stat st;
    if (problem == kNotRegularFile) {
        *why = "\tIt exists but is not a regular file\n";
    } else if (err != ENOENT) {
        *why = kfmt("\tIt exists but cannot be read: %s\n", problem.c_str());
    } else if (stat(images.dir.c_str(), &st) != 0) {
        *why = kfmt("\tThe images directory %s, which stands for %s, does not exist: create it (mkdir -p %s) "
                    "or build karvel with another (cmake -DKARVEL_IMAGES_ROOT=DIR)\n",
                    images.dir.c_str(), kShownRoot, images.dir.c_str());
    } else if (stat(images.real_path(folder_of(shown)).c_str(), &st) != 0) {
        *why = kfmt("\tThe folder %s (%s) does not exist\n", folder_of(shown).c_str(),
                    images.real_path(folder_of(shown)).c_str());
    }
    return false;
}

// The shown path of a raster in the folder and, in descr, of its description.
std::string name_with_suffixes(const std::string &folder, const std::string &name, int width_answer,
                               std::string &descr) {
    const Kind kind = raster_kind(width_answer);
    descr = folder + name + description_suffix(kind);
    const std::string raster = folder + name + raster_suffix(kind);
    check_path_length(raster);
    return raster;
}

// Refuses a result path that would replace a file this run reads: the same
// file where both exist, the same path otherwise.
void refuse_inputs(const std::string &result, const std::string *const inputs, size_t n) {
    const std::string real = images.real_path(result);
    struct stat rs;
    const bool result_exists = stat(real.c_str(), &rs) == 0;
    if (result_exists && !S_ISREG(rs.st_mode) && !S_ISDIR(rs.st_mode))
        stop_run(kfmt("\n\n\tThe result file %s cannot be created: it is not a regular file\n", result.c_str()));
    for (size_t i = 0; i < n; i++) {
        struct stat is;
        const std::string input = images.real_path(inputs[i]);
        const bool same = result_exists && stat(input.c_str(), &is) == 0
                              ? rs.st_dev == is.st_dev && rs.st_ino == is.st_ino
                              : real == input;
        if (same)
            stop_run(kfmt("\n\n\tThe result file %s would replace %s, which this run reads\n", result.c_str(),
                          inputs[i].c_str()));
    }
}

void create_result(TextFile &f, const std::string &shown) {
    if (text_create(f, images.real_path(shown), shown)) return;
    fail_run(kfmt("\n\n\tThe result file %s cannot be created: %s\n", shown.c_str(), std::strerror(f.err)));
}

// Asks the names of the two rasters (and for DEMs the width of each) and
// sets their shown paths and those of their descriptions.
void ask_rasters(const std::string &folder, std::string &nomdescr1, std::string &nomdescr3) {
    if (image_type == 0) {
        std::string name1 = ask_name(
            "\n\n\tName of the first DTM File (without any extension _m2.raw or _m4.raw) ? ", kMaxName, "name");
        ask_choice(kWidthMenu, itype, -2147483647 - 1, 2147483647);
        itype1 = itype;
        nomim1 = name_with_suffixes(folder, name1, itype1, nomdescr1);
        std::string name3 = ask_name(
            "\n\n\tName of the second DTM File (without any extension _m2.raw or _m4.raw) ? ", kMaxName, "name");
        ask_choice(kWidthMenu, itype, -2147483647 - 1, 2147483647);
        itype3 = itype;
        nomim3 = name_with_suffixes(folder, name3, itype3, nomdescr3);
    } else {
        std::string name1 = ask_name("\n\n\tName of the first 8 bits image (without any extension) ? ", kMaxName, "name");
        nomim1 = name_with_suffixes(folder, name1, 0, nomdescr1);
        std::string name3 = ask_name("\n\n\tName of the second 8 bits image (without any extension) ? ", kMaxName, "name");
        nomim3 = name_with_suffixes(folder, name3, 0, nomdescr3);
    }
}

// Reads the ENVI header beside a raster, when there is one, for the no-data
// value it may declare; stops the run when it cannot be read or disagrees
// with the raster's description.
void read_header(const std::string &raster, const std::string &descr, int width_answer, NoData &nd) {
    const std::string shown = header_name(raster);
    std::string why;
    switch (read_header_nodata(images.real_path(shown), nb_lig, nb_col, raster_kind(width_answer), nd, why)) {
        case HeaderUse::fine: return;
        case HeaderUse::disagrees:
            stop_run(kfmt("\n\n\tThe header %s does not agree with the description file %s: %s\n", shown.c_str(),
                          descr.c_str(), why.c_str()));
        case HeaderUse::unusable:
            stop_run(kfmt("\n\n\tThe header %s cannot be used: %s\n", shown.c_str(), why.c_str()));
    }
}

// Opens both rasters and obtains their descriptions; stops the run when
// either is missing or their sizes differ.
void open_rasters(const std::string &nomdescr1, const std::string &nomdescr3) {
    std::string why;
    if (!open_raster(f1, nomim1, &why)) stop_run(kfmt("\n\n\tNo File %s inexistant\n", nomim1.c_str()) + why);
    obtain_description(nomdescr1, f1d, nb_lig, nb_col, kind_bytes(raster_kind(itype1)));

    if (!open_raster(f3, nomim3, &why)) stop_run(kfmt("\n\n\tNo File %s \n", nomim3.c_str()) + why);
    int nb_lig3 = 0, nb_col3 = 0;
    obtain_description(nomdescr3, f3d, nb_lig3, nb_col3, kind_bytes(raster_kind(itype3)));

    if (nb_lig != nb_lig3 || nb_col != nb_col3) stop_run("\n The two files have not the same size");
    read_header(nomim1, nomdescr1, itype1, nodata[0]);
    read_header(nomim3, nomdescr3, itype3, nodata[1]);
    out("\n\n\tTHE TWO FILES HAVE :  ");
    out(kfmt("\n\t            %d LINES", nb_lig));
    out(kfmt("\n\t        AND %d COLUMNS", nb_col));
}

}  // namespace

void opening() {
    for (const char *line : kBanner) out(line);

    std::string message;
    if (!resolve_images_dir(images_root_setting, images, message)) fail_run("\n\n\t" + message + "\n");

    const std::string nomdir = ask_name(
        kfmt("\n\tName of the File Folder located in the Directory %s ? ", kShownRoot), kMaxFolder, "folder name");
    // The shown path of the folder, with its final backslash: every path of
    // the run lies in it.
    const std::string folder = shown_folder(nomdir);
    check_path_length(folder);

    ask_choice("\n\tType of data :\n\t\t0 ====> Digital Elevation Model [DEM]\n\t\t1 ====> 8 bits Image\n\t\t",
               image_type, 0, 1);

    std::string nomdescr1, nomdescr3;
    ask_rasters(folder, nomdescr1, nomdescr3);
    open_rasters(nomdescr1, nomdescr3);

    out("\n\n\n\tThe results will be registered in a txt File : ");
    const std::string nomfic = ask_name("\n\tName of this File (without any extension) ? ", kMaxName, "name");
    // The three result files: the summary, the per-line table and the
    // histogram table.
    const std::string nomdescr2 = folder + nomfic + kSummarySuffix;
    const std::string nomdescr4 = folder + nomfic + kLineTableSuffix;
    const std::string nomdescr5 = folder + nomfic + kHistogramSuffix;
    check_path_length(nomdescr2);
    check_path_length(nomdescr4);
    check_path_length(nomdescr5);
    name_results(nomdescr2, nomdescr4, nomdescr5);
    const std::string inputs[] = {nomim1, nomim3, nomdescr1, nomdescr3};
    for (const std::string *result : {&nomdescr2, &nomdescr4, &nomdescr5}) refuse_inputs(*result, inputs, 4);

    create_result(f2d, nomdescr2);
    create_result(f4d, nomdescr4);
    create_result(f5d, nomdescr5);

    using namespace summary_text;
    text_write(f2d, kfmt("\n\n\t%s %s", kFirstRaster, nomim1.c_str()));
    text_write(f2d, kfmt("\n\t%s %s\n", kSecondRaster, nomim3.c_str()));
    text_write(f2d, kfmt("\n\t%s %d %s %d %s \n", kSize, nb_lig, kSizeLines, nb_col, kSizeColumns));
}
