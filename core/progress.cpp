#include "progress.h"

#include <algorithm>

std::string progress_text(TextProgress &p, double done) {
    std::string text;
    if (p.shown < 0) {
        text += '0';
        p.shown = 0;
    }
    const int upto = std::clamp(int(done * 40.0 + 1e-9), 0, 40);
    while (p.shown < upto) {
        p.shown++;
        if (p.shown % 4 == 0)
            text += std::to_string(p.shown / 4 * 10);
        else
            text += '.';
        if (p.shown == 40) text += " - done.\n";
    }
    return text;
}
