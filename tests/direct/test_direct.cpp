// Direct access: files written by record number against gfortran's byte
// for byte, each side reading the other's files, the direct file buffer
// (pending records, the read cache kept true), FIND, DELETE, REWRITE, the
// associated variable, and bad record numbers and lengths.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <vorlix/io.h>
#include <vorlix/runtime.h>
#include <vorlix/stop.h>

#include "diag/for_msgnum.h"
#include "support/files.h"
#include "support/kit.h"
#include "support/oracle.h"
#include "units/for_lub.h"
#include "units/for_lub_mgt.h"

// Buffers of a RECL no memory can hold must come back as null under ASan
// too: the OPEN answers them with its message.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

using kit::Bytes;
using kit::file_bytes;
using kit::put_file;

long file_size(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

struct Open_Dir {
    const char *form = "UNFORMATTED";
    int64_t recl = 4;
    bool byte_recl = false;  // RECL in bytes (the byte-RECL option)
    const char *status = "REPLACE";
    int64_t maxrec = 0;
    const char *organization = nullptr;
    For_IO_Flags options = 0;
    void *assoc = nullptr;
    int assoc_kind = 0;
    const char *buffered = nullptr;
    const char *convert = nullptr;
};

int open_dir(int unit, const std::string &path, const Open_Dir &o) {
    kit::Keys k;
    k.text(FOR_KEY_FILE, path).text(FOR_KEY_ACCESS, "DIRECT").text(FOR_KEY_FORM, o.form);
    k.text(FOR_KEY_STATUS, o.status);
    k.value(o.byte_recl ? FOR_KEY_RECL_BYTES : FOR_KEY_RECL, o.recl);
    if (o.maxrec) k.value(FOR_KEY_MAXREC, o.maxrec);
    if (o.organization) k.text(FOR_KEY_ORGANIZATION, o.organization);
    if (o.buffered) k.text(FOR_KEY_BUFFERED, o.buffered);
    if (o.convert) k.text(FOR_KEY_CONVERT, o.convert);
    if (o.assoc) k.item(o.assoc_kind, FOR_FORM_ADDR, FOR_KEY_ASSOCIATEVARIABLE, {reinterpret_cast<uintptr_t>(o.assoc)});
    return kit::open_unit(unit, k, kit::Flags{}.iostat().set(o.options));
}

// WRITE (u, REC=r, IOSTAT=) items, built by the caller.
template <class Fill>
int write_rec(int unit, int64_t r, Fill fill) {
    kit::Stmt w(unit);
    w.flags.iostat();
    fill(w.items);
    w.items.end();
    return w.run(for_write_dir, r, for_write_dir_xmit);
}

template <class Fill>
int read_rec(int unit, int64_t r, Fill fill) {
    kit::Stmt rd(unit);
    rd.flags.iostat();
    fill(rd.items);
    rd.items.end();
    return rd.run(for_read_dir, r, for_read_dir_xmit);
}

int write_int(int unit, int64_t r, int32_t v) {
    return write_rec(unit, r, [&](kit::List &l) { l.item(v); });
}
int read_int(int unit, int64_t r, int32_t *v) {
    return read_rec(unit, r, [&](kit::List &l) { l.item(*v); });
}

// Formatted WRITE / READ (u, fmt, REC=r) with the format as text.
template <class Fill>
int write_fmt(int unit, int64_t r, const std::string &fmt, Fill fill) {
    kit::Stmt w(unit);
    w.flags.iostat().fmt_text();
    fill(w.items);
    w.items.end();
    For_Char_Format f{static_cast<int64_t>(fmt.size()), fmt.data()};
    return w.run(for_write_dir_fmt, r, &f, for_write_dir_fmt_xmit);
}
template <class Fill>
int read_fmt(int unit, int64_t r, const std::string &fmt, Fill fill) {
    kit::Stmt rd(unit);
    rd.flags.iostat().fmt_text();
    fill(rd.items);
    rd.items.end();
    For_Char_Format f{static_cast<int64_t>(fmt.size()), fmt.data()};
    return rd.run(for_read_dir_fmt, r, &f, for_read_dir_fmt_xmit);
}

int find_rec(int unit, int64_t r) {
    For_Context ctx{};
    return for_find(&ctx, unit, kit::Flags{}.iostat(), r, nullptr, nullptr);
}
int delete_rec(int unit, int64_t r) {
    For_Context ctx{};
    return for_delete(&ctx, unit, kit::Flags{}.iostat(), r, nullptr, nullptr);
}

template <class F>
void with_unit(int unit, F f) {
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(unit, &lub, nullptr, FOR_OP_INQUIRE), 0);
    f(lub);
    for__release_lub(lub);
}

// What a statement without IOSTAT= writes to standard error when it fails,
// run in a child process that the diagnostic ends.
template <class F>
std::string diagnostic_of(F run) {
    char name[] = "/tmp/vorlix-diag-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) return "mkstemp failed";
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        ::dup2(fd, 2);
        run();
        _exit(0);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    std::ifstream in(name);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    ::close(fd);
    ::unlink(name);
    return text;
}

class Direct : public ::testing::Test {
  protected:
    std::string path(const std::string &name) const { return scratch_.path(name); }
    kit::Scratch_Dir scratch_{"direct"};
};

// -- Against gfortran ------------------------------------------------------

