// The statement frame: entry, transfer calls and completion, driven by a
// statement kind whose transfer records what it is handed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "diag/for_msgnum.h"
#include "io/for_stmt.h"
#include "runtime/for_threadstor.h"
#include "support/kit.h"
#include "units/for_lub_mgt.h"

namespace {

// A connection that the statement's implicit OPEN would make: formatted
// sequential, on /dev/null, named after it.
int connect_devnull(For_Lub *lub, int, int, int) {
    lub->lub_fd = ::open("/dev/null", O_RDWR);
    lub->lub_flags |= lubf::opened | lubf::formatted | lubf::access_seq;
    lub->lub_file_name = strdup("/dev/null");
    lub->lub_file_name_len = 9;
    return 0;
}
int connect_fails(For_Lub *, int, int, int) { return 29; }

// What the transfer saw, and where it is told to fail.
struct Recorder {
    std::vector<For_Item> items;
    std::vector<uint32_t> holders;  // owner of the unit at each item
    int finishes = 0;
    int fail_at = -1;
    int fail_status = 0;
    int finish_status = 0;
    std::function<int(For_Lub *)> during;
    int item(For_Lub *lub, const For_Item &it, const For_Shape &) {
        items.push_back(it);
        holders.push_back(lub->lub_owner_thread.load() & 0x7fffffff);
        if (during)
            if (int s = during(lub)) return s;
        if (static_cast<int>(items.size()) - 1 == fail_at) return fail_status;
        return 0;
    }
    int finish(For_Lub *) {
        ++finishes;
        return finish_status;
    }
};
Recorder rec;

For_Stmt_Kind read_kind{FOR_OP_READ, false, true, false, "test_read", 1, 1, 1, connect_devnull};
For_Stmt_Kind write_kind{FOR_OP_WRITE_SEQ, true, true, false, "test_write", 1, 4, 1, connect_devnull};
For_Stmt_Kind failing_kind{FOR_OP_READ, false, true, false, "test_read", 1, 1, 1, connect_fails};
For_Stmt_Kind *kind = &read_kind;

int entry(For_Context *ctx, int unit, For_IO_Flags f, const For_Dsc_Lst *d, const For_Value_List *v,
          const For_Dsc_Lst *cd, const For_Value_List *cv) {
    For_Lub *lub = nullptr;
    int r = for__stmt_begin(*kind, {ctx, unit, f, cd, cv}, &lub);
    if (!lub) return r;
    return for__stmt_transfer(ctx, d, v, rec);
}
int xmit(For_Context *ctx, const For_Dsc_Lst *d, const For_Value_List *v) { return for__stmt_transfer(ctx, d, v, rec); }

class Frame : public ::testing::Test {
  protected:
    void SetUp() override {
        rec = Recorder{};
        kind = &read_kind;
    }
};

TEST_F(Frame, ItemsOfAllGroupsReachTheTransferAndTheUnitIsReleasedAtTheEnd) {
    int32_t a = 1, b = 2, c = 3;
    kit::Stmt st(20);
    st.items.item(a).end_group().item(b).item(c).end_group().end();
    EXPECT_EQ(st.run(entry, xmit), 0);
    ASSERT_EQ(rec.items.size(), 3u);
    EXPECT_EQ(rec.items[2].addr, &c);
    for (uint32_t h : rec.holders) EXPECT_EQ(h, for__thread_id());
    EXPECT_EQ(rec.finishes, 1);
    EXPECT_EQ(st.ctx.lub, nullptr) << "releasing the unit clears context word 1";
    // A transfer call of a statement that has ended does nothing.
    EXPECT_EQ(xmit(&st.ctx, st.items.dsc(), st.items.val()), 0);
    EXPECT_EQ(rec.items.size(), 3u);
    // The unit is free again.
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(20, &lub, nullptr, FOR_OP_READ), 0);
    for__release_lub(lub);
}

TEST_F(Frame, AStatementWithoutItemsStillCompletesItsRecord) {
    kit::Stmt st(21);
    st.items.end();
    EXPECT_EQ(st.run(entry), 0);
    EXPECT_TRUE(rec.items.empty());
    EXPECT_EQ(rec.finishes, 1);
}

