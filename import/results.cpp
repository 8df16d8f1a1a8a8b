#include "results.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "regular_file.h"
#include "summary_text.h"

namespace {

// The rasters a summary names lie in its first lines.
constexpr size_t kSummaryHead = 64 * 1024;

struct Named {
    std::string result;  // the result's name
    std::string summary; // its summary, as karvel shows it
    std::string raster;  // the raster it names, as karvel shows it
};

// The same file, when both exist.
bool same_file(const std::string &p, const std::string &q) {
    struct stat sp, sq;
    return stat(p.c_str(), &sp) == 0 && stat(q.c_str(), &sq) == 0 && sp.st_dev == sq.st_dev && sp.st_ino == sq.st_ino;
}

// The summaries in dir other than that of `result`, by name.
std::vector<std::string> other_summaries(const std::string &dir, const std::string &result) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() > std::strlen(kSummarySuffix) && name.ends_with(kSummarySuffix) && name != result + kSummarySuffix)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

void keep_other_results(const Input &a, const Input &b, const ImportOptions &o, const ImagesDir &images,
                        const std::string &dir, std::vector<std::string> *notes) {
    const std::string folder = shown_folder(o.folder);
    std::vector<Named> found;
    for (const std::string &summary : other_summaries(dir, o.result)) {
        std::string text, paths[2];
        if (!read_bounded(dir + "/" + summary, kSummaryHead, text, true).problem.empty()) continue;
        size_t pos = 0;
        if (!summary_text::raster_paths(summary_text::without_cr(text), &pos, paths[0], paths[1]).empty()) continue;
        for (const Input *in : {&a, &b})
            for (const std::string &shown : paths)
                if (same_file(images.real_path(shown), dir + "/" + in->name + raster_suffix(in->plan.kind)))
                    found.push_back(Named{summary.substr(0, summary.size() - std::strlen(kSummarySuffix)),
                                          folder + summary, shown});
    }
    if (found.empty()) return;
    const Named &n = found.front();
    if (!o.replace)
        throw Refusal{"the raster " + printable(n.raster) + " would be replaced, which the result \"" + printable(n.result) +
                      "\" compares (its summary " + printable(n.summary) +
                      " names it), so that it could no longer be reported on; give the rasters other names "
                      "(--names A B), import into another FOLDER, or give --replace to replace it all the same"};
    if (notes == nullptr) return;
    for (const Named &r : found)
        notes->push_back("The raster " + printable(r.raster) + ", which the result \"" + printable(r.result) +
                         "\" compared, was replaced (--replace): that result no longer matches its rasters.");
}
