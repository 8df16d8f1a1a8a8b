// A binary file written under a temporary name beside its final name (see
// staged.h), in large writes, every one checked.
#ifndef KARVEL_OUTFILE_H
#define KARVEL_OUTFILE_H

#include <cstddef>
#include <string>
#include <vector>

#include "staged.h"

class OutFile {
public:
    OutFile() = default;
    OutFile(const OutFile &) = delete;
    OutFile &operator=(const OutFile &) = delete;
    ~OutFile();

    // Starts the file that will replace final_path. False with err set when
    // its temporary file cannot be created.
    bool begin(const std::string &final_path);
    void write(const void *bytes, size_t n);
    // Writes what is buffered and closes the file, which keeps its temporary
    // name. True when every write and the close succeeded.
    bool finish();
    // Closes and removes the temporary file.
    void discard();

    StagedFile staged;
    int err = 0;  // errno of the first failure; 0 while all is well

private:
    void flush();
    int fd_ = -1;
    std::vector<char> buf_;
};

// Writes bytes as the whole content of a new staged file, which keeps its
// temporary name until it is committed. False with f.err set on failure;
// the temporary file is then removed.
bool write_staged(OutFile &f, const std::string &final_path, const std::string &bytes);

#endif
