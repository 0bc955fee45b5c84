// Diagnostics as a program sees them: each case runs diag_child in a child
// process with its own environment and checks the exact standard error
// text, standard output and how the process ended.
#include "diag/for_msgtab.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Outcome {
    std::string out, err;
    int exit_code = -1;  // -1 when killed by a signal
    int signal = 0;
};

std::string slurp_pipes(int out_fd, int err_fd, std::string &err) {
    std::string out;
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    int open_fds = 2;
    char buf[4096];
    while (open_fds > 0) {
        if (poll(fds, 2, 30000) <= 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            } else {
                (i == 0 ? out : err).append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    return out;
}

// Runs `program` with exactly the environment `env`.
Outcome run(const char *program, const std::vector<std::string> &args, const std::vector<std::string> &env) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return {};
    std::vector<char *> argv{const_cast<char *>(program)};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        // Cases that abort must not leave core files behind.
        rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        close(out_pipe[0]);
        close(err_pipe[0]);
        close(out_pipe[1]);
        close(err_pipe[1]);
        execve(program, argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    Outcome o;
    o.out = slurp_pipes(out_pipe[0], err_pipe[0], o.err);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        o.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        o.signal = WTERMSIG(status);
    return o;
}

Outcome child(const std::vector<std::string> &args, std::vector<std::string> env = {}) {
    return run(DIAG_CHILD, args, env);
}

std::string tmp_path(const std::string &name) {
    const char *dir = std::getenv("VORLIX_TEST_TMP");
    std::string p = std::string(dir ? dir : "/tmp") + "/diag_" + std::to_string(getpid()) + "_" + name;
    unlink(p.c_str());
    return p;
}

std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

const std::string no_trace = "FOR_DISABLE_STACK_TRACE=1";

struct Case {
    const char *what;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string err;
    std::string out;
    int exit_code;
    int signal = 0;
};

// diag_child cannot make allocations fail under the address sanitizer.
bool needs_failing_malloc(const std::vector<std::string> &env) {
#ifdef __SANITIZE_ADDRESS__
    for (const std::string &e : env)
        if (e.starts_with("DIAG_CHILD_FAIL_ALLOC=")) return true;
#else
    (void)env;
#endif
    return false;
}

void check(const Case &c) {
    if (needs_failing_malloc(c.env)) return;
    SCOPED_TRACE(c.what);
    Outcome o = child(c.args, c.env);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.exit_code, c.signal ? -1 : c.exit_code);
    EXPECT_EQ(o.signal, c.signal);
}

TEST(DiagnosticOutput, HeaderTextAndEnding) {
    const std::string long_text(8193, 'L');
    const Case cases[] = {
        {"severe ends with the number as status",
         {"issue", "29", "2", "i:12", "s:a.dat"},
         {no_trace},
         "forrtl: severe (29): file not found, unit 12, file a.dat\n",
         "",
         29},
        {"info continues",
         {"issue", "11", "0"},
         {no_trace},
         "forrtl: info (11): unit not connected\n",
         "returned\n",
         0},
        {"severity 0 has no number",
         {"issue", "0", "0"},
         {no_trace},
         "forrtl: operation completed successfully\n",
         "returned\n",
         0},
        {"warning continues",
         {"issue", "3", "0"},
         {no_trace},
         "forrtl: warning (3): ignored requested disposition\n",
         "returned\n",
         0},
        {"error continues",
         {"issue", "78", "0"},
         {no_trace},
         "forrtl: error (78): process killed (SIGTERM)\n",
         "returned\n",
         0},
        {"unknown number: severe, empty line, its own status",
         {"issue", "1000", "0"},
         {no_trace},
         "forrtl: severe (1000): Message not found\n\n",
         "",
         1000 & 0xff},
        {"unknown number with arguments prints the same",
         {"issue", "1000", "1", "i:5"},
         {no_trace},
         "forrtl: severe (1000): Message not found\n\n",
         "",
         1000 & 0xff},
        {"a multiple of 256 does not exit with success",
         {"issue", "256", "2", "i:3", "s:x"},
         {no_trace},
         "forrtl: severe (256): unformatted I/O to unit open for formatted transfers, unit 3, file x\n",
         "",
         255},
        {"only the low 16 bits count",
         {"issue", "65565", "2", "i:12", "s:a.dat"},
         {no_trace},
         "forrtl: severe (29): file not found, unit 12, file a.dat\n",
         "",
         29},
        {"no arguments: the text as it stands",
         {"issue", "29", "0"},
         {no_trace},
         "forrtl: severe (29): file not found, unit %d, file %s\n",
         "",
         29},
        {"fewer arguments than conversions read no more",
         {"issue", "29", "1", "i:12"},
         {no_trace},
         "forrtl: severe (29): file not found, unit 12, file \n",
         "",
         29},
        {"keyword message",
         {"issue", "103", "3", "s:STATUS", "i:4", "s:b.dat"},
         {no_trace},
         "forrtl: severe (103): incorrect STATUS specifier for connected file, unit 4, file b.dat\n",
         "",
         103},
        {"emit severe is 408", {"emit", "0x10000000", "boom"}, {no_trace}, "forrtl: severe (408): boom\n", "", 152},
        {"emit info", {"emit", "0x04000000", "x=%d", "5"}, {no_trace}, "forrtl: info (401): x=5\n", "returned\n", 0},
        {"emit with no severity bits", {"emit", "0x00000007", "plain"}, {no_trace}, "forrtl: plain\n", "returned\n", 0},
        {"emit warning",
         {"emit", "0x08000000", "careful"},
         {no_trace},
         "forrtl: warning (402): careful\n",
         "returned\n",
         0},
        {"emit error", {"emit", "0x0c000000", "bad"}, {no_trace}, "forrtl: error (403): bad\n", "returned\n", 0},
        {"emit negative code prints nothing", {"emit", "-1", "never"}, {no_trace}, "", "returned\n", 0},
        {"emit code 9 prints nothing", {"emit", "0x24000000", "never"}, {no_trace}, "", "returned\n", 0},
        {"emit text too long is message 399",
         {"emit", "0x08000000", "<long>"},
         {no_trace},
         "forrtl: severe (399): Diagnostic message buffer overflow, hex message number was 08000000\n",
         "",
         399 & 0xff},
        {"uninitialised variable",
         {"rtc", "X"},
         {no_trace},
         "forrtl: severe (193): Run-Time Check Failure. The variable 'X' is being used without being "
         "defined\n",
         "",
         193},
        {"uninitialised variable in a procedure",
         {"rtc", "X", "SUB"},
         {no_trace},
         "forrtl: severe (194): Run-Time Check Failure. The variable 'X' is being used in 'SUB' without "
         "being defined\n",
         "",
         194},
        {"display disabled",
         {"issue", "3", "0"},
         {no_trace, "FOR_DISABLE_DIAGNOSTIC_DISPLAY=yes"},
         "",
         "returned\n",
         0},
        {"display disabled by a false value does not count",
         {"issue", "3", "0"},
         {no_trace, "FOR_DISABLE_DIAGNOSTIC_DISPLAY=0"},
         "forrtl: warning (3): ignored requested disposition\n",
         "returned\n",
         0},
        {"core dump after a warning",
         {"issue", "3", "0"},
         {no_trace, "FOR_DUMP_CORE_FILE=1"},
         "forrtl: warning (3): ignored requested disposition\n",
         "",
         0,
         SIGABRT},
        {"core dump by f77_dump_flag",
         {"issue", "11", "0"},
         {no_trace, "f77_dump_flag=y"},
         "forrtl: info (11): unit not connected\n",
         "",
         0,
         SIGABRT},
        {"core dump by quembar_dump_flag",
         {"issue", "29", "0"},
         {no_trace, "quembar_dump_flag=T"},
         "forrtl: severe (29): file not found, unit %d, file %s\n",
         "",
         0,
         SIGABRT},
        {"debugger: error raises SIGINT, no trace",
         {"issue", "78", "0"},
         {"FOR_DEBUGGER_IS_PRESENT=1"},
         "forrtl: error (78): process killed (SIGTERM)\n",
         "",
         0,
         SIGINT},
        {"debugger: severe raises SIGABRT",
         {"issue", "29", "0"},
         {"FOR__IS_DEBUGGER_PRESENT=1"},
         "forrtl: severe (29): file not found, unit %d, file %s\n",
         "",
         0,
         SIGABRT},
        {"debugger: warning goes on",
         {"issue", "3", "0"},
         {"FOR_DEBUGGER_IS_PRESENT=1"},
         "forrtl: warning (3): ignored requested disposition\n",
         "returned\n",
         0},
        {"no memory for the buffer: 503 line, still ends with the number",
         {"issue", "29", "2", "i:12", "s:a.dat"},
         {no_trace, "DIAG_CHILD_FAIL_ALLOC=16384"},
         "Insufficient memory to allocate Fortran RTL message buffer, message #29 = hex 0000001d.\n",
         "",
         29},
        {"no memory for the buffer of a warning",
         {"issue", "3", "0"},
         {no_trace, "DIAG_CHILD_FAIL_ALLOC=16384"},
         "Insufficient memory to allocate Fortran RTL message buffer, message #3 = hex 00000003.\n",
         "returned\n",
         0},
    };
    for (const Case &c : cases) check(c);
}

TEST(DiagnosticOutput, UserHandler) {
    const std::string severe = "forrtl: severe (29): file not found, unit 12, file a.dat\n";
    const std::string warning = "forrtl: warning (3): ignored requested disposition\n";
    const std::string error65 = "forrtl: error (65): floating invalid\n";
    auto seen = [](int number, int continuable, const std::string &text) {
        return "handler number=" + std::to_string(number) + " continuable=" + std::to_string(continuable) +
               " context=ctx length=" + std::to_string(text.size()) + " text=<" + text + ">\n";
    };
    const Case cases[] = {
        {"handled severe: nothing printed, program goes on",
         {"handler", "1", "29", "2", "i:12", "s:a.dat"},
         {},
         "",
         seen(29, 0, severe) + "returned\n",
         0},
        {"declined severe: printed and ended",
         {"handler", "0", "29", "2", "i:12", "s:a.dat"},
         {no_trace},
         severe,
         seen(29, 0, severe),
         29},
        {"handled warning is continuable", {"handler", "1", "3", "0"}, {}, "", seen(3, 1, warning) + "returned\n", 0},
        {"declined warning is printed", {"handler", "0", "3", "0"}, {}, warning, seen(3, 1, warning) + "returned\n", 0},
        {"a floating-point exception is not continuable",
         {"handler", "1", "65", "0"},
         {},
         "",
         seen(65, 0, error65) + "returned\n",
         0},
    };
    for (const Case &c : cases) check(c);
}

TEST(DiagnosticOutput, IomsgReceivesTheTextWithoutHeader) {
    const std::string text5 = "requested disposition modified, file not deleted, unit 7, file t.dat";
    const std::string warn5 = "forrtl: warning (5): " + text5 + "\n";
    const std::string warn3 = "forrtl: warning (3): ignored requested disposition\n";
    const Case cases[] = {
        {"short variable is cut",
         {"iomsg", "10", "5", "2", "i:7", "s:t.dat"},
         {no_trace},
         warn5 + warn3,
         "[" + text5.substr(0, 10) + "]\nuntouched\n",
         0},
        {"long variable is blank-padded",
         {"iomsg", "100", "5", "2", "i:7", "s:t.dat"},
         {no_trace},
         warn5 + warn3,
         "[" + text5 + std::string(100 - text5.size(), ' ') + "]\nuntouched\n",
         0},
        {"exact length",
         {"iomsg", std::to_string(text5.size()), "5", "2", "i:7", "s:t.dat"},
         {no_trace},
         warn5 + warn3,
         "[" + text5 + "]\nuntouched\n",
         0},
        {"severity 0 text",
         {"iomsg", "12", "0", "0"},
         {no_trace},
         "forrtl: operation completed successfully\n" + warn3,
         "[operation co]\nuntouched\n",
         0},
    };
    for (const Case &c : cases) check(c);
}

// Each thread's diagnostic goes into its own IOMSG variable, and each
// thread's for__get_msg text survives the other thread's lookup.
TEST(DiagnosticOutput, IomsgAndMessageBuffersArePerThread) {
    Outcome o = child({"threads"}, {no_trace});
    const std::string a = "requested disposition modified, file not deleted, unit 5, file t.dat";
    const std::string b = "if a UDIO child sets IOMSG, it must set IOSTAT non-zero, unit 255, file t.dat";
    EXPECT_EQ(o.out, "A[" + a.substr(0, 24) + "] B[" + b.substr(0, 24) + "]\n" + "A msg <" + for__msg_row(5)->text +
                         ">\nB msg <" + for__msg_row(255)->text + ">\n");
    EXPECT_EQ(o.exit_code, 0);
}

TEST(DiagnosticOutput, LogFileAndFort0) {
    const std::string warn3 = "forrtl: warning (3): ignored requested disposition\n";
    const std::string severe = "forrtl: severe (29): file not found, unit 12, file a.dat\n";
    {
        SCOPED_TRACE("log file is appended to, display goes on");
        std::string log = tmp_path("log1");
        write_file(log, "earlier\n");
        Outcome o = child({"issue", "3", "0"}, {no_trace, "FOR_DIAGNOSTIC_LOG_FILE=" + log});
        Outcome o2 = child({"issue", "29", "2", "i:12", "s:a.dat"}, {no_trace, "FOR_DIAGNOSTIC_LOG_FILE=" + log});
        EXPECT_EQ(o.err, warn3);
        EXPECT_EQ(o2.err, severe);
        EXPECT_EQ(o2.exit_code, 29);
        EXPECT_EQ(read_file(log), "earlier\n" + warn3 + severe);
    }
    {
        SCOPED_TRACE("log file only");
        std::string log = tmp_path("log2");
        Outcome o = child({"issue", "3", "0"},
                          {no_trace, "FOR_DIAGNOSTIC_LOG_FILE=" + log, "FOR_DISABLE_DIAGNOSTIC_DISPLAY=1"});
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(read_file(log), warn3);
    }
    {
        SCOPED_TRACE("a log file that cannot be opened is skipped");
        Outcome o = child({"issue", "3", "0"}, {no_trace, "FOR_DIAGNOSTIC_LOG_FILE=/nonexistent-dir/log"});
        EXPECT_EQ(o.err, warn3);
        EXPECT_EQ(o.out, "returned\n");
    }
    {
        SCOPED_TRACE("a log file name over 260 characters is ignored");
        std::string log = tmp_path(std::string(261, 'n'));
        Outcome o = child({"issue", "3", "0"}, {no_trace, "FOR_DIAGNOSTIC_LOG_FILE=" + log});
        EXPECT_EQ(o.err, warn3);
        EXPECT_EQ(access(log.c_str(), F_OK), -1);
    }
    {
        SCOPED_TRACE("FORT0 moves standard error, appending");
        std::string f0 = tmp_path("fort0");
        write_file(f0, "earlier\n");
        Outcome o = child({"issue", "29", "2", "i:12", "s:a.dat"}, {no_trace, "FORT0=" + f0});
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.exit_code, 29);
        EXPECT_EQ(read_file(f0), "earlier\n" + severe);
    }
    {
        SCOPED_TRACE("FORT0 that cannot be opened keeps standard error");
        Outcome o = child({"issue", "29", "2", "i:12", "s:a.dat"}, {no_trace, "FORT0=/nonexistent-dir/f0"});
        EXPECT_EQ(o.err, severe);
        EXPECT_EQ(o.exit_code, 29);
    }
}

