// Formatted record buffers, driven through the statement frame by a test
// statement kind whose transfer puts raw characters into the record ("/"
// ends the record, as the slash edit descriptor does) or takes whole
// records. Files are compared with what gfortran writes for the same
// records where the layout is the common one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "io/for_stmt.h"
#include "io/for_tty_pair.h"
#include "support/kit.h"
#include "runtime/for_vm.h"
#include "support/oracle.h"
#include "units/for_lub_mgt.h"

// System calls counted per descriptor: the test links with --wrap.
namespace {
int count_fd = -1;
int writes_seen = 0, reads_seen = 0;
}  // namespace
extern "C" ssize_t __real_write(int, const void *, size_t);
extern "C" ssize_t __real_read(int, void *, size_t);
extern "C" ssize_t __wrap_write(int fd, const void *p, size_t n) {
    if (fd == count_fd) ++writes_seen;
    return __real_write(fd, p, n);
}
extern "C" ssize_t __wrap_read(int fd, void *p, size_t n) {
    if (fd == count_fd) ++reads_seen;
    return __real_read(fd, p, n);
}

namespace {

// What OPEN would set up for a formatted sequential unit.
struct Conn {
    std::string path;
    int fd = -1;       // use this descriptor instead of opening path
    std::string name;  // file name when fd is given
    For_Rec_Type type = For_Rec_Type::stream_lf;
    For_Cc cc = For_Cc::list;
    uint64_t rec_len = 134;  // RECL 132 + LF + LIST's line end
    uint64_t buf_size = 8192;
    bool recl_default = true;
    bool buffered = false;
    bool truncate = true;  // a positionable file that is not appended
    uint64_t flags = 0;
    bool table = false;  // join the file table (terminal pairing)
};

void open_unit(int unit, const Conn &c) {
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(unit, &lub, nullptr, FOR_OP_OPEN), 0);
    int fd = c.fd >= 0 ? c.fd : ::open(c.path.c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(fd, 0) << c.path;
    struct stat st;
    ASSERT_EQ(::fstat(fd, &st), 0);
    lub->lub_fd = fd;
    lub->lub_flags |= lubf::opened | lubf::formatted | lubf::access_seq | c.flags;
    if (S_ISREG(st.st_mode)) {
        lub->lub_flags |= lubf::positionable;
        if (c.truncate) lub->lub_flags |= lubf::truncate_after_write;
    }
    if (c.recl_default) lub->lub_flags |= lubf::recl_defaulted;
    if (c.buffered) lub->lub_flags |= lubf::output_buffered;
    lub->lub_record_type = static_cast<uint8_t>(c.type);
    lub->lub_carriage_control = static_cast<uint8_t>(c.cc);
    lub->lub_rec_len = c.rec_len;
    lub->lub_buf_size = c.buf_size;
    lub->lub_record_number = 1;
    void *buf = nullptr;
    ASSERT_EQ(for__get_vm(static_cast<int64_t>(c.buf_size + 16), 0, &buf), 0);
    lub->lub_buf = lub->lub_buf_ptr = lub->lub_rec_start = static_cast<char *>(buf);
    lub->lub_buf_limit = lub->lub_buf + c.rec_len;
    std::string name = c.fd >= 0 ? c.name : c.path;
    lub->lub_file_name = strdup(name.c_str());
    lub->lub_file_name_len = static_cast<int16_t>(name.size());
    if (c.table) {
        ASSERT_EQ(for__add_to_lf_table(lub), 0);
    }
    for__release_lub(lub);
}

// CLOSE as far as the record layer goes: held records are written.
int close_unit(int unit) {
    For_Lub *lub = nullptr;
    if (int s = for__acquire_lun(unit, &lub, nullptr, FOR_OP_CLOSE)) return s;
    int s = 0;
    if (lub->lub_rec_state == rec_output && (lub->lub_flags & lubf::partial_record)) s = for__put_sf(lub);
    if (s == 0) s = for__flush_output(lub);
    for__rm_from_lf_table(lub);
    ::close(lub->lub_fd);
    for__deallocate_lub(unit);
    return s;
}

// The transfers of the test statements.
struct Put {
    int item(For_Lub *lub, const For_Item &it, const For_Shape &) {
        std::string_view t(static_cast<const char *>(it.addr), static_cast<size_t>(it.length));
        if (t == "/") return for__put_sf(lub);
        return for__rec_put(lub, t);
    }
    int finish(For_Lub *lub) { return for__end_output(lub); }
};

std::vector<std::string> got;  // records that the reading statement took
struct Get {
    bool first = true;
    int item(For_Lub *lub, const For_Item &it, const For_Shape &) {
        if (!first)
            if (int s = for__get_s(lub)) return s;
        first = false;
        std::string r(lub->lub_buf_ptr, lub->lub_buf_limit);  // the rest of the record
        got.push_back(r);
        char *dst = static_cast<char *>(it.addr);
        size_t n = static_cast<size_t>(it.length);
        for (size_t i = 0; i < n; ++i) dst[i] = i < r.size() ? r[i] : ' ';
        lub->lub_buf_ptr = lub->lub_buf_limit;
        return 0;
    }
    int finish(For_Lub *lub) { return for__end_input(lub); }
};
Get get_state;

int fail_connect(For_Lub *, int, int, int) { return 29; }  // units are opened by the test
For_Stmt_Kind write_kind{FOR_OP_WRITE_SEQ, true, true, false, "test_rec", 1, 4, 1, fail_connect};
For_Stmt_Kind read_kind{FOR_OP_READ, false, true, false, "test_rec", 1, 1, 1, fail_connect};
For_Stmt_Kind iwrite_kind{FOR_OP_WRITE, true, true, true, "test_rec", 1, 4, 1, fail_connect};
For_Stmt_Kind iread_kind{FOR_OP_READ, false, true, true, "test_rec", 1, 1, 1, fail_connect};

// The internal file of the next internal statement.
struct Ifile {
    char *var;
    uint64_t len, count;
} ifile;

int write_entry(For_Context *ctx, int unit, For_IO_Flags f, const For_Dsc_Lst *d, const For_Value_List *v,
                const For_Dsc_Lst *cd, const For_Value_List *cv) {
    bool internal = unit == FOR_UNIT_INTERNAL;
    For_Lub *lub = nullptr;
    int r = for__stmt_begin(internal ? iwrite_kind : write_kind, {ctx, unit, f, cd, cv}, &lub);
    if (!lub) return r;
    if (internal) for__ifile_setup(lub, ifile.var, ifile.len, ifile.count, true);
    if (int s = for__begin_output(lub)) return for__stmt_fail(lub, s);
    return for__stmt_transfer(ctx, d, v, Put{});
}
int write_xmit(For_Context *ctx, const For_Dsc_Lst *d, const For_Value_List *v) {
    return for__stmt_transfer(ctx, d, v, Put{});
}
int read_entry(For_Context *ctx, int unit, For_IO_Flags f, const For_Dsc_Lst *d, const For_Value_List *v,
               const For_Dsc_Lst *cd, const For_Value_List *cv) {
    bool internal = unit == FOR_UNIT_INTERNAL;
    For_Lub *lub = nullptr;
    int r = for__stmt_begin(internal ? iread_kind : read_kind, {ctx, unit, f, cd, cv}, &lub);
    if (!lub) return r;
    if (internal) for__ifile_setup(lub, ifile.var, ifile.len, ifile.count, false);
    get_state = Get{};
    if (int s = for__begin_input(lub)) return for__stmt_fail(lub, s);
    return for__stmt_transfer(ctx, d, v, get_state);
}

// WRITE (unit, IOSTAT=) with one character item per string.
int write_items(int unit, std::vector<std::string> items, bool advance = true) {
    kit::Stmt st(unit);
    st.flags.iostat();
    if (!advance) st.control.advance("NO");
    for (std::string &s : items) st.items.chars(s);
    st.items.end();
    return st.run(write_entry, write_xmit);
}

// READ (unit, IOSTAT=) into `n` character variables, one record each.
int read_records(int unit, int n, bool advance = true) {
    got.clear();
    std::vector<std::string> vars(static_cast<size_t>(n), std::string(8, '?'));
    kit::Stmt st(unit);
    st.flags.iostat();
    if (!advance) st.control.advance("NO");
    for (std::string &s : vars) st.items.chars(s);
    st.items.end();
    return st.run(read_entry);
}

std::string temp_path(const std::string &tag) {
    const char *dir = std::getenv("VORLIX_TEST_TMP");
    return std::string(dir ? dir : "/tmp") + "/rec_" + tag + "_" + std::to_string(::getpid());
}

std::string file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void put_file(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string unhex(const std::string &hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// A Fortran literal of `s` (quotes doubled).
std::string literal(const std::string &s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("''") : std::string(1, c);
    if (s.size() > 100) return "repeat('" + std::string(1, s[0]) + "', " + std::to_string(s.size()) + ")";
    return r + "'";
}

// The Fortran that dumps a file gfortran wrote as hexadecimal bytes.
const char *dump_sub = R"(
contains
  subroutine dump(name)
    character(*) :: name
    character(len=:), allocatable :: s
    integer :: u, n, i
    open(newunit=u, file=name, access='stream', form='unformatted', status='old')
    inquire(u, size=n)
    allocate(character(n) :: s)
    if (n > 0) read(u) s
    close(u, status='delete')
    do i = 1, n
      write(*, '(z2.2)', advance='no') ichar(s(i:i))
    end do
    write(*, '(a)') ''
  end subroutine
)";

std::string first_line(const std::string &s) { return s.substr(0, s.find('\n')); }

class Rec : public ::testing::Test {
  protected:
    void TearDown() override { count_fd = -1; }
};

// -- Output layouts -------------------------------------------------------

TEST_F(Rec, SequentialFormattedRecordsMatchGfortran) {
    struct Case {
        const char *what;
        std::vector<std::string> records;
        uint64_t buf_size;
    } cases[] = {
        {"several records", {"abc", "de f", "g"}, 8192},
        {"empty records", {"", "x", "", ""}, 8192},
        {"a record longer than RECL grows the area", {"head", std::string(300, 'L'), "tail"}, 8192},
        {"a record longer than the buffer", {std::string(1000, 'M'), "z"}, 256},
    };
    int unit = 100;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string src = "program p\n  integer :: u\n  open(newunit=u, file='rec_seq.txt', status='replace')\n";
        for (const std::string &r : c.records) src += "  write(u, '(a)') " + literal(r) + "\n";
        src += "  close(u)\n  call dump('rec_seq.txt')\n" + std::string(dump_sub) + "end program\n";
        auto oracle = kit::gfortran_run(src);
        if (!oracle) GTEST_SKIP() << "gfortran not installed";

        Conn conn;
        conn.path = temp_path("seq");
        conn.buf_size = c.buf_size;
        ::unlink(conn.path.c_str());
        open_unit(unit, conn);
        for (const std::string &r : c.records) ASSERT_EQ(write_items(unit, {r}), 0);
        ASSERT_EQ(close_unit(unit), 0);
        EXPECT_EQ(file_bytes(conn.path), unhex(first_line(*oracle)));
        ::unlink(conn.path.c_str());
        ++unit;
    }
}

TEST_F(Rec, VariableRecordsCarryTheirLengthBeforeAndAfterAsGfortranWrites) {
    std::vector<std::string> records = {"abcdefghij", "", std::string(300, 'v')};
    std::string src =
        "program p\n  integer :: u\n  open(newunit=u, file='rec_var.bin', form='unformatted', status='replace')\n";
    for (const std::string &r : records) src += r.empty() ? "  write(u)\n" : "  write(u) " + literal(r) + "\n";
    src += "  close(u)\n  call dump('rec_var.bin')\n" + std::string(dump_sub) + "end program\n";
    auto oracle = kit::gfortran_run(src);
    if (!oracle) GTEST_SKIP() << "gfortran not installed";
    Conn conn;
    conn.path = temp_path("var");
    conn.type = For_Rec_Type::variable;
    conn.cc = For_Cc::none;
    conn.rec_len = 132 + 8;
    ::unlink(conn.path.c_str());
    open_unit(110, conn);
    for (const std::string &r : records) ASSERT_EQ(write_items(110, {r}), 0);
    ASSERT_EQ(close_unit(110), 0);
    EXPECT_EQ(file_bytes(conn.path), unhex(first_line(*oracle)));
    ::unlink(conn.path.c_str());
}

TEST_F(Rec, RecordLayoutsByRecordTypeAndCarriageControl) {
    using T = For_Rec_Type;
    using C = For_Cc;
    struct Case {
        const char *what;
        T type;
        C cc;
        uint64_t rec_len;
        uint64_t flags;
        std::vector<std::string> records;
        std::string want;
    } cases[] = {
        {"STREAM_CRLF", T::stream_crlf, C::none, 134, 0, {"ab", ""}, "ab\r\n\r\n"},
        {"STREAM_CR", T::stream_cr, C::none, 133, 0, {"ab", "c"}, "ab\rc\r"},
        {"STREAM has no terminators", T::stream, C::none, 132, 0, {"ab", "cd"}, "abcd"},
        {"FIXED pads with blanks", T::fixed, C::none, 5, 0, {"ab", "abcde", ""}, "ab   abcde     "},
        {"VARIABLE, big-endian length words",
         T::variable,
         C::none,
         140,
         lubf::big_endian,
         {"xyz"},
         std::string("\0\0\0\3xyz\0\0\0\3", 11)},
        {"LIST on a record type without terminator", T::none, C::list, 133, 0, {"ab", ""}, "ab\n\n"},
        {"FORTRAN: blank, 0 and + overprint", T::stream_lf, C::fortran, 139, 0, {" A", "0B", "+C"}, "A\r\n\nB\rC\r"},
        {"FORTRAN: 0 first starts one line down", T::stream_lf, C::fortran, 139, 0, {"0A"}, "\nA\r"},
        {"FORTRAN: 1 is a form feed", T::stream_lf, C::fortran, 139, 0, {"1X", "1Y"}, "\fX\r\n\fY\r"},
        {"FORTRAN: $ leaves the line open", T::stream_lf, C::fortran, 139, 0, {" A", "$P", " B"}, "A\r\nP\nB\r"},
        {"FORTRAN: NUL writes the data alone", T::stream_lf, C::fortran, 139, 0, {std::string("\0Q", 2), "+R"}, "QR\r"},
        {"FORTRAN: an empty record is a blank line", T::stream_lf, C::fortran, 139, 0, {"", ""}, "\r\n\r"},
        {"FORTRAN under the compatibility option",
         T::stream_lf,
         C::fortran,
         139,
         lubf::opt_compat,
         {" A", "0B"},
         "A\r\r\n\r\nB\r"},
        {"FIXED with FORTRAN control: RECL characters, the control character first",
         T::fixed,
         C::fortran,
         8,
         0,
         {"1abc", "12345678", ""},
         "1abc    12345678        "},
        {"FIXED with FORTRAN control: a whole number of records of RECL 80",
         T::fixed,
         C::fortran,
         80,
         0,
         {std::string(79, 'a'), std::string(80, 'b'), " c"},
         std::string(79, 'a') + " " + std::string(80, 'b') + " c" + std::string(78, ' ')},
    };
    int unit = 120;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Conn conn;
        conn.path = temp_path("layout");
        conn.type = c.type;
        conn.cc = c.cc;
        conn.rec_len = c.rec_len;
        conn.flags = c.flags;
        conn.recl_default = c.type != T::fixed;
        ::unlink(conn.path.c_str());
        open_unit(unit, conn);
        for (const std::string &r : c.records) ASSERT_EQ(write_items(unit, {r}), 0);
        ASSERT_EQ(close_unit(unit), 0);
        EXPECT_EQ(file_bytes(conn.path), c.want);
        ::unlink(conn.path.c_str());
        ++unit;
    }
}

