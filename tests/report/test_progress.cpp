// The text progress the companions show on a terminal, against the text of
// GDAL's own GDALTermProgress.
#include <cpl_progress.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "progress.h"

namespace {

// What GDALTermProgress writes on standard output over `lines` steps (after
// the call at 0 that starts it again: it keeps its state in statics).
std::string gdal_term_progress(int lines) {
    std::fflush(stdout);
    const int saved = dup(1);
    FILE *tmp = std::tmpfile();
    dup2(fileno(tmp), 1);
    GDALTermProgress(0.0, nullptr, nullptr);
    for (int i = 0; i < lines; i++) GDALTermProgress(double(i + 1) / lines, nullptr, nullptr);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    std::rewind(tmp);
    for (int c; (c = std::fgetc(tmp)) != EOF;) text += char(c);
    std::fclose(tmp);
    return text;
}

}  // namespace

TEST(Progress, DrawsWhatGdalTermProgressDraws) {
    const std::string gdal = "0...10...20...30...40...50...60...70...80...90...100 - done.\n";
    // Line by line over 1000 lines, over 7 lines, and in one step.
    for (int lines : {1000, 7, 1}) {
        TextProgress p;
        std::string text;
        for (int i = 0; i < lines; i++) text += progress_text(p, double(i + 1) / lines);
        EXPECT_EQ(text, gdal) << lines;
        EXPECT_EQ(text, gdal_term_progress(lines)) << lines;
        EXPECT_EQ(progress_text(p, 1.0), "");  // nothing more once done
    }
    TextProgress p;
    EXPECT_EQ(progress_text(p, 0.0), "0");
    EXPECT_EQ(progress_text(p, 0.0), "");
    EXPECT_EQ(progress_text(p, 0.125), "...10.");
    EXPECT_EQ(progress_text(p, 0.1), "");  // it never goes back
}