TEST(DiagnosticOutput, Perror) {
    const Case cases[] = {
        {"message of the last error with its unit's file",
         {"perror", "29", "0", "12", "myprog"},
         {},
         " myprog: file not found, unit 12, file data.txt\n",
         "returned\n",
         0},
        {"no prefix, no separator",
         {"perror", "29", "0", "12", ""},
         {},
         " file not found, unit 12, file data.txt\n",
         "returned\n",
         0},
        {"the system's text when errno says something",
         {"perror", "29", "2", "12", "p"},
         {},
         " p: No such file or directory\n",
         "returned\n",
         0},
        {"a unit without a block gives an empty name",
         {"perror", "29", "0", "13", "p"},
         {},
         " p: file not found, unit 13, file\n",
         "returned\n",
         0},
        {"no last error", {"perror", "0", "0", "0", "p"}, {}, " p: \n", "returned\n", 0},
    };
    for (const Case &c : cases) check(c);
    SCOPED_TRACE("PERROR follows FORT0");
    std::string f0 = tmp_path("fort0p");
    Outcome o = child({"perror", "29", "0", "12", "p"}, {"FORT0=" + f0});
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(read_file(f0), " p: file not found, unit 12, file data.txt\n");
}

bool is_hex(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// A frame line "#<n> 0x<16 hex digits> <symbol>+0x<hex> in <module>", or
// "... ?? (+0x<hex>) in <module>" without a symbol. Returns false when the
// line has another shape; *symbol is "??" for the second form.
bool parse_frame(std::string_view line, int index, std::string *symbol) {
    const std::string head = "#" + std::to_string(index);
    if (!line.starts_with(head)) return false;
    line.remove_prefix(head.size());
    const std::size_t sp = line.find_first_not_of(' ');
    if (sp == 0 || sp == std::string_view::npos) return false;
    line.remove_prefix(sp);
    if (!line.starts_with("0x") || line.size() < 19 || !is_hex(line.substr(2, 16)) || line[18] != ' ') return false;
    line.remove_prefix(19);
    const std::size_t in = line.rfind(" in ");
    if (in == std::string_view::npos || in + 4 >= line.size() ||
        line.substr(in + 4).find(' ') != std::string_view::npos)
        return false;
    std::string_view where = line.substr(0, in);
    if (where.starts_with("?? (+0x") && where.ends_with(")")) {
        *symbol = "??";
        return is_hex(where.substr(7, where.size() - 8));
    }
    const std::size_t plus = where.rfind("+0x");
    if (plus == 0 || plus == std::string_view::npos || !is_hex(where.substr(plus + 3)) ||
        where.substr(0, plus).find(' ') != std::string_view::npos)
        return false;
    *symbol = std::string(where.substr(0, plus));
    return true;
}

// A trace: an optional heading, then frame lines, the first in
// `first_frame`, down to the C library's start of the program.
void check_trace(const std::string &trace, bool heading, const std::string &first_frame) {
    std::istringstream lines(trace);
    std::string line;
    if (heading) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line, "Stack trace, innermost call first:");
    }
    int n = 0;
    bool saw_start = false;
    while (std::getline(lines, line)) {
        std::string symbol;
        ASSERT_TRUE(parse_frame(line, n, &symbol)) << line;
        if (n == 0) {
            EXPECT_EQ(symbol, first_frame) << line;
        }
        if (symbol == "__libc_start_main") saw_start = true;
        ++n;
    }
    EXPECT_GT(n, 0);
    EXPECT_TRUE(saw_start);
    EXPECT_EQ(trace.back(), '\n');
}

