#include "parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace pricelookup;

// Work the caller finishes before any pool thread wakes leaves behind jobs
// that are taken back; work long enough to share is shared. Either way every
// task runs once, and nothing runs after RunTasks returns (AddressSanitizer
// would see a job touch the finished call's frame).
TEST(parallel, runs_every_task_once_whether_or_not_a_thread_joins) {
    for (std::size_t tasks : {0, 1, 2, 3, 9, 200}) {
        for (int round = 0; round < 50; ++round) {
            std::vector<std::atomic<int>> runs(tasks);
            RunTasks(tasks, 3, [&](std::size_t i) { runs[i]++; });
            for (std::size_t i = 0; i < tasks; ++i)
                ASSERT_EQ(runs[i].load(), 1) << tasks << " tasks, task " << i;
        }
    }
    std::atomic<int> slow{0};
    RunTasks(4, 2, [&](std::size_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        slow++;
    });
    EXPECT_EQ(slow.load(), 4);
}

TEST(parallel, throws_what_a_task_threw) {
    EXPECT_THROW(RunTasks(100, 2,
                          [&](std::size_t i) {
                              if (i == 3)
                                  throw std::runtime_error("part failed");
                          }),
                 std::runtime_error);
}
