// Tables of cases for the conversion engine and its field layer: the
// faults the engine must not have, the edge cases of both directions, the
// number recogniser, and the floating-point environment.
#include <gtest/gtest.h>
#include <vorlix/cvt.h>

#include <cfenv>
#include <cmath>
#include <csignal>
#include <cstring>
#include <string>

#include "cvt_engine_io.h"
#include "cvt_oracle.h"

namespace {

uint64_t bits64(double v) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    return b;
}
uint32_t bits32(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

// ---- Text to value: cases where a truncated or double-rounding engine
// goes wrong.  Expected bits follow from IEEE arithmetic on exact values.
struct InCase {
    const char *text;
    Mode mode;
    uint64_t want;
};

const InCase kBinary64Cases[] = {
    // An exact tie (1 + 3 x 2^-53): ties-to-even rounds up to ...02.
    {"1.00000000000000033306690738754696212708950042724609375", Mode::rn, 0x3FF0000000000002},
    // The tie 1 + 2^-53 with a nonzero digit 70 places on: must round up.
    {"1.0000000000000001110223024625156540423631668090820312500000000000000001", Mode::rn, 0x3FF0000000000001},
    // The same tie exactly: ties-to-even stays, ties-away goes up.
    {"1.00000000000000011102230246251565404236316680908203125", Mode::rn, 0x3FF0000000000000},
    {"1.00000000000000011102230246251565404236316680908203125", Mode::rc, 0x3FF0000000000001},
    // Short inputs in directed modes: no hardware rounding in a fast path.
    {"0.1", Mode::rn, 0x3FB999999999999A},
    {"0.1", Mode::rz, 0x3FB9999999999999},
    {"0.1", Mode::rd, 0x3FB9999999999999},
    {"0.1", Mode::ru, 0x3FB999999999999A},
    {"-0.1", Mode::rd, 0xBFB999999999999A},
    {"-0.1", Mode::ru, 0xBFB9999999999999},
    {"1e23", Mode::rn, 0x44B52D02C7E14AF6},
    {"1e23", Mode::ru, 0x44B52D02C7E14AF7},
    // Overflow and underflow by mode.
    {"1.0E400", Mode::rn, 0x7FF0000000000000},
    {"1.0E400", Mode::rz, 0x7FEFFFFFFFFFFFFF},
    {"-1.0E400", Mode::ru, 0xFFEFFFFFFFFFFFFF},
    {"1e-400", Mode::rn, 0x0000000000000000},
    {"1e-400", Mode::ru, 0x0000000000000001},
    {"-1e-400", Mode::rd, 0x8000000000000001},
    {"2.4703282292062327e-324", Mode::rn, 0x0},  // just below half the smallest subnormal
    {"2.4703282292062328e-324", Mode::rn, 0x1},
    {"-0.0", Mode::rn, 0x8000000000000000},
    // 40 significant digits: the tail beyond any 38 still counts.
    {"9007199254740993.000000000000000000000001", Mode::rn, 0x4340000000000001},
    {"9007199254740993.000000000000000000000000", Mode::rn, 0x4340000000000000},
};

TEST(EngineInput, Binary64Table) {
    for (const InCase &c : kBinary64Cases) {
        const EngineResult r = engine_text_to_bits(kT, c.text, mode_flags(c.mode));
        EXPECT_EQ(r.bits, u128(c.want)) << c.text << " " << mode_name(c.mode) << " got " << hex_bits(kT, r.bits);
        EXPECT_EQ(r.error, 0) << c.text;
    }
}

TEST(EngineInput, Binary32NoDoubleRounding) {
    // Just above the tie 1 + 2^-24: correctly rounded it is 1 + 2^-23; via
    // binary64 it would land on the tie and round to 1.
    const struct {
        const char *text;
        Mode mode;
        uint32_t want;
    } cases[] = {
        {"1.000000059604644775390626", Mode::rn, 0x3F800001},
        {"1.000000059604644775390625", Mode::rn, 0x3F800000},
        {"1.000000059604644775390625", Mode::rc, 0x3F800001},
        {"1.000000059604644775390624", Mode::rc, 0x3F800000},
        // The overflow threshold is 3.40282356779733661637...e38.
        {"3.4028235677973367e38", Mode::rn, 0x7F800000},
        {"3.4028235677973366e38", Mode::rn, 0x7F7FFFFF},
        {"3.4028235677973367e38", Mode::rz, 0x7F7FFFFF},
        {"7.006492321624085e-46", Mode::rn, 0x00000000},  // half the smallest subnormal: even
        {"7.006492321624086e-46", Mode::rn, 0x00000001},
    };
    for (const auto &c : cases) {
        const EngineResult r = engine_text_to_bits(kS, c.text, mode_flags(c.mode));
        EXPECT_EQ(r.bits, u128(c.want)) << c.text << " " << mode_name(c.mode) << " got " << hex_bits(kS, r.bits);
    }
}

TEST(EngineInput, Binary128TiesBeyond38Digits) {
    if (!have_mpfr()) GTEST_SKIP() << "MPFR not found at build time (install libmpfr-dev and libgmp-dev)";
    // Midpoints between 1 and its successor, and between 2^-16000-ish
    // neighbours: exact texts of more than 38 digits decide on the last one.
    const u128 one = static_cast<u128>(0x3FFF) << 112;
    const u128 tiny = (static_cast<u128>(0x0200) << 112) | 0x1234;
    for (u128 b : {one, tiny, one | 1}) {
        const std::string mid = mpfr_exact_text(kX, b, true);
        const size_t e = mid.find('e');
        const std::string above = mid.substr(0, e) + "000000000000000000001" + mid.substr(e);
        const bool odd = b & 1;
        EXPECT_EQ(engine_text_to_bits(kX, mid, mode_flags(Mode::rn)).bits, odd ? b + 1 : b) << mid;
        EXPECT_EQ(engine_text_to_bits(kX, mid, mode_flags(Mode::rc)).bits, b + 1) << mid;
        EXPECT_EQ(engine_text_to_bits(kX, above, mode_flags(Mode::rn)).bits, b + 1) << above;
        EXPECT_EQ(engine_text_to_bits(kX, mid, mode_flags(Mode::rz)).bits, b) << mid;
    }
}

// ---- Fortran input forms through the field layer.
struct FieldCase {
    const char *text;
    uint32_t flags;
    int d, k;
    uint64_t options;
    double want;
    int result;
};

const FieldCase kFieldCases[] = {
    // BN (2) must stay BN although the layer adds a constant holding 0x40.
    {" 1 2", 2, 0, 0, 0, 12.0, 0},
    {" 1 2", 0, 0, 0, 0, 12.0, 0},
    {" 1 2", 64, 0, 0, 0, 102.0, 0},
    {"1.5  ", 64, 0, 0, 0, 1.5, 0},
    {"15  ", 64, 0, 0, 0, 1500.0, 0},
    // Implied point and scale factor (the latter only without exponent).
    {"12345", 0, 2, 0, 0, 123.45, 0},
    {"123.45", 0, 4, 0, 0, 123.45, 0},
    {"12345", 0, 2, 1, 0, 12.345, 0},
    {"1.5E2", 0, 0, 3, 0, 150.0, 0},
    {"1.5-3", 0, 0, 0, 0, 1.5e-3, 0},
    {"1.5D+3", 0, 0, 0, 0, 1.5e3, 0},
    {"1.5q3", 0, 0, 0, 0, 1.5e3, 0},
    // Decimal comma from bit 34 of the options.
    {"2,5", 0, 0, 0, uint64_t(1) << 34, 2.5, 0},
    {"2.5", 0, 0, 0, uint64_t(1) << 34, 0.0, 1},
    // Malformed text: second sign, second point, letter without digits.
    {"1.2.3", 0, 0, 0, 0, 0.0, 1},
    {"+-1", 0, 0, 0, 0, 0.0, 1},
    {"1.5E", 0, 0, 0, 0, 0.0, 1},
    {"1.5X", 0, 0, 0, 0, 0.0, 1},
    {"E5", 0, 0, 0, 0, 0.0, 1},
    {"", 0, 0, 0, 0, 0.0, 0},
    {"     ", 0, 0, 0, 0, 0.0, 0},
    {"  -Infinity ", 0, 0, 0, 0, -HUGE_VAL, 0},
    {"inf", 0, 0, 0, 0, HUGE_VAL, 0},
    {"infin", 0, 0, 0, 0, 0.0, 1},
};

TEST(FieldInput, FortranForms) {
    for (const FieldCase &c : kFieldCases) {
        double v = -1.0;
        const int r =
            cvt_text_to_ieee_t_ex(c.text, static_cast<int64_t>(std::strlen(c.text)), c.k, c.d, c.flags, &v, c.options);
        EXPECT_EQ(r, c.result) << "'" << c.text << "'";
        if (r == 0) {
            EXPECT_EQ(bits64(v), bits64(c.want)) << "'" << c.text << "' got " << v;
        }
    }
}

TEST(FieldInput, RoundingModeFromFlags) {
    double v;
    ASSERT_EQ(cvt_text_to_ieee_t_ex("0.1", 3, 0, 0, 0x80000000u | 0x00400000u, &v, 0), 0);
    EXPECT_EQ(bits64(v), 0x3FB9999999999999u);
    ASSERT_EQ(cvt_text_to_ieee_t_ex("0.1", 3, 0, 0, 0, &v, 0), 0);
    EXPECT_EQ(bits64(v), 0x3FB999999999999Au);
    float f;
    ASSERT_EQ(cvt_text_to_ieee_s_ex("0.1", 3, 0, 0, 0x80000000u | 0x01000000u, &f, 0), 0);
    EXPECT_EQ(bits32(f), 0x3DCCCCCDu);
}

// ---- NaN payloads: never an infinity, the quiet bit always set.
TEST(EngineNaN, PayloadsStayQuietNaNs) {
    const struct {
        const char *payload;
        uint64_t want;
    } cases[] = {
        {"", 0xFFF8000000000000},
        {"(0)", 0x7FF8000000000000},
        {"(0x7ffffffffffff)", 0x7FFFFFFFFFFFFFFF},
        {"(0xfffffffffffff)", 0x7FFFFFFFFFFFFFFF},  // would clear the quiet bit's neighbours only
        {"(0x8000000000000)", 0x7FF8000000000000},  // the quiet bit itself: still a quiet NaN, not Inf
        {"(42)", 0x7FF800000000002A},
        {"(017)", 0x7FF800000000000F},
        {"(abc_1)", 0xFFF8000000000000},
        {"(1.5)", 0xFFF8000000000000},
        {"(12", 0xFFF8000000000000},
    };
    for (const auto &c : cases) {
        const double v = cvtas__nan_t(c.payload, static_cast<int32_t>(std::strlen(c.payload)));
        EXPECT_EQ(bits64(v), c.want) << c.payload;
    }
    for (const char *p : {"(0)", "(0x400000)", ""}) {
        const uint32_t b = bits32(cvtas__nan_s(p, static_cast<int32_t>(std::strlen(p))));
        EXPECT_EQ(b & 0x7FC00000u, 0x7FC00000u) << p;
        const __float128 x = cvtas__nan_x(p, static_cast<int32_t>(std::strlen(p)));
        u128 xb;
        std::memcpy(&xb, &x, 16);
        EXPECT_EQ((xb >> 111) & 0xFFFF, u128(0xFFFF)) << p;
    }
    // Through the text converter, with the sign applied last.
    const EngineResult r = engine_text_to_bits(kT, "-NaN(0)", mode_flags(Mode::rn));
    EXPECT_EQ(r.bits, u128(0xFFF8000000000000));
    EXPECT_EQ(r.status, 10);
}

// ---- Value to digits.
struct OutCase {
    double value;
    int n;
    bool after_point;
    Mode mode;
    const char *digits;
    int exponent;
};

const OutCase kOutCases[] = {
    {0.125, 2, true, Mode::rn, "12", 0},
    {0.125, 2, true, Mode::ru, "13", 0},
    {0.125, 2, true, Mode::rc, "13", 0},
    {0.125, 2, true, Mode::rz, "12", 0},
    {-0.125, 2, true, Mode::rd, "13", 0},
    {-0.125, 2, true, Mode::ru, "12", 0},
    {2.5, 1, false, Mode::rn, "2", 1},
    {3.5, 1, false, Mode::rn, "4", 1},
    {2.5, 1, false, Mode::rc, "3", 1},
    {9.96, 2, false, Mode::rn, "10", 2},  // carry into a new leading digit
    {0.001, 2, true, Mode::rn, "", -2},   // rounds to zero at the place
    {0.001, 2, true, Mode::ru, "1", -1},
    {1e22, 17, false, Mode::rn, "10000000000000000", 23},
    {5e-324, 17, false, Mode::rn, "49406564584124654", -323},
};

TEST(EngineOutput, DigitsTable) {
    for (const OutCase &c : kOutCases) {
        const EngineDigits r =
            engine_bits_to_digits(kT, bits64(c.value), c.n, mode_flags(c.mode) | (c.after_point ? 2u : 1u));
        EXPECT_EQ(r.status, 0) << c.value;
        EXPECT_EQ(r.text, c.digits) << c.value << " " << mode_name(c.mode);
        EXPECT_EQ(r.exponent, c.exponent) << c.value << " " << mode_name(c.mode);
    }
}

TEST(EngineOutput, SpecialValuesAndClasses) {
    EngineDigits r = engine_bits_to_digits(kT, 0x7FF0000000000000, 5, 1);
    EXPECT_EQ(r.status, 12);
    EXPECT_EQ(r.text, "Infinity");
    r = engine_bits_to_digits(kT, 0xFFF0000000000000, 5, 1 | 0x2000 | 0x1000);
    EXPECT_EQ(r.text, "INFINITY");
    EXPECT_EQ(r.cls, -4);
    r = engine_bits_to_digits(kT, 0x7FF4000000000000, 5, 1 | 0x2000);
    EXPECT_EQ(r.text, "nan");
    EXPECT_EQ(r.cls, 6);  // signalling
    r = engine_bits_to_digits(kT, 0x7FF8000000000000, 5, 1);
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.cls, 0);
    r = engine_bits_to_digits(kT, 0x8000000000000000, 3, 1);
    EXPECT_EQ(r.status, 11);
    EXPECT_EQ(r.cls, -1);
    EXPECT_EQ(r.text, "000");
    r = engine_bits_to_digits(kT, 0x0000000000000001, 3, 1);
    EXPECT_EQ(r.cls, 2);
    r = engine_bits_to_digits(kT, bits64(1.0), 3, 0);  // neither 1 nor 2
    EXPECT_EQ(r.status, 4);
    r = engine_bits_to_digits(kT, bits64(1.0), 20, 1, 10);  // buffer too small
    EXPECT_EQ(r.status, 2);
}

