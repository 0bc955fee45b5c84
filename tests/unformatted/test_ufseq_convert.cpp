// Units whose files hold another representation (CONVERT=): what lands in
// the file for items of every numeric type, compared with what gfortran
// writes with convert='big_endian' and with the byte patterns of the
// foreign formats; reading converts back; writing never touches the
// program's variables.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <complex>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cvt/for_cvt_foreign.h"
#include "support/oracle.h"
#include "unformatted/uf_kit.h"

using uf::Bytes;

namespace {

class Convert : public uf::Scratch_Test {};

int open_converting(int unit, const std::string &f, const char *convert) {
    kit::Keys k;
    k.text(FOR_KEY_CONVERT, convert);
    return uf::open_uf(unit, f, k);
}

// The variables of one record of every numeric kind, with values that
// show any byte left unreversed, and the same statement for gfortran.
struct Vars {
    int8_t i1 = -3;
    int16_t i2 = 0x1234;
    int32_t i4[3] = {1, -2, 0x01020304};
    int64_t i8 = 0x0102030405060708;
    kit::Logical4 l4{1};
    kit::Logical2 l2{1};
    float r4[5] = {1.0f, -2.5f, 3.0e-39f, 6.5e37f, 0.1f};
    double r8 = 3.141592653589793;
    __float128 r16 = static_cast<__float128>(1) / 3;
    std::complex<float> c4{1.5f, -0.25f};
    std::complex<double> c8[2] = {{1e300, -1e-300}, {2.0, 0.5}};
    char text[5] = {'a', 'b', 'c', 'd', 'e'};
};

// The bytes of every field, without the padding between them.
Bytes image(const Vars &v) {
    Bytes out;
    auto put = [&](const auto &x) {
        const auto *p = reinterpret_cast<const unsigned char *>(&x);
        out.insert(out.end(), p, p + sizeof x);
    };
    put(v.i1), put(v.i2), put(v.i4), put(v.i8), put(v.l4), put(v.l2), put(v.r4), put(v.r8), put(v.r16);
    put(v.c4), put(v.c8), put(v.text);
    return out;
}

void add_items(kit::List &l, Vars &v) {
    l.item(v.i1).item(v.i2).array(v.i4, 3).item(v.i8).item(v.l4).item(v.l2);
    l.section(kit::slice(v.r4, 1, 5, 2));  // r4(1:5:2)
    l.item(v.r8).item(v.r16).item(v.c4).array(v.c8, 2).chars(v.text, 5);
}

const char *fortran_vars =
    "  integer(1) :: i1 = -3\n  integer(2) :: i2 = int(z'1234', 2)\n"
    "  integer(4) :: i4(3) = [1, -2, int(z'01020304')]\n  integer(8) :: i8 = int(z'0102030405060708', 8)\n"
    "  logical(4) :: l4 = .true.\n  logical(2) :: l2 = .true.\n"
    "  real(4) :: r4(5) = [1.0, -2.5, 3.0e-39, 6.5e37, 0.1]\n"
    "  real(8) :: r8 = 3.141592653589793d0\n  real(16) :: r16 = 1.0_16 / 3\n"
    "  complex(4) :: c4 = (1.5, -0.25)\n  complex(8) :: c8(2) = [(1d300, -1d-300), (2d0, 0.5d0)]\n"
    "  character(5) :: text = 'abcde'\n";
const char *fortran_items = "i1, i2, i4, i8, l4, l2, r4(1:5:2), r8, r16, c4, c8, text";

// Writing big-endian data gives gfortran's bytes, and leaves our
// variables as they were; each side reads the other's file back.
TEST_F(Convert, BigEndianDataIsGfortransAndBothReadIt) {
    Vars v;
    const Bytes before = image(v);
    const std::string ours = path("ours"), theirs = path("theirs");
    ASSERT_EQ(open_converting(20, ours, "BIG_ENDIAN"), 0);
    for (int r = 0; r < 2; ++r) {
        kit::Stmt w(20);
        w.flags.iostat();
        add_items(w.items, v);
        w.items.end();
        ASSERT_EQ(w.run(for_write_seq, for_write_seq_xmit), 0);
    }
    ASSERT_EQ(uf::close_unit(20), 0);
    EXPECT_EQ(image(v), before) << "the variables were changed by the WRITE";

    std::string src = std::string("program p\n") + fortran_vars +
                      "  integer(1) :: i1b\n  integer(2) :: i2b\n  integer(4) :: i4b(3)\n  integer(8) :: i8b\n"
                      "  logical(4) :: l4b\n  logical(2) :: l2b\n  real(4) :: r4b(5)\n  real(8) :: r8b\n"
                      "  real(16) :: r16b\n  complex(4) :: c4b\n  complex(8) :: c8b(2)\n  character(5) :: textb\n"
                      "  open (10, file='" +
                      theirs +
                      "', form='unformatted', status='replace', convert='big_endian')\n"
                      "  write (10) " +
                      fortran_items + "\n  write (10) " + fortran_items +
                      "\n  close (10)\n"
                      "  open (11, file='" +
                      ours +
                      "', form='unformatted', status='old', convert='big_endian')\n"
                      "  r4b = 0\n  read (11) i1b, i2b, i4b, i8b, l4b, l2b, r4b(1:5:2), r8b, r16b, c4b, c8b, textb\n"
                      "  if (i1b == i1 .and. i2b == i2 .and. all(i4b == i4) .and. i8b == i8 .and. l4b .and. l2b &\n"
                      "      .and. all(r4b(1:5:2) == r4(1:5:2)) .and. r8b == r8 .and. r16b == r16 .and. c4b == c4 &\n"
                      "      .and. all(c8b == c8) .and. textb == text) then\n"
                      "    print '(a)', 'same'\n  else\n    print '(a)', 'different'\n  end if\n"
                      "end program\n";
    auto out = kit::gfortran_run(src);
    if (!out) GTEST_SKIP() << "gfortran is not installed";
    EXPECT_EQ(*out, "same\n") << "gfortran reads our file";
    EXPECT_TRUE(uf::file_bytes(ours) == uf::file_bytes(theirs)) << "the files differ";

    ASSERT_EQ(open_converting(21, theirs, "BIG_ENDIAN"), 0);
    Vars got;
    got.i1 = 0, got.i2 = 0, got.i8 = 0, got.l4 = {0}, got.l2 = {0}, got.r8 = 0, got.r16 = 0, got.c4 = 0;
    std::memset(got.i4, 0, sizeof got.i4);
    std::memset(got.r4, 0, sizeof got.r4);
    std::memset(static_cast<void *>(got.c8), 0, sizeof got.c8);
    std::memset(got.text, 0, sizeof got.text);
    kit::Stmt rd(21);
    rd.flags.iostat();
    add_items(rd.items, got);
    rd.items.end();
    ASSERT_EQ(rd.run(for_read_seq, for_read_seq_xmit), 0);
    ASSERT_EQ(uf::close_unit(21), 0);
    got.r4[1] = v.r4[1];  // not in the section
    got.r4[3] = v.r4[3];
    EXPECT_EQ(image(got), image(v)) << "we read gfortran's file with other values";
}

// A big-endian array larger than the conversion scratch, than the record
// buffer and than the pieces it is written and read in (1 MiB) goes out in
// pieces and reads back whole.
TEST_F(Convert, LargeArraysConvertPieceByPiece) {
    std::vector<double> a(300001);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<double>(i) * 1.25 - 7;
    const std::vector<double> before = a;
    const std::string f = path("large");
    ASSERT_EQ(open_converting(22, f, "BIG_ENDIAN"), 0);
    kit::Stmt w(22);
    w.flags.iostat();
    w.items.array(a.data(), a.size()).end();
    ASSERT_EQ(w.run(for_write_seq), 0);
    ASSERT_EQ(uf::close_unit(22), 0);
    EXPECT_EQ(a, before);
    Bytes b = uf::file_bytes(f);
    ASSERT_EQ(b.size(), a.size() * 8 + 8);
    for (size_t i : {size_t{0}, size_t{511}, size_t{512}, size_t{131071}, size_t{131072}, size_t{300000}}) {
        uint64_t bits;
        std::memcpy(&bits, &a[i], 8);
        uint64_t file = 0;
        for (int k = 0; k < 8; ++k) file = file << 8 | b[4 + i * 8 + static_cast<size_t>(k)];
        EXPECT_EQ(file, bits) << "element " << i;
    }
    std::vector<double> got(a.size());
    ASSERT_EQ(open_converting(22, f, "BIG_ENDIAN"), 0);
    kit::Stmt rd(22);
    rd.flags.iostat();
    rd.items.array(got.data(), got.size()).end();
    ASSERT_EQ(rd.run(for_read_seq), 0);
    ASSERT_EQ(uf::close_unit(22), 0);
    EXPECT_EQ(got, a);
}

// The file bytes of 1.0 and of INTEGER(4) 1 in each representation, from
// the published layouts of the formats; the record markers follow the
// format's byte order. Reading the file gives the values back.
TEST_F(Convert, ForeignFormatsOfOneAndBack) {
    struct Case {
        const char *convert;
        Bytes marker;  // of a record of 16 bytes
        Bytes r4, r8, i4;
    } cases[] = {
        {"BIG_ENDIAN", {0, 0, 0, 16}, {0x3f, 0x80, 0, 0}, {0x3f, 0xf0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 1}},
        {"VAXD", {16, 0, 0, 0}, {0x80, 0x40, 0, 0}, {0x80, 0x40, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0}},
        {"FDX", {16, 0, 0, 0}, {0x80, 0x40, 0, 0}, {0x80, 0x40, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0}},
        {"VAXG", {16, 0, 0, 0}, {0x80, 0x40, 0, 0}, {0x10, 0x40, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0}},
        {"FGX", {16, 0, 0, 0}, {0x80, 0x40, 0, 0}, {0x10, 0x40, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0}},
        {"IBM", {0, 0, 0, 16}, {0x41, 0x10, 0, 0}, {0x41, 0x10, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 1}},
        // REAL(4) has no Cray form: its bytes go as they are.
        {"CRAY", {0, 0, 0, 16}, {0, 0, 0x80, 0x3f}, {0x40, 0x01, 0x80, 0, 0, 0, 0, 0}, {0, 0, 0, 1}},
    };
    int unit = 30;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.convert);
        const std::string f = path(c.convert);
        float r4 = 1.0f;
        double r8 = 1.0;
        int32_t i4 = 1;
        ASSERT_EQ(open_converting(unit, f, c.convert), 0);
        kit::Stmt w(unit);
        w.flags.iostat();
        w.items.item(r4).item(r8).item(i4).end();
        ASSERT_EQ(w.run(for_write_seq), 0);
        ASSERT_EQ(uf::close_unit(unit), 0);
        Bytes want = c.marker;
        for (const Bytes *p : {&c.r4, &c.r8, &c.i4}) want.insert(want.end(), p->begin(), p->end());
        want.insert(want.end(), c.marker.begin(), c.marker.end());
        EXPECT_EQ(uf::file_bytes(f), want);