TEST(DiagnosticOutput, StackTraces) {
    struct Trace_Case {
        const char *what;
        std::vector<std::string> args;
        std::vector<std::string> env;
        std::string text;  // what precedes the trace
        bool trace;
        bool heading;
        std::string first_frame;
        std::string out;
        int exit_code;
    };
    const std::string severe = "forrtl: severe (29): file not found, unit 12, file a.dat\n";
    const std::string info = "forrtl: info (11): unit not connected\n";
    const Trace_Case cases[] = {
        {"severe has a trace",
         {"issue", "29", "2", "i:12", "s:a.dat"},
         {},
         severe,
         true,
         true,
         "child_issue_with",
         "",
         29},
        {"error has a trace",
         {"issue", "78", "0"},
         {},
         "forrtl: error (78): process killed (SIGTERM)\n",
         true,
         true,
         "child_issue_with",
         "returned\n",
         0},
        {"info has none", {"issue", "11", "0"}, {}, info, false, false, "", "returned\n", 0},
        {"forced for info",
         {"issue", "11", "0"},
         {"FOR_FORCE_STACK_TRACE=1"},
         info,
         true,
         true,
         "child_issue_with",
         "returned\n",
         0},
        {"forced beats disabled",
         {"issue", "11", "0"},
         {no_trace, "FOR_FORCE_STACK_TRACE=Y"},
         info,
         true,
         true,
         "child_issue_with",
         "returned\n",
         0},
        {"disabled for severe", {"issue", "29", "2", "i:12", "s:a.dat"}, {no_trace}, severe, false, false, "", "", 29},
        {"emit code 5 always traces",
         {"emit", "0x14000000", "hi"},
         {},
         "forrtl: hi\n",
         true,
         true,
         "scenario_emit",
         "returned\n",
         0},
        {"rtc entry starts at its caller",
         {"rtc", "V"},
         {},
         "forrtl: severe (193): Run-Time Check Failure. The variable 'V' is being used without being "
         "defined\n",
         true,
         true,
         "scenario_rtc",
         "",
         193},
        {"TRACEBACKQQ continuing",
         {"tracebackqq", "hello", "-1"},
         {},
         "hello\n",
         true,
         false,
         "scenario_tracebackqq",
         "returned 0 status 0\n",
         0},
        {"TRACEBACKQQ ending with its code",
         {"tracebackqq", "bye", "3"},
         {},
         "bye\n",
         true,
         false,
         "scenario_tracebackqq",
         "",
         3},
        {"TRACEBACKQQ with a multiple of 256 ends with it as given",
         {"tracebackqq", "bye", "256"},
         {},
         "bye\n",
         true,
         false,
         "scenario_tracebackqq",
         "",
         0},
        {"TRACEBACKQQ without exit code ends with 0",
         {"tracebackqq", "x", "null"},
         {},
         "x\n",
         true,
         false,
         "scenario_tracebackqq",
         "",
         0},
        {"TRACEBACKQQ without string",
         {"tracebackqq", "null", "-1"},
         {},
         "",
         true,
         false,
         "scenario_tracebackqq",
         "returned 0 status 0\n",
         0},
        {"TRACEBACKQQ with traces disabled",
         {"tracebackqq", "quiet", "-1"},
         {no_trace},
         "quiet\n",
         false,
         false,
         "",
         "returned 0 status 0\n",
         0},
        {"TRACEBACKQQ ignores the debugger",
         {"tracebackqq", "dbg", "-1"},
         {"FOR_DEBUGGER_IS_PRESENT=1"},
         "dbg\n",
         true,
         false,
         "scenario_tracebackqq",
         "returned 0 status 0\n",
         0},
        {"host-side continuation",
         {"continue"},
         {},
         "...Traceback continuing on host side:\n",
         true,
         true,
         "scenario_continue",
         "returned\n",
         0},
    };
    for (const Trace_Case &c : cases) {
        SCOPED_TRACE(c.what);
        Outcome o = child(c.args, c.env);
        EXPECT_EQ(o.out, c.out);
        EXPECT_EQ(o.exit_code, c.exit_code);
        ASSERT_EQ(o.err.substr(0, c.text.size()), c.text);
        const std::string trace = o.err.substr(c.text.size());
        if (c.trace) {
            check_trace(trace, c.heading, c.first_frame);
        } else {
            EXPECT_EQ(trace, "");
        }
    }
}