TEST(EngineOutput, SmallestBinary128SubnormalExactF) {
    if (!have_mpfr()) GTEST_SKIP() << "MPFR not found at build time (install libmpfr-dev and libgmp-dev)";
    // 2^-16494 needs 16494 digits after the point, 11530 significant: the
    // field layer's heap path, and the engine's big-integer path.
    for (Mode m : kModes) {
        const int d = 16500;
        const EngineDigits r = engine_bits_to_digits(kX, 1, d, mode_flags(m) | 2u, d + 64);
        ASSERT_EQ(r.status, 0);
        EXPECT_GT(r.count, 11000);
        EXPECT_TRUE(r.dec() == mpfr_bits_to_dec(kX, 1, d, true, m)) << mode_name(m);
    }
    std::string field(16510, '?');
    __float128 tiny;
    const u128 one = 1;
    std::memcpy(&tiny, &one, 16);
    uint32_t len = 0;
    const int rc = cvt_ieee_x_to_text_ex(&tiny, 16510, 0, 16500, 16510, 0, 0x2 | 0x80000000u, field.data(), 4, &len);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(field.substr(0, 14), "        0.0000");
    EXPECT_EQ(field.back(), '0');
    EXPECT_EQ(field.find('6'), field.find_first_not_of(" 0.")) << "first significant digit of 6.47e-4966";
}

