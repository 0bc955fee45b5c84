// INQUIRE by unit and by file, and INQUIRE (IOLENGTH=): what is answered,
// how answers land in variables of every width, and what a failing
// inquiry leaves alone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "runtime/for_env.h"
#include "support/files.h"
#include "support/kit.h"
#include "units/for_lub_mgt.h"

namespace fs = std::filesystem;

namespace {

using kit::close_unit;
using kit::open_unit;

// Specifier codes of the inquiry.
enum : int {
    ACCESS = 2,
    FORM = 15,
    RECL_LEGACY = 21,
    EXIST = 27,
    NAMED = 29,
    NEXTREC = 31,
    NUMBER = 33,
    OPENED = 35,
    NAME = 43,
    SEQUENTIAL = 45,
    DIRECTORY = 73,
    POS = 79,
    SIZE = 85,
    RECL = 87
};

class InquireTest : public ::testing::Test {
  protected:
    std::string path(const std::string &name) const { return scratch_.path(name); }
    void touch(const std::string &name, size_t bytes = 2) const {
        std::ofstream(path(name)) << std::string(bytes ? bytes - 1 : 0, 'x') << (bytes ? "\n" : "");
    }
    void open_file(int unit, const std::string &name, std::initializer_list<std::pair<int, const char *>> more = {}) {
        kit::Keys k;
        k.text(FOR_KEY_FILE, path(name));
        for (auto [code, v] : more) k.text(code, v);
        ASSERT_EQ(open_unit(unit, k), 0);
    }
    kit::Scratch_Dir scratch_{"inquire"};
};

// INQUIRE (unit, <keys>) as compiled code calls it.
int inquire(int unit, kit::Keys &k, For_IO_Flags flags = kit::Flags{}.iostat().f90()) {
    For_Context ctx{};
    return for_inquire(&ctx, unit, flags, k.dsc(), k.val());
}

// INQUIRE (IOLENGTH=n) list: the entry with the first group, then the
// transfer call per further group.
int iolength(const kit::List &l, For_IO_Flags flags = kit::Flags{}.iostat()) {
    For_Context ctx{};
    int s = for_iolength(&ctx, flags, l.dsc(), l.val());
    for (int g = 1; s == 0 && g < l.groups(); ++g) {
        auto [d, v] = l.group(g);
        s = for_iolength_xmit(&ctx, d, v);
    }
    return s;
}

std::string trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// FILE= is resolved as OPEN resolves it, and the unit is found by the
// file it is connected to, whatever spelling reached it.
TEST_F(InquireTest, ByFileFindsTheUnitUnderEverySpellingOfItsFile) {
    touch("data.txt");
    open_file(40, "data.txt");
    fs::create_symlink(path("data.txt"), path("link.txt"));
    ASSERT_EQ(::link(path("data.txt").c_str(), path("hard.txt").c_str()), 0);
    fs::create_directory(path("sub"));
    setenv("HOME", scratch_.dir().c_str(), 1);
    struct Case {
        std::string file;
        const char *default_dir;  // DEFAULTFILE=, or none
    } cases[] = {
        {path("data.txt"), nullptr},
        {"  " + path("data.txt") + "   ", nullptr},  // blanks around the name do not count
        {path("sub/../data.txt"), nullptr},
        {"data.txt", nullptr},  // relative: completed by DEFAULTFILE= below
        {"~/data.txt", nullptr},
        {path("link.txt"), nullptr},
        {path("hard.txt"), nullptr},
    };
    for (Case c : cases) {
        kit::Keys k;
        k.text(FOR_KEY_FILE, c.file);
        if (c.file == "data.txt") k.text(FOR_KEY_DEFAULTFILE, scratch_.dir());
        int32_t number = 0;
        kit::Logical4 opened{0}, exist{0};
        k.var(NUMBER, number).var(OPENED, opened).var(EXIST, exist);
        ASSERT_EQ(inquire(0, k), 0) << c.file;
        EXPECT_EQ(number, 40) << c.file;
        EXPECT_EQ(opened.v, -1) << c.file;
        EXPECT_EQ(exist.v, -1) << c.file;
    }
    ASSERT_EQ(close_unit(40), 0);
}

// A unit OPEN connected without FILE= (through FORTn, or to fort.n of the
// default directory) is found by the file name it ended up with.
TEST_F(InquireTest, ByFileFindsUnitsConnectedWithoutFile) {
    setenv("FORT41", path("from_env.txt").c_str(), 1);
    kit::Keys o41;
    ASSERT_EQ(open_unit(41, o41), 0);
    unsetenv("FORT42");
    kit::Keys o42;
    o42.text(FOR_KEY_DEFAULTFILE, scratch_.dir());
    ASSERT_EQ(open_unit(42, o42), 0);
    for (auto [name, unit] : {std::pair{"from_env.txt", 41}, {"fort.42", 42}}) {
        kit::Keys k;
        k.text(FOR_KEY_FILE, name).text(FOR_KEY_DEFAULTFILE, scratch_.dir());
        int32_t number = 0;
        k.var(NUMBER, number);
        ASSERT_EQ(inquire(0, k), 0);
        EXPECT_EQ(number, unit) << name;
    }
    unsetenv("FORT41");
    close_unit(41, "delete");
    close_unit(42, "delete");
}

// A blank FILE= never takes a program argument or prompts, even when the
// statement asks for names from the command line: it is a file that does
// not exist, and the next OPEN still gets the argument.
TEST_F(InquireTest, BlankFileNameIsAFileThatDoesNotExist) {
    std::string arg = path("argument.txt");
    char prog[] = "prog";
    char *argv[] = {prog, arg.data(), nullptr};
    char **saved_argv = for__a_argv;
    const int saved_argc = for__l_argc;
    for__a_argv = argv;
    for__l_argc = 2;
    kit::Keys k;
    k.text(FOR_KEY_FILE, "    ");
    kit::Logical4 exist{7}, named{7};
    int32_t number = 7;
    k.var(EXIST, exist).var(NAMED, named).var(NUMBER, number);
    EXPECT_EQ(inquire(0, k, kit::Flags{}.iostat().f90().set(iof_name_cmdline)), 0);
    EXPECT_EQ(exist.v, 0);
    EXPECT_EQ(named.v, 0);
    EXPECT_EQ(number, -1);
    kit::Keys o;
    o.text(FOR_KEY_FILE, " ");
    EXPECT_EQ(open_unit(43, o, kit::Flags{}.iostat().set(iof_name_cmdline)), 0);
    EXPECT_TRUE(fs::exists(arg));
    close_unit(43, "delete");
    for__a_argv = saved_argv;
    for__l_argc = saved_argc;
}

// Names that lead nowhere are answered, and nothing appears on disk.
TEST_F(InquireTest, BadNamesAreAnsweredAndChangeNothing) {
    touch("plain.txt");
    fs::create_directory(path("dir"));
    fs::create_symlink(path("nowhere/target.txt"), path("dangling"));
    struct Case {
        std::string name;
        int code;  // FILE= or the directory specifier
        int exist;
        int size;  // SIZE=: only a regular file has one
    } cases[] = {
        {path("dir"), FOR_KEY_FILE, 0, -1},  // FILE= asks for a file, not a directory
        {path("dir"), DIRECTORY, -1, -1},
        {path("plain.txt"), DIRECTORY, 0, 2},
        {path("plain.txt"), FOR_KEY_FILE, -1, 2},
        {path("dangling"), FOR_KEY_FILE, 0, -1},
        {path("missing.txt"), FOR_KEY_FILE, 0, -1},
        {path(std::string(5000, 'n')), FOR_KEY_FILE, 0, -1},  // longer than any path
        {std::string(5000, 'r'), FOR_KEY_FILE, 0, -1},
    };
    for (const Case &c : cases) {
        kit::Keys k;
        k.text(c.code, c.name);
        kit::Logical4 exist{7}, opened{7};
        int32_t size = 7;
        k.var(EXIST, exist).var(OPENED, opened).var(SIZE, size);
        ASSERT_EQ(inquire(0, k), 0) << c.name.substr(0, 60);
        EXPECT_EQ(exist.v, c.exist) << c.name.substr(0, 60);
        EXPECT_EQ(opened.v, 0);
        EXPECT_EQ(size, c.size) << c.name.substr(0, 60);
    }
    EXPECT_FALSE(fs::exists(path("nowhere")));
    EXPECT_FALSE(fs::exists(path("missing.txt")));
}

// Unit numbers: any number of a unit that can be connected exists; one
// that no unit can have does not, and asking is no error.
TEST_F(InquireTest, UnitNumbersOutOfRange) {
    struct Case {
        int unit;
        int exist;
    } cases[] = {{99, -1}, {100, -1}, {INT_MAX, -1}, {-7, 0}, {-100, 0}, {INT_MIN, 0}};
    for (const Case &c : cases) {
        kit::Keys k;
        kit::Logical4 exist{7}, opened{7};
        char access[12];
        k.var(EXIST, exist)
            .var(OPENED, opened)
            .item(FOR_TYPE_CHARACTER, FOR_FORM_CHAR, ACCESS, {sizeof access, reinterpret_cast<uintptr_t>(access)});
        ASSERT_EQ(inquire(c.unit, k), 0) << c.unit;
        EXPECT_EQ(exist.v, c.exist) << c.unit;
        EXPECT_EQ(opened.v, 0) << c.unit;
        EXPECT_EQ(std::string(access, sizeof access), "UNDEFINED   ") << c.unit;
    }
}

// The old answers of an unconnected unit, and the Fortran-90 ones.
TEST_F(InquireTest, UnconnectedUnitAnswersFollowTheSemantics) {
    for (bool f90 : {false, true}) {
        kit::Keys k;
        std::string access(10, '?'), form(10, '?'), seq(10, '?');
        int32_t number = 0, recl = 0, nextrec = 7;
        k.chars(ACCESS, access).chars(FORM, form).chars(SEQUENTIAL, seq);
        k.var(NUMBER, number).var(RECL, recl).var(NEXTREC, nextrec);
        kit::Flags fl;
        fl.iostat();
        if (f90) fl.f90();
        ASSERT_EQ(inquire(44, k, fl), 0);
        EXPECT_EQ(trimmed(access), f90 ? "UNDEFINED" : "UNKNOWN");
        EXPECT_EQ(trimmed(form), f90 ? "UNDEFINED" : "UNKNOWN");
        EXPECT_EQ(trimmed(seq), "UNKNOWN");
        EXPECT_EQ(number, f90 ? -1 : 44);
        EXPECT_EQ(recl, -1);
        EXPECT_EQ(nextrec, 0);
    }
}

// After DEFINE FILE alone the unit is not connected and names no file.
TEST_F(InquireTest, DefineFileAloneNamesNoFile) {
    For_Context ctx{};
    ASSERT_EQ(for_define_file(&ctx, 54, kit::Flags{}.iostat(), 10, 8, nullptr, 0), 0);
    kit::Keys k;
    std::string name(6, '?');
    kit::Logical4 opened{7}, exist{7};
    k.chars(NAME, name).var(OPENED, opened).var(EXIST, exist);
    ASSERT_EQ(inquire(54, k), 0);
    EXPECT_EQ(name, "      ");
    EXPECT_EQ(opened.v, 0);
    EXPECT_EQ(exist.v, -1);
}

// Logical answers in every width, as -1 or (option bit 4) 1.
TEST_F(InquireTest, LogicalAnswersInEveryKind) {
    open_file(45, "l.txt");
    for (bool one : {false, true}) {
        kit::Keys k;
        kit::Logical1 l1{9};
        kit::Logical2 l2{9};
        kit::Logical4 l4{9};
        kit::Logical8 l8{9};
        kit::Logical4 no{9};
        int16_t i2 = 9;
        k.var(OPENED, l1).var(EXIST, l2).var(NAMED, l4).var(OPENED, l8).var(76, no).var(EXIST, i2);
        kit::Flags fl;
        fl.iostat();
        if (one) fl.set(iof_opt_e);
        // The truth value is the unit's: OPEN decided it.
        ASSERT_EQ(inquire(45, k, fl), 0);
        EXPECT_EQ(l1.v, -1);
        EXPECT_EQ(l2.v, -1);
        EXPECT_EQ(l4.v, -1);
        EXPECT_EQ(l8.v, -1);
        EXPECT_EQ(no.v, 0);  // PENDING: nothing is ever left pending
        EXPECT_EQ(i2, -1);
    }
    close_unit(45, "delete");
    // With no unit the statement's option decides.
    kit::Keys k;
    kit::Logical4 exist{9};
    k.text(FOR_KEY_FILE, path("l.txt")).var(EXIST, exist);
    touch("l.txt");
    ASSERT_EQ(inquire(0, k, kit::Flags{}.iostat().set(iof_opt_e)), 0);
    EXPECT_EQ(exist.v, 1);
}

// An answer wider than its variable is never cut.
TEST_F(InquireTest, WideAnswersAreNeverCut) {
    // A sparse file of 3 GiB: its size does not fit a default INTEGER.
    {
        int fd = ::open(path("big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{3} << 30), 0);
        ::close(fd);
    }
    touch("small.txt", 300);
    open_file(46, "rl.txt", {{FOR_KEY_STATUS, "replace"}});
    kit::Keys r;
    r.value(FOR_KEY_RECL, 1000).text(FOR_KEY_FILE, path("rl.txt"));
    ASSERT_EQ(open_unit(47, r), 0);
    kit::Keys s;
    s.text(FOR_KEY_FILE, path("st.bin")).text(FOR_KEY_ACCESS, "stream").text(FOR_KEY_FORM, "unformatted");
    ASSERT_EQ(open_unit(48, s), 0);

    // SIZE of a file the variable cannot hold is the unknown size -1.
    struct Size_Case {
        const char *file;
        int64_t want4, want1;
    } sizes[] = {{"big.bin", -1, -1}, {"small.txt", 300, -1}};
    for (const Size_Case &c : sizes) {
        kit::Keys k;
        int32_t s4 = 7;
        int8_t s1 = 7;
        int64_t s8 = 7;
        k.text(FOR_KEY_FILE, path(c.file)).var(SIZE, s4).var(SIZE, s1).var(SIZE, s8);
        ASSERT_EQ(inquire(0, k), 0);
        EXPECT_EQ(s4, c.want4) << c.file;
        EXPECT_EQ(s1, c.want1) << c.file;
        EXPECT_EQ(s8, static_cast<int64_t>(fs::file_size(path(c.file)))) << c.file;
    }
    // The unlimited record length of a stream file is the variable's largest value.
    {
        kit::Keys k;
        int32_t r4 = 7;
        int16_t r2 = 7;
        int64_t r8 = 7, r87 = 7;
        k.var(RECL_LEGACY, r4).var(RECL_LEGACY, r2).var(RECL_LEGACY, r8).var(RECL, r87);
        ASSERT_EQ(inquire(48, k), 0);
        EXPECT_EQ(r4, INT32_MAX);
        EXPECT_EQ(r2, INT16_MAX);
        EXPECT_EQ(r8, INT64_MAX);
        EXPECT_EQ(r87, -2);
    }
    // Any other value too wide fails the statement and no variable changes.
    struct Fail_Case {
        int unit, code;
    } fails[] = {{47, RECL}, {47, RECL_LEGACY}, {300, NUMBER}};
    for (const Fail_Case &c : fails) {
        kit::Keys k;
        int8_t narrow = 7;
        kit::Logical4 opened{7};
        std::string name(8, '?');
        k.var(OPENED, opened).chars(NAME, name).var(c.code, narrow);
        if (c.unit == 300) open_file(300, "wide.txt");
        EXPECT_EQ(inquire(c.unit, k), msg::integer_assignment_overflow) << c.unit << " " << c.code;
        EXPECT_EQ(narrow, 7);
        EXPECT_EQ(opened.v, 7);
        EXPECT_EQ(name, std::string(8, '?'));
    }
    close_unit(46, "delete");
    close_unit(47, "delete");
    close_unit(48, "delete");
    close_unit(300, "delete");
}

// A name is cut at the variable's length or padded with blanks, and never
// written past the variable.
TEST_F(InquireTest, NamesAreAssignedAsFortranAssigns) {
    open_file(49, "a_rather_long_file_name.txt");
    const std::string full = path("a_rather_long_file_name.txt");
    for (size_t len : {size_t{1}, size_t{5}, full.size() - 1, full.size(), full.size() + 7}) {
        std::string buf(len + 4, '#');
        kit::Keys k;
        k.item(FOR_TYPE_CHARACTER, FOR_FORM_CHAR, NAME, {len, reinterpret_cast<uintptr_t>(buf.data())});
        ASSERT_EQ(inquire(49, k), 0);
        std::string want = full.substr(0, len);
        want.resize(len, ' ');
        EXPECT_EQ(buf, want + "####") << len;
    }
    close_unit(49, "delete");
}

// Stream position and size follow writes that may still be held in the
// unit's buffer.
TEST_F(InquireTest, StreamPosAndSizeCountHeldOutput) {
    kit::Keys o;
    o.text(FOR_KEY_FILE, path("s.bin")).text(FOR_KEY_ACCESS, "stream").text(FOR_KEY_FORM, "unformatted");
    o.text(FOR_KEY_BUFFERED, "yes");
    ASSERT_EQ(open_unit(50, o), 0);
    int64_t total = 0;
    for (int n : {12, 1, 100}) {
        std::string data(static_cast<size_t>(n), 'd');
        kit::Stmt w(50);
        w.flags.iostat();
        w.items.chars(data).end();
        ASSERT_EQ(w.run(for_write_seq, for_write_seq_xmit), 0);
        total += n;
        kit::Keys k;
        int64_t pos = 0, size = 0;
        k.var(POS, pos).var(SIZE, size);
        ASSERT_EQ(inquire(50, k), 0);
        EXPECT_EQ(pos, total + 1);
        EXPECT_EQ(size, total);
    }
    close_unit(50, "delete");
}

// NEXTREC of units that are not connected for direct access.
TEST_F(InquireTest, NextrecOfSequentialUnitsIsZero) {
    open_file(51, "n.txt");
    kit::Stmt w(51);
    w.flags.iostat();
    w.items.text("record").end();
    ASSERT_EQ(w.run(for_write_seq_lis, for_write_seq_lis_xmit), 0);
    kit::Keys k;
    int32_t nextrec = 7;
    k.var(NEXTREC, nextrec);
    ASSERT_EQ(inquire(51, k), 0);
    EXPECT_EQ(nextrec, 0);
    close_unit(51, "delete");
}

// An inquiry inside a statement that holds the unit nests: the holder's
// statement keeps its unit, its context and its IOMSG= variable.
TEST_F(InquireTest, InquiryOfAUnitTheThreadHoldsNests) {
    open_file(52, "held.txt");
    For_Context holder{};
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(52, &lub, &holder, FOR_OP_WRITE_SEQ), 0);
    char iomsg[8];
    lub->lub_stmt.iomsg_addr = iomsg;
    kit::Keys k;
    kit::Logical4 opened{0};
    int32_t number = 0;
    k.var(OPENED, opened).var(NUMBER, number);
    ASSERT_EQ(inquire(52, k), 0);
    EXPECT_EQ(opened.v, -1);
    EXPECT_EQ(number, 52);
    EXPECT_EQ(holder.lub, lub);
    EXPECT_EQ(lub->lub_stmt.iomsg_addr, iomsg);
    EXPECT_TRUE(lub->lub_stmt_flags & lubs::held);
    // By file, the walk over the units nests in the same way.
    kit::Keys f;
    f.text(FOR_KEY_FILE, path("held.txt")).var(NUMBER, number);
    number = 0;
    ASSERT_EQ(inquire(0, f), 0);
    EXPECT_EQ(number, 52);
    EXPECT_EQ(holder.lub, lub);
    lub->lub_stmt.iomsg_addr = nullptr;
    for__release_lub(lub);
    EXPECT_EQ(holder.lub, nullptr);
    close_unit(52, "delete");
}

// The default internal units are never inquired about; bad specifier
// lists fail with 48 and store nothing.
TEST_F(InquireTest, RefusedInquiries) {
    struct Case {
        int unit;
        int code, type;  // an extra item
        int want;
    } cases[] = {
        {FOR_UNIT_INTERNAL, EXIST, FOR_TYPE_LOGICAL4, msg::inquire_internal_unit_no_file},
        {FOR_UNIT_INTERNAL_TOP, EXIST, FOR_TYPE_LOGICAL4, msg::inquire_internal_unit_no_file},
        {53, 3, FOR_TYPE_INT4, msg::invalid_argument},        // no such specifier
        {53, NUMBER, FOR_TYPE_REAL4, msg::invalid_argument},  // an integer answer into a REAL
        {53, ACCESS, FOR_TYPE_INT4, msg::invalid_argument},   // a character answer into an INTEGER
    };
    for (const Case &c : cases) {
        kit::Keys k;
        kit::Logical4 exist{7};
        int32_t extra = 7;
        std::string msg(60, '?');
        k.var(EXIST, exist).chars(FOR_KEY_IOMSG, msg);
        k.item(c.type, FOR_FORM_ADDR, c.code, {reinterpret_cast<uintptr_t>(&extra)});
        EXPECT_EQ(inquire(c.unit, k), c.want) << c.unit << " " << c.code;
        EXPECT_EQ(exist.v, 7);
        EXPECT_EQ(extra, 7);
        EXPECT_NE(msg, std::string(60, '?')) << "IOMSG= receives the text";
    }
}

// INQUIRE (IOLENGTH=n): the record length of the list in 4-byte units.
TEST_F(InquireTest, IolengthCountsTheRecordInReclUnits) {
    int32_t k[8] = {};
    double x[4] = {};
    char s[3] = {'a', 'b', 'c'};
    struct Case {
        const char *what;
        std::function<void(kit::List &)> list;
        int64_t bytes;
    } cases[] = {
        {"nothing", [](kit::List &) {}, 0},
        {"1, 2.0d0, 'abc'", [&](kit::List &l) { l.item(k[0]).item(x[0]).chars(s, 3); }, 15},
        {"k", [&](kit::List &l) { l.array(k, 8); }, 32},
        {"x(1:4:2)", [&](kit::List &l) { l.section(kit::slice(x, 1, 4, 2)); }, 16},
        {"k, then x in a later group", [&](kit::List &l) { l.array(k, 8).end_group().array(x, 4); }, 64},
    };
    for (const Case &c : cases) {
        int32_t n = -7;
        int8_t n1 = -7;
        for (bool narrow : {false, true}) {
            kit::List l;
            if (narrow)
                l.item(n1);
            else
                l.item(n);
            c.list(l);
            l.end();
            ASSERT_EQ(iolength(l), 0) << c.what;
        }
        EXPECT_EQ(n, (c.bytes + 3) / 4) << c.what;
        EXPECT_EQ(n1, (c.bytes + 3) / 4) << c.what;
    }
    // A length its variable cannot hold fails the statement.
    static char big[600];
    int8_t n1 = -7;
    kit::List l;
    l.item(n1).chars(big, sizeof big).end();
    EXPECT_EQ(iolength(l), msg::integer_assignment_overflow);
    EXPECT_EQ(n1, -7);
}

}  // namespace
