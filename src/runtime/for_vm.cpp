#include "runtime/for_vm.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "diag/for_msgnum.h"

int for__dont_free = 0;

namespace {

// Both words are read from this thread's own signal handler, so they are
// lock-free atomics, and initial-exec TLS: the handler must not go through
// __tls_get_addr, which may allocate. The library is a load-time dependency
// of every program, so its TLS is always in the static block.
[[gnu::tls_model("initial-exec")]] thread_local std::atomic<int> vm_depth{0};
// One bit per signal number (1..64), so two different signals arriving in
// the same allocation are both delivered.
[[gnu::tls_model("initial-exec")]] thread_local std::atomic<uint64_t> vm_deferred{0};

constexpr int max_deferrable_signal = 64;

// Marks the calling thread as inside the allocator for its lifetime; on the
// way out delivers what the handler deferred meanwhile.
class Inside_Allocator {
  public:
    Inside_Allocator() {
        vm_depth.fetch_add(1, std::memory_order_relaxed);
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
    ~Inside_Allocator() {
        std::atomic_signal_fence(std::memory_order_seq_cst);
        if (vm_depth.fetch_sub(1, std::memory_order_relaxed) != 1) return;
        // A signal after the decrement is handled directly; one before it is
        // in vm_deferred by now. Either way none is lost.
        std::atomic_signal_fence(std::memory_order_seq_cst);
        uint64_t pending = vm_deferred.exchange(0, std::memory_order_relaxed);
        if (pending == 0) return;
        int saved_errno = errno;  // callers may still want malloc's ENOMEM
        for (int sig = 1; sig <= max_deferrable_signal; ++sig)
            if (pending & (uint64_t{1} << (sig - 1))) kill(getpid(), sig);
        errno = saved_errno;
    }
    Inside_Allocator(const Inside_Allocator &) = delete;
    Inside_Allocator &operator=(const Inside_Allocator &) = delete;
};

}  // namespace

int for__set_signal_ops_during_vm(int sig) {
    if (sig < 1 || sig > max_deferrable_signal) return 0;
    if (vm_depth.load(std::memory_order_relaxed) == 0) return 0;
    vm_deferred.fetch_or(uint64_t{1} << (sig - 1), std::memory_order_relaxed);
    return 1;
}

void for__clear_signal_ops_during_vm() { vm_deferred.store(0, std::memory_order_relaxed); }

int for__get_vm(int64_t size, int64_t /*flags*/, void **out) {
    if (size <= 0) {
        *out = nullptr;
        return size == 0 ? 0 : msg::no_memory;
    }
    void *p;
    {
        Inside_Allocator scope;
        p = std::malloc(static_cast<size_t>(size));
    }
    *out = p;
    return p ? 0 : msg::no_memory;
}

int for__realloc_vm(int64_t size, void **cell, int64_t old_size) {
    if (size < 0) return msg::no_memory;
    void *old = *cell;
    if (size == 0) {
        // Not realloc(old, 0): glibc frees and returns null, which the copy
        // fallback below would take for a failure and free old a second time.
        for__free_vm(old);
        *cell = nullptr;
        return 0;
    }
    void *fresh;
    {
        Inside_Allocator scope;
        fresh = std::realloc(old, static_cast<size_t>(size));
        if (!fresh) {
            fresh = std::malloc(static_cast<size_t>(size));
            if (fresh && old) {
                int64_t keep = old_size < size ? old_size : size;
                if (keep > 0) std::memcpy(fresh, old, static_cast<size_t>(keep));
                std::free(old);
            }
        }
    }
    if (!fresh) return msg::no_memory;
    *cell = fresh;
    return 0;
}

int for__free_vm(void *p) {
    if (!p || std::atomic_ref<int>(for__dont_free).load(std::memory_order_relaxed)) return 0;
    Inside_Allocator scope;
    std::free(p);
    return 0;
}

void for__disable_vm() { std::atomic_ref<int>(for__dont_free).store(1, std::memory_order_relaxed); }
