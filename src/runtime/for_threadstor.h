// Storage that the run-time keeps per thread, and the one process-wide
// static block beside it.
#pragma once
#include <cstdint>

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
struct For_Thread_Storage {
    For_Lub *ifile_top;       // innermost internal-file unit of this thread
    For_Lub *ifile_spare;     // a freed internal-file block kept for reuse
    For_Last_Error last_error;
    ~For_Thread_Storage();    // gives the spare block back when the thread ends
};

For_Thread_Storage &for__thread_storage();

// Process-wide block: the state of the standard random-number generator is
// deliberately shared by all threads, as programs expect one sequence.
struct For_Static_Storage {
    uint64_t reserved0;
    uint32_t random_state[2];
    unsigned char portability[232];
};
extern For_Static_Storage for__static_threadstor_private;

// A small, stable id of the calling thread (its kernel thread id), never 0.
uint32_t for__thread_id();
