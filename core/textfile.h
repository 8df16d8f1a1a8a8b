// Text files as the run writes and reads them.
//
// Written files are staged: they are written under a temporary name beside
// their final name and take that name only once complete (see staged.h), so
// an earlier file of that name stays as it was until then. Every "\n" is
// stored as CR LF; every other byte is stored unchanged. Every write and the
// close are checked, so a full disk never goes unnoticed.
// Read files drop every CR and end at the first byte 26.
#ifndef KARVEL_TEXTFILE_H
#define KARVEL_TEXTFILE_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "staged.h"

struct TextFile {
    FILE *fp = nullptr;
    std::string shown;  // the path as the user sees it
    int err = 0;        // errno of the first failed write or close; 0 while all is well
    StagedFile staged;  // the temporary file while it is being written
};

// Text as a text file stores it: every "\n" becomes CR LF.
std::string crlf_text(const std::string &text);

// Bytes read from a text file as text: every CR dropped, and nothing from
// the first byte 26 on. *ended (when given) tells whether a byte 26 came.
std::string text_from_bytes(const char *bytes, size_t n, bool *ended = nullptr);

// Starts the file that will replace real_path. Returns false (with f.err
// set) when it cannot be created; nothing may then be written through f.
bool text_create(TextFile &f, const std::string &real_path, const std::string &shown);

// Writes s, storing each "\n" as CR LF. Does nothing on a file that is not open.
void text_write(TextFile &f, const std::string &s);

// Flushes and closes the stream; the file keeps its temporary name. Returns
// true when every write and the close succeeded. A file that is not open is
// left alone.
bool text_finish(TextFile &f);

// Gives a finished file its name. Returns false (with f.err set) when it
// cannot; its temporary file is then gone.
bool text_commit(TextFile &f);

// Finishes the file and gives it its name when all went well; otherwise
// removes it. Returns true when the file is complete under its name.
bool text_close(TextFile &f);

// Closes the stream, if open, and removes the temporary file.
void text_discard(TextFile &f);

// Reads a whole file in text mode. Returns false with *err set when it
// cannot be read.
bool text_read(const std::string &real_path, std::string &content, int *err);

#endif
