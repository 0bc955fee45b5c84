// What happens when a signal arrives while a memory primitive is inside the C
// allocator, and the realloc fallback. The program replaces malloc, realloc,
// calloc and free by thin wrappers over glibc's own, so that a signal can be
// raised, or a failure made, from inside the allocator itself.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "diag/for_msgnum.h"
#include "runtime/for_vm.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VORLIX_INTERPOSE 0  // the sanitizer owns malloc
#else
#define VORLIX_INTERPOSE 1
#endif

namespace probe {

enum class Fn { none, malloc, realloc, free };

std::atomic<Fn> armed{Fn::none};  // the next call of this function raises
std::vector<int> to_raise;
bool clear_inside = false;
std::atomic<bool> fail_malloc{false}, fail_realloc{false};  // one-shot failures
std::atomic<void *> watched{nullptr};
std::atomic<int> watched_frees{0};
std::atomic<int> realloc_to_zero{0};

volatile sig_atomic_t inside_wrapper = 0;
volatile sig_atomic_t deferred = 0;
volatile sig_atomic_t handled = 0;
volatile sig_atomic_t handled_inside = 0;
volatile sig_atomic_t handled_when_raised = -1;

void reset() {
    armed = Fn::none;
    to_raise.clear();
    clear_inside = false;
    fail_malloc = fail_realloc = false;
    watched = nullptr;
    watched_frees = realloc_to_zero = 0;
    deferred = 0;
    handled = 0;
    handled_inside = 0;
    handled_when_raised = -1;
}

// Runs inside the wrapped allocator function, once, when it is armed for it.
void maybe_raise(Fn f) {
    Fn expected = f;
    if (!armed.compare_exchange_strong(expected, Fn::none)) return;
    inside_wrapper = 1;
    for (int sig : to_raise) raise(sig);
    handled_when_raised = handled;
    if (clear_inside) for__clear_signal_ops_during_vm();
    inside_wrapper = 0;
}

// Stands for the signal handler: it defers while the primitives say so, and
// (like a careless handler) clobbers errno when it acts.
void handler(int sig) {
    if (for__set_signal_ops_during_vm(sig)) {
        deferred = deferred + 1;
        return;
    }
    if (inside_wrapper) handled_inside = handled_inside + 1;
    handled = handled + 1;
    errno = EINTR;
}

}  // namespace probe

