// A program that ends in the way its first argument names, after opening a
// scratch file (unit 10), a named file to be deleted at close (unit 11)
// and a named file to be kept (unit 12) in $TMPDIR. The tests look at what
// it printed, how it ended and what it left in $TMPDIR.
#include <fcntl.h>
#include <fenv.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include <vorlix/diag.h>
#include <vorlix/io.h>
#include <vorlix/runtime.h>
#include <vorlix/stop.h>

#include "runtime/for_fpe.h"
#include "runtime/for_signals.h"
#include "support/kit.h"

// Both operands unknown, so the compiler cannot turn the division into a
// test; exported, so that a trace can name it.
extern "C" __attribute__((visibility("default"), noinline)) int term_child_divide();

namespace {

int open_unit(int unit, kit::Keys &k) {
    kit::Flags f;
    For_Context ctx{};
    return for_open(&ctx, unit, f, k.dsc(), k.val());
}

void open_files() {
    const std::string dir = std::getenv("TMPDIR");
    kit::Keys scratch;
    scratch.text(FOR_KEY_STATUS, "scratch");
    kit::Keys doomed;
    doomed.text(FOR_KEY_FILE, dir + "/doomed.dat").text(FOR_KEY_DISPOSE, "delete");
    kit::Keys kept;
    kept.text(FOR_KEY_FILE, dir + "/kept.dat");
    if (open_unit(10, scratch) || open_unit(11, doomed) || open_unit(12, kept)) {
        std::puts("open failed");
        std::exit(99);
    }
}

volatile int zero = 0, seven_v = 7;

int claim_all(int *, int *, const char *, void *, int64_t) { return 1; }
int fault_in_handler(int *, int *, const char *, void *, int64_t) {
    *static_cast<volatile int *>(nullptr) = 1;
    return 0;
}
int divide_in_handler(int *, int *, const char *, void *, int64_t) { return term_child_divide(); }
int stop_in_handler(int *, int *, const char *, void *, int64_t) {
    for_stop("9", 1);
    return 0;
}

void pause_in_background() {
    std::thread([] {
        usleep(300000);
        kill(getpid(), SIGTERM);
    }).detach();
    for_pause("wait", 4);
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    std::printf("continued, %s\n", now.sa_sigaction == for__signal_handler ? "handler restored" : "handler lost");
    std::fflush(stdout);
}

// Writers for the endings that come while other threads do I/O: each
// writes numbered records of one fixed width to a file of its own in
// $TMPDIR (w<t>.dat), and all of them to one shared file (shared.dat,
// unit 13), without end. The tests find every record whole.
constexpr int writers = 4;

void start_writers() {
    const std::string dir = std::getenv("TMPDIR");
    // A unit opened again by default ("fort.<n>") shows up beside the others.
    if (chdir(dir.c_str()) != 0) std::exit(99);
    kit::Keys shared;
    shared.text(FOR_KEY_FILE, dir + "/shared.dat");
    if (open_unit(13, shared) != 0) std::exit(99);
    for (int t = 0; t < writers; ++t) {
        kit::Keys k;
        k.text(FOR_KEY_FILE, dir + "/w" + std::to_string(t) + ".dat");
        if (open_unit(20 + t, k) != 0) std::exit(99);
        std::thread([t] {
            for (int32_t n = 0;; ++n) {
                char line[40];
                std::snprintf(line, sizeof line, "writer %d record %09d", t, n);
                for (int unit : {20 + t, 13}) {
                    kit::Stmt st(unit);
                    st.items.text(line).end();
                    if (st.run(for_write_seq_lis) != 0) std::_Exit(97);
                }
            }
        }).detach();
    }
    usleep(100000);
}

// A bus error of the hardware's own: a mapped page of a file cut short.
void bus_error() {
    const std::string name = std::string(std::getenv("TMPDIR")) + "/mapped";
    const int fd = open(name.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0 || ftruncate(fd, 4096) != 0) std::exit(99);
    auto *p = static_cast<volatile char *>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
    if (p == MAP_FAILED || ftruncate(fd, 0) != 0) std::exit(99);
    unlink(name.c_str());
    std::printf("%d\n", p[0]);
}

}  // namespace