// ---- Output fields.
struct FieldOut {
    double value;
    int w, d, e, k;
    uint32_t kind;
    uint64_t opt_hi;
    const char *want;
    int result;
};

constexpr uint32_t RN = 0x80000000u, RU = 0x81000000u, RC = 0x81800000u, RZ = 0x80400000u;

const FieldOut kFieldOut[] = {
    {0.125, 5, 2, 0, 0, 2 | RN, 0, " 0.12", 0},
    {0.125, 5, 2, 0, 0, 2 | RU, 0, " 0.13", 0},
    {0.125, 5, 2, 0, 0, 2 | RC, 0, " 0.13", 0},
    {0.125, 5, 2, 0, 0, 2 | RZ, 0, " 0.12", 0},
    {0.5, 4, 2, 0, 0, 2 | RN, 0, "0.50", 0},
    {0.5, 3, 2, 0, 0, 2 | RN, 0, ".50", 0},
    {-0.5, 3, 2, 0, 0, 2 | RN, 0, "***", 2},
    {HUGE_VAL, 5, 1, 0, 0, 2 | RN, 0, "  Inf", 12},
    {HUGE_VAL, 9, 1, 0, 0, 2 | RN, 0, " Infinity", 12},
    {-HUGE_VAL, 8, 1, 0, 0, 2 | RN, 0, "    -Inf", 12},
    {NAN, 5, 1, 0, 0, 2 | RN, 0, "  NaN", 10},
    {1.0e100, 12, 4, 2, 0, 1 | 0x40 | RN, 0, "************", 2},
    {1.0e100, 12, 4, 0, 0, 1 | RN, 0, "  0.1000+101", 0},
    {1234.0, 10, 3, 0, 0, RN, 0, " 0.123E+04", 0},
    {123.0, 10, 3, 0, 0, RN, 0, "  123.    ", 0},
    {-1.5, 10, 3, 0, 0, 1 | 4 | RN, 0, "-0.150D+01", 0},
    {1.5, 10, 3, 0, 0, 1 | 16 | RN, 0, "+0.150E+01", 0},
    {12345.678, 12, 3, 0, 2, 1 | RN, 0, "   12.35E+03", 0},
    {0.0123, 12, 3, 0, -1, 1 | RN, 0, "   0.012E+00", 0},
    {12345.678, 12, 3, 0, 0, 0x200 | 1 | RN, 0, "  12.346E+03", 0},
    {999.9999, 12, 3, 0, 0, 0x200 | 1 | RN, 0, "   1.000E+03", 0},
    {12345.678, 12, 3, 0, 0, 0x400 | 1 | RN, 0, "   1.235E+04", 0},
    {1.5, 6, 2, 0, 1, 2 | RN, 0, " 15.00", 0},
    {2.5, 6, 3, 0, 0, 2 | RN, uint64_t(4), " 2,500", 0},
    {1.0, 8, 0, 0, 0, 0x1C40 | RN, 0, " 0X1.P+0", 0},
    {-0.75, 10, 2, 0, 0, 0x1C40 | RN, 0, "-0X1.80P-1", 0},
};

