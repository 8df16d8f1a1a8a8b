// Items handed from one thread to another, in order, at most so many
// waiting: a giver that runs ahead waits for room, a taker that runs ahead
// waits for items. The first problem of either side stops both.
#ifndef KARVEL_COMPANION_BOUNDED_QUEUE_H
#define KARVEL_COMPANION_BOUNDED_QUEUE_H

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

template <class T>
class BoundedQueue {
public:
    // At most `capacity` items wait (at least one). The taker, when it
    // waits, is woken once `wake` items wait (or the queue is full, closed
    // or stopped): a taker that mostly keeps up is then woken for a few
    // items at a time rather than for each.
    explicit BoundedQueue(size_t capacity, size_t wake = 1)
        : capacity_(std::max<size_t>(capacity, 1)), wake_(std::clamp<size_t>(wake, 1, capacity_)) {}
    BoundedQueue(const BoundedQueue &) = delete;
    BoundedQueue &operator=(const BoundedQueue &) = delete;

    // Waits for room and adds the item; false, the item left as it was,
    // once the queue is closed or stopped.
    bool push(T &&item) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return items_.size() < capacity_ || closed_ || stopped_; });
        if (closed_ || stopped_) return false;
        items_.push_back(std::move(item));
        if (items_.size() >= wake_) ready_.notify_one();
        return true;
    }

    // Waits for the next item; nothing once the queue is closed and every
    // item taken, or stopped.
    std::optional<T> pop() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return !items_.empty() || closed_ || stopped_; });
        if (stopped_ || items_.empty()) return std::nullopt;
        std::optional<T> item(std::move(items_.front()));
        items_.pop_front();
        room_.notify_one();
        return item;
    }

    // No more items: those waiting are still taken.
    void close() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        ready_.notify_all();
        room_.notify_all();
    }

    // Stops both sides at once, the items waiting dropped; the first
    // problem given is kept.
    void stop(const std::string &problem) {
        std::deque<T> dropped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!stopped_) problem_ = problem;
            stopped_ = true;
            dropped.swap(items_);
        }
        ready_.notify_all();
        room_.notify_all();
    }

    // What stopped the queue; empty while it is not stopped.
    std::string problem() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return problem_;
    }

private:
    const size_t capacity_, wake_;
    mutable std::mutex mutex_;
    std::condition_variable room_, ready_;
    std::deque<T> items_;
    bool closed_ = false, stopped_ = false;
    std::string problem_;
};

#endif
