#include "runtime/for_reentrancy.h"

#include <pthread.h>

std::atomic<int32_t> for__reentrancy_mode{0};

VORLIX_API int for_set_reentrancy(const int *mode) {
    if (!mode || *mode == for__reentrancy_query) return for__reentrancy_mode.load(std::memory_order_acquire);
    return for__reentrancy_mode.exchange(*mode, std::memory_order_acq_rel);
}

int for__disable_asynch_deliv_private(sigset_t *old) {
    sigset_t all;
    sigfillset(&all);
    // Per thread: sigprocmask is unspecified once the program has threads.
    pthread_sigmask(SIG_BLOCK, &all, old);
    return 0;
}

int for__enable_asynch_deliv_private(const sigset_t *old) {
    pthread_sigmask(SIG_SETMASK, old, nullptr);
    return 0;
}
