// Formatted READ: every edit read from a record, against gfortran reading
// the same record with the same format (values compared as bit patterns);
// then padding, non-advancing input with SIZE= and EOR=, end of file, and
// internal files.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstring>

#include "diag/for_msgnum.h"
#include "fmt_stmt_kit.h"

namespace {

using namespace fmtk;

struct Read_Case {
    const char *format;
    std::string record;
    char type;  // i int4, r real8, l logical4, a character(6)
};

const std::vector<Read_Case> read_cases = {
    {"(I5)", "  -42", 'i'},
    {"(I5)", "1 2  ", 'i'},
    {"(BZ,I5)", "1 2  ", 'i'},
    {"(I3)", "7", 'i'},
    {"(BZ,I5)", "12", 'i'},
    {"(B8)", "00000101", 'i'},
    {"(O4)", "0777", 'i'},
    {"(Z8)", "FFFFFFFF", 'i'},
    {"(Z4)", "  1a", 'i'},
    {"(F8.2)", "   12345", 'r'},
    {"(F8.2)", " 1.5    ", 'r'},
    {"(BZ,F8.2)", " 1 5    ", 'r'},
    {"(F8.2)", "1.5E2   ", 'r'},
    {"(2P,F8.2)", "  1.5   ", 'r'},
    {"(2P,F8.2)", "1.5E1   ", 'r'},
    {"(E10.3)", "  1.234E-2", 'r'},
    {"(E10.3)", "    1234-2", 'r'},
    {"(D12.4)", "  -9.875D+03", 'r'},
    {"(EN12.3)", "  12.345E+03", 'r'},
    {"(ES12.3)", "   1.500E-02", 'r'},
    {"(G12.4)", "      0.1234", 'r'},
    {"(DC,F8.2)", "   1,25 ", 'r'},
    {"(F5.1)", "3", 'r'},
    {"(RU,F20.0)", "0.1000000000000000000001", 'r'},
    {"(RD,F20.0)", "0.1000000000000000000001", 'r'},
    {"(L3)", " .T", 'l'},
    {"(L7)", "  false", 'l'},
    {"(A6)", "abcdef", 'a'},
    {"(A3)", "abc", 'a'},
    {"(A8)", "abcdefgh", 'a'},
    {"(A)", "xyz", 'a'},
    {"(T3,A2)", "abcdef", 'a'},
    {"(3X,A2)", "abcdef", 'a'},
    {"(A3,TL2,A2)", "abcdef", 'a'},
    // Positioning past the record's end stops there: a later TL counts
    // back from the end, not from where the X would have gone.
    {"(20X,TL15,A5,A1)", "abcdefghij", 'a'},
    {"(T21,TL15,A5,A1)", "abcdefghij", 'a'},
    {"(TR20,TL15,A5,A1)", "abcdefghij", 'a'},
    {"(12X,TL5,A5,A1)", "abcdefghij", 'a'},
    // Repeated groups of positioning only.
    {"(3(2X),A2)", "abcdefghij", 'a'},
    {"(5(TL1,2X),A2,A1)", "abcdefghij", 'a'},
    {"(4(3X,TL5),A3,A1)", "abcdefghij", 'a'},
    {"(2(3(1X),TL1),A2,A1)", "abcdefghij", 'a'},
    {"(3(20X),TL3,A3,A1)", "abcdefghij", 'a'},
    {"(3(T4,1X),A3)", "abcdefghij", 'a'},
    // A number in a field wider than what is left of the record.
    {"(I20)", "  12", 'i'},
    {"(F30.2)", "  125", 'r'},
    {"(3X,I9)", "12", 'i'},
};

// The oracle reads each record from an internal file and prints what the
// item holds: integers and reals as hex bit patterns, text between bars.
std::vector<std::string> oracle(const std::vector<Read_Case> &cases) {
    std::string p =
        "program t\n  integer :: i, j\n  real(8) :: r\n  logical :: l\n  character(6) :: a, b\n  character(len=:), "
        "allocatable :: rec\n";
    for (const Read_Case &c : cases) {
        p += "  i = 0; j = 0; r = 0; l = .false.; a = '######'; b = '######'\n";
        p += "  rec = '" + c.record + "'\n";
        const std::string rec = "rec";
        switch (c.type) {
        case 'i': p += "  read(" + rec + "," + quoted(c.format) + ") i\n  write(*,'(z8.8)') i\n"; break;
        case 'r': p += "  read(" + rec + "," + quoted(c.format) + ") r\n  write(*,'(z16.16)') r\n"; break;
        case 'l': p += "  read(" + rec + "," + quoted(c.format) + ") l\n  write(*,'(l1)') l\n"; break;
        default:
            if (std::string(c.format).find("TL") != std::string::npos)
                p += "  read(" + rec + "," + quoted(c.format) + ") a, b\n  write(*,'(5a)') '|', a, '|', b, '|'\n";
            else
                p += "  read(" + rec + "," + quoted(c.format) + ") a\n  write(*,'(3a)') '|', a, '|'\n";
        }
    }
    p += "end program\n";
    auto lines = kit::gfortran_lines(p);
    return lines ? *lines : std::vector<std::string>{};
}

std::string ours(const Read_Case &c) {
    std::string rec = c.record;
    For_Char_Format f = text_format(c.format);
    kit::Stmt st;
    st.flags.fmt_text().iostat();
    st.items.chars(rec);
    int32_t i = 0;
    double r = 0;
    kit::Logical4 l{0};
    std::string a(6, '#'), b(6, '#');
    switch (c.type) {
    case 'i': st.items.item(i); break;
    case 'r': st.items.item(r); break;
    case 'l': st.items.item(l); break;
    default:
        st.items.chars(a);
        if (std::string(c.format).find("TL") != std::string::npos) st.items.chars(b);
    }
    st.items.end();
    int s = st.run(for_read_int_fmt, &f, for_read_int_fmt_xmit);
    if (s != 0) return "status " + std::to_string(s);
    char buf[64];
    switch (c.type) {
    case 'i': std::snprintf(buf, sizeof buf, "%08X", static_cast<uint32_t>(i)); return buf;
    case 'r': {
        uint64_t bits;
        std::memcpy(&bits, &r, 8);
        std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(bits));
        return buf;
    }
    case 'l': return l.v ? "T" : "F";
    default:
        if (std::string(c.format).find("TL") != std::string::npos) return "|" + a + "|" + b + "|";
        return "|" + a + "|";
    }
}

