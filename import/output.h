// What the import writes into the folder of the answer: the folder itself,
// created when missing and taken away again by a refusal, and the files
// beside the raw rasters, all staged until they take their names together.
#ifndef KARVEL_IMPORT_OUTPUT_H
#define KARVEL_IMPORT_OUTPUT_H

#include <string>
#include <vector>

#include "coregister.h"
#include "importer.h"
#include "input.h"
#include "options.h"
#include "outfile.h"
#include "paths.h"
#include "textfile.h"
#include "window.h"

// The real path of the folder answer `folder` in the images directory,
// without a final slash.
std::string folder_dir(const ImagesDir &images, const std::string &folder);

// Creates the folder (and the images directory) when missing; returns the
// folders it created, deepest last, so that a refusal can take them away.
std::vector<std::string> make_folder(const std::string &real);

// The folders make_folder created: unless kept, they are taken away, once
// the temporary files of the raw rasters are gone from them.
struct FolderUndo {
    std::vector<std::string> made;
    Input &a, &b;
    bool keep = false;
    ~FolderUndo();
};

// The files written beside the raw rasters, each complete under a temporary
// name until they are committed together; whatever is not committed is
// removed.
struct SideFiles {
    OutFile headers[2], sidecars[2], answers, coreg, inputs;
    TextFile descriptions[2];
    SideFiles() = default;
    SideFiles(const SideFiles &) = delete;
    SideFiles &operator=(const SideFiles &) = delete;
    ~SideFiles() {
        text_discard(descriptions[0]);
        text_discard(descriptions[1]);
    }
};

// The header, the unit's side file (DEMs) and the description of each
// raster of the window w, the answers file, R_inputs.json (what produced
// the pair, with the warnings) and, with --coregister, the shift found.
void write_side_files(const Input &a, const Input &b, const Window &w, const ImportOptions &o,
                      const Coregistration &coreg, const std::vector<std::string> &warnings, const std::string &dir,
                      SideFiles &f);

// Gives every file its name as one result set (see result_set.h): the
// rasters and the files beside them, and, without --coregister, the removal
// of a shift found by an earlier import under the same result name (which
// would be read as this pair's; the notes then say so). False, once it has
// said which file could not take its name and which were already replaced,
// when one failed.
bool commit_files(Input &a, Input &b, SideFiles &f, const ImportOptions &o, const std::string &dir,
                  const ImportSetting &setting, std::vector<std::string> &notes);

#endif
