// The thread-mode word and blocking of asynchronous signals.
#include <gtest/gtest.h>

#include <csignal>
#include <pthread.h>

#include "runtime/for_reentrancy.h"

namespace {

struct Mode_Step {
    int request;
    int returned;  // the mode before the call
    int mode_after;
};

TEST(SetReentrancy, StoresRequestsAndReadsOnThree) {
    for__reentrancy_mode = 0;
    const Mode_Step steps[] = {
        {3, 0, 0},  // only a query
        {2, 0, 2},  // threaded
        {3, 2, 2}, {2, 2, 2}, {1, 2, 1}, {0, 1, 0}, {2, 0, 2},
    };
    int i = 0;
    for (const Mode_Step &s : steps) {
        EXPECT_EQ(for_set_reentrancy(&s.request), s.returned) << "step " << i;
        EXPECT_EQ(for__reentrancy_mode.load(), s.mode_after) << "step " << i;
        ++i;
    }
    EXPECT_EQ(for_set_reentrancy(nullptr), 2) << "no request reads";
    EXPECT_EQ(for__reentrancy_mode.load(), 2);
    for__reentrancy_mode = 0;
}

volatile sig_atomic_t delivered = 0;
void count(int) { delivered = delivered + 1; }

bool blocked(int sig) {
    sigset_t now;
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    return sigismember(&now, sig) == 1;
}

TEST(AsynchDelivery, SignalsWaitUntilEnabledAgain) {
    const int signals[] = {SIGUSR1, SIGUSR2, SIGINT, SIGTERM, SIGALRM, SIGRTMIN + 1};
    for (int sig : signals) {
        SCOPED_TRACE(sig);
        struct sigaction sa {
        }, old{};
        sa.sa_handler = count;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, &old);
        delivered = 0;

        sigset_t saved;
        EXPECT_EQ(for__disable_asynch_deliv_private(&saved), 0);
        EXPECT_TRUE(blocked(sig));
        raise(sig);
        EXPECT_EQ(delivered, 0);
        EXPECT_EQ(for__enable_asynch_deliv_private(&saved), 0);
        EXPECT_EQ(delivered, 1);
        EXPECT_FALSE(blocked(sig));

        sigaction(sig, &old, nullptr);
    }
}

TEST(AsynchDelivery, EnableRestoresTheEarlierMask) {
    sigset_t usr2, before;
    sigemptyset(&usr2);
    sigaddset(&usr2, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &usr2, &before);

    sigset_t saved;
    for__disable_asynch_deliv_private(&saved);
    EXPECT_TRUE(sigismember(&saved, SIGUSR2));
    EXPECT_FALSE(sigismember(&saved, SIGUSR1));
    for__enable_asynch_deliv_private(&saved);
    EXPECT_TRUE(blocked(SIGUSR2)) << "a signal the caller had blocked stays blocked";
    EXPECT_FALSE(blocked(SIGUSR1));

    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace
