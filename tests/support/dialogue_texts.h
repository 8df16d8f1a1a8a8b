// The console texts of the set-up dialogue, written out for comparison.
#ifndef KARVEL_TESTS_DIALOGUE_TEXTS_H
#define KARVEL_TESTS_DIALOGUE_TEXTS_H

#include <string>

inline const std::string kBannerText =
    "\n\n\t**************************************************************"
    "\n\t*                                                            *"
    "\n\t*                           KARVEL                           *"
    "\n\t*                                                            *"
    "\n\t*                Calculation using two images                *"
    "\n\t*                                                            *"
    "\n\t*                                                            *"
    "\n\t*                                                            *"
    "\n\t*                                        (September 2014)    *"
    "\n\t*                                                            *"
    "\n\t**************************************************************"
    "\n\n\n\tThis program devoted to DEM (16 or 32 bits) rms error calculation"
    "\n\tcan be eventually applied to morphometric variables (8 bits image)\n";
inline const std::string kFolderPrompt = "\n\tName of the File Folder located in the Directory c:\\images\\ ? ";
inline const std::string kTypeMenu =
    "\n\tType of data :\n\t\t0 ====> Digital Elevation Model [DEM]\n\t\t1 ====> 8 bits Image\n\t\t";
inline const std::string kFirstDem = "\n\n\tName of the first DTM File (without any extension _m2.raw or _m4.raw) ? ";
inline const std::string kSecondDem = "\n\n\tName of the second DTM File (without any extension _m2.raw or _m4.raw) ? ";
inline const std::string kWidthMenu = "\n\ttype of DEM :\n\t\t0 ====> 16 bits\n\t\t1 ====> 32 bits\n\t\t";
inline const std::string kFirstImage = "\n\n\tName of the first 8 bits image (without any extension) ? ";
inline const std::string kSecondImage = "\n\n\tName of the second 8 bits image (without any extension) ? ";
inline const std::string kResultPrompt =
    "\n\n\n\tThe results will be registered in a txt File : \n\tName of this File (without any extension) ? ";
inline const std::string kUnitQuestion =
    "\n\tAre these values :\n\t\t0 ====> in meters\n\t\t1 ====> in decimeters"
    "\n\t\t2 ====> in centimeters\n\t\t3 ====> in millimeters\n\t\t";
inline const std::string kLinesPrompt = "\n\t\tNumber of lines   ? ";
inline const std::string kColumnsPrompt = "\n\t\tNumber of columns ? ";
inline const std::string kPixelPrompt = "\n\t\tPixel size ? ";

inline std::string size_text(int lines, int cols) {
    return "\n\n\tTHE TWO FILES HAVE :  \n\t            " + std::to_string(lines) + " LINES\n\t        AND " +
           std::to_string(cols) + " COLUMNS";
}

inline std::string range_text(const std::string &heading, int mn, int mx) {
    return heading + "\n\t\tMin = " + std::to_string(mn) + " \n\t\tMax = " + std::to_string(mx) + " \n";
}

#endif