TEST(DiagnosticOutput, TracebackqqWithoutMemory) {
    // "abc" takes 3 + 16385 bytes.
    const Case cases[] = {
        {"continuing caller gets the status",
         {"tracebackqq", "abc", "-1"},
         {"DIAG_CHILD_FAIL_ALLOC=16388"},
         "",
         "returned 41 status 41\n",
         0},
        {"otherwise message 41",
         {"tracebackqq", "abc", "3"},
         {no_trace, "DIAG_CHILD_FAIL_ALLOC=16388"},
         "forrtl: severe (41): insufficient virtual memory\n",
         "",
         41},
    };
    for (const Case &c : cases) check(c);
}

// ---- Catalogs -------------------------------------------------------------

// Numbers whose stand-in texts do not ask for the built-in arguments
// (make_alt_catalog.py): the built-in text must stay.
const int refused[] = {10, 29, 30, 452};

std::map<int, std::string> lookup_texts(const Outcome &o, std::string *forrtl, std::string *lang) {
    std::map<int, std::string> texts;
    std::size_t pos = 0;
    while (pos < o.out.size()) {
        std::size_t rs = o.out.find("\x1e\n", pos);
        std::size_t nl = o.out.find('\n', pos);
        if (o.out.compare(pos, 14, "forrtl_header|") == 0) {
            *forrtl = o.out.substr(pos + 14, nl - pos - 14);
        } else if (o.out.compare(pos, 5, "LANG|") == 0) {
            *lang = o.out.substr(pos + 5, nl - pos - 5);
        } else {
            if (rs == std::string::npos) break;
            std::string rec = o.out.substr(pos, rs - pos);
            std::size_t bar1 = rec.find('|'), bar2 = rec.find('|', bar1 + 1);
            texts[std::stoi(rec.substr(0, bar1))] = rec.substr(bar2 + 1);
            nl = rs + 1;
        }
        pos = nl + 1;
    }
    return texts;
}