int term_child_divide() { return seven_v / zero; }

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const std::string_view what = argc > 1 ? argv[1] : "";
    if (!what.starts_with("pause_answer")) open_files();
    const int32_t three = 3, three_hundred = 300, two_five_six = 256, seven = 7, zero_code = 0;
    const uint64_t compat = VORLIX_STOP_COMPAT;
    if (what == "stop") for_stop(nullptr, 0);
    if (what == "stop_3") for_stop_core_int(&three, 0, 0, 0);
    if (what == "stop_done") for_stop("done", 4);
    if (what == "stop_300") for_stop_core_int(&three_hundred, 0, 0, 0);
    if (what == "stop_256") for_stop_core_int(&two_five_six, 0, 0, 0);
    if (what == "stop_quiet") for_stop_core_quiet("3", 1, 1, 0, 3, 1);
    if (what == "stop_compat") for_stop_core(nullptr, 0, compat, 0, 0);
    if (what == "stop_compat_3") for_stop_core("3", 1, compat, 3, 1);
    if (what == "stop_compat_text") for_stop_core("done", 4, compat, 0, 0);
    if (what == "write_then_stop_compat") {
        // WRITE (6, *) 'before'; the stop text follows what unit 6 holds.
        kit::Stmt w(6);
        w.items.text("before").end();
        if (w.run(for_write_seq_lis) != 0) return 98;
        for_stop_core("done", 4, compat, 0, 0);
    }
    if (what == "nonadvancing_then_stop_compat") {
        // WRITE (6, '(A)', ADVANCE='NO') 'part': the stop text ends that line
        // and stands on its own.
        const For_Char_Format fmt{3, "(A)"};
        kit::Stmt w(6);
        w.flags.fmt_text();
        w.control.advance("NO");
        w.items.text("part").end();
        if (w.run(for_write_seq_fmt, &fmt) != 0) return 98;
        for_stop_core("done", 4, compat, 0, 0);
    }
    if (what == "error_stop") for_error_stop(nullptr, 0, 0, 0, 0);
    if (what == "error_stop_bad") for_error_stop("bad", 3, 0, 0, 0);
    if (what == "error_stop_0") for_error_stop_int(nullptr, 0, 0, 0, 0, 1);
    if (what == "error_stop_addr") for_error_stop_int(&seven, 0, 0, 0, 0, 0);
    if (what == "error_stop_addr0") for_error_stop_int(&zero_code, 0, 0, 0, 0, 0);
    if (what == "error_stop_quiet") for_error_stop_quiet("bad", 3, 1, 0, 5, 1);
    if (what == "abort") for_abort("x", 1);
    if (what == "exit_7") for_exit(&seven);
    if (what == "ieee_report") {
        feraiseexcept(FE_DIVBYZERO | FE_UNDERFLOW);
        for_stop_core("x", 1, VORLIX_STOP_IEEE_REPORT | VORLIX_STOP_HIGH_VALID, 0, 0);
    }
    if (what == "severe") for_emit_diagnostic(4 << 26, "boom");
    if (what == "finish") {
        const int s = for_rtl_finish_();
        std::printf("finish %d\n", s);
        return 0;
    }
    if (what == "underflow_summary") {
        const int word = fpe::count_und | fpe::count_ovf;
        for_set_fpe_(&word);
        for__l_undcnt = 5;
        return for_rtl_finish_();
    }
    if (what == "restart_from_exit") {
        // A STOP reached while the exit handler runs (here from the user
        // handler of the trap summary) ends with the first status.
        const int word = fpe::count_und;
        for_set_fpe_(&word);
        for__l_undcnt = 5;
        for__establish_user_error_handler(stop_in_handler, nullptr, nullptr, nullptr);
        for_exit(&seven);
    }
    if (what == "two_threads") {
        const int32_t four = 4;
        std::thread t([&] { for_stop_core_int(&four, 0, 0, 0); });
        for_stop_core_int(&three, 0, 0, 0);
    }
    if (what == "stop_unprintable" || what == "error_stop_unprintable") {
        // Standard error is gone: the stop text cannot be written, and the
        // failure is claimed by the program's handler.
        for__establish_user_error_handler(claim_all, nullptr, nullptr, nullptr);
        close(STDERR_FILENO);
        const int r = what == "stop_unprintable" ? for_stop("done", 4) : for_error_stop("bad", 3, 0, 0, 0);
        std::printf("returned %d\n", r);
        std::fflush(stdout);
        std::exit(99);
    }
    if (what == "sigint") raise(SIGINT);
    if (what == "sigterm") raise(SIGTERM);
    if (what == "sigquit") raise(SIGQUIT);
    if (what == "sigabrt") raise(SIGABRT);
    if (what == "int_divide") std::printf("%d\n", term_child_divide());
    if (what == "kill_fpe") kill(getpid(), SIGFPE);
    if (what == "float_divide") {
        const int word = fpe::trap_div;
        for_set_fpe_(&word);
        volatile double one = 1.0, nothing = 0.0;
        std::printf("%g\n", one / nothing);
    }
    if (what == "segv") *static_cast<volatile int *>(nullptr) = 1;
    if (what == "bus_error") bus_error();
    if (what == "finish_while_writing") {
        // The end of a main program whose threads still write: their next
        // statements wait for the ending; none reports a closed unit.
        start_writers();
        const int s = for_rtl_finish_();
        std::printf("finish %d\n", s);
        std::fflush(stdout);
        _exit(0);
    }
    if (what == "sigterm_while_writing") {
        // SIGTERM to the process: any thread may take it, a writer in the
        // middle of a record among them.
        start_writers();
        kill(getpid(), SIGTERM);
        for (;;) pause();
    }
    if (what == "sigterm_in_malloc") {
        // SIGTERM to a thread that spends its time in the allocator, which
        // the exit handler's frees need too.
        const pthread_t main_thread = pthread_self();
        std::thread([main_thread] {
            usleep(50000);
            pthread_kill(main_thread, SIGTERM);
        }).detach();
        for (unsigned i = 0;; ++i) {
            void *volatile p = std::malloc(16 + (i % 4096));
            std::free(p);
        }
    }
    if (what == "nested_segv" || what == "nested_fpe") {
        for__establish_user_error_handler(what == "nested_segv" ? fault_in_handler : divide_in_handler, nullptr,
                                          nullptr, nullptr);
        raise(SIGINT);
    }
    if (what == "pause_background") {
        pause_in_background();
        return for_rtl_finish_();
    }
    if (what == "pause_answer") {
        for_pause(nullptr, 0);
        std::printf("continued\n");
        return 0;
    }
    if (what == "pause_answer_after_write" || what == "pause_answer_after_fortran_cc") {
        // WRITE (6, *) 'before', then PAUSE; in the second case unit 6 is
        // opened in the compatibility dialect, with FORTRAN carriage control.
        kit::Stmt w(6);
        if (what == "pause_answer_after_fortran_cc") w.flags.set(iof_opt_c);
        w.items.text("before").end();
        if (w.run(for_write_seq_lis) != 0) return 98;
        for_pause(nullptr, 0);
        std::printf("continued\n");
        return 0;
    }
    std::printf("no ending named %s\n", argv[1]);
    return 98;
}