        float r4b = 0;
        double r8b = 0;
        int32_t i4b = 0;
        ASSERT_EQ(open_converting(unit, f, c.convert), 0);
        kit::Stmt rd(unit);
        rd.flags.iostat();
        rd.items.item(r4b).item(r8b).item(i4b).end();
        ASSERT_EQ(rd.run(for_read_seq), 0);
        ASSERT_EQ(uf::close_unit(unit), 0);
        EXPECT_EQ(r4b, 1.0f);
        EXPECT_EQ(r8b, 1.0);
        EXPECT_EQ(i4b, 1);
        ++unit;
    }
}

// Byte reversal of runs, against reversing each element byte by byte: the
// vector steps and their scalar tails for every element size, run length
// and alignment, in place and into another area.
TEST(Reverse, RunsOfEverySizeLengthAndAlignment) {
    using Fn = void (*)(void *, const void *, uint64_t, int64_t);
    const std::pair<const char *, Fn> forms[] = {{"this processor's", for__reverse_elements},
                                                 {"baseline", for__reverse_elements_baseline}};
    for (auto [name, fn] : forms) {
        for (int64_t size : {1, 2, 3, 4, 8, 16}) {
            for (uint64_t count : {0, 1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 33, 63, 64, 65, 257}) {
                for (size_t offset : {0, 1, 5}) {
                    SCOPED_TRACE(std::string(name) + " size " + std::to_string(size) + " count " +
                                 std::to_string(count) + " offset " + std::to_string(offset));
                    const size_t n = count * static_cast<size_t>(size);
                    std::vector<unsigned char> src(n + 32), dst(n + 32, 0xEE), want(n);
                    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<unsigned char>(i * 7 + 1);
                    for (uint64_t e = 0; e < count; ++e)
                        for (int64_t b = 0; b < size; ++b) want[e * size + b] = src[offset + e * size + (size - 1 - b)];
                    fn(dst.data() + offset, src.data() + offset, count, size);
                    EXPECT_TRUE(std::equal(want.begin(), want.end(), dst.begin() + offset)) << "into another area";
                    EXPECT_EQ(dst[offset + n], 0xEE) << "wrote past the run";
                    std::vector<unsigned char> in_place = src;
                    fn(in_place.data() + offset, in_place.data() + offset, count, size);
                    EXPECT_TRUE(std::equal(want.begin(), want.end(), in_place.begin() + offset)) << "in place";
                    EXPECT_EQ(in_place[offset + n], src[offset + n]) << "changed past the run";
                }
            }
        }
    }
}

