// The generated message table, its lookup, printf signatures and the gencat
// catalog built from the same data.
#include "diag/for_msgtab.h"

#include <gtest/gtest.h>

#include <nl_types.h>

#include <cstring>
#include <string>
#include <string_view>

namespace {

const For_Msg_Row *linear_find(long number) {
    for (const For_Msg_Row &row : for_msgtab_norvo)
        if (static_cast<long>(row.number) == number) return &row;
    return nullptr;
}

TEST(MsgTab, HasAllRowsInStrictlyAscendingOrder) {
    EXPECT_EQ(std::size(for_msgtab_norvo), 572u);
    EXPECT_EQ(for_msgtab_norvo[0].number, 0u);
    EXPECT_EQ(for_msgtab_norvo[for_msgtab_count - 1].number, 788u);
    for (std::size_t i = 1; i < for_msgtab_count; ++i)
        EXPECT_LT(for_msgtab_norvo[i - 1].number, for_msgtab_norvo[i].number) << "row " << i;
}

TEST(MsgTab, EveryRowIsComplete) {
    for (const For_Msg_Row &row : for_msgtab_norvo) {
        EXPECT_LE(row.severity, 4u) << row.number;
        ASSERT_NE(row.text, nullptr) << row.number;
        ASSERT_NE(row.signature, nullptr) << row.number;
        EXPECT_GT(std::strlen(row.text), 0u) << row.number;
    }
}

// Rows whose texts carry escapes, odd spacing or trailing blanks, written out
// by hand so that a quoting fault in the generator shows up here.
TEST(MsgTab, OddTextsSurviveGeneration) {
    struct Case {
        int number;
        unsigned severity;
        const char *text;
    };
    const Case cases[] = {
        {0, 0, "operation completed successfully"},
        {6, 1, "@(#)Norvo Fortran RTL Message Catalog\tV20.0-001 Jan 10 2019"},
        {8, 4, "internal consistency check failure, file %s, line %d"},
        {29, 4, "file not found, unit %d, file %s"},
        {103, 4, "incorrect %s specifier for connected file, unit %d, file %s"},
        {193, 4, "Run-Time Check Failure. The variable '%s' is being used without being defined"},
        {272, 4, "a UDIO child routine may not set IOSTAT to a negative value other than -1 or -2, unit %d, file%s"},
        {335, 2, "Image %d: the DIM argument '%ld' to THIS_IMAGE is out-of-range."},
        {400, 0, "%s"},
        {408, 4, "%s"},
        {450, 1, "forrtl: "},
        {454, 1, "forrtl: severe (%i): "},
        {503, 4, "Insufficient memory to allocate Fortran RTL message buffer, message #%d = hex %8.8x."},
        {505, 1, "Norvo(r) Tessary Fortran run-time error "},
        {506, 1, " The allocation of dynamic common %s of size %s in procedure %s failed"},
        {512, 1, "Norvo(r) Tessary Fortran run-time error "},
        {522, 1, "Return code "},
        {524, 1, "UNIT %d? "},
        {779, 1, "In coarray image %d\n"},
        {788, 1, "In coarray image %d (original image %d, team %d)\n"},
    };
    for (const Case &c : cases) {
        const For_Msg_Row *row = for__msg_row(c.number);
        ASSERT_NE(row, nullptr) << c.number;
        EXPECT_EQ(row->number, static_cast<uint32_t>(c.number));
        EXPECT_EQ(row->severity, c.severity) << c.number;
        EXPECT_STREQ(row->text, c.text) << c.number;
    }
}

TEST(MsgTab, LookupFindsPresentAndRejectsAbsentNumbers) {
    struct Case {
        int number;
        bool present;
    };
    const Case cases[] = {
        {0, true},
        {1, true},
        {6, true},
        {7, false},
        {8, true},
        {12, false},
        {13, false},
        {15, false},
        {16, false},
        {500, true},
        {787, true},
        {788, true},
        {789, false},
        {-1, false},
        {-788, false},
        {65536, false},
        {65536 + 29, false},
        {2147483647, false},
        {-2147483647 - 1, false},
    };
    for (const Case &c : cases) {
        const For_Msg_Row *row = for__msg_row(c.number);
        if (c.present) {
            ASSERT_NE(row, nullptr) << c.number;
            EXPECT_EQ(row->number, static_cast<uint32_t>(c.number));
        } else {
            EXPECT_EQ(row, nullptr) << c.number;
        }
    }
}

// The binary search must agree with a plain scan on every number around the
// table, gaps included.
TEST(MsgTab, LookupAgreesWithLinearScan) {
    for (int number = -3; number <= 800; ++number) EXPECT_EQ(for__msg_row(number), linear_find(number)) << number;
}

TEST(PrintfSignature, TrickyFormats) {
    struct Case {
        std::string_view fmt;
        const char *sig;
    };
    const Case cases[] = {
        {"", ""},
        {"no conversions at all", ""},
        {"100%% sure", ""},
        {"%%d", ""},
        {"%%%d%%", "d"},
        {"%d", "d"},
        {"unit %d, file %s", "d,s"},
        {"file%s", "s"},
        {"%s%d", "s,d"},
        {"%i", "i"},
        {"%8.8x", "x"},
        {"%.*s", "*s"},
        {"%*.*f", "**f"},
        {"%-*d", "*d"},
        {"%*d", "*d"},
        {"%.0f %.d", "f,d"},
        {"%ld %lx", "ld,lx"},
        {"0x%lx (%ld)", "lx,ld"},
        {"%hhu %hd %llu %zu %Zd %jd %td %Lf %qd", "hhu,hd,llu,zu,Zd,jd,td,Lf,qd"},
        {"%+08.3e %-10s % d %#o %#X", "e,s,d,o,X"},
        {"%'d %Id", "d,d"},
        {"%c%p%a%G%E%F%u", "c,p,a,G,E,F,u"},
        {"%ls %lc %S %C", "ls,lc,S,C"},
        {"%m", ""},
        {"%s: %m (%d)", "s,d"},
        {"%n", "!"},
        {"%d %hn %s", "d,!"},
        {"%1$d", "!"},
        {"%d %2$s %d", "d,!"},
        {"%*1$d", "!"},
        {"%.*2$d", "!"},
        {"trailing %", "!"},
        {"%l", "!"},
        {"%-", "!"},
        {"%y %d", "!"},
        {"%5%", "!"},
        {"%*m", "!"},
        {"%lm", "!"},
        {std::string_view("%d\0%s", 5), "d"},
    };
    for (const Case &c : cases) EXPECT_EQ(for__printf_signature(c.fmt), c.sig) << '"' << c.fmt << '"';
}

// The generator stored its own signature of each text; the run-time function
// must compute the same one, or catalog texts would be checked differently
// from the way the table was.
TEST(PrintfSignature, GeneratorAndRunTimeAgreeOnEveryRow) {
    for (const For_Msg_Row &row : for_msgtab_norvo) {
        EXPECT_EQ(for__printf_signature(row.text), row.signature) << row.number << ": " << row.text;
        EXPECT_EQ(std::strchr(row.signature, '!'), nullptr) << row.number;
    }
}

TEST(PrintfSignature, SpotChecksOfStoredSignatures) {
    struct Case {
        int number;
        const char *sig;
    };
    const Case cases[] = {
        {0, ""},    {5, "d,s"}, {8, "s,d"},   {103, "s,d,s"}, {156, "lx,ld"},
        {399, "x"}, {451, "i"}, {503, "d,x"}, {788, "d,d,d"},
    };
    for (const Case &c : cases) {
        const For_Msg_Row *row = for__msg_row(c.number);
        ASSERT_NE(row, nullptr) << c.number;
        EXPECT_STREQ(row->signature, c.sig) << c.number;
    }
}

class Catalog : public ::testing::Test {
  protected:
    void SetUp() override {
        cat_ = catopen(VORLIX_MSG_CAT, 0);
        ASSERT_NE(cat_, reinterpret_cast<nl_catd>(-1)) << "cannot open " << VORLIX_MSG_CAT;
    }
    void TearDown() override {
        if (cat_ != reinterpret_cast<nl_catd>(-1)) catclose(cat_);
    }
    nl_catd cat_ = reinterpret_cast<nl_catd>(-1);
};

// Every message reads back from set 1 of the built catalog exactly as the
// table has it.  The default is a text no message has, so a message missing
// from the catalog cannot pass by falling back to it.
TEST_F(Catalog, ReturnsTheTableTextForEveryMessage) {
    static char missing[] = "<not in catalog>";
    for (const For_Msg_Row &row : for_msgtab_norvo) {
        const char *got = catgets(cat_, 1, static_cast<int>(row.number), missing);
        if (row.number == 0) {
            // glibc's gencat does not store message number 0; the lookup then
            // falls back to the built-in text, which is the same text.
            if (got == missing) continue;
        }
        EXPECT_STREQ(got, row.text) << row.number;
    }
}

TEST_F(Catalog, HoldsNothingOutsideTheTable) {
    static char missing[] = "<not in catalog>";
    const int numbers[] = {7, 12, 789, 1000};
    for (int number : numbers) EXPECT_EQ(catgets(cat_, 1, number, missing), missing) << number;
    EXPECT_EQ(catgets(cat_, 2, 29, missing), missing);
}

}  // namespace
