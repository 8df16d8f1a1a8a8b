// Opening a file for reading without ever waiting on it.
//
// Opening a FIFO waits for a writer, and reading a device may never end, so
// every file the programs read is opened without blocking and kept only
// when it is a regular file; reads then wait for the disk as usual.
#ifndef KARVEL_REGULAR_FILE_H
#define KARVEL_REGULAR_FILE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

// Opens path for reading. Returns the descriptor, with *st filled in; or -1
// with *problem set: kNotRegularFile for anything but a regular file, else
// the system's message (errno is then left as the failed call set it).
int open_regular(const std::string &path, struct stat *st, std::string *problem);

extern const char kNotRegularFile[];

// Reads up to n bytes, as many as the file holds, retrying interrupted
// reads. Returns the bytes read, or -1 with errno set.
ssize_t read_fully(int fd, void *buf, size_t n);

// What read_bounded() found.
struct BoundedRead {
    std::string problem;  // empty when read; kNotRegularFile; or the system's message
    long long size = 0;   // the file's size when it was opened
    bool beyond = false;  // it holds more than the limit: as read, or by its size when not read
};

// Reads the regular file at path, opened as open_regular() opens it, into
// text: all of it, or its first `limit` bytes when it holds more. A file
// larger than the limit when opened is read only for its `prefix`; else
// text stays empty.
BoundedRead read_bounded(const std::string &path, size_t limit, std::string &text, bool prefix);

#endif