// The diagnostics a statement prints, caught from standard error.
class Stderr_Capture {
  public:
    explicit Stderr_Capture(const std::string &file) : file_(file) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        ::close(fd);
    }
    std::string done() {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        Bytes b = uf::file_bytes(file_);
        return std::string(b.begin(), b.end());
    }

  private:
    std::string file_;
    int saved_;
};

const std::string info_95 = "forrtl: info (95): floating point conversion failed\n";

// Values without a form on the other side are not an error of the
// statement: each prints info 95 and the statement goes on. A NaN goes out
// as the VAX reserved operand.
TEST_F(Convert, ValuesWithoutAFormLeaveTheStatementGoing) {
    const std::string f = path("nan");
    float nan = __builtin_nanf("");
    int32_t after = 7;
    ASSERT_EQ(open_converting(40, f, "VAXD"), 0);
    kit::Stmt w(40);
    w.flags.iostat();
    w.items.item(nan).item(after).end();
    Stderr_Capture cap(path("err"));
    ASSERT_EQ(w.run(for_write_seq), 0);
    EXPECT_EQ(cap.done(), info_95);
    ASSERT_EQ(uf::close_unit(40), 0);
    EXPECT_EQ(uf::file_bytes(f), (Bytes{8, 0, 0, 0, 0, 0x80, 0, 0, 7, 0, 0, 0, 8, 0, 0, 0}));
}

