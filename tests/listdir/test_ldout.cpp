// List-directed output: fields by type, records by line length, internal
// files, the frame end to end with the compiler kit.
#include <gtest/gtest.h>

#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "support/files.h"
#include "support/kit.h"
#include "support/oracle.h"

namespace fs = std::filesystem;

namespace {

class Ldout : public ::testing::Test {
  protected:
    // Opens unit 20 on a fresh file, runs the statement on it, closes it and
    // returns the file's lines.
    std::vector<std::string> write_file(kit::Stmt &st, int expect = 0) {
        std::string path = dir_ + "/out" + std::to_string(n_++);
        kit::Keys k;
        k.text(FOR_KEY_FILE, path).text(FOR_KEY_STATUS, "replace");
        EXPECT_EQ(kit::open_unit(20, k, iof_f90), 0);
        st.unit = 20;
        EXPECT_EQ(st.run(for_write_seq_lis, for_write_seq_lis_xmit), expect);
        EXPECT_EQ(kit::close_unit(20), 0);
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    kit::Scratch_Dir scratch_{"ldout"};
    const std::string &dir_ = scratch_.dir();
    int n_ = 0;
};

std::string blanks(size_t n) { return std::string(n, ' '); }

TEST_F(Ldout, FieldsByType) {
    int32_t i4 = 1, i4b = 2;
    int8_t i1 = -5;
    int64_t i8 = 1234567890123ll;
    kit::Logical4 t{1};
    kit::Stmt st;
    st.items.item(i4).item(i4b).end();
    EXPECT_EQ(write_file(st), (std::vector<std::string>{blanks(11) + "1" + blanks(11) + "2"}));
    kit::Stmt st2;
    st2.items.item(i1).item(i8).item(t).end();
    EXPECT_EQ(write_file(st2), (std::vector<std::string>{"   -5" + blanks(9) + "1234567890123 T"}));
}

TEST_F(Ldout, AStatementWithoutItemsWritesOneBlank) {
    kit::Stmt st;
    st.items.end();
    EXPECT_EQ(write_file(st), (std::vector<std::string>{" "}));
}

TEST_F(Ldout, CharacterItemsAndTheirBlanks) {
    int32_t one = 1;
    kit::Stmt st;
    st.items.text("ab").text("cd").item(one).text("x").end();
    EXPECT_EQ(write_file(st), (std::vector<std::string>{" abcd" + blanks(11) + "1 x"}));
}

TEST_F(Ldout, RecordsWrapAtTheLineLength) {
    int32_t a[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    kit::Stmt st;
    st.items.array(a, 10).end();
    auto lines = write_file(st);
    ASSERT_EQ(lines.size(), 2u);  // 6 fields of 12 fit in 80
    EXPECT_EQ(lines[0].size(), 72u);
    EXPECT_EQ(lines[1], blanks(11) + "7" + blanks(11) + "8" + blanks(11) + "9" + blanks(10) + "10");
}

TEST_F(Ldout, LongCharacterItemsSplitWithALeadingBlank) {
    std::string s(100, 'x');
    kit::Stmt st;
    st.items.text(s).end();
    auto lines = write_file(st);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], " " + std::string(79, 'x'));
    EXPECT_EQ(lines[1], " " + std::string(21, 'x'));
}

TEST_F(Ldout, ItemsSplitOverTransferCallsMakeOneRecord) {
    int32_t a = 1, b = 2, c = 3;
    kit::Stmt st;
    st.items.item(a).end_group().item(b).end_group().item(c).end();
    EXPECT_EQ(write_file(st), (std::vector<std::string>{blanks(11) + "1" + blanks(11) + "2" + blanks(11) + "3"}));
}

TEST_F(Ldout, SectionsOfEveryForm) {
    int32_t a[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    char names[3][2] = {{'a', 'b'}, {'c', 'd'}, {'e', 'f'}};
    kit::Stmt st;
    st.items.section(kit::slice(a, 2, 10, 4)).char_array(&names[0][0], 3, 2).array(a, 0).end();
    EXPECT_EQ(write_file(st),
              (std::vector<std::string>{blanks(11) + "2" + blanks(11) + "6" + blanks(10) + "10 abcdef"}));
}

TEST_F(Ldout, TheAlternativeStyleWidensSmallFields) {
    int8_t i1 = 3;
    float r = 1.0f;
    kit::Stmt st;
    st.flags.set(iof_ldio_ms);  // unit option 6 at the implicit OPEN
    st.items.item(i1).item(r).end();
    std::string path = dir_ + "/alt";
    setenv("FORT21", path.c_str(), 1);
    st.unit = 21;
    ASSERT_EQ(st.run(for_write_seq_lis), 0);
    kit::Keys c;
    For_Context cctx{};
    ASSERT_EQ(for_close(&cctx, 21, 0, c.dsc(), c.val()), 0);
    unsetenv("FORT21");
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    // A 1-byte integer takes 12 columns, a REAL(4) 16 (G16.6E2).
    EXPECT_EQ(line.size(), 28u) << line;
    EXPECT_EQ(line.substr(0, 12), blanks(11) + "3");
}

TEST_F(Ldout, SectionsWithAnElementLength) {
    char words[4][3] = {{'a', 'a', 'a'}, {'b', 'b', 'b'}, {'c', 'c', 'c'}, {'d', 'd', 'd'}};
    kit::Section s{FOR_TYPE_CHARACTER, &words[3][0], 3, {{1, 2, -6}}};  // words(4:1:-2)
    kit::Stmt st;
    st.items.section(s).end();
    EXPECT_EQ(write_file(st), (std::vector<std::string>{" dddbbb"}));
}

TEST_F(Ldout, OnAStreamUnitTheFieldsContinueOnTheLine) {
    int32_t a[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::string path = dir_ + "/stream";
    kit::Keys k;
    k.text(FOR_KEY_FILE, path).text(FOR_KEY_ACCESS, "stream").text(FOR_KEY_FORM, "formatted");
    For_Context octx{};
    ASSERT_EQ(for_open(&octx, 22, iof_f90, k.dsc(), k.val()), 0);
    kit::Stmt st(22);
    st.items.array(a, 10).end();
    ASSERT_EQ(st.run(for_write_seq_lis), 0);
    kit::Keys c;
    For_Context cctx{};
    ASSERT_EQ(for_close(&cctx, 22, 0, c.dsc(), c.val()), 0);
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 120u);
}

TEST_F(Ldout, InternalWrite) {
    char buf[30];
    std::memset(buf, '#', sizeof buf);
    int32_t v = 42;
    kit::Stmt st;
    st.items.chars(buf, 30).item(v).text("ok").end();
    ASSERT_EQ(st.run(for_write_int_lis, for_write_int_lis_xmit), 0);
    EXPECT_EQ(std::string(buf, 30), blanks(10) + "42 ok" + blanks(15));
}

// Reals take the G field of their kind (G15.7E2, G24.15E3, G43.33E4): the
// editing inside the field is the standard's, so gfortran's G edit of the
// same value is the oracle for each line.
TEST_F(Ldout, RealsInTheirGFields) {
    const float r4[] = {1.0f, -2.5f, 0.1f, 123456.7f, 1.0e-5f, 3.0e10f, 0.0f};
    const double r8[] = {1.0, -1.0 / 3.0, 1.0e100, 2.5e-300, 12345.678};
    const __float128 r16[] = {1, -7, 0.5};
    std::string prog = "program p\n  real(4) :: a\n  real(8) :: b\n  real(16) :: c\n";
    auto hex = [](const void *p, size_t n) {
        std::string h;
        char buf[4];
        for (size_t i = n; i-- > 0;) {
            std::snprintf(buf, sizeof buf, "%02X", static_cast<const unsigned char *>(p)[i]);
            h += buf;
        }
        return h;
    };
    for (float v : r4) prog += "  a = transfer(int(z'" + hex(&v, 4) + "', 4), a); write (*, '(G15.7E2)') a\n";
    for (double v : r8) prog += "  b = transfer(int(z'" + hex(&v, 8) + "', 8), b); write (*, '(G24.15E3)') b\n";
    for (__float128 v : r16) {
        uint64_t w[2];
        std::memcpy(w, &v, 16);
        prog += "  c = transfer([int(z'" + hex(&w[0], 8) + "', 8), int(z'" + hex(&w[1], 8) + "', 8)], c)";
        prog += "; write (*, '(G43.33E4)') c\n";
    }
    prog += "end program\n";
    auto want = kit::gfortran_lines(prog);
    if (!want) GTEST_SKIP() << "gfortran is not installed";
    std::vector<std::string> ours;
    for (float v : r4) {
        kit::Stmt st;
        st.items.value(v).end();
        ours.push_back(write_file(st).at(0));
    }
    for (double v : r8) {
        kit::Stmt st;
        st.items.value(v).end();
        ours.push_back(write_file(st).at(0));
    }
    for (__float128 v : r16) {
        kit::Stmt st;
        st.items.value(v).end();
        ours.push_back(write_file(st).at(0));
    }
    ASSERT_EQ(ours.size(), want->size());
    for (size_t i = 0; i < ours.size(); ++i) {
        // Zero is processor dependent under G: the field's width is what counts.
        if (i == 6) {
            EXPECT_EQ(ours[i].size(), 15u) << ours[i];
            continue;
        }
        EXPECT_EQ(ours[i], (*want)[i]) << i;
    }
}

TEST_F(Ldout, ComplexValues) {
    std::complex<float> z{1.5f, -2.0f};
    kit::Stmt st;
    st.items.item(z).end();
    EXPECT_EQ(write_file(st), (std::vector<std::string>{" (1.500000,-2.000000)"}));
    // DECIMAL='COMMA' separates the parts with a semicolon.
    kit::Stmt st2;
    st2.control.decimal("comma");
    st2.items.item(z).end();
    EXPECT_EQ(write_file(st2), (std::vector<std::string>{" (1,500000;-2,000000)"}));
}

TEST_F(Ldout, DelimitedStringsDoubleTheirDelimiter) {
    kit::Stmt st;
    st.flags.f90();
    st.control.delim("quote");
    st.items.text("say \"hi\"").text("x").end();
    EXPECT_EQ(write_file(st), (std::vector<std::string>{" \"say \"\"hi\"\"\" \"x\""}));
}

TEST_F(Ldout, WritingPastTheEndOfAnInternalFileIsAnErrorOfThatFile) {
    char buf[2][16];  // one 12-column integer field per record
    int32_t a[3] = {1, 2, 3};
    std::string msg(100, ' ');
    kit::Stmt st;
    st.flags.iostat();
    st.control.iomsg(msg);
    st.items.char_array(&buf[0][0], 2, 16).array(a, 3).end();
    EXPECT_EQ(st.run(for_write_int_lis, for_write_int_lis_xmit), msg::internal_file_overflow);
    EXPECT_EQ(msg, "internal file overflow" + std::string(78, ' '));
    kit::Stmt with_end;
    with_end.flags.end();
    with_end.items.char_array(&buf[0][0], 2, 16).array(a, 3).end();
    EXPECT_EXIT(with_end.run(for_write_int_lis, for_write_int_lis_xmit), ::testing::ExitedWithCode(629 & 0xff),
                "forrtl: severe \\(629\\): internal file overflow")
        << "END= does not catch it: it is no end of file";
    kit::Stmt with_err;
    with_err.flags.err();
    with_err.items.char_array(&buf[0][0], 2, 16).array(a, 3).end();
    EXPECT_EQ(with_err.run(for_write_int_lis, for_write_int_lis_xmit), msg::internal_file_overflow);
    // A field longer than the records is an overflow of the record.
    char small[2][8];
    kit::Stmt too_long;
    too_long.flags.iostat();
    too_long.items.char_array(&small[0][0], 2, 8).array(a, 1).end();
    EXPECT_EQ(too_long.run(for_write_int_lis, for_write_int_lis_xmit), msg::output_overflows_record);
}

}  // namespace