// The completion table: which condition goes back to the program, as what.
TEST_F(Frame, CompletionReturnsWhatTheProgramAskedFor) {
    struct Case {
        const char *what;
        bool err, end, eor, iostat;
        For_Stmt_Kind *k;
        int status;
        int want;
        int last_error;  // what ERRSNS will report
    } cases[] = {
        {"EOF with END=", false, true, false, false, &read_kind, 24, -1, 24},
        {"EOF with IOSTAT=", false, false, false, true, &read_kind, 24, -1, 24},
        {"EOF 613 with END=", false, true, false, false, &read_kind, 613, -1, 613},
        {"too many records on READ is EOF", false, true, false, false, &read_kind, 27, -1, 27},
        {"EOR with EOR=", false, false, true, false, &read_kind, 268, -2, 268},
        {"EOR 758 with IOSTAT=", false, false, false, true, &read_kind, 758, -2, 758},
        {"error with ERR=", true, false, false, false, &read_kind, 29, 29, 29},
        {"error with IOSTAT=", false, false, false, true, &read_kind, 29, 29, 29},
        {"error with ERR= and END=", true, true, false, false, &read_kind, 29, 29, 29},
        {"EOF with ERR= and END= takes END=", true, true, false, false, &read_kind, 24, -1, 24},
        {"too many records on WRITE is an error", true, false, false, false, &write_kind, 27, 27, 27},
        {"paired message reports its general IOSTAT", false, false, false, true, &read_kind, 257, 31, 31},
    };
    int unit = 30;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        rec = Recorder{};
        rec.fail_at = 0;
        rec.fail_status = c.status;
        kind = c.k;
        int32_t x = 0;
        kit::Stmt st(unit++);
        if (c.err) st.flags.err();
        if (c.end) st.flags.end();
        if (c.eor) st.flags.eor();
        if (c.iostat) st.flags.iostat();
        st.items.item(x).item(x).end();
        EXPECT_EQ(st.run(entry), c.want);
        EXPECT_EQ(rec.items.size(), 1u) << "the statement ends at the failing item";
        EXPECT_EQ(st.ctx.lub, nullptr);
        const For_Last_Error &e = for__thread_storage().last_error;
        EXPECT_EQ(e.err_unit, unit - 1);
        EXPECT_EQ(static_cast<int>(e.err_number), c.last_error);
    }
}

TEST_F(Frame, SuppressedConversionErrorsReturnWithoutAnyHandler) {
    kind = &write_kind;
    rec.fail_at = 0;
    rec.fail_status = 63;
    int32_t x = 0;
    kit::Stmt st(40);
    st.flags.cvterr();
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), msg::output_conversion);
}

TEST_F(Frame, IomsgReceivesTheTextPaddedOrCut) {
    rec.fail_at = 0;
    rec.fail_status = 29;
    int32_t x = 0;
    struct Case {
        size_t len;
        std::string want;
    } cases[] = {{50, "file not found, unit 41, file /dev/null"}, {10, "file not f"}};
    for (const Case &c : cases) {
        rec.items.clear();
        std::string msg(c.len, '#');
        kit::Stmt st(41);
        st.flags.iostat();
        st.control.iomsg(msg);
        st.items.item(x).end();
        EXPECT_EQ(st.run(entry), msg::file_not_found);
        std::string want = c.want + std::string(c.len - c.want.size(), ' ');
        EXPECT_EQ(msg, want);
    }
}

TEST_F(Frame, EndOfFileFillsIomsgWithTheEndOfFileText) {
    rec.fail_at = 0;
    rec.fail_status = 24;
    int32_t x = 0;
    std::string msg(60, '#');
    kit::Stmt st(42);
    st.flags.end();
    st.control.iomsg(msg);
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), -1);
    EXPECT_EQ(msg.substr(0, 41), "end-of-file during read, unit 42, file /d");
}

