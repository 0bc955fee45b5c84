// Formatted WRITE by its own cases: the conditions the statement reports
// (no data edit after reversion, an internal file written past its end),
// "$", variable format expressions, and the cache of run-time formats.
#include <gtest/gtest.h>

#include <vorlix/format.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include <sys/resource.h>

#include "diag/for_msgnum.h"
#include "fmt_bytes.h"
#include "fmt_stmt_kit.h"
#include "format/for_intrp_fmt.h"
#include "io/for_rec.h"

namespace {

using namespace fmtk;

// WRITE (20, fmt, IOSTAT=) items, returning the status and the file.
int write_file(const Dir &dir, const std::string &format, std::vector<Val> items, std::string *text) {
    std::string path = dir.file("w.txt");
    EXPECT_EQ(open_file(20, path), 0);
    Store store(items.size());
    kit::Stmt st(20);
    st.flags.fmt_text().iostat();
    for (const Val &v : items) store.add(st.items, v);
    st.items.end();
    For_Char_Format f = text_format(format);
    int s = st.run(for_write_seq_fmt, &f, for_write_seq_fmt_xmit);
    EXPECT_EQ(close_unit(20), 0);
    *text = slurp(path);
    return s;
}

TEST(FmtWriteCases, ReversionNeedsADataEditInTheGroupItReturnsTo) {
    struct Case {
        std::string format;
        int items;
        int want;
        std::string file;
    } cases[] = {
        // A statement that fails leaves its unfinished record unwritten.
        {"(1X)", 1, 105, ""},
        {"(I2,2(1X))", 2, 105, ""},
        {"('x')", 1, 105, ""},
        // The group reversion returns to holds I2 before its nested group.
        {"(2(I2,(1X)))", 5, 0, " 1  2\n 3  4\n 5\n"},
        // Data after the last outer group counts too.
        {"(2(1X),I1)", 2, 0, "  1\n  2\n"},
    };
    Dir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        std::vector<Val> items;
        for (int i = 1; i <= c.items; ++i) items.push_back(I(i));
        std::string text;
        EXPECT_EQ(write_file(dir, c.format, items, &text), c.want);
        EXPECT_EQ(text, c.file);
    }
}

TEST(FmtWriteCases, DollarKeepsTheLineOpenUntilTheNextRecord) {
    Dir dir;
    std::string path = dir.file("d.txt");
    ASSERT_EQ(open_file(21, path), 0);
    for (const char *format : {"('ab',$)", "('cd')", "('e',/,'f',$)"}) {
        kit::Stmt st(21);
        st.flags.fmt_text();
        st.items.end();
        For_Char_Format f = text_format(format);
        ASSERT_EQ(st.run(for_write_seq_fmt, &f), 0);
    }
    // The record after a prompt ends its line; the last prompt, never
    // followed by a record, keeps its line open to the end.
    EXPECT_EQ(slurp(path).substr(0, 6), "ab\ncd\n");
    ASSERT_EQ(close_unit(21), 0);
    std::string all = slurp(path);
    EXPECT_EQ(all.substr(0, 10), "ab\ncd\ne\nf");
}

// An internal file of one 4-character record written with a second record.
int overflow_internal(kit::Flags flags, std::string *var) {
    *var = "####";
    kit::Stmt st;
    st.flags = flags;
    st.flags.fmt_text();
    st.items.chars(*var).text("ab").text("cd").end();
    For_Char_Format f = text_format("(A/A)");
    return st.run(for_write_int_fmt, &f, for_write_int_fmt_xmit);
}

TEST(FmtWriteCases, WritingPastAnInternalFileIsAnErrorNotAnEndOfFile) {
    std::string var;
    kit::Flags iostat;
    iostat.iostat();
    EXPECT_EQ(overflow_internal(iostat, &var), msg::internal_file_overflow);
    EXPECT_EQ(var, "ab  ") << "the record written before the overflow stays";
    kit::Flags err;
    err.err();
    EXPECT_EQ(overflow_internal(err, &var), msg::internal_file_overflow) << "ERR= is taken";
    kit::Flags end;
    end.set(iof_end).iostat();
    EXPECT_EQ(overflow_internal(end, &var), msg::internal_file_overflow) << "never the END= branch";
}

