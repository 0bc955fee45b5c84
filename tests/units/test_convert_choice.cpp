// Where a unit's byte order comes from: the compile-time default, CONVERT=,
// F_UFMTENDIAN, FORT_CONVERT.ext / FORT_CONVERT_ext and FORT_CONVERTn, the
// later winning. Files are compared byte for byte with what gfortran
// writes for the same record with convert='big_endian' or under
// GFORTRAN_CONVERT_UNIT (whose place in the order is F_UFMTENDIAN's: both
// override CONVERT=). The variables that a process reads once are tried in
// child processes (convert_child), each with an environment of its own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "cvt/for_endian_env.h"
#include "diag/for_msgnum.h"
#include "support/child.h"
#include "support/files.h"
#include "support/oracle.h"
#include "units/for_convert_choice.h"
#include "units/for_lub.h"
#include "units/for_lub_mgt.h"

#ifndef CONVERT_CHILD
#error "the tests need CONVERT_CHILD"
#endif

namespace {

const std::string warning_96 = "forrtl: warning (96): F_UFMTENDIAN environment variable was ignored:erroneous syntax\n";

// -- The grammar of the once-read variables --------------------------------

const For_Setting_Word endian[] = {{"big", 1}, {"little", -1}};
const For_Setting_Word terminator[] = {{"CR", 7}, {"LF", 6}, {"CRLF", 8}};

std::string units_list(int from, int to) {
    std::string s;
    for (int u = from; u <= to; ++u) s += (s.empty() ? "" : ",") + std::to_string(u);
    return s;
}

// A text, whether it is a setting, and what it gives some units.
struct Setting_Case {
    std::string text;
    bool ok;
    std::vector<std::pair<int, int>> probes;  // unit, mode
};

void check_settings(const std::vector<Setting_Case> &cases, const For_Setting_Word *words, int nwords,
                    int32_t listed_default) {
    for (const Setting_Case &c : cases) {
        SCOPED_TRACE(c.text);
        For_Unit_Setting s;
        EXPECT_EQ(for__parse_unit_setting(c.text, words, nwords, listed_default, &s), c.ok);
        for (auto [unit, mode] : c.probes) EXPECT_EQ(s.lookup(unit), mode) << "unit " << unit;
    }
}

TEST(UnitSetting, GrammarAcceptsWhatItShouldAndNothingElse) {
    check_settings(
        {
            {"big", true, {{1, 1}, {99, 1}}},
            {"little", true, {{7, -1}}},
            {"little;big:10,20-30", true, {{10, 1}, {11, -1}, {19, -1}, {20, 1}, {30, 1}, {31, -1}}},
            {"big:5", true, {{5, 1}, {4, 0}, {6, 0}}},
            {"5", true, {{5, 1}, {4, 0}}},
            {"big;big:5", true, {{5, 1}, {6, 1}}},
            {"big;little:0-0", true, {{0, -1}, {1, 1}}},
            {units_list(1, 64), true, {{1, 1}, {64, 1}, {65, 0}}},
            {"2147483647", true, {{2147483647, 1}}},
            // Each of these is a syntax error: no setting at all.
            {"10-5", false, {{7, 0}}},
            {"10,", false, {{10, 0}}},
            {",10", false, {{10, 0}}},
            {units_list(1, 65), false, {{1, 0}}},
            {"junk:5", false, {{5, 0}}},
            {"junk;5", false, {{5, 0}}},
            {"big;junk:5", false, {{5, 0}}},
            {"BIG", false, {{5, 0}}},
            {"big;", false, {{5, 0}}},
            {"big;little:", false, {{5, 0}}},
            {"5--6", false, {{5, 0}}},
            {"5-6-7", false, {{5, 0}}},
            {"5,,6", false, {{5, 0}}},
            {"big;5;6", false, {{5, 0}}},
            {"big:5:6", false, {{5, 0}}},
            {"5 ", false, {{5, 0}}},
            {"99999999999", false, {{5, 0}}},
            {"1-99999999999999999999999", false, {{1, 0}}},
        },
        endian, 2, 1);
}

TEST(UnitSetting, TerminatorWordsWithCrAsTheListDefault) {
    check_settings(
        {
            {"CR", true, {{3, 7}}},
            {"LF", true, {{3, 6}}},
            {"CRLF", true, {{3, 8}}},
            {"12", true, {{12, 7}, {13, 0}}},
            {"LF;CRLF:12-13", true, {{12, 8}, {13, 8}, {14, 6}}},
            {"cr", false, {{3, 0}}},
            {"CRLF:", false, {{3, 0}}},
            {"big", false, {{3, 0}}},
        },
        terminator, 3, 7);
}

// -- Keyword values, extensions, the flag word -----------------------------

TEST(ConversionChoice, KeywordValues) {
    struct Case {
        const char *value;
        int status;
        For_Conversion want;
    } cases[] = {
        {"NATIVE", 0, {false, false, 0}},
        {"little_endian", 0, {false, false, 0}},
        {"Big_Endian", 0, {true, true, 0}},
        {"vaxg", 0, {true, false, 1}},
        {"VAXD", 0, {true, false, 2}},
        {"ibm", 0, {true, true, 3}},
        {"CRAY", 0, {true, true, 4}},
        {"fdx", 0, {true, false, 5}},
        {"FGX", 0, {true, false, 6}},
        // Exact words only: no blanks, no abbreviations, no longer values.
        {"BIG_ENDIAN ", msg::inconsistent_open_close, {true, false, 0}},
        {"BIG", msg::inconsistent_open_close, {true, false, 0}},
        {"", msg::inconsistent_open_close, {true, false, 0}},
        {"LITTLE_ENDIANLITTLE_ENDIAN", msg::inconsistent_open_close, {true, false, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        For_Conversion got{false, true, 9};
        EXPECT_EQ(for__set_conversion_option(&got, c.value), c.status);
        EXPECT_EQ(got.foreign, c.want.foreign);
        EXPECT_EQ(got.big_endian, c.want.big_endian);
        EXPECT_EQ(got.code, c.want.code);
    }
}

// The extension is that of the file itself: a '.' in a directory's name
// names no extension of the files inside it.
TEST(ConversionChoice, FileExtension) {
    struct Case {
        const char *name, *ext;
    } cases[] = {
        {"run.dat", "dat"},
        {"/a/b/run.dat", "dat"},
        {"run.dat.", "dat"},
        {"run", ""},
        {"/data.v2/run", ""},
        {"/data.v2/run.bin", "bin"},
        {"a.b.c", "c"},
        {".hidden", "hidden"},
        {"run..", ""},
        {"/x.y/", ""},
        {"", ""},
    };
    for (const Case &c : cases) EXPECT_EQ(for__file_extension(c.name), c.ext) << c.name;
}

TEST(ConversionChoice, CompiledDefault) {
    struct Case {
        For_IO_Flags flags;
        bool chosen;
        For_Conversion want;
    } cases[] = {
        {0, false, {}},
        {iof_err | iof_f90, false, {}},
        {For_IO_Flags{1} << 16, true, {true, true, 0}},
        {For_IO_Flags{2} << 8, true, {true, false, 2}},
        {(For_IO_Flags{3} << 8) | (For_IO_Flags{1} << 16), true, {true, true, 3}},
        {For_IO_Flags{200} << 8, false, {}},  // no such representation
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        For_Conversion got;
        EXPECT_EQ(for__compiled_conversion(c.flags, &got), c.chosen);
        if (!c.chosen) continue;
        EXPECT_EQ(got.foreign, c.want.foreign);
        EXPECT_EQ(got.big_endian, c.want.big_endian);
        EXPECT_EQ(got.code, c.want.code);
    }
}

// -- OPEN in this process (no once-read variable is set here) --------------

// Looks at a connected unit without disturbing it.
template <class Fn>
void with_unit(int unit, Fn fn) {
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(unit, &lub, nullptr, FOR_OP_INQUIRE), 0);
    fn(lub);
    for__release_lub(lub);
}

// A re-OPEN of the connected file that names no representation leaves the
// one its data is in; one that names another changes it.
TEST(ConversionChoice, ReopenKeepsTheRepresentationUnlessItNamesOne) {
    kit::Scratch_Dir dir("convert");
    unsetenv("FORT_CONVERT70");
    unsetenv("FORT_CONVERT_bin");
    unsetenv("FORT_CONVERT.bin");
    auto open = [&](const char *convert) {
        kit::Keys k;
        k.text(FOR_KEY_FILE, dir.path("r.bin")).text(FOR_KEY_FORM, "unformatted");
        if (convert) k.text(FOR_KEY_CONVERT, convert);
        return kit::open_unit(70, k);
    };
    auto big = [](For_Lub *lub) { return (lub->lub_flags & lubf::big_endian) != 0; };
    ASSERT_EQ(open("big_endian"), 0);
    ASSERT_EQ(open(nullptr), 0);
    with_unit(70, [&](For_Lub *lub) { EXPECT_TRUE(big(lub)) << "the re-OPEN changed the byte order"; });
    ASSERT_EQ(open("little_endian"), 0);
    with_unit(70, [&](For_Lub *lub) { EXPECT_FALSE(big(lub)); });
    kit::close_unit(70);
}

// CONVERT= given as a number outside its table is a bad argument, as for
// every keyword that takes a table value; the unit stays unconnected.
TEST(ConversionChoice, ConvertNumberOutsideItsTable) {
    kit::Scratch_Dir dir("convert");
    kit::Keys k;
    k.text(FOR_KEY_FILE, dir.path("n.bin")).text(FOR_KEY_FORM, "unformatted").value(FOR_KEY_CONVERT, 12);
    EXPECT_EQ(kit::open_unit(71, k), msg::invalid_argument);
    For_Lub *lub = for__inspect_lun(71);
    if (lub) {
        EXPECT_FALSE(lub->lub_flags & lubf::opened);
        for__release_lub(lub);
    }
}

// -- Whole programs --------------------------------------------------------

struct Unit_Case {
    int unit;
    std::string file;    // name in the scratch directory
    std::string ours;    // CONVERT= of our OPEN, "" for none
    std::string theirs;  // convert= of gfortran's OPEN, "" for none
};

class Choice : public ::testing::Test {
  protected:
    std::string path(const std::string &n) const { return scratch_.path(n); }
    // gfortran's file for one of ours, beside it in the scratch directory.
    std::string gf_path(std::string n) const {
        for (char &c : n)
            if (c == '/') c = '_';
        return scratch_.path("gf_" + n);
    }

    kit::Child_Outcome child(const std::vector<std::string> &args, std::vector<std::string> env) {
        env.push_back("FOR_DISABLE_STACK_TRACE=1");
        return kit::run_child(CONVERT_CHILD, args, env, scratch_.dir());
    }

    // Our child writes the record on every unit; gfortran writes it to
    // "gf_" files with GFORTRAN_CONVERT_UNIT set to `gf_env` (unset when
    // empty). Returns our child's outcome; skips without gfortran.
    kit::Child_Outcome both_write(const std::vector<Unit_Case> &units, const std::vector<std::string> &env,
                                  const std::string &gf_env, bool *have_gfortran) {
        std::vector<std::string> args{"write"};
        std::string src =
            "program p\n  integer(4) :: i4 = 1\n  integer(2) :: i2 = 258\n"
            "  integer(8) :: i8 = int(z'0102030405060708', 8)\n  real(4) :: r4 = 1.5\n"
            "  real(8) :: r8 = -2.25d0\n  complex(4) :: c4 = (0.5, -4.0)\n";
        for (const Unit_Case &u : units) {
            args.push_back(std::to_string(u.unit) + ":" + path(u.file) + (u.ours.empty() ? "" : ":" + u.ours));
            src += "  open (" + std::to_string(u.unit) + ", file='" + gf_path(u.file) +
                   "', &\n      form='unformatted', status='replace'" +
                   (u.theirs.empty() ? "" : ", convert='" + u.theirs + "'") + ")\n";
            src += "  write (" + std::to_string(u.unit) + ") i4, i2, i8, r4, r8, c4\n  close (" +
                   std::to_string(u.unit) + ")\n";
        }
        src += "end program\n";
        if (gf_env.empty())
            unsetenv("GFORTRAN_CONVERT_UNIT");
        else
            setenv("GFORTRAN_CONVERT_UNIT", gf_env.c_str(), 1);
        auto out = kit::gfortran_run(src);
        unsetenv("GFORTRAN_CONVERT_UNIT");
        *have_gfortran = out.has_value();
        return child(args, env);
    }

    void expect_same_files(const std::vector<Unit_Case> &units) {
        for (const Unit_Case &u : units) {
            std::string ours = kit::slurp(path(u.file)), theirs = kit::slurp(gf_path(u.file));
            EXPECT_FALSE(theirs.empty()) << "gfortran wrote no " << u.file;
            EXPECT_EQ(ours, theirs) << "unit " << u.unit << ", file " << u.file;
        }
    }

    kit::Scratch_Dir scratch_{"convert"};
};

// One case: our environment, gfortran's equivalent, the units.
struct Program_Case {
    const char *why;
    std::vector<std::string> env;
    std::string gf_env;
    std::vector<Unit_Case> units;
};

TEST_F(Choice, EverySourceWritesWhatGfortranWrites) {
    const Program_Case cases[] = {
        {"CONVERT= alone",
         {},
         "",
         {{10, "a.bin", "big_endian", "big_endian"},
          {11, "b.bin", "", ""},
          {12, "c.bin", "little_endian", "little_endian"}}},
        {"F_UFMTENDIAN=big overrides CONVERT=",
         {"F_UFMTENDIAN=big"},
         "big_endian",
         {{10, "a.bin", "", ""}, {11, "b.bin", "little_endian", "little_endian"}, {12, "c.bin", "native", "native"}}},
        {"F_UFMTENDIAN with its exceptions",
         {"F_UFMTENDIAN=little;big:10,20-30"},
         "little_endian;big_endian:10,20-30",
         {{10, "a.bin", "", ""},
          {11, "b.bin", "big_endian", "big_endian"},
          {20, "c.bin", "", ""},
          {25, "d.bin", "little_endian", "little_endian"},
          {30, "e.bin", "", ""},
          {31, "f.bin", "", ""}}},
        // gfortran takes a bare list for no setting at all, whatever its
        // documentation says; its explicit form says what ours means.
        {"F_UFMTENDIAN with a list only",
         {"F_UFMTENDIAN=12"},
         "big_endian:12",
         {{12, "a.bin", "", ""}, {13, "b.bin", "", ""}, {14, "c.bin", "big_endian", "big_endian"}}},
        {"F_UFMTENDIAN little exceptions",
         {"F_UFMTENDIAN=big;little:15"},
         "big_endian;little_endian:15",
         {{15, "a.bin", "", ""}, {16, "b.bin", "", ""}}},
        {"FORT_CONVERT.ext",
         {"FORT_CONVERT.dat=BIG_ENDIAN"},
         "",
         {{10, "a.dat", "", "big_endian"},
          {11, "b.bin", "", ""},
          {12, "c.dat", "little_endian", "big_endian"},
          {13, "c.dat.", "", "big_endian"}}},
        {"FORT_CONVERT_ext",
         {"FORT_CONVERT_dat=big_endian"},
         "",
         {{10, "a.dat", "", "big_endian"}, {11, "b.bin", "", ""}}},
        {"FORT_CONVERT.ext before FORT_CONVERT_ext",
         {"FORT_CONVERT.dat=native", "FORT_CONVERT_dat=BIG_ENDIAN"},
         "",
         {{10, "a.dat", "", ""}}},
        {"an empty FORT_CONVERT.ext gives way to FORT_CONVERT_ext",
         {"FORT_CONVERT.dat=", "FORT_CONVERT_dat=BIG_ENDIAN"},
         "",
         {{10, "a.dat", "", "big_endian"}}},
        {"a dot in a directory is no extension",
         {"FORT_CONVERT.v2=BIG_ENDIAN"},
         "",
         {{10, "d.v2/plain", "", ""}, {11, "d.v2/x.v2", "", "big_endian"}}},
        {"FORT_CONVERTn", {"FORT_CONVERT12=BIG_ENDIAN"}, "", {{12, "a.bin", "", "big_endian"}, {13, "b.bin", "", ""}}},
        {"FORT_CONVERTn overrides CONVERT=", {"FORT_CONVERT12=little_endian"}, "", {{12, "a.bin", "big_endian", ""}}},
        {"an over-long FORT_CONVERTn is not applied",
         {"FORT_CONVERT12=" + std::string(261, 'x')},
         "",
         {{12, "a.bin", "big_endian", "big_endian"}}},
        {"the whole order",
         {"F_UFMTENDIAN=big", "FORT_CONVERT.dat=LITTLE_ENDIAN", "FORT_CONVERT14=BIG_ENDIAN"},
         "",
         {{13, "a.dat", "big_endian", ""},                 // CONVERT=, then F_UFMTENDIAN, then the extension: little
          {14, "b.dat", "", "big_endian"},                 // the unit's variable comes last
          {15, "c.bin", "little_endian", "big_endian"}}},  // F_UFMTENDIAN over CONVERT=
    };
    ASSERT_EQ(::mkdir(path("d.v2").c_str(), 0755), 0);
    for (const Program_Case &c : cases) {
        SCOPED_TRACE(c.why);
        bool have = false;
        kit::Child_Outcome o = both_write(c.units, c.env, c.gf_env, &have);
        if (!have) GTEST_SKIP() << "gfortran is not installed";
        ASSERT_EQ(o.exit_code, 0) << o.err;
        EXPECT_EQ(o.err, "");
        expect_same_files(c.units);
    }
}

// What the child reports for the unit: the representation in the block.
TEST_F(Choice, ForeignFormatsFromTheEnvironment) {
    struct Case {
        std::vector<std::string> env;
        std::string setup, want;
    } cases[] = {
        {{"FORT_CONVERT12=ibm"}, "12:" + path("a.bin") + ":big_endian", "open 12 0 foreign 1 big 1 code 3\n"},
        {{"FORT_CONVERT.dat=VAXG"}, "12:" + path("x.dat"), "open 12 0 foreign 1 big 0 code 1\n"},
        {{"FORT_CONVERT.dat=VAXG", "FORT_CONVERT12=cray"}, "12:" + path("x.dat"), "open 12 0 foreign 1 big 1 code 4\n"},
        {{"F_UFMTENDIAN=big", "FORT_CONVERT12=FDX"}, "12:" + path("x.bin"), "open 12 0 foreign 1 big 0 code 5\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setup);
        kit::Child_Outcome o = child({"write", c.setup}, c.env);
        EXPECT_EQ(o.out, c.want);
        EXPECT_EQ(o.err, "");
    }
}

// A value that names no representation fails the OPEN with 46 before any
// file is made, and the unit stays unconnected.
TEST_F(Choice, UnknownValueFailsTheOpen) {
    struct Case {
        std::vector<std::string> env;
        std::string file;
    } cases[] = {
        {{"FORT_CONVERT12=middle_endian"}, "a.bin"},
        {{"FORT_CONVERT.dat=BIG-ENDIAN"}, "b.dat"},
        {{"FORT_CONVERT_dat=vax"}, "c.dat"},
        {{"FORT_CONVERT12= big_endian"}, "d.bin"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.env[0]);
        kit::Child_Outcome o = child({"write", "12:" + path(c.file)}, c.env);
        EXPECT_EQ(o.out, "open 12 46 unconnected\n");
        struct stat st;
        EXPECT_NE(::stat(path(c.file).c_str(), &st), 0) << "the file was made";
    }
}

// Bad F_UFMTENDIAN texts: one warning however many units are opened, and
// the units get what they would get without the variable.
TEST_F(Choice, HostileEndianTextWarnsOnceAndChangesNothing) {
    const std::vector<Unit_Case> units = {
        {10, "a.bin", "", ""}, {11, "b.bin", "big_endian", "big_endian"}, {12, "c.bin", "", ""}};
    // Fourteen ranges of 21 characters: well-formed but for its length.
    std::string long_list;
    for (int i = 0; i < 14; ++i) long_list += (i ? "," : "") + std::string("1000000000-1000000001");
    ASSERT_GT(long_list.size(), 260u);
    const std::string texts[] = {"10-5",        "10,",     units_list(1, 65), "junk:10",
                                 "big;junk:10", long_list, "99999999999999",  "10-99999999999",
                                 "little;big:", ",10"};
    for (const std::string &t : texts) {
        SCOPED_TRACE(t);
        bool have = false;
        kit::Child_Outcome o = both_write(units, {"F_UFMTENDIAN=" + t}, "", &have);
        if (!have) GTEST_SKIP() << "gfortran is not installed";
        EXPECT_EQ(o.err, warning_96);
        EXPECT_EQ(o.out,
                  "open 10 0 foreign 0 big 0 code 0\nopen 11 0 foreign 1 big 1 code 0\n"
                  "open 12 0 foreign 0 big 0 code 0\n");
        expect_same_files(units);
    }
    // An empty value is no setting, and no error either.
    kit::Child_Outcome o = child({"write", "10:" + path("e.bin")}, {"F_UFMTENDIAN="});
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, "open 10 0 foreign 0 big 0 code 0\n");
}

// Files gfortran wrote big-endian read back through each source.
TEST_F(Choice, ReadsWhatGfortranWroteBigEndian) {
    const std::string src =
        "program p\n  integer(4) :: i4 = 1\n  integer(2) :: i2 = 258\n"
        "  integer(8) :: i8 = int(z'0102030405060708', 8)\n  real(4) :: r4 = 1.5\n"
        "  real(8) :: r8 = -2.25d0\n  complex(4) :: c4 = (0.5, -4.0)\n"
        "  open (10, file='" +
        path("big.dat") +
        "', &\n      form='unformatted', status='replace', convert='big_endian')\n"
        "  write (10) i4, i2, i8, r4, r8, c4\n  close (10)\nend program\n";
    if (!kit::gfortran_run(src)) GTEST_SKIP() << "gfortran is not installed";
    const std::string values = "read 0 1 258 72623859790382856 1.5 -2.25 0.5 -4\n";
    struct Case {
        std::vector<std::string> env;
        std::string setup;
    } cases[] = {
        {{}, "20:" + path("big.dat") + ":BIG_ENDIAN"},
        {{"F_UFMTENDIAN=little;big:20"}, "20:" + path("big.dat")},
        {{"FORT_CONVERT.dat=big_endian"}, "20:" + path("big.dat")},
        {{"FORT_CONVERT20=big_endian"}, "20:" + path("big.dat") + ":native"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setup);
        kit::Child_Outcome o = child({"read", c.setup}, c.env);
        EXPECT_EQ(o.out.substr(o.out.find('\n') + 1), values) << o.out;
        EXPECT_EQ(o.err, "");
    }
}

// The compile-time default comes first: CONVERT= and the environment
// override it, and without them it is what the file gets.
TEST_F(Choice, CompiledDefaultComesFirst) {
    const std::string big = std::to_string(For_IO_Flags{1} << 16);
    bool have = false;
    both_write({{10, "ref.bin", "", "big_endian"}}, {}, "", &have);
    if (!have) GTEST_SKIP() << "gfortran is not installed";
    struct Case {
        std::string flags, setup;
        std::vector<std::string> env;
        std::string want;
    } cases[] = {
        {big, "10:" + path("a.bin"), {}, "open 10 0 foreign 1 big 1 code 0\n"},
        {big, "10:" + path("b.bin") + ":little_endian", {}, "open 10 0 foreign 0 big 0 code 0\n"},
        {big, "10:" + path("c.bin"), {"F_UFMTENDIAN=little"}, "open 10 0 foreign 0 big 0 code 0\n"},
        {std::to_string(For_IO_Flags{2} << 8), "10:" + path("d.bin"), {}, "open 10 0 foreign 1 big 0 code 2\n"},
        {std::to_string(For_IO_Flags{2} << 8),
         "10:" + path("e.bin"),
         {"FORT_CONVERT10=native"},
         "open 10 0 foreign 0 big 0 code 0\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setup);
        kit::Child_Outcome o = child({"compiled", c.flags, c.setup}, c.env);
        EXPECT_EQ(o.out, c.want);
    }
    EXPECT_EQ(kit::slurp(path("a.bin")), kit::slurp(gf_path("ref.bin")));
}

// FOR_FMT_TERMINATOR on formatted files that gave no RECORDTYPE: each of
// the two records "ab" and "cd" ends with the terminator named for its
// unit, and nothing else (the carriage control is NONE).
TEST_F(Choice, RecordTerminatorOfFormattedFiles) {
    struct Case {
        std::string env;
        int unit;
        std::string access, want;
    } cases[] = {
        {"", 12, "stream", "ab\ncd\n"},
        {"FOR_FMT_TERMINATOR=CR", 12, "stream", "ab\rcd\r"},
        {"FOR_FMT_TERMINATOR=LF", 12, "stream", "ab\ncd\n"},
        {"FOR_FMT_TERMINATOR=CRLF", 12, "stream", "ab\r\ncd\r\n"},
        {"FOR_FMT_TERMINATOR=CRLF", 12, "sequential", "ab\r\ncd\r\n"},
        {"FOR_FMT_TERMINATOR=CRLF:12", 12, "stream", "ab\r\ncd\r\n"},
        {"FOR_FMT_TERMINATOR=CRLF:12", 13, "stream", "ab\ncd\n"},  // not listed: the default
        {"FOR_FMT_TERMINATOR=12", 12, "stream", "ab\rcd\r"},       // a bare list means CR
        {"FOR_FMT_TERMINATOR=LF;CR:12", 13, "stream", "ab\ncd\n"},
        {"FOR_FMT_TERMINATOR=CRLF;LF:12", 13, "sequential", "ab\r\ncd\r\n"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.env + " unit " + std::to_string(c.unit) + " " + c.access);
        const std::string f = path("t" + std::to_string(n++) + ".txt");
        std::vector<std::string> env;
        if (!c.env.empty()) env.push_back(c.env);
        kit::Child_Outcome o = child({"text", std::to_string(c.unit) + ":" + f + ":" + c.access}, env);
        EXPECT_EQ(o.out, "open " + std::to_string(c.unit) + " 0\n");
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(kit::slurp(f), c.want);
    }
    // FIXED records of a direct-access file keep their type.
    kit::Child_Outcome d = child({"text", "12:" + path("direct.txt") + ":direct"}, {"FOR_FMT_TERMINATOR=CR"});
    EXPECT_EQ(d.out, "open 12 0 record type 1\n");
    EXPECT_EQ(d.err, "");
    // A bad value: the warning, and the default terminator.
    const std::string f = path("bad.txt");
    kit::Child_Outcome o = child({"text", "12:" + f + ":stream"}, {"FOR_FMT_TERMINATOR=CRLF:"});
    EXPECT_EQ(o.err, warning_96);
    EXPECT_EQ(kit::slurp(f), "ab\ncd\n");
}

}  // namespace
