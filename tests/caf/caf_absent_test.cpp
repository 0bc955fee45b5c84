// A program without coarray support: no hook is defined, nothing fails and
// every query answers 0.
#include <gtest/gtest.h>

#include "caf/for_caf.h"

namespace {

TEST(CafAbsent, EveryQueryIsZero) {
    int (*hook)() = for_rtl_QCAF_THIS_IMAGE;
    ASSERT_EQ(hook, nullptr) << "this program must define no hook";
    EXPECT_EQ(for__this_image_number_or_zero(), 0);
    EXPECT_EQ(for__this_original_image_number_or_zero(), 0);
    EXPECT_EQ(for__this_team_id_or_zero(), 0);
    EXPECT_EQ(for__caf_probably_abort(), 0);
}

TEST(CafAbsent, CallsAreSkipped) {
    int argc = 1;
    char arg0[] = "prog";
    char *vector[] = {arg0, nullptr};
    char **argv = vector;
    EXPECT_EQ(for__caf_init(&argc, &argv), 0);
    EXPECT_EQ(argc, 1);
    EXPECT_EQ(argv, vector);
    for__caf_abort("text");
    for__caf_finalize();
}

}  // namespace
