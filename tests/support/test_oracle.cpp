// The oracle runner itself: a known program's output comes back intact.
#include <gtest/gtest.h>

#include "support/oracle.h"

TEST(Oracle, RunsAProgramAndReturnsItsLines) {
    auto lines =
        kit::gfortran_lines("program p\n  write (*, '(I3,A)') 42, 'x'\n  write (*, '(A)') 'two'\nend program\n");
    if (!lines) GTEST_SKIP() << "gfortran is not installed";
    EXPECT_EQ(*lines, (std::vector<std::string>{" 42x", "two"}));
}
