// Input editing where gfortran is no oracle: the library's own choices
// where the standard leaves the processor free, the messages of each
// failure, the exact storage each item receives, the statement
// compatibility bits, the exported converters' flags and results, and the
// INUM family.
#include <gtest/gtest.h>
#include <vorlix/cvt.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "cvt_val_kit.h"
#include "diag/for_msgnum.h"

namespace {

using cvt_val::edit;
using cvt_val::shown;

struct Expect {
    const char *fmt;
    const char *type;
    const char *field;
    int status;
    const char *value;  // as cvt_val::shown prints it
    const char *why;
};

const Expect kOwnChoices[] = {
    // Blank fields: an all-blank L field is false (gfortran refuses it).
    {"L3", "l4", "   ", 0, "F", "an all-blank logical field is false"},
    {"L1", "l4", " ", 0, "F", "an all-blank logical field is false"},
    // An exponent needs a significand with a digit.
    {"E10.3", "r8", "      E+02", 64, "0", "an exponent without significand digits"},
    // Under the decimal comma the point is not the decimal symbol.
    {"DC,F8.2", "r8", "  1.2345", 64, "0", "DC takes a comma, not a point"},
    // Ties away from zero under RC (gfortran reads RC as RN): 2^53 + 1 is
    // halfway between 2^53 and 2^53 + 2.
    {"RC,F22.0", "r8", "9007199254740993.0    ", 0, "4340000000000001", "RC rounds the tie up"},
    {"RC,F22.0", "r8", "-9007199254740993.0   ", 0, "C340000000000001", "RC rounds the tie away from zero"},
    {"RN,F22.0", "r8", "9007199254740993.0    ", 0, "4340000000000000", "RN rounds the tie to even"},
    {"RC,F10.0", "r4", "  16777217", 0, "4B800001", "RC on a binary32 tie"},
    // Overflow is no error: under BZ the trailing blanks are exponent
    // digits, 1.5E200000 becomes infinity (gfortran fails the statement).
    {"BZ,E10.3", "r8", "1.5E2     ", 0, "7FF0000000000000", "BZ blanks are exponent digits"},
    {"RZ,BZ,E10.3", "r8", "1.5E2     ", 0, "7FEFFFFFFFFFFFFF", "RZ overflow is the largest finite"},
    // Results that fail keep the item defined as 0.
    {"I4", "i1", " 200", 64, "0", "out of range stores 0"},
    {"I4", "i4", "12x ", 64, "0", "bad character stores 0"},
    {"L3", "l4", " x ", 64, "F", "not logical stores false"},
    {"F6.2", "r8", "  1x  ", 64, "0", "not a number stores +0"},
    // Unsigned items: no minus sign, the limits of their size.
    {"I4", "u1", " 255", 0, "FF", "the largest 1-byte unsigned"},
    {"I4", "u1", " 256", 64, "0", "above it"},
    {"I4", "u1", "  -1", 64, "0", "no sign on an unsigned item"},
    {"I4", "u1", "  +7", 0, "7", "a plus sign is harmless"},
    {"I21", "u8", " 18446744073709551615", 0, "FFFFFFFFFFFFFFFF", "the largest 8-byte unsigned"},
    {"I21", "u8", " 18446744073709551616", 64, "0", "one more"},
    // I editing into logical items, L editing into integer items.
    {"I3", "l4", " -1", 0, "T", "I into a LOGICAL item stores the integer"},
    {"L2", "i2", ".T", 0, "FFFF", "true is every bit set"},
    {"L2", "i8", ".F", 0, "0", "false is zero"},
    // Bit patterns into exactly the item's own bytes.
    {"Z6", "c3", "414243", 0, "[CBA]", "CHARACTER(3) gets 3 bytes, least significant first"},
    {"Z8", "c3", "41424344", 64, "[DCB]", "a fourth byte does not fit: the 3 that fit stay"},
    {"Z8", "c4", "41424344", 0, "[DCBA]", "CHARACTER(4) gets 4"},
    {"B8", "c1", "01000001", 0, "[A]", "B into CHARACTER(1)"},
    {"O3", "c1", "101", 0, "[A]", "O into CHARACTER(1)"},
    {"O3", "c1", "501", 64, "[A]", "octal digits straddle a byte: the ninth bit does not fit"},
    {"Z16", "i8", "FFFFFFFFFFFFFFFF", 0, "FFFFFFFFFFFFFFFF", "INTEGER(8) gets all 8"},
    {"Z16", "r8", "8000000000000001", 0, "8000000000000001", "REAL(8) gets all 8"},
    {"Z17", "r8", "18000000000000001", 64, "8000000000000001", "a 65th bit does not fit"},
    {"Z4", "l2", "FFFF", 0, "T", "LOGICAL(2) takes 2 bytes"},
    // A and G store character text as it stands, whatever it spells.
    {"G6.0", "c6", ".true.", 0, "[.true.]", ".true. into a CHARACTER item is text"},
    {"A", "c6", ".TRUE.", 0, "[.TRUE.]", ".TRUE. into a CHARACTER item is text"},
    {"A8", "c6", "xx.true.", 0, "[.true.]", "A takes the rightmost characters"},
    // A into a numeric item moves its bytes, as old programs expect.
    {"A4", "i4", "ABCD", 0, "44434241", "A into INTEGER(4)"},
    {"A2", "i4", "AB", 0, "20204241", "short A fields are blank-padded"},
};

TEST(CvtValCases, OwnChoicesAndStorage) {
    for (const Expect &e : kOwnChoices) {
        const cvt_val::Outcome o = edit(e.fmt, e.type, e.field);
        EXPECT_EQ(o.status, e.status) << e.why << ": (" << e.fmt << ") '" << e.field << "'";
        EXPECT_EQ(shown(o, e.type), e.value) << e.why << ": (" << e.fmt << ") '" << e.field << "'";
    }
}

TEST(CvtValCases, NanSpellingsGiveNan) {
    for (const char *f : {"       NaN", "      -nan", "  NaN(q_1)", "  +NAN()  "}) {
        const cvt_val::Outcome o = edit("F10.2", "r8", f);
        EXPECT_EQ(o.status, 0) << f;
        double v;
        std::memcpy(&v, o.slot.value(), 8);
        EXPECT_TRUE(std::isnan(v)) << f;
    }
}

// A descriptor that cannot read the item is 61; a format item that reads
// nothing is 48; neither touches the item.
struct Mismatch {
    const char *fmt;
    const char *type;
    const char *field;
    int status;
};

const Mismatch kMismatches[] = {
    {"I4", "r8", "  12", 61},   {"I4", "c4", "  12", 61},   {"L2", "r4", ".T", 61},
    {"L2", "c2", ".T", 61},     {"F4.1", "i4", " 1.5", 61}, {"E8.2", "c8", " 1.5E+00", 61},
    {"F4.1", "l4", " 1.5", 61}, {"G4.1", "l4", "  .T", 0},  {"G4.0", "i2", " -12", 0},
};

TEST(CvtValCases, TypeMismatchAndNonDataOpcodes) {
    for (const Mismatch &m : kMismatches) {
        const cvt_val::Outcome o = edit(m.fmt, m.type, m.field);
        EXPECT_EQ(o.status, m.status) << m.fmt << " into " << m.type;
        if (m.status == 61) {
            const cvt_val::Type t = cvt_val::type_of(m.type);
            for (int64_t i = 0; i < t.size; ++i)
                EXPECT_EQ(o.slot.value()[i], cvt_val::Slot::kFill) << m.fmt << " into " << m.type;
        }
    }
    for (const int op : std::initializer_list<int>{FOR_FMT_X, FOR_FMT_T, FOR_FMT_SLASH, FOR_FMT_P, FOR_FMT_BN,
                                                   FOR_FMT_DT, FOR_FMT_AT, 0, 200}) {
        For_Fmt_Isb isb{};
        isb.opcode = static_cast<uint8_t>(op);
        isb.w = 2;
        int32_t v = 7;
        const For_Value_Info item{&v, FOR_TYPE_INT4, 4};
        EXPECT_EQ(for__cvt_value(&isb, "12", &item), msg::invalid_argument) << "opcode " << op;
        EXPECT_EQ(v, 7);
    }
}

// The unit's DECIMAL= applies when the format has no DC or DP; a DP in
// the format overrides a unit opened with DECIMAL='COMMA'.
TEST(CvtValCases, DecimalModeFromTheUnit) {
    auto unit = std::make_unique<For_Lub>();
    unit->lub_decimal = 2;
    const cvt_val::Outcome comma = edit("F8.2", "r8", "  1,2345", unit.get());
    EXPECT_EQ(comma.status, 0);
    EXPECT_EQ(shown(comma, "r8"), "3FF3C083126E978D");
    EXPECT_EQ(edit("F8.2", "r8", "  1.2345", unit.get()).status, msg::input_conversion);
    EXPECT_EQ(edit("DP,F8.2", "r8", "  1.2345", unit.get()).status, 0);
    unit->lub_decimal = 1;
    EXPECT_EQ(edit("F8.2", "r8", "  1,2345", unit.get()).status, msg::input_conversion);
}

// Statement compatibility bit 26: I reads a logical into signed integers,
// A keeps the leftmost characters, a real item reads F as 0, else -1.
TEST(CvtValCases, CompatibilityBit26) {
    struct C {
        const char *fmt, *type, *field, *value;
    } cases[] = {
        {"I3", "i4", " .T", "FFFFFFFF"},
        {"I3", "i4", "  F", "0"},
        {"I3", "u4", " 12", "C"},
        {"A5", "c3", "ABCDE", "[ABC]"},
        {"A2", "c4", "XY", "[XY  ]"},
        {"F4.1", "r8", " f  ", "0"},
        {"F4.1", "r8", " 1.5", "BFF0000000000000"},
    };
    for (const C &c : cases) {
        const cvt_val::Type t = cvt_val::type_of(c.type);
        For_Fmt_Isb isb = cvt_val::isb_of(c.fmt, t);
        isb.flags |= isbf::compat_logical_i;
        cvt_val::Slot slot(t.size);
        const For_Value_Info item{slot.data(), t.code, t.size};
        cvt_val::Outcome o{for__cvt_value(&isb, c.field, &item), slot};
        EXPECT_EQ(o.status, 0) << c.fmt << " '" << c.field << "'";
        EXPECT_EQ(shown(o, c.type), c.value) << c.fmt << " '" << c.field << "'";
    }
}

// The exponent-width flag is a bit of its own: read under BN, the blanks
// after "1.5E2" stay blanks whether or not the descriptor had Ee.
TEST(CvtValCases, ExponentWidthIsNotBlankZero) {
    EXPECT_NE(CVT_IN_EXP_WIDTH & CVT_IN_BZ, CVT_IN_BZ);
    double v = 0;
    ASSERT_EQ(cvt_text_to_ieee_t_ex("1.5E2     ", 10, 0, 3, CVT_IN_BN | CVT_IN_EXP_WIDTH, &v, 0), 0);
    EXPECT_EQ(v, 150.0);
    for (const char *fmt : {"E10.3E2", "EN10.3E2", "ES10.3E2", "G10.3E2"}) {
        const cvt_val::Outcome o = edit(fmt, "r8", "1.5E2     ");
        EXPECT_EQ(shown(o, "r8"), "4062C00000000000") << fmt;
    }
}

// ---- The exported converters ---------------------------------------------

struct IntCase {
    const char *text;
    uint32_t flags;
    int32_t result;
    int64_t value;
};

const IntCase kInteger64[] = {
    {"", 0, 0, 0},
    {"   ", 0, 0, 0},
    {"  42", 0, 0, 42},
    {" 4 2", 0, 3, 0},  // a blank inside with neither BN nor BZ
    {" 4 2", CVT_IN_BN, 0, 42},
    {" 4 2", CVT_IN_BZ, 0, 402},
    {" 4 2", CVT_IN_BN | CVT_IN_BZ, 0, 42},
    {"\t42", 0, 3, 0},
    {"\t42", CVT_IN_TABS, 0, 42},
    {"4\t2", CVT_IN_TABS, 0, 42},
    {"1_000", 0, 3, 0},
    {"1_000", CVT_IN_UNDERSCORE, 0, 1000},
    {"-1_000", CVT_IN_UNDERSCORE | CVT_IN_NOEFFECT, 0, -1000},
    {"12", 0x4, 4, 0},
    {"12", 0x100, 4, 0},
    {"-9223372036854775808", 0, 0, INT64_MIN},
    {"9223372036854775808", 0, 8, 0},
    {"-9223372036854775809", 0, 8, 0},
    {"18446744073709551616", 0, 8, 0},
    {"+-1", 0, 3, 0},
    {"1-", 0, 3, 0},
    {"-", 0, 3, 0},
    {"- ", CVT_IN_BZ, 0, 0},
    {"1A", 0, 3, 0},
    {"1.", 0, 3, 0},
};

TEST(CvtValConverters, Integer64) {
    for (const IntCase &c : kInteger64) {
        int64_t v = 99;
        EXPECT_EQ(cvt_text_to_integer64(c.text, static_cast<int32_t>(std::strlen(c.text)), c.flags, &v), c.result)
            << "'" << c.text << "' flags " << c.flags;
        EXPECT_EQ(v, c.value) << "'" << c.text << "'";
    }
    int64_t v = 5;
    EXPECT_EQ(cvt_text_to_integer64("1", -1, 0, &v), 6);
}

TEST(CvtValConverters, IntegerNarrowsTo32Bits) {
    struct C {
        const char *text;
        int32_t result, value;
    } cases[] = {{"2147483647", 0, INT32_MAX},
                 {"-2147483648", 0, INT32_MIN},
                 {"2147483648", 8, 0},
                 {"-2147483649", 8, 0},
                 {" -7", 0, -7}};
    for (const C &c : cases) {
        int32_t v = 99;
        EXPECT_EQ(cvt_text_to_integer(c.text, static_cast<int32_t>(std::strlen(c.text)), 0, &v), c.result) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
}

TEST(CvtValConverters, UnsignedRadixAndLimits) {
    struct C {
        const char *text;
        int32_t radix;
        uint32_t flags;
        int32_t result;
        uint64_t value;
    } cases[] = {
        {"FFFFFFFFFFFFFFFF", 16, 0, 0, UINT64_MAX},
        {"10000000000000000", 16, 0, 8, 0},
        {"ff", 16, 0, 0, 255},
        {"777", 8, 0, 0, 511},
        {"778", 8, 0, 3, 0},
        {"1012", 2, 0, 3, 0},
        {"zz", 36, 0, 5, 0},
        {"1", 1, 0, 5, 0},
        {"-1", 10, 0, 3, 0},
        {"  12", 10, 0, 0, 12},
        {"1 2", 7, CVT_IN_BZ, 0, 51},
    };
    for (const C &c : cases) {
        uint64_t v = 99;
        EXPECT_EQ(cvt_text_to_unsigned64(c.text, static_cast<int32_t>(std::strlen(c.text)), c.radix, c.flags, &v),
                  c.result)
            << c.text << " radix " << c.radix;
        EXPECT_EQ(v, c.value) << c.text;
    }
    uint32_t u = 0;
    EXPECT_EQ(cvt_text_to_unsigned("4294967295", 10, 10, 0, &u), 0);
    EXPECT_EQ(u, UINT32_MAX);
    EXPECT_EQ(cvt_text_to_unsigned("4294967296", 10, 10, 0, &u), 8);
    EXPECT_EQ(u, 0u);
}

TEST(CvtValConverters, DataFlagsRadixAndWidth) {
    unsigned char b[4];
    // The bit-pattern converter refuses flags by value: above 83.
    EXPECT_EQ(cvt_text_to_data("1", 1, 4, 16, 83, b), 0);
    EXPECT_EQ(cvt_text_to_data("1", 1, 4, 16, 84, b), 4);
    EXPECT_EQ(cvt_text_to_data("1", 1, 4, 10, 0, b), 5);
    EXPECT_EQ(cvt_text_to_data("1", -1, 4, 16, 0, b), 6);
    EXPECT_EQ(cvt_text_to_data64("1_F", 3, 4, 16, CVT_IN_UNDERSCORE, b), 0);
    EXPECT_EQ(b[0], 0x1F);
    EXPECT_EQ(b[1] | b[2] | b[3], 0);
    std::memset(b, 0xEE, sizeof b);
    EXPECT_EQ(cvt_text_to_data("   ", 3, 4, 2, CVT_IN_BN, b), 0);
    EXPECT_EQ(b[0] | b[1] | b[2] | b[3], 0) << "an all-blank field is zero in every byte";
    EXPECT_EQ(cvt_text_to_data("-1", 2, 4, 16, 0, b), 3);
}

TEST(CvtValConverters, BooleanStyles) {
    struct C {
        const char *text;
        int32_t style, result;
        int64_t value;
    } cases[] = {
        {"  T", CVT_BOOLEAN_FORTRAN, 0, -1},
        {".f", CVT_BOOLEAN_FORTRAN, 0, 0},
        {"", CVT_BOOLEAN_FORTRAN, 0, 0},
        {" .", CVT_BOOLEAN_FORTRAN, 1, 0},
        {"..T", CVT_BOOLEAN_FORTRAN, 1, 0},
        {"1", CVT_BOOLEAN_FORTRAN, 1, 0},
        {" 0", 0, 0, 1},
        {"1", 0, 0, 0},
        {"  ", 0, 1, 0},
        {"T", 0, 1, 0},
    };
    for (const C &c : cases) {
        int64_t v = 99;
        EXPECT_EQ(cvt_text_to_boolean64(c.text, static_cast<int32_t>(std::strlen(c.text)), c.style, &v), c.result)
            << "'" << c.text << "' style " << c.style;
        EXPECT_EQ(v, c.value) << "'" << c.text << "'";
        int32_t v32 = 99;
        EXPECT_EQ(cvt_text_to_boolean(c.text, static_cast<int32_t>(std::strlen(c.text)), c.style, &v32), c.result);
        EXPECT_EQ(v32, c.value);
    }
    int32_t v = 0;
    EXPECT_EQ(cvt_text_to_boolean("T", -1, CVT_BOOLEAN_FORTRAN, &v), 6);
}

// ---- INUM and its family -------------------------------------------------

TEST(CvtValNum, ValuesOfCharacterArguments) {
    const std::string s = "  -42   ";
    EXPECT_EQ(for_inum(s.data(), static_cast<int64_t>(s.size())), -42);
    EXPECT_EQ(for_jnum(s.data(), static_cast<int64_t>(s.size())), -42);
    EXPECT_EQ(for_knum("9223372036854775807", 19), INT64_MAX);
    EXPECT_EQ(for_jnum("", 0), 0);
    EXPECT_EQ(for_rnum("1.5  ", 5), 1.5f);
    EXPECT_EQ(for_dnum(" 0.1", 4), 0.1);
    EXPECT_EQ(for_dnum("25E-1", 5), 2.5);
    // Trailing blanks are gone before reading, so no d applies to "25".
    EXPECT_EQ(for_dnum("25   ", 5), 25.0);
    // 0.1 in binary128: the value 0x3FFB999...9A (rounded up at bit 113).
    const __float128 q = for_qnum("0.1", 3);
    unsigned __int128 bits;
    std::memcpy(&bits, &q, 16);
    EXPECT_EQ(static_cast<uint64_t>(bits >> 64), 0x3FFB999999999999u);
    EXPECT_EQ(static_cast<uint64_t>(bits), 0x999999999999999Au);
}

TEST(CvtValNumDeathTest, BadTextEndsTheProgram) {
    // A severe diagnostic ends the process with the message number (its
    // low 8 bits, as the parent sees them).
    EXPECT_EXIT(for_inum("40000", 5), testing::ExitedWithCode(545 & 0xff), "invalid INTEGER");
    EXPECT_EXIT(for_jnum("12a", 3), testing::ExitedWithCode(545 & 0xff), "invalid INTEGER");
    EXPECT_EXIT(for_dnum("1.5x", 4), testing::ExitedWithCode(547 & 0xff), "invalid REAL");
}

}  // namespace