TEST_F(Frame, ModeOverridesLastForTheStatementOnly) {
    int32_t x = 0;
    For_Lub *seen = nullptr;
    rec.during = [&](For_Lub *lub) {
        seen = lub;
        EXPECT_TRUE(lub->lub_flags & lubf::blank_null);
        EXPECT_EQ(lub->lub_delim, '"');
        EXPECT_FALSE(lub->lub_flags & lubf::pad);
        EXPECT_EQ(lub->lub_round, FOR_ROUND_ZERO);
        EXPECT_EQ(lub->lub_decimal, FOR_DECIMAL_COMMA);
        EXPECT_EQ(lub->lub_sign, FOR_SIGN_PLUS);
        return 0;
    };
    // A connected unit with its own modes first.
    kit::Stmt first(43);
    first.items.end();
    ASSERT_EQ(first.run(entry), 0);
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(43, &lub, nullptr, FOR_OP_READ), 0);
    lub->lub_flags |= lubf::pad;
    lub->lub_delim = '\'';
    lub->lub_round = FOR_ROUND_UP;
    lub->lub_decimal = FOR_DECIMAL_POINT;
    lub->lub_sign = FOR_SIGN_SUPPRESS;
    for__release_lub(lub);

    kit::Stmt st(43);
    st.flags.f90();
    st.control.blank("null").decimal("COMMA").delim("quote  ").pad("No").round("zero").sign("PLUS");
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), 0);
    ASSERT_NE(seen, nullptr);
    EXPECT_FALSE(seen->lub_flags & lubf::blank_null);
    EXPECT_EQ(seen->lub_delim, '\'');
    EXPECT_TRUE(seen->lub_flags & lubf::pad);
    EXPECT_EQ(seen->lub_round, FOR_ROUND_UP);
    EXPECT_EQ(seen->lub_decimal, FOR_DECIMAL_POINT);
    EXPECT_EQ(seen->lub_sign, FOR_SIGN_SUPPRESS);
    EXPECT_EQ(seen->lub_stmt.saved.overridden, 0u);
}

// A child data transfer of defined I/O runs its own statement on the
// parent's unit: the parent's statement waits aside, the child's overrides
// end with the child, and the parent's end with the parent.
TEST_F(Frame, AChildStatementRunsBesideItsSuspendedParent) {
    int32_t x = 0, y = 0;
    std::string parent_msg(30, ' ');
    bool in_child = false, child_done = false;
    uint8_t child_sign = 0, child_decimal = 0, resumed_sign = 0, resumed_decimal = 0;
    For_Lub *seen = nullptr;
    rec.during = [&](For_Lub *lub) {
        if (in_child) {
            child_sign = lub->lub_sign;
            child_decimal = lub->lub_decimal;
            return 0;
        }
        if (child_done) return 0;
        child_done = true;
        seen = lub;
        For_Stmt_State parent;
        lub->lub_udio_depth = 1;
        for__stmt_suspend(lub, &parent);
        EXPECT_EQ(parent.saved.overridden, stmo::decimal);
        EXPECT_EQ(parent.iomsg_addr, parent_msg.data());
        EXPECT_EQ(lub->lub_stmt.iomsg_addr, nullptr) << "the child starts without targets";
        EXPECT_EQ(lub->lub_stmt.saved.overridden, 0u);
        kit::Stmt child(46);
        child.control.sign("PLUS");
        child.items.item(y).end();
        in_child = true;
        EXPECT_EQ(child.run(entry), 0);
        in_child = false;
        for__stmt_resume(lub, parent);
        lub->lub_udio_depth = 0;
        resumed_sign = lub->lub_sign;
        resumed_decimal = lub->lub_decimal;
        EXPECT_EQ(lub->lub_stmt.iomsg_addr, parent_msg.data()) << "the parent's targets are back";
        EXPECT_EQ(lub->lub_stmt.saved.overridden, stmo::decimal);
        return 0;
    };
    kit::Stmt first(46);
    first.items.end();
    ASSERT_EQ(first.run(entry), 0);
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(46, &lub, nullptr, FOR_OP_READ), 0);
    lub->lub_decimal = FOR_DECIMAL_POINT;
    lub->lub_sign = FOR_SIGN_SUPPRESS;
    for__release_lub(lub);

    kit::Stmt st(46);
    st.flags.iostat();
    st.control.iomsg(parent_msg).decimal("COMMA");
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), 0);
    ASSERT_TRUE(child_done);
    EXPECT_EQ(child_sign, FOR_SIGN_PLUS) << "the child's own override";
    EXPECT_EQ(child_decimal, FOR_DECIMAL_COMMA) << "the child sees the modes its parent set";
    EXPECT_EQ(resumed_sign, FOR_SIGN_SUPPRESS) << "the child's override ends with the child";
    EXPECT_EQ(resumed_decimal, FOR_DECIMAL_COMMA) << "the parent's override outlives the child";
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->lub_decimal, FOR_DECIMAL_POINT) << "the parent's override ends with the parent";
    EXPECT_EQ(seen->lub_sign, FOR_SIGN_SUPPRESS);
    EXPECT_EQ(seen->lub_stmt.saved.overridden, 0u);
    EXPECT_EQ(seen->lub_stmt.iomsg_addr, nullptr);
}

