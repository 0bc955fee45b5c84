// The run-time format compiler: format texts against the exact record bytes
// they must compile to, and the texts it must refuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/for_msgnum.h"
#include "fmt_bytes.h"
#include "format/for_fmt_comp.h"
#include "format/for_fmt_decode.h"
#include "format/for_fmt_isb.h"
#include "runtime/for_vm.h"

namespace {

using fmtb::Bytes;
using fmtb::dt;
using fmtb::fmt;
using fmtb::lit;
using fmtb::rec;

constexpr uint64_t unlimited = 9223372036854775807ull;

struct Compiled {
    int status;
    Bytes bytes;
};

Compiled compile(const std::string &text, uint32_t limit = UINT32_MAX) {
    unsigned char *out = nullptr;
    uint32_t size = 0;
    int st = for__format_compile_text(text, false, limit, &out, &size);
    Compiled c{st, {}};
    if (st == 0) {
        c.bytes.assign(out, out + size);
        for__free_vm(out);
    }
    return c;
}

struct Case {
    const char *why;
    std::string text;
    Bytes expect;
};

// Records of the descriptors, by name, to keep the table readable.
Bytes I(uint64_t r, int64_t w, uint32_t m = 1) { return rec(FOR_FMT_IM, r, w, m); }
Bytes X(uint64_t n) { return rec(FOR_FMT_X, n); }
Bytes group(uint64_t r) { return rec(FOR_FMT_GROUP_BEGIN, r); }
Bytes end_group() { return rec(FOR_FMT_GROUP_END); }

TEST(FormatCompiler, RecordBytes) {
    const std::string long70000(70000, 'x');
    const std::string exact65535(65535, 'y');
    const std::vector<Case> cases = {
        {"Iw gets the default m = 1 in field 3", "(I5)", Bytes{1,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                                               37, 0, 0, 1, 1, 0, 0, 0, 5, 0, 0, 0,  //
                                                               2,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"an explicit m of 1 is the default", "(I5.1)", fmt({I(1, 5)})},
        {"m = 0 is kept, not defaulted", "(I5.0)", fmt({I(1, 5, 0)})},
        {"repeat count in field 1", "(10I12)", fmt({I(10, 12)})},
        {"repeat count beyond 32 bits takes the long form", "(4294967296A)", fmt({rec(FOR_FMT_A_NW, 4294967296ull)})},
        {"largest repeat count", "(9223372036854775807I5)", fmt({I(unlimited, 5)})},
        {"group with repeat count, X, F, then A", "(3(2X,F10.3),A)",
         fmt({group(3), X(2), rec(FOR_FMT_F, 1, 10, 3), end_group(), rec(FOR_FMT_A_NW, 1)})},
        {"nested groups keep their own counts", "(2(3(I1),4(I2)))",
         fmt({group(2), group(3), I(1, 1), end_group(), group(4), I(1, 2), end_group(), end_group()})},
        {"a group written with 0 repeats once", "(0(I1))", fmt({group(1), I(1, 1), end_group()})},
        {"unlimited group: INT64_MAX, long form", "(*(I5))", fmt({group(unlimited), I(1, 5), end_group()})},
        {"unlimited group after items", "(A,*(I5,:,','))",
         fmt({rec(FOR_FMT_A_NW, 1), group(unlimited), I(1, 5), rec(FOR_FMT_COLON), lit(","), end_group()})},
        {"an unlimited group inside a group, items after it there", "(2(*(I5),I3))",
         fmt({group(2), group(unlimited), I(1, 5), end_group(), I(1, 3), end_group()})},
        {"empty nested group", "(())", fmt({group(1), end_group()})},
        {"empty format", "()", fmt({})},
        {"eight levels", "(((((((())))))))",
         fmt({group(1), group(1), group(1), group(1), group(1), group(1), group(1), end_group(), end_group(),
              end_group(), end_group(), end_group(), end_group(), end_group()})},
        {"thirty-two levels, the documented limit", std::string(32, '(') + "I2" + std::string(32, ')'),
         [] {
             std::vector<Bytes> v(31, group(1));
             v.push_back(I(1, 2));
             v.insert(v.end(), 31, end_group());
             return fmt(v);
         }()},
        // Each descriptor without and with a width.
        {"A, Aw", "(A,3A7)", fmt({rec(FOR_FMT_A_NW, 1), rec(FOR_FMT_A, 3, 7)})},
        {"AT", "(AT,2AT)", fmt({rec(FOR_FMT_AT, 1), rec(FOR_FMT_AT, 2)})},
        {"D, Dw.d", "(D,D25.16)", fmt({rec(FOR_FMT_D_NW, 1), rec(FOR_FMT_D, 1, 25, 16)})},
        {"E, Ew.d, Ew.dEe", "(E,E12.4,E12.4E3)",
         fmt({rec(FOR_FMT_E_NW, 1), rec(FOR_FMT_E, 1, 12, 4), rec(FOR_FMT_EE, 1, 12, 4, 3)})},
        {"EN, ENw.d, ENw.dEe", "(EN,EN12.3,EN12.3E2)",
         fmt({rec(FOR_FMT_EN_NW, 1), rec(FOR_FMT_EN, 1, 12, 3), rec(FOR_FMT_ENE, 1, 12, 3, 2)})},
        {"ES, ESw.d, ESw.dEe", "(ES,5ES24.16,ES24.16E4)",
         fmt({rec(FOR_FMT_ES_NW, 1), rec(FOR_FMT_ES, 5, 24, 16), rec(FOR_FMT_ESE, 1, 24, 16, 4)})},
        {"EXw.d, EXw.dEe", "(EX20.6,EX20.6E3)", fmt({rec(FOR_FMT_EX, 1, 20, 6), rec(FOR_FMT_EX, 1, 20, 6, 3)})},
        {"F, Fw.d, F0.d", "(F,F10.3,F0.2)",
         fmt({rec(FOR_FMT_F_NW, 1), rec(FOR_FMT_F, 1, 10, 3), rec(FOR_FMT_F, 1, 0, 2)})},
        {"G, Gw.d, Gw.dEe", "(G,G10.2,G10.2E2)",
         fmt({rec(FOR_FMT_G_NW, 1), rec(FOR_FMT_G, 1, 10, 2), rec(FOR_FMT_GE, 1, 10, 2, 2)})},
        {"G0 and G0.d are stored as GE", "(G0,G0.5)", fmt({rec(FOR_FMT_GE, 1, 0), rec(FOR_FMT_GE, 1, 0, 5)})},
        {"I without width keeps m = 1 in the header", "(I)", fmt({rec(FOR_FMT_I_NW, 1, 0, 1)})},
        {"Iw.m", "(I8.3)", fmt({I(1, 8, 3)})},
        {"L, Lw", "(L,L5)", fmt({rec(FOR_FMT_L_NW, 1), rec(FOR_FMT_L, 1, 5)})},
        {"O, Ow, Ow.m", "(O,O4,O4.2)",
         fmt({rec(FOR_FMT_O_NW, 1, 0, 1), rec(FOR_FMT_OM, 1, 4, 1), rec(FOR_FMT_OM, 1, 4, 2)})},
        {"Z, Zw, Zw.m", "(Z,Z2,Z8.8)",
         fmt({rec(FOR_FMT_Z_NW, 1, 0, 1), rec(FOR_FMT_ZM, 1, 2, 1), rec(FOR_FMT_ZM, 1, 8, 8)})},
        {"B, Bw, Bw.m", "(B,B8,B8.4)",
         fmt({rec(FOR_FMT_B_NW, 1, 0, 1), rec(FOR_FMT_BM, 1, 8, 1), rec(FOR_FMT_BM, 1, 8, 4)})},
        {"DT: repeat 1, no type, no v-list", "(DT)", fmt({dt(1, "", "")})},
        {"DT with type name and v-list", "(2DT'mytype'(1,-2))", fmt({dt(2, "mytype", "1,-2")})},
        {"DT: blanks, quotation marks, empty v-list", "(DT \"t\" ( ) , I2)", fmt({dt(1, "t", ""), I(1, 2)})},
        {"DT: the v-list text from its first non-blank", "(DT( 10 , +3 ))", fmt({dt(1, "", "10 , +3 ")})},
        {"DT: the smallest default integer in a v-list", "(DT(-2147483648))", fmt({dt(1, "", "-2147483648")})},
        // The m-form rule concerns I, B, O and Z only.
        {"Aw after Iw stays two fields", "(I5,A5)", fmt({I(1, 5), rec(FOR_FMT_A, 1, 5)})},
        {"Lw after Iw stays two fields", "(I5,L5)", fmt({I(1, 5), rec(FOR_FMT_L, 1, 5)})},
        {"G0 after F10.1 is not taken as G0.1", "(F10.1,G0)", fmt({rec(FOR_FMT_F, 1, 10, 1), rec(FOR_FMT_GE, 1, 0)})},
        {"a width after Ew.dEe starts clean", "(E9.2E1,F5.1)",
         fmt({rec(FOR_FMT_EE, 1, 9, 2, 1), rec(FOR_FMT_F, 1, 5, 1)})},
        // Scale factors.
        {"kP directly before a descriptor", "(1PE12.4E3)", fmt({rec(FOR_FMT_P, 0, 1), rec(FOR_FMT_EE, 1, 12, 4, 3)})},
        {"negative scale factor takes the long form", "(-2P,F8.2)",
         fmt({rec(FOR_FMT_P, 0, -2), rec(FOR_FMT_F, 1, 8, 2)})},
        {"P alone is 0P; +k is k", "(P,+3P)", fmt({rec(FOR_FMT_P, 0, 0), rec(FOR_FMT_P, 0, 3)})},
        {"the scale factor range ends at 127 and -128", "(127P,-128P)",
         fmt({rec(FOR_FMT_P, 0, 127), rec(FOR_FMT_P, 0, -128)})},
        // Positioning.
        {"nX directly before a descriptor", "(2XI3)", fmt({X(2), I(1, 3)})},
        {"X alone is 1X", "(X)", fmt({X(1)})},
        {"T, TL, TR put n in field 2", "(T10,TL3,TR2)",
         fmt({rec(FOR_FMT_T, 0, 10), rec(FOR_FMT_TL, 0, 3), rec(FOR_FMT_TR, 0, 2)})},
        {"TL0 and TR0 stay", "(TL0,TR0)", fmt({rec(FOR_FMT_TL, 0, 0), rec(FOR_FMT_TR, 0, 0)})},
        // Literals.
        {"quoted literal, padded", "('abcde')", fmt({lit("abcde")})},
        {"doubled apostrophes make two literals", "('it''s')", fmt({lit("it'"), lit("s")})},
        {"doubled quotation marks", "(\"say \"\"hi\"\"\")", fmt({lit("say \""), lit("hi\"")})},
        {"a lone doubled quote is one quote character", "('''')", fmt({lit("'")})},
        {"empty literal: no record", "('')", fmt({})},
        {"nH takes n characters, blanks and commas included", "(3Ha,b,I2)", fmt({lit("a,b"), I(1, 2)})},
        {"H alone is 1H", "(H*)", fmt({lit("*")})},
        {"0H is an empty literal record", "(0H)", fmt({lit("")})},
        {"a literal directly after a descriptor finishes it", "(I3'x')", fmt({I(1, 3), lit("x")})},
        {"a 65535-character literal is one record", "('" + exact65535 + "')", fmt({lit(exact65535)})},
        {"a longer literal continues in the next record", "('" + long70000 + "')",
         fmt({lit(long70000.substr(0, 65535)), lit(long70000.substr(65535))})},
        {"a long nH literal splits the same way", "(70000H" + long70000 + ")",
         fmt({lit(long70000.substr(0, 65535)), lit(long70000.substr(65535))})},
        // Control items.
        {"blank, sign, round and decimal modes", "(BN,BZ,SP,SS,S,RU,RD,RZ,RN,RC,RP,DC,DP,Q)",
         fmt({rec(5), rec(6), rec(7), rec(8), rec(9), rec(108), rec(109), rec(110), rec(111), rec(112), rec(113),
              rec(114), rec(115), rec(15)})},
        {"slash, r/, colon, dollar, backslash", "(I1/3/I2:$\\)",
         fmt({I(1, 1), rec(FOR_FMT_SLASH), rec(FOR_FMT_SLASH, 3), I(1, 2), rec(FOR_FMT_COLON), rec(FOR_FMT_DOLLAR),
              rec(FOR_FMT_DOLLAR)})},
        // Text handling.
        {"blanks and tabs are ignored between and inside items", " \t( I 1 0 , 2 X )", fmt({I(1, 10), X(2)})},
        {"lower case is upper case", "(i5,e12.4e2,tl2,dt'Ab')",
         fmt({I(1, 5), rec(FOR_FMT_EE, 1, 12, 4, 2), rec(FOR_FMT_TL, 0, 2), dt(1, "Ab", "")})},
        {"text after the final parenthesis is not examined", "(I5) trailing #garbage", fmt({I(1, 5)})},
        {"d, m and e of 255, the most a header holds, are kept", "(F300.255,I300.255,E9.2E255)",
         fmt({rec(FOR_FMT_F, 1, 300, 255), I(1, 300, 255), rec(FOR_FMT_EE, 1, 9, 2, 255)})},
    };
    for (const Case &c : cases) {
        Compiled got = compile(c.text);
        EXPECT_EQ(got.status, 0) << c.why << ": " << c.text.substr(0, 60);
        EXPECT_EQ(got.bytes, c.expect) << c.why << ": " << c.text.substr(0, 60);
    }
}

struct Bad {
    const char *why;
    std::string text;
    int status;
};

TEST(FormatCompiler, Refused) {
    const std::vector<Bad> cases = {
        {"no opening parenthesis", "I5)", 62},
        {"empty text", "", 62},
        {"blanks only", "   ", 62},
        {"text ends before the final parenthesis", "(I5", 62},
        {"text ends inside a group", "(2(I5)", 62},
        {"G with a width needs d", "(G10)", 62},
        {"F needs d", "(F10)", 62},
        {"E needs d", "(E10)", 62},
        {"A takes no d", "(A5.2)", 62},
        {"L takes no d", "(L5.2)", 62},
        {"EX needs w.d", "(EX10)", 62},
        {"EX needs a width", "(EX)", 62},
        {"AT takes no width", "(AT5)", 62},
        {"T needs a position", "(T)", 62},
        {"TL needs a count", "(TL)", 62},
        {"T0 addresses no column", "(T0)", 62},
        {"T0 among other items", "(I2,T0,I3)", 62},
        {"F has no exponent", "(F10.3E2)", 62},
        {"D has no exponent", "(D10.3E2)", 62},
        {"E exponent needs w.d", "(E10E2)", 62},
        {"a descriptor directly followed by X", "(I5X)", 62},
        {"repeat count 0", "(0I5)", 62},
        {"0X", "(0X)", 62},
        {"point without d", "(F10.)", 62},
        {"point without w", "(F.3)", 62},
        {"two points", "(F10.3.2)", 62},
        {"sign before a descriptor", "(+I5)", 62},
        {"sign before X", "(-5X)", 62},
        {"sign without a number before P", "(-P)", 62},
        {"sign left at the group end", "(I5,-)", 62},
        {"minus before a group", "(-2(I5))", 62},
        {"a number with no descriptor", "(5)", 62},
        {"a number before a literal", "(5'x')", 62},
        {"a number before a colon", "(5:)", 62},
        {"a number before a comma", "(5,I2)", 62},
        {"a number before BN", "(2BN)", 62},
        {"two descriptors run together", "(I5A5)", 62},
        {"unknown letter", "(I5,C)", 62},
        {"unknown round mode", "(RX)", 62},
        {"unknown character", "(I5,#)", 62},
        {"a byte outside the character set", "(I5,\x80)", 62},
        {"a character above z", "(I5{)", 62},
        {"unterminated literal", "('abc)", 62},
        {"nH past the end", "(5Habc)", 62},
        {"H after a descriptor", "(I5H)", 62},
        {"thirty-three levels: the nesting limit, said so", std::string(33, '(') + std::string(33, ')'), 643},
        {"d above 255: no field holds it", "(F300.290)", 62},
        {"m above 255", "(I300.290)", 62},
        {"d above 255 on input editing", "(F10.300)", 62},
        {"e above 255", "(E9.2E256)", 62},
        {"d above 255 on EX", "(EX9.256)", 62},
        {"empty unlimited group", "(*())", 181},
        {"empty unlimited group after items", "(I2,*())", 181},
        {"unlimited group with only a nested empty group", "(*(()))", 181},
        {"an item after the unlimited group", "(*(I5),I3)", 62},
        {"an item after the unlimited group, no comma", "(*(I5)I3)", 62},
        {"a second unlimited group", "(*(I5)*(I3))", 62},
        {"an item after the group holding the unlimited group", "(2(*(I5)),I3)", 62},
        {"star not before a parenthesis", "(*I5)", 62},
        {"DT type name unterminated", "(DT'abc)", 62},
        {"DT type name with a NUL", std::string("(DT'a\0b')", 9), 62},
        {"DT v-list ends after a comma", "(DT(1,))", 62},
        {"DT v-list with a letter", "(DT(1x))", 62},
        {"DT followed by a width", "(DT'a'5)", 62},
        {"DT v-list value beyond a default integer", "(DT(2147483648))", 62},
        {"DT v-list unterminated", "(DT(1,2", 62},
        // Numbers that do not fit their fields.
        {"repeat count beyond 64 bits", "(9223372036854775808I5)", 62},
        {"width beyond 64 bits", "(I99999999999999999999)", 62},
        {"d beyond its 32-bit field", "(F10.4294967296)", 62},
        {"scale factor 128", "(128P)", 62},
        {"scale factor -129", "(-129PF5.1)", 62},
        {"scale factor that would wrap to 0", "(256P)", 62},
    };
    for (const Bad &c : cases) {
        Compiled got = compile(c.text);
        EXPECT_EQ(got.status, c.status) << c.why << ": " << c.text;
    }
}

// Every record of an accepted format starts below the size limit, so the
// 32-bit offsets of the interpretation state reach them all.
TEST(FormatCompiler, SizeLimit) {
    const std::string text = "('" + std::string(100, 'z') + "')";  // 12 + 104 + 12 bytes
    EXPECT_EQ(compile(text, 128).status, 0);
    EXPECT_EQ(compile(text, 127).status, msg::no_memory);
    EXPECT_EQ(compile("(I5)", 35).status, msg::no_memory);
}

TEST(FormatCompiler, CharacterDescriptorEntry) {
    const char text[] = "(I5)xx";
    For_Char_Format f{4, text};
    unsigned char *out = nullptr;
    ASSERT_EQ(for__format_compiler(&f, &out, 0), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Bytes(out, out + 36), fmt({I(1, 5)}));
    for__free_vm(out);

    // The length bounds the text: "(I5" of "(I5)" ends early.
    For_Char_Format cut{3, text};
    unsigned char *none = nullptr;
    EXPECT_EQ(for__format_compiler(&cut, &none, 0), msg::format_syntax);
    EXPECT_EQ(none, nullptr);
    For_Char_Format negative{-1, text};
    EXPECT_EQ(for__format_compiler(&negative, &none, 0), msg::format_syntax);
    EXPECT_EQ(none, nullptr);
}

TEST(FormatCompiler, OwnedFormatIsFreedOnce) {
    const char text[] = "(A)";
    For_Char_Format f{3, text};
    unsigned char *out = nullptr;
    ASSERT_EQ(for__format_compiler(&f, &out, 0), 0);
    For_Fmt_Isb isb{};
    isb.format_start = out;
    isb.current = out + 12;
    isb.flags = isbf::format_owned | isbf::sign_sp;
    for__format_free(&isb);
    EXPECT_EQ(isb.format_start, nullptr);
    EXPECT_EQ(isb.current, nullptr);
    EXPECT_EQ(isb.flags, isbf::sign_sp);
    for__format_free(&isb);  // no longer owned: nothing to release twice

    // A format from compiled code stays where it is.
    static const unsigned char constant[24] = {1, 0, 0, 0};
    For_Fmt_Isb borrowed{};
    borrowed.format_start = constant;
    borrowed.current = constant + 12;
    for__format_free(&borrowed);
    EXPECT_EQ(borrowed.format_start, constant);
    EXPECT_EQ(borrowed.current, constant + 12);
}

// What the compiler writes, the reader reads back: every accepted format
// decodes record by record to its closing record, which ends the bytes.
TEST(FormatCompiler, DecodesToItsEnd) {
    const char *texts[] = {"(3(2X,F10.3),A)", "(*(I5))", "(-2P,F8.2)", "(2DT'x'(1,2),'it''s')",
                           "(I5,A5,G0,EX20.6E3,T5,9223372036854775807X)"};
    for (const char *t : texts) {
        Compiled c = compile(t);
        ASSERT_EQ(c.status, 0) << t;
        std::size_t at = 0;
        int depth = 0;
        For_Fmt_Rec r;
        for (;;) {
            ASSERT_EQ(for__fmt_decode(c.bytes.data() + at, c.bytes.size() - at, &r), 0) << t;
            at += r.size;
            if (r.op == FOR_FMT_GROUP_BEGIN) ++depth;
            if (r.op == FOR_FMT_GROUP_END) --depth;
            if (r.op == FOR_FMT_FORMAT_END) break;
        }
        EXPECT_EQ(at, c.bytes.size()) << t;
        EXPECT_EQ(depth, 0) << t;
    }
}

}  // namespace
