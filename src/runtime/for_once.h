// Once-guards: a routine that must run exactly once per process however many
// threads ask for it first.
#pragma once
#include <atomic>
#include <cstdint>

// Two 32-bit words; a zero-initialised block is ready for use.
struct For_Once_Block {
    // Thread id of the thread running the routine, 0 when none: the id lets
    // re-entry from that same thread be told apart from contention.
    std::atomic<int32_t> in_progress{0};
    std::atomic<int32_t> done{0};
};
static_assert(sizeof(For_Once_Block) == 8);

// Runs routine once per block. A thread arriving while another runs it waits
// until it is done; the thread running it that asks again (the routine
// depends on itself) gets the severe diagnostic 152, which ends the process.
// 0 once the routine has run.
int for__once_private(For_Once_Block *block, void (*routine)());
