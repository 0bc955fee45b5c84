// Threads sharing the unit table: a unit is held by one statement at a time,
// others wait rather than fail, and nothing is lost or deadlocked.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <algorithm>
#include <vector>

#include "units/for_lub_mgt.h"

namespace {

double seconds() {
    const char *s = std::getenv("VORLIX_STRESS_SECONDS");
    return s ? std::atof(s) : 1.5;
}

TEST(LubThreads, EachUnitIsHeldByOneStatementAtATime) {
    constexpr int threads = 8;
    constexpr int shared_direct = 17, shared_hashed = 4242;
    std::atomic<int> inside[2] = {0, 0};
    long counters[2] = {0, 0};  // written only while the unit is held
    std::atomic<long> total{0}, overlaps{0}, failures{0}, recursive_ok{0};
    std::atomic<bool> stop{false};
    auto worker = [&](int t) {
        int own = 20 + t;
        long mine = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            For_Lub *lub = nullptr;
            if (for__acquire_lun(own, &lub, nullptr, FOR_OP_WRITE_SEQ) != 0)
                ++failures;
            else
                for__release_lub(lub);
            int k = static_cast<int>(mine & 1);
            int unit = k ? shared_hashed : shared_direct;
            For_Context ctx{};
            if (for__acquire_lun(unit, &lub, &ctx, FOR_OP_WRITE_SEQ) != 0) {
                ++failures;
                continue;
            }
            if (inside[k].fetch_add(1) != 0) ++overlaps;
            ++counters[k];
            // The holder coming back is recursive I/O, not a deadlock.
            For_Lub *again = nullptr;
            if (mine % 64 == 0 && for__acquire_lun(unit, &again, nullptr, FOR_OP_WRITE_SEQ) == 40) ++recursive_ok;
            inside[k].fetch_sub(1);
            for__release_lub(lub);
            if (ctx.lub != nullptr) ++failures;
            ++mine;
        }
        total += mine;
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(worker, t);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds()));
    stop = true;
    for (auto &th : pool) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(counters[0] + counters[1], total.load()) << "no acquisition lost";
    EXPECT_GT(total.load(), threads);
    EXPECT_GT(recursive_ok.load(), 0);
}

TEST(LubThreads, WaitersOnAUnitThatIsClosedStartOver) {
    // One thread opens and closes a hashed unit over and over; others keep
    // statements on it. Waiters must never touch a freed block (run under
    // the sanitizers) and must always end up with a live one.
    constexpr int unit = 9001;
    std::atomic<bool> stop{false};
    std::atomic<long> failures{0}, rounds{0};
    auto user = [&] {
        while (!stop.load(std::memory_order_relaxed)) {
            For_Lub *lub = nullptr;
            if (for__acquire_lun(unit, &lub, nullptr, FOR_OP_READ) != 0 || !lub || lub->lub_unit != unit ||
                (lub->lub_stmt_flags & lubs::deallocating))
                ++failures;
            else
                for__release_lub(lub);
            ++rounds;
        }
    };
    auto closer = [&] {
        while (!stop.load(std::memory_order_relaxed)) {
            For_Lub *lub = nullptr;
            if (for__acquire_lun(unit, &lub, nullptr, FOR_OP_CLOSE) != 0)
                ++failures;
            else
                for__deallocate_lub(unit);
        }
    };
    std::vector<std::thread> pool;
    pool.emplace_back(closer);
    for (int i = 0; i < 4; ++i) pool.emplace_back(user);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds() / 2));
    stop = true;
    for (auto &th : pool) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(rounds.load(), 0);
}

TEST(LubThreads, NewunitNumbersAreNeverHandedOutTwice) {
    constexpr int threads = 8, each = 100;
    std::vector<int> got(threads * each);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int i = 0; i < each; ++i) for__get_free_newunit(&got[t * each + i], 0);
        });
    for (auto &th : pool) th.join();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(std::adjacent_find(got.begin(), got.end()), got.end());
}

TEST(LubThreads, InternalFilesOfDifferentThreadsNeverMeet) {
    std::atomic<long> bad{0};
    auto worker = [&] {
        for (int i = 0; i < 20000; ++i) {
            For_Context ctx{};
            For_Lub *lub = nullptr;
            if (for__acquire_lun(FOR_UNIT_INTERNAL, &lub, &ctx, FOR_OP_WRITE) != 0) {
                ++bad;
                continue;
            }
            lub->lub_record_number = static_cast<uint64_t>(i);
            std::this_thread::yield();
            if (lub->lub_record_number != static_cast<uint64_t>(i) || ctx.lub != lub) ++bad;
            for__release_lub(lub);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < 4; ++t) pool.emplace_back(worker);
    for (auto &th : pool) th.join();
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
