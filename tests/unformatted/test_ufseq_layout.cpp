// Unformatted sequential records on disk: the bytes we write against the
// bytes gfortran writes for the same program, each side reading what the
// other wrote, subrecords at lowered limits, and the framing of the other
// record types.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/oracle.h"
#include "unformatted/for_ufseq.h"
#include "unformatted/uf_kit.h"

namespace fs = std::filesystem;
using uf::Bytes;

namespace {

class Ufseq : public uf::Scratch_Test {};

using Record = uf::Record;
using uf::total;
using uf::write_record;

// READ (unit) of the record's items; true when every byte is the pattern.
::testing::AssertionResult read_record(int unit, const Record &items, int r) {
    std::vector<int8_t> got(static_cast<size_t>(total(items)), 0);
    kit::Stmt rd(unit);
    rd.flags.iostat();
    int64_t off = 0;
    for (int64_t n : items) {
        rd.items.array(got.data() + off, static_cast<size_t>(n));
        off += n;
    }
    rd.items.end();
    int s = rd.run(for_read_seq, for_read_seq_xmit);
    if (s != 0) return ::testing::AssertionFailure() << "READ of record " << r << " gave " << s;
    if (got != uf::pattern_data(total(items), r))
        return ::testing::AssertionFailure() << "record " << r << " read with other bytes";
    return ::testing::AssertionSuccess();
}

// A gfortran program that writes the records to `out` (status replace)
// and then reads the records of `in` (when given), printing "ok" or "bad"
// for each.
std::string program(const std::vector<Record> &recs, const std::string &out, const std::string &in,
                    const std::string &open_extra = "") {
    int64_t most = 1;
    for (const Record &r : recs) most = std::max(most, total(r));
    std::string p =
        "program p\n  integer(1), allocatable :: a(:), b(:)\n  integer(8) :: i\n"
        "  integer :: ios\n  allocate (a(" +
        std::to_string(most) + "), b(" + std::to_string(most) + "))\n";
    p += "  open (10, file='" + out + "', form='unformatted', status='replace'" + open_extra + ")\n";
    auto pieces = [](const Record &r, const char *arr) {
        std::string s;
        int64_t off = 0;
        for (int64_t n : r) {
            s += std::string(s.empty() ? " " : ", ") + arr + "(" + std::to_string(off + 1) + ":" +
                 std::to_string(off + n) + ")";
            off += n;
        }
        return s;
    };
    for (size_t r = 0; r < recs.size(); ++r) {
        p += uf::fortran_pattern("a", total(recs[r]), static_cast<int>(r));
        p += "  write (10)" + pieces(recs[r], "a") + "\n";
    }
    p += "  close (10)\n";
    if (!in.empty()) {
        p += "  open (11, file='" + in + "', form='unformatted', status='old'" + open_extra + ")\n";
        for (size_t r = 0; r < recs.size(); ++r) {
            int64_t t = total(recs[r]);
            p += uf::fortran_pattern("a", t, static_cast<int>(r));
            p += "  b = 0\n  read (11, iostat=ios)" + pieces(recs[r], "b") + "\n";
            p += "  if (ios == 0 .and. all(a(1:" + std::to_string(t) + ") == b(1:" + std::to_string(t) +
                 "))) then\n    print '(A)', 'ok'\n  else\n    print '(A,I0)', 'bad ', ios\n  end if\n";
        }
        p += "  read (11, iostat=ios) i\n  print '(A,I0)', 'end ', ios\n  close (11)\n";
    }
    return p + "end program\n";
}

struct Layout_Case {
    const char *what;
    std::vector<Record> recs;
    uint64_t subrec_limit;  // 0: the default
};

const Layout_Case layout_cases[] = {
    {"small and empty records", {{4}, {}, {1}, {3, 5}, {0}, {100, 28}}, 0},
    {"records that outgrow the first record area", {{2044}, {2045}, {8192}, {20000, 1}}, 0},
    {"records beyond the block size go straight to the file",
     {{131072}, {131073}, {100000, 31073, 5}, {400000}, {7}},
     0},
    {"subrecords of 8 bytes", {{8}, {9}, {16}, {17}, {0}, {3}, {4, 4, 4}}, 8},
    {"subrecords of 1000 bytes", {{2500}, {1000}, {1, 999, 1000}, {1001}}, 1000},
    {"subrecords of a record written straight to the file",
     {{300000}, {150000, 100000, 50000}, {131073}, {50001}},
     50000},
};

// Byte-for-byte equality with gfortran's files, and each reading the
// other's, for records of many sizes and split into subrecords.
TEST_F(Ufseq, FilesAreGfortransByteForByteAndReadBothWays) {
    int unit = 20;
    for (const Layout_Case &c : layout_cases) {
        SCOPED_TRACE(c.what);
        const std::string ours = path("ours" + std::to_string(unit));
        const std::string theirs = path("theirs" + std::to_string(unit));
        for__l_subrec_limit = c.subrec_limit ? c.subrec_limit : for_subrec_max;
        ASSERT_EQ(uf::open_uf(unit, ours), 0);
        for (size_t r = 0; r < c.recs.size(); ++r)
            ASSERT_EQ(write_record(unit, c.recs[r], static_cast<int>(r)), 0) << "record " << r;
        ASSERT_EQ(uf::close_unit(unit), 0);

        std::string flags = "-O0";
        if (c.subrec_limit) flags += " -fmax-subrecord-length=" + std::to_string(c.subrec_limit);
        auto out = uf::gfortran_run_flags(program(c.recs, theirs, ours), flags);
        if (!out) GTEST_SKIP() << "gfortran is not installed";
        std::string want;
        for (size_t r = 0; r < c.recs.size(); ++r) want += "ok\n";
        EXPECT_EQ(*out, want + "end -1\n") << "gfortran reading our file";

        Bytes a = uf::file_bytes(ours), b = uf::file_bytes(theirs);
        EXPECT_EQ(a.size(), b.size());
        EXPECT_TRUE(a == b) << "our file differs from gfortran's";

        ASSERT_EQ(uf::open_uf(unit + 1, theirs), 0);
        for (size_t r = 0; r < c.recs.size(); ++r) EXPECT_TRUE(read_record(unit + 1, c.recs[r], static_cast<int>(r)));
        int32_t x = 0;
        kit::Stmt rd(unit + 1);
        rd.flags.iostat();
        rd.items.item(x).end();
        EXPECT_EQ(rd.run(for_read_seq), -1) << "after the last record: end of file";
        ASSERT_EQ(uf::close_unit(unit + 1), 0);
        unit += 2;
    }
}

// The framing of each record type, as bytes, for a few records.
TEST_F(Ufseq, RecordTypesFrameRecordsAsTheirLayoutSays) {
    struct Case {
        const char *what;
        const char *recordtype;  // RECORDTYPE=, or null
        const char *access;      // ACCESS=, or null
        const char *form;        // FORM= other than UNFORMATTED, or null
        int64_t recl;            // RECL= in 4-byte units, 0 none
        const char *convert;
        std::vector<std::string> records;  // the bytes of each WRITE, one character item
        std::vector<int> status;           // IOSTAT of each WRITE
        Bytes want;
    } cases[] = {
        {"VARIABLE one byte", nullptr, nullptr, nullptr, 0, nullptr, {"\x07"}, {0}, {1, 0, 0, 0, 7, 1, 0, 0, 0}},
        {"VARIABLE empty record", nullptr, nullptr, nullptr, 0, nullptr, {""}, {0}, Bytes(8, 0)},
        {"VARIABLE big-endian markers",
         nullptr,
         nullptr,
         nullptr,
         0,
         "BIG_ENDIAN",
         {"\x07", "ab"},
         {0, 0},
         {0, 0, 0, 1, 7, 0, 0, 0, 1, 0, 0, 0, 2, 'a', 'b', 0, 0, 0, 2}},
        {"VARIABLE 0x1A is data", nullptr, nullptr, nullptr, 0, nullptr, {"\x1a"}, {0}, {1, 0, 0, 0, 0x1a, 1, 0, 0, 0}},
        {"SEGMENTED odd and even data",
         "SEGMENTED",
         nullptr,
         nullptr,
         0,
         nullptr,
         {"abc", "de", ""},
         {0, 0, 0},
         {5, 0, 3, 0, 'a', 'b', 'c', 0, 4, 0, 3, 0, 'd', 'e', 2, 0, 3, 0}},
        {"SEGMENTED segments of RECL",
         "SEGMENTED",
         nullptr,
         nullptr,
         2,
         nullptr,
         {"abcdefghij"},
         {0},
         {6, 0, 1, 0, 'a', 'b', 'c', 'd', 6, 0, 0, 0, 'e', 'f', 'g', 'h', 4, 0, 2, 0, 'i', 'j'}},
        {"FIXED pads with zeros and refuses more than RECL",
         "FIXED",
         nullptr,
         nullptr,
         2,
         nullptr,
         {"wxyz", "abcdefghijkl", "12345678"},
         {0, 66, 0},
         {'w', 'x', 'y', 'z', 0, 0, 0, 0, '1', '2', '3', '4', '5', '6', '7', '8'}},
        {"STREAM_LF", "STREAM_LF", nullptr, nullptr, 0, nullptr, {"ab", ""}, {0, 0}, {'a', 'b', 10, 10}},
        {"STREAM_CR", "STREAM_CR", nullptr, nullptr, 0, nullptr, {"ab"}, {0}, {'a', 'b', 13}},
        {"STREAM_CRLF", "STREAM_CRLF", nullptr, nullptr, 0, nullptr, {"ab"}, {0}, {'a', 'b', 13, 10}},
        {"stream access: the data only",
         nullptr,
         "STREAM",
         nullptr,
         0,
         nullptr,
         {"ab", "", "c"},
         {0, 0, 0},
         {'a', 'b', 'c'}},
        {"BINARY: the data only", nullptr, nullptr, "BINARY", 0, nullptr, {"ab", "cd"}, {0, 0}, {'a', 'b', 'c', 'd'}},
    };
    int unit = 40;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string f = path("t" + std::to_string(unit));
        kit::Keys k;
        if (c.recordtype) k.text(FOR_KEY_RECORDTYPE, c.recordtype);
        if (c.access) k.text(FOR_KEY_ACCESS, c.access);
        if (c.recl) k.value(FOR_KEY_RECL, c.recl);
        if (c.convert) k.text(FOR_KEY_CONVERT, c.convert);
        if (c.form) {
            k.text(FOR_KEY_FILE, f).text(FOR_KEY_FORM, c.form);
            kit::Flags fl;
            fl.iostat();
            For_Context ctx{};
            ASSERT_EQ(for_open(&ctx, unit, fl, k.dsc(), k.val()), 0);
        } else {
            ASSERT_EQ(uf::open_uf(unit, f, k), 0);
        }
        for (size_t i = 0; i < c.records.size(); ++i) {
            std::string rec = c.records[i];
            kit::Stmt w(unit);
            w.flags.iostat();
            w.items.chars(rec).end();
            EXPECT_EQ(w.run(for_write_seq), c.status[i]) << "WRITE " << i;
        }
        ASSERT_EQ(uf::close_unit(unit), 0);
        EXPECT_EQ(uf::file_bytes(f), c.want);
        ++unit;
    }
}