// The program every side runs: five records of an integer, a real(8), a
// character*3 and an integer(2) array of 2, written in the order 4 2 5 1 3
// and record 2 written again; record length 24 bytes (gfortran's RECL).
struct Rec_Values {
    int32_t i;
    double d;
    char c[3];
    int16_t a[2];
};
Rec_Values values_of(int r, int round) {
    Rec_Values v{};
    v.i = r * 1000 + round;
    v.d = r + 0.25 * round;
    v.c[0] = static_cast<char>('A' + r);
    v.c[1] = static_cast<char>('a' + round);
    v.c[2] = '#';
    v.a[0] = static_cast<int16_t>(-r);
    v.a[1] = static_cast<int16_t>(r * 300);
    return v;
}
constexpr int order[] = {4, 2, 5, 1, 3};

std::string gfortran_writer(const std::string &file, const char *convert = "native") {
    std::string p =
        "program p\n  integer :: r, k\n  integer(2) :: a(2)\n  character(3) :: c\n"
        "  open (10, file='" +
        file + "', access='direct', form='unformatted', recl=24, status='replace', &\n      convert='" + convert + "')\n";
    auto one = [&](int r, int round) {
        Rec_Values v = values_of(r, round);
        p += "  a = [" + std::to_string(v.a[0]) + "_2, " + std::to_string(v.a[1]) + "_2]\n";
        p += "  c = '" + std::string(v.c, 3) + "'\n";
        p += "  write (10, rec=" + std::to_string(r) + ") " + std::to_string(v.i) + ", " + std::to_string(v.d) +
             "d0, c, a\n";
    };
    for (int r : order) one(r, 0);
    one(2, 1);
    p += "  close (10)\n  print '(a)', 'done'\nend program p\n";
    return p;
}

void our_writer(int unit, const std::string &file, const Open_Dir &o) {
    ASSERT_EQ(open_dir(unit, file, o), 0);
    auto one = [&](int r, int round) {
        Rec_Values v = values_of(r, round);
        ASSERT_EQ(write_rec(unit, r, [&](kit::List &l) { l.item(v.i).item(v.d).chars(v.c, 3).array(v.a, 2); }), 0);
    };
    for (int r : order) one(r, 0);
    one(2, 1);
    ASSERT_EQ(kit::close_unit(unit), 0);
}

TEST_F(Direct, UnformattedFileMatchesGfortranInBothRecordLengthUnits) {
    auto out = kit::gfortran_run(gfortran_writer(path("g.bin")));
    if (!out) GTEST_SKIP() << "gfortran is not installed";
    const Bytes want = file_bytes(path("g.bin"));
    ASSERT_EQ(want.size(), 5u * 24);
    struct Case {
        const char *name;
        Open_Dir o;
    };
    Open_Dir words, bytes;
    words.recl = 6;  // 6 units of 4 bytes
    bytes.recl = 24;
    bytes.byte_recl = true;
    for (const Case &c : {Case{"RECL in 4-byte units", words}, Case{"RECL in bytes", bytes}}) {
        SCOPED_TRACE(c.name);
        our_writer(20, path("v.bin"), c.o);
        EXPECT_EQ(file_bytes(path("v.bin")), want);
    }
}

// Big-endian records by number: every item reversed in its slot, as
// gfortran's convert='big_endian' lays them out, and read back.
TEST_F(Direct, BigEndianFileMatchesGfortran) {
    if (!kit::gfortran_run(gfortran_writer(path("g.bin"), "big_endian"))) GTEST_SKIP() << "gfortran is not installed";
    Open_Dir o;
    o.recl = 6;
    o.convert = "BIG_ENDIAN";
    our_writer(24, path("v.bin"), o);
    EXPECT_EQ(file_bytes(path("v.bin")), file_bytes(path("g.bin")));
    o.status = "OLD";
    ASSERT_EQ(open_dir(24, path("g.bin"), o), 0);
    for (int r : {2, 5}) {
        Rec_Values got{};
        ASSERT_EQ(read_rec(24, r, [&](kit::List &l) { l.item(got.i).item(got.d).chars(got.c, 3).array(got.a, 2); }), 0);
        Rec_Values want = values_of(r, r == 2 ? 1 : 0);
        EXPECT_EQ(got.i, want.i);
        EXPECT_EQ(got.d, want.d);
        EXPECT_EQ(got.a[1], want.a[1]);
    }
    ASSERT_EQ(kit::close_unit(24), 0);
}

