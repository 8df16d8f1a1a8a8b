// Text files as the run writes and reads them.
//
// Written files are created empty (an existing one is replaced) and every
// "\n" is stored as CR LF; every other byte is stored unchanged. Every write
// and the close are checked, so a full disk never goes unnoticed.
// Read files drop every CR and end at the first byte 26.
#ifndef KARVEL_TEXTFILE_H
#define KARVEL_TEXTFILE_H

#include <cstdio>
#include <string>

struct TextFile {
    FILE *fp = nullptr;
    std::string shown;  // the path as the user sees it
    int err = 0;        // errno of the first failed write or close; 0 while all is well
};

// Creates the file at real_path for writing. Returns false (with f.err set)
// when it cannot be created; nothing may then be written through f.
bool text_create(TextFile &f, const std::string &real_path, const std::string &shown);

// Writes s, storing each "\n" as CR LF. Does nothing on a file that is not open.
void text_write(TextFile &f, const std::string &s);

// Flushes and closes the file. Returns true when every write and the close
// succeeded. A file that is not open is left alone.
bool text_close(TextFile &f);

// Reads a whole file in text mode. Returns false with *err set when it
// cannot be read.
bool text_read(const std::string &real_path, std::string &content, int *err);

#endif