// What gfortran's convert='big_endian' writes, we write and read.
TEST_F(Ufseq, BigEndianMarkersAreGfortrans) {
    const std::vector<Record> recs = {{1}, {}, {300}, {70000, 70000}};
    const std::string ours = path("be_ours"), theirs = path("be_theirs");
    kit::Keys k;
    k.text(FOR_KEY_CONVERT, "BIG_ENDIAN");
    ASSERT_EQ(uf::open_uf(60, ours, k), 0);
    for (size_t r = 0; r < recs.size(); ++r) ASSERT_EQ(write_record(60, recs[r], static_cast<int>(r)), 0);
    ASSERT_EQ(uf::close_unit(60), 0);
    auto out = kit::gfortran_run(program(recs, theirs, ours, ", convert='big_endian'"));
    if (!out) GTEST_SKIP() << "gfortran is not installed";
    EXPECT_EQ(*out, "ok\nok\nok\nok\nend -1\n");
    EXPECT_TRUE(uf::file_bytes(ours) == uf::file_bytes(theirs));
    kit::Keys k2;
    k2.text(FOR_KEY_CONVERT, "BIG_ENDIAN");
    ASSERT_EQ(uf::open_uf(61, theirs, k2), 0);
    for (size_t r = 0; r < recs.size(); ++r) EXPECT_TRUE(read_record(61, recs[r], static_cast<int>(r)));
    ASSERT_EQ(uf::close_unit(61), 0);
}

}  // namespace

