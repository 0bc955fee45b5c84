// List-directed READ against gfortran: each case's records are read from a
// file and from an internal file by the library's entries and by a
// gfortran program, and the variables must come out bit for bit the same.
#include "listdir/ldin_kit.h"
#include "support/oracle.h"

namespace {

using ldin::Case;

const std::vector<Case> cases = {
    // Separators and null values.
    {"blanks separate", {"1 2 3"}, {"i4", "i4", "i4"}},
    {"tabs separate", {"1\t2\t\t3"}, {"i4", "i4", "i4"}},
    {"commas with blanks around them", {"1 , 2 ,3"}, {"i4", "i4", "i4"}},
    {"two commas make a null value", {"1,,3"}, {"i4", "i4", "i4"}},
    {"blanks between two commas still make a null", {"1 , , 4"}, {"i4", "i4", "i4"}},
    {"a leading comma is a null value", {",5"}, {"i4", "i4"}},
    {"a comma opening the record after a blank first record is no null", {"", ",5", "6"}, {"i4", "i4"}},
    {"a record end is a blank", {"1", "2", "3"}, {"i4", "i4", "i4"}},
    {"a comma ending a record then one opening the next", {"5,", ",7"}, {"i4", "i4", "i4"}},
    {"a comma ending a record, an empty record, a comma", {"5,", "", ",7"}, {"i4", "i4", "i4"}},
    {"a value ending a record then a comma opening the next", {"5", ",7"}, {"i4", "i4"}},
    {"blank records are skipped", {"  ", "", "  7"}, {"i4"}},
    {"trailing commas leave the last items alone", {"1,2,,"}, {"i4", "i4", "i4", "i4"}},
    // Repeat counts.
    {"r*c repeats a value", {"3*7"}, {"i4", "i4", "i4"}},
    {"r* then a blank is r null values", {"3* 8 9"}, {"i4", "i4", "i4", "i4"}},
    {"r* at the record end is r null values", {"3*", "7 8"}, {"i4", "i4", "i4"}},
    {"r* then a comma", {"2*,5"}, {"i4", "i4", "i4"}},
    // gfortran refuses a repeated value for items of different types or
    // kinds; that case is in the library's own table.
    {"a repeated value spans items and arrays", {"4*5"}, {"i8", "i8x2", "i8"}},
    {"a repeat count longer than the list", {"5*1 2"}, {"i4", "i4"}},
    {"repeated strings", {"2*'ab' 7"}, {"c4", "c4", "i4"}},
    {"a repeat count fills an array and more", {"2*3 4*9"}, {"i4x5", "i4"}},
    {"repeated complex values", {"2*(1,2)"}, {"z8", "z8"}},
    // The slash.
    {"a slash ends the statement", {"1 2 / 3"}, {"i4", "i4", "i4"}},
    {"a slash right after a value", {"7/ 8"}, {"i4", "i4"}},
    {"a slash after a string", {"'a'/"}, {"c3", "i4"}},
    {"a slash after r*", {"2*/ 7 8"}, {"i4", "i4", "i4"}},
    {"a slash in the middle of an array", {"1 2/"}, {"i4x4"}},
    // Where the next READ starts.
    {"after a slash the next READ starts at the next record", {"1 2 / 3", "4 5"}, {"i4", "i4", "i4"}, {{0, 1, 2}, {1}}},
    {"values left on the record are skipped", {"1 2 3 4", "5"}, {"i4", "i4", "i4"}, {{0, 1}, {2}}},
    {"a READ of no items skips a record", {"1", "2"}, {"i4"}, {{}, {0}}},
    {"a READ after end of the items in mid-repeat", {"3*4", "6"}, {"i4", "i4"}, {{0}, {1}}},
    // End of file.
    {"end of file before the list is done", {"1 2"}, {"i4", "i4", "i4"}},
    {"end of file on the second READ", {"1"}, {"i4", "i4"}, {{0}, {1}}},
    // Integers of every kind.
    {"integer limits",
     {"127 -128 32767 -2147483648 9223372036854775807 -9223372036854775808"},
     {"i1", "i1", "i2", "i4", "i8", "i8"}},
    {"signs and zeros", {"+5 -0 007"}, {"i4", "i4", "i4"}},
    {"integer one past the limit", {"128"}, {"i1"}},
    {"integer junk", {"12x"}, {"i4"}},
    // Reals.
    {"real forms", {"1.5e3 -2.5d-1 1e+2 .5 5. -0.0"}, {"r4", "r8", "r16", "r8", "r4", "r8"}},
    {"a whole number into a real", {"125 -3"}, {"r8", "r4"}},
    {"correct rounding in each kind",
     {"0.1 0.1 0.1 0.3333333333333333333333333333333333333"},
     {"r4", "r8", "r16", "r16"}},
    {"an exponent without a letter", {"1.5+3 2-1"}, {"r8", "r8"}},
    {"infinities", {"inf -Infinity +INF"}, {"r8", "r4", "r16"}},
    {"overflow and underflow", {"1e999 1e-999 3.5e38 1e-45"}, {"r8", "r8", "r4", "r4"}},
    {"junk after a number", {"1.5abc"}, {"r4"}},
    {"a lone sign", {"+ 1"}, {"r4", "r4"}},
    {"a lone point", {". 1"}, {"r8", "r8"}},
    // Complex values.
    {"complex", {"(1.5, -2.25) (1,2)"}, {"z8", "z4"}},
    {"complex of kind 16", {"(0.1,-1e-300)"}, {"z16"}},
    {"complex spanning records", {"(1.5,", " 2.5)"}, {"z8"}},
    {"complex with the separator on the next record", {"( 1 ", ", 2 )"}, {"z4"}},
    {"complex with its closing parenthesis on the next record", {"(3,4", ")"}, {"z8"}},
    {"complex followed by a comma", {"(1,2),(3,4)"}, {"z8", "z8"}},
    {"complex array", {"(1,2) (3,4)", "(5,6)"}, {"z4x3"}},
    {"complex missing its second part", {"(1)"}, {"z8"}},
    {"nested parentheses", {"((1,2),3)"}, {"z8"}},
    // DECIMAL='COMMA'.
    {"decimal comma", {"1,5;2,5"}, {"r8", "r8"}, {}, true},
    {"decimal comma with blanks and nulls", {"1,5 ; ; 3"}, {"r8", "r8", "r8"}, {}, true},
    {"decimal comma complex", {"(1,5;-2,5)"}, {"z8"}, {}, true},
    {"decimal comma integers", {"4;5"}, {"i4", "i4"}, {}, true},
    // Logical values.
    {"logical forms", {"t .f. .true. F"}, {"l4", "l4", "l4", "l4"}},
    {"logical words", {"true false .T .False."}, {"l1", "l2", "l8", "l4"}},
    {"a repeated logical", {"3*F"}, {"l4", "l4", "l4x2"}},
    // Character values.
    {"a doubled apostrophe", {"'it''s'"}, {"c10"}},
    {"quotation marks", {"\"q\"\"x\" 'y\"'"}, {"c5", "c5"}},
    {"a string spanning records", {"'abc", "def'"}, {"c10"}},
    {"a string spanning three records", {"'ab", "", "cd' 5"}, {"c10", "i4"}},
    {"a doubled delimiter at the record end", {"'ab''", "''cd'"}, {"c10"}},
    {"separators inside strings", {"'a,b/c d' 'x'"}, {"c10", "c2"}},
    {"truncated and padded", {"'abcdef' 'ab'"}, {"c3", "c5"}},
    {"an empty string", {"'' 'x'"}, {"c3", "c3"}},
    {"undelimited strings", {"abc def,ghi/"}, {"c3", "c2", "c5", "c5"}},
    {"undelimited text that looks like a logical", {".true. x"}, {"c8", "c1"}},
    {"undelimited text that looks like a number", {"123 4.5"}, {"c5", "c5"}},
    {"undelimited text with a repeat count", {"2*abc"}, {"c5", "c5"}},
    {"undelimited text with a star inside", {"abc*2 xyz"}, {"c8", "c8"}},
    {"undelimited text with parentheses and quotes inside", {"(a,b) ab'c"}, {"c8", "c8"}},
    {"character array", {"'a' b", "'c'"}, {"c2x3"}},
    {"a long delimited value", {"'" + std::string(2500, 'x') + "'"}, {"c3000"}},
    {"a long value over two records", {"'" + std::string(1500, 'y'), std::string(1500, 'z') + "'"}, {"c3100"}},
    {"a string glued to what follows", {"'abc'def 5"}, {"c5", "i4"}},
    // Mixed lists.
    {"every type in one list", {"1 2.5 (3,4) T 'five' 6*"}, {"i2", "r8", "z8", "l4", "c6", "i8", "r4"}},
    {"arrays element by element across records", {"1 2", "3", "4 5 6"}, {"i4x4", "r8x2"}},
};

TEST(ListDirectedRead, AgreesWithGfortranOnFilesAndInternalFiles) {
    auto lines = kit::gfortran_lines(ldin::fortran_program(cases));
    if (!lines) GTEST_SKIP() << "gfortran is not installed";
    ASSERT_EQ(lines->size(), 2 * cases.size());
    int unit = 40;
    for (size_t k = 0; k < cases.size(); ++k) {
        const Case &c = cases[k];
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ldin::run_file(c, unit++), (*lines)[2 * k]) << "file";
        EXPECT_EQ(ldin::run_internal(c), (*lines)[2 * k + 1]) << "internal file";
    }
}

}  // namespace
