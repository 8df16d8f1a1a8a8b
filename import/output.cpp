#include "output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "description.h"
#include "envi.h"
#include "inputs_json.h"
#include "result_set.h"
#include "staged.h"
#include "units.h"

namespace {

// The answers of karvel's whole dialogue for the pair.
std::string answers_text(const Input &a, const Input &b, const ImportOptions &o) {
    std::string t = o.folder + "\n";
    if (a.plan.kind == Kind::image8) return t + "1\n" + a.name + "\n" + b.name + "\n" + o.result + "\n";
    t += "0\n";
    t += a.name + "\n" + std::to_string(width_answer(a.plan.kind)) + "\n";
    t += b.name + "\n" + std::to_string(width_answer(b.plan.kind)) + "\n";
    t += o.result + "\n";
    t += std::to_string(a.plan.answer) + "\n" + std::to_string(b.plan.answer) + "\n";
    return t;
}

}  // namespace

std::string folder_dir(const ImagesDir &images, const std::string &folder) {
    const std::string folder_real = images.real_path(shown_path(folder, ""));
    return folder_real.substr(0, folder_real.size() - 1);
}

std::vector<std::string> make_folder(const std::string &real) {
    namespace fs = std::filesystem;
    std::vector<std::string> made;
    std::error_code ec;
    fs::path p = fs::path(real).lexically_normal();
    std::vector<fs::path> missing;
    for (fs::path q = p; !q.empty() && !fs::exists(q, ec); q = q.parent_path()) {
        missing.push_back(q);
        if (q == q.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (mkdir(it->c_str(), 0777) != 0 && errno != EEXIST)
            throw Refusal{"the folder " + printable(it->string()) + " cannot be created: " + std::strerror(errno)};
        made.push_back(it->string());
    }
    struct stat st;
    if (stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        // The path as the system follows it (a/../b needs a) is no folder:
        // the folders made on the way, lexically, go again.
        for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
        throw Refusal{printable(real) + " is not a folder"};
    }
    return made;
}

FolderUndo::~FolderUndo() {
    if (keep) return;
    a.raw.discard();
    b.raw.discard();
    for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
}

void write_side_files(const Input &a, const Input &b, const Window &w, const ImportOptions &o,
                      const Coregistration &coreg, const std::vector<std::string> &warnings, const std::string &dir,
                      SideFiles &f) {
    for (int k = 0; k < 2; k++) {
        const Input &in = k == 0 ? a : b;
        const std::string raw_name = in.name + raster_suffix(in.plan.kind);
        double gt[6];
        std::memcpy(gt, in.src.gt, sizeof gt);
        gt[0] = in.src.gt[0] + w.col * in.src.gt[1] + w.line * in.src.gt[2];
        gt[3] = in.src.gt[3] + w.col * in.src.gt[4] + w.line * in.src.gt[5];
        const std::string header = envi_header(in.name, w.lines, w.cols, in.plan.kind, in.src.has_grid ? gt : nullptr,
                                               in.src.wkt, in.plan.nodata);
        if (!write_staged(f.headers[k], dir + "/" + header_name(raw_name), header))
            throw Refusal{"the file " + printable(dir + "/" + header_name(raw_name)) +
                          " cannot be written: " + std::strerror(f.headers[k].err)};
        if (in.plan.kind != Kind::image8) {
            const std::string side = dir + "/" + unit_sidecar_name(raw_name);
            if (!write_staged(f.sidecars[k], side, unit_sidecar(unit_word(in.plan.answer))))
                throw Refusal{"the file " + printable(side) +
                              " cannot be written: " + std::strerror(f.sidecars[k].err)};
        }
        const int values[6] = {w.lines,      w.cols,       kind_bytes(in.plan.kind),
                               in.tally.min, in.tally.max, ground_cell_size(in.src, gt, w.lines, w.cols)};
        const std::string descr_name = in.name + description_suffix(in.plan.kind);
        TextFile &d = f.descriptions[k];
        bool ok = text_create(d, dir + "/" + descr_name, shown_path(o.folder, descr_name));
        if (ok) {
            text_write(d, description_text(values));
            ok = text_finish(d);
        }
        if (!ok) {
            const int err = d.err;
            text_discard(d);
            throw Refusal{"the file " + printable(dir + "/" + descr_name) +
                          " cannot be written: " + std::strerror(err)};
        }
    }
    const std::string answers_path = dir + "/" + o.result + ".answers";
    if (!write_staged(f.answers, answers_path, answers_text(a, b, o)))
        throw Refusal{"the file " + printable(answers_path) + " cannot be written: " + std::strerror(f.answers.err)};
    const std::string inputs_path = dir + "/" + o.result + kInputsSuffix;
    if (!write_staged(f.inputs, inputs_path, inputs_json(a, b, o, warnings)))
        throw Refusal{"the file " + printable(inputs_path) + " cannot be written: " + std::strerror(f.inputs.err)};
    const std::string coreg_path = dir + "/" + o.result + kCoregSuffix;
    if (o.coregister && !write_staged(f.coreg, coreg_path, coregistration_json(coreg, o.remove_bias)))
        throw Refusal{"the file " + printable(coreg_path) + " cannot be written: " + std::strerror(f.coreg.err)};
}

bool commit_files(Input &a, Input &b, SideFiles &f, const ImportOptions &o, const std::string &dir,
                  const ImportSetting &setting, std::vector<std::string> &notes) {
    ResultSet set(dir, import_manifest_name(o.result), setting.program, o.result);
    for (int k = 0; k < 2; k++) {
        set.add(k == 0 ? a.raw.staged : b.raw.staged, false);
        set.add(f.headers[k].staged, true);
        if (!f.sidecars[k].staged.temp_path.empty()) set.add(f.sidecars[k].staged, true);
        set.add(f.descriptions[k].staged, true);
    }
    set.add(f.answers.staged, true);
    set.add(f.inputs.staged, true);
    // Without --coregister, a shift found by an earlier import under the
    // same result name would be read as this pair's: it goes in the commit.
    const std::string earlier = dir + "/" + o.result + kCoregSuffix;
    struct stat st;
    const bool had_coreg = !o.coregister && lstat(earlier.c_str(), &st) == 0;
    if (o.coregister)
        set.add(f.coreg.staged, true);
    else
        set.remove(o.result + kCoregSuffix);
    ResultSet::Failure failure;
    if (set.commit(&failure)) {
        if (had_coreg) notes.push_back("The co-registration of an earlier import, " + printable(earlier) + ", was removed.");
        return true;
    }
    std::string done;
    for (const std::string &p : failure.replaced) done += ' ' + printable(p);
    std::fprintf(stderr, "%s: the file %s cannot take its name: %s\n", setting.program.c_str(),
                 printable(failure.path).c_str(), std::strerror(failure.err));
    if (!done.empty()) std::fprintf(stderr, "Already replaced:%s\n", done.c_str());
    return false;
}
