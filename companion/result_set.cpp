#include "result_set.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "json.h"
#include "paths.h"
#include "regular_file.h"

namespace {

// The largest manifest read, and the largest file whose bytes go into a
// run's hash.
constexpr size_t kManifestLimit = size_t(1) << 20;
constexpr size_t kHashedLimit = size_t(1) << 26;

// FNV-1a, 64 bits: the same bytes give the same run on every machine.
void fnv1a(uint64_t &h, const std::string &bytes) {
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
}

// A name below the manifest's folder: no absolute path, no way up.
bool safe_name(const std::string &name) {
    if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos) return false;
    size_t b = 0;
    while (b <= name.size()) {
        size_t e = name.find('/', b);
        if (e == std::string::npos) e = name.size();
        const std::string part = name.substr(b, e - b);
        if (part.empty() || part == "." || part == "..") return false;
        b = e + 1;
    }
    return true;
}

}  // namespace

std::string manifest_text(const Manifest &m) {
    Json files = Json::array();
    for (const Manifest::Entry &e : m.files) files.push_back(Json{{"name", e.name}, {"bytes", e.bytes}});
    Json tree = Json::object();
    tree["program"] = m.program;
    tree["result"] = m.result;
    tree["run"] = m.run;
    tree["files"] = files;
    return json_text(tree);
}

std::string parse_manifest(const std::string &text, Manifest &m) {
    m = Manifest{};
    const Json tree = Json::parse(text, nullptr, false);
    if (tree.is_discarded() || !tree.is_object()) return "it is not a JSON object";
    for (const char *key : {"program", "result", "run"})
        if (!tree.contains(key) || !tree[key].is_string()) return std::string("it gives no \"") + key + "\"";
    if (!tree.contains("files") || !tree["files"].is_array()) return "it names no files";
    m.program = tree["program"].get<std::string>();
    m.result = tree["result"].get<std::string>();
    m.run = tree["run"].get<std::string>();
    for (const Json &f : tree["files"]) {
        if (!f.is_object() || !f.contains("name") || !f["name"].is_string() || !f.contains("bytes") ||
            !f["bytes"].is_number_integer() || f["bytes"].get<long long>() < 0)
            return "a file is named without its size";
        Manifest::Entry e{f["name"].get<std::string>(), f["bytes"].get<long long>()};
        if (!safe_name(e.name)) return "it names " + printable(e.name) + ", which lies outside its folder";
        m.files.push_back(e);
    }
    return "";
}

std::string import_manifest_name(const std::string &result) { return result + "_import.manifest"; }

std::string report_manifest_name(const std::string &result) { return result + "_report.manifest"; }

std::string points_manifest_name(const std::string &result) { return result + "_points.manifest"; }

ResultSet::ResultSet(const std::string &dir, const std::string &manifest, const std::string &program,
                     const std::string &result)
    : dir_(dir), manifest_path_(dir + "/" + manifest) {
    m_.program = program;
    m_.result = result;
}

void ResultSet::add(StagedFile &f, bool in_run) {
    files_.push_back(&f);
    in_run_.push_back(in_run);
}

void ResultSet::remove(const std::string &name) {
    removals_.emplace_back();
    staged_removal(removals_.back(), dir_ + "/" + name);
}

std::string ResultSet::name_of(const StagedFile &f) const { return f.final_path.substr(dir_.size() + 1); }

bool ResultSet::commit(Failure *failure) {
    // The manifest: every file with its size, and the run those and the
    // bytes of the small files make.
    uint64_t h = 0xcbf29ce484222325ULL;
    for (size_t k = 0; k < files_.size(); k++) {
        struct stat st;
        if (stat(files_[k]->temp_path.c_str(), &st) != 0) {
            *failure = Failure{files_[k]->final_path, errno, {}};
            for (StagedFile *f : files_) staged_discard(*f);
            return false;
        }
        m_.files.push_back(Manifest::Entry{name_of(*files_[k]), (long long)st.st_size});
        fnv1a(h, m_.files.back().name + '\0' + std::to_string(st.st_size) + '\0');
        std::string bytes;
        if (in_run_[k] && read_bounded(files_[k]->temp_path, kHashedLimit, bytes, true).problem.empty())
            fnv1a(h, bytes);
    }
    char run[17];
    std::snprintf(run, sizeof run, "%016llx", (unsigned long long)h);
    m_.run = run;
    if (!write_staged(manifest_, manifest_path_, manifest_text(m_))) {
        *failure = Failure{manifest_path_, manifest_.err, {}};
        for (StagedFile *f : files_) staged_discard(*f);
        return false;
    }

    std::vector<StagedFile *> all = {&manifest_.staged};
    all.insert(all.end(), files_.begin(), files_.end());
    for (StagedFile &r : removals_) all.push_back(&r);
    StagedFile done;
    staged_removal(done, manifest_path_);
    all.push_back(&done);
    size_t failed = 0;
    if (staged_commit_together(all.data(), all.size(), &failed)) return true;
    *failure = Failure{all[failed]->final_path, errno, {}};
    for (size_t k = 1; k < failed; k++)
        if (!all[k]->removal) failure->replaced.push_back(all[k]->final_path);
    return false;
}

SetReadLock::SetReadLock(const std::string &dir) {
    fd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_SH) != 0 && errno == EINTR) {
    }
}

SetReadLock::~SetReadLock() {
    if (fd_ >= 0) close(fd_);
}

std::string check_result_set(const std::string &dir, const std::string &shown_dir, const std::string &manifest) {
    struct stat st;
    if (lstat((dir + "/" + manifest).c_str(), &st) != 0 && errno == ENOENT) return "";
    const std::string shown = printable(shown_dir + manifest);
    std::string bytes;
    const BoundedRead r = read_bounded(dir + "/" + manifest, kManifestLimit, bytes, false);
    std::string problem = r.problem;
    if (problem.empty() && r.beyond) problem = "it is larger than any manifest";
    Manifest m;
    if (problem.empty()) problem = parse_manifest(bytes, m);
    if (!problem.empty())
        return "the manifest " + shown + " says that the files of a result in " + printable(shown_dir) +
               " are a torn set, but it cannot be read (" + problem + "); remove it once the result is written again";
    return "the files " + printable(m.program) + " wrote for the result \"" + printable(m.result) + "\" in " +
           printable(shown_dir) + " are a torn set: its run " + m.run +
           " was stopped while they took their names, so some may be new and some earlier ones (" + shown +
           " names them); run " + printable(m.program) + " for the result again";
}
