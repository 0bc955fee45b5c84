// The exit handler: what a terminating program still owes its files and
// its companions (floating-point trap counts, the coarray library, every
// connected unit), and the gate that makes it run once per ending.
#include "runtime/for_exit_handler.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "caf/for_caf.h"
#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "runtime/for_fpe.h"
#include "runtime/for_signals.h"
#include "runtime/for_threadstor.h"
#include "runtime/for_vm.h"
#include "units/for_lub.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"

std::atomic<int32_t> for__l_exit_termination{0};

namespace {

constexpr int walk_idle = -2;

// The thread that ends the process, and the status it ends with.
std::atomic<uint32_t> ending_owner{0};
std::atomic<int> ending_status{0};

// Where the unit walk stands. A severe close failure ends the process from
// inside the walk; the nested run of the handler on the same thread goes on
// after the unit that failed instead of leaving the rest unclosed.
std::atomic<int> walk_index{walk_idle};

void close_one(For_Lub *lub) {
    const int unit = lub->lub_unit;
    if (!(lub->lub_flags & lubf::opened)) {
        if (for__deallocate_lub(unit) != 0) for__issue_diagnostic(msg::internal_error, 2, "for_exit_handler", __LINE__);
        return;
    }
    // Conditions of a statement long finished must not turn the close
    // failure into a silent return: nothing is left to return it to.
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end | lubf::stmt_eor);
    lub->lub_stmt_flags &= ~lubs::iostat;
    if (for__close_default(lub, true) != 0) {
        // A close that failed but did not end the process: the unit is
        // given up all the same, so no later run tries it again.
        lub->lub_flags &= ~lubf::opened;
        if (for__deallocate_lub(unit) != 0) for__issue_diagnostic(msg::internal_error, 2, "for_exit_handler", __LINE__);
    }
}

void close_all_units() {
    int index = walk_index.exchange(walk_idle);
    if (index == walk_idle) {
        if (for__l_exit_hand_decl.exchange(0) == 0) return;
        index = -1;
    } else if (index == -1) {
        return;  // the walk had already handed out its last unit
    }
    for (;;) {
        For_Lub *lub = nullptr;
        const int s = for__get_next_lub(&lub, &index, FOR_OP_CLOSE);
        if (s == msg::recursive_io) {
            // A statement of this thread is still active on the unit.
        } else if (s != 0) {
            for__issue_diagnostic(msg::internal_error, 2, "for_exit_handler", __LINE__);
        } else if (lub) {
            walk_index.store(index);
            close_one(lub);
        }
        if (index == -1 || (s == 0 && !lub)) break;
    }
    walk_index.store(walk_idle);
}

[[noreturn]] void end_now(int status, For_Ending how, bool debugger) {
    if (debugger) raise(SIGABRT);
    switch (how) {
    case For_Ending::abort: std::fflush(nullptr); [[fallthrough]];
    case For_Ending::quick_abort: {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGABRT, &dfl, nullptr);
        std::abort();
    }
    case For_Ending::quick: _exit(status);
    case For_Ending::exit: break;
    }
    std::exit(status);
}

}  // namespace

void for__free_excpt_info() {
    For_Excpt_Info *p = __atomic_exchange_n(&for__l_excpt_info, nullptr, __ATOMIC_ACQ_REL);
    if (p && p != &for__signal_fallback_record) for__free_vm(p);
}

int for__exit_handler(int error_stop, int status) {
    // A run that starts from inside the summary or the coarray hook (a
    // user error handler that stops the program) goes straight on to the
    // units: running them again would only come back here.
    static std::atomic<bool> reporting{false};
    if (!reporting.exchange(true)) {
        for__fpe_exit_handler();
        for__l_exit_termination.store(1);
        for__caf_finalize();
        reporting.store(false);
    }
    for__l_exit_termination.store(1);
    for__free_excpt_info();
    close_all_units();
    for__l_exit_termination.store(0);
    return error_stop ? status : 0;
}

uint32_t for__ending_thread() { return ending_owner.load(); }

void for__wait_for_the_ending() {
    for (;;) pause();
}

int for__shutdown() {
    const uint32_t me = for__thread_id();
    uint32_t owner = 0;
    if (!ending_owner.compare_exchange_strong(owner, me) && owner != me) for__wait_for_the_ending();
    return for__exit_handler(0, 0);
}

void for__exit_process(int error_stop, int status, For_Ending how, bool debugger) {
    const uint32_t me = for__thread_id();
    uint32_t owner = 0;
    if (!ending_owner.compare_exchange_strong(owner, me)) {
        if (owner != me) for__wait_for_the_ending();
        int first = ending_status.load();
        if (first == 0) ending_status.store(first = status);
        for__exit_handler(error_stop, status);
        end_now(first, how, debugger);
    }
    ending_status.store(status);
    for__exit_handler(error_stop, status);
    end_now(status, how, debugger);
}
