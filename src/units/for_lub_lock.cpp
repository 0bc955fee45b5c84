#include "units/for_lub_lock.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lub_lock {

thread_local uint32_t held_by_me __attribute__((tls_model("initial-exec"))) = 0;

namespace {

void futex_wait(std::atomic<uint32_t> &w, uint32_t expected) {
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(&w), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void futex_wake_one(std::atomic<uint32_t> &w) {
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(&w), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

void take_slow(std::atomic<uint32_t> &w, uint32_t me) {
    // A short spin first: statements are often brief, and a sleeping
    // thread costs two system calls.
    for (int i = 0; i < 64; ++i) {
        if (w.load(std::memory_order_relaxed) == 0 && try_take(w, me)) return;
        __builtin_ia32_pause();
    }
    uint32_t v = w.load(std::memory_order_relaxed);
    for (;;) {
        if (v == 0) {
            // Whoever wakes may not be the last waiter: keep the waiter bit
            // so that our own release wakes the next one.
            if (w.compare_exchange_weak(v, me | waiters, std::memory_order_acquire, std::memory_order_relaxed)) {
                ++held_by_me;
                return;
            }
            continue;
        }
        if (!(v & waiters) &&
            !w.compare_exchange_weak(v, v | waiters, std::memory_order_relaxed, std::memory_order_relaxed))
            continue;
        futex_wait(w, v | waiters);
        v = w.load(std::memory_order_relaxed);
    }
}

void give(std::atomic<uint32_t> &w) {
    --held_by_me;
    if (w.exchange(0, std::memory_order_release) & waiters) futex_wake_one(w);
}

}  // namespace lub_lock
