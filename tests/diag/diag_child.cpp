// A program that issues diagnostics, run by the tests as a child process
// with an environment of their own: what it writes to standard error and
// how it ends are the results. Every scenario reports progress on stdout.
//
//   diag_child <scenario> [arguments...]
#include "diag/for_diag.h"
#include "diag/for_msgtab.h"
#include "runtime/for_threadstor.h"
#include "units/for_lub_mgt.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

// Allocation failures on demand: an allocation of exactly `fail_size`
// bytes fails, so a scenario can take away one particular buffer. The
// address sanitizer owns malloc itself; under it there is no such failure
// (the tests skip those cases).
static std::size_t fail_size = 0;
#ifndef __SANITIZE_ADDRESS__
extern "C" void *__libc_malloc(std::size_t);
extern "C" void *__libc_calloc(std::size_t, std::size_t);
extern "C" void *malloc(std::size_t n) { return n == fail_size && n != 0 ? nullptr : __libc_malloc(n); }
extern "C" void *calloc(std::size_t k, std::size_t n) {
    return k * n == fail_size && n != 0 ? nullptr : __libc_calloc(k, n);
}
#endif

#define SCENARIO extern "C" __attribute__((visibility("default"), noinline))

namespace {

// Arguments "i:12" (an int) and "s:text" (a string), at most three.
struct Args {
    int n = 0;
    bool is_int[3]{};
    int ints[3]{};
    const char *strs[3]{};
};

Args parse_args(int argc, char **argv, int from) {
    Args a;
    for (int i = from; i < argc && a.n < 3; ++i, ++a.n) {
        if (std::strncmp(argv[i], "i:", 2) == 0) {
            a.is_int[a.n] = true;
            a.ints[a.n] = std::atoi(argv[i] + 2);
        } else {
            a.strs[a.n] = argv[i] + 2;
        }
    }
    return a;
}

}  // namespace

// The argument list of for__issue_diagnostic for the types given. Named in
// traces: the first frame of a diagnostic's trace is this caller.
SCENARIO int child_issue_with(int number, int nargs, const Args &a) {
    auto v = [&](int i) -> long long { return a.is_int[i] ? a.ints[i] : 0; };
    auto s = [&](int i) { return a.strs[i]; };
    const int shape = (a.n > 0 ? (a.is_int[0] ? 1 : 2) : 0) + 3 * (a.n > 1 ? (a.is_int[1] ? 1 : 2) : 0) +
                      9 * (a.n > 2 ? (a.is_int[2] ? 1 : 2) : 0);
    int r = 0;
    switch (shape) {
    case 0: r = for__issue_diagnostic(number, nargs); break;
    case 1: r = for__issue_diagnostic(number, nargs, (int)v(0)); break;
    case 2: r = for__issue_diagnostic(number, nargs, s(0)); break;
    case 1 + 3 * 2: r = for__issue_diagnostic(number, nargs, (int)v(0), s(1)); break;
    case 2 + 3 * 1: r = for__issue_diagnostic(number, nargs, s(0), (int)v(1)); break;
    case 2 + 3 * 2: r = for__issue_diagnostic(number, nargs, s(0), s(1)); break;
    case 2 + 3 * 1 + 9 * 2: r = for__issue_diagnostic(number, nargs, s(0), (int)v(1), s(2)); break;
    default: std::fprintf(stdout, "unsupported argument shape\n"); std::exit(90);
    }
    // Not a tail call: this frame stays on the stack for the trace.
    std::fflush(stdout);
    return r;
}

namespace {

int handler_result = 0;

int print_handler(int *number, int *continuable, const char *text, void *context, int64_t length) {
    std::printf("handler number=%d continuable=%d context=%s length=%lld text=<%.*s>\n", *number, *continuable,
                static_cast<const char *>(context), static_cast<long long>(length), static_cast<int>(length), text);
    std::fflush(stdout);
    return handler_result;
}

void name_unit(int unit, const char *name) {
    For_Lub *lub = nullptr;
    For_Context ctx{};
    if (for__acquire_lun(unit, &lub, &ctx, FOR_OP_OPEN) != 0 || !lub) {
        std::printf("cannot create unit %d\n", unit);
        std::exit(91);
    }
    lub->lub_file_name = strdup(name);
    lub->lub_file_name_len = static_cast<int16_t>(std::strlen(name));
    for__release_lub(lub);
}

pthread_barrier_t barrier;

struct Thread_Case {
    int number;
    char var[24];
    const char *got_msg;
    std::string msg_copy_later;
};

void *iomsg_thread(void *p) {
    auto &c = *static_cast<Thread_Case *>(p);
    std::memset(c.var, '?', sizeof c.var);
    // Both threads first set their targets, then both issue: a target
    // shared by the process would send one thread's text into the other's
    // variable.
    for__set_iomsg_target(c.var, sizeof c.var);
    pthread_barrier_wait(&barrier);
    c.got_msg = for__get_msg(c.number, 0);
    pthread_barrier_wait(&barrier);
    for__issue_diagnostic(c.number, 2, c.number, "t.dat");
    pthread_barrier_wait(&barrier);
    c.msg_copy_later = c.got_msg;
    for__clear_iomsg_target();
    return nullptr;
}

}  // namespace

SCENARIO int scenario_issue(int argc, char **argv) {
    const int number = std::atoi(argv[2]);
    const int nargs = std::atoi(argv[3]);
    child_issue_with(number, nargs, parse_args(argc, argv, 4));
    std::printf("returned\n");
    return 0;
}

