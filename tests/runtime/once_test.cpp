// Once-guards: exactly one run, late comers wait for it, and a routine that
// needs itself ends the process instead of hanging.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/for_once.h"

namespace {

using namespace std::chrono_literals;

struct Slow_Routine {
    static inline std::atomic<int> runs{0};
    static inline std::atomic<bool> started{false};
    static inline std::atomic<bool> finished{false};
    static void reset() {
        runs = 0;
        started = false;
        finished = false;
    }
    static void run() {
        ++runs;
        started = true;
        std::this_thread::sleep_for(100ms);
        finished = true;
    }
};

TEST(Once, RunsOnceAndLaterCallsReturnAtOnce) {
    Slow_Routine::reset();
    For_Once_Block block;
    EXPECT_EQ(for__once_private(&block, Slow_Routine::run), 0);
    EXPECT_EQ(for__once_private(&block, Slow_Routine::run), 0);
    EXPECT_EQ(Slow_Routine::runs, 1);
    EXPECT_EQ(block.in_progress.load(), 0);
    EXPECT_EQ(block.done.load(), 1);
}

TEST(Once, ASecondThreadWaitsForTheFirst) {
    Slow_Routine::reset();
    For_Once_Block block;
    std::thread first([&] { for__once_private(&block, Slow_Routine::run); });
    while (!Slow_Routine::started) std::this_thread::yield();
    bool finished_on_return = false;
    std::thread second([&] {
        for__once_private(&block, Slow_Routine::run);
        finished_on_return = Slow_Routine::finished;
    });
    second.join();
    first.join();
    EXPECT_TRUE(finished_on_return) << "the second caller returned while the routine still ran";
    EXPECT_EQ(Slow_Routine::runs, 1);
}

TEST(Once, ManyThreadsRacingRunItOnce) {
    Slow_Routine::reset();
    For_Once_Block block;
    constexpr int n = 8;
    std::atomic<bool> go{false};
    std::atomic<int> returned_early{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            for__once_private(&block, Slow_Routine::run);
            if (!Slow_Routine::finished) ++returned_early;
        });
    go = true;
    for (auto &t : threads) t.join();
    EXPECT_EQ(Slow_Routine::runs, 1);
    EXPECT_EQ(returned_early, 0);
}

// A routine may start another guarded routine; only the same block is a cycle.
For_Once_Block outer_block, inner_block;
int inner_runs = 0;
void inner() { ++inner_runs; }
void outer() { for__once_private(&inner_block, inner); }

TEST(Once, NestedGuardsOnOtherBlocksAreFine) {
    EXPECT_EQ(for__once_private(&outer_block, outer), 0);
    EXPECT_EQ(inner_runs, 1);
    EXPECT_EQ(outer_block.done.load(), 1);
}

For_Once_Block cyclic_block;
void cyclic() { for__once_private(&cyclic_block, cyclic); }

TEST(OnceDeathTest, ReentryOnTheSameThreadEndsWith152) {
    EXPECT_EXIT(for__once_private(&cyclic_block, cyclic), ::testing::ExitedWithCode(152), "severe \\(152\\)");
}

}  // namespace