TEST(FmtWriteCases, AFieldLongerThanTheInternalRecordOverflowsTheRecord) {
    std::string var = "###";
    kit::Stmt st;
    st.flags.fmt_text().iostat();
    st.items.chars(var).text("abcdef").end();
    For_Char_Format f = text_format("(A6)");
    EXPECT_EQ(st.run(for_write_int_fmt, &f), msg::output_overflows_record);
}

// A record position or field far past any sane record: the record area is
// never asked for it (it used to request up to 64 TiB and fail with 41, or
// allocate and blank a gigabyte); the statement overflows the record, on a
// file without RECL (bounded at for_max_grown_record), one with RECL and
// an internal file alike, and the unit goes on working.
TEST(FmtWriteCases, APositionPastTheLongestRecordOverflowsItBeforeAnyAllocation) {
    const std::string past = std::to_string(for_max_grown_record + 1);
    const std::string at_end = std::to_string(for_max_grown_record);
    const std::vector<std::string> formats = {
        "(T70000000000000,A)", "(T" + past + ",A)",     "(TR70000000000000,A)", "(TR" + at_end + ",A)",
        "(70000000000000X,A)", "(" + at_end + "X,A)",   "(A,2147483647X,A)",    "(8(2147483647X),A)",
        "(A" + past + ")",     "(TR1,A" + at_end + ")", "(T" + at_end + ",A2)", "(99999(99999(99999X)),A)",
    };
    enum Target { no_recl, recl_100, internal };
    Dir dir;
    for (Target target : {no_recl, recl_100, internal}) {
        for (const std::string &format : formats) {
            SCOPED_TRACE(format + (target == no_recl    ? " without RECL"
                                   : target == recl_100 ? " RECL=100"
                                                        : " internal"));
            rusage before{}, after{};
            getrusage(RUSAGE_SELF, &before);
            const auto t0 = std::chrono::steady_clock::now();
            For_Char_Format f = text_format(format);
            std::string var(40, '#');
            int s;
            if (target == internal) {
                kit::Stmt st;
                st.flags.fmt_text().iostat();
                st.items.chars(var).text("x").text("y").end();
                s = st.run(for_write_int_fmt, &f);
            } else {
                kit::Keys k;
                k.text(FOR_KEY_FILE, dir.file("big.txt")).text(FOR_KEY_STATUS, "replace");
                if (target == recl_100) k.value(FOR_KEY_RECL, 100);
                ASSERT_EQ(kit::open_unit(21, k), 0);
                kit::Stmt st(21);
                st.flags.fmt_text().iostat();
                st.items.text("x").text("y").end();
                s = st.run(for_write_seq_fmt, &f);
                // The unit is still whole: a plain record goes out after.
                kit::Stmt ok(21);
                ok.flags.fmt_text().iostat();
                ok.items.text("ok").end();
                For_Char_Format a = text_format("(A)");
                EXPECT_EQ(ok.run(for_write_seq_fmt, &a), 0);
                EXPECT_EQ(close_unit(21), 0);
                EXPECT_EQ(lines_of(slurp(dir.file("big.txt"))).back(), "ok");
            }
            const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            getrusage(RUSAGE_SELF, &after);
            EXPECT_EQ(s, msg::output_overflows_record);
            EXPECT_LT(secs, 2.0);
            EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kB of memory touched";
        }
    }
}

TEST(FmtWriteCasesDeath, AnUnhandledInternalOverflowIsASevereDiagnostic) {
    EXPECT_EXIT(
        {
            std::string var;
            overflow_internal(kit::Flags{}, &var);
        },
        ::testing::ExitedWithCode(629 & 0xff), "forrtl: severe \\(629\\): internal file overflow");
}

