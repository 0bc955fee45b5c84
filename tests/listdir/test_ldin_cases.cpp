// List-directed READ where the library's own rules decide: values gfortran
// refuses but this library defines (a real value for an integer item, a
// repeated value for items of different kinds), the failure numbers, the
// f90 mode and strict typing, unsigned items. Each case runs on a file and
// on an internal file, which must agree; the line shows the IOSTAT value
// and every variable, so a failure also shows what it left alone.
#include <string>

#include "diag/for_msgnum.h"
#include "listdir/ldin_kit.h"
#include "runtime/for_threadstor.h"

namespace {

using ldin::Case;

struct Row {
    Case c;
    For_IO_Flags flags;
    std::string want;
};

constexpr For_IO_Flags f90 = iof_f90;
constexpr For_IO_Flags f77 = 0;
constexpr For_IO_Flags strict = iof_f90 | iof_strict_ldin | iof_ext;

Case rounded(Case c, const char *mode) {
    c.round = mode;
    return c;
}

const std::vector<Row> rows = {
    // A real value for an integer item is truncated toward zero...
    {{"truncation", {"2.7 -2.7 1e3 2.9"}, {"i4", "i4", "i4", "i8"}}, f90, "0 2 -2 1000 2"},
    {{"truncation at the limits",
      {"-128.9 127.99 -9223372036854775808.9 9223372036854775807.9 -2147483648.5"},
      {"i1", "i1", "i8", "i8", "i4"}},
     f90,
     "0 -128 127 -9223372036854775808 9223372036854775807 -2147483648"},
    {{"decimal comma real for an integer", {"1,75;-0,5"}, {"i4", "i4"}, {}, true}, f90, "0 1 0"},
    // ...and checked: out of range or NaN is a conversion error that
    // leaves the item as it was.
    {{"1e30 into INTEGER(4)", {"1 1e30"}, {"i4", "i4"}}, f90, "64 1 -77"},
    {{"3e9 into INTEGER(4)", {"3e9"}, {"i4"}}, f90, "64 -77"},
    {{"128.5 into INTEGER(1)", {"128.5"}, {"i1"}}, f90, "64 -77"},
    {{"-129.0 into INTEGER(1)", {"-129.0"}, {"i1"}}, f90, "64 -77"},
    {{"2^63 into INTEGER(8)", {"9223372036854775808.0"}, {"i8"}}, f90, "64 -77"},
    {{"-2^63-1 into INTEGER(8)", {"-9223372036854775809e0"}, {"i8"}}, f90, "64 -77"},
    {{"2^31 into INTEGER(4)", {"2147483648.0"}, {"i4"}}, f90, "64 -77"},
    {{"NaN into INTEGER(4)", {"nan"}, {"i4"}}, f90, "64 -77"},
    {{"NaN with a point into INTEGER(2)", {"nan()"}, {"i2"}}, f90, "64 -77"},
    {{"infinity into INTEGER(8)", {"-inf"}, {"i8"}}, f90, "64 -77"},
    {{"an integer out of range", {"2147483648"}, {"i4"}}, f90, "64 -77"},
    // A repeated value serves items of any type that can take it.
    {{"repeat over kinds and types", {"4*5"}, {"i1", "i2", "i8", "r8"}}, f90, "0 5 5 5 4014000000000000"},
    {{"repeated complex of two kinds", {"2*(1,2)"}, {"z8", "z4"}},
     f90,
     "0 3FF0000000000000 4000000000000000 3F800000 40000000"},
    {{"repeated logical of three kinds", {"3*F"}, {"l4", "l1", "l8"}}, f90, "0 F F F"},
    {{"a repeat over two READ groups", {"3*2.5"}, {"r8", "r4x2"}}, f90, "0 4004000000000000 40200000 40200000"},
    // Values of another class.
    {{"complex into a real keeps the real part", {"(1.5,2.5) 7"}, {"r8", "i4"}}, f90, "0 3FF8000000000000 7"},
    {{"logical into integers", {"T .false."}, {"i4", "i2"}}, f90, "0 -1 0"},
    {{"numbers into logicals", {"1 0 2 3.5"}, {"l4", "l4", "l2", "l1"}}, f90, "0 T F F T"},
    {{"a number for a complex item", {"5"}, {"z8"}}, f90, "64 C053400000000000 C053400000000000"},
    {{"a string for an integer", {"'5'"}, {"i4"}}, f90, "64 -77"},
    {{"a logical for a real", {"T"}, {"r4"}}, f90, "64 C29A0000"},
    // Repeat counts that are not counts.
    {{"a zero repeat count", {"0*5"}, {"i4"}}, f90, "495 -77"},
    {{"a negative repeat count", {"-3*5"}, {"i4"}}, f90, "494 -77"},
    {{"a repeat count with a point", {"1.5*2"}, {"i4"}}, f90, "64 -77"},
    {{"a repeat count too large", {"99999999999*2"}, {"i4"}}, f90, "64 -77"},
    // Syntax errors.
    {{"end of file inside a string", {"'abc"}, {"c5"}}, f90, "59 [zzzzz]"},
    {{"junk after a number", {"1 1.5abc"}, {"r4", "r4"}}, f90, "59 3F800000 C29A0000"},
    {{"junk after a string", {"'abc'def"}, {"c5"}}, f90, "59 [zzzzz]"},
    {{"a closing parenthesis alone", {")"}, {"i4"}}, f90, "59 -77"},
    {{"a complex of one part", {"(1)"}, {"z8"}}, f90, "59 C053400000000000 C053400000000000"},
    {{"nested complex", {"((1,2),3)"}, {"z8"}}, f90, "59 C053400000000000 C053400000000000"},
    {{"junk after a complex", {"(1,2)x"}, {"z4"}}, f90, "59 C29A0000 C29A0000"},
    {{"end of file inside a complex", {"(1,"}, {"z4"}}, f90, "-1 C29A0000 C29A0000"},
    // Without the f90 mode character items take delimited values, and the
    // text of a logical value.
    {{"undelimited text is no value", {"abc"}, {"c5"}}, f77, "59 [zzzzz]"},
    {{"a logical's text into CHARACTER", {".true. T"}, {"c8", "c3"}}, f77, "0 [.true.  ] [T  ]"},
    {{"delimited text", {"'a b'"}, {"c5"}}, f77, "0 [a b  ]"},
    {{"a number for CHARACTER", {"12"}, {"c5"}}, f77, "59 [zzzzz]"},
    // Strict typing keeps logical and other values apart.
    {{"strict: a logical for an integer", {"T"}, {"i4"}}, strict, "64 -77"},
    {{"strict: a number for a logical", {"1"}, {"l4"}}, strict, "64 T"},
    {{"strict: logical for logical", {"F 3"}, {"l4", "i4"}}, strict, "0 F 3"},
    // Unsigned items.
    {{"unsigned limits", {"255 65535 4294967295 18446744073709551615 +7"}, {"u1", "u2", "u4", "u8", "u1"}},
     f90,
     "0 255 65535 4294967295 18446744073709551615 7"},
    {{"unsigned from reals", {"3.9 -0.5 1.8e19"}, {"u2", "u4", "u8"}}, f90, "0 3 0 18000000000000000000"},
    {{"a negative unsigned", {"-1"}, {"u4"}}, f90, "64 77"},
    {{"unsigned out of range", {"256"}, {"u1"}}, f90, "64 77"},
    {{"unsigned real out of range", {"1.9e19"}, {"u8"}}, f90, "64 77"},
    // ROUND= applies to the conversion of list-directed values.
    {rounded({"round down", {"0.1 -0.1"}, {"r4", "r4"}}, "DOWN"), f90, "0 3DCCCCCC BDCCCCCD"},
    {rounded({"round up", {"0.1 -0.1"}, {"r4", "r4"}}, "UP"), f90, "0 3DCCCCCD BDCCCCCC"},
    {rounded({"round to zero", {"0.1"}, {"r4"}}, "ZERO"), f90, "0 3DCCCCCC"},
};

TEST(ListDirectedReadRules, CaseTableOnFilesAndInternalFiles) {
    ldin::show_always = true;
    int unit = 150;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.c.what);
        EXPECT_EQ(ldin::run_file(r.c, unit++, r.flags), r.want) << "file";
        EXPECT_EQ(ldin::run_internal(r.c, r.flags), r.want) << "internal file";
    }
    ldin::show_always = false;
}

