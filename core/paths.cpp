#include "paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

const char kShownRoot[] = "c:\\images\\";
const char kSummarySuffix[] = "_karvel.txt";
const char kCoregSuffix[] = "_coreg.json";
const char kInputsSuffix[] = "_inputs.json";
const char kLineTableSuffix[] = "_karvel.xls";
const char kHistogramSuffix[] = "_karvel_regres_lin.xls";

bool resolve_images_dir(const std::string &configured, ImagesDir &images, std::string &message) {
    if (configured.empty() || configured[0] != '~') {
        images.dir = configured;
        return true;
    }
    struct passwd *pw = getpwuid(getuid());
    if (pw == nullptr || pw->pw_dir == nullptr || pw->pw_dir[0] == '\0') {
        message = "The user running karvel has no home directory in the user database, so the images directory " +
                  configured + " does not exist";
        return false;
    }
    images.dir = std::string(pw->pw_dir) + configured.substr(1);
    return true;
}

std::string shown_folder(const std::string &folder) { return kShownRoot + folder + "\\"; }

std::string ImagesDir::real_path(const std::string &shown) const {
    size_t root_len = std::strlen(kShownRoot);
    std::string rest = shown.compare(0, root_len, kShownRoot) == 0 ? shown.substr(root_len) : shown;
    for (char &c : rest)
        if (c == '\\') c = '/';
    std::string result = dir;
    if (result.empty() || result.back() != '/') result += '/';
    return result + rest;
}

std::string printable(const std::string &text) {
    std::string s;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 32 && u < 127) {
            s += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", unsigned(u));
            s += hex;
        }
    }
    return s;
}

std::string answer_problem(const std::string &word, size_t max_len) {
    if (word.empty()) return "it is empty";
    for (size_t i = 0; i < word.size(); i++) {
        const unsigned char u = static_cast<unsigned char>(word[i]);
        if (u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\v' || u == '\f') return "it holds white space";
        if (u < 32 || u == 127) {
            char what[96];
            std::snprintf(what, sizeof what, "it holds the control byte \\x%02x at character %zu", unsigned(u), i + 1);
            return what;
        }
    }
    if (word.size() > max_len) {
        char what[96];
        std::snprintf(what, sizeof what, "it has %zu characters; at most %zu are allowed", word.size(), max_len);
        return what;
    }
    return "";
}

std::string header_name(const std::string &raw_name) {
    const std::string ext = ".raw";
    if (raw_name.size() >= ext.size() && raw_name.compare(raw_name.size() - ext.size(), ext.size(), ext) == 0)
        return raw_name.substr(0, raw_name.size() - ext.size()) + ".hdr";
    return raw_name + ".hdr";
}

namespace {
const char kNotAnAnswer[] = "is not an answer karvel's dialogue takes: ";
}

std::string folder_problem(const std::string &folder) {
    const std::string problem = answer_problem(folder, kMaxFolder);
    if (!problem.empty()) return kNotAnAnswer + problem;
    // Joined to the shown root, "/x" would show as c:\images\/x\ and open
    // the folder x of the images directory, never the folder named.
    const bool drive = folder.size() >= 2 && folder[1] == ':' &&
                       ((folder[0] >= 'a' && folder[0] <= 'z') || (folder[0] >= 'A' && folder[0] <= 'Z'));
    if (folder[0] == '/' || folder[0] == '\\' || drive)
        return std::string("is an absolute path; a folder lies within the images directory ") + kShownRoot;
    // Lexically, segment by segment: a ".." goes up one folder, and going
    // above the images directory leads out of it.
    long depth = 0;
    std::string segment;
    for (size_t i = 0; i <= folder.size(); i++) {
        const char c = i < folder.size() ? folder[i] : '\\';
        if (c != '\\' && c != '/') {
            segment += c;
            continue;
        }
        if (segment == "..") depth--;
        else if (!segment.empty() && segment != ".") depth++;
        if (depth < 0) return "leads out of the images directory";
        segment.clear();
    }
    return "";
}

std::string name_problem(const std::string &name) {
    std::string problem = answer_problem(name, kMaxName);
    if (problem.empty() && name.find_first_of("/\\") != std::string::npos)
        problem = "a name is one file name, without a folder";
    return problem.empty() ? problem : kNotAnAnswer + problem;
}

std::string path_problem(const std::string &shown) {
    if (shown.size() <= kMaxPath) return "";
    return "has " + std::to_string(shown.size()) + " characters; karvel takes paths of at most " +
           std::to_string(kMaxPath);
}