TEST(FmtWriteCasesDeath, TheInternalFileIsNamedInItsMessages) {
    EXPECT_EXIT(
        {
            int32_t x = 1;
            std::string var(4, ' ');
            kit::Stmt st;
            st.flags.fmt_text();
            st.items.chars(var).item(x).end();
            For_Char_Format f = text_format("(1X)");
            st.run(for_write_int_fmt, &f);
        },
        ::testing::ExitedWithCode(105),
        "forrtl: severe \\(105\\): there is no data-edit-descriptor .*file Internal Formatted Write or ENCODE");
}

TEST(FmtWriteCases, ARunTimeFormatWrittenInALoopIsCompiledOnce) {
    std::string var(8, ' ');
    const uint64_t before = for__fmt_cache_compiles();
    for (int32_t i = 0; i < 200; ++i) {
        std::string text = "(I0,:)";  // a fresh copy each time: the cache keys on the text
        kit::Stmt st;
        st.flags.fmt_text();
        st.items.chars(var).item(i).end();
        For_Char_Format f = text_format(text);
        ASSERT_EQ(st.run(for_write_int_fmt, &f), 0);
        ASSERT_EQ(var, std::to_string(i) + std::string(8 - std::to_string(i).size(), ' '));
        var.assign(8, ' ');
    }
    EXPECT_EQ(for__fmt_cache_compiles() - before, 1u);
    // More distinct texts than the cache holds still all work, and the
    // first comes back compiled again once evicted.
    var.assign(24, ' ');
    for (int k = 0; k < for_fmt_cache_entries + 2; ++k) {
        std::string text = "(I" + std::to_string(k + 3) + ")";
        int32_t v = k;
        kit::Stmt st;
        st.flags.fmt_text();
        st.items.chars(var).item(v).end();
        For_Char_Format f = text_format(text);
        ASSERT_EQ(st.run(for_write_int_fmt, &f), 0);
        std::string want = std::to_string(k);
        want = std::string(static_cast<size_t>(k + 3) - want.size(), ' ') + want;
        EXPECT_EQ(var.substr(0, want.size()), want);
    }
}

// A compiled format whose width comes from a variable format expression
// (context word 2): I<n>.
TEST(FmtWriteCases, VariableFormatExpressionsAreReadThroughTheContext) {
    using namespace fmtb;
    struct Case {
        int32_t n;
        int want;
        std::string text;
    } cases[] = {{5, 0, "   42"}, {2, 0, "42"}, {-1, 68, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.n);
        Bytes i = rec(FOR_FMT_I, 1, 0, 0);
        i[1] |= FOR_FMT_VFE_F2 >> 8;
        For_Vfe_Slot slots[4] = {{0, 0, 0}, {0, 3, 9}, {0, 0, 0}, {0, 0, 0}};
        const auto *sb = reinterpret_cast<const uint8_t *>(slots);
        i.insert(i.end(), sb, sb + sizeof slots);
        Bytes f = fmt({i});
        const int32_t *addr = &c.n;
        uintptr_t table[1] = {reinterpret_cast<uintptr_t>(addr)};
        std::string var(5, '#');
        int32_t x = 42;
        kit::Stmt st;
        st.ctx.vfe_table = table;
        st.flags.iostat();
        st.items.chars(var).item(x).end();
        EXPECT_EQ(st.run(for_write_int_fmt, f.data()), c.want);
        if (c.want == 0) {
            EXPECT_EQ(var.substr(0, c.text.size()), c.text);
        }
    }
}

}  // namespace

namespace {

// WRITE (internal file of `records` records of `length`, fmt, IOSTAT=) items.
int write_internal(std::string *var, size_t records, size_t length, const std::string &format, std::vector<Val> items) {
    *var = std::string(records * length, '#');
    Store store(items.size());
    kit::Stmt st;
    st.flags.fmt_text().iostat();
    st.items.char_array(var->data(), records, length);
    for (const Val &v : items) store.add(st.items, v);
    st.items.end();
    For_Char_Format f = text_format(format);
    return st.run(for_write_int_fmt, &f, for_write_int_fmt_xmit);
}

}  // namespace