TEST_F(Direct, EachSideReadsTheOthersFile) {
    if (!kit::gfortran_run(gfortran_writer(path("g.bin")))) GTEST_SKIP() << "gfortran is not installed";
    Open_Dir o;
    o.recl = 24;
    o.byte_recl = true;
    o.status = "OLD";
    // We read gfortran's file, records in an order of our own.
    ASSERT_EQ(open_dir(21, path("g.bin"), o), 0);
    for (int r : {3, 1, 2, 5, 4}) {
        Rec_Values got{};
        ASSERT_EQ(read_rec(21, r, [&](kit::List &l) { l.item(got.i).item(got.d).chars(got.c, 3).array(got.a, 2); }), 0);
        Rec_Values want = values_of(r, r == 2 ? 1 : 0);
        EXPECT_EQ(got.i, want.i) << "record " << r;
        EXPECT_EQ(got.d, want.d) << "record " << r;
        EXPECT_EQ(std::string(got.c, 3), std::string(want.c, 3)) << "record " << r;
        EXPECT_EQ(got.a[0], want.a[0]);
        EXPECT_EQ(got.a[1], want.a[1]);
    }
    ASSERT_EQ(kit::close_unit(21), 0);
    // gfortran reads ours.
    Open_Dir w;
    w.recl = 6;
    our_writer(22, path("v.bin"), w);
    std::string p =
        "program p\n  integer :: r, i\n  real(8) :: d\n  character(3) :: c\n  integer(2) :: a(2)\n"
        "  open (10, file='" +
        path("v.bin") +
        "', access='direct', form='unformatted', recl=24, status='old')\n"
        "  do r = 5, 1, -1\n    read (10, rec=r) i, d, c, a\n    print '(i0,1x,f0.2,1x,a,1x,i0,1x,i0)', i, d, c, a\n"
        "  end do\nend program p\n";
    auto lines = kit::gfortran_lines(p);
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 5u);
    for (int r = 5; r >= 1; --r) {
        Rec_Values v = values_of(r, r == 2 ? 1 : 0);
        char want[80];
        std::snprintf(want, sizeof want, "%d %.2f %.3s %d %d", v.i, v.d, v.c, v.a[0], v.a[1]);
        std::string w2 = want;
        if (w2.find(" 0.") != std::string::npos) w2.replace(w2.find(" 0."), 3, " .");  // f0.2 drops the zero
        EXPECT_EQ((*lines)[static_cast<size_t>(5 - r)], w2);
    }
}

TEST_F(Direct, FormattedRecordsMatchGfortran) {
    // Out of order, blank-padded, one WRITE asking for three records with
    // '/', and a record overwritten.
    const std::string g = "program p\n  open (10, file='" + path("g.txt") +
                          "', access='direct', form='formatted', recl=10, status='replace')\n"
                          "  write (10, '(i4,a)', rec=3) 33, 'ab'\n  write (10, '(i3/a/f6.2)', rec=5) 7, 'xyz', 2.5\n"
                          "  write (10, '(a)', rec=1) 'first'\n  write (10, '(i4,a)', rec=3) 44, 'cd'\n"
                          "  close (10)\n  print '(a)', 'done'\nend program p\n";
    if (!kit::gfortran_run(g)) GTEST_SKIP() << "gfortran is not installed";
    Open_Dir o;
    o.form = "FORMATTED";
    o.recl = 10;
    ASSERT_EQ(open_dir(23, path("v.txt"), o), 0);
    int32_t i33 = 33, i7 = 7, i44 = 44;
    float f = 2.5f;
    std::string ab = "ab", xyz = "xyz", first = "first", cd = "cd";
    ASSERT_EQ(write_fmt(23, 3, "(i4,a)", [&](kit::List &l) { l.item(i33).chars(ab); }), 0);
    ASSERT_EQ(write_fmt(23, 5, "(i3/a/f6.2)", [&](kit::List &l) { l.item(i7).chars(xyz).item(f); }), 0);
    ASSERT_EQ(write_fmt(23, 1, "(a)", [&](kit::List &l) { l.chars(first); }), 0);
    ASSERT_EQ(write_fmt(23, 3, "(i4,a)", [&](kit::List &l) { l.item(i44).chars(cd); }), 0);
    ASSERT_EQ(kit::close_unit(23), 0);
    EXPECT_EQ(file_bytes(path("v.txt")), file_bytes(path("g.txt")));

    // Reading back across the records a format asks for.
    o.status = "OLD";
    ASSERT_EQ(open_dir(23, path("g.txt"), o), 0);
    int32_t a = 0;
    std::string s(3, '?');
    float x = 0;
    ASSERT_EQ(read_fmt(23, 5, "(i3/a3/f6.2)", [&](kit::List &l) { l.item(a).chars(s).item(x); }), 0);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(s, "xyz");
    EXPECT_EQ(x, 2.5f);
    // A record that is all blanks past its data reads as blanks (PAD).
    std::string whole(10, '?');
    ASSERT_EQ(read_fmt(23, 1, "(a10)", [&](kit::List &l) { l.chars(whole); }), 0);
    EXPECT_EQ(whole, "first     ");
    ASSERT_EQ(kit::close_unit(23), 0);
}

// -- The direct file buffer ------------------------------------------------

TEST_F(Direct, ConsecutiveRecordsGoOutInOneWriteWhenAnotherRecordIsUsed) {
    Open_Dir o;
    o.recl = 2;  // 8 bytes
    o.buffered = "YES";
    ASSERT_EQ(open_dir(24, path("b.bin"), o), 0);
    for (int r = 1; r <= 3; ++r) ASSERT_EQ(write_int(24, r, r), 0);
    EXPECT_EQ(file_size(path("b.bin")), 0) << "records 1 to 3 are still pending";
    uint64_t writes_before = 0;
    with_unit(24, [&](For_Lub *lub) { writes_before = lub->lub_dir_writes; });
    ASSERT_EQ(write_int(24, 10, 10), 0);
    with_unit(24, [&](For_Lub *lub) {
        EXPECT_EQ(lub->lub_dir_writes - writes_before, 1u) << "one write for the three records";
        EXPECT_EQ(lub->lub_dir_bytes_out, 24u);
    });
    EXPECT_EQ(file_size(path("b.bin")), 24) << "records 1 to 3, record 10 pending";
    // FLUSH puts the pending record out.
    For_Context ctx{};
    ASSERT_EQ(for_flush(&ctx, 24, kit::Flags{}.iostat(), nullptr, nullptr), 0);
    EXPECT_EQ(file_size(path("b.bin")), 80);
    ASSERT_EQ(kit::close_unit(24), 0);
    Bytes b = file_bytes(path("b.bin"));
    ASSERT_EQ(b.size(), 80u);
    for (int r : {1, 2, 3, 10}) {
        int32_t v = 0;
        std::memcpy(&v, &b[static_cast<size_t>(r - 1) * 8], 4);
        EXPECT_EQ(v, r);
        for (int k = 4; k < 8; ++k) EXPECT_EQ(b[static_cast<size_t>(r - 1) * 8 + k], 0) << "zero fill";
    }
}