TEST_F(Rec, RecordsInOneStatementAndNonAdvancingOutput) {
    Conn conn;
    conn.path = temp_path("nonadv");
    ::unlink(conn.path.c_str());
    open_unit(140, conn);
    ASSERT_EQ(write_items(140, {"ab", "/", "/", "cd"}), 0);  // (a/ /a)
    ASSERT_EQ(write_items(140, {"ef"}, false), 0);
    EXPECT_EQ(file_bytes(conn.path), "ab\n\ncd\n") << "an open record stays in the buffer";
    ASSERT_EQ(write_items(140, {"gh"}, false), 0);
    ASSERT_EQ(write_items(140, {"ij"}), 0);
    ASSERT_EQ(close_unit(140), 0);
    EXPECT_EQ(file_bytes(conn.path), "ab\n\ncd\nefghij\n");
    ::unlink(conn.path.c_str());
}

TEST_F(Rec, OverflowAndWriteFailures) {
    // RECL=4 given: the record area may not grow.
    Conn conn;
    conn.path = temp_path("ovf");
    conn.rec_len = 5;
    conn.recl_default = false;
    ::unlink(conn.path.c_str());
    open_unit(141, conn);
    EXPECT_EQ(write_items(141, {"abcd"}), 0);
    EXPECT_EQ(write_items(141, {"abcde"}), msg::output_overflows_record);
    ASSERT_EQ(close_unit(141), 0);
    EXPECT_EQ(file_bytes(conn.path), "abcd\n");
    ::unlink(conn.path.c_str());

    // FIXED records with FORTRAN control hold RECL characters, no more.
    Conn fixed;
    fixed.path = temp_path("ovf_fixed");
    fixed.type = For_Rec_Type::fixed;
    fixed.cc = For_Cc::fortran;
    fixed.rec_len = 8;
    fixed.recl_default = false;
    ::unlink(fixed.path.c_str());
    open_unit(143, fixed);
    EXPECT_EQ(write_items(143, {"1abcdefg"}), 0);
    EXPECT_EQ(write_items(143, {"1abcdefgh"}), msg::output_overflows_record);
    EXPECT_EQ(write_items(143, {"+x"}), 0);
    ASSERT_EQ(close_unit(143), 0);
    EXPECT_EQ(file_bytes(fixed.path), "1abcdefg+x      ");
    ::unlink(fixed.path.c_str());

    // A descriptor that cannot be written: 38, errno kept for the diagnostic.
    Conn ro;
    ro.path = temp_path("ro");
    put_file(ro.path, "");
    ro.fd = ::open(ro.path.c_str(), O_RDONLY);
    ro.name = ro.path;
    open_unit(142, ro);
    EXPECT_EQ(write_items(142, {"x"}), msg::write_error);
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(142, &lub, nullptr, FOR_OP_INQUIRE), 0);
    EXPECT_EQ(lub->lub_errno, static_cast<uint64_t>(EBADF));
    for__release_lub(lub);
    close_unit(142);
    ::unlink(ro.path.c_str());
}

