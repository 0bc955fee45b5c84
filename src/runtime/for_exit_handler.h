// The exit handler and the one gate through which every ending of the
// process passes: STOP, ERROR STOP, CALL EXIT, a severe diagnostic, a
// signal and the end of the main program.
#pragma once
#include <atomic>
#include <cstdint>

// 1 while the exit handler runs.
extern std::atomic<int32_t> for__l_exit_termination;

// How the process ends once the exit handler has run.
enum class For_Ending {
    exit,         // exit(status): stdio flushed, atexit handlers run
    abort,        // abort(): a core dump when the system keeps one
    quick,        // _exit(status): from a signal handler, where exit() is unsafe
    quick_abort,  // abort() without flushing stdio: from a signal handler
};

// The floating-point trap summary, the coarray finalisation, and the closing
// of every connected unit (the first run after units were acquired closes
// them; later runs find nothing left). Returns `status` when `error_stop`
// is non-zero, else 0.
int for__exit_handler(int error_stop, int status);

// Ends the process. The first thread to arrive runs the exit handler and
// ends the process with `status`; any other thread arriving meanwhile waits
// for that ending. The same thread coming back (a severe diagnostic while
// units are closed, a STOP from a procedure run at exit) finishes closing
// and ends with the first status, or with its own when the first was 0, so
// that a failure never reads as success. `debugger` raises SIGABRT first.
[[noreturn]] void for__exit_process(int error_stop, int status, For_Ending how, bool debugger = false);

// Non-zero once some thread has begun ending the process, or shutting the
// library down at the end of the main program: its thread id.
uint32_t for__ending_thread();

// Waits for the ending another thread has begun; never returns. A thread
// between statements that meets an ending goes no further: its next
// statement would find units already closed, and its own ending would run
// the exit handler a second time.
[[noreturn]] void for__wait_for_the_ending();

// The shutdown of for_rtl_finish_: claims the ending for the calling thread
// (waiting for the ending when another thread has claimed it), lets the
// statements other threads have in flight finish, closes every unit and
// returns the exit handler's status. Later calls on the same thread run the
// exit handler again over what was opened since.
int for__shutdown();

// Frees the pending exception record; only the first call frees it.
void for__free_excpt_info();
