// Formatted READ: every edit read from a record, against gfortran reading
// the same record with the same format (values compared as bit patterns);
// then padding, non-advancing input with SIZE= and EOR=, end of file, and
// internal files.
#include <gtest/gtest.h>

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
    {"(I5)", "  -42", 'i'},       {"(I5)", "1 2  ", 'i'},       {"(BZ,I5)", "1 2  ", 'i'},
    {"(I3)", "7", 'i'},           {"(BZ,I5)", "12", 'i'},       {"(B8)", "00000101", 'i'},
    {"(O4)", "0777", 'i'},        {"(Z8)", "FFFFFFFF", 'i'},    {"(Z4)", "  1a", 'i'},
    {"(F8.2)", "   12345", 'r'},  {"(F8.2)", " 1.5    ", 'r'}, {"(BZ,F8.2)", " 1 5    ", 'r'},
    {"(F8.2)", "1.5E2   ", 'r'},  {"(2P,F8.2)", "  1.5   ", 'r'}, {"(2P,F8.2)", "1.5E1   ", 'r'},
    {"(E10.3)", "  1.234E-2", 'r'}, {"(E10.3)", "    1234-2", 'r'}, {"(D12.4)", "  -9.875D+03", 'r'},
    {"(EN12.3)", "  12.345E+03", 'r'}, {"(ES12.3)", "   1.500E-02", 'r'}, {"(G12.4)", "      0.1234", 'r'},
    {"(DC,F8.2)", "   1,25 ", 'r'}, {"(F5.1)", "3", 'r'}, {"(RU,F20.0)", "0.1000000000000000000001", 'r'},
    {"(RD,F20.0)", "0.1000000000000000000001", 'r'}, {"(L3)", " .T", 'l'}, {"(L7)", "  false", 'l'},
    {"(A6)", "abcdef", 'a'},       {"(A3)", "abc", 'a'},         {"(A8)", "abcdefgh", 'a'},
    {"(A)", "xyz", 'a'},           {"(T3,A2)", "abcdef", 'a'},    {"(3X,A2)", "abcdef", 'a'},
    {"(A3,TL2,A2)", "abcdef", 'a'},
};

// The oracle reads each record from an internal file and prints what the
// item holds: integers and reals as hex bit patterns, text between bars.
std::vector<std::string> oracle(const std::vector<Read_Case> &cases) {
    std::string p = "program t\n  integer :: i, j\n  real(8) :: r\n  logical :: l\n  character(6) :: a, b\n  character(len=:), allocatable :: rec\n";
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
        int want;      // status
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