TEST_F(Direct, ReadsNeverSeeStaleRecordsAfterWrites) {
    Open_Dir o;
    o.recl = 1;
    o.buffered = "YES";
    ASSERT_EQ(open_dir(25, path("c.bin"), o), 0);
    for (int r = 1; r <= 4; ++r) ASSERT_EQ(write_int(25, r, r), 0);
    int32_t v = 0;
    // Served from the records just written.
    ASSERT_EQ(read_int(25, 2, &v), 0);
    EXPECT_EQ(v, 2);
    ASSERT_EQ(read_int(25, 3, &v), 0);  // the buffer now caches what was read
    ASSERT_EQ(write_int(25, 3, 333), 0);
    ASSERT_EQ(read_int(25, 3, &v), 0);
    EXPECT_EQ(v, 333) << "a READ after a WRITE of the record returns the new data";
    // Past the end: 36; once written, the record exists.
    EXPECT_EQ(read_int(25, 9, &v), msg::nonexistent_record);
    ASSERT_EQ(write_int(25, 9, 9), 0);
    ASSERT_EQ(read_int(25, 9, &v), 0) << "no false 36 for a record just written";
    EXPECT_EQ(v, 9);
    // REWRITE replaces the record read last.
    ASSERT_EQ(read_int(25, 2, &v), 0);
    {
        int32_t nv = 222;
        kit::Stmt w(25);
        w.flags.iostat();
        w.items.item(nv).end();
        ASSERT_EQ(w.run(for_rewrite, 0, for_rewrite_xmit), 0);
    }
    ASSERT_EQ(read_int(25, 2, &v), 0);
    EXPECT_EQ(v, 222);
    ASSERT_EQ(read_int(25, 1, &v), 0);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(kit::close_unit(25), 0);
    Bytes b = file_bytes(path("c.bin"));
    ASSERT_EQ(b.size(), 36u);
    int32_t r3 = 0, r2 = 0;
    std::memcpy(&r3, &b[8], 4);
    std::memcpy(&r2, &b[4], 4);
    EXPECT_EQ(r3, 333);
    EXPECT_EQ(r2, 222);
}

TEST_F(Direct, ShortLastRecordIsCompletedWithTheRecordFill) {
    // Records 1 and 2 full of 0xAA and 0xCC, then a quarter of a record of
    // 0xBB: the file ends inside record 3. Record 2 read alone leaves its
    // bytes in the buffer where record 3 is read next.
    Bytes b(16, 0xAA);
    b.insert(b.end(), 16, 0xCC);
    b.insert(b.end(), 4, 0xBB);
    put_file(path("s.bin"), b);
    Open_Dir o;
    o.recl = 4;
    o.status = "OLD";
    ASSERT_EQ(open_dir(26, path("s.bin"), o), 0);
    unsigned char got[16];
    ASSERT_EQ(read_rec(26, 2, [&](kit::List &l) { l.array(got, 16); }), 0);
    EXPECT_EQ(got[15], 0xCC);
    ASSERT_EQ(read_rec(26, 3, [&](kit::List &l) { l.array(got, 16); }), 0);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(got[k], 0xBB);
    for (int k = 4; k < 16; ++k) EXPECT_EQ(got[k], 0) << "byte " << k << " is not a byte of record 2";
    ASSERT_EQ(kit::close_unit(26), 0);

    // Formatted: the rest is blanks.
    const std::string text = "12345678abcdefghxy";
    put_file(path("s.txt"), Bytes(text.begin(), text.end()));
    Open_Dir f;
    f.form = "FORMATTED";
    f.recl = 8;
    f.status = "OLD";
    ASSERT_EQ(open_dir(27, path("s.txt"), f), 0);
    std::string line(8, '?');
    ASSERT_EQ(read_fmt(27, 2, "(a8)", [&](kit::List &l) { l.chars(line); }), 0);
    EXPECT_EQ(line, "abcdefgh");
    ASSERT_EQ(read_fmt(27, 3, "(a8)", [&](kit::List &l) { l.chars(line); }), 0);
    EXPECT_EQ(line, "xy      ");
    ASSERT_EQ(kit::close_unit(27), 0);
}

TEST_F(Direct, BinaryRecordsContinueIntoTheNext) {
    Open_Dir o;
    o.form = "BINARY";
    o.recl = 4;  // bytes: BINARY never counts in 4-byte units
    ASSERT_EQ(open_dir(28, path("bin.bin"), o), 0);
    int32_t v[3] = {11, 22, 33};
    ASSERT_EQ(write_rec(28, 2, [&](kit::List &l) { l.array(v, 3); }), 0);
    int32_t back[3] = {};
    ASSERT_EQ(read_rec(28, 2, [&](kit::List &l) { l.array(back, 3); }), 0);
    EXPECT_EQ(back[2], 33);
    int32_t next = 0;
    ASSERT_EQ(read_int(28, 4, &next), 0);
    EXPECT_EQ(next, 33);
    ASSERT_EQ(kit::close_unit(28), 0);
    EXPECT_EQ(file_size(path("bin.bin")), 16);

    // Any other form: 66, nothing written.
    Open_Dir u;
    u.recl = 1;
    ASSERT_EQ(open_dir(29, path("ovf.bin"), u), 0);
    EXPECT_EQ(write_rec(29, 1, [&](kit::List &l) { l.array(v, 3); }), msg::output_overflows_record);
    ASSERT_EQ(kit::close_unit(29), 0);
    EXPECT_EQ(file_size(path("ovf.bin")), 0);
}