// -- Buffering ------------------------------------------------------------

TEST_F(Rec, BufferedOutputReachesTheDescriptorInLargeWrites) {
    struct Case {
        const char *what;
        bool buffered;
        bool pipe;
    } cases[] = {
        {"buffered, regular file", true, false},
        {"buffered, pipe", true, true},
        {"unbuffered writes each record", false, false},
    };
    int unit = 150;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Conn conn;
        conn.buffered = c.buffered;
        conn.buf_size = 4096;
        int p[2] = {-1, -1};
        if (c.pipe) {
            ASSERT_EQ(::pipe(p), 0);
            conn.fd = p[1];
            conn.name = "pipe";
        } else {
            conn.path = temp_path("buf");
            ::unlink(conn.path.c_str());
        }
        open_unit(unit, conn);
        For_Lub *lub = nullptr;
        ASSERT_EQ(for__acquire_lun(unit, &lub, nullptr, FOR_OP_INQUIRE), 0);
        count_fd = lub->lub_fd;
        for__release_lub(lub);
        writes_seen = 0;
        const int n = 500;  // 500 records of 20 bytes: 10000 bytes
        std::string rec(19, 'r');
        for (int i = 0; i < 10; ++i) ASSERT_EQ(write_items(unit, {rec}), 0);
        if (c.buffered) {
            EXPECT_EQ(writes_seen, 0) << "nothing goes out while the buffer has room";
            if (!c.pipe) {
                EXPECT_EQ(file_bytes(conn.path).size(), 0u);
            }
        }
        for (int i = 10; i < n; ++i) ASSERT_EQ(write_items(unit, {rec}), 0);
        ASSERT_EQ(close_unit(unit), 0);
        // Each write but the last carries at least buffer - 2 records.
        int most = c.buffered ? (n * 20) / (4096 - 2 * 134 - 20) + 1 : n;
        if (c.buffered) {
            EXPECT_LE(writes_seen, most);
        } else {
            EXPECT_EQ(writes_seen, n);
        }
        count_fd = -1;
        std::string bytes;
        if (c.pipe) {
            char tmp[16384];
            ssize_t k;
            while ((k = __real_read(p[0], tmp, sizeof tmp)) > 0) bytes.append(tmp, static_cast<size_t>(k));
            ::close(p[0]);
        } else {
            bytes = file_bytes(conn.path);
            ::unlink(conn.path.c_str());
        }
        std::string want;
        for (int i = 0; i < n; ++i) want += rec + "\n";
        EXPECT_EQ(bytes, want);
        ++unit;
    }
}

