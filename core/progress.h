// The text progress of GDAL's command-line tools, as GDALTermProgress draws
// it, for the companions to show on standard error (GDALTermProgress itself
// writes on standard output, which they keep for their own text):
//
//   0...10...20...30...40...50...60...70...80...90...100 - done.
//
// "0" at the start, a dot for each 2.5 %, the tens at each 10 %, and
// " - done." and a line end at the whole.
#ifndef KARVEL_PROGRESS_H
#define KARVEL_PROGRESS_H

#include <string>

struct TextProgress {
    int shown = -1;  // steps of 2.5 % drawn so far; -1 before the "0"
};

// The text that draws the progress on from what `p` has drawn to `done`
// (0 to 1; it never goes back), and `p` advanced; empty when nothing is
// to be added.
std::string progress_text(TextProgress &p, double done);

#endif
