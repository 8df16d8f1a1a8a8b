// The helper threads' lower priority and their queues' room.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "behind.h"

TEST(Behind, AHelperRunsBehindAndItsThreadAlone) {
    const int caller = getpriority(PRIO_PROCESS, id_t(gettid()));
    int helper = 0;
    bool lowered = false;
    std::thread([&] {
        lowered = run_behind();
        helper = getpriority(PRIO_PROCESS, id_t(gettid()));
    }).join();
    ASSERT_TRUE(lowered);
    EXPECT_EQ(helper, std::min(caller + kBehind, 19));
    EXPECT_EQ(getpriority(PRIO_PROCESS, id_t(gettid())), caller);
    // A child process, as the figures drawn during the walk are.
    const pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    EXPECT_TRUE(put_behind(int(child)));
    EXPECT_EQ(getpriority(PRIO_PROCESS, id_t(child)), std::min(caller + kBehind, 19));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST(Behind, QueuesHoldTheirBudgetWithinBounds) {
    EXPECT_EQ(queue_room(130000, size_t(16) << 20, 4, 128), 128u);   // lines of 10000 cells
    EXPECT_EQ(queue_room(655360, size_t(24) << 20, 3, 8), 8u);       // strips of 16 such lines
    EXPECT_EQ(queue_room(13000000, size_t(16) << 20, 4, 128), 4u);   // a line of a million cells
    EXPECT_EQ(queue_room(size_t(16) << 20, size_t(24) << 20, 3, 8), 3u);
    EXPECT_EQ(queue_room(0, 100, 1, 50), 50u);
}
