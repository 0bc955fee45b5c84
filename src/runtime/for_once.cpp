#include "runtime/for_once.h"

#include <unistd.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"

int for__once_private(For_Once_Block *block, void (*routine)()) {
    if (block->done.load(std::memory_order_acquire)) return 0;

    const int32_t self = static_cast<int32_t>(gettid());
    for (;;) {
        int32_t owner = 0;
        if (block->in_progress.compare_exchange_strong(owner, self, std::memory_order_acquire)) break;
        // A routine that needs itself would wait for ever.
        if (owner == self) {
            for__issue_diagnostic(msg::resource_contention, 0);
            return msg::resource_contention;
        }
        // Sleeps only while `owner` still holds the block (a futex wait).
        block->in_progress.wait(owner, std::memory_order_acquire);
        if (block->done.load(std::memory_order_acquire)) return 0;
    }

    // Another thread may have finished between the first check and the claim.
    if (!block->done.load(std::memory_order_relaxed)) {
        routine();
        block->done.store(1, std::memory_order_release);
    }
    block->in_progress.store(0, std::memory_order_release);
    block->in_progress.notify_all();
    return 0;
}
