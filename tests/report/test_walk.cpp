// The report's one walk: what each reader is fed, in which order, and how
// a reader's problem ends the walk.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "inputs.h"
#include "raster_pair.h"
#include "reader.h"
#include "walk.h"

namespace {

// A reader that writes down every hook it is called with, and what it saw.
struct Probe : Reader {
    Probe(std::string name, std::vector<std::string> &log, bool behind = false)
        : name_(std::move(name)), log_(log), behind_(behind) {}
    std::string start() override { return note("start", -1); }
    void room(LineRoom &room) override {
        log_.push_back("room " + name_);
        if (!give_room_) return;
        room.diff = diff_room_.data();
        room.resid = resid_room_.data();
    }
    std::string line(const Line &l) override {
        lines.push_back(l);
        whole_d.emplace_back(l.d, l.d + l.cols);
        whole_e.emplace_back(l.e, l.e + l.cols);
        floats.emplace_back(l.diff, l.diff + l.cols);
        if (l.keep) keeps.emplace_back(l.keep, l.keep + l.cols);
        return note("line", l.index);
    }
    std::string kept(const KeptLine &l) override {
        kept_x.emplace_back(l.x, l.x + l.n);
        kept_d.emplace_back(l.d, l.d + l.n);
        kept_e.emplace_back(l.e, l.e + l.n);
        return note("kept", l.index);
    }
    bool behind() const override { return behind_; }
    std::string take_behind(BehindLine &l) override {
        std::lock_guard<std::mutex> lock(mutex_);
        behind_index.push_back(l.index);
        behind_d.push_back(l.d);
        behind_elevations.push_back(l.elevations);
        behind_keep.push_back(l.has_keep ? l.keep : std::vector<unsigned char>());
        return fail_hook == "behind" && l.index == fail_index ? "behind " + name_ + " failed" : "";
    }
    void give_room(int cols) {
        give_room_ = true;
        diff_room_.assign(size_t(cols), 0.0f);
        resid_room_.assign(size_t(cols), 0.0f);
    }

    std::string fail_hook;  // the hook that fails ("start", "line", "kept", "behind"), at line fail_index
    int fail_index = -1;
    std::vector<Line> lines;
    std::vector<std::vector<double>> whole_d, whole_e, kept_x, kept_d, kept_e, behind_d;
    std::vector<std::vector<float>> floats, behind_elevations;
    std::vector<std::vector<unsigned char>> keeps, behind_keep;
    std::vector<int> behind_index;
    std::vector<float> diff_room_, resid_room_;

private:
    std::string note(const std::string &hook, int index) {
        log_.push_back(hook + " " + name_ + (index >= 0 ? " " + std::to_string(index) : ""));
        return hook == fail_hook && index == fail_index ? hook + " " + name_ + " failed" : "";
    }
    std::string name_;
    std::vector<std::string> &log_;
    bool behind_, give_room_ = false;
    std::mutex mutex_;
};

WalkPlan plan_of(int lines, double b0 = 0, double b1 = 1) {
    WalkPlan plan;
    plan.lines = lines;
    plan.b0 = b0;
    plan.b1 = b1;
    return plan;
}

}  // namespace