SCENARIO int scenario_emit(int argc, char **argv) {
    const int code = static_cast<int>(std::strtol(argv[2], nullptr, 0));
    std::string text = argc > 3 ? argv[3] : "";
    if (text == "<long>") text.assign(8193, 'L');
    if (argc > 4)
        for_emit_diagnostic(code, text.c_str(), std::atoi(argv[4]));
    else
        for_emit_diagnostic(code, "%s", text.c_str());
    std::printf("returned\n");
    return 0;
}

SCENARIO int scenario_handler(int argc, char **argv) {
    handler_result = std::atoi(argv[2]);
    static char ctx[] = "ctx";
    for__establish_user_error_handler(print_handler, ctx, nullptr, nullptr);
    child_issue_with(std::atoi(argv[3]), std::atoi(argv[4]), parse_args(argc, argv, 5));
    std::printf("returned\n");
    return 0;
}

SCENARIO int scenario_iomsg(int argc, char **argv) {
    const std::size_t len = std::strtoul(argv[2], nullptr, 10);
    std::string var(len, '?');
    for__set_iomsg_target(var.data(), len);
    child_issue_with(std::atoi(argv[3]), std::atoi(argv[4]), parse_args(argc, argv, 5));
    for__clear_iomsg_target();
    std::printf("[%s]\n", var.c_str());
    // Cleared: a later diagnostic leaves the variable alone.
    std::string again = var;
    for__issue_diagnostic(3, 0);
    std::printf("%s\n", again == var ? "untouched" : "overwritten");
    return 0;
}

SCENARIO int scenario_threads(int, char **) {
    pthread_barrier_init(&barrier, nullptr, 2);
    Thread_Case a{}, b{};
    // Two warnings that take a unit and a file name.
    a.number = 5;
    b.number = 255;
    pthread_t ta, tb;
    pthread_create(&ta, nullptr, iomsg_thread, &a);
    pthread_create(&tb, nullptr, iomsg_thread, &b);
    pthread_join(ta, nullptr);
    pthread_join(tb, nullptr);
    std::printf("A[%.*s] B[%.*s]\n", (int)sizeof a.var, a.var, (int)sizeof b.var, b.var);
    std::printf("A msg <%s>\nB msg <%s>\n", a.msg_copy_later.c_str(), b.msg_copy_later.c_str());
    return 0;
}

SCENARIO int scenario_rtc(int argc, char **argv) {
    if (argc > 3)
        for__rtc_uninit_use_src(argv[2], argv[3]);
    else
        for__rtc_uninit_use(argv[2]);
    std::printf("returned\n");
    return 0;
}

SCENARIO int scenario_tracebackqq(int argc, char **argv) {
    const char *text = argv[2];
    int status = 99;
    int code = 0;
    int *code_addr = nullptr;
    if (argc > 3 && std::strcmp(argv[3], "null") != 0) {
        code = std::atoi(argv[3]);
        code_addr = &code;
    }
    int r = tracebackqq_(std::strcmp(text, "null") == 0 ? nullptr : text, code_addr, &status, nullptr,
                         std::strcmp(text, "null") == 0 ? 0 : (int64_t)std::strlen(text));
    std::printf("returned %d status %d\n", r, status);
    return 0;
}

SCENARIO int scenario_continue(int, char **) {
    for__continue_traceback();
    std::printf("returned\n");
    return 0;
}

SCENARIO int scenario_perror(int argc, char **argv) {
    name_unit(12, "data.txt");
    for_errsns_load(std::atoi(argv[2]), std::atoi(argv[3]), 0, std::atoi(argv[4]), 0);
    const char *prefix = argc > 5 ? argv[5] : "";
    for_perror_(prefix, static_cast<int64_t>(std::strlen(prefix)));
    std::printf("returned\n");
    return 0;
}

// Every message number as get_message sees it, with the perror prefix.
SCENARIO int scenario_lookup(int, char **) {
    for (int number = 0; number <= 800; ++number) {
        int severity;
        const char *text;
        if (get_message(number, &severity, &text) == 0) std::printf("%d|%d|%s\x1e\n", number, severity, text);
    }
    std::printf("forrtl_header|%s\n", for__forrtl_header());
    const char *lang = std::getenv("LANG");
    std::printf("LANG|%s\n", lang ? lang : "(unset)");
    return 0;
}

// Closing the catalog at shutdown puts the built-in texts back for good.
SCENARIO int scenario_close(int, char **) {
    for (int round = 0; round < 2; ++round) {
        int severity;
        const char *text;
        get_message(9, &severity, &text);
        std::printf("%s|%s|%s\n", text, for__msg_header(4), for__forrtl_header());
        for__message_catalog_close();
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 2) return 92;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (const char *f = std::getenv("DIAG_CHILD_FAIL_ALLOC")) fail_size = std::strtoul(f, nullptr, 10);
    const std::string_view s = argv[1];
    if (s == "issue") return scenario_issue(argc, argv);
    if (s == "emit") return scenario_emit(argc, argv);
    if (s == "handler") return scenario_handler(argc, argv);
    if (s == "iomsg") return scenario_iomsg(argc, argv);
    if (s == "threads") return scenario_threads(argc, argv);
    if (s == "rtc") return scenario_rtc(argc, argv);
    if (s == "tracebackqq") return scenario_tracebackqq(argc, argv);
    if (s == "continue") return scenario_continue(argc, argv);
    if (s == "perror") return scenario_perror(argc, argv);
    if (s == "lookup") return scenario_lookup(argc, argv);
    if (s == "close") return scenario_close(argc, argv);
    return 93;
}
