// Every way a program ends, each in a child process (term_child): the exact
// text on standard error and standard output, the exit status or signal,
// and what the exit handler left in the scratch directory: the scratch
// file deleted, the DISPOSE='DELETE' file deleted, the kept file there.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "term_run.h"

namespace fs = std::filesystem;

namespace {

const std::set<std::string> closed_by_exit = {"kept.dat"};

struct Case {
    const char *ending;
    std::string err, out;
    int exit_code;
    int signal = 0;
};

void check(const Case &c, const Outcome &o) {
    EXPECT_EQ(o.err, c.err) << c.ending;
    EXPECT_EQ(o.out, c.out) << c.ending;
    EXPECT_EQ(o.exit_code, c.exit_code) << c.ending;
    EXPECT_EQ(o.signal, c.signal) << c.ending;
}

TEST(Termination, StopAndErrorStopPrintAndEndWithTheirStatus) {
    const Case cases[] = {
        {"stop", "", "", 0},
        {"stop_3", "3\n", "", 3},
        {"stop_done", "done\n", "", 0},
        // The system keeps the low 8 bits of the status.
        {"stop_300", "300\n", "", 44},
        {"stop_256", "256\n", "", 0},
        {"stop_quiet", "", "", 3},
        {"stop_compat", "", "Stop - Program terminated.\n", 0},
        {"stop_compat_3", "", "Return code 3\n", 3},
        {"stop_compat_text", "", "done\n", 0},
        // Standard output is a pipe, so unit 6 holds its records back: the
        // stop text is a record of the same unit and comes after them.
        {"write_then_stop_compat", "", " before\ndone\n", 0},
        {"nonadvancing_then_stop_compat", "", "part\ndone\n", 0},
        {"error_stop", "", "", 128},
        {"error_stop_bad", "bad\n", "", 128},
        {"error_stop_0", "0\n", "", 0},
        {"error_stop_addr", "7\n", "", 7},
        {"error_stop_addr0", "128\n", "", 128},
        {"error_stop_quiet", "", "", 5},
        {"abort", "x\n", "", 134},
        {"exit_7", "", "", 7},
        {"ieee_report",
         "forrtl: warning (525): IEEE_DIVIDE_BY_ZERO is signaling\n"
         "forrtl: warning (528): IEEE_UNDERFLOW is signaling\nx\n",
         "", 0},
        {"severe", "forrtl: severe (408): boom\n", "", 152},
        {"finish", "", "finish 0\n", 0},
        {"underflow_summary", "forrtl: info (300): 5 floating underflow traps\n", "", 0},
    };
    for (const Case &c : cases) {
        const Outcome o = run(c.ending);
        check(c, o);
        EXPECT_EQ(o.left, closed_by_exit) << c.ending << ": units not closed at the end";
    }
}

TEST(Termination, ErrorStopEndsEvenWhenItsTextCannotBePrinted) {
    // Unit 0 cannot be connected to the closed descriptor (108); a handler
    // claims the diagnostic: STOP hands the failure back to the program,
    // ERROR STOP still ends the process.
    const Outcome stop = run("stop_unprintable");
    EXPECT_EQ(stop.out, "returned 108\n");
    EXPECT_EQ(stop.exit_code, 99);
    const Outcome error_stop = run("error_stop_unprintable");
    EXPECT_EQ(error_stop.out, "");
    EXPECT_EQ(error_stop.exit_code, 128);
    EXPECT_EQ(error_stop.left, closed_by_exit);
}

TEST(Termination, ReentryFromTheExitHandlerEndsWithTheFirstStatus) {
    const Outcome o = run("restart_from_exit");
    EXPECT_EQ(o.err, "9\n");
    EXPECT_EQ(o.exit_code, 7);
    EXPECT_EQ(o.left, closed_by_exit);
}

TEST(Termination, TwoThreadsStoppingAtOnceEndOnce) {
    for (int i = 0; i < 20; ++i) {
        const Outcome o = run("two_threads");
        ASSERT_TRUE((o.err == "3\n" && o.exit_code == 3) || (o.err == "4\n" && o.exit_code == 4))
            << o.err << " status " << o.exit_code;
        EXPECT_EQ(o.left, closed_by_exit);
    }
}

// The undefined-behaviour checks stop a deliberate integer division by
// zero or null store before it faults, so the fault cases need a build
// without them; signals sent to the process run everywhere.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_SANITIZER() GTEST_SKIP() << "the sanitizer catches the deliberate fault first"
#else
#define SKIP_UNDER_SANITIZER() (void)0
#endif

TEST(Signals, EachSentSignalGivesItsMessageAndEnding) {
    const Case cases[] = {
        {"sigint", "forrtl: error (69): process interrupted (SIGINT)\n", "", 1},
        {"sigterm", "forrtl: error (78): process killed (SIGTERM)\n", "", 1},
        {"sigquit", "forrtl: error (79): process quit (SIGQUIT)\n", "", -1, SIGABRT},
        // Sent by a process, so no instruction divided by zero.
        {"kill_fpe", "forrtl: error (75): floating point exception\n", "", -1, SIGABRT},
        {"float_divide", "forrtl: error (73): floating divide by zero\n", "", -1, SIGABRT},
    };
    for (const Case &c : cases) {
        const Outcome o = run(c.ending);
        check(c, o);
        EXPECT_EQ(o.left, closed_by_exit) << c.ending << ": units not closed at the end";
    }
}

TEST(Signals, EachFaultGivesItsMessageAndEnding) {
    SKIP_UNDER_SANITIZER();
    const Case cases[] = {
        {"int_divide", "forrtl: severe (71): integer divide by zero\n", "", 71},
        {"segv", "forrtl: severe (174): SIGSEGV, segmentation fault occurred\n", "", 174},
        // A page of a mapped file cut short: reported as the memory fault it is.
        {"bus_error", "forrtl: severe (174): SIGSEGV, segmentation fault occurred\n", "", 174},
    };
    for (const Case &c : cases) {
        const Outcome o = run(c.ending);
        check(c, o);
        EXPECT_EQ(o.left, closed_by_exit) << c.ending << ": units not closed at the end";
    }
}

TEST(Signals, AbortClosesNothingAndAborts) {
    // The allocator may be locked: the scratch files stay behind.
    const Outcome o = run("sigabrt");
    EXPECT_EQ(o.err, "forrtl: error (76): Abort trap signal\n");
    EXPECT_EQ(o.signal, SIGABRT);
    EXPECT_EQ(o.left.count("doomed.dat"), 1u);
}

TEST(Signals, AFaultInsideTheHandlerEndsWithAFixedText) {
    SKIP_UNDER_SANITIZER();
    const Case cases[] = {
        {"nested_segv", "forrtl: severe (174): SIGSEGV, segmentation fault occurred\n", "", 174},
        {"nested_fpe", "forrtl: severe (8): a fault in the run-time signal handler\n", "", 8},
    };
    for (const Case &c : cases) check(c, run(c.ending));
}

TEST(Signals, TracebackFromTheSignalNamesTheFaultingFunction) {
    SKIP_UNDER_SANITIZER();
    const Outcome o = run("int_divide", {"FOR_FORCE_STACK_TRACE=1"});
    EXPECT_EQ(o.err.rfind("forrtl: severe (71): integer divide by zero\nStack trace, innermost call first:\n#0", 0), 0u)
        << o.err;
    // The first frame is the one that divided, not the signal machinery.
    const std::size_t first = o.err.find("#0 ");
    EXPECT_NE(o.err.find(" term_child_divide+0x", first), std::string::npos) << o.err;
    EXPECT_LT(o.err.find(" term_child_divide+0x", first), o.err.find("#1 ")) << o.err;
    EXPECT_EQ(o.exit_code, 71);
}

TEST(Pause, BackgroundWaitsForSigtermAndRestoresTheHandler) {
    const Outcome o = run("pause_background");
    EXPECT_EQ(o.out, "wait\nPAUSE prompt> To continue from background, execute 'kill -15 " + std::to_string(o.pid) +
                         "'\ncontinued, handler restored\n");
    EXPECT_EQ(o.exit_code, 0);
}

TEST(Pause, AnswersContinueOrEnd) {
    struct Answer {
        const char *text;
        bool continues;
    } answers[] = {{"cont\n", true},       {"\n", true}, {"  Continue  \n", true}, {"c\n", true}, {"quit\n", false},
                   {"continues\n", false}, {"", false}};
    for (const Answer &a : answers) {
        const Outcome o = run("pause_answer", {}, a.text);
        EXPECT_EQ(o.out, std::string("FORTRAN PAUSE\nPAUSE prompt> ") + (a.continues ? "continued\n" : ""))
            << '"' << a.text << '"';
        EXPECT_EQ(o.exit_code, 0) << a.text;
    }
}

// Standard output is a pipe: unit 6 holds its records, and they must come
// out before the prompt that C's standard output writes.
TEST(Pause, ThePromptFollowsWhatUnitSixHolds) {
    const Outcome o = run("pause_answer_after_write", {}, "\n");
    EXPECT_EQ(o.out, " before\nFORTRAN PAUSE\nPAUSE prompt> continued\n");
    // FORTRAN carriage control ends a record with a carriage return and
    // leaves its line open: the prompt gets a line of its own.
    const Outcome cc = run("pause_answer_after_fortran_cc", {}, "\n");
    EXPECT_EQ(cc.out, "before\r\nFORTRAN PAUSE\nPAUSE prompt> continued\n");
}

}  // namespace