// -- FIND, DELETE and the associated variable ------------------------------

TEST_F(Direct, AssociatedVariableOfEachKind) {
    struct Case {
        int kind;
        int size;
    };
    const Case cases[] = {{FOR_TYPE_INT1, 1}, {FOR_TYPE_INT2, 2},     {FOR_TYPE_INT4, 4},
                          {FOR_TYPE_INT8, 8}, {FOR_TYPE_LOGICAL2, 2}, {FOR_TYPE_LOGICAL8, 8}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        unsigned char var[8];
        std::memset(var, 0x55, sizeof var);
        Open_Dir o;
        o.recl = 1;
        o.assoc = var;
        o.assoc_kind = c.kind;
        ASSERT_EQ(open_dir(30, path("a.bin"), o), 0);
        auto value = [&]() {
            int64_t v = 0;
            std::memcpy(&v, var, static_cast<size_t>(c.size));
            return v;
        };
        ASSERT_EQ(write_int(30, 5, 50), 0);
        EXPECT_EQ(value(), 6);
        EXPECT_EQ(var[c.size % 8], c.size == 8 ? 6 : 0x55) << "only the variable's own bytes";
        int32_t v = 0;
        ASSERT_EQ(read_int(30, 5, &v), 0);
        EXPECT_EQ(value(), 6) << "after READ (REC=5) the next record";
        ASSERT_EQ(find_rec(30, 5), 0);
        EXPECT_EQ(value(), 5) << "after FIND (REC=5) the record found";
        ASSERT_EQ(kit::close_unit(30), 0);
    }
}

TEST_F(Direct, DeletedRelativeRecordIsMarkedAndNoLongerExists) {
    Open_Dir o;
    o.recl = 8;
    o.byte_recl = true;
    o.organization = "RELATIVE";
    o.options = iof_opt_a;  // unit option bit 0: records carry their marker byte
    ASSERT_EQ(open_dir(31, path("r.bin"), o), 0);
    for (int r = 1; r <= 3; ++r) ASSERT_EQ(write_int(31, r, r * 7), 0);
    int32_t v = 0;
    ASSERT_EQ(read_int(31, 1, &v), 0);  // the buffer now holds records 1 to 3
    ASSERT_EQ(delete_rec(31, 3), 0);
    EXPECT_EQ(read_int(31, 3, &v), msg::nonexistent_record);
    EXPECT_EQ(read_int(31, 7, &v), msg::nonexistent_record);
    ASSERT_EQ(read_int(31, 2, &v), 0);
    EXPECT_EQ(v, 14);
    ASSERT_EQ(kit::close_unit(31), 0);
    // Each record is its marker and then the RECL=8 bytes of data.
    Bytes b = file_bytes(path("r.bin"));
    ASSERT_EQ(b.size(), 27u);
    EXPECT_EQ(b[0], ' ');
    EXPECT_EQ(b[1], 7) << "the data follows the marker";
    EXPECT_EQ(b[9], ' ');
    EXPECT_EQ(b[10], 14);
    EXPECT_EQ(b[18], '@');
    for (int k = 19; k < 27; ++k) EXPECT_EQ(b[static_cast<size_t>(k)], 0);

    // DELETE on a sequential-organization file: 55.
    Open_Dir s;
    s.recl = 1;
    ASSERT_EQ(open_dir(32, path("n.bin"), s), 0);
    EXPECT_EQ(delete_rec(32, 1), msg::delete_error);
    ASSERT_EQ(kit::close_unit(32), 0);
}

TEST_F(Direct, FindOnAUnitThatIsNotDirectGives26) {
    kit::Keys k;
    k.text(FOR_KEY_FILE, path("q.txt")).text(FOR_KEY_STATUS, "REPLACE");
    ASSERT_EQ(kit::open_unit(33, k), 0);
    EXPECT_EQ(find_rec(33, 1), msg::open_required);
    int32_t v = 1;
    EXPECT_EQ(write_rec(33, 1, [&](kit::List &l) { l.item(v); }), msg::mixed_access_modes)
        << "an unformatted statement on a formatted unit";
    ASSERT_EQ(kit::close_unit(33), 0);
}

TEST_F(Direct, DefineFileConnectsOnFirstUse) {
    // DEFINE FILE (36, 4 records, RECL 2 two-byte units, U, assoc): the
    // file (fort.36 in the working directory) is opened by FIND.
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(scratch_.dir());
    int32_t assoc = -1;
    For_Context ctx{};
    ASSERT_EQ(for_define_file(&ctx, 36, kit::Flags{}.iostat(), 4, 2, &assoc, FOR_TYPE_INT4), 0);
    EXPECT_EQ(find_rec(36, 3), 0);
    EXPECT_EQ(assoc, 3);
    ASSERT_EQ(write_int(36, 3, 77), 0);
    EXPECT_EQ(assoc, 4);
    EXPECT_EQ(write_int(36, 5, 1), msg::rec_out_of_range) << "beyond the 4 records defined";
    int32_t v = 0;
    ASSERT_EQ(read_int(36, 3, &v), 0);
    EXPECT_EQ(v, 77);
    ASSERT_EQ(kit::close_unit(36), 0);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(file_size(path("fort.36")), 12);
}

