// Obtaining the description of a raster in the dialogue.
#ifndef KARVEL_DESCRIBE_H
#define KARVEL_DESCRIBE_H

#include <string>

#include "textfile.h"

// Reads the description of a raster when its file exists, otherwise asks
// for the size and creates the file (complete on disk before this returns).
// Sets lines, cols and the shared pixel size. sample_bytes is what a
// created file records in field 3. A description that cannot be read or
// created, or that is not usable, stops the run.
void obtain_description(const std::string &shown_path, TextFile &handle, int &lines, int &cols, int sample_bytes);

#endif
