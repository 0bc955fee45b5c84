// The signal handler. Everything it does before the process ends is
// async-signal-safe: texts in a static buffer written with write(2), no
// heap, no stdio, no catalog, no lock the interrupted code could hold.
// The ending itself runs the exit handler, which closes the units and does
// none of that. For SIGTERM, which arrives whenever another process sends
// it, the ending is handed to a thread of its own that start-up leaves
// waiting: the interrupted thread finishes the statement it was in (its
// record is written whole) and goes no further, while the ending thread
// closes the units. The faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) and
// SIGINT and SIGQUIT still end from the handler: the program cannot go
// on after a fault, and the process goes away right after.
#include "runtime/for_signals.h"

#include <pthread.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "diag/for_msgtab.h"
#include "runtime/for_exit_handler.h"
#include "runtime/for_fpe.h"
#include "runtime/for_reentrancy.h"
#include "runtime/for_vm.h"
#include "runtime/for_write_all.h"
#include "units/for_lub_lock.h"

namespace {

constexpr const char *segv_default_msg = "segmentation fault occurred";
constexpr int vm_repeat_limit = 1000;
// SIGBUS is a memory fault as SIGSEGV is (a mapped file cut short, a
// misaligned access the hardware refuses) and is reported the same way.
constexpr int handled_signals[] = {SIGFPE, SIGILL, SIGSEGV, SIGBUS, SIGABRT, SIGTERM, SIGQUIT, SIGINT};

// Re-entrance guard of the handler, process-wide.
std::atomic<int> for__protect_handler_ops{0};
// The last signal deferred inside the allocator: where it struck, and how
// often it struck there.
std::atomic<uintptr_t> old_PC{0};
std::atomic<int> repeat_count{0};

// The last stack extension: the same fault at the same place again means
// the growth did not help.
struct Extension {
    uintptr_t ip, frame, addr;
};
Extension last_extension{};

alignas(16) char alternate_stack[64 * 1024];

// The record used when start-up could not allocate one: a signal must
// still be able to say where it struck.
For_Signal_Pair current_pair{};

void write_text(const char *text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    for__write_all(STDERR_FILENO, text, n);
}

bool synchronous(int sig, const siginfo_t *info) {
    return info && info->si_code > 0 &&
           (sig == SIGSEGV || sig == SIGFPE || sig == SIGILL || sig == SIGBUS || sig == SIGTRAP);
}

uintptr_t reg(const void *context, int r) {
    return static_cast<uintptr_t>(static_cast<const ucontext_t *>(context)->uc_mcontext.gregs[r]);
}

// A signal while the handler runs. Returning from a fault would run the
// faulting instruction again, for ever; the process ends with a fixed text.
void nested_signal(int sig, const siginfo_t *info) {
    if (sig == SIGSEGV || sig == SIGBUS || synchronous(sig, info)) {
        if (sig == SIGSEGV || sig == SIGBUS) {
            write_text("forrtl: severe (174): SIGSEGV, segmentation fault occurred\n");
            _exit(msg::sigsegv);
        }
        write_text("forrtl: severe (8): a fault in the run-time signal handler\n");
        _exit(msg::internal_error);
    }
}

// Grows the stack when the fault lies between the heap and the interrupted
// frame. The hard limit is kept as it is; the soft limit only ever rises.
bool extend_stack_if_needed(const siginfo_t *info, const void *context) {
    if (for__reentrancy_mode.load() == for__reentrancy_threaded || !info || !context) return false;
    const uintptr_t addr = reinterpret_cast<uintptr_t>(info->si_addr);
    const uintptr_t frame = reg(context, REG_RSP);
    const uintptr_t ip = reg(context, REG_RIP);
    const uintptr_t brk = reinterpret_cast<uintptr_t>(sbrk(0));
    if (!(addr > brk && addr < frame)) return false;
    if (last_extension.ip == ip && last_extension.frame == frame && last_extension.addr == addr) return false;
    rlimit64 lim;
    if (getrlimit64(RLIMIT_STACK, &lim) != 0 || lim.rlim_cur == RLIM64_INFINITY) return false;
    const uint64_t old = lim.rlim_cur;
    const uint64_t distance = frame - addr;
    uint64_t wanted = old + distance + 40000;
    if (old <= UINT64_MAX / 2 && 2 * old < wanted) wanted = 2 * old;
    if (wanted < old) return false;  // wrapped
    wanted = (wanted & ~uint64_t{4095}) + 4096;
    if (wanted <= old) return false;
    if (lim.rlim_max != RLIM64_INFINITY && wanted > lim.rlim_max) {
        if (lim.rlim_max <= old) return false;
        wanted = lim.rlim_max;
    }
    lim.rlim_cur = wanted;
    if (setrlimit64(RLIMIT_STACK, &lim) != 0) return false;
    last_extension = {ip, frame, addr};
    return true;
}

int severity_of(int number) {
    const For_Msg_Row *row = for__msg_row(number);
    return row ? static_cast<int>(row->severity) : 4;
}

// The thread that ends the process for SIGTERM. It waits on a semaphore
// (sem_post is async-signal-safe) with every signal blocked, so that none
// is delivered to it; a child made by fork has no such thread and ends
// from the handler instead, as before.
sem_t ending_wake;
std::atomic<pid_t> ender_pid{0};
std::atomic<bool> ending_handed_off{false};
std::atomic<int> handed_status{0};
std::atomic<int> handed_how{0};
// How long a thread between statements waits in the handler for the ending
// thread to end the process. Normally the process is gone long before;
// the bound matters only when the interrupted code holds a lock the ending
// needs (the allocator's), which it can then release.
constexpr int park_steps = 200;
constexpr long park_step_ns = 10'000'000;

void *ender_main(void *) {
    while (sem_wait(&ending_wake) != 0 || !ending_handed_off.load()) {}
    for__exit_process(0, handed_status.load(), static_cast<For_Ending>(handed_how.load()));
}

void start_ender() {
    if (sem_init(&ending_wake, 0, 0) != 0) return;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, 512 * 1024);
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_t t;
    if (pthread_create(&t, &attr, ender_main, nullptr) == 0) ender_pid.store(getpid());
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_attr_destroy(&attr);
}