TEST_F(Direct, FormattedRewriteReplacesTheRecordReadLast) {
    Open_Dir o;
    o.form = "FORMATTED";
    o.recl = 6;
    ASSERT_EQ(open_dir(37, path("rw.txt"), o), 0);
    for (int32_t r = 1; r <= 3; ++r) ASSERT_EQ(write_fmt(37, r, "(i6)", [&](kit::List &l) { l.item(r); }), 0);
    int32_t v = 0;
    ASSERT_EQ(read_fmt(37, 2, "(i6)", [&](kit::List &l) { l.item(v); }), 0);
    EXPECT_EQ(v, 2);
    {
        std::string text = "two";
        kit::Stmt w(37);
        w.flags.iostat().fmt_text();
        w.items.chars(text).end();
        const std::string fmt = "(a)";
        For_Char_Format f{static_cast<int64_t>(fmt.size()), fmt.data()};
        ASSERT_EQ(w.run(for_rewrite_fmt, 0, &f, for_rewrite_fmt_xmit), 0);
    }
    ASSERT_EQ(kit::close_unit(37), 0);
    const std::string want = "     1two        3";
    EXPECT_EQ(file_bytes(path("rw.txt")), Bytes(want.begin(), want.end()));
    // REWRITE on a unit that is not connected: 53, nothing is opened.
    int32_t x = 1;
    kit::Stmt w(38);
    w.flags.iostat();
    w.items.item(x).end();
    EXPECT_EQ(w.run(for_rewrite, 0, for_rewrite_xmit), msg::no_current_record);
}

TEST_F(Direct, ReadsCopyOnlyWhatTheyServe) {
    Open_Dir o;
    o.recl = 2;  // 8 bytes
    o.buffered = "YES";
    ASSERT_EQ(open_dir(39, path("seq.bin"), o), 0);
    for (int r = 1; r <= 100; ++r) ASSERT_EQ(write_int(39, r, r), 0);
    ASSERT_EQ(kit::close_unit(39), 0);
    o.status = "OLD";
    ASSERT_EQ(open_dir(39, path("seq.bin"), o), 0);
    int32_t v = 0;
    // In sequence: the first READ fills the buffer, the others are served.
    for (int r = 1; r <= 100; ++r) {
        ASSERT_EQ(read_int(39, r, &v), 0);
        ASSERT_EQ(v, r);
    }
    with_unit(39, [](For_Lub *lub) { EXPECT_EQ(lub->lub_dir_bytes_in, 800u); });
    // Out of sequence, outside the records held: one record each.
    ASSERT_EQ(kit::close_unit(39), 0);
    ASSERT_EQ(open_dir(39, path("seq.bin"), o), 0);
    for (int r : {50, 7, 93, 20}) {
        ASSERT_EQ(read_int(39, r, &v), 0);
        EXPECT_EQ(v, r);
    }
    with_unit(39, [](For_Lub *lub) { EXPECT_EQ(lub->lub_dir_bytes_in, 32u); });
    ASSERT_EQ(kit::close_unit(39), 0);

    // Unbuffered: each record is in the file once written.
    Open_Dir u;
    u.recl = 1;
    u.buffered = "NO";
    ASSERT_EQ(open_dir(39, path("unbuf.bin"), u), 0);
    for (int r = 1; r <= 3; ++r) {
        ASSERT_EQ(write_int(39, r, r), 0);
        EXPECT_EQ(file_size(path("unbuf.bin")), 4 * r);
    }
    ASSERT_EQ(kit::close_unit(39), 0);
}

TEST_F(Direct, StatementsTheConnectionDoesNotAdmit) {
    Open_Dir ro;
    ro.recl = 1;
    ASSERT_EQ(open_dir(41, path("ro.bin"), ro), 0);
    ASSERT_EQ(write_int(41, 1, 1), 0);
    ASSERT_EQ(kit::close_unit(41), 0);
    kit::Keys k;
    k.text(FOR_KEY_FILE, path("ro.bin")).text(FOR_KEY_ACCESS, "DIRECT").text(FOR_KEY_FORM, "UNFORMATTED");
    k.value(FOR_KEY_RECL, 1).value(FOR_KEY_READONLY, 1);
    ASSERT_EQ(kit::open_unit(41, k), 0);
    EXPECT_EQ(write_int(41, 1, 2), msg::write_to_readonly);
    EXPECT_EQ(delete_rec(41, 1), msg::write_to_readonly);
    ASSERT_EQ(kit::close_unit(41), 0);
    EXPECT_EQ(file_bytes(path("ro.bin")), (Bytes{1, 0, 0, 0}));

    // A sequential unit: 554.
    kit::Keys seq;
    seq.text(FOR_KEY_FILE, path("seq.bin")).text(FOR_KEY_FORM, "UNFORMATTED").text(FOR_KEY_STATUS, "REPLACE");
    ASSERT_EQ(kit::open_unit(42, seq), 0);
    int32_t v = 0;
    EXPECT_EQ(read_int(42, 1, &v), msg::direct_io_not_consistent_open);
    EXPECT_EQ(write_int(42, 1, 1), msg::direct_io_not_consistent_open);
    ASSERT_EQ(kit::close_unit(42), 0);

    // An editing mode on an unformatted statement: 114.
    Open_Dir o;
    o.recl = 1;
    ASSERT_EQ(open_dir(43, path("mode.bin"), o), 0);
    kit::Stmt w(43);
    w.flags.iostat();
    w.control.decimal("COMMA");
    w.items.item(v).end();
    EXPECT_EQ(w.run(for_write_dir, 1, for_write_dir_xmit), msg::keyword_not_unformatted);
    ASSERT_EQ(kit::close_unit(43), 0);
    EXPECT_EQ(file_size(path("mode.bin")), 0);

    // A relative record never written, inside the file: its marker is 0.
    Open_Dir rel;
    rel.recl = 8;
    rel.byte_recl = true;
    rel.organization = "RELATIVE";
    rel.options = iof_opt_a;
    ASSERT_EQ(open_dir(44, path("hole.bin"), rel), 0);
    ASSERT_EQ(write_int(44, 5, 5), 0);
    EXPECT_EQ(read_int(44, 4, &v), msg::nonexistent_record);
    ASSERT_EQ(read_int(44, 5, &v), 0);
    EXPECT_EQ(v, 5);
    ASSERT_EQ(kit::close_unit(44), 0);
}

