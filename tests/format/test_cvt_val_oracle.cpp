// Input editing against GNU Fortran: each case is one READ of one field
// from an internal file,
//
//   f = '  -12'
//   READ (f, '(BN,I5)', IOSTAT=ios) i4
//
// and the value (its bits in hexadecimal, T/F, or the characters) or the
// fact of a failure must be what gfortran's run-time gives. The cases are
// the field rules the standard defines: blanks under BN and BZ, signs, the
// implied decimal point, the scale factor, the decimal comma, exponent
// forms, the rounding modes, and the fields that are no value at all.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cvt_val_kit.h"
#include "diag/for_msgnum.h"
#include "support/oracle.h"

namespace {

struct Case {
    const char *fmt;
    const char *type;
    const char *field;
};

const Case kCases[] = {
    // I: blanks, signs, BN/BZ.
    {"I5", "i4", "  -12"},
    {"I5", "i4", "1 2  "},
    {"BZ,I5", "i4", "1 2  "},
    {"BZ,I5", "i4", "  -12"},
    {"BZ,I5", "i4", " -1 2"},
    {"I5", "i4", "     "},
    {"I5", "i4", "+  7 "},
    {"I3", "i4", "1.5"},
    {"I4", "i4", "+-12"},
    {"I4", "i4", "12-3"},
    {"I4", "i4", "1E2 "},
    {"I4", "i4", " 0x1"},
    {"I3", "i4", " - "},
    {"BZ,I3", "i4", " - "},
    {"I3", "i4", "  +"},
    {"I4", "i1", " 200"},
    {"I4", "i1", " 127"},
    {"I4", "i1", "-128"},
    {"I4", "i1", "-129"},
    {"I6", "i2", "-32768"},
    {"I6", "i2", " 32768"},
    {"I11", "i4", "-2147483648"},
    {"I11", "i4", " 2147483648"},
    {"I20", "i8", "-9223372036854775808"},
    {"I20", "i8", " 9223372036854775808"},
    {"I20", "i8", " 9223372036854775807"},
    {"I25", "i8", "  99999999999999999999999"},
    {"I6.3", "i4", "  0042"},
    {"G6.0", "i4", "  -345"},
    {"G6.2", "i4", "  -345"},
    // B, O, Z.
    {"Z4", "i2", "00FF"},
    {"Z4", "i2", "ffff"},
    {"Z6", "i2", " 1FFFF"},
    {"Z8", "i4", "DEADBEEF"},
    {"Z16", "i8", "8000000000000001"},
    {"Z16", "r8", "3FF0000000000000"},
    {"Z8", "r4", "7F800000"},
    {"Z32", "r16", "3FFF8000000000000000000000000001"},
    {"Z33", "r16", "13FFF8000000000000000000000000001"},
    {"Z4", "i4", " 1 F"},
    {"BZ,Z4", "i4", " 1 F"},
    {"Z4", "i4", "  G1"},
    {"Z3", "i1", "100"},
    {"O6", "i4", "   777"},
    {"O3", "i1", "377"},
    {"O3", "i1", "400"},
    {"O11", "i4", "37777777777"},
    {"O11", "i4", "40000000000"},
    {"O4", "i4", "  8 "},
    {"B8", "i1", "11111111"},
    {"B9", "i1", "100000000"},
    {"B6", "i4", "  1012"},
    {"BZ,B4", "i4", "1   "},
    {"BN,B4", "i4", "1   "},
    // L.
    {"L5", "l4", " .TRU"},
    {"L3", "l4", " x "},
    {"L7", "l4", "TUESDAY"},
    {"L7", "l4", ".false."},
    {"L2", "l4", " f"},
    {"L1", "l4", "."},
    {"L3", "l4", " .T"},
    {"L2", "l1", ".t"},
    {"L2", "l8", ".t"},
    {"G7.0", "l4", ".TRUE. "},
    // A and G on CHARACTER items: the text, whatever it spells.
    {"A5", "c3", "ABCDE"},
    {"A2", "c4", "XY"},
    {"A", "c4", "WXYZ"},
    {"A6", "c6", ".true."},
    {"G6.0", "c6", ".true."},
    {"G10.0", "c10", ".TRUE.    "},
    {"G3.0", "c5", "1.5"},
    // F, E, D, G, EN, ES: the implied decimal point and the scale factor.
    {"F8.2", "r8", "   12345"},
    {"F8.2", "r8", "  1.2345"},
    {"2P,F8.2", "r8", "   12345"},
    {"2P,F8.2", "r8", "1.2345E1"},
    {"-2P,F8.2", "r8", "   12345"},
    {"2P,E10.3", "r8", "   1.5E+02"},
    {"2P,E10.3", "r8", "     15000"},
    {"F6.3", "r8", "  -1.5"},
    {"F6.3", "r8", "  -150"},
    {"F6.0", "r8", "   125"},
    {"F6.2", "r8", "    .5"},
    {"F6.2", "r8", "   5. "},
    {"BZ,F6.2", "r8", "   5. "},
    {"BZ,F6.2", "r8", "1 5   "},
    {"F6.2", "r8", "1 5   "},
    {"F8.2", "r8", "        "},
    {"F8.2", "r8", "    -0.0"},
    {"E12.4", "r8", " 1.0E+400   "},
    {"E12.4", "r8", "-1.0E-400   "},
    {"E10.3", "r8", "1.5E2     "},
    {"E10.3E2", "r8", "1.5E2     "},
    {"BN,E10.3E2", "r8", "1.5E2     "},
    {"BZ,E7.3", "r8", "1.5E2  "},
    {"E10.3E3", "r8", "1.5E2     "},
    {"ES10.3E2", "r8", "1.5E2     "},
    {"EN10.3E2", "r8", "1.5E2     "},
    {"G10.3E2", "r8", "1.5E2     "},
    {"E10.3", "r8", "   1.5D+02"},
    {"E10.3", "r8", "   1.5+002"},
    {"E10.3", "r8", "   1.5-002"},
    {"E10.3", "r8", "    1.5E 2"},
    {"BZ,E10.3", "r8", "    1.5E 2"},
    {"D10.3", "r8", "   1.5q+02"},
    {"E10.3", "r8", "   1.5E+ 2"},
    {"E10.3", "r8", "    1.5E+ "},
    {"E10.3", "r8", "     1.5E "},
    {"E10.3", "r8", "   1..5   "},
    {"E10.3", "r8", "   1.5E2.0"},
    {"E10.3", "r8", "  +-1.5   "},
    {"E10.3", "r8", "   1.5X   "},
    {"E10.3", "r8", "         +"},
    {"E10.3", "r8", "         ."},
    {"E10.3", "r8", "        -."},
    {"EN12.3", "r8", "    12345E-3"},
    {"ES12.3", "r8", "      -12345"},
    {"G12.3", "r8", "      -12345"},
    {"G12.3", "r8", "  -12.345   "},
    {"D24.16", "r8", "  0.1000000000000000D+01"},
    {"F30.0", "r8", "123456789012345678901234567890"},
    // Infinity and NaN spellings.
    {"F10.2", "r8", "  Infinity"},
    {"F10.2", "r8", " -Infinity"},
    {"F10.2", "r8", "      +inf"},
    {"F10.2", "r8", "  infinit "},
    // The decimal comma.
    {"DC,F8.2", "r8", "  1,2345"},
    {"DP,F8.2", "r8", "  1,2345"},
    {"DC,E10.3", "r8", "  1,5E+02 "},
    // Precision: single, double and quadruple from the same text.
    {"F27.0", "r4", "0.1000000000000000055511151"},
    {"F27.0", "r8", "0.1000000000000000055511151"},
    {"F27.0", "r16", "0.1000000000000000055511151"},
    {"F12.0", "r4", "16777217.0  "},
    {"F12.0", "r4", "3.4028236E38"},
    {"F12.0", "r4", "-1.17549E-38"},
    {"E45.30", "r16", "  1.234567890123456789012345678901234567E4000"},
    // Rounding modes.
    {"RU,F6.0", "r8", "   0.1"},
    {"RD,F6.0", "r8", "   0.1"},
    {"RZ,F6.0", "r8", "   0.1"},
    {"RN,F6.0", "r8", "   0.1"},
    {"RC,F6.0", "r8", "   0.1"},
    {"RU,F6.0", "r8", "  -0.1"},
    {"RD,F6.0", "r8", "  -0.1"},
    {"RZ,F6.0", "r8", "  -0.1"},
    {"RU,F6.0", "r4", "   0.1"},
    {"RD,F6.0", "r4", "   0.1"},
    {"RZ,F6.0", "r4", "  -0.1"},
    {"RU,E12.4", "r8", " 1.0E+400   "},
    {"RZ,E12.4", "r8", " 1.0E+400   "},
    {"RD,E12.4", "r8", "-1.0E+400   "},
    {"RU,E12.4", "r8", " 1.0E-400   "},
    {"RN,F22.0", "r8", "9007199254740993.0    "},
    {"RU,F22.0", "r8", "9007199254740993.0    "},
    {"RZ,F22.0", "r8", "9007199254740993.0    "},
    {"RN,F22.0", "r8", "9007199254740995.0    "},
    {"RC,F22.0", "r8", "-9007199254740995.0   "},
    {"RU,2P,F8.2", "r8", "   12345"},
    {"RD,2P,F8.2", "r8", "   12345"},
};

std::string literal(const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// The program: one variable per Fortran type the cases use, and for each
// case one READ and one line of output.
std::string program() {
    std::set<std::string> types;
    for (const Case &c : kCases) types.insert(c.type);
    std::string src =
        "program cvt_val_oracle\n  implicit none\n  character(len=:), allocatable :: f\n"
        "  integer :: ios\n";
    for (const std::string &t : types) src += "  " + cvt_val::type_of(t).fortran + " :: v_" + t + "\n";
    for (const Case &c : kCases) {
        const std::string v = std::string("v_") + c.type;
        const cvt_val::Type t = cvt_val::type_of(c.type);
        src += "  f = " + literal(c.field) + "\n";
        src += "  read (f, '(" + std::string(c.fmt) + ")', iostat=ios) " + v + "\n";
        src += "  if (ios /= 0) then\n    write (*, '(A)') 'E'\n  else\n";
        if (t.code == FOR_TYPE_CHARACTER)
            src += "    write (*, '(3A)') '[', " + v + ", ']'\n";
        else if (t.fortran.rfind("logical", 0) == 0)
            src += "    write (*, '(L1)') " + v + "\n";
        else if (t.fortran.rfind("integer", 0) == 0)
            src += "    write (*, '(Z0)') " + v + "\n";
        else
            src += "    write (*, '(Z0)') transfer(" + v + ", 0_" + std::to_string(t.size) + ")\n";
        src += "  end if\n";
    }
    return src + "end program\n";
}

TEST(CvtValOracle, EveryFieldAsGfortranReadsIt) {
    const auto lines = kit::gfortran_lines(program());
    if (!lines) GTEST_SKIP() << "gfortran is not installed";
    ASSERT_EQ(lines->size(), std::size(kCases));
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const Case &c = kCases[i];
        const cvt_val::Outcome o = cvt_val::edit(c.fmt, c.type, c.field);
        const std::string ours = o.status ? "E" : cvt_val::shown(o, c.type);
        EXPECT_EQ(ours, (*lines)[i]) << "READ '" << c.field << "' with (" << c.fmt << ") into " << c.type << " (status "
                                     << o.status << ")";
        // A field that is not a value of the item is an input conversion
        // error, never another message.
        if (o.status) {
            EXPECT_EQ(o.status, msg::input_conversion) << c.fmt << " '" << c.field << "'";
        }
    }
}

}  // namespace
