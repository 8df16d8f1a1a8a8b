#include "paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>

const char kShownRoot[] = "c:\\images\\";

namespace {
std::string dir;
}

bool set_images_dir(const std::string &configured, std::string &message) {
    if (configured.empty() || configured[0] != '~') {
        dir = configured;
        return true;
    }
    struct passwd *pw = getpwuid(getuid());
    if (pw == nullptr || pw->pw_dir == nullptr || pw->pw_dir[0] == '\0') {
        message = "The user running karvel has no home directory in the user database, so the images directory " +
                  configured + " does not exist";
        return false;
    }
    dir = std::string(pw->pw_dir) + configured.substr(1);
    return true;
}

const std::string &images_dir() { return dir; }

std::string real_path(const std::string &shown) {
    size_t root_len = std::strlen(kShownRoot);
    std::string rest = shown.compare(0, root_len, kShownRoot) == 0 ? shown.substr(root_len) : shown;
    for (char &c : rest)
        if (c == '\\') c = '/';
    std::string result = dir;
    if (result.empty() || result.back() != '/') result += '/';
    return result + rest;
}