namespace {

// At full size: a record of 2147483640 bytes, one more than a subrecord
// holds, goes out as subrecords of 2147483639 bytes and of 1 byte with the
// markers -2147483639, 2147483639, then 1, -1. We read it back with an
// item that crosses the split, and gfortran reads it. The data are zero
// pages with marks, so the array costs memory only where it is written.
TEST_F(Ufseq, ARecordOneByteOverTheSubrecordLimitAtFullSize) {
    constexpr uint64_t n = 2147483640;
    // In memory: on a disk, 2 GiB of dirty pages wait for writeback.
    const std::string shm = "/dev/shm";
    struct statvfs vfs {};
    if (statvfs(shm.c_str(), &vfs) != 0 || static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize < 2 * n ||
        uf::available_memory() < 4 * n)
        GTEST_SKIP() << "needs 4 GiB in /dev/shm and 8 GiB of memory";
    kit::Scratch_Dir scratch("bigrec", shm);
    const std::string &dir = scratch.dir();
    void *m = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
    auto *a = static_cast<int8_t *>(m);
    auto mark = [](uint64_t i) { return static_cast<int8_t>(i * 131 % 251 + 1); };
    // 0-based positions: the start, page edges, the last two bytes of the
    // first subrecord and the one byte of the second.
    const uint64_t marks[] = {0, 1, 4095, 4096, n - 4097, 2147483637, 2147483638, n - 1};
    for (uint64_t i : marks) a[i] = mark(i);

    const std::string f = dir + "/big";
    ASSERT_EQ(uf::open_uf(60, f), 0);
    {
        kit::Stmt w(60);
        w.flags.iostat();
        w.items.array(a, n).end();
        ASSERT_EQ(w.run(for_write_seq), 0);
    }
    ASSERT_EQ(uf::close_unit(60), 0);
    EXPECT_EQ(fs::file_size(f), n + 16);
    {
        int fd = open(f.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        auto marker_at = [&](uint64_t off) {
            int32_t v = 0;
            EXPECT_EQ(pread(fd, &v, 4, static_cast<off_t>(off)), 4);
            return v;
        };
        EXPECT_EQ(marker_at(0), -2147483639);
        EXPECT_EQ(marker_at(4 + 2147483639ull), 2147483639);
        EXPECT_EQ(marker_at(8 + 2147483639ull), 1);
        EXPECT_EQ(marker_at(12 + 2147483640ull), -1);
        close(fd);
    }

    for (uint64_t i : marks) a[i] = 0;
    int8_t tail[10] = {};
    ASSERT_EQ(uf::open_uf(61, f), 0);
    {
        kit::Stmt rd(61);
        rd.flags.iostat();
        rd.items.array(a, n - 10).array(tail, 10).end();
        ASSERT_EQ(rd.run(for_read_seq), 0);
    }
    ASSERT_EQ(uf::close_unit(61), 0);
    for (uint64_t i : marks) EXPECT_EQ(i < n - 10 ? a[i] : tail[i - (n - 10)], mark(i)) << "byte " << i;
    for (uint64_t i = 8192; i < n - 10; i += 1 << 24) EXPECT_EQ(a[i], 0) << "byte " << i;
    munmap(m, n);

    std::string src =
        "program p\n  integer(1), allocatable :: a(:)\n  integer(8) :: i, k\n"
        "  allocate (a(2147483640_8))\n"
        "  open (10, file='" +
        f +
        "', form='unformatted', status='old')\n"
        "  read (10) a\n  k = 0\n  do i = 1, size(a, kind=8)\n    if (a(i) /= 0) k = k + 1\n  end do\n"
        "  print '(i0)', k\n";
    for (uint64_t i : marks) src += "  print '(i0)', a(" + std::to_string(i + 1) + "_8)\n";
    src += "end program\n";
    auto out = uf::gfortran_run_flags(src, "-O2");
    if (!out) GTEST_SKIP() << "gfortran is not installed";
    std::string want = std::to_string(std::size(marks)) + "\n";
    for (uint64_t i : marks) want += std::to_string(mark(i)) + "\n";
    EXPECT_EQ(*out, want);
}

}  // namespace
