#include "line_worker.h"

#include <algorithm>

#include "behind.h"

void LineWorker::start(int cols, Take take) {
    cols_ = size_t(cols);
    // Up to 16 MB of lines, at least four and at most 128.
    queued_ = queue_room(cols_ * (sizeof(float) + sizeof(double) + 1), size_t(16) << 20, 4, 128);
    take_ = std::move(take);
    thread_ = std::thread([this] { run(); });
}

BehindLine LineWorker::room() {
    BehindLine l;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!free_.empty()) {
            l = std::move(free_.back());
            free_.pop_back();
        }
    }
    l.elevations.resize(cols_);
    l.d.resize(cols_);
    return l;
}

bool LineWorker::give(BehindLine &&l) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queue_.size() < queued_ || !problem_.empty(); });
    if (!problem_.empty()) return false;
    queue_.push_back(std::move(l));
    // The thread, which mostly keeps up and waits, is woken for a few
    // lines at a time rather than for each; a full queue always wakes it.
    if (queue_.size() >= std::min<size_t>(kWakeLines, queued_)) changed_.notify_all();
    return true;
}

std::string LineWorker::finish() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    return problem_;
}

void LineWorker::run() {
    run_behind();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queue_.empty() || ending_; });
        if (queue_.empty()) return;
        BehindLine l = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        const std::string p = take_(l);
        lock.lock();
        free_.push_back(std::move(l));
        if (!p.empty()) {
            problem_ = p;
            queue_.clear();
        }
        changed_.notify_all();
        if (!problem_.empty()) return;
    }
}
