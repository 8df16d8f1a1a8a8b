// The queue between two threads: order, the room it holds, closing, and a
// problem that stops both sides.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "bounded_queue.h"

using namespace std::chrono_literals;

TEST(BoundedQueue, ItemsArriveInOrderAndCloseLetsTheWaitingOnesBeTaken) {
    BoundedQueue<std::unique_ptr<int>> q(4, 3);
    std::vector<int> taken;
    std::jthread taker([&] {
        while (auto item = q.pop()) taken.push_back(**item);
    });
    for (int k = 0; k < 1000; k++) {
        auto item = std::make_unique<int>(k);
        ASSERT_TRUE(q.push(std::move(item)));
        EXPECT_EQ(item, nullptr);  // taken over
    }
    q.close();
    taker.join();
    ASSERT_EQ(taken.size(), 1000u);
    for (int k = 0; k < 1000; k++) EXPECT_EQ(taken[size_t(k)], k);
    // Closed: nothing more goes in, the item stays with the giver.
    auto late = std::make_unique<int>(7);
    EXPECT_FALSE(q.push(std::move(late)));
    EXPECT_NE(late, nullptr);
    EXPECT_FALSE(q.pop());
    EXPECT_EQ(q.problem(), "");
}

TEST(BoundedQueue, AGiverWaitsForRoom) {
    BoundedQueue<int> q(2);
    std::atomic<int> given{0};
    std::jthread giver([&] {
        for (int k = 0; k < 3; k++) {
            q.push(int(k));
            given++;
        }
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(given.load(), 2);  // the third waits
    EXPECT_EQ(q.pop(), 0);
    giver.join();
    EXPECT_EQ(given.load(), 3);
    EXPECT_EQ(q.pop(), 1);
    EXPECT_EQ(q.pop(), 2);
}

TEST(BoundedQueue, AProblemStopsBothSidesAndTheFirstIsKept) {
    BoundedQueue<int> full(1), empty(1);
    ASSERT_TRUE(full.push(1));
    std::jthread giver([&] { EXPECT_FALSE(full.push(2)); });  // waits for room
    std::jthread taker([&] { EXPECT_FALSE(empty.pop()); });   // waits for an item
    std::this_thread::sleep_for(50ms);
    full.stop("the disk is full");
    empty.stop("the disk is full");
    giver.join();
    taker.join();
    full.stop("a later problem");
    EXPECT_EQ(full.problem(), "the disk is full");
    EXPECT_FALSE(full.pop());  // what waited is dropped
    EXPECT_FALSE(full.push(3));
}