std::string expected_text(const For_Msg_Row &row, bool translated) {
    if (!translated || row.number == 0)  // gencat does not store number 0
        return row.text;
    for (int n : refused)
        if (static_cast<uint32_t>(n) == row.number) return row.text;
    if (row.number == 9) return "[xx] access refused, unit %d, file %s";
    if (row.number == 455) return "VORLIX-RUNTIME-LONG";
    return std::string("[xx] ") + row.text;
}

TEST(Catalog, FoundThroughNlspathAndLang) {
    const std::string nls = DIAG_ALT_NLS;
    struct Cat_Case {
        const char *what;
        std::vector<std::string> env;
        bool translated;
    };
    const Cat_Case cases[] = {
        {"C library: LANG names the directory", {"NLSPATH=" + nls + "/%L/%N", "LANG=xx_YY"}, true},
        {"codeset cut off by the library", {"NLSPATH=" + nls + "/%L/%N", "LANG=xx_YY.UTF-8"}, true},
        {"codeset and modifier cut off", {"NLSPATH=" + nls + "/%L/%N", "LANG=xx_YY.UTF-8@euro"}, true},
        {"language and territory templates", {"NLSPATH=" + nls + "/%l_%t/%N", "LANG=xx_YY.UTF-8"}, true},
        {"several templates, the second matches",
         {"NLSPATH=/nonexistent/%L/%N:" + nls + "/%L/%N", "LANG=xx_YY.ISO-8859-1"},
         true},
        {"LANG=C has no translation", {"NLSPATH=" + nls + "/%L/%N", "LANG=C"}, false},
        {"another language", {"NLSPATH=" + nls + "/%L/%N", "LANG=zz_ZZ.UTF-8"}, false},
        {"no NLSPATH", {"LANG=xx_YY.UTF-8"}, false},
        {"no LANG", {"NLSPATH=" + nls + "/%L/%N"}, false},
    };
    for (const Cat_Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> env = c.env;
        Outcome o = child({"lookup"}, env);
        ASSERT_EQ(o.exit_code, 0);
        std::string forrtl, lang;
        std::map<int, std::string> texts = lookup_texts(o, &forrtl, &lang);
        ASSERT_EQ(texts.size(), for_msgtab_count);
        int mismatches = 0;
        for (const For_Msg_Row &row : for_msgtab_norvo)
            if (texts[static_cast<int>(row.number)] != expected_text(row, c.translated) && ++mismatches < 5)
                ADD_FAILURE() << row.number << ": " << texts[static_cast<int>(row.number)];
        EXPECT_EQ(forrtl, c.translated ? "VORLIX-RUNTIME-" : "forrtl");
        // The library never rewrites LANG to find a catalog.
        std::string want_lang = "(unset)";
        for (const std::string &e : c.env)
            if (e.rfind("LANG=", 0) == 0) want_lang = e.substr(5);
        EXPECT_EQ(lang, want_lang);
    }
}