TEST(FmtReadOracle, EveryEditReadsWhatGfortranReads) {
    auto want = oracle(read_cases);
    if (want.empty()) GTEST_SKIP() << "gfortran is not installed";
    ASSERT_EQ(want.size(), read_cases.size());
    for (size_t k = 0; k < read_cases.size(); ++k) {
        SCOPED_TRACE(std::string(read_cases[k].format) + " '" + read_cases[k].record + "'");
        EXPECT_EQ(ours(read_cases[k]), want[k]);
    }
}

// A file of records for the external READ cases.
struct File {
    Dir dir;
    std::string path;
    int unit;
    File(int u, const std::string &content) : path(dir.file("in.txt")), unit(u) {
        std::FILE *f = std::fopen(path.c_str(), "w");
        std::fputs(content.c_str(), f);
        std::fclose(f);
        EXPECT_EQ(open_file(u, path, "old"), 0);
    }
    ~File() { close_unit(unit); }
};

TEST(FmtReadCases, SequentialRecordsReversionAndSlash) {
    File file(30, "1 2\n3 4\n5 6\n7 8\n");
    int32_t v[6] = {};
    kit::Stmt st(30);
    st.flags.fmt_text().iostat();
    st.items.array(v, 3).end_group().array(v + 3, 3).end();  // spans an _xmit call
    For_Char_Format f = text_format("(I1,1X,I1)");
    ASSERT_EQ(st.run(for_read_seq_fmt, &f, for_read_seq_fmt_xmit), 0);
    EXPECT_EQ(std::vector<int32_t>(v, v + 6), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
    int32_t x = 0;
    kit::Stmt next(30);
    next.flags.fmt_text();
    next.items.item(x).end();
    For_Char_Format g = text_format("(2X,I1)");
    ASSERT_EQ(next.run(for_read_seq_fmt, &g), 0);
    EXPECT_EQ(x, 8) << "each READ starts a new record";
}

TEST(FmtReadCases, EndOfFileTakesEndOrIostat) {
    File file(31, "5\n");
    int32_t a = 0, b = 0;
    kit::Stmt st(31);
    st.flags.fmt_text().end();
    st.items.item(a).item(b).end();
    For_Char_Format f = text_format("(I1/I1)");
    EXPECT_EQ(st.run(for_read_seq_fmt, &f), -1);
    EXPECT_EQ(a, 5);
    kit::Stmt again(31);
    again.flags.fmt_text().iostat();
    again.items.item(a).end();
    For_Char_Format g = text_format("(I1)");
    EXPECT_EQ(again.run(for_read_seq_fmt, &g), -1);
}

TEST(FmtReadCases, PadNoMakesAShortRecordAnError) {
    File file(32, "12\n");
    int32_t a = 0;
    kit::Stmt st(32);
    st.flags.fmt_text().iostat().f90();
    st.control.pad("NO");
    st.items.item(a).end();
    For_Char_Format f = text_format("(I5)");
    EXPECT_EQ(st.run(for_read_seq_fmt, &f), msg::input_too_much_data);
}

// READ (u, fmt, ADVANCE='NO', SIZE=n, EOR=...) across one record.
TEST(FmtReadCases, NonAdvancingInputCountsSizeAndMeetsTheEndOfRecord) {
    File file(33, "abcdefg\nxyz\n");
    struct Step {
        const char *format;
        int want;  // status
        std::string a;
        int32_t size;
    } steps[] = {
        {"(A3)", 0, "abc", 3},
        {"(A3)", 0, "def", 3},
        // One character left: EOR, with the item padded and SIZE= 1.
        {"(A3)", -2, "g  ", 1},
        // The next statement starts the next record.
        {"(A2)", 0, "xy", 2},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.format);
        std::string a(s.a.size(), '#');
        int32_t size = -1;
        kit::Stmt st(33);
        st.flags.fmt_text().eor();
        st.control.advance("NO").size(size);
        st.items.chars(a).end();
        For_Char_Format f = text_format(s.format);
        EXPECT_EQ(st.run(for_read_seq_fmt, &f), s.want);
        EXPECT_EQ(a, s.a);
        EXPECT_EQ(size, s.size);
    }
}