// -- Input ----------------------------------------------------------------

TEST_F(Rec, InputRecordsByRecordType) {
    using T = For_Rec_Type;
    struct Case {
        const char *what;
        T type;
        uint64_t rec_len, buf_size;
        bool growable;
        std::string bytes;
        std::vector<std::string> want;
        int end_status;  // what the read after the last record gives
    } cases[] = {
        {"lines and empty lines", T::stream_lf, 134, 8192, true, "abc\n\nxyz\n", {"abc", "", "xyz"}, -1},
        {"CR LF input reads as the line alone", T::stream_lf, 134, 8192, true, "abc\r\ndef\r\n", {"abc", "def"}, -1},
        {"a last line without its newline", T::stream_lf, 134, 8192, true, "abc\ndef", {"abc", "def"}, -1},
        {"Ctrl-Z alone on a line ends the file", T::stream_lf, 134, 8192, true, "a\n\x1a\nb\n", {"a"}, -1},
        {"a line longer than the buffer grows it",
         T::stream_lf,
         134,
         256,
         true,
         std::string(20000, 'q') + "\nr\n",
         {std::string(20000, 'q'), "r"},
         -1},
        {"lines cut by the buffer end",
         T::stream_lf,
         134,
         16,
         true,
         "0123456789\nabcdefghij\nk\n",
         {"0123456789", "abcdefghij", "k"},
         -1},
        {"too long when the records may not grow", T::stream_lf, 134, 256, false, std::string(300, 'q') + "\n", {}, 22},
        {"STREAM_CRLF", T::stream_crlf, 134, 8192, true, "ab\r\ncd\r\n", {"ab", "cd"}, -1},
        {"STREAM_CR", T::stream_cr, 134, 8192, true, "ab\rcd\r", {"ab", "cd"}, -1},
        {"FIXED", T::fixed, 4, 8192, false, "abcdefgh", {"abcd", "efgh"}, -1},
        {"VARIABLE",
         T::variable,
         140,
         8192,
         true,
         std::string("\2\0\0\0hi\2\0\0\0\0\0\0\0\0\0\0\0", 18),
         {"hi", ""},
         -1},
        {"VARIABLE with mismatched length words",
         T::variable,
         140,
         8192,
         true,
         std::string("\2\0\0\0hi\3\0\0\0", 10),
         {},
         39},
        {"an empty file", T::stream_lf, 134, 8192, true, "", {}, -1},
    };
    int unit = 160;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Conn conn;
        conn.path = temp_path("in");
        conn.type = c.type;
        conn.cc = For_Cc::none;
        conn.rec_len = c.rec_len;
        conn.buf_size = c.buf_size;
        conn.recl_default = c.growable;
        put_file(conn.path, c.bytes);
        open_unit(unit, conn);
        std::vector<std::string> records;
        int status = 0;
        for (size_t i = 0; i <= c.want.size(); ++i) {
            status = read_records(unit, 1);
            if (status != 0) break;
            records.push_back(got.at(0));
        }
        EXPECT_EQ(records, c.want);
        EXPECT_EQ(status, c.end_status);
        close_unit(unit);
        ::unlink(conn.path.c_str());
        ++unit;
    }
}

