#include "importer.h"

#include <cpl_error.h>

#include <cstdio>
#include <string>
#include <vector>

#include "coregister.h"
#include "input.h"
#include "options.h"
#include "output.h"
#include "passes.h"
#include "paths.h"
#include "plan.h"
#include "results.h"
#include "stale.h"
#include "table.h"
#include "warnings.h"

namespace {

int refuse(const ImportSetting &setting, const std::string &message) {
    std::fprintf(stderr, "%s: %s\nNothing was written.\n", setting.program.c_str(), message.c_str());
    return 1;
}

int import_pair(const ImportOptions &o, const ImportSetting &setting) {
    std::string message;
    ImagesDir images;
    if (!resolve_images_dir(setting.images_root, images, message)) throw Refusal{message};
    check_answers(o);

    Input a, b;
    a.role = "FIRST";
    b.role = "SECOND";
    struct Closer {
        Input &a, &b;
        ~Closer() {
            close_source(a.src);
            close_source(b.src);
        }
    } closer{a, b};
    std::vector<std::string> notes;
    Coregistration coreg;
    open_and_align(a, b, o, notes, coreg);
    size_block_cache(a, b);
    plan_outputs(a, b, o, notes);

    const std::string dir = folder_dir(images, o.folder);
    // Before anything is read: the rasters as planned.
    keep_other_results(a, b, o, images, dir, nullptr);
    // Until the files take their names, a refusal takes away what it made.
    FolderUndo undo{make_folder(dir), a, b};
    remove_stale(setting.program, dir);

    PairTally pair;
    const Window w = read_and_write(a, b, o, dir, notes, pair);
    // The reading may have changed a raster's kind, and with it its name.
    keep_other_results(a, b, o, images, dir, &notes);
    const std::vector<std::string> warnings = plausibility_warnings(a, b, pair);
    SideFiles side;
    write_side_files(a, b, w, o, coreg, warnings, dir, side);
    close_source(a.src);
    close_source(b.src);
    // Once a file has taken its name, the folder holds it: it stays.
    undo.keep = true;
    if (!commit_files(a, b, side, o, dir, setting, notes)) return 1;

    print_table(a, b, w, dir, o.folder);
    print_closing(notes, dir, o, setting);
    print_warnings(warnings);
    return 0;
}

}  // namespace

int run_import(int argc, const char *const *argv, const ImportSetting &setting) {
    ImportOptions o;
    const std::optional<int> done = parse_options(argc, argv, setting.program, setting.images_root, o);
    if (done) return *done;
    CPLPushErrorHandler(CPLQuietErrorHandler);
    int status;
    try {
        status = import_pair(o, setting);
    } catch (const Refusal &r) {
        status = refuse(setting, r.message);
    }
    CPLPopErrorHandler();
    std::fflush(stdout);
    return status;
}
