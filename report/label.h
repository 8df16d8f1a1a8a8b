// The label of a line of the headline figures, as the console and the PDF
// show it: the text, padded (or cut) to the 42 columns before the values.
#ifndef KARVEL_REPORT_LABEL_H
#define KARVEL_REPORT_LABEL_H

#include <string>

inline std::string headline_label(std::string text) {
    text.resize(42, ' ');
    return text + " ";
}

#endif
