#include "kind.h"

Kind kind_of_answers(int image_type, int width_answer) {
    if (image_type == 1) return Kind::image8;
    return width_answer == 0 ? Kind::dem16 : Kind::dem32;
}

int kind_bytes(Kind k) { return k == Kind::image8 ? 1 : k == Kind::dem16 ? 2 : 4; }

int width_answer(Kind k) { return k == Kind::dem16 ? 0 : 1; }

const char *kind_words(Kind k) {
    switch (k) {
        case Kind::image8: return "8-bit image";
        case Kind::dem16: return "16-bit DEM";
        case Kind::dem32: return "32-bit DEM";
    }
    return "";
}

const char *raster_suffix(Kind k) {
    switch (k) {
        case Kind::image8: return ".raw";
        case Kind::dem16: return "_m2.raw";
        case Kind::dem32: return "_m4.raw";
    }
    return "";
}

const char *description_suffix(Kind k) {
    switch (k) {
        case Kind::image8: return ".txt";
        case Kind::dem16: return "_m2.txt";
        case Kind::dem32: return "_m4.txt";
    }
    return "";
}

bool kind_of_name(const std::string &raster_path, bool image, Kind &k) {
    auto ends = [&](Kind candidate) {
        const std::string suffix = raster_suffix(candidate);
        if (raster_path.size() < suffix.size() ||
            raster_path.compare(raster_path.size() - suffix.size(), suffix.size(), suffix) != 0)
            return false;
        k = candidate;
        return true;
    };
    if (image) return ends(Kind::image8);
    return ends(Kind::dem16) || ends(Kind::dem32);
}