TEST(FieldOutput, LayoutTable) {
    for (const FieldOut &c : kFieldOut) {
        std::string field(static_cast<size_t>(c.w), '?');
        uint32_t len = 0;
        const int r =
            cvt_ieee_t_to_text_ex(&c.value, c.w, c.k, c.d, c.w, c.e, c.kind, field.data(), (c.opt_hi << 32) | 4, &len);
        EXPECT_EQ(field, c.want) << c.value << " w " << c.w << " d " << c.d << " kind " << std::hex << c.kind;
        EXPECT_EQ(r, c.result) << c.value;
        EXPECT_EQ(len, static_cast<uint32_t>(c.w));
    }
}

TEST(FieldOutput, WidthZero) {
    const double v = 3.25;
    char field[32];
    uint32_t len = 99;
    // A plain request with no width is bad; a zero-width request is not.
    EXPECT_EQ(cvt_ieee_t_to_text_ex(&v, 0, 0, 2, 0, 0, 2 | RN, field, 4, &len), 6);
    EXPECT_EQ(cvt_ieee_t_to_text_ex(&v, 0, 0, 2, 0, 0, 2 | 0x100 | RN, field, (uint64_t(8) << 32) | 4, &len), 0);
    EXPECT_EQ(std::string(field, len), "3.25");
}

