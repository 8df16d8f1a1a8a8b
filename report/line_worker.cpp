#include "line_worker.h"

#include "behind.h"

void LineWorker::start(int cols, Take take) {
    cols_ = size_t(cols);
    // Up to 16 MB of lines, at least four and at most 128.
    const size_t lines = queue_room(cols_ * (sizeof(float) + sizeof(double) + 1), size_t(16) << 20, 4, 128);
    queue_ = std::make_unique<BoundedQueue<BehindLine>>(lines, kWakeLines);
    take_ = std::move(take);
    thread_ = std::jthread([this] { run(); });
}

BehindLine LineWorker::room() {
    BehindLine l;
    {
        std::lock_guard<std::mutex> lock(free_mutex_);
        if (!free_.empty()) {
            l = std::move(free_.back());
            free_.pop_back();
        }
    }
    l.elevations.resize(cols_);
    l.d.resize(cols_);
    return l;
}

bool LineWorker::give(BehindLine &&l) { return queue_->push(std::move(l)); }

std::string LineWorker::finish() {
    if (!queue_) return "";
    if (thread_.joinable()) {
        queue_->close();
        thread_.join();
    }
    return queue_->problem();
}

void LineWorker::run() {
    run_behind();
    while (std::optional<BehindLine> l = queue_->pop()) {
        const std::string p = take_(*l);
        if (!p.empty()) {
            queue_->stop(p);
            return;
        }
        std::lock_guard<std::mutex> lock(free_mutex_);
        free_.push_back(std::move(*l));
    }
}
