// Lines handed to a thread of their own, in order, and taken there by
// `take`: the work of the readers behind the walk (the classes' slopes and
// figures) is done while the walk reads on. At most a few lines wait; the
// first problem stops the taking.
#ifndef KARVEL_REPORT_LINE_WORKER_H
#define KARVEL_REPORT_LINE_WORKER_H

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bounded_queue.h"
#include "reader.h"

class LineWorker {
public:
    // `take` may keep the line's buffers, leaving others in their place.
    using Take = std::function<std::string(BehindLine &line)>;
    LineWorker() = default;
    ~LineWorker() { finish(); }
    LineWorker(const LineWorker &) = delete;
    LineWorker &operator=(const LineWorker &) = delete;
    // Starts the thread, for lines of `cols` columns.
    void start(int cols, Take take);
    // A line's buffers, `cols` of each but keep (reused once the thread is
    // done with them), to be filled and handed over by give().
    BehindLine room();
    // Hands over a line; false once taking failed.
    bool give(BehindLine &&l);
    // Waits until every line given is taken; the problem, if any.
    std::string finish();

private:
    void run();
    // The thread, which mostly keeps up and waits, is woken for a few lines
    // at a time rather than for each; a full queue always wakes it.
    static constexpr size_t kWakeLines = 8;
    size_t cols_ = 0;
    Take take_;
    std::unique_ptr<BoundedQueue<BehindLine>> queue_;
    std::mutex free_mutex_;
    std::vector<BehindLine> free_;  // lines taken, their buffers to be reused
    std::jthread thread_;
};

#endif