// Issues `number` and hands the ending (status and way as report_and_end
// would choose them) to the ending thread. False when there is no ending
// thread in this process. A thread holding a unit returns at once to
// finish its statement; its next statement waits for the ending.
bool hand_off_ending(int number, int status, For_Ending how) {
    if (ender_pid.load() != getpid()) return false;
    if (!ending_handed_off.load()) {
        const int claimed = for__issue_signal_diagnostic(number, nullptr, 0);
        if (for__core_dump_requested()) {
            status = 0;
            how = For_Ending::quick_abort;
        } else if (!claimed && severity_of(number) == 4) {
            status = for__severe_exit_status(number);
            how = For_Ending::quick;
        }
        handed_status.store(status);
        handed_how.store(static_cast<int>(how));
        if (!ending_handed_off.exchange(true)) sem_post(&ending_wake);
    }
    if (lub_lock::held_by_me == 0) {
        const timespec step{0, park_step_ns};
        for (int i = 0; i < park_steps; ++i) nanosleep(&step, nullptr);
    }
    return true;
}

[[noreturn]] void end_after(int status, For_Ending how) { for__exit_process(0, status, how); }

// Issues `number` and ends: severe messages end with their number, others
// with `status`; the dump-core variables ask for an abort instead.
[[noreturn]] void report_and_end(int number, const char *arg, int status, For_Ending how) {
    const int claimed = for__issue_signal_diagnostic(number, arg, 0);
    const int severity = severity_of(number);
    if (for__core_dump_requested()) end_after(0, For_Ending::quick_abort);
    if (!claimed && severity == 4) end_after(for__severe_exit_status(number), For_Ending::quick);
    end_after(status, how);
}

