// The labels of karvel's summary file and of its per-line table: karvel
// writes them and karvel-report finds its figures by them, so both take
// them from here. Each label is the text between the line's opening tabs
// and what follows it (" = %lf" for a figure). Below them, the reading of
// a summary's words by their labels, which the report and karvel-import
// (the rasters a result compares) share.
#ifndef KARVEL_SUMMARY_TEXT_H
#define KARVEL_SUMMARY_TEXT_H

#include <cstddef>
#include <string>

namespace summary_text {

// "\n\n\tTreatment on the image PATH", "\n\tand on the image PATH\n",
// "\n\tThese two images have L lines and C columns \n".
inline constexpr char kFirstRaster[] = "Treatment on the image";
inline constexpr char kSecondRaster[] = "and on the image";
inline constexpr char kSize[] = "These two images have";
inline constexpr char kSizeLines[] = "lines and";
inline constexpr char kSizeColumns[] = "columns";

// The value range headings, each followed by "\n\t\tMin = %d\n\t\tMax = %d"
// and, for a DEM, by the line of its unit.
inline constexpr char kFirstDemRange[] = "Hypsometric scale of the first DEM :";
inline constexpr char kSecondDemRange[] = "Hypsometric scale of the second DEM :";
inline constexpr char kFirstImageRange[] = "Dynamic scale of the first 8 bits image :";
inline constexpr char kSecondImageRange[] = "Dynamic scale of the second 8 bits image :";
inline constexpr char kMin[] = "Min";
inline constexpr char kMax[] = "Max";
// By unit answer: 0 meters, 1 decimeters, 2 centimeters, 3 millimeters.
inline constexpr const char *kUnitLines[4] = {"Scale in meters", "Scale in decimeters", "Scale in centimeters",
                                              "Scale in millimeters"};
inline constexpr char kWholeImage[] = "Treatment applied to the whole image";

// The figures of the summary report, in the order written.
inline constexpr char kLinesLeftOut[] = "Lines left out of the means (not a finite number):";
// Where a raster declares a no-data value: "%s %lld of %lld", the
// positions left out and all positions.
inline constexpr char kPositionsLeftOut[] = "Positions left out (no data in either raster):";
inline constexpr char kRms[] = "RMS_Error";
inline constexpr char kSumX[] = "Sum_X";
inline constexpr char kSumY[] = "Sum_Y";
inline constexpr char kSumXY[] = "Sum_XY";
inline constexpr char kSumX2[] = "Sum_X2";
inline constexpr char kB1[] = "B1";
inline constexpr char kB0[] = "B0";
inline constexpr char kB0Calc[] = "B0_Calc";
inline constexpr char kB1Calc[] = "B1_Calc";

// The first line of the per-line table.
inline constexpr char kLineTableHeader[] = "Line\tSt. Dev.\tSlope\tr\tr2\n";

// The text without its carriage returns: karvel's files end their lines
// with CR LF.
std::string without_cr(const std::string &text);

// The word that follows `label` (after blanks and tabs) in t, searching
// from *pos; moves *pos past it. False when the label is not there or
// nothing follows it on its line.
bool word_after(const std::string &t, const std::string &label, size_t *pos, std::string &word);

// The paths of the two rasters that the summary t (without carriage
// returns) compares, as karvel shows them (c:\images\dem\a_m4.raw), read
// from *pos on; moves *pos past them. Empty, or what is missing.
std::string raster_paths(const std::string &t, size_t *pos, std::string &first, std::string &second);

}  // namespace summary_text

#endif