TEST(Catalog, HeadersComeFromTheCatalog) {
    const std::vector<std::string> xx = {no_trace, "NLSPATH=" DIAG_ALT_NLS "/%L/%N", "LANG=xx_YY.UTF-8"};
    const Case cases[] = {
        {"translated header, refused text",
         {"issue", "29", "2", "i:12", "s:a.dat"},
         xx,
         "[xx] forrtl: severe (29): file not found, unit 12, file a.dat\n",
         "",
         29},
        {"translated header and text",
         {"issue", "9", "2", "i:12", "s:a.dat"},
         xx,
         "[xx] forrtl: severe (9): [xx] access refused, unit 12, file a.dat\n",
         "",
         9},
        {"refused header",
         {"issue", "3", "0"},
         xx,
         "forrtl: warning (3): [xx] ignored requested disposition\n",
         "returned\n",
         0},
        {"severity 0 header",
         {"issue", "0", "0"},
         xx,
         "[xx] forrtl: operation completed successfully\n",
         "returned\n",
         0},
        {"unknown number", {"issue", "1000", "0"}, xx, "[xx] forrtl: severe (1000): Message not found\n\n", "", 232},
    };
    for (const Case &c : cases) check(c);
}

TEST(Catalog, ClosedForGood) {
    Outcome o = child({"close"}, {"NLSPATH=" DIAG_ALT_NLS "/%L/%N", "LANG=xx_YY.UTF-8"});
    EXPECT_EQ(o.out,
              "[xx] access refused, unit %d, file %s|[xx] forrtl: severe (%i): |VORLIX-RUNTIME-\n"
              "permission to access file denied, unit %d, file %s|forrtl: severe (%i): |forrtl\n");
    EXPECT_EQ(o.exit_code, 0);
}