TEST_F(Rec, InputIsReadAheadInLargeReads) {
    Conn conn;
    conn.path = temp_path("ra");
    conn.buf_size = 131072;
    std::string bytes;
    for (int i = 0; i < 2000; ++i) bytes += "line " + std::to_string(i) + "\n";
    put_file(conn.path, bytes);
    open_unit(170, conn);
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(170, &lub, nullptr, FOR_OP_INQUIRE), 0);
    count_fd = lub->lub_fd;
    for__release_lub(lub);
    reads_seen = 0;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(read_records(170, 1), 0);
        ASSERT_EQ(got.at(0), "line " + std::to_string(i));
    }
    EXPECT_EQ(read_records(170, 1), -1);
    EXPECT_LE(reads_seen, 3) << "one read fills the buffer, one more finds the end";
    close_unit(170);
    ::unlink(conn.path.c_str());
}

TEST_F(Rec, AWriteAfterReadingTruncatesTheFileLikeGfortran) {
    std::string src = R"(program p
  integer :: u, i
  character(8) :: s
  open(newunit=u, file='rec_trunc.txt', status='replace')
  do i = 1, 5
    write(u, '(i0)') i
  end do
  close(u)
  open(newunit=u, file='rec_trunc.txt', status='old')
  read(u, '(a)') s
  read(u, '(a)') s
  write(u, '(a)') 'new'
  close(u)
  call dump('rec_trunc.txt')
)" + std::string(dump_sub) +
                      "end program\n";
    auto oracle = kit::gfortran_run(src);
    if (!oracle) GTEST_SKIP() << "gfortran not installed";
    Conn conn;
    conn.path = temp_path("trunc");
    put_file(conn.path, "1\n2\n3\n4\n5\n");
    open_unit(171, conn);
    ASSERT_EQ(read_records(171, 2), 0);
    EXPECT_EQ(got, (std::vector<std::string>{"1", "2"}));
    ASSERT_EQ(write_items(171, {"new"}), 0);
    ASSERT_EQ(close_unit(171), 0);
    EXPECT_EQ(file_bytes(conn.path), unhex(first_line(*oracle)));
    ::unlink(conn.path.c_str());
}