// A file value that has no IEEE form never reaches the item as its raw
// bits, which would read as some plausible number: the item gets the
// conversion's special result (the invalid value 0x7FBFFFFF or
// 0x7FF7FFFFFFFFFFFF, a NaN; an infinity for a value beyond the IEEE
// range), info 95 is printed, and the statement reads on.
TEST_F(Convert, UnconvertibleInputBecomesTheSpecialResult) {
    struct Case {
        const char *why, *convert;
        Bytes value;  // the file bytes of the floating item
        bool dbl;
        uint64_t want;  // the item's bits afterwards
    } cases[] = {
        {"VAX F reserved operand", "VAXD", {0, 0x80, 0, 0}, false, 0x7FBFFFFF},
        {"VAX D reserved operand", "VAXD", {0, 0x80, 0, 0, 0, 0, 0, 0}, true, 0x7FF7FFFFFFFFFFFF},
        {"VAX G reserved operand", "VAXG", {0, 0x80, 0, 0, 0, 0, 0, 0}, true, 0x7FF7FFFFFFFFFFFF},
        {"unnormalised IBM short", "IBM", {0x41, 0x01, 0, 0}, false, 0x7FBFFFFF},
        {"unnormalised IBM long", "IBM", {0x41, 0x00, 0x10, 0, 0, 0, 0, 0}, true, 0x7FF7FFFFFFFFFFFF},
        {"IBM short beyond binary32", "IBM", {0x7F, 0xFF, 0xFF, 0xFF}, false, 0x7F800000},
        {"Cray exponent out of range", "CRAY", {0x60, 0x01, 0x80, 0, 0, 0, 0, 0}, true, 0x7FF7FFFFFFFFFFFF},
        {"Cray without its leading bit", "CRAY", {0x40, 0x01, 0x00, 0, 0, 0, 0, 1}, true, 0x7FF7FFFFFFFFFFFF},
        {"Cray beyond binary64", "CRAY", {0x5F, 0xFF, 0x80, 0, 0, 0, 0, 0}, true, 0x7FF0000000000000},
    };
    int unit = 41;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        const std::string f = path("bad" + std::to_string(unit));
        // One record: the value, then INTEGER(4) 7; markers in the unit's order.
        const bool big = std::string(c.convert) == "IBM" || std::string(c.convert) == "CRAY";
        const auto len = static_cast<unsigned char>(c.value.size() + 4);
        Bytes marker = big ? Bytes{0, 0, 0, len} : Bytes{len, 0, 0, 0};
        Bytes seven = big ? Bytes{0, 0, 0, 7} : Bytes{7, 0, 0, 0};
        Bytes file = marker;
        file.insert(file.end(), c.value.begin(), c.value.end());
        file.insert(file.end(), seven.begin(), seven.end());
        file.insert(file.end(), marker.begin(), marker.end());
        uf::put_file(f, file);

        float r4 = 1.0f;
        double r8 = 1.0;
        int32_t after = 0;
        ASSERT_EQ(open_converting(unit, f, c.convert), 0);
        kit::Stmt rd(unit);
        rd.flags.iostat();
        if (c.dbl)
            rd.items.item(r8);
        else
            rd.items.item(r4);
        rd.items.item(after).end();
        Stderr_Capture cap(path("err"));
        const int ios = rd.run(for_read_seq);
        EXPECT_EQ(cap.done(), info_95);
        EXPECT_EQ(ios, 0);
        ASSERT_EQ(uf::close_unit(unit), 0);
        uint64_t bits = 0;
        if (c.dbl)
            std::memcpy(&bits, &r8, 8);
        else
            std::memcpy(&bits, &r4, 4);
        EXPECT_EQ(bits, c.want) << std::hex << bits;
        EXPECT_EQ(after, 7) << "the statement read on";
        ++unit;
    }
}

}  // namespace
