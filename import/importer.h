// karvel-import as a whole: reads the command line, checks both inputs,
// writes the pair into the images directory and reports what it wrote.
#ifndef KARVEL_IMPORT_IMPORTER_H
#define KARVEL_IMPORT_IMPORTER_H

#include <string>

struct ImportSetting {
    std::string program;         // the program's name, for messages and the usage text
    std::string images_root;     // the configured images directory ("~" for the home directory)
    std::string karvel_program;  // the karvel binary named in the command it prints
    std::string report_program;  // the karvel-report binary named in the command it prints
};

// Runs the command on argc arguments (without the program name); the table
// and the command lines go to standard output, refusals and progress to
// standard error. Returns the exit status: 0 written, 1 refused, 2 usage error.
int run_import(int argc, const char *const *argv, const ImportSetting &setting);

#endif
