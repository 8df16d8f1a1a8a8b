// The three kinds of raster a comparison takes, and what each kind fixes:
// its bytes per sample, the dialogue's width answer and its file names.
#ifndef KARVEL_KIND_H
#define KARVEL_KIND_H

#include <string>

enum class Kind { image8, dem16, dem32 };

// The kind that the dialogue's answers choose: data type 1 is an 8-bit
// image; for a DEM, width answer 0 is 16 bits and any other 32 bits.
Kind kind_of_answers(int image_type, int width_answer);

// Bytes per sample: 1, 2 or 4.
int kind_bytes(Kind k);

// The dialogue's width answer for a DEM of this kind: 0 for 16 bits, 1 for 32.
int width_answer(Kind k);

// "8-bit image", "16-bit DEM" or "32-bit DEM".
const char *kind_words(Kind k);

// File name endings: ".raw" / ".txt" for images, "_m2.raw" / "_m2.txt" for
// 16-bit and "_m4.raw" / "_m4.txt" for 32-bit DEMs.
const char *raster_suffix(Kind k);
const char *description_suffix(Kind k);

// The kind of a raster from its path's ending, given whether the data are
// images. False when the path ends in no ending of that data type.
bool kind_of_name(const std::string &raster_path, bool image, Kind &k);

#endif