TEST_F(Frame, AKeywordValueOutsideItsTableIs116) {
    int32_t x = 0;
    std::string msg(30, ' ');
    kit::Stmt st(44);
    st.flags.iostat();
    st.control.iomsg(msg).round("SIDEWAYS");
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), msg::io_keyword_value);
    EXPECT_TRUE(rec.items.empty());
    EXPECT_EQ(msg.substr(0, 12), "keyword valu");
}

TEST_F(Frame, PosOnASequentialUnitReports31ButDiagnoses110) {
    kind = &write_kind;
    int32_t x = 0;
    int64_t pos = 3;
    std::string msg(40, ' ');
    kit::Stmt connect(45);
    connect.items.end();
    ASSERT_EQ(connect.run(entry), 0);
    kit::Stmt st(45);
    st.flags.iostat();
    st.control.iomsg(msg).pos(pos);
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), msg::mixed_access_modes);
    EXPECT_EQ(msg.substr(0, 25), "mixed file access modes, ");
    EXPECT_EQ(for__thread_storage().last_error.err_number, 31u);
}

TEST_F(Frame, AFailedImplicitConnectionLeavesTheUnitAsItWas) {
    kind = &failing_kind;
    int32_t x = 0;
    kit::Stmt st(46);
    st.flags.iostat();
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), msg::file_not_found);
    EXPECT_TRUE(rec.items.empty());
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(46, &lub, nullptr, FOR_OP_READ), 0);
    EXPECT_FALSE(lub->lub_flags & lubf::opened);
    EXPECT_EQ(lub->lub_fd, -1);
    for__release_lub(lub);
}

TEST_F(Frame, AcquisitionFailureFillsIomsgWithoutHoldingAUnit) {
    int32_t x = 0;
    std::string msg(60, ' ');
    kit::Stmt st(-77);  // a NEWUNIT number nobody was given
    st.flags.iostat();
    st.control.iomsg(msg);
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), msg::invalid_unit);
    EXPECT_EQ(msg.substr(0, 43), "invalid logical unit number, unit -77, file");
    EXPECT_EQ(st.ctx.lub, nullptr);
}

TEST_F(Frame, RecursiveIoOnTheSameUnitIs40) {
    int32_t x = 0;
    int inner = 0;
    rec.during = [&](For_Lub *) {
        if (inner != 0) return 0;
        Recorder saved = rec;
        kit::Stmt st(47);
        st.flags.iostat();
        st.items.end();
        inner = entry(&st.ctx, 47, st.flag_word(), st.items.dsc(), st.items.val(), nullptr, nullptr);
        rec.items = saved.items;
        return 0;
    };
    kit::Stmt st(47);
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), 0);
    EXPECT_EQ(inner, msg::recursive_io);
}

