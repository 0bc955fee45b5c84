// Message 58 as a program sees it on standard error, and the internal
// consistency failure of a bad variable-format-expression slot: each case
// runs in a forked child whose standard error the test reads.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "format/for_fmt_comp.h"
#include "runtime/for_vm.h"

namespace {

struct Outcome {
    int exit_code = -1;
    std::string err;
};

// Runs `body` in a child with standard error on a pipe; the child exits
// with what body returns.
Outcome in_child(const std::function<int()> &body) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDERR_FILENO);
        close(fds[1]);
        _exit(body());
    }
    close(fds[1]);
    Outcome o;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) o.err.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    o.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

struct Case {
    const char *why;
    std::string text;
    int status;
    std::string err;  // exact standard error, "" when no message is due
};

std::string near(const std::string &quoted) {
    return "forrtl: info (58): format syntax error at or near " + quoted + "\n";
}

TEST(FormatDiagnostic, QuotesTheTextNearTheFault) {
    unsetenv("FOR_DISABLE_DIAGNOSTIC_DISPLAY");
    unsetenv("FOR_DIAGNOSTIC_LOG_FILE");
    const std::string tail(100, 'A');
    const std::vector<Case> cases = {
        {"missing parenthesis: from the first non-blank", "  I5)", 62, near("I5)")},
        {"empty text quotes nothing", "", 62, near("")},
        {"from the character before the offending one", "(I5,#,I2)", 62, near(",#,I2)")},
        {"at most 80 characters", "(I5,#" + tail, 62, near(",#" + tail.substr(0, 78))},
        {"text ends early: from the last character", "(I5,I6", 62, near("6")},
        {"unterminated literal: from the last character", "(A,'abc", 62, near("c")},
        {"repeat count 0: the count and the letter", "(A,0I5)", 62, near("0I5)")},
        {"digit overflow: at the digit that overflows", "(99999999999999999999I5)", 62, near("999I5)")},
        {"scale factor out of range: at P", "(200PF5.1)", 62, near("0PF5.1)")},
        {"an item after the unlimited group", "(*(I5),I3)", 62, near("),I3)")},
        {"nesting beyond the limit is its own message, not 58", std::string(33, '(') + std::string(33, ')'), 643, ""},
        {"a wrong field count draws no message", "(F10)", 62, ""},
        {"T0 draws no message", "(T0)", 62, ""},
        {"a descriptor before X draws no message", "(I5X)", 62, ""},
        {"an empty unlimited group is 181 without 58", "(*())", 181, ""},
        {"an accepted format prints nothing", "(I5)", 0, ""},
    };
    for (const Case &c : cases) {
        Outcome o = in_child([&] {
            unsigned char *out = nullptr;
            uint32_t size;
            int st = for__format_compile_text(c.text, true, UINT32_MAX, &out, &size);
            if (st == 0) for__free_vm(out);
            return st;
        });
        // The status comes back as an exit status: its low eight bits.
        EXPECT_EQ(o.exit_code, c.status & 0xff) << c.why;
        EXPECT_EQ(o.err, c.err) << c.why;
    }
}

TEST(FormatDiagnostic, SilentWhenNotAsked) {
    Outcome o = in_child([] {
        unsigned char *out = nullptr;
        For_Char_Format f{6, "(I5,#)"};
        return for__format_compiler(&f, &out, 0);
    });
    EXPECT_EQ(o.exit_code, 62);
    EXPECT_EQ(o.err, "");
}

TEST(FormatDiagnostic, BadSlotIsAnInternalFailure) {
    const For_Vfe_Slot bad[] = {{0, 7, 9}, {0, 3, 5}};
    for (const For_Vfe_Slot &s : bad) {
        Outcome o = in_child([&] {
            uint64_t table[2] = {0, 0};
            return static_cast<int>(get_vfe_value(table, &s)) + 100;
        });
        EXPECT_EQ(o.exit_code, 8);
        EXPECT_EQ(
            o.err.rfind("forrtl: severe (8): internal consistency check failure, file for_fmt_decode.cpp, line ", 0),
            0u)
            << o.err;
    }
}

}  // namespace