// A statement whose items come in several groups (the entry, then transfer
// calls) reads as one list: a repeat count and a record end carry over.
TEST(ListDirectedReadRules, ItemGroupsAreOneList) {
    std::string file = "2*4 5   6       ";
    int32_t a = 0, b = 0, c = 0, d = 0;
    kit::Stmt st;
    st.flags.iostat().f90();
    st.items.chars(file.data(), 8).item(a).end_group().item(b).end_group().item(c).item(d).end();
    // Two records of 8: "2*4 5   " and "6       ".
    st.items = kit::List();
    st.items.char_array(file.data(), 2, 8).item(a).end_group().item(b).end_group().item(c).item(d).end();
    EXPECT_EQ(st.run(for_read_int_lis, for_read_int_lis_xmit), 0);
    EXPECT_EQ(a, 4);
    EXPECT_EQ(b, 4);
    EXPECT_EQ(c, 5);
    EXPECT_EQ(d, 6);
}

TEST(ListDirectedReadRules, ACharacterScalarIsOneRecord) {
    std::string file = "7 8";
    int32_t a = 0, b = 0, c = -77;
    kit::Stmt st;
    st.flags.iostat();
    st.items.chars(file).item(a).item(b).item(c).end();
    EXPECT_EQ(st.run(for_read_int_lis), -1) << "one record only, then end of file";
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 8);
    EXPECT_EQ(c, -77);
}

