// The unit table: where units live, how they are held and released, NEWUNIT
// numbers, iteration, internal files and the preconnected units.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <vector>

#include "diag/for_msgnum.h"
#include "format/for_intrp_fmt.h"
#include "runtime/for_threadstor.h"
#include "units/for_lub_lock.h"
#include "units/for_lub_mgt.h"

namespace {

void newunit_checks();

For_Lub *acquire(int unit, int op = FOR_OP_READ, For_Context *ctx = nullptr) {
    For_Lub *lub = nullptr;
    int s = for__acquire_lun(unit, &lub, ctx, op);
    EXPECT_EQ(s, 0) << "unit " << unit;
    return lub;
}

// The units of one bucket, in list order.
std::vector<int> bucket(int slot) {
    std::vector<int> units;
    for (For_Lub *b = for__lub_table[slot].slot_lub.load(); b; b = b->lub_hash_next) units.push_back(b->lub_unit);
    return units;
}

TEST(LubTable, SlotsOfUnitNumbers) {
    struct Case {
        int unit, slot;
    } cases[] = {{-6, 0},
                 {-1, 5},
                 {0, 6},
                 {6, 12},
                 {99, 105},
                 {100, 212},
                 {621, 212},
                 {-7, 4294967289u % 521 + 106},
                 {-129, 4294967167u % 521 + 106}};
    for (const Case &c : cases) EXPECT_EQ(for__lub_slot_index(c.unit), c.slot) << c.unit;
}

TEST(LubTable, UnitsBelowAndAboveTheDirectSlotsBehaveAlike) {
    for (int unit : {99, 100}) {
        For_Context ctx{};
        For_Lub *lub = acquire(unit, FOR_OP_READ, &ctx);
        ASSERT_NE(lub, nullptr);
        EXPECT_EQ(lub->lub_unit, unit);
        EXPECT_EQ(ctx.lub, lub);
        EXPECT_EQ(lub->lub_ctx, &ctx);
        EXPECT_EQ(lub->lub_busy & 1, 1);
        EXPECT_EQ(for__release_lub(lub), 0);
        EXPECT_EQ(ctx.lub, nullptr);
        EXPECT_EQ(lub->lub_busy & 1, 0);
        EXPECT_EQ(acquire(unit), lub) << "the same block comes back";
        for__release_lun(unit);
    }
}

TEST(LubTable, BucketsStayInAscendingUnsignedOrder) {
    int newunit = 0;
    ASSERT_EQ(for__get_free_newunit(&newunit, 0), 0);
    // 621 + 521 * k share the bucket of 100; a NEWUNIT number sorts last.
    int slot = for__lub_slot_index(100);
    int late = 621 + 521;
    for (int u : {late, 100, 621}) for__release_lub(acquire(u));
    int neg = -1;
    for (int u = -7; u >= -32768; --u)
        if (for__lub_slot_index(u) == slot) {
            neg = u;
            break;
        }
    ASSERT_NE(neg, -1);
    For_Lub *lub = nullptr;
    EXPECT_EQ(for__acquire_lun(neg, &lub, nullptr, FOR_OP_READ), msg::invalid_unit)
        << "a NEWUNIT number nobody was given";
    ASSERT_EQ(for__acquire_lun(neg, &lub, nullptr, FOR_OP_OPEN_NEWUNIT), 0);
    for__release_lub(lub);
    EXPECT_EQ(bucket(slot), (std::vector<int>{100, 621, late, neg}));
    EXPECT_EQ(for__acquire_lun(neg, &lub, nullptr, FOR_OP_READ), 0) << "now it exists";
    for__release_lub(lub);
}

TEST(LubTable, RecursiveStatementIs40AndInspectionNests) {
    For_Lub *outer = acquire(7, FOR_OP_WRITE_SEQ);
    For_Lub *lub = nullptr;
    EXPECT_EQ(for__acquire_lun(7, &lub, nullptr, FOR_OP_READ), msg::recursive_io);
    EXPECT_EQ(lub, nullptr);
    For_Context ictx{};
    ASSERT_EQ(for__acquire_lun(7, &lub, &ictx, FOR_OP_INQUIRE), 0);
    EXPECT_EQ(lub, outer);
    EXPECT_EQ(outer->lub_op, FOR_OP_WRITE_SEQ) << "the holder's statement stays";
    EXPECT_TRUE(outer->lub_stmt_flags & lubs::nested);
    for__release_lub(lub);  // drops only the nested hold
    EXPECT_FALSE(outer->lub_stmt_flags & lubs::nested);
    EXPECT_EQ(for__acquire_lun(7, &lub, nullptr, FOR_OP_READ), msg::recursive_io) << "still held";
    for__release_lub(outer);
    EXPECT_EQ(for__acquire_lun(7, &lub, nullptr, FOR_OP_READ), 0);
    for__release_lub(lub);
}

TEST(LubTable, AChildStatementOfDefinedIoMayReenterItsUnit) {
    For_Lub *parent = acquire(8, FOR_OP_WRITE_SEQ);
    parent->lub_udio_depth = 1;  // a defined output procedure is running
    For_Lub *child = nullptr;
    EXPECT_EQ(for__acquire_lun(8, &child, nullptr, FOR_OP_WRITE_SEQ), 0);
    EXPECT_EQ(child, parent);
    for__release_lub(child);
    EXPECT_EQ(lub_lock::owner(parent->lub_owner_thread), for__thread_id()) << "the parent keeps the unit";
    parent->lub_udio_depth = 0;
    for__release_lub(parent);
    EXPECT_EQ(lub_lock::owner(parent->lub_owner_thread), 0u);
}

TEST(LubTable, ReleasingAUnitNobodyHoldsIsHarmless) {
    For_Lub *lub = acquire(9);
    for__release_lub(lub);
    EXPECT_EQ(for__release_lun(9), 0);
    EXPECT_EQ(for__release_lub(lub), 0);
    EXPECT_EQ(for__release_lun(4000), 0) << "a unit that has no block";
    EXPECT_EQ(acquire(9), lub);
    for__release_lub(lub);
}

TEST(LubTableDeath, NewunitNumbers) {
    // A fresh process: its first numbers are -129 by default, -7 from the
    // small range.
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // re-executed: no inherited numbers
    EXPECT_EXIT(
        {
            newunit_checks();
            std::exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

void newunit_checks() {
    int a = 0, b = 0, c = 0, small = 0;
    ASSERT_EQ(for__get_free_newunit(&a, 0), 0);
    ASSERT_EQ(for__get_free_newunit(&b, 0), 0);
    ASSERT_EQ(for__get_free_newunit(&small, 5), 0);
    EXPECT_EQ(a, -129);
    EXPECT_EQ(b, -130);
    EXPECT_EQ(small, -7);
    for__release_newunit(a);
    ASSERT_EQ(for__get_free_newunit(&c, 0), 0);
    EXPECT_EQ(c, -129) << "a released number is handed out again";
    // The small range holds 122 numbers, -7 to -128.
    std::set<int> seen{small};
    int n = 0, s = 0;
    while ((s = for__get_free_newunit(&n, 5)) == 0) seen.insert(n);
    EXPECT_EQ(s, msg::integer_assignment_overflow);
    EXPECT_EQ(n, -32769);
    EXPECT_EQ(seen.size(), 122u);
    EXPECT_EQ(*seen.begin(), -128);
    EXPECT_EQ(*seen.rbegin(), -7);
}

TEST(LubTable, InternalFilesNestPerThread) {
    For_Context c1{}, c2{};
    For_Lub *f1 = acquire(FOR_UNIT_INTERNAL, FOR_OP_WRITE, &c1);
    EXPECT_EQ(f1->lub_unit, -5);
    // The block carries its statement's transfer state: idle until the
    // statement selects one, which then points back to the unit.
    EXPECT_EQ(f1->lub_stmt.xfer.kind(), For_Xfer_State::Kind::none);
    static const unsigned char compiled[8] = {};
    ASSERT_EQ(for__fmt_stmt_start(f1, compiled, false, false), 0);
    ASSERT_NE(for__fmt_isb(f1), nullptr);
    EXPECT_EQ(for__fmt_isb(f1)->unit, f1) << "the state block points back";
    // A function in the I/O list writes to another internal file.
    For_Lub *f2 = acquire(FOR_UNIT_INTERNAL, FOR_OP_WRITE, &c2);
    EXPECT_NE(f1, f2);
    EXPECT_EQ(for__thread_storage().ifile_top, f2);
    For_Lub *top = nullptr;
    EXPECT_EQ(for__acquire_lun(FOR_UNIT_INTERNAL_TOP, &top, nullptr, FOR_OP_WRITE), 0);
    EXPECT_NE(top, f2) << "without a running child, -6 makes a fresh internal block";
    for__release_lub(top);
    f2->lub_udio_depth = 1;
    EXPECT_EQ(for__acquire_lun(FOR_UNIT_INTERNAL_TOP, &top, nullptr, FOR_OP_WRITE), 0);
    EXPECT_EQ(top, f2) << "a child statement continues its parent's internal file";
    f2->lub_udio_depth = 0;
    for__release_lub(f2);
    EXPECT_EQ(c2.lub, nullptr);
    EXPECT_EQ(for__thread_storage().ifile_top, f1);
    for__release_lub(f1);
    EXPECT_EQ(for__thread_storage().ifile_top, nullptr);
    EXPECT_EQ(for__acquire_lun(FOR_UNIT_INTERNAL_TOP, &top, nullptr, FOR_OP_WRITE), msg::invalid_unit)
        << "no internal file is being transferred";
}

TEST(LubTable, DeallocationFreesHashedUnitsAndResetsDirectOnes) {
    For_Lub *h = acquire(5000);
    h->lub_flags |= lubf::opened;
    EXPECT_EQ(for__deallocate_lub(5000), 0);
    For_Lub *again = acquire(5000);
    EXPECT_FALSE(again->lub_flags & lubf::opened) << "a fresh block";
    for__release_lub(again);

    For_Lub *d = acquire(11);
    d->lub_flags |= lubf::opened;
    d->lub_file_name = static_cast<char *>(std::malloc(8));
    EXPECT_EQ(for__deallocate_lub(11), 0);
    For_Lub *d2 = acquire(11);
    EXPECT_EQ(d2, d);
    EXPECT_EQ(d2->lub_flags, 0u);
    EXPECT_EQ(d2->lub_file_name, nullptr);
    for__release_lub(d2);

    For_Lub *six = acquire(6);
    six->lub_flags = lubf::opened | lubf::formatted;
    EXPECT_EQ(for__deallocate_lub(6), 0);
    For_Lub *six2 = acquire(6);
    EXPECT_EQ(six2, six);
    EXPECT_EQ(six2->lub_flags, lubf::preconnected) << "preconnected again, not opened";
    EXPECT_TRUE(six2->lub_stmt_flags & lubs::reset_by_close);
    for__release_lub(six2);
}

TEST(LubTable, IterationVisitsEveryUnitOnceInTableOrder) {
    for (int u : {3, 700, 1221, 150}) for__release_lub(acquire(u));
    std::vector<int> seen;
    For_Lub *lub = nullptr;
    int index = -1;
    do {
        ASSERT_EQ(for__get_next_lub(&lub, &index, FOR_OP_INQUIRE), 0);
        if (index == -1) break;
        seen.push_back(lub->lub_unit);
        for__release_lub(lub);
    } while (true);
    // The seven preconnected units, then 3, then the buckets in order; other
    // tests of the same process may have left units of their own.
    std::vector<int> want{-4, -3, -2, -1, 0, 3, 5, 6, 150, 700, 1221};
    std::vector<int> ours;
    for (int u : seen)
        if (std::find(want.begin(), want.end(), u) != want.end()) ours.push_back(u);
    EXPECT_EQ(ours, want);
    EXPECT_EQ(std::set<int>(seen.begin(), seen.end()).size(), seen.size()) << "each unit once";
}

TEST(LubTable, IterationResumesAfterTheLastUnitEvenIfItWasClosed) {
    for (int u : {800, 1321}) for__release_lub(acquire(u));  // one bucket
    For_Lub *lub = nullptr;
    int index = -1;
    std::vector<int> seen;
    for (;;) {
        ASSERT_EQ(for__get_next_lub(&lub, &index, FOR_OP_CLOSE), 0);
        if (index == -1) break;
        seen.push_back(lub->lub_unit);
        if (lub->lub_unit >= 100)
            for__deallocate_lub(lub->lub_unit);  // CLOSE frees the block under the iteration
        else
            for__release_lub(lub);
    }
    std::vector<int> ours;
    for (int u : seen)
        if (u == 800 || u == 1321) ours.push_back(u);
    EXPECT_EQ(ours, (std::vector<int>{800, 1321}));
}

TEST(LubTableDeath, Fort6SetEvenEmptyMarksTheUnitForOpeningOnThatName) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // before any unit exists
    EXPECT_EXIT(
        {
            setenv("FORT6", "", 1);
            unsetenv("FORT5");
            for__preconnected_units_create();
            For_Lub *six = for__lub_table[12].slot_lub.load();
            For_Lub *five = for__lub_table[11].slot_lub.load();
            bool ok = six->lub_flags == lubf::preconnected_env && five->lub_flags == lubf::preconnected;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
