// Output editing against GNU Fortran for the edits whose result the
// standard defines: one generated program writes every case of the table
// between brackets, and each field must equal ours character for character.
#include <gtest/gtest.h>
#include <quadmath.h>
#include <vorlix/abi.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>

#include "fmt_val_kit.h"
#include "support/oracle.h"

namespace {

using fmtkit::Desc;
using fmtkit::Ed;

enum class Ty { i1, i2, i4, i8, r4, r8, r16, l1, l4, l8, ch };

struct Case {
    Ty ty;
    const char *value;  // Fortran-like text: 12, -3.5e10, inf, -inf, nan, T, F, or the characters
    Desc desc;
};

// Resolved widths for descriptors written without one (as the defaults of
// the format tables give them) and the working width of w = 0.
int64_t resolved_width(const Case &c) {
    if (c.desc.ed == Ed::A) return static_cast<int64_t>(std::strlen(c.value));
    if (c.desc.w != 0) return 0;
    const int64_t d = c.desc.d > 0 ? c.desc.d : 0;
    switch (c.ty) {
    case Ty::r4: return 41 + d;  // F0 width base of each real kind, plus d
    case Ty::r8: return 311 + d;
    case Ty::r16: return 4935 + d;
    default: return 130;  // wide enough for 128 binary digits
    }
}

const Case kCases[] = {
    // I editing, every integer kind.
    {Ty::i4, "12345", {Ed::I, 5}},
    {Ty::i4, "-12345", {Ed::I, 5}},
    {Ty::i4, "-12345", {Ed::I, 6}},
    {Ty::i4, "7", {Ed::I, 4, 3}},
    {Ty::i4, "0", {Ed::I, 3, 0}},
    {Ty::i4, "0", {Ed::I, 3, 0, 0, "SP"}},
    {Ty::i4, "99", {Ed::I, 3, -1, 0, "SP"}},
    {Ty::i4, "99", {Ed::I, 2, -1, 0, "SP"}},
    {Ty::i4, "0", {Ed::I, 4, -1, 0, "SP"}},
    {Ty::i4, "99", {Ed::I, 4, -1, 0, "SP,SS"}},
    {Ty::i4, "-1", {Ed::I, 1}},
    {Ty::i4, "5", {Ed::I, 2, 2}},
    {Ty::i4, "-5", {Ed::I, 4, 3}},
    {Ty::i4, "-5", {Ed::I, 3, 3}},
    {Ty::i4, "0", {Ed::I, 5}},
    {Ty::i4, "-2147483648", {Ed::I, 11}},
    {Ty::i4, "2147483647", {Ed::I, 12, 11}},
    {Ty::i4, "1000000000", {Ed::I, 10}},
    {Ty::i4, "999999999", {Ed::I, 10}},
    {Ty::i1, "-128", {Ed::I, 5}},
    {Ty::i1, "127", {Ed::I, 3}},
    {Ty::i2, "-32768", {Ed::I, 7}},
    {Ty::i2, "32767", {Ed::I, 4}},
    {Ty::i8, "-9223372036854775808", {Ed::I, 21}},
    {Ty::i8, "9223372036854775807", {Ed::I, 19}},
    {Ty::i8, "9223372036854775807", {Ed::I, 18}},
    {Ty::i8, "4294967296", {Ed::I, 12, 12}},
    {Ty::i8, "10000000000000000", {Ed::I, 20, -1, 0, "SP"}},
    {Ty::i4, "0", {Ed::I, 0}},
    {Ty::i4, "-123", {Ed::I, 0}},
    {Ty::i8, "-9223372036854775807", {Ed::I, 0}},
    {Ty::i4, "42", {Ed::I, 0, 5}},
    // B, O, Z of nonnegative values.
    {Ty::i2, "255", {Ed::Z, 4}},
    {Ty::i1, "8", {Ed::O, 3}},
    {Ty::i4, "0", {Ed::B, 3, 3}},
    {Ty::i4, "256", {Ed::Z, 2}},
    {Ty::i4, "255", {Ed::Z, 8, 6}},
    {Ty::i4, "5", {Ed::B, 8}},
    {Ty::i4, "0", {Ed::O, 1}},
    {Ty::i4, "0", {Ed::Z, 4, 0}},
    {Ty::i4, "511", {Ed::O, 0}},
    {Ty::i4, "2147483647", {Ed::B, 31}},
    {Ty::i4, "2147483647", {Ed::B, 30}},
    {Ty::i8, "9223372036854775807", {Ed::Z, 16}},
    {Ty::i8, "9223372036854775807", {Ed::O, 21}},
    {Ty::i8, "1", {Ed::B, 64, 64}},
    {Ty::i8, "81985529216486895", {Ed::Z, 0}},
    {Ty::i2, "4660", {Ed::Z, 0}},
    // L and A.
    {Ty::l4, "T", {Ed::L, 3}},
    {Ty::l4, "F", {Ed::L, 1}},
    {Ty::l1, "T", {Ed::L, 5}},
    {Ty::l8, "F", {Ed::L, 2}},
    {Ty::ch, "ABCDE", {Ed::A, 3}},
    {Ty::ch, "ABCDE", {Ed::A, 7}},
    {Ty::ch, "ABCDE", {Ed::A}},
    // G on integer, logical and character items.
    {Ty::i4, "42", {Ed::G, 10, 1}},
    {Ty::i4, "-42", {Ed::G, 10, 3}},
    {Ty::i8, "123456789012", {Ed::G, 14, 2}},
    {Ty::l4, "T", {Ed::G, 5, 1}},
    {Ty::ch, "xyz", {Ed::G, 6, 2}},
    {Ty::i4, "42", {Ed::G, 0}},
    // F.
    {Ty::r8, "0.5", {Ed::F, 4, 2}},
    {Ty::r8, "0.5", {Ed::F, 3, 2}},
    {Ty::r8, "-0.5", {Ed::F, 3, 2}},
    {Ty::r8, "-0.5", {Ed::F, 4, 2}},
    {Ty::r8, "-0.5", {Ed::F, 5, 2}},
    {Ty::r8, "3.14159", {Ed::F, 10, 3}},
    {Ty::r8, "-3.14159", {Ed::F, 10, 3}},
    {Ty::r8, "1e5", {Ed::F, 8, 2}},
    {Ty::r8, "1e5", {Ed::F, 9, 2}},
    {Ty::r8, "123.456", {Ed::F, 8, 0}},
    {Ty::r8, "0.9999", {Ed::F, 5, 2}},
    {Ty::r8, "9.9999", {Ed::F, 4, 2}},
    {Ty::r8, "1.5", {Ed::F, 7, 2, 0, "SP"}},
    {Ty::r8, "2.5", {Ed::F, 12, 4, 0, "DC"}},
    {Ty::r8, "-2.5", {Ed::F, 6, 1, 0, "DC"}},
    {Ty::r8, "1.23456789", {Ed::F, 12, 4, 0, "2P"}},
    {Ty::r8, "1.23456789", {Ed::F, 12, 4, 0, "-2P"}},
    {Ty::r4, "3.4028235e38", {Ed::F, 50, 2}},
    {Ty::r4, "1.1754944e-38", {Ed::F, 50, 45}},
    {Ty::r4, "0.1", {Ed::F, 20, 15}},
    {Ty::r8, "0.1", {Ed::F, 30, 25}},
    {Ty::r16, "0.1", {Ed::F, 45, 40}},
    {Ty::r16, "-12345.678", {Ed::F, 20, 6}},
    // F0.d: the computed width holds every digit of any value.
    {Ty::r8, "1e20", {Ed::F, 0, 2}},
    {Ty::r8, "1.5e300", {Ed::F, 0, 3}},
    {Ty::r8, "1.7976931348623157e308", {Ed::F, 0, 0}},
    {Ty::r8, "-123.456", {Ed::F, 0, 2}},
    {Ty::r4, "3.4028235e38", {Ed::F, 0, 1}},
    {Ty::r16, "1e4000", {Ed::F, 0, 1}},
    {Ty::r8, "1e20", {Ed::F, 0, 2, 0, "SP"}},
    // Rounding modes on exact ties and near-ties.
    {Ty::r8, "0.125", {Ed::F, 6, 2, 0, "RN"}},
    {Ty::r8, "0.375", {Ed::F, 6, 2, 0, "RN"}},
    {Ty::r8, "0.125", {Ed::F, 6, 2, 0, "RC"}},
    {Ty::r8, "-0.125", {Ed::F, 6, 2, 0, "RC"}},
    {Ty::r8, "0.125", {Ed::F, 6, 2, 0, "RU"}},
    {Ty::r8, "-0.125", {Ed::F, 6, 2, 0, "RU"}},
    {Ty::r8, "0.125", {Ed::F, 6, 2, 0, "RD"}},
    {Ty::r8, "-0.125", {Ed::F, 6, 2, 0, "RD"}},
    {Ty::r8, "0.129", {Ed::F, 6, 2, 0, "RZ"}},
    {Ty::r8, "-0.129", {Ed::F, 6, 2, 0, "RZ"}},
    {Ty::r8, "2.675", {Ed::F, 6, 2, 0, "RN"}},
    {Ty::r8, "2.675", {Ed::F, 6, 2, 0, "RC"}},
    {Ty::r8, "2.675", {Ed::F, 6, 2, 0, "RU"}},
    {Ty::r4, "0.1", {Ed::E, 15, 8, 0, "RU"}},
    {Ty::r4, "0.1", {Ed::E, 15, 8, 0, "RD"}},
    {Ty::r8, "1.5", {Ed::E, 10, 1, 0, "RN"}},
    {Ty::r8, "2.5", {Ed::E, 10, 1, 0, "RN"}},
    {Ty::r8, "2.5", {Ed::E, 10, 1, 0, "RC"}},
    {Ty::r8, "9.95", {Ed::F, 6, 1, 0, "RU"}},
    {Ty::r8, "-9.95", {Ed::F, 6, 1, 0, "RD"}},
    // Infinity and NaN.
    {Ty::r8, "inf", {Ed::F, 5, 1}},
    {Ty::r8, "inf", {Ed::F, 9, 1}},
    {Ty::r8, "-inf", {Ed::F, 8, 1}},
    {Ty::r8, "-inf", {Ed::F, 9, 1}},
    {Ty::r8, "inf", {Ed::F, 9, 1, 0, "SP"}},
    {Ty::r8, "inf", {Ed::E, 12, 4}},
    {Ty::r4, "-inf", {Ed::F, 2, 1}},
    {Ty::r8, "nan", {Ed::F, 5, 1}},
    {Ty::r8, "nan", {Ed::E, 12, 3}},
    {Ty::r4, "nan", {Ed::G, 10, 3}},
    // E, D with and without Ee, and the scale factor.
    {Ty::r8, "1e100", {Ed::E, 12, 4}},
    {Ty::r8, "1e100", {Ed::E, 12, 4, 2}},
    {Ty::r8, "1e100", {Ed::E, 12, 4, 3}},
    {Ty::r8, "1e-100", {Ed::E, 12, 4}},
    {Ty::r16, "1e1000", {Ed::E, 12, 4}},
    {Ty::r16, "1e1000", {Ed::E, 13, 4, 4}},
    {Ty::r16, "-1.23456789e-4000", {Ed::E, 45, 35, 4}},
    {Ty::r4, "3.14159", {Ed::E, 15, 7}},
    {Ty::r4, "-3.14159", {Ed::E, 9, 2}},
    {Ty::r4, "-3.14159", {Ed::E, 8, 2}},
    {Ty::r8, "0", {Ed::E, 10, 3}},
    {Ty::r8, "1.23456", {Ed::E, 12, 4, 0, "1P"}},
    {Ty::r8, "1.23456", {Ed::E, 12, 4, 0, "3P"}},
    {Ty::r8, "1.23456", {Ed::E, 12, 4, 0, "5P"}},
    {Ty::r8, "1.23456", {Ed::E, 12, 4, 0, "-2P"}},
    {Ty::r8, "1.23456", {Ed::E, 12, 4, 0, "-3P"}},
    {Ty::r8, "1.23456", {Ed::D, 12, 4}},
    {Ty::r8, "-1.23456", {Ed::D, 14, 5, 0, "SP"}},
    {Ty::r8, "1234.5678", {Ed::E, 14, 5, 0, "DC"}},
    {Ty::r8, "0.999996", {Ed::E, 12, 4}},
    // EN and ES.
    {Ty::r8, "12345.678", {Ed::EN, 12, 3}},
    {Ty::r8, "0.001234", {Ed::EN, 12, 3}},
    {Ty::r8, "999.9999", {Ed::EN, 12, 2}},
    {Ty::r8, "-1.5", {Ed::EN, 12, 3}},
    {Ty::r8, "1e-10", {Ed::EN, 14, 4, 3}},
    {Ty::r8, "0", {Ed::EN, 12, 3}},
    {Ty::r8, "12345.678", {Ed::ES, 12, 4}},
    {Ty::r8, "9.99996", {Ed::ES, 12, 4}},
    {Ty::r8, "-0.000123", {Ed::ES, 14, 4, 3}},
    {Ty::r8, "0", {Ed::ES, 12, 4}},
    {Ty::r16, "0.66666666666666666666666666666666667", {Ed::ES, 42, 33}},
    {Ty::r4, "1e30", {Ed::ES, 12, 3, 0, "SP"}},
    // G of nonzero values: the F/E choice on the value rounded in the mode.
    {Ty::r8, "1234.0", {Ed::G, 10, 3}},
    {Ty::r8, "123.0", {Ed::G, 10, 3}},
    {Ty::r8, "0.01", {Ed::G, 12, 4}},
    {Ty::r8, "0.1", {Ed::G, 12, 4}},
    {Ty::r8, "99.96", {Ed::G, 10, 3}},
    {Ty::r8, "999.6", {Ed::G, 10, 3}},
    {Ty::r8, "999.4", {Ed::G, 10, 3, 0, "RU"}},
    {Ty::r8, "999.6", {Ed::G, 10, 3, 0, "RD"}},
    {Ty::r8, "0.09996", {Ed::G, 10, 3}},
    {Ty::r8, "12.5", {Ed::G, 12, 4, 3}},
    {Ty::r8, "1.5e20", {Ed::G, 12, 4, 3}},
    {Ty::r4, "3.14159", {Ed::G, 15, 7}},
    {Ty::r8, "-2.5", {Ed::G, 10, 2, 0, "SP"}},
    {Ty::r8, "2.5", {Ed::G, 10, 2, 0, "DC"}},
    {Ty::r8, "1.23456", {Ed::G, 12, 4, 0, "2P"}},
    {Ty::r8, "1234567.0", {Ed::G, 12, 4, 0, "2P"}},
    {Ty::r16, "1.5", {Ed::G, 40, 33, 4}},
    {Ty::r8, "3.0", {Ed::G, 5, 3}},
};

std::string fortran_value(const Case &c) {
    const std::string v = c.value;
    switch (c.ty) {
    case Ty::i1: return "int(" + v + "_8, 1)";
    case Ty::i2: return "int(" + v + "_8, 2)";
    case Ty::i4: return "int(" + v + "_8, 4)";
    case Ty::i8: return v == "-9223372036854775808" ? "-huge(0_8) - 1_8" : v + "_8";
    case Ty::l1:
    case Ty::l4:
    case Ty::l8: return v == "T" ? ".true." : ".false.";
    case Ty::ch: return "'" + v + "'";
    default: break;
    }
    const char *suffix = c.ty == Ty::r4 ? "4" : c.ty == Ty::r8 ? "8" : "16";
    const char *var = c.ty == Ty::r4 ? "r4" : c.ty == Ty::r8 ? "r8" : "r16";
    if (v == "inf") return std::string("ieee_value(") + var + ", ieee_positive_inf)";
    if (v == "-inf") return std::string("ieee_value(") + var + ", ieee_negative_inf)";
    if (v == "nan") return std::string("ieee_value(") + var + ", ieee_quiet_nan)";
    return v + "_" + suffix;
}

const char *fortran_var(Ty t) {
    static const char *const n[] = {"i1", "i2", "i4", "i8", "r4", "r8", "r16", "l1", "l4", "l8", "c"};
    return n[static_cast<int>(t)];
}

std::string program() {
    std::ostringstream s;
    s << "program fmt_val_cases\n  use ieee_arithmetic\n  implicit none\n"
         "  integer(1) :: i1\n  integer(2) :: i2\n  integer(4) :: i4\n  integer(8) :: i8\n"
         "  real(4) :: r4\n  real(8) :: r8\n  real(16) :: r16\n"
         "  logical(1) :: l1\n  logical(4) :: l4\n  logical(8) :: l8\n"
         "  character(len=:), allocatable :: c\n";
    for (const Case &c : kCases) {
        s << "  " << fortran_var(c.ty) << " = " << fortran_value(c) << "\n";
        s << "  write (*, '(\"[\"," << fmtkit::fortran_text(c.desc) << ",\"]\")') " << fortran_var(c.ty) << "\n";
    }
    s << "end program\n";
    return s.str();
}

// Our side of one case: the value in memory as compiled code would hold it.
fmtkit::Edited ours(const Case &c) {
    alignas(16) unsigned char mem[64] = {};
    int type = 0;
    int64_t len = 0;
    const std::string v = c.value;
    const bool special = v == "inf" || v == "-inf" || v == "nan";
    const double sd = v == "nan" ? std::numeric_limits<double>::quiet_NaN() : v == "inf" ? HUGE_VAL : -HUGE_VAL;
    switch (c.ty) {
    case Ty::i1: {
        int8_t x = static_cast<int8_t>(std::stoll(v));
        std::memcpy(mem, &x, 1);
        type = FOR_TYPE_INT1;
        break;
    }
    case Ty::i2: {
        int16_t x = static_cast<int16_t>(std::stoll(v));
        std::memcpy(mem, &x, 2);
        type = FOR_TYPE_INT2;
        break;
    }
    case Ty::i4: {
        int32_t x = static_cast<int32_t>(std::stoll(v));
        std::memcpy(mem, &x, 4);
        type = FOR_TYPE_INT4;
        break;
    }
    case Ty::i8: {
        int64_t x = std::stoll(v);
        std::memcpy(mem, &x, 8);
        type = FOR_TYPE_INT8;
        break;
    }
    case Ty::l1:
        mem[0] = v == "T";
        type = FOR_TYPE_LOGICAL1;
        break;
    case Ty::l4:
        mem[0] = v == "T";
        type = FOR_TYPE_LOGICAL4;
        break;
    case Ty::l8:
        mem[0] = v == "T";
        type = FOR_TYPE_LOGICAL8;
        break;
    case Ty::r4: {
        float x = special ? static_cast<float>(sd) : std::strtof(v.c_str(), nullptr);
        std::memcpy(mem, &x, 4);
        type = FOR_TYPE_REAL4;
        break;
    }
    case Ty::r8: {
        double x = special ? sd : std::strtod(v.c_str(), nullptr);
        std::memcpy(mem, &x, 8);
        type = FOR_TYPE_REAL8;
        break;
    }
    case Ty::r16: {
        __float128 x = special ? static_cast<__float128>(sd) : strtoflt128(v.c_str(), nullptr);
        std::memcpy(mem, &x, 16);
        type = FOR_TYPE_REAL16;
        break;
    }
    case Ty::ch:
        type = FOR_TYPE_CHARACTER;
        len = static_cast<int64_t>(v.size());
        std::memcpy(mem, v.data(), v.size());
        break;
    }
    return fmtkit::edit(mem, type, len, c.desc, nullptr, resolved_width(c));
}

TEST(OutputEditingOracle, EveryCaseAsGfortranWritesIt) {
    const auto lines = kit::gfortran_lines(program());
    if (!lines) GTEST_SKIP() << "gfortran is not installed";
    const size_t n = sizeof kCases / sizeof kCases[0];
    ASSERT_EQ(lines->size(), n);
    for (size_t i = 0; i < n; ++i) {
        const Case &c = kCases[i];
        const std::string &l = (*lines)[i];
        ASSERT_TRUE(l.size() >= 2 && l.front() == '[' && l.back() == ']') << l;
        const std::string want = l.substr(1, l.size() - 2);
        const fmtkit::Edited got = ours(c);
        // Asterisks are a conversion error (63) that the statement goes on
        // after; every other field is a clean 0.
        const int want_status = want.find('*') != std::string::npos ? 63 : 0;
        EXPECT_EQ(got.field, want) << fmtkit::fortran_text(c.desc) << " of " << c.value;
        EXPECT_EQ(got.status, want_status) << fmtkit::fortran_text(c.desc) << " of " << c.value;
    }
}

}  // namespace
