#include "common/WorkControl.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace ondrel::test {

using namespace std::chrono_literals;

TEST(WorkControlTest, PauseBlocksTheWorkerUntilResumeAndStopEndsIt) {
    WorkControl control;
    std::atomic<int> steps{0};
    control.pause();
    std::thread worker([&] {
        while (!control.poll()) {
            ++steps;
            std::this_thread::sleep_for(1ms);
        }
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(steps.load(), 0) << "a paused worker makes no progress";
    control.resume();
    while (steps.load() < 3) std::this_thread::sleep_for(1ms);
    control.pause();
    std::this_thread::sleep_for(20ms);
    int held = steps.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(steps.load(), held + 1);
    control.requestStop();  // also wakes a paused worker
    worker.join();
    EXPECT_TRUE(control.stopRequested());
    control.reset();
    EXPECT_FALSE(control.poll());
}

}  // namespace ondrel::test
