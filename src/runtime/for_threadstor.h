// Storage that the run-time keeps per thread, and the one process-wide
// static block beside it.
#pragma once
#include <cstdint>
#include <mutex>

#include <pthread.h>

struct For_Lub;

// What the last failing I/O statement of this thread left behind, read by
// ERRSNS, GERROR and PERROR.
struct For_Last_Error {
    uint32_t err_number;
    int32_t err_errno;
    int32_t err_status;
    int32_t err_unit;
    int32_t err_condition;
    char err_keyword[64];  // not NUL-terminated when all 64 are used
};
static_assert(sizeof(For_Last_Error) == 84);

// Per thread: internal files and the last error belong to the statement
// that a thread runs, so parallel internal WRITEs never see each other.
constexpr int for_unit_cache_size = 4;

struct For_Thread_Storage {
    For_Lub *ifile_top;    // innermost internal-file unit of this thread
    For_Lub *ifile_spare;  // a freed internal-file block kept for reuse
    For_Last_Error last_error;
    // Hashed units this thread used last, each pinned by a reference, so
    // that acquiring them again skips the bucket (units table).
    struct Cached_Unit {
        For_Lub *lub;
        int unit;
    } unit_cache[for_unit_cache_size];
    uint32_t unit_cache_next;
    bool cleanup_armed;
    // Gives the spare block and the pins back (at the thread's end).
    void release();
};

// Per-thread objects of the library are trivially destructible on purpose:
// the static TLS model then reaches them without a call. One that comes to
// own memory arms a cleanup, which runs `release(object)` when its thread
// ends (once per arming; the object may arm again afterwards).
struct For_Thread_Exit {
    std::once_flag once;
    pthread_key_t key{};
};
void for__arm_thread_exit(For_Thread_Exit &exit, void (*release)(void *), void *object);

// The thread's storage arms its own cleanup through this.
extern thread_local For_Thread_Storage for__tls_storage __attribute__((tls_model("initial-exec")));
inline For_Thread_Storage &for__thread_storage() { return for__tls_storage; }
void for__thread_storage_owns(For_Thread_Storage &ts);

// Process-wide block: the state of the standard random-number generator is
// deliberately shared by all threads, as programs expect one sequence.
struct For_Static_Storage {
    uint64_t reserved0;
    uint32_t random_state[2];
    unsigned char portability[232];
};
extern For_Static_Storage for__static_threadstor_private;

// A small, stable id of the calling thread (its kernel thread id), never 0.
extern thread_local uint32_t for__tls_tid __attribute__((tls_model("initial-exec")));
uint32_t for__thread_id_slow();
inline uint32_t for__thread_id() {
    uint32_t t = for__tls_tid;
    return t != 0 ? t : for__thread_id_slow();
}