TEST_F(Frame, ConnectionChecks) {
    kind = &write_kind;
    struct Case {
        const char *what;
        uint64_t flags;
        int want;
    } cases[] = {
        {"READONLY", lubf::readonly, 47},
        {"keyed", lubf::access_keyed, 31},
        {"unformatted", lubf::unformatted, 31},
        {"direct without the compatibility option", lubf::access_direct, 31},
        {"direct with it", lubf::access_direct | lubf::opt_compat, 0},
    };
    int unit = 50;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        kit::Stmt open_it(unit);
        open_it.items.end();
        ASSERT_EQ(open_it.run(entry), 0);
        For_Lub *lub = nullptr;
        ASSERT_EQ(for__acquire_lun(unit, &lub, nullptr, FOR_OP_READ), 0);
        lub->lub_flags |= c.flags;
        for__release_lub(lub);
        kit::Stmt st(unit++);
        st.flags.iostat();
        st.items.end();
        EXPECT_EQ(st.run(entry), c.want);
    }
}

// Unhandled conditions end the process with the message as status.
using FrameDeath = Frame;

TEST_F(FrameDeath, EndOfFileWithOnlyErrIsADiagnostic) {
    EXPECT_EXIT(
        {
            rec.fail_at = 0;
            rec.fail_status = 24;
            int32_t x = 0;
            kit::Stmt st(60);
            st.flags.err();
            st.items.item(x).end();
            st.run(entry);
        },
        ::testing::ExitedWithCode(24), "forrtl: severe \\(24\\): end-of-file during read, unit 60, file /dev/null");
}

TEST_F(FrameDeath, PosWithoutIostatShowsTheSpecificMessage) {
    EXPECT_EXIT(
        {
            kind = &write_kind;
            int64_t pos = 2;
            kit::Stmt connect(61);
            connect.items.end();
            connect.run(entry);
            kit::Stmt st(61);
            st.control.pos(pos);
            st.items.end();
            st.run(entry);
        },
        ::testing::ExitedWithCode(110), "forrtl: severe \\(110\\): stream data transfer");
}

TEST_F(FrameDeath, PosOnAnUnconnectedUnit) {
    EXPECT_EXIT(
        {
            int64_t pos = 2;
            kit::Stmt st(65);
            st.control.pos(pos);
            st.items.end();
            st.run(entry);
        },
        ::testing::ExitedWithCode(109),
        "forrtl: severe \\(109\\): stream data transfer statement is not allowed to an unopened "
        "unit, unit 65\n");
}

TEST_F(FrameDeath, AcquisitionFailureWithoutHandlersNamesNoFile) {
    EXPECT_EXIT(
        {
            kit::Stmt st(-300);
            st.items.end();
            st.run(entry);
        },
        ::testing::ExitedWithCode(32), "forrtl: severe \\(32\\): invalid logical unit number, unit -300, file unknown");
}

TEST_F(FrameDeath, KeywordsOutOfOrderAreACompilerFault) {
    EXPECT_EXIT(
        {
            kit::Stmt st(62);
            st.control.round("UP").blank("NULL");
            st.items.end();
            st.run(entry);
        },
        ::testing::ExitedWithCode(8), "internal consistency check failure, file test_read");
}

TEST_F(FrameDeath, TheSystemsReasonIsPrintedFirst) {
    EXPECT_EXIT(
        {
            rec.during = [](For_Lub *lub) {
                lub->lub_errno = ENOSPC;
                return 0;
            };
            rec.fail_at = 0;
            rec.fail_status = 38;
            int32_t x = 0;
            kit::Stmt st(63);
            st.items.item(x).end();
            st.run(entry);
        },
        ::testing::ExitedWithCode(38), "forrtl: No space left on device\nforrtl: severe \\(38\\)");
}

TEST_F(Frame, PadUnderTheOlderRuntimeModeWarnsAndStillApplies) {
    int32_t x = 0;
    bool pad_seen = true;
    rec.during = [&](For_Lub *lub) {
        pad_seen = lub->lub_flags & lubf::pad;
        return 0;
    };
    testing::internal::CaptureStderr();
    kit::Stmt st(64);  // no iof_f90: the older run-time mode
    st.control.pad("NO");
    st.items.item(x).end();
    EXPECT_EQ(st.run(entry), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("(764): PAD= specifier not allowed with 'f77rtl'"), std::string::npos) << err;
    EXPECT_FALSE(pad_seen);
}

}  // namespace