// A catalog file written byte by byte: the header (magic, plane size,
// plane depth), the little- and big-endian index tables and the strings.
// Each case spoils one thing; the well-formed one shows the writer makes
// catalogs the library reads, so a refusal is the library's own.
struct Cat_Bytes {
    uint32_t plane_size = 1000, plane_depth = 1;
    std::map<int, std::string> texts;  // set 1
    bool cut_last_nul = false;
    uint32_t bad_offset = 0;  // non-zero: the entry of message 29 points there

    std::string bytes() const {
        std::string strings(1, '\0');
        std::vector<uint32_t> table(3 * std::size_t{plane_size} * plane_depth, 0);
        for (const auto &[number, text] : texts) {
            // Set 1 is stored as 2, and placed by 2 x the message number.
            const std::size_t at = 3 * (2 * static_cast<std::size_t>(number) % plane_size);
            table[at] = 2;
            table[at + 1] = static_cast<uint32_t>(number);
            table[at + 2] = number == 29 && bad_offset ? bad_offset : static_cast<uint32_t>(strings.size());
            strings += text;
            strings += '\0';
        }
        if (cut_last_nul) strings.pop_back();
        std::string out;
        auto word = [&out](uint32_t v, bool big) {
            for (int i = 0; i < 4; ++i) out += static_cast<char>(big ? v >> (24 - 8 * i) : v >> (8 * i));
        };
        for (uint32_t v : {0x960408deu, plane_size, plane_depth}) word(v, false);
        for (bool big : {false, true})
            for (uint32_t v : table) word(v, big);
        return out + strings;
    }
};