// EXw.d lays out the digits printf's %A does, for every d a format can
// give: beyond the 13 hex digits of a REAL(8) fraction come zeros. (Where
// rounding carries into the leading digit, printf writes 0X2.0P+n and EX
// keeps its leading 1, 0X1.0P+n+1: no d below rounds up that far.)
TEST(FmtWriteCases, EXWritesTheDigitsOfPrintfHexForAnyD) {
    const double values[] = {1.5, -2.75, 0.1, 1.0 / 3.0, 6.02214076e23, -1e-300, 1.0, 65535.9921875};
    const int digits[] = {6, 12, 13, 14, 20, 31, 32, 33, 44, 60, 100};
    for (double v : values) {
        for (int d : digits) {
            char want[256];
            std::snprintf(want, sizeof want, "%.*A", d, v);
            const std::string format = "(EX" + std::to_string(d + 20) + "." + std::to_string(d) + ")";
            SCOPED_TRACE(format + " of " + want);
            std::string var;
            EXPECT_EQ(write_internal(&var, 1, static_cast<size_t>(d) + 20, format, {R(v)}), 0);
            const size_t first = var.find_first_not_of(' ');
            ASSERT_NE(first, std::string::npos);
            EXPECT_EQ(var.substr(first), want);
            EXPECT_EQ(first + std::strlen(want), var.size()) << "right-justified in its field";
        }
    }
}

// The first slash or reversion that leaves the last record of an internal
// file ends the statement, as it does in gfortran (which reports an end
// of file there; ours is the internal-file overflow, processor dependent),
// and a huge repeat count does not make it run on.
TEST(FmtWriteCases, AnAdvancePastTheLastInternalRecordEndsTheStatement) {
    struct Case {
        const char *format;
        std::vector<Val> items;
    };
    const std::vector<Case> cases = {
        {"(A,/,A,/,A)", {A("a"), A("b"), A("c")}},
        {"(A,/,A,/,A,/)", {A("a"), A("b"), A("c")}},
        {"(2/,A)", {A("x")}},
        {"(3/)", {}},
        {"(4/)", {}},
        {"(I2)", {I(1), I(2), I(3)}},
        {"(I2)", {I(1), I(2), I(3), I(4)}},
    };
    std::string p = "program t\n  character(3) :: l(3)\n  integer :: ios\n";
    for (const Case &c : cases) {
        p += "  write(l," + quoted(c.format) + ",iostat=ios)";
        for (size_t i = 0; i < c.items.size(); ++i) p += std::string(i ? ", " : " ") + fortran(c.items[i]);
        p += "\n  write(*,'(l1)') ios /= 0\n";
    }
    p += "end program\n";
    auto lines = kit::gfortran_lines(p);
    if (!lines) GTEST_SKIP() << "gfortran is not installed";
    ASSERT_EQ(lines->size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].format);
        std::string var;
        const int s = write_internal(&var, 3, 3, cases[i].format, cases[i].items);
        EXPECT_EQ((*lines)[i], s != 0 ? "T" : "F");
        if (s != 0) {
            EXPECT_EQ(s, msg::internal_file_overflow);
        }
    }
    for (const char *format : {"(4611686018427387904/,I2)", "(2147483647/,I2)", "(2147483647(2147483647(/)),I2)"}) {
        SCOPED_TRACE(format);
        std::string var;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(write_internal(&var, 3, 3, format, {I(7)}), msg::internal_file_overflow);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    }
}