#if VORLIX_INTERPOSE
extern "C" {
void *__libc_malloc(size_t);
void *__libc_realloc(void *, size_t);
void *__libc_calloc(size_t, size_t);
void __libc_free(void *);

void *malloc(size_t n) {
    probe::maybe_raise(probe::Fn::malloc);
    if (probe::fail_malloc.exchange(false)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(n);
}

void *realloc(void *p, size_t n) {
    probe::maybe_raise(probe::Fn::realloc);
    if (n == 0) ++probe::realloc_to_zero;
    if (probe::fail_realloc.exchange(false)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_realloc(p, n);
}

void *calloc(size_t n, size_t m) { return __libc_calloc(n, m); }

void free(void *p) {
    if (p && p == probe::watched.load()) ++probe::watched_frees;
    __libc_free(p);
    probe::maybe_raise(probe::Fn::free);
}
}
#endif

namespace {

#define SKIP_WITHOUT_INTERPOSER()                                          \
    do {                                                                   \
        if (!VORLIX_INTERPOSE) {                                           \
            GTEST_SKIP() << "malloc cannot be replaced under a sanitizer"; \
        }                                                                  \
    } while (0)

class VmSignal : public ::testing::Test {
  protected:
    void SetUp() override {
        probe::reset();
        struct sigaction sa {};
        sa.sa_handler = probe::handler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_NODEFER;
        sigaction(SIGUSR1, &sa, &old_usr1_);
        sigaction(SIGUSR2, &sa, &old_usr2_);
    }
    void TearDown() override {
        sigaction(SIGUSR1, &old_usr1_, nullptr);
        sigaction(SIGUSR2, &old_usr2_, nullptr);
        probe::reset();
    }

  private:
    struct sigaction old_usr1_ {
    }, old_usr2_{};
};

TEST_F(VmSignal, OutsideThePrimitivesTheHandlerActs) {
    EXPECT_EQ(for__set_signal_ops_during_vm(SIGUSR1), 0);
    raise(SIGUSR1);
    EXPECT_EQ(probe::deferred, 0);
    EXPECT_EQ(probe::handled, 1);
}

struct Deferral_Case {
    const char *what;
    probe::Fn inside;
    std::vector<int> signals;
    bool cleared_inside;
    int delivered_after;
};

void *area_for(probe::Fn f) {
    void *p = nullptr;
    if (f != probe::Fn::malloc) {
        EXPECT_EQ(for__get_vm(32, 0, &p), 0);
    }
    return p;
}

void run_primitive(probe::Fn f, void *area) {
    switch (f) {
    case probe::Fn::malloc: {
        void *p = nullptr;
        EXPECT_EQ(for__get_vm(48, 0, &p), 0);
        std::free(p);
        break;
    }
    case probe::Fn::realloc:
        EXPECT_EQ(for__realloc_vm(4096, &area, 32), 0);
        std::free(area);
        break;
    case probe::Fn::free: EXPECT_EQ(for__free_vm(area), 0); break;
    case probe::Fn::none: break;
    }
}

TEST_F(VmSignal, SignalsInsideTheAllocatorWaitForItsReturn) {
    SKIP_WITHOUT_INTERPOSER();
    const Deferral_Case cases[] = {
        {"malloc", probe::Fn::malloc, {SIGUSR1}, false, 1},
        {"realloc", probe::Fn::realloc, {SIGUSR1}, false, 1},
        {"free", probe::Fn::free, {SIGUSR1}, false, 1},
        {"two signals", probe::Fn::malloc, {SIGUSR1, SIGUSR2}, false, 2},
        {"same signal twice", probe::Fn::malloc, {SIGUSR1, SIGUSR1}, false, 1},
        {"dropped", probe::Fn::malloc, {SIGUSR1}, true, 0},
    };
    for (const Deferral_Case &c : cases) {
        SCOPED_TRACE(c.what);
        probe::reset();
        void *area = area_for(c.inside);
        probe::to_raise = c.signals;
        probe::clear_inside = c.cleared_inside;
        probe::armed = c.inside;
        run_primitive(c.inside, area);
        EXPECT_EQ(probe::armed.load(), probe::Fn::none) << "the wrapper was never reached";
        EXPECT_EQ(probe::handled_when_raised, 0);
        EXPECT_EQ(probe::handled_inside, 0);
        EXPECT_EQ(probe::deferred, static_cast<int>(c.signals.size()));
        EXPECT_EQ(probe::handled, c.delivered_after);
    }
}

TEST_F(VmSignal, ReRaisingKeepsTheAllocatorsErrno) {
    SKIP_WITHOUT_INTERPOSER();
    probe::to_raise = {SIGUSR1};
    probe::armed = probe::Fn::malloc;
    probe::fail_malloc = true;
    void *p = reinterpret_cast<void *>(0x1);
    EXPECT_EQ(for__get_vm(64, 0, &p), msg::no_memory);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(probe::handled, 1);
    EXPECT_EQ(errno, ENOMEM);
}

void fill(void *p, int n) {
    for (int i = 0; i < n; ++i) static_cast<unsigned char *>(p)[i] = static_cast<unsigned char>(i + 3);
}
bool intact(const void *p, int n) {
    for (int i = 0; i < n; ++i)
        if (static_cast<const unsigned char *>(p)[i] != static_cast<unsigned char>(i + 3)) return false;
    return true;
}

TEST_F(VmSignal, ReallocFallsBackOnCopyAndFree) {
    SKIP_WITHOUT_INTERPOSER();
    void *cell = nullptr;
    ASSERT_EQ(for__get_vm(24, 0, &cell), 0);
    fill(cell, 24);
    void *old = cell;
    probe::watched = old;
    probe::fail_realloc = true;
    EXPECT_EQ(for__realloc_vm(1000, &cell, 24), 0);
    EXPECT_NE(cell, old);
    EXPECT_TRUE(intact(cell, 24));
    EXPECT_EQ(probe::watched_frees, 1);
    std::free(cell);
}

TEST_F(VmSignal, ReallocFailingTwiceLeavesTheAreaAlone) {
    SKIP_WITHOUT_INTERPOSER();
    void *cell = nullptr;
    ASSERT_EQ(for__get_vm(24, 0, &cell), 0);
    fill(cell, 24);
    void *old = cell;
    probe::watched = old;
    probe::fail_realloc = true;
    probe::fail_malloc = true;
    EXPECT_EQ(for__realloc_vm(1000, &cell, 24), msg::no_memory);
    EXPECT_EQ(cell, old);
    EXPECT_TRUE(intact(cell, 24));
    EXPECT_EQ(probe::watched_frees, 0);
    std::free(cell);
}

TEST_F(VmSignal, ReallocToZeroFreesOnce) {
    SKIP_WITHOUT_INTERPOSER();
    void *cell = nullptr;
    ASSERT_EQ(for__get_vm(24, 0, &cell), 0);
    probe::watched = cell;
    EXPECT_EQ(for__realloc_vm(0, &cell, 24), 0);
    EXPECT_EQ(cell, nullptr);
    EXPECT_EQ(probe::watched_frees, 1);
    EXPECT_EQ(probe::realloc_to_zero, 0) << "realloc(p, 0) frees p itself";
}

TEST_F(VmSignal, DisabledVmFreesNothing) {
    SKIP_WITHOUT_INTERPOSER();
    void *p = nullptr;
    ASSERT_EQ(for__get_vm(24, 0, &p), 0);
    probe::watched = p;
    for__disable_vm();
    EXPECT_EQ(for__free_vm(p), 0);
    EXPECT_EQ(probe::watched_frees, 0);
    for__dont_free = 0;
    EXPECT_EQ(for__free_vm(p), 0);
    EXPECT_EQ(probe::watched_frees, 1);
}

}  // namespace
