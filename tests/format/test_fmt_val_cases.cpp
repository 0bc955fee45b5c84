// Output editing where the library decides (the field converters' own
// contract, B/O/Z of negative values, reals and CHARACTER items, the sign
// of zero, G of zero, the logical-value option) and the statuses of
// output editing.  Expected fields follow from the bit patterns and the
// layout rules; none comes from the code under test.
#include <gtest/gtest.h>
#include <quadmath.h>
#include <vorlix/abi.h>
#include <vorlix/cvt.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "diag/for_msgnum.h"
#include "fmt_val_kit.h"

namespace {

using fmtkit::Desc;
using fmtkit::Ed;

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max(), kMin32 = std::numeric_limits<int32_t>::min();
constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();

// Runs a converter on a field of width w framed by guards; the guards must
// survive and the field is returned (untouched positions stay '.').
template <class Fn>
std::string field_of(int w, int32_t *result, Fn &&fn) {
    char buf[200];
    std::memset(buf, '#', sizeof buf);
    std::memset(buf + 16, '.', static_cast<size_t>(w > 0 ? w : 0));
    *result = fn(buf + 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(buf[i], '#') << "wrote before the field";
        EXPECT_EQ(buf[16 + (w > 0 ? w : 0) + i], '#') << "wrote after the field";
    }
    return std::string(buf + 16, static_cast<size_t>(w > 0 ? w : 0));
}

struct IntCase {
    int64_t value;
    int w, m;
    uint32_t flags;
    const char *want;
    int32_t result;
};

TEST(IntegerConverter, Layouts) {
    const IntCase cases[] = {
        {12345, 5, 1, 0, "12345", 0},
        {-12345, 5, 1, 0, "*****", 2},
        {-12345, 6, 1, 0, "-12345", 0},
        {7, 4, 3, 0, " 007", 0},
        {0, 3, 0, 0, "   ", 0},
        {0, 3, 0, 16, "   ", 0},  // zero with m = 0 is blank even under SP
        {0, 3, 1, 16, " +0", 0},
        {99, 3, 1, 16, "+99", 0},
        {99, 2, 1, 16, "**", 2},
        {-7, 5, 4, 0, "-0007", 0},
        {-7, 4, 4, 0, "****", 2},  // the sign finds no room
        {7, 3, 5, 0, "007", 0},    // m > w: zeros as far as the field allows
        {-7, 3, 5, 0, "***", 2},
        {kMax32, 10, 1, 0, "2147483647", 0},
        {kMin32, 11, 1, 0, "-2147483648", 0},
        {kMin32, 10, 1, 0, "**********", 2},
        {5, 1, 1, 0, "5", 0},
        {10, 1, 1, 0, "*", 2},
        {99, 2, 1, 0, "99", 0},
        {100, 3, 1, 0, "100", 0},
        {1000000000, 12, 1, 0, "  1000000000", 0},
    };
    for (const IntCase &c : cases) {
        int32_t r;
        const std::string got = field_of(
            c.w, &r, [&](char *f) { return cvt_integer_to_text(static_cast<int32_t>(c.value), c.w, c.m, c.flags, f); });
        EXPECT_EQ(got, c.want) << c.value << " I" << c.w << "." << c.m;
        EXPECT_EQ(r, c.result) << c.value << " I" << c.w << "." << c.m;
    }
}

TEST(IntegerConverter, SixtyFourBitExtremes) {
    const IntCase cases[] = {
        {kMin64, 20, 1, 0, "-9223372036854775808", 0},
        {kMin64, 19, 1, 0, "*******************", 2},
        {std::numeric_limits<int64_t>::max(), 20, 1, 16, "+9223372036854775807", 0},
        {4294967296, 10, 1, 0, "4294967296", 0},
        {-4294967295, 12, 1, 0, " -4294967295", 0},
        {10000000000000000, 17, 1, 0, "10000000000000000", 0},
        {9999999999999999, 17, 1, 0, " 9999999999999999", 0},
    };
    for (const IntCase &c : cases) {
        int32_t r;
        const std::string got =
            field_of(c.w, &r, [&](char *f) { return cvt_integer64_to_text(c.value, c.w, c.m, c.flags, f); });
        EXPECT_EQ(got, c.want) << c.value;
        EXPECT_EQ(r, c.result) << c.value;
    }
}

TEST(IntegerConverter, EveryDigitCountAgainstPlainDivision) {
    // Each power of ten and its neighbours: the digit count changes there.
    uint64_t p = 1;
    for (int k = 0; k < 20; ++k, p *= 10) {
        for (uint64_t v : {p - 1, p, p + 1}) {
            if (v == 0) continue;
            std::string want;
            for (uint64_t u = v; u; u /= 10) want.insert(want.begin(), static_cast<char>('0' + u % 10));
            int32_t r;
            const std::string got = field_of(20, &r, [&](char *f) { return cvt_unsigned64_to_text(v, 20, 10, 1, f); });
            EXPECT_EQ(got, std::string(20 - want.size(), ' ') + want);
            if (v <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                const std::string neg = field_of(
                    21, &r, [&](char *f) { return cvt_integer64_to_text(-static_cast<int64_t>(v), 21, 1, 0, f); });
                EXPECT_EQ(neg, std::string(20 - want.size(), ' ') + "-" + want);
            }
        }
    }
}

TEST(IntegerConverter, BadArguments) {
    int32_t r;
    EXPECT_EQ(field_of(4, &r, [](char *f) { return cvt_integer_to_text(5, 0, 1, 0, f); }), "....");
    EXPECT_EQ(r, 0);  // w = 0 writes nothing
    field_of(0, &r, [](char *f) { return cvt_integer_to_text(5, -1, 1, 0, f); });
    EXPECT_EQ(r, 6);
    field_of(4, &r, [](char *f) { return cvt_integer_to_text(5, 4, -1, 0, f); });
    EXPECT_EQ(r, 6);
    field_of(4, &r, [](char *f) { return cvt_integer_to_text(5, 4, 1, 17, f); });
    EXPECT_EQ(r, 4);
    field_of(4, &r, [](char *f) { return cvt_integer64_to_text(5, 4, 1, 32, f); });
    EXPECT_EQ(r, 4);
    field_of(4, &r, [](char *f) { return cvt_unsigned_to_text(5, 4, 1, 1, f); });
    EXPECT_EQ(r, 5);
    field_of(4, &r, [](char *f) { return cvt_unsigned64_to_text(5, 4, 17, 1, f); });
    EXPECT_EQ(r, 5);
}

struct RadixCase {
    uint64_t value;
    int w, radix, m;
    const char *want;
    int32_t result;
};

TEST(UnsignedConverter, EveryRadix) {
    const RadixCase cases[] = {
        {5, 4, 2, 1, " 101", 0},
        {255, 8, 2, 1, "11111111", 0},
        {256, 8, 2, 1, "********", 2},
        {8, 3, 8, 1, " 10", 0},
        {0xFFFFFFFFu, 8, 16, 1, "FFFFFFFF", 0},
        {0xFFFFFFFFu, 10, 10, 1, "4294967295", 0},
        {0xABCu, 6, 16, 5, " 00ABC", 0},
        {0, 4, 16, 0, "    ", 0},
        {0, 4, 16, 2, "  00", 0},
        {10, 4, 3, 1, " 101", 0},
        {48, 3, 7, 1, " 66", 0},
        {35, 2, 16, 1, "23", 0},
        {15, 1, 16, 1, "F", 0},
        {~0ull, 16, 16, 1, "FFFFFFFFFFFFFFFF", 0},
        {~0ull, 20, 10, 1, "18446744073709551615", 0},
        {~0ull, 22, 8, 1, "1777777777777777777777", 0},
        {~0ull, 64, 2, 1, nullptr, 0},  // 64 ones
    };
    for (const RadixCase &c : cases) {
        int32_t r;
        const std::string want = c.want ? c.want : std::string(64, '1');
        std::string got;
        if (c.value <= 0xFFFFFFFFu)
            got = field_of(c.w, &r, [&](char *f) {
                return cvt_unsigned_to_text(static_cast<uint32_t>(c.value), c.w, c.radix, c.m, f);
            });
        else
            got = field_of(c.w, &r, [&](char *f) { return cvt_unsigned64_to_text(c.value, c.w, c.radix, c.m, f); });
        EXPECT_EQ(r, c.result) << c.value << " radix " << c.radix;
        EXPECT_EQ(got, want) << c.value << " radix " << c.radix;
    }
}

struct DataCase {
    const char *bytes;  // in memory order
    int size, w, radix, m;
    const char *want;
    int32_t result;
};

TEST(DataConverter, BytesLowestAddressLeastSignificant) {
    const DataCase cases[] = {
        {"\x34\x12", 2, 4, 16, 1, "1234", 0},
        {"\xFF\xFF", 2, 4, 16, 1, "FFFF", 0},
        {"\x08", 1, 3, 8, 1, " 10", 0},
        {"\x00\x00\x00\x00", 4, 3, 2, 3, "000", 0},
        {"\x00\x01\x00\x00", 4, 2, 16, 1, "**", 2},
        {"\x01\x00\x00", 3, 4, 16, 1, "   1", 0},     // high-order zero bytes ignored
        {"\xFF\xFF\xFF", 3, 8, 8, 1, "77777777", 0},  // octal groups cross bytes
        {"\xFF\xFF\xFF", 3, 7, 8, 1, "*******", 2},
        {"\x00\x00\x00\x00\x00\x00\xF0\x3F", 8, 16, 16, 1, "3FF0000000000000", 0},
        // 16 bytes: every group of the top byte counts, the zeros beneath too.
        {"\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80", 16, 32, 16, 1,
         "80000000000000000000000000000001", 0},
        {"\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80", 16, 31, 16, 1,
         "*******************************", 2},
        {"\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 16, 6, 2, 5, " 00101", 0},
        {"\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 16, 3, 8, 0, "   ", 0},
        {"\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x40", 16, 43, 8, 1,
         "1000000000000000000000000000000000000000000", 0},
        {"\x41\x42\x43", 3, 6, 16, 1, "434241", 0},
        {"\x12", 1, 4, 10, 1, "****", 2},  // radix 10 is no bit pattern
    };
    for (const DataCase &c : cases) {
        for (auto conv : {cvt_data_to_text, cvt_data64_to_text}) {
            int32_t r;
            const std::string got =
                field_of(c.w, &r, [&](char *f) { return conv(c.bytes, c.w, c.size, c.radix, c.m, f); });
            EXPECT_EQ(got, c.want) << "size " << c.size << " radix " << c.radix << " w " << c.w;
            EXPECT_EQ(r, c.result) << "size " << c.size << " radix " << c.radix;
        }
    }
    int32_t r;
    field_of(4, &r, [](char *f) { return cvt_data_to_text("\1", 4, 0, 16, 1, f); });
    EXPECT_EQ(r, 6);
    field_of(4, &r, [](char *f) { return cvt_data_to_text("\1", 4, 1, 17, 1, f); });
    EXPECT_EQ(r, 5);
}

TEST(BooleanConverter, Styles) {
    struct {
        int64_t value;
        int w, style;
        bool nonzero_true;
        const char *want;
        int32_t result;
    } const cases[] = {
        {1, 3, CVT_BOOL_LETTER, false, "  T", 0},
        {2, 3, CVT_BOOL_LETTER, false, "  F", 0},
        {2, 3, CVT_BOOL_LETTER, true, "  T", 0},
        {0, 3, CVT_BOOL_LETTER, true, "  F", 0},
        {-1, 1, CVT_BOOL_LETTER, false, "T", 0},
        {1, 6, CVT_BOOL_WORD, false, "  TRUE", 0},
        {0, 6, CVT_BOOL_WORD, false, " FALSE", 0},
        {0, 3, CVT_BOOL_WORD, false, "FAL", 0},
        {1, 2, CVT_BOOL_WORD, false, "TR", 0},
        {1, 2, 0, false, " 0", 0},
        {0, 2, 0, false, " 1", 0},
        {1, 3, 1 << 3, false, "...", 0},  // a style of neither kind writes nothing
        {1, 3, -1, false, "...", 4},
    };
    for (const auto &c : cases) {
        int32_t r;
        const std::string got = field_of(c.w, &r, [&](char *f) {
            return cvt_boolean_to_text_ex(static_cast<int32_t>(c.value), c.w, c.style, f,
                                          4 | (c.nonzero_true ? CVT_BOOL_NONZERO_TRUE : 0));
        });
        EXPECT_EQ(got, c.want) << c.value << " style " << c.style;
        EXPECT_EQ(r, c.result) << c.value << " style " << c.style;
        if (!c.nonzero_true) {
            EXPECT_EQ(
                field_of(c.w, &r,
                         [&](char *f) { return cvt_boolean_to_text(static_cast<int32_t>(c.value), c.w, c.style, f); }),
                c.want);
            EXPECT_EQ(field_of(c.w, &r, [&](char *f) { return cvt_boolean64_to_text(c.value, c.w, c.style, f); }),
                      c.want);
        }
    }
    int32_t r;
    // The 64-bit form looks only at the lowest bit, whatever the upper half.
    EXPECT_EQ(field_of(2, &r, [](char *f) { return cvt_boolean64_to_text(int64_t{1} << 40, 2, CVT_BOOL_LETTER, f); }),
              " F");
    EXPECT_EQ(
        field_of(2, &r, [](char *f) { return cvt_boolean64_to_text((int64_t{1} << 40) | 1, 2, CVT_BOOL_LETTER, f); }),
        " T");
}

// ---- for__format_value: where the library makes the choice.

struct Item {
    alignas(16) unsigned char mem[48] = {};
    int type;
    int64_t length = 0;
    template <class T>
    Item(T v, int t) : type(t) {
        static_assert(sizeof(T) <= sizeof mem);
        std::memcpy(mem, &v, sizeof v);
    }
    static Item chars(const char *s, int64_t n) {
        Item it(0, FOR_TYPE_CHARACTER);
        it.length = n;
        std::memcpy(it.mem, s, static_cast<size_t>(n));
        return it;
    }
};

struct ValCase {
    Item item;
    Desc desc;
    const char *want;
    int status;
};

void check(const ValCase &c, For_Lub *unit = nullptr, int64_t resolved = 40) {
    const fmtkit::Edited got = fmtkit::edit(c.item.mem, c.item.type, c.item.length, c.desc, unit, resolved);
    EXPECT_EQ(got.field, c.want) << fmtkit::fortran_text(c.desc) << " type " << c.item.type;
    EXPECT_EQ(got.status, c.status) << fmtkit::fortran_text(c.desc) << " type " << c.item.type;
}

TEST(OutputEditing, BitPatternsOfEveryItemSize) {
    const __float128 one_q = 1, minus_two_q = -2;
    const ValCase cases[] = {
        // Negative integers: the two's-complement bytes.
        {{int16_t{-1}, FOR_TYPE_INT2}, {Ed::Z, 4}, "FFFF", 0},
        {{int8_t{-1}, FOR_TYPE_INT1}, {Ed::B, 8}, "11111111", 0},
        {{int64_t{-1}, FOR_TYPE_INT8}, {Ed::O, 22}, "1777777777777777777777", 0},
        {{int32_t{-2}, FOR_TYPE_INT4}, {Ed::Z, 8}, "FFFFFFFE", 0},
        {{int32_t{-2}, FOR_TYPE_INT4}, {Ed::Z, 7}, "*******", 63},
        {{int8_t{8}, FOR_TYPE_INT1}, {Ed::O, 3}, " 10", 0},
        {{int32_t{0}, FOR_TYPE_LOGICAL4}, {Ed::Z, 3}, "  0", 0},
        {{int32_t{-1}, FOR_TYPE_LOGICAL4}, {Ed::Z, 8}, "FFFFFFFF", 0},
        {{uint16_t{0x8001}, FOR_TYPE_UINT2}, {Ed::Z, 5}, " 8001", 0},
        // Reals by their own size, never a 4-byte default.
        {{1.0, FOR_TYPE_REAL8}, {Ed::Z, 16}, "3FF0000000000000", 0},
        {{1.0, FOR_TYPE_REAL8}, {Ed::O, 21}, "377600000000000000000", 0},
        {{-0.0, FOR_TYPE_REAL8}, {Ed::Z, 0}, "8000000000000000", 0},
        {{1.0f, FOR_TYPE_REAL4}, {Ed::Z, 8}, "3F800000", 0},
        {{1.0f, FOR_TYPE_REAL4}, {Ed::B, 30}, "111111100000000000000000000000", 0},
        {{1.0f, FOR_TYPE_COMPLEX4}, {Ed::Z, 9}, " 3F800000", 0},
        {{1.0, FOR_TYPE_COMPLEX8}, {Ed::Z, 0}, "3FF0000000000000", 0},
        {{one_q, FOR_TYPE_REAL16}, {Ed::Z, 32}, "3FFF0000000000000000000000000000", 0},
        {{one_q, FOR_TYPE_REAL16}, {Ed::Z, 31}, "*******************************", 63},
        {{minus_two_q, FOR_TYPE_REAL16}, {Ed::Z, 0}, "C0000000000000000000000000000000", 0},
        {{one_q, FOR_TYPE_COMPLEX16}, {Ed::Z, 0}, "3FFF0000000000000000000000000000", 0},
        // CHARACTER: every byte of the item, the first least significant.
        {Item::chars("AB", 2), {Ed::Z, 4}, "4241", 0},
        {Item::chars("ABC", 3), {Ed::Z, 4}, "****", 63},
        {Item::chars("A\0\0", 3), {Ed::Z, 6}, "    41", 0},
        {Item::chars("ABCDEFGHIJ", 10), {Ed::Z, 20}, "4A494847464544434241", 0},
        {Item::chars("", 0), {Ed::Z, 3}, "  0", 0},
    };
    for (const ValCase &c : cases) check(c, nullptr, 130);
    // B0 of REAL(16) 1.0: the exponent bits 011111111111111, then 112 zeros.
    const Item q(one_q, FOR_TYPE_REAL16);
    EXPECT_EQ(fmtkit::edit(q.mem, q.type, 0, Desc(Ed::B, 0), nullptr, 130).field,
              "11111111111111" + std::string(112, '0'));
}

TEST(OutputEditing, LogicalValueOption) {
    fmtkit::Unit plain, nonzero;
    nonzero.lub.lub_flags = uint64_t{1} << 4;
    const ValCase cases[] = {
        {{int32_t{1}, FOR_TYPE_LOGICAL4}, {Ed::L, 3}, "  T", 0},
        {{int32_t{2}, FOR_TYPE_LOGICAL4}, {Ed::L, 3}, "  F", 0},
        {{int64_t{2}, FOR_TYPE_LOGICAL8}, {Ed::L, 3}, "  F", 0},
        {{int8_t{-1}, FOR_TYPE_LOGICAL1}, {Ed::L, 2}, " T", 0},
        {{int32_t{3}, FOR_TYPE_INT4}, {Ed::L, 2}, " T", 0},
    };
    for (const ValCase &c : cases) check(c, &plain.lub);
    const ValCase with_option[] = {
        {{int32_t{2}, FOR_TYPE_LOGICAL4}, {Ed::L, 3}, "  T", 0},
        {{int16_t{-2}, FOR_TYPE_LOGICAL2}, {Ed::L, 3}, "  T", 0},
        {{int32_t{0}, FOR_TYPE_LOGICAL4}, {Ed::L, 3}, "  F", 0},
        {{int64_t{2}, FOR_TYPE_LOGICAL8}, {Ed::L, 3}, "  F", 0},  // 8-byte items: the lowest bit still decides
        {{int32_t{2}, FOR_TYPE_LOGICAL4}, {Ed::G, 3, 1}, "  T", 0},
    };
    for (const ValCase &c : with_option) check(c, &nonzero.lub);
}

TEST(OutputEditing, ZeroAndSignChoices) {
    const ValCase cases[] = {
        // No "-" for a negative value that rounds to zero, nor for -0.
        {{-0.01, FOR_TYPE_REAL8}, {Ed::F, 5, 1}, "  0.0", 0},
        {{-0.0, FOR_TYPE_REAL8}, {Ed::F, 5, 1}, "  0.0", 0},
        {{-0.01, FOR_TYPE_REAL8}, {Ed::F, 5, 1, 0, "SP"}, " +0.0", 0},
        {{-0.0f, FOR_TYPE_REAL4}, {Ed::E, 10, 3}, " 0.000E+00", 0},
        {{-0.004, FOR_TYPE_REAL8}, {Ed::F, 4, 2}, "0.00", 0},
        {{-0.004, FOR_TYPE_REAL8}, {Ed::F, 3, 2}, ".00", 0},
        // G of zero takes E editing unless the unit asks for the F rule.
        {{0.0, FOR_TYPE_REAL8}, {Ed::G, 10, 3}, " 0.000E+00", 0},
        {{0.0f, FOR_TYPE_REAL4}, {Ed::G, 12, 4, 3}, " 0.0000E+000", 0},
        // F0.d leaves the optional zero out.
        {{0.5, FOR_TYPE_REAL8}, {Ed::F, 0, 2}, ".50", 0},
        {{-0.5, FOR_TYPE_REAL8}, {Ed::F, 0, 2}, "-.50", 0},
        {{0.0, FOR_TYPE_REAL8}, {Ed::F, 0, 1}, ".0", 0},
        // Unsigned items never take a sign.
        {{uint8_t{255}, FOR_TYPE_UINT1}, {Ed::I, 4, -1, 0, "SP"}, " 255", 0},
        {{~uint64_t{0}, FOR_TYPE_UINT8}, {Ed::I, 20}, "18446744073709551615", 0},
        {{uint32_t{0}, FOR_TYPE_UINT4}, {Ed::I, 3, 0}, "   ", 0},
        {{uint32_t{42}, FOR_TYPE_UINT4}, {Ed::G, 5, 2}, "   42", 0},
        {{int32_t{0}, FOR_TYPE_INT4}, {Ed::G, 4, 3}, "   0", 0},
    };
    for (const ValCase &c : cases) check(c, nullptr, c.item.type == FOR_TYPE_REAL4 ? 41 + 2 : 311 + 2);
}

TEST(OutputEditing, DecimalModeOfTheUnit) {
    fmtkit::Unit comma;
    comma.lub.lub_decimal = 2;  // DECIMAL='COMMA'
    check({{2.5, FOR_TYPE_REAL8}, {Ed::F, 6, 2}, "  2,50", 0}, &comma.lub);
    check({{2.5, FOR_TYPE_REAL8}, {Ed::F, 6, 2, 0, "DP"}, "  2.50", 0}, &comma.lub);
    check({{2.5, FOR_TYPE_REAL8}, {Ed::E, 10, 2}, "  0,25E+01", 0}, &comma.lub);
    check({{2.5f, FOR_TYPE_REAL4}, {Ed::F, 6, 2, 0, "DC"}, "  2,50", 0});
}

TEST(OutputEditing, AlternativeListStyleOfTheUnit) {
    // G takes F exactly for 1 <= |x| < 10^7 on a unit with that style.
    fmtkit::Unit alt;
    alt.lub.lub_flags = uint64_t{1} << 6;
    const ValCase cases[] = {
        {{12345.0, FOR_TYPE_REAL8}, {Ed::G, 12, 3}, "  12345.    ", 0},
        {{0.5, FOR_TYPE_REAL8}, {Ed::G, 12, 3}, "   0.500E+00", 0},
        {{9999999.0, FOR_TYPE_REAL8}, {Ed::G, 15, 7, 2}, "   9999999.    ", 0},
        {{10000000.0, FOR_TYPE_REAL8}, {Ed::G, 15, 7, 2}, "  0.1000000E+08", 0},
        {{-1.0f, FOR_TYPE_REAL4}, {Ed::G, 15, 7, 2}, "  -1.000000    ", 0},
        {{0.0, FOR_TYPE_REAL8}, {Ed::G, 12, 3}, "   0.000E+00", 0},
    };
    for (const ValCase &c : cases) check(c, &alt.lub);
    // The same items on a plain unit decide on the rounded value.
    check({{12345.0, FOR_TYPE_REAL8}, {Ed::G, 12, 3}, "   0.123E+05", 0});
    check({{0.5, FOR_TYPE_REAL8}, {Ed::G, 12, 3}, "   0.500    ", 0});
}

TEST(OutputEditing, HexadecimalSignificand) {
    check({{1.5, FOR_TYPE_REAL8}, {Ed::EX, 12, 3}, "  0X1.800P+0", 0});
    check({{-0.75, FOR_TYPE_REAL8}, {Ed::EX, 12, 3}, " -0X1.800P-1", 0});
    check({{1.0f, FOR_TYPE_REAL4}, {Ed::EX, 4, 3}, "****", 63});
}

TEST(OutputEditing, InfinityAndNaNAreNoErrors) {
    const double inf = HUGE_VAL, nan = std::nan("");
    check({{inf, FOR_TYPE_REAL8}, {Ed::F, 5, 1}, "  Inf", 0});
    check({{-inf, FOR_TYPE_REAL8}, {Ed::E, 12, 4}, "   -Infinity", 0});
    check({{nan, FOR_TYPE_REAL8}, {Ed::G, 6, 2}, "   NaN", 0});
    check({{nan, FOR_TYPE_REAL8}, {Ed::F, 2, 1}, "**", 63});
}

TEST(OutputEditing, CharacterForms) {
    const ValCase cases[] = {
        {Item::chars("ABCDE", 5), {Ed::A, 3}, "ABC", 0},
        {Item::chars("ABCDE", 5), {Ed::A, 7}, "  ABCDE", 0},
        {Item::chars("ab", 2), {Ed::G, 4, 1}, "  ab", 0},
        {{int32_t{0x44434241}, FOR_TYPE_INT4}, {Ed::A, 4}, "ABCD", 0},  // the item's bytes
    };
    for (const ValCase &c : cases) check(c);
    // AT: the width becomes the length without trailing blanks.
    fmtkit::Unit u;
    Item it = Item::chars("ab c   ", 7);
    For_Fmt_Isb isb = fmtkit::make_isb(Desc(Ed::AT), &u.lub, 7);
    char field[8] = "#######";
    For_Value_Info v{it.mem, it.type, it.length};
    EXPECT_EQ(for__format_value(&v, &isb, field), 0);
    EXPECT_EQ(isb.w, 4);
    EXPECT_EQ(std::string(field, 7), "ab c###");
}

TEST(OutputEditing, Statuses) {
    const ValCase cases[] = {
        {{1.5, FOR_TYPE_REAL8}, {Ed::I, 5}, "     ", 61},
        {{int32_t{1}, FOR_TYPE_INT4}, {Ed::F, 5, 1}, "     ", 61},
        {{int32_t{1}, FOR_TYPE_INT4}, {Ed::E, 9, 2}, "         ", 61},
        {{1.5, FOR_TYPE_REAL8}, {Ed::L, 2}, "  ", 61},
        {Item::chars("ab", 2), {Ed::F, 5, 1}, "     ", 61},
        {Item::chars("ab", 2), {Ed::I, 5}, "     ", 61},
        {{1.5, FOR_TYPE_REAL8_ALT1}, {Ed::F, 5, 1}, "     ", 61},  // another floating format
        {{int32_t{7}, FOR_TYPE_DERIVED_64}, {Ed::Z, 4}, "    ", 61},
        {{int32_t{7}, FOR_TYPE_LOGICAL4}, {Ed::I, 4}, "    ", 61},
        {{int32_t{7}, FOR_TYPE_INT4}, {Ed::Q, 4}, "    ", 0},
        {{int32_t{-100}, FOR_TYPE_INT4}, {Ed::I, 3}, "***", 63},
        {{1e10, FOR_TYPE_REAL8}, {Ed::F, 5, 1}, "*****", 63},
    };
    for (const ValCase &c : cases) check(c);
    // A control edit is no data descriptor.
    fmtkit::Unit u;
    For_Fmt_Isb isb = fmtkit::make_isb(Desc(Ed::I, 4), &u.lub, 0);
    isb.opcode = FOR_FMT_X;
    int32_t x = 1;
    For_Value_Info v{&x, FOR_TYPE_INT4, 0};
    char field[4];
    EXPECT_EQ(for__format_value(&v, &isb, field), msg::invalid_argument);
    // I on a logical item under the statement's logical-as-integer option.
    isb = fmtkit::make_isb(Desc(Ed::I, 4), &u.lub, 0);
    isb.flags |= isbf::compat_logical_i;
    v.type = FOR_TYPE_LOGICAL4;
    x = -1;
    EXPECT_EQ(for__format_value(&v, &isb, field), 0);
    EXPECT_EQ(std::string(field, 4), "  -1");
}

// F0.d through the converter alone, with the width left for it to compute:
// the largest value of each kind keeps every integer digit.
TEST(RealConverter, ComputedWidthHoldsEveryDigit) {
    constexpr uint32_t kF = 2, kZeroWidth = 0x100;
    constexpr uint64_t kComputeWidth = uint64_t{8} << 32;
    static char field[5200];
    uint32_t len = 0;
    const double big = 1e300;
    ASSERT_EQ(cvt_ieee_t_to_text_ex(&big, 0, 0, 2, 0, 0, kF | kZeroWidth | 0x80000000u, field, kComputeWidth | 4, &len),
              0);
    const std::string t(field, len);
    EXPECT_EQ(t.size(), 304u);
    EXPECT_EQ(t.substr(0, 40), "1000000000000000052504760255204420248704");
    EXPECT_EQ(t.substr(301), ".00");
    const float fmax = std::numeric_limits<float>::max();
    ASSERT_EQ(cvt_ieee_s_to_text_ex(&fmax, 0, 0, 0, 0, 0, kF | kZeroWidth, field, kComputeWidth | 4, &len), 0);
    EXPECT_EQ(std::string(field, len), "340282346638528859811704183484516925440.");
    const float neg = -fmax;
    ASSERT_EQ(cvt_ieee_s_to_text_ex(&neg, 0, 3, 1, 0, 0, kF | kZeroWidth, field, kComputeWidth | 4, &len), 0);
    EXPECT_EQ(std::string(field, len), "-340282346638528859811704183484516925440000.0");  // scale factor 3
    const __float128 qmax = strtoflt128("1e4000", nullptr);
    ASSERT_EQ(cvt_ieee_x_to_text_ex(&qmax, 0, 0, 1, 0, 0, kF | kZeroWidth, field, kComputeWidth | 4, &len), 0);
    EXPECT_EQ(len, 4001u + 2u);
    EXPECT_EQ(std::string(field + len - 2, 2), ".0");
    EXPECT_EQ(std::string(field, len).find('*'), std::string::npos);
}

}  // namespace