// Output positioning repeated by a group writes what its iterations
// written out one after another write, and a count that would take 10^18
// iterations ends at once.
TEST(FmtWriteCases, RepeatedPositioningGroupsWriteWhatTheirUnrolledFormsWrite) {
    struct Pair {
        const char *repeated, *unrolled;
    };
    const Pair pairs[] = {
        {"(A,3(2X),A)", "(A,2X,2X,2X,A)"},
        {"(A,5(TL1,2X),A)", "(A,TL1,2X,TL1,2X,TL1,2X,TL1,2X,TL1,2X,A)"},
        {"(A,4(3X,TL5),A)", "(A,3X,TL5,3X,TL5,3X,TL5,3X,TL5,A)"},
        {"(A,9X,3(TL5,3X),A)", "(A,9X,TL5,3X,TL5,3X,TL5,3X,A)"},
        {"(A,2(3(1X),TL1),A)", "(A,1X,1X,1X,TL1,1X,1X,1X,TL1,A)"},
        {"(A,3(T5,1X),A)", "(A,T5,1X,T5,1X,T5,1X,A)"},
        {"(A,12X,4(TL3),A)", "(A,12X,TL3,TL3,TL3,TL3,A)"},
        {"(A,3(TR2,TL1),A)", "(A,TR2,TL1,TR2,TL1,TR2,TL1,A)"},
        {"(A,3('x',TL1),A)", "(A,'x',TL1,'x',TL1,'x',TL1,A)"},
        {"(A,4('xy',TL1),A)", "(A,'xy',TL1,'xy',TL1,'xy',TL1,'xy',TL1,A)"},
        {"(A,3(TL2,'z'),A)", "(A,TL2,'z',TL2,'z',TL2,'z',A)"},
        {"(A,2(2('uv',TL3),1X),A)", "(A,'uv',TL3,'uv',TL3,1X,'uv',TL3,'uv',TL3,1X,A)"},
    };
    Dir dir;
    for (const Pair &p : pairs) {
        SCOPED_TRACE(p.repeated);
        std::string t1, t2;
        EXPECT_EQ(write_file(dir, p.repeated, {A("ab"), A("cd")}, &t1), 0);
        EXPECT_EQ(write_file(dir, p.unrolled, {A("ab"), A("cd")}, &t2), 0);
        EXPECT_EQ(t1, t2);
    }
    const Pair huge[] = {
        {"(A,2147483647(2147483647(TL1)),A)", "(A,TL2,A)"},
        {"(A,999999999(999999999(TL1,1X)),A)", "(A,TL1,1X,A)"},
        {"(A,2147483647(2147483647(T2,BN)),A)", "(A,T2,A)"},
        {"(A,2147483647(2147483647('x',TL1)),A)", "(A,'x',TL1,A)"},
        {"(A,999(99999(0H,TL1,1X)),A)", "(A,A)"},
    };
    for (const Pair &p : huge) {
        SCOPED_TRACE(p.repeated);
        std::string t1, t2;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(write_file(dir, p.repeated, {A("ab"), A("cd")}, &t1), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
        EXPECT_EQ(write_file(dir, p.unrolled, {A("ab"), A("cd")}, &t2), 0);
        EXPECT_EQ(t1, t2);
    }
    // Far to the right: the record cannot be that long; the statement
    // says so instead of running.
    std::string text;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_NE(write_file(dir, "(A,2147483647(2147483647(1X)),A)", {A("ab"), A("cd")}, &text), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

// Groups nest to 32 levels, each level doing what the flat format does;
// the 33rd is refused with the message that names the limit.
TEST(FmtWriteCases, GroupsNestToThirtyTwoLevels) {
    Dir dir;
    std::string flat;
    EXPECT_EQ(write_file(dir, "(I3,1X,2(I2))", {I(1), I(2), I(3), I(4), I(5)}, &flat), 0);
    for (int levels : {2, 8, 9, 12, 31}) {
        SCOPED_TRACE(levels);
        const std::string nested = "(I3,1X," + std::string(static_cast<size_t>(levels - 2), '(') + "2(I2" +
                                   std::string(static_cast<size_t>(levels), ')');
        std::string text;
        EXPECT_EQ(write_file(dir, nested, {I(1), I(2), I(3), I(4), I(5)}, &text), 0);
        EXPECT_EQ(text, flat);
    }
    // The deepest a run-time format may nest: 32 parentheses.
    const std::string deepest = std::string(32, '(') + "I2" + std::string(32, ')');
    std::string text;
    EXPECT_EQ(write_file(dir, deepest, {I(1), I(2)}, &text), 0);
    EXPECT_EQ(text, " 1\n 2\n");
    EXPECT_EQ(write_file(dir, std::string(33, '(') + "I2" + std::string(33, ')'), {I(1)}, &text),
              msg::format_nesting_limit_exceeded);
}
