// Per-thread storage: what a thread's objects come to own is given back
// when the thread ends, once per arming; the thread id is the kernel's.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "runtime/for_threadstor.h"

namespace {

For_Thread_Exit exit_of_test;
std::atomic<int> released{0};
thread_local int object_of_thread = 0;

void release(void *p) {
    EXPECT_EQ(p, static_cast<void *>(&object_of_thread)) << "the thread's own object comes back";
    released.fetch_add(1);
}

TEST(ThreadExit, AnArmedObjectIsReleasedWhenItsThreadEnds) {
    released = 0;
    std::thread a([] { for__arm_thread_exit(exit_of_test, release, &object_of_thread); });
    std::thread b([] {});  // armed nothing: nothing to release
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 1);
    std::thread c([] {
        for__arm_thread_exit(exit_of_test, release, &object_of_thread);
        for__arm_thread_exit(exit_of_test, release, &object_of_thread);  // still once
    });
    c.join();
    EXPECT_EQ(released.load(), 2);
}

TEST(ThreadExit, TheThreadIdIsTheKernelsAndStable) {
    uint32_t here = for__thread_id();
    EXPECT_NE(here, 0u);
    EXPECT_EQ(for__thread_id(), here);
    uint32_t there = 0;
    std::thread t([&] { there = for__thread_id(); });
    t.join();
    EXPECT_NE(there, 0u);
    EXPECT_NE(there, here);
}

}  // namespace