void handle(int sig, siginfo_t *info, void *context) {
    switch (sig) {
    case SIGINT: report_and_end(msg::sigint, nullptr, 1, For_Ending::quick);
    case SIGQUIT: report_and_end(msg::sigquit, nullptr, 1, For_Ending::quick_abort);
    case SIGILL: report_and_end(msg::exc_illegal_instruction, nullptr, 1, For_Ending::quick);
    case SIGABRT: {
        // Most likely raised by the allocator over a corrupted heap, with
        // its locks held: no unit can be closed, nothing can be freed.
        struct sigaction ign {};
        ign.sa_handler = SIG_IGN;
        sigaction(SIGABRT, &ign, nullptr);
        for__disable_vm();
        for__issue_signal_diagnostic(msg::sigabrt, nullptr, 0);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGABRT, &dfl, nullptr);
        abort();
    }
    case SIGFPE: {
        const int m = handle_flt_signal(info, context);
        if (m == 0) return;
        if (m == msg::sigsegv) report_and_end(msg::sigsegv, segv_default_msg, 1, For_Ending::quick);
        For_Excpt_Info *rec = for__l_excpt_info;
        if (rec && (m == msg::float_overflow || m == msg::float_divide_by_zero || m == msg::float_underflow ||
                    m == msg::float_inexact))
            rec->fp_reporting = 1;
        const int claimed = for__issue_signal_diagnostic(m, m == msg::internal_error ? "for_fpe" : nullptr, 0);
        if (rec && (m == msg::float_overflow || m == msg::float_underflow)) rec->fp_reporting = 0;
        if (for__core_dump_requested()) end_after(0, For_Ending::quick_abort);
        if (!claimed && severity_of(m) == 4) end_after(for__severe_exit_status(m), For_Ending::quick);
        end_after(0, For_Ending::quick_abort);
    }
    case SIGSEGV:
        if (extend_stack_if_needed(info, context)) return;
        // Classified by how the processor reported it, never by reading
        // the instruction: 0x62 opens an EVEX instruction in 64-bit code.
        if (context && reg(context, REG_TRAPNO) == 5)
            report_and_end(msg::bounds_exceeded, nullptr, 1, For_Ending::quick);
        report_and_end(msg::sigsegv, segv_default_msg, 1, For_Ending::quick);
    case SIGBUS: report_and_end(msg::sigsegv, segv_default_msg, 1, For_Ending::quick);
    case SIGTERM:
        if (hand_off_ending(msg::sigterm, 1, For_Ending::quick)) return;
        report_and_end(msg::sigterm, nullptr, 1, For_Ending::quick);
    default: for__issue_signal_diagnostic(msg::internal_error, "for_init", __LINE__); end_after(1, For_Ending::quick);
    }
}

}  // namespace

For_Excpt_Info for__signal_fallback_record{};

void for__signal_handler(int sig, siginfo_t *info, void *context) {
    const int saved_errno = errno;
    if (for__protect_handler_ops.exchange(1) != 0) {
        nested_signal(sig, info);
        errno = saved_errno;
        return;
    }
    // Inside the allocator: the signal comes again when it returns.
    if (for__set_signal_ops_during_vm(sig)) {
        const uintptr_t pc = context ? reg(context, REG_RIP) : 0;
        if (pc != 0 && old_PC.exchange(pc) == pc) {
            if (repeat_count.fetch_add(1) + 1 >= vm_repeat_limit) {
                for__clear_signal_ops_during_vm();
                repeat_count.store(0);
                goto handle_now;
            }
        } else {
            repeat_count.store(0);
        }
        for__protect_handler_ops.store(0);
        errno = saved_errno;
        return;
    }
handle_now:
    if (!context) {
        for__protect_handler_ops.store(0);
        errno = saved_errno;
        return;
    }
    current_pair = {info, context};
    {
        For_Excpt_Info *rec = for__l_excpt_info ? for__l_excpt_info : &for__signal_fallback_record;
        if (!for__l_excpt_info) for__l_excpt_info = rec;
        rec->signal_pair = &current_pair;
    }
    handle(sig, info, context);
    // Resumed: a repaired condition or a grown stack.
    if (for__l_excpt_info) for__l_excpt_info->signal_pair = nullptr;
    for__protect_handler_ops.store(0);
    errno = saved_errno;
}

void for__install_signal_handlers() {
    stack_t ss{};
    ss.ss_sp = alternate_stack;
    ss.ss_size = sizeof alternate_stack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_sigaction = for__signal_handler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : handled_signals) sigaction(sig, &sa, nullptr);
    start_ender();
}

void for__disable_signal_stack() {
    stack_t ss{};
    ss.ss_flags = SS_DISABLE;
    sigaltstack(&ss, nullptr);
}