TEST(Walk, EachLineGoesOnceToEveryReaderInTheirOrder) {
    RasterPair p(3, 2, {1, 2, 3, 4, 5, 6}, {2, 2, 5, 4, 9, 6});
    std::vector<std::string> log;
    Probe a("a", log, true), b("b", log);
    long long kept = -1;
    ASSERT_EQ(walk_lines(p.rasters.pairs, plan_of(3), {&a, &b}, kept), "");
    std::vector<std::string> want = {"start a", "start b"};
    for (int i = 0; i < 3; i++) {
        const std::string at = " " + std::to_string(i);
        for (const char *w : {"room a", "room b", "line a", "line b", "kept a", "kept b"})
            want.push_back(w + std::string(w[0] == 'r' ? "" : at));
    }
    EXPECT_EQ(log, want);
    EXPECT_EQ(kept, 6);
    // The lines behind the walk, in order, each once, to the reader that takes them alone.
    EXPECT_EQ(a.behind_index, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(b.behind_index.empty());
    EXPECT_EQ(a.behind_d[2], (std::vector<double>{4, 0}));
    // Unmasked: no keep, every position kept, as it stands.
    EXPECT_TRUE(a.keeps.empty());
    EXPECT_EQ(a.kept_x[1], (std::vector<double>{3, 4}));
    EXPECT_TRUE(a.behind_keep[0].empty());
    // The walk again, from the first line.
    log.clear();
    ASSERT_EQ(walk_lines(p.rasters.pairs, plan_of(3), {&b}, kept), "");
    EXPECT_EQ(b.lines.back().index, 2);
    EXPECT_EQ(b.whole_d[3], (std::vector<double>{1, 0}));
}

TEST(Walk, ReadersSeeEveryColumnThenTheKeptOnesAtTheFronts) {
    // The first raster's no-data value 0 leaves out columns 1 and 3 of line
    // 0 and column 0 of line 1.
    const std::vector<int> a = {10, 0, 30, 0, 0, 60, 70, 80}, b = {11, 22, 34, 45, 56, 66, 77, 88};
    RasterPair p(2, 4, a, b, NoData{true, 0});
    std::vector<std::string> log;
    Probe r("r", log, true);
    r.give_room(4);
    long long kept = 0;
    ASSERT_EQ(walk_lines(p.rasters.pairs, plan_of(2, 0.5, 2.0), {&r}, kept), "");
    EXPECT_EQ(kept, 5);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.keeps[0], (std::vector<unsigned char>{1, 0, 1, 0}));
    EXPECT_EQ(r.keeps[1], (std::vector<unsigned char>{0, 1, 1, 1}));
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 4; j++) {
            const double x = a[size_t(4 * i + j)], y = b[size_t(4 * i + j)];
            EXPECT_EQ(r.whole_d[size_t(i)][size_t(j)], y - x);
            EXPECT_EQ(r.whole_e[size_t(i)][size_t(j)], y - (x * 2.0 + 0.5));
            // The floats, in the room the reader gave, blank where left out
            // is the GeoTIFFs' reader's business: here they are all formed.
            EXPECT_EQ(r.floats[size_t(i)][size_t(j)], float(y - x));
            // Behind the walk: every column, the first raster's elevations
            // not a number where it has no data.
            EXPECT_EQ(r.behind_d[size_t(i)][size_t(j)], y - x);
            const float elevation = r.behind_elevations[size_t(i)][size_t(j)];
            EXPECT_TRUE(x == 0 ? std::isnan(elevation) : elevation == float(x));
        }
    EXPECT_EQ(r.lines[1].diff, r.diff_room_.data()) << "the floats go straight into the room given";
    EXPECT_EQ(r.diff_room_[0], float(56 - 0));
    EXPECT_EQ(r.behind_keep[1], r.keeps[1]);
    // Compacted: the kept positions alone, in column order.
    EXPECT_EQ(r.kept_x[0], (std::vector<double>{10, 30}));
    EXPECT_EQ(r.kept_d[0], (std::vector<double>{1, 4}));
    EXPECT_EQ(r.kept_e[0], (std::vector<double>{11 - 20.5, 34 - 60.5}));
    EXPECT_EQ(r.kept_x[1], (std::vector<double>{60, 70, 80}));
    EXPECT_EQ(r.kept_d[1], (std::vector<double>{6, 7, 8}));
}

TEST(Walk, AReadersProblemStopsTheWalkAndIsReported) {
    const int lines = 40;
    std::vector<int> a(size_t(lines) * 3, 5), b(size_t(lines) * 3, 7);
    RasterPair p(lines, 3, a, b);
    for (const std::string &hook : {std::string("start"), std::string("line"), std::string("kept")}) {
        std::vector<std::string> log;
        Probe first("first", log), second("second", log);
        second.fail_hook = hook;
        second.fail_index = hook == "start" ? -1 : 1;
        long long kept = 0;
        EXPECT_EQ(walk_lines(p.rasters.pairs, plan_of(lines), {&first, &second}, kept), hook + " second failed");
        EXPECT_EQ(log.back(), hook + " second" + (hook == "start" ? "" : " 1")) << "nothing after the problem";
        if (hook == "start") {
            EXPECT_TRUE(first.lines.empty()) << "no line read";
        }
    }
    // Behind the walk: the thread takes no line after the one that failed,
    // and the walk says why it stopped.
    std::vector<std::string> log;
    Probe behind("behind", log, true);
    behind.fail_hook = "behind";
    behind.fail_index = 1;
    long long kept = 0;
    EXPECT_EQ(walk_lines(p.rasters.pairs, plan_of(lines), {&behind}, kept), "behind behind failed");
    EXPECT_EQ(behind.behind_index, (std::vector<int>{0, 1}));
}

TEST(Walk, ReadersGiveTheFirstProblemOfAHook) {
    Readers readers;
    std::vector<std::string> log;
    readers.add<Probe>("a", log);
    Probe &b = readers.add<Probe>("b", log);
    readers.add<Probe>("c", log);
    b.fail_hook = "start";
    EXPECT_EQ(readers.each([](Reader &r) { return r.start(); }), "start b failed");
    EXPECT_EQ(log, (std::vector<std::string>{"start a", "start b"}));
    EXPECT_EQ(readers.all().size(), 3u);
    EXPECT_EQ(readers.all()[1], &b);
}