TEST(FmtReadCases, InternalFilesEndLikeExternalOnes) {
    char recs[] = "12 34 ";
    int32_t a = 0, b = 0, c = 0;
    kit::Stmt st;
    st.flags.fmt_text().end();
    st.items.char_array(recs, 2, 3).item(a).item(b).item(c).end();
    For_Char_Format f = text_format("(I2)");
    EXPECT_EQ(st.run(for_read_int_fmt, &f), -1);
    EXPECT_EQ(a, 12);
    EXPECT_EQ(b, 34);
}

TEST(FmtReadCasesDeath, ABadFieldIsAnInputConversionError) {
    EXPECT_EXIT(
        {
            std::string rec = "1x";
            int32_t a = 0;
            kit::Stmt st;
            st.flags.fmt_text();
            st.items.chars(rec).item(a).end();
            For_Char_Format f = text_format("(I2)");
            st.run(for_read_int_fmt, &f);
        },
        ::testing::ExitedWithCode(64), "forrtl: severe \\(64\\): .*Internal Formatted Read or DECODE");
}

}  // namespace

namespace {

// READ (record, fmt, IOSTAT=) into a CHARACTER(6) and an INTEGER.
int read_internal(const std::string &record, const std::string &format, std::string *a, int32_t *k) {
    std::string rec = record;
    For_Char_Format f = text_format(format);
    kit::Stmt st;
    st.flags.fmt_text().iostat();
    st.items.chars(rec).chars(*a).item(*k).end();
    return st.run(for_read_int_fmt, &f, for_read_int_fmt_xmit);
}

long max_rss_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

// A group repeated any number of times does what its iterations written
// out one after another do; the repeated form of each pair is the one a
// hostile format would make huge.
TEST(FmtReadCases, RepeatedPositioningGroupsReadWhatTheirUnrolledFormsRead) {
    struct Pair {
        const char *repeated, *unrolled;
    };
    const Pair pairs[] = {
        {"(3(2X),A2,I2)", "(2X,2X,2X,A2,I2)"},
        {"(5(TL1,2X),A2,I2)", "(TL1,2X,TL1,2X,TL1,2X,TL1,2X,TL1,2X,A2,I2)"},
        {"(4X,5(TL2,1X),A2,I2)", "(4X,TL2,1X,TL2,1X,TL2,1X,TL2,1X,TL2,1X,A2,I2)"},
        {"(6X,3(TL5,3X),A2,I2)", "(6X,TL5,3X,TL5,3X,TL5,3X,A2,I2)"},
        {"(4(3X,TL5),A2,I2)", "(3X,TL5,3X,TL5,3X,TL5,3X,TL5,A2,I2)"},
        {"(2(3(1X),TL1),A2,I2)", "(1X,1X,1X,TL1,1X,1X,1X,TL1,A2,I2)"},
        {"(3(T4,1X),A2,I2)", "(T4,1X,T4,1X,T4,1X,A2,I2)"},
        {"(8X,4(TL3),A2,I2)", "(8X,TL3,TL3,TL3,TL3,A2,I2)"},
        {"(3(BN,1X,SP),A2,I2)", "(BN,1X,SP,BN,1X,SP,BN,1X,SP,A2,I2)"},
        {"(3('xy',TL1),A2,I2)", "('xy',TL1,'xy',TL1,'xy',TL1,A2,I2)"},
        // Steps that reach the record's end, where the TL of each step
        // still moves back.
        {"(6X,9(3X,TL1),A2,I2)", "(6X,3X,TL1,3X,TL1,3X,TL1,3X,TL1,3X,TL1,3X,TL1,3X,TL1,3X,TL1,3X,TL1,A2,I2)"},
    };
    const std::string record = "abcdefgh12345678";
    for (const Pair &p : pairs) {
        SCOPED_TRACE(p.repeated);
        std::string a1(6, '#'), a2(6, '#');
        int32_t k1 = -1, k2 = -1;
        const int s1 = read_internal(record, p.repeated, &a1, &k1);
        const int s2 = read_internal(record, p.unrolled, &a2, &k2);
        EXPECT_EQ(s1, s2);
        EXPECT_EQ(a1, a2);
        EXPECT_EQ(k1, k2);
    }
}

// Groups that consume nothing end however large their repeat counts: the
// forms below would otherwise run for 10^10 to 10^37 iterations. The time
// bound only catches a loop that still runs; it is far above what the
// statement takes.
TEST(FmtReadCases, RepeatedGroupsThatConsumeNothingEndAtOnce) {
    struct Case {
        const char *format;
        const char *a;
        int32_t k;
    };
    const Case cases[] = {
        {"(99999(99999(1X)),A2,I5)", "      ", 0},
        {"(2147483647(2147483647(1X)),TL16,A2,I5)", "ab    ", 12345},
        {"(99999(99999(TL1)),A2,I5)", "ab    ", 12345},
        {"(4X,2147483647(2147483647(TL1,2X,TL1)),A2,I5)", "34    ", 5678},
        {"(2147483647(TL1,1X),A2,I5)", "b1    ", 23456},
        {"(2147483647(2147483647(T3)),A2,I5)", "12    ", 34567},
        {"(2147483647(2147483647(2147483647(BZ,SP))),A2,I5)", "ab    ", 12345},
        {"(2147483647(2147483647('xy')),TL16,A2,I5)", "ab    ", 12345},
        {"(2147483647(2147483647(3HXYZ,TL2)),A2,I5)", "78    ", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        std::string a(6, '#');
        int32_t k = -1;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(read_internal("ab12345678", c.format, &a, &k), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
        EXPECT_EQ(a, c.a);
        EXPECT_EQ(k, c.k);
    }
}

// A field written far wider than the record touches only the record's
// characters: reading A2147483647 from a 5-character record neither fills
// gigabytes of blanks nor keeps them.
TEST(FmtReadCases, AFieldPastTheRecordEndCostsOnlyWhatTheRecordHolds) {
    struct Case {
        const char *format, *record, *a;
        int32_t k;
    };
    const Case cases[] = {
        {"(A2147483647,I3)", "abcde", "      ", 0},    {"(2X,A2147483647,I3)", "abcde", "      ", 0},
        {"(G2147483647.0,I3)", "abcde", "      ", 0},  {"(A5,I2147483647)", "abcde", "abcde ", 0},
        {"(A1,I2147483647)", "a1234", "a     ", 1234},
    };
    const long before = max_rss_kib();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        std::string a = "######";
        int32_t k = -1;
        EXPECT_EQ(read_internal(c.record, c.format, &a, &k), 0);
        EXPECT_EQ(a, c.a);
        EXPECT_EQ(k, c.k);
    }
    EXPECT_LT(max_rss_kib() - before, 64 * 1024) << "KiB of peak memory grown";
}
