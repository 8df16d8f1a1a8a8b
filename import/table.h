// What the import prints on standard output once the files have their
// names: a table of the two rasters written, the notes gathered on the way,
// and the commands that compare and report them.
#ifndef KARVEL_IMPORT_TABLE_H
#define KARVEL_IMPORT_TABLE_H

#include <string>
#include <vector>

#include "importer.h"
#include "input.h"
#include "options.h"
#include "numfmt.h"
#include "window.h"

// s as one word of a POSIX shell's command line: as it is when the shell
// leaves it so, else in single quotes.
std::string shell_word(const std::string &s);

// The report of what was written into the folder folder_real (the folder
// answer `folder`), one row per raster of the window w.
void print_table(const Input &a, const Input &b, const Window &w, const std::string &folder_real,
                 const std::string &folder);

// The notes, then the command that runs karvel on the answers written into
// the folder dir, and the command that reports karvel's comparison.
void print_closing(const std::vector<std::string> &notes, const std::string &dir, const ImportOptions &o,
                   const ImportSetting &setting);

#endif
