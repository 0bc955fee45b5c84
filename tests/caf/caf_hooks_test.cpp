// A coarray program: it defines every hook, and the library must call each
// with the documented arguments and pass its results on.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "caf/for_caf.h"
#include "diag/for_diag.h"

namespace coarray_lib {
int init_calls = 0;
int *init_argc = nullptr;
char ***init_argv = nullptr;
For_Caf_Diagnostic init_diagnostic = nullptr;
std::atomic<int> image{0};
std::atomic<int> original_calls{0};
int team = 0;
int tearing_down = 0;
int abort_calls = 0;
const char *abort_text = nullptr;
int finalize_calls = 0;
}  // namespace coarray_lib

extern "C" {
void for_rtl_QCAF_INIT(int *argc, char ***argv, For_Caf_Diagnostic diagnostic) {
    ++coarray_lib::init_calls;
    coarray_lib::init_argc = argc;
    coarray_lib::init_argv = argv;
    coarray_lib::init_diagnostic = diagnostic;
    if (argc) *argc = 1;  // the coarray library may take its own options away
}
int for_rtl_QCAF_THIS_IMAGE() { return coarray_lib::image; }
int for_rtl_QCAF_THIS_ORIGINAL_IMAGE() {
    ++coarray_lib::original_calls;
    return 7;
}
int for_rtl_QCAF_THIS_TEAM_ID() { return coarray_lib::team; }
int for_rtl_QCAF_PROBABLY_ABORT() { return coarray_lib::tearing_down; }
void for_rtl_QCAF_ABORT(const char *text) {
    ++coarray_lib::abort_calls;
    coarray_lib::abort_text = text;
}
void for_rtl_QCAF_FINALIZE() { ++coarray_lib::finalize_calls; }
}

namespace {

char arg0[] = "prog", arg1[] = "-caf-opt";
char *vector[] = {arg0, arg1, nullptr};

struct Init_Case {
    const char *what;
    bool with_count;
    bool with_vector;
    bool called;
};

TEST(CafHooks, InitGetsTheCommandLineAndTheDiagnosticRoutine) {
    const Init_Case cases[] = {
        {"count and vector", true, true, true},
        {"vector only", false, true, true},
        {"count only", true, false, true},
        {"neither", false, false, false},
    };
    for (const Init_Case &c : cases) {
        SCOPED_TRACE(c.what);
        coarray_lib::init_calls = 0;
        int argc = 2;
        char **argv = c.with_vector ? vector : nullptr;
        int *count = c.with_count ? &argc : nullptr;
        EXPECT_EQ(for__caf_init(count, &argv), 0);
        EXPECT_EQ(coarray_lib::init_calls, c.called ? 1 : 0);
        if (!c.called) continue;
        EXPECT_EQ(coarray_lib::init_argc, count);
        EXPECT_EQ(coarray_lib::init_argv, &argv) << "the address of the vector cell, not the vector";
        EXPECT_EQ(coarray_lib::init_diagnostic, &for__issue_diagnostic);
        if (c.with_count) {
            EXPECT_EQ(argc, 1) << "the hook's edit of the count is kept";
        }
    }
}

TEST(CafHooks, ImageAndTeamFollowTheHooks) {
    const int values[] = {1, 4, 2, -1};
    for (int v : values) {
        coarray_lib::image = v;
        coarray_lib::team = v;
        EXPECT_EQ(for__this_image_number_or_zero(), v);
        EXPECT_EQ(for__this_team_id_or_zero(), v);
    }
}

TEST(CafHooks, OriginalImageIsFetchedOncePerProcess) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 100; ++k)
                if (for__this_original_image_number_or_zero() != 7) ++wrong;
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(coarray_lib::original_calls, 1);
}

TEST(CafHooks, TearDownHooksPassThrough) {
    coarray_lib::tearing_down = 3;
    EXPECT_EQ(for__caf_probably_abort(), 3);
    coarray_lib::tearing_down = 0;
    EXPECT_EQ(for__caf_probably_abort(), 0);

    const char text[] = "forrtl: severe (41): insufficient virtual memory";
    for__caf_abort(text);
    EXPECT_EQ(coarray_lib::abort_calls, 1);
    EXPECT_EQ(coarray_lib::abort_text, text);
    for__caf_abort(nullptr);
    EXPECT_EQ(coarray_lib::abort_calls, 2);
    EXPECT_EQ(coarray_lib::abort_text, nullptr);

    for__caf_finalize();
    EXPECT_EQ(coarray_lib::finalize_calls, 1);
}

}  // namespace
