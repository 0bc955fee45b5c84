// Formatted WRITE by its own cases: the conditions the statement reports
// (no data edit after reversion, an internal file written past its end),
// "$", variable format expressions, and the cache of run-time formats.
#include <gtest/gtest.h>

#include <vorlix/format.h>

#include "diag/for_msgnum.h"
#include "fmt_bytes.h"
#include "fmt_stmt_kit.h"
#include "format/for_intrp_fmt.h"

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
