// Start-up through the shared library, in a program that links a coarray
// support library's hooks: for_rtl_init_ hands them the argument count, the
// cell of the argument vector and the library's diagnostic routine.
#include <gtest/gtest.h>

#include <vorlix/runtime.h>

namespace {
int *seen_argc;
char ***seen_argv_cell;
int (*seen_diag)(int, int, ...);
int init_calls;
}  // namespace

#define HOOK extern "C" __attribute__((visibility("default")))
HOOK void for_rtl_QCAF_INIT(int *argc, char ***argv, int (*diag)(int, int, ...)) {
    ++init_calls;
    seen_argc = argc;
    seen_argv_cell = argv;
    seen_diag = diag;
    // A coarray library may rewrite the command line it was given.
    --*argc;
    ++*argv;
}

namespace {

TEST(CafStartup, InitHookReceivesTheCommandLineAndTheDiagnosticRoutine) {
    char prog[] = "prog", a1[] = "-caf", a2[] = "x";
    char *argv[] = {prog, a1, a2, nullptr};
    int argc = 3;
    for_rtl_init_(&argc, argv);
    EXPECT_EQ(init_calls, 1);
    EXPECT_EQ(seen_argc, &argc);
    ASSERT_NE(seen_argv_cell, nullptr);
    EXPECT_EQ(argc, 2) << "the hook's change reaches the program's count";
    ASSERT_NE(seen_diag, nullptr);
    // The routine is the library's own: an info message prints and returns.
    testing::internal::CaptureStderr();
    seen_diag(401, 1, "from the coarray library");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("forrtl: info (401): from the coarray library"), std::string::npos) << err;
}

TEST(CafStartup, NoCommandLineNoHookCall) {
    for_rtl_init_(nullptr, nullptr);
    EXPECT_EQ(init_calls, 0);
}

}  // namespace