TEST_F(Rec, NonAdvancingReadKeepsItsPlaceInTheRecord) {
    Conn conn;
    conn.path = temp_path("nar");
    put_file(conn.path, "abcdef\nxyz\n");
    open_unit(172, conn);
    ASSERT_EQ(read_records(172, 1, false), 0);
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(172, &lub, nullptr, FOR_OP_INQUIRE), 0);
    // The test transfer consumed the record; step back to column 3 as a
    // format's T3 would, and the next statement must continue there.
    lub->lub_buf_ptr = lub->lub_rec_start + 2;
    for__release_lub(lub);
    kit::Stmt st(172);
    st.flags.iostat();
    std::string v(8, ' ');
    st.items.chars(v).end();
    got.clear();
    ASSERT_EQ(st.run(read_entry), 0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "cdef") << "the same record, from the position left";
    ASSERT_EQ(read_records(172, 1), 0);
    EXPECT_EQ(got.at(0), "xyz");
    close_unit(172);
    ::unlink(conn.path.c_str());
}

// -- Internal files -------------------------------------------------------

TEST_F(Rec, InternalFileRecordsMatchGfortran) {
    auto oracle = kit::gfortran_lines(R"(program p
  character(8) :: a(3)
  a = 'xxxxxxxx'
  write(a, '(a/a)') 'ab', 'cde'
  print '(3a)', a(1), a(2), a(3)
  a = 'xxxxxxxx'
  write(a, '(a//a)') '12345678', 'z'
  print '(3a)', a(1), a(2), a(3)
end program
)");
    if (!oracle) GTEST_SKIP() << "gfortran not installed";
    struct Case {
        std::vector<std::string> items;
    } cases[] = {{{"ab", "/", "cde"}}, {{"12345678", "/", "/", "z"}}};
    ASSERT_EQ(oracle->size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        char a[24];
        std::memset(a, 'x', sizeof a);
        ifile = {a, 8, 3};
        ASSERT_EQ(write_items(FOR_UNIT_INTERNAL, cases[i].items), 0);
        EXPECT_EQ(std::string(a, 24), (*oracle)[i]);
    }
}

