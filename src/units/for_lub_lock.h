// The lock that serialises statements on one unit. Its word holds the id of
// the owning thread, so that one compare-and-swap both takes the unit and
// tells a recursive statement of the owner (message 40) from another
// thread's statement (which waits). Waiting threads sleep on a futex.
#pragma once
#include <atomic>
#include <cstdint>

namespace lub_lock {

constexpr uint32_t waiters = 0x80000000u;  // thread ids stay below 2^22
constexpr uint32_t owner_mask = ~waiters;

// How many units the calling thread holds. Only the holder gives a unit
// back, so the count is exact per thread; the ending of the process reads
// it to tell a thread in the middle of a statement (which must be let
// finish its record) from one between statements. Plain TLS: a signal
// handler may read it.
extern thread_local uint32_t held_by_me __attribute__((tls_model("initial-exec")));

// The uncontended path: one atomic operation, no system call.
inline bool try_take(std::atomic<uint32_t> &w, uint32_t me) {
    uint32_t expected = 0;
    const bool taken = w.compare_exchange_strong(expected, me, std::memory_order_acquire, std::memory_order_relaxed);
    held_by_me += taken;
    return taken;
}

inline uint32_t owner(const std::atomic<uint32_t> &w) { return w.load(std::memory_order_relaxed) & owner_mask; }

// Blocks until the caller owns the word. The caller must not own it already.
void take_slow(std::atomic<uint32_t> &w, uint32_t me);

inline void take(std::atomic<uint32_t> &w, uint32_t me) {
    if (!try_take(w, me)) take_slow(w, me);
}

// Hands the unit on: wakes one waiter when any is recorded.
void give(std::atomic<uint32_t> &w);

}  // namespace lub_lock