// Keyed connections and child statements of defined I/O: refused with
// their own texts, nothing written.
TEST_F(Direct, KeyedUnitsAndChildStatementsAreRefused) {
    Open_Dir o;
    o.recl = 1;
    ASSERT_EQ(open_dir(45, path("keyed.bin"), o), 0);
    // No OPEN makes a keyed connection yet: the unit is marked as one
    // would be, to show what the statements make of it.
    with_unit(45, [](For_Lub *lub) { lub->lub_flags |= lubf::access_keyed; });
    std::string text(120, ' ');
    int32_t v = 5;
    {
        // IOSTAT= receives 31 and IOMSG= its text, as for every mismatch
        // of access; the diagnostic names the keyed connection.
        kit::Stmt w(45);
        w.flags.iostat();
        w.control.iomsg(text);
        w.items.item(v).end();
        EXPECT_EQ(w.run(for_write_dir, 1, for_write_dir_xmit), msg::mixed_access_modes);
        EXPECT_EQ(text.substr(0, 24), "mixed file access modes,");
    }
    const std::string said = diagnostic_of([&] {
        kit::Stmt w(45);
        w.items.item(v).end();
        w.run(for_write_dir, 1, for_write_dir_xmit);
    });
    EXPECT_NE(said.find("direct-access I/O to unit open for keyed access, unit 45, file "), std::string::npos) << said;
    EXPECT_EQ(read_int(45, 1, &v), msg::mixed_access_modes);
    with_unit(45, [](For_Lub *lub) { lub->lub_flags &= ~lubf::access_keyed; });
    ASSERT_EQ(kit::close_unit(45), 0);
    EXPECT_EQ(file_size(path("keyed.bin")), 0);

    // A child data transfer (a defined I/O procedure running on the unit)
    // may not name a record.
    ASSERT_EQ(open_dir(46, path("child.bin"), o), 0);
    ASSERT_EQ(write_int(46, 2, 2), 0);
    with_unit(46, [](For_Lub *lub) { lub->lub_udio_depth = 1; });
    {
        kit::Stmt w(46);
        w.flags.iostat();
        w.control.iomsg(text);
        w.items.item(v).end();
        EXPECT_EQ(w.run(for_write_dir, 1, for_write_dir_xmit), msg::udio_pos_rec);
        EXPECT_EQ(text.substr(0, 55), "a UDIO child routine may not use POS= or REC=, unit 46,");
    }
    EXPECT_EQ(read_int(46, 2, &v), msg::udio_pos_rec);
    EXPECT_EQ(v, 5) << "nothing read";
    with_unit(46, [](For_Lub *lub) { lub->lub_udio_depth = 0; });
    ASSERT_EQ(kit::close_unit(46), 0);
    EXPECT_EQ(file_bytes(path("child.bin")), (Bytes{0, 0, 0, 0, 2, 0, 0, 0}));
}

// Formatted direct records under the compatibility option end with CR LF
// after their RECL characters; a READ sees the characters only.
TEST_F(Direct, CompatibilityRecordsEndWithCrLf) {
    Open_Dir o;
    o.form = "FORMATTED";
    o.recl = 6;
    o.options = iof_opt_c;
    ASSERT_EQ(open_dir(47, path("crlf.txt"), o), 0);
    std::string full = "cdefgh", part = "ab";
    ASSERT_EQ(write_fmt(47, 2, "(a)", [&](kit::List &l) { l.chars(part); }), 0);
    ASSERT_EQ(write_fmt(47, 1, "(a)", [&](kit::List &l) { l.chars(full); }), 0);
    std::string got(6, '?');
    ASSERT_EQ(read_fmt(47, 2, "(a6)", [&](kit::List &l) { l.chars(got); }), 0);
    EXPECT_EQ(got, "ab    ");
    ASSERT_EQ(read_fmt(47, 1, "(a6)", [&](kit::List &l) { l.chars(got); }), 0);
    EXPECT_EQ(got, "cdefgh");
    // The terminator is no data: a seventh character is more than the record.
    std::string seven(7, '?');
    EXPECT_EQ(read_fmt(47, 1, "(a7)", [&](kit::List &l) { l.chars(seven); }), msg::input_too_much_data);
    std::string over = "1234567";
    EXPECT_EQ(write_fmt(47, 3, "(a)", [&](kit::List &l) { l.chars(over); }), msg::output_overflows_record);
    ASSERT_EQ(kit::close_unit(47), 0);
    const std::string want = "cdefgh\r\nab    \r\n";
    EXPECT_EQ(file_bytes(path("crlf.txt")), Bytes(want.begin(), want.end()));
}