TEST(ListDirectedReadRules, AnEmptyInternalFileIsAtItsEnd) {
    char none[1] = {'x'};
    int32_t a = -77;
    kit::Stmt st;
    st.flags.iostat();
    st.items.chars(none, 0).item(a).end();
    EXPECT_EQ(st.run(for_read_int_lis), -1);
    EXPECT_EQ(a, -77);
}

TEST(ListDirectedReadRules, MessagesNameTheInternalFile) {
    std::string file = "x";
    std::string msg(80, '#');
    int32_t a = -77;
    kit::Stmt st;
    st.flags.iostat();
    st.control.iomsg(msg);
    st.items.chars(file).item(a).end();
    EXPECT_EQ(st.run(for_read_int_lis), msg::list_syntax);
    EXPECT_NE(msg.find("list-directed I/O syntax error"), std::string::npos) << msg;
    EXPECT_NE(msg.find("Internal List-Directed Read"), std::string::npos) << msg;
    EXPECT_EQ(a, -77);
}

TEST(ListDirectedReadRules, ItemsOfNoListTypeAreAConversionError) {
    std::string file = "1";
    int64_t cell = 0;
    kit::Stmt st;
    st.flags.iostat();
    st.items.chars(file).raw(FOR_TYPE_DERIVED_64, FOR_FORM_ADDR, {reinterpret_cast<uintptr_t>(&cell)}).end();
    EXPECT_EQ(st.run(for_read_int_lis), msg::input_conversion);
}

TEST(ListDirectedReadRules, AnInternalFileMustBeCharacter) {
    int32_t not_text = 0, a = -77;
    kit::Stmt st;
    st.flags.iostat();
    st.items.item(not_text).item(a).end();
    EXPECT_EQ(st.run(for_read_int_lis), msg::invalid_argument);
}

// A section of records that do not follow one another is refused rather
// than read from the gaps between them.
TEST(ListDirectedReadRules, AnInternalFileSectionMustBeContiguous) {
    std::string buf = "1   x   2   y   ";
    int32_t a = -77;
    kit::Stmt st;
    st.flags.iostat();
    st.items.section({FOR_TYPE_CHARACTER, buf.data(), 4, {{1, 2, 8}}}).item(a).end();
    EXPECT_EQ(st.run(for_read_int_lis), msg::invalid_argument);
    kit::Stmt ok;
    ok.flags.iostat();
    ok.items.section({FOR_TYPE_CHARACTER, buf.data(), 4, {{1, 2, 4}}}).item(a).end();
    EXPECT_EQ(ok.run(for_read_int_lis), 0);
    EXPECT_EQ(a, 1);
}

}  // namespace

namespace {

// Random text made of the characters that matter to the scanner: whatever
// it is, a READ ends with a value, end of file or one of the list-directed
// failures, and an internal file of the same records reads the same.
TEST(ListDirectedReadRules, RandomTextReadsAlikeEverywhereAndFailsOnlyAsDefined) {
    const std::string alphabet = "0123456789 ,;/*()'\".+-eEdDtTfFnNaIx\t";
    uint64_t seed = 0x2545F4914F6CDD1Dull;
    auto next = [&](uint64_t n) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed % n;
    };
    const std::vector<std::string> kinds = {"i4", "r8", "z8", "l4", "c5", "i1", "u2", "r4x2", "c2x2", "z16"};
    ldin::show_always = true;
    for (int iter = 0; iter < 1500; ++iter) {
        const size_t len = 1 + next(12);
        std::vector<std::string> recs(1 + next(3));
        for (std::string &r : recs)
            for (size_t i = 0; i < len; ++i) r += alphabet[next(alphabet.size())];
        std::vector<std::string> vars(1 + next(4));
        for (std::string &v : vars) v = kinds[next(kinds.size())];
        Case c("random", recs, vars, {}, next(4) == 0);
        const For_IO_Flags flags = next(2) ? iof_f90 : 0;
        int ios_file = 0, ios_int = 0;
        const std::string f = ldin::run_file(c, 99, flags, &ios_file);
        const std::string i = ldin::run_internal(c, flags, &ios_int);
        std::string text;
        for (const std::string &r : recs) text += "[" + r + "]";
        SCOPED_TRACE(text);
        EXPECT_EQ(f, i);
        EXPECT_TRUE(ios_file == 0 || ios_file == -1 || ios_file == 59 || ios_file == 64 || ios_file == 494 ||
                    ios_file == 495)
            << ios_file;
    }
    ldin::show_always = false;
}

}  // namespace