// ---- The number recogniser.
struct LexCase {
    const char *text;
    char point;
    int accepted;  // characters accepted before the first refusal
    bool complete;
};

const LexCase kLexCases[] = {
    {"123", '.', 3, true},     {"1.5E-3", '.', 6, true},      {"1.5E-", '.', 5, false}, {"1.5E", '.', 4, true},
    {"1.5-3", '.', 5, true},   {"+-1", '.', 1, false},        {"0X1A", '.', 4, false},  {"0X1AP3", '.', 6, true},
    {"-0x1p-2", '.', 7, true}, {"1X", '.', 1, true},          {"00X", '.', 2, true},    {"0.X", '.', 2, true},
    {"INF", '.', 3, true},     {"infinity", '.', 8, true},    {"INFI", '.', 4, false},  {"INFINITYX", '.', 8, true},
    {"NAN", '.', 3, true},     {"nan(abc_1)", '.', 10, true}, {"NAN(", '.', 4, false},  {"NAN(a.b)", '.', 5, false},
    {"1.2.3", '.', 3, true},   {"1,5", ',', 3, true},         {"1,5", '.', 1, true},    {".", '.', 1, false},
    {"-", '.', 1, false},      {"1E5E", '.', 3, true},        {"1D+05", '.', 5, true},  {"1Q5", '.', 3, true},
    {"1P5", '.', 1, true},     {"1I", '.', 1, true},          {"0X1E5", '.', 5, false}, {"1E+5+", '.', 4, true},
    {"-INF", '.', 4, true},
};