TEST_F(Rec, InternalFileLimits) {
    char a[8];
    ifile = {a, 4, 2};
    EXPECT_EQ(write_items(FOR_UNIT_INTERNAL, {"abcde"}), msg::output_overflows_record) << "longer than the element";
    EXPECT_EQ(write_items(FOR_UNIT_INTERNAL, {"a", "/", "b", "/", "c"}), msg::internal_file_overflow)
        << "past the last element: internal file overflow";
    std::memcpy(a, "one two ", 8);
    EXPECT_EQ(read_records(FOR_UNIT_INTERNAL, 2), 0);
    EXPECT_EQ(got, (std::vector<std::string>{"one ", "two "}));
    EXPECT_EQ(read_records(FOR_UNIT_INTERNAL, 3), -1) << "a third record does not exist";
    ifile = {a, 4, 0};
    EXPECT_EQ(read_records(FOR_UNIT_INTERNAL, 1), -1);
}

// -- Terminal pairing -----------------------------------------------------

struct Pty {
    int master = -1, slave = -1;
    std::string name;
    bool open() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) || ::unlockpt(master)) return false;
        name = ::ptsname(master);
        slave = ::open(name.c_str(), O_RDWR | O_NOCTTY);
        if (slave < 0) return false;
        termios t;
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);  // no echo, no output processing: the bytes as written
        t.c_lflag |= ICANON;
        ::tcsetattr(slave, TCSANOW, &t);
        return true;
    }
    // What the program has written to the terminal so far.
    std::string output() {
        std::string s;
        char b[256];
        pollfd p{master, POLLIN, 0};
        while (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
            ssize_t k = __real_read(master, b, sizeof b);
            if (k <= 0) break;
            s.append(b, static_cast<size_t>(k));
        }
        return s;
    }
    void type(const std::string &s) {
        ASSERT_EQ(__real_write(master, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
};

TEST_F(Rec, APromptOnATerminalIsWrittenBeforeTheReadThatAnswersIt) {
    Pty tty;
    if (!tty.open()) GTEST_SKIP() << "no pseudo-terminal";
    Conn out;
    out.fd = ::dup(tty.slave);
    out.name = tty.name;
    out.table = true;
    Conn in = out;
    in.fd = tty.slave;
    open_unit(180, out);
    open_unit(181, in);

    ASSERT_EQ(write_items(180, {"Name? "}, false), 0);
    EXPECT_EQ(tty.output(), "") << "the prompt waits in the buffer";
    tty.type("bob\n");
    ASSERT_EQ(read_records(181, 1), 0);
    EXPECT_EQ(got.at(0), "bob");
    EXPECT_EQ(tty.output(), "Name? ") << "written before the read, without a line end";
    ASSERT_EQ(write_items(180, {"Hi"}), 0);
    EXPECT_EQ(tty.output(), "Hi\n") << "the answer's echo ended the prompt's line";

    // A WRITE on another unit of the same terminal also sends the prompt.
    ASSERT_EQ(write_items(180, {"Again? "}, false), 0);
    Conn other = out;
    other.fd = ::dup(tty.slave);
    open_unit(182, other);
    EXPECT_EQ(tty.output(), "");
    ASSERT_EQ(write_items(182, {"note"}), 0);
    EXPECT_EQ(tty.output(), "Again? \nnote\n");
    close_unit(182);
    close_unit(180);
    close_unit(181);
}

TEST_F(Rec, FortranControlOnATerminalKeepsTheDollarPromptAndTheAnswerOnOneLine) {
    Pty tty;
    if (!tty.open()) GTEST_SKIP() << "no pseudo-terminal";
    Conn out;
    out.fd = ::dup(tty.slave);
    out.name = tty.name;
    out.table = true;
    out.cc = For_Cc::fortran;
    out.rec_len = 139;
    Conn in = out;
    in.fd = tty.slave;
    in.cc = For_Cc::list;
    open_unit(183, out);
    open_unit(184, in);
    ASSERT_EQ(write_items(183, {" Title"}), 0);
    EXPECT_EQ(tty.output(), "Title\r");
    tty.type("x\n");
    ASSERT_EQ(read_records(184, 1), 0);
    EXPECT_EQ(tty.output(), "\n") << "an input line starts on a line of its own";
    ASSERT_EQ(write_items(183, {"$Age? "}), 0);
    EXPECT_EQ(tty.output(), "Age? ");
    tty.type("42\n");
    ASSERT_EQ(read_records(184, 1), 0);
    EXPECT_EQ(got.at(0), "42");
    EXPECT_EQ(tty.output(), "") << "no line feed between the prompt and its answer";
    ASSERT_EQ(write_items(183, {" ok"}), 0);
    EXPECT_EQ(tty.output(), "ok\r");
    close_unit(183);
    close_unit(184);
}

TEST_F(Rec, WithoutATerminalAnOpenRecordStaysInItsBuffer) {
    int in_pipe[2], out_pipe[2];
    ASSERT_EQ(::pipe(in_pipe), 0);
    ASSERT_EQ(::pipe(out_pipe), 0);
    Conn out;
    out.fd = out_pipe[1];
    out.name = "/proc/self/fd/1";
    out.table = true;
    Conn in = out;
    in.fd = in_pipe[0];
    open_unit(185, out);
    open_unit(186, in);
    ASSERT_EQ(write_items(185, {"Name? "}, false), 0);
    ASSERT_EQ(__real_write(in_pipe[1], "bob\n", 4), 4);
    ASSERT_EQ(read_records(186, 1), 0);
    EXPECT_EQ(got.at(0), "bob");
    ASSERT_EQ(write_items(185, {"Hi"}), 0);
    close_unit(185);
    close_unit(186);
    char b[64];
    ssize_t k = __real_read(out_pipe[0], b, sizeof b);
    EXPECT_EQ(std::string(b, static_cast<size_t>(k > 0 ? k : 0)), "Name? Hi\n");
    ::close(in_pipe[1]);
    ::close(out_pipe[0]);
}

TEST_F(Rec, FileTableEntriesAreSharedByName) {
    For_Lub a{}, b{}, c{};
    char n1[] = "/some/file", n2[] = "/other/file";
    a.lub_file_name = n1;
    b.lub_file_name = n1;
    c.lub_file_name = n2;
    ASSERT_EQ(for__add_to_lf_table(&a), 0);
    ASSERT_EQ(for__add_to_lf_table(&b), 0);
    ASSERT_EQ(for__add_to_lf_table(&c), 0);
    EXPECT_EQ(a.lub_tty_pair, b.lub_tty_pair);
    EXPECT_NE(a.lub_tty_pair, c.lub_tty_pair);
    EXPECT_EQ(a.lub_tty_pair->refs, 2);
    int bucket = a.lub_tty_pair->bucket;
    for__rm_from_lf_table(&a);
    EXPECT_EQ(b.lub_tty_pair->refs, 1);
    for__rm_from_lf_table(&b);
    for__rm_from_lf_table(&c);
    for (For_Tty_Pair *e = for__file_info_hash_table[bucket]; e; e = e->next)
        EXPECT_NE(std::strcmp(e->name, n1), 0) << "the last unit frees the entry";
}

}  // namespace
