// The gnuplots the report starts: their environment, and what a failing
// one is reported as. A script stands in for gnuplot and writes down what
// it was given.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gnuplot.h"

namespace {

namespace fs = std::filesystem;

// A folder holding a stand-in for gnuplot, removed with it.
struct FakeGnuplot {
    fs::path dir;
    std::string program;
    explicit FakeGnuplot(const std::string &body) {
        char templ[] = "/tmp/karvel-gnuplot-XXXXXX";
        dir = mkdtemp(templ);
        program = (dir / "gnuplot").string();
        std::ofstream(program) << "#!/bin/sh\n" << body;
        chmod(program.c_str(), 0755);
    }
    ~FakeGnuplot() { fs::remove_all(dir); }
    std::string read(const std::string &name) const {
        std::ifstream in(dir / name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<GnuplotJob> run(std::vector<GnuplotJob> jobs) const {
        GnuplotBatch batch;
        batch.start(program, dir.string(), std::move(jobs));
        return batch.wait(60);
    }
};

// Sets an environment variable for the scope, or removes it (null).
struct EnvFor {
    std::string name, before;
    bool had;
    EnvFor(const char *n, const char *value) : name(n), had(std::getenv(n) != nullptr) {
        if (had) before = std::getenv(n);
        if (value) setenv(n, value, 1);
        else unsetenv(n);
    }
    ~EnvFor() {
        if (had) setenv(name.c_str(), before.c_str(), 1);
        else unsetenv(name.c_str());
    }
};

}  // namespace

TEST(Gnuplot, ItsEnvironmentAsksForHugePagesAndKeepsTheUsersTunables) {
    const FakeGnuplot gp("printf '%s|%s|%s|%s' \"$GLIBC_TUNABLES\" \"$GNUTERM\" \"$1\" \"$2\" > said.txt\n");
    const struct {
        const char *given;  // GLIBC_TUNABLES in the caller's environment, or none
        std::string seen;   // in gnuplot's
    } cases[] = {
        {nullptr, "glibc.malloc.hugetlb=1"},
        {"", "glibc.malloc.hugetlb=1"},
        {"glibc.malloc.arena_max=2", "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1"},
        // What the user chose stays.
        {"glibc.malloc.hugetlb=0", "glibc.malloc.hugetlb=0"},
        {"glibc.malloc.hugetlb=2:glibc.malloc.arena_max=1", "glibc.malloc.hugetlb=2:glibc.malloc.arena_max=1"},
    };
    for (const auto &c : cases) {
        const EnvFor tunables("GLIBC_TUNABLES", c.given);
        const EnvFor term("GNUTERM", "x11");
        const auto done = gp.run({{"out='a.png'", "a.gp", ""}});
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].problem, "");
        // Never a terminal's window: gnuplot's own terminal is dumb.
        EXPECT_EQ(gp.read("said.txt"), c.seen + "|dumb|-e|out='a.png'") << (c.given ? c.given : "(none)");
    }
}

TEST(Gnuplot, AFailingScriptIsReportedWithWhatGnuplotSaid) {
    const FakeGnuplot gp("if [ \"$3\" = bad.gp ]; then echo '\"bad.gp\" line 3: undefined variable: x' >&2; exit 1; fi\n"
                         "echo 'warning: empty x range' >&2\n");
    const auto done = gp.run({{"", "good.gp", ""}, {"", "bad.gp", ""}});
    ASSERT_EQ(done.size(), 2u);
    // A warning on a script that ends well is no failure.
    EXPECT_EQ(done[0].problem, "");
    EXPECT_EQ(done[1].problem, "gnuplot failed on bad.gp: \"bad.gp\" line 3: undefined variable: x");
}