TEST(Lexer, Table) {
    for (const LexCase &c : kLexCases) {
        uint32_t state = static_cast<uint32_t>(static_cast<unsigned char>(c.point)) << 12;
        int n = 0;
        for (const char *p = c.text; *p; ++p, ++n)
            if (!cvt__lex_number_char(&state, *p)) break;
        EXPECT_EQ(n, c.accepted) << c.text;
        EXPECT_EQ(cvt__lex_number_complete(&state) != 0, c.complete) << c.text;
    }
}

// ---- The floating-point environment of the caller.
TEST(Environment, NoFlagsNoTrapsModeKept) {
    const int modes[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
    // Unmask every exception: any floating-point operation that raised one
    // would end the test with SIGFPE.
    feenableexcept(FE_ALL_EXCEPT);
    for (int hw : modes) {
        std::fesetround(hw);
        std::feclearexcept(FE_ALL_EXCEPT);
        const char *texts[] = {"1e-400",   "1e400",   "0.1",
                               "4.9e-324", "NaN(12)", "1.00000000000000011102230246251565404236316680908203125"};
        for (const char *t : texts)
            for (Mode m : kModes) {
                (void)engine_text_to_bits(kS, t, mode_flags(m));
                (void)engine_text_to_bits(kT, t, mode_flags(m));
                (void)engine_text_to_bits(kX, t, mode_flags(m));
            }
        const u128 values[] = {1, 0x7FF4000000000001, 0x7FEFFFFFFFFFFFFF, 0x3FB999999999999A, 0x8000000000000000};
        for (u128 b : values)
            for (Mode m : kModes) {
                (void)engine_bits_to_digits(kT, b, 17, mode_flags(m) | 1);
                (void)engine_bits_to_digits(kT, b, 30, mode_flags(m) | 2);
                (void)engine_bits_to_digits(kS, b & 0xFFFFFFFF, 9, mode_flags(m) | 1);
                (void)engine_bits_to_digits(kX, b << 64, 36, mode_flags(m) | 1);
                double v;
                uint64_t w = static_cast<uint64_t>(b);
                std::memcpy(&v, &w, 8);
                char field[40];
                cvt_ieee_t_to_text(&v, 30, 0, 10, 30, 0, 1 | mode_flags(m), field);
                cvt_ieee_t_to_text(&v, 30, 0, 10, 30, 0, 2 | mode_flags(m), field);
                cvt_ieee_t_to_text(&v, 30, 0, 10, 30, 0, mode_flags(m), field);
            }
        EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
        EXPECT_EQ(std::fegetround(), hw);
    }
    fedisableexcept(FE_ALL_EXCEPT);
    std::fesetround(FE_TONEAREST);
}

TEST(Engine, FloorLog10Pow2MatchesExactPowers) {
    // The digit estimate must never be one too high: check the fixed-point
    // log10(2) against exact powers of two over the whole binary128 range.
    if (!have_mpfr()) GTEST_SKIP() << "MPFR not found at build time (install libmpfr-dev and libgmp-dev)";
    for (int e = -16494; e <= 16400; e += 7) {  // from the smallest subnormal up
        // 2^e's decimal exponent by the engine: one significant digit.
        const u128 bits = e >= -16382 ? static_cast<u128>(e + 16383) << 112 : static_cast<u128>(1) << (e + 16494);
        const EngineDigits r = engine_bits_to_digits(kX, bits, 1, mode_flags(Mode::rz) | 1);
        EXPECT_TRUE(r.dec() == mpfr_bits_to_dec(kX, bits, 1, false, Mode::rz)) << e;
    }
}

}  // namespace
