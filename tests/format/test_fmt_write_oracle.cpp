// Formatted WRITE against gfortran: each case is one statement, written by
// a generated program to standard output and by for_write_seq_fmt (or
// for_write_int_fmt) to a file or an internal file; the records must agree
// byte for byte.
#include <gtest/gtest.h>

#include "fmt_stmt_kit.h"

namespace {

using namespace fmtk;

struct Case {
    const char *what;
    std::string format;
    std::vector<Val> items;
};

// Standard-defined output: reversion and its repeat counts, colon, trailing
// literals, positioning, modes persisting across reversion and slash, and
// the edits under each mode.
const std::vector<Case> &write_cases() {
    static const std::vector<Case> cases = {
        {"reversion to the format start", "(I3)", {I(1), I(2), I(3)}},
        {"reversion to the last group, with its count", "(A,2(I2))", {A("x"), I(1), I(2), I(3), I(4)}},
        {"nested group after the data edits reverts", "(2(I2,(1X)))", {I(1), I(2), I(3), I(4), I(5)}},
        {"colon stops before a trailing literal", "(I2,:,'end')", {I(7)}},
        {"trailing literal without colon", "(I2,'end')", {I(7)}},
        {"literals of the reverted part", "(3(I2,1X),'|')", {I(1), I(2), I(3), I(4), I(5), I(6), I(7)}},
        {"colon inside an unlimited group", "(*(I3,:,','))", {I(1), I(2), I(3)}},
        {"scale factor survives a slash", "(2P,F6.2,/,F6.2)", {R(1.5), R(2.5)}},
        {"scale factor survives reversion", "(1P,E12.4)", {R(1.5), R(-250.0)}},
        {"negative scale factor", "(-1P,E12.4)", {R(1.5)}},
        {"scale factor on F and E", "(2P,F9.3,E12.4)", {R(3.25), R(3.25)}},
        {"sign mode across reversion", "(SP,I4)", {I(1), I(2)}},
        {"sign modes in turn", "(SP,I4,SS,I4,S,I4)", {I(5), I(6), I(7)}},
        {"SP on reals", "(SP,F7.2,E11.3)", {R(2.5), R(2.5)}},
        {"decimal comma persists across slash", "(DC,F6.2,/,F6.2)", {R(1.25), R(-3.5)}},
        {"decimal comma then point", "(DC,E12.4,DP,E12.4)", {R(1.25), R(1.25)}},
        {"RU", "(RU,F7.2,F7.2)", {R(1.231), R(-1.239)}},
        {"RD", "(RD,F7.2,F7.2)", {R(1.239), R(-1.231)}},
        {"RZ", "(RZ,F7.2,F7.2)", {R(1.239), R(-1.239)}},
        {"RN", "(RN,F7.1,F7.1)", {R(0.25), R(0.35)}},
        {"RC", "(RC,F7.1,F7.1)", {R(0.25), R(-0.25)}},
        {"rounding persists across reversion", "(RU,F6.1)", {R(1.01), R(2.01)}},
        {"X and trailing X", "(I3,2X,I3,5X)", {I(1), I(2)}},
        {"T back and over", "(T5,I2,T1,I1)", {I(42), I(7)}},
        {"TL past the record start stops there", "(I3,TL10,I1)", {I(123), I(9)}},
        {"TR", "(TR3,I2,TR1,A)", {I(12), A("z")}},
        {"T leaves a gap of blanks", "(A,T8,A)", {A("ab"), A("cd")}},
        {"T then trailing literal", "(T10,'x',T1,'y')", {}},
        {"slashes without items", "('a',/,'b',2/,'c')", {}},
        {"slash at the end of the list", "(I2,/)", {I(1)}},
        {"I with m", "(I6.4,I4.0,I5)", {I(-12), I(0), I(123456)}},
        {"I0", "(I0,1X,I0,1X,I0)", {I(0), I(-2147483647), J(9000000000000000000LL)}},
        {"B, O, Z", "(B8,1X,O6,1X,Z8,1X,Z4.3)", {I(5), I(8), I(-1), I(10)}},
        {"B0, O0, Z0", "(B0,1X,O0,1X,Z0)", {I(5), I(64), I(255)}},
        {"F", "(F10.3,F6.0,F5.1)", {R(3.14159), R(-2.5), R(99.96)}},
        {"F0.d", "(F0.3,1X,F0.1,1X,F0.2)", {R(3.14159), R(-0.06), R(1e20)}},
        {"E and Ee", "(E12.4,E13.4E3,E10.2)", {R(0.000123456), R(1.5e100), R(-7.0)}},
        {"D", "(D14.5)", {R(12345.678)}},
        {"EN and ES", "(EN12.3,ES12.3,ES24.16)", {R(12345.6), R(0.00123), R(1.0 / 3.0)}},
        {"G chooses F or E", "(G12.4,G12.4,G12.4,G12.4)", {R(0.1), R(1234.5), R(1e10), R(0.001)}},
        {"G on other types", "(G5.1,G6.1,G4.1)", {I(42), L(true), A("ab")}},
        {"G0 on the types whose G0 the standard fixes", "(G0,1X,G0,1X,G0)", {I(-7), L(false), A("hi")}},
        {"G0.d in its F form", "(G0.3,1X,G0.4)", {R(2.5), R(-12.5)}},
        {"F0.d under a scale factor", "(3P,F0.2)", {R(1e15)}},
        {"L", "(L1,L3)", {L(true), L(false)}},
        {"A with and without width", "(A,A5,A2)", {A("abc"), A("abc"), A("abc")}},
        {"REAL(4) defaults", "(F8.3,E12.4)", {F(1.5f), F(-3.25f)}},
        {"complex takes two edits", "(2F8.3)", {C(1.5, -2.25)}},
        {"complex split by reversion", "(F8.3)", {C(1.5, -2.25)}},
        {"complex between others", "(I2,2E11.3,I2)", {I(1), C(-1e-3, 7.0), I(2)}},
        {"output overflow shows asterisks", "(I3,F5.1)", {I(12345), R(12345.6)}},
        {"ES24.16 repeated across records", "(5ES24.16)", {R(1), R(-2), R(1e-300), R(6.02e23), R(0.1), R(3), R(4)}},
        {"10I12",
         "(10I12)",
         {I(1), I(-1), I(2147483647), I(-2147483647), I(0), I(5), I(6), I(7), I(8), I(9), I(10), I(11)}},
        {"INTEGER(8) and REAL(4) under I and F", "(I20,F12.5)", {J(-1234567890123LL), F(0.1f)}},
        {"F without a digit on either side of the point gets its zero",
         "(A,F0.0,A,F0.0,A,F2.0,A,F1.0,A,F2.0,A)",
         {A("["), R(0.4), A("|"), R(0.0), A("|"), R(0.06), A("|"), R(0.0), A("|"), R(-0.4), A("]")}},
        {"a negative value that rounds to zero keeps its minus sign",
         "(F5.1,F4.0,RC,F5.0,RN,F0.0,F3.1,F6.2)",
         {R(-0.01), R(-0.4), R(-0.4), R(-0.4), R(-0.01), R(-0.004)}},
        {"Gw.0 edits as Ew.0", "(1PG9.0E2,G9.0,G9.0,G10.0E3,G9.0)", {R(0.6), R(123.0), R(0.0), R(5.0), R(-0.6)}},
        {"positioning repeated by a group", "(3(2X),I2)", {I(12)}},
        {"TL and X that move right together", "(I4,5(TL1,2X),I2)", {I(1234), I(56)}},
        {"nested positioning groups", "(2(3(1X),TL1),I2)", {I(7)}},
        {"T in a repeated group", "(A,3(T5,1X),I1)", {A("abc"), I(9)}},
        {"twenty levels of groups", std::string(20, '(') + "I2,1X" + std::string(20, ')'), {I(1), I(2)}},
    };
    return cases;
}

std::string program(const std::vector<Case> &cases) {
    std::string p = "program t\n";
    for (const Case &c : cases) {
        p += "  write(*,'(a)') '@@'\n";
        p += "  write(*," + quoted(c.format) + ")";
        for (size_t i = 0; i < c.items.size(); ++i)
            p += std::string(i ? ", &\n    " : " &\n    ") + fortran(c.items[i]);
        p += "\n";
    }
    p += "  write(*,'(a)') '@@'\nend program\n";
    return p;
}

// The oracle's records, case by case.
std::vector<std::vector<std::string>> oracle_records(const std::vector<Case> &cases) {
    auto lines = kit::gfortran_lines(program(cases));
    std::vector<std::vector<std::string>> out;
    if (!lines) return out;
    for (const std::string &l : *lines) {
        if (l == "@@")
            out.emplace_back();
        else if (!out.empty())
            out.back().push_back(l);
    }
    if (!out.empty()) out.pop_back();
    return out;
}

// Ours: the statement on a file, items in one group or one group per item
// (so repeat counts and groups span _xmit calls).
std::vector<std::string> ours(const Dir &dir, const Case &c, bool split, int *status) {
    std::string path = dir.file("out.txt");
    EXPECT_EQ(open_file(20, path), 0);
    Store store(c.items.size());
    kit::Stmt st(20);
    // As a compiler of standard Fortran asks: the minus sign of a negative
    // value that rounds to zero stays.
    st.flags.fmt_text().set(iof_minus_rounded_zero);
    for (size_t i = 0; i < c.items.size(); ++i) {
        if (split && i > 0) st.items.end_group();
        store.add(st.items, c.items[i]);
    }
    st.items.end();
    For_Char_Format f = text_format(c.format);
    st.flags.iostat();
    *status = st.run(for_write_seq_fmt, &f, for_write_seq_fmt_xmit);
    EXPECT_EQ(close_unit(20), 0);
    return lines_of(slurp(path));
}

TEST(FmtWriteOracle, EveryCaseWritesTheRecordsGfortranWrites) {
    const auto &cases = write_cases();
    auto want = oracle_records(cases);
    if (want.empty()) GTEST_SKIP() << "gfortran is not installed";
    ASSERT_EQ(want.size(), cases.size());
    Dir dir;
    for (size_t i = 0; i < cases.size(); ++i) {
        for (bool split : {false, true}) {
            SCOPED_TRACE(std::string(cases[i].what) + " " + cases[i].format + (split ? " (split)" : ""));
            int status = -99;
            auto got = ours(dir, cases[i], split, &status);
            // Asterisks are a deferred output conversion error; the records
            // are still complete.
            EXPECT_TRUE(status == 0 || status == 63) << status;
            EXPECT_EQ(got, want[i]);
        }
    }
}

// Internal files: the same statements into a CHARACTER array of records,
// which the oracle prints record by record with (A).
struct Int_Case {
    const char *what;
    std::string format;
    std::vector<Val> items;
    int records;
    int length;
};

TEST(FmtWriteOracle, InternalFilesHoldTheRecordsGfortranWrites) {
    const std::vector<Int_Case> cases = {
        {"records are blank-filled", "(I3)", {I(1), I(2)}, 3, 6},
        {"slash moves to the next element", "(A,/,A)", {A("ab"), A("cd")}, 2, 4},
        {"T and X inside a record", "(T4,A,TL3,A)", {A("xy"), A("z")}, 1, 8},
        {"reversion fills records", "(2I3)", {I(1), I(2), I(3), I(4), I(5)}, 3, 7},
        {"I0 in a loop-sized record", "(I0)", {I(-123456)}, 1, 12},
        {"trailing X writes nothing past the data", "(A,9X)", {A("abc")}, 1, 5},
    };
    std::string p = "program t\n";
    for (const Int_Case &c : cases) {
        p += "  block\n    character(len=" + std::to_string(c.length) + ") :: r(" + std::to_string(c.records) +
             ")\n    integer :: k\n    r = repeat('#', " + std::to_string(c.length) + ")\n    write(r," +
             quoted(c.format) + ")";
        for (size_t i = 0; i < c.items.size(); ++i)
            p += std::string(i ? ", &\n    " : " &\n    ") + fortran(c.items[i]);
        p += "\n    write(*,'(a)') '@@'\n    do k = 1, size(r)\n      write(*,'(a)') r(k)\n    end do\n  end block\n";
    }
    p += "  write(*,'(a)') '@@'\nend program\n";
    auto lines = kit::gfortran_lines(p);
    if (!lines) GTEST_SKIP() << "gfortran is not installed";
    std::vector<std::vector<std::string>> want;
    for (const std::string &l : *lines) {
        if (l == "@@")
            want.emplace_back();
        else if (!want.empty())
            want.back().push_back(l);
    }
    ASSERT_EQ(want.size(), cases.size() + 1);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Int_Case &c = cases[i];
        SCOPED_TRACE(std::string(c.what) + " " + c.format);
        std::string var(static_cast<size_t>(c.records * c.length), '#');
        Store store(c.items.size());
        kit::Stmt st;
        st.flags.fmt_text().iostat();
        st.items.char_array(var.data(), static_cast<size_t>(c.records), static_cast<size_t>(c.length));
        for (const Val &v : c.items) store.add(st.items, v);
        st.items.end();
        For_Char_Format f = text_format(c.format);
        EXPECT_EQ(st.run(for_write_int_fmt, &f, for_write_int_fmt_xmit), 0);
        std::vector<std::string> got;
        for (int r = 0; r < c.records; ++r)
            got.push_back(var.substr(static_cast<size_t>(r * c.length), static_cast<size_t>(c.length)));
        EXPECT_EQ(got, want[i]);
    }
}

}  // namespace