// -- Bad input -------------------------------------------------------------

TEST_F(Direct, BadRecordNumbersGive25AndWriteNothing) {
    struct Case {
        const char *name;
        int64_t rec;
        int64_t maxrec;
    };
    const Case cases[] = {
        {"REC=0", 0, 0},
        {"negative", -3, 0},
        {"2**62: its offset does not fit", int64_t{1} << 62, 0},
        {"the largest record number", INT64_MAX, 0},
        {"above MAXREC", 11, 10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Open_Dir o;
        o.recl = 4;
        o.maxrec = c.maxrec;
        ASSERT_EQ(open_dir(34, path("bad.bin"), o), 0);
        EXPECT_EQ(write_int(34, c.rec, 1), msg::rec_out_of_range);
        int32_t v = 0;
        EXPECT_EQ(read_int(34, c.rec, &v), msg::rec_out_of_range);
        EXPECT_EQ(find_rec(34, c.rec), msg::rec_out_of_range);
        std::string text = "x";
        EXPECT_EQ(write_fmt(34, c.rec, "(a)", [&](kit::List &l) { l.chars(text); }), msg::mixed_access_modes);
        ASSERT_EQ(kit::close_unit(34), 0);
        EXPECT_EQ(file_size(path("bad.bin")), 0);
    }
}

TEST_F(Direct, BadRecordLengthsAndAssociatedVariableKinds) {
    Open_Dir zero;
    zero.recl = 0;
    EXPECT_EQ(open_dir(35, path("z.bin"), zero), msg::inconsistent_record_length) << "RECL=0";
    Open_Dir huge;
    huge.recl = int64_t{1} << 62;
    EXPECT_EQ(open_dir(35, path("h.bin"), huge), msg::recl_value_must_positive_number)
        << "RECL of 2**62 units: its byte count does not fit";
    Open_Dir vast;
    vast.recl = int64_t{1} << 50;
    vast.byte_recl = true;
    EXPECT_EQ(open_dir(35, path("v.bin"), vast), msg::no_memory) << "a record no buffer can hold";
    EXPECT_LE(file_size(path("v.bin")), 0);
    // An associated variable of a kind that is no integer: 48, nothing written.
    double wrong = 0;
    Open_Dir o;
    o.recl = 1;
    o.assoc = &wrong;
    o.assoc_kind = FOR_TYPE_REAL8;
    ASSERT_EQ(open_dir(35, path("k.bin"), o), 0);
    EXPECT_EQ(write_int(35, 1, 1), msg::invalid_argument);
    EXPECT_EQ(find_rec(35, 1), msg::invalid_argument);
    EXPECT_EQ(wrong, 0.0);
    ASSERT_EQ(kit::close_unit(35), 0);
    EXPECT_EQ(file_size(path("k.bin")), 0);
}

// -- Pending records at every ending of the program ------------------------

TEST_F(Direct, PendingRecordsReachTheFileAtEveryEnding) {
    struct Case {
        const char *name;
        int how;
    };
    const Case cases[] = {{"STOP", 0}, {"ERROR STOP", 1}, {"a severe error on the unit", 2}, {"for_rtl_finish_", 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = path(std::string("end") + std::to_string(c.how) + ".bin");
        std::fflush(nullptr);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Open_Dir o;
            o.recl = 1;
            o.buffered = "YES";
            if (open_dir(40, file, o) != 0) _exit(90);
            for (int r = 1; r <= 3; ++r)
                if (write_int(40, r, r * 11) != 0) _exit(91);
            // Nothing is in the file yet: the ending has to put it there.
            if (file_size(file) != 0) _exit(92);
            int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            switch (c.how) {
            case 0: for_stop_core(nullptr, 0, 0, 0, 0); break;
            case 1: for_error_stop(nullptr, 0, 0, 0, 0); break;
            case 2: {
                // REC=0 without IOSTAT=: the diagnostic ends the program.
                int32_t v = 1;
                kit::Stmt w(40);
                w.items.item(v).end();
                w.run(for_write_dir, 0, for_write_dir_xmit);
                break;
            }
            case 3: for_rtl_finish_(); _exit(0);
            }
            _exit(93);
        }
        int st = 0;
        ASSERT_EQ(waitpid(pid, &st, 0), pid);
        ASSERT_TRUE(WIFEXITED(st));
        EXPECT_TRUE(WEXITSTATUS(st) < 90 || WEXITSTATUS(st) > 93)
            << "the child failed before its ending: " << WEXITSTATUS(st);
        Bytes b = file_bytes(file);
        ASSERT_EQ(b.size(), 12u);
        for (int r = 1; r <= 3; ++r) {
            int32_t v = 0;
            std::memcpy(&v, &b[static_cast<size_t>(r - 1) * 4], 4);
            EXPECT_EQ(v, r * 11);
        }
    }
}

}  // namespace
