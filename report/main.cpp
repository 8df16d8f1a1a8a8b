#include <string>
#include <vector>

#include "report.h"

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return report_main(args, KARVEL_IMAGES_ROOT);
}