TEST(Catalog, AHostileCatalogIsNeverUsed) {
    const std::string dir = tmp_path("hostile");
    const std::string cat_dir = dir + "/xx_YY";
    ASSERT_EQ(system(("rm -rf " + dir + " && mkdir -p " + cat_dir).c_str()), 0);
    const std::string translated = "[yy] file not found, unit %d, file %s";
    const std::string builtin_line = "forrtl: severe (29): file not found, unit 12, file a.dat\n";
    struct Hostile {
        const char *what;
        std::string bytes;
        std::string err;
    };
    Cat_Bytes good;
    good.texts = {{29, translated}};
    // Plane size 1 and depth 2^30 in the header of a small file: the
    // tables it claims would take 24 GiB.
    std::string deep_bytes = good.bytes();
    deep_bytes.replace(4, 8, std::string("\x01\0\0\0\0\0\0\x40", 8));
    Cat_Bytes wide = good;
    wide.texts = {{29, "file not found, unit %999999999d, file %s"}};
    Cat_Bytes past_end = good;
    past_end.bad_offset = 1u << 30;
    Cat_Bytes unterminated = good;
    unterminated.cut_last_nul = true;
    const Hostile cases[] = {
        {"well formed", good.bytes(), "forrtl: severe (29): [yy] file not found, unit 12, file a.dat\n"},
        {"plane depth far beyond the file", deep_bytes, builtin_line},
        {"a field width of a billion", wide.bytes(), builtin_line},
        {"a string offset past the end", past_end.bytes(), builtin_line},
        {"the last string without its NUL", unterminated.bytes(), builtin_line},
        {"a header cut short", good.bytes().substr(0, 10), builtin_line},
        {"tables cut short", good.bytes().substr(0, 4000), builtin_line},
    };
    for (const Hostile &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(cat_dir + "/vorlix_msg.cat", c.bytes);
        const auto start = std::chrono::steady_clock::now();
        Outcome o =
            child({"issue", "29", "2", "i:12", "s:a.dat"}, {no_trace, "NLSPATH=" + dir + "/%L/%N", "LANG=xx_YY"});
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(o.exit_code, 29);
        EXPECT_EQ(o.signal, 0);
        EXPECT_LT(took, std::chrono::seconds(2)) << "a message costs no more than its text";
    }
    system(("rm -rf " + dir).c_str());
}

// The message formatter bounds a conversion however it reaches it: a text
// with a width past three digits is refused as a translation.
TEST(Catalog, SignaturesRefuseWidthsPastThreeDigits) {
    EXPECT_EQ(for__printf_signature("unit %999d"), "d");
    EXPECT_EQ(for__printf_signature("unit %1000d"), "!");
    EXPECT_EQ(for__printf_signature("unit %.999999999s"), "!");
    EXPECT_EQ(for__printf_signature("unit %-0999999999d"), "!");
}

// The installed layout: the catalog beside the library, found with no
// environment pointing at it.
TEST(Catalog, FoundBesideTheLibrary) {
    const std::string beside = DIAG_ALT_BESIDE;
    auto pad60 = [](std::string s) { return s.append(60 - s.size(), ' '); };
    struct Shared_Case {
        const char *what;
        std::vector<std::string> env;
        std::string out, err;
    };
    const Shared_Case cases[] = {
        {"library copy with the stand-in catalog",
         {"LD_LIBRARY_PATH=" + beside, "LANG=C"},
         "[" + pad60("[xx] access refused, unit 12, file x.dat") + "]\n",
         "[xx] forrtl: info (401): [xx] hello\n"},
        {"built library with the built catalog",
         {"LANG=C"},
         "[" + pad60("permission to access file denied, unit 12, file x.dat") + "]\n",
         "forrtl: info (401): hello\n"},
    };
    for (const Shared_Case &c : cases) {
        SCOPED_TRACE(c.what);
        Outcome o = run(DIAG_CHILD_SHARED, {"0x04000000", "hello"}, c.env);
        EXPECT_EQ(o.out, c.out);
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(o.exit_code, 0);
    }
}

}  // namespace
