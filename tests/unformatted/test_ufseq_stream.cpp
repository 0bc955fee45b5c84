// Records on descriptors that cannot seek, and stream access with POS=.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "diag/for_msgnum.h"
#include "support/oracle.h"
#include "unformatted/uf_kit.h"

namespace fs = std::filesystem;
using uf::Bytes;

namespace {

// A record far above the block size on a pipe: its leading marker cannot
// be patched afterwards, so the record is framed whole before it goes.
TEST(UfPipe, LongRecordsOnAPipeCarryTheirRealMarkers) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const std::string opts = "FORM=UNFORMATTED";
    ASSERT_EQ(for_fdopen(p[1], 30, opts.data(), opts.size()), 0);
    Bytes got;
    std::thread reader([&] {
        unsigned char buf[65536];
        ssize_t n;
        while ((n = ::read(p[0], buf, sizeof buf)) > 0) got.insert(got.end(), buf, buf + n);
    });
    const int64_t sizes[] = {400000, 3};
    for (int r = 0; r < 2; ++r) {
        std::vector<int8_t> a = uf::pattern_data(sizes[r], r);
        kit::Stmt w(30);
        w.flags.iostat();
        // Two items, so that the record grows past the block size midway.
        w.items.array(a.data(), a.size() / 2).array(a.data() + a.size() / 2, a.size() - a.size() / 2).end();
        EXPECT_EQ(w.run(for_write_seq), 0);
    }
    EXPECT_EQ(uf::close_unit(30), 0);
    reader.join();
    ::close(p[0]);
    Bytes want;
    for (int r = 0; r < 2; ++r) {
        auto n = static_cast<uint32_t>(sizes[r]);
        unsigned char m[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                              static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
        want.insert(want.end(), m, m + 4);
        std::vector<int8_t> a = uf::pattern_data(sizes[r], r);
        want.insert(want.end(), a.begin(), a.end());
        want.insert(want.end(), m, m + 4);
    }
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}

// Unformatted stream access: POS= writes and reads anywhere, and nothing
// behind a write is cut. gfortran runs the same statements.
TEST(UfStream, PosWritesAndReadsAnywhere) {
    kit::Scratch_Dir dir("ufstream");
    const std::string ours = dir.path("ours"), theirs = dir.path("theirs");
    auto out = kit::gfortran_run(
        "program p\n  character(3) :: c\n  character(2) :: d\n  open (10, file='" + theirs +
        "', access='stream', form='unformatted', status='replace')\n"
        "  write (10) 'abcdef'\n  write (10, pos=3) 'XY'\n  write (10) 'Z'\n"
        "  read (10, pos=2) c\n  print '(A)', c\n  read (10) d\n  print '(A)', d\n  close (10)\nend program\n");
    kit::Keys k;
    k.text(FOR_KEY_ACCESS, "STREAM").text(FOR_KEY_STATUS, "REPLACE");
    ASSERT_EQ(uf::open_uf(31, ours, k), 0);
    auto write = [](std::string text, int64_t *pos) {
        kit::Stmt w(31);
        w.flags.iostat();
        if (pos) w.control.pos(*pos);
        w.items.chars(text).end();
        return w.run(for_write_seq);
    };
    auto read3 = [](int64_t *pos, std::string *c, size_t n = 3) {
        c->assign(n, ' ');
        kit::Stmt r(31);
        r.flags.iostat();
        if (pos) r.control.pos(*pos);
        r.items.chars(*c).end();
        return r.run(for_read_seq);
    };
    int64_t three = 3, two = 2, zero = 0;
    std::string c1, c2;
    EXPECT_EQ(write("abcdef", nullptr), 0);
    EXPECT_EQ(write("XY", &three), 0);
    EXPECT_EQ(write("Z", nullptr), 0);
    EXPECT_EQ(read3(&two, &c1), 0);
    EXPECT_EQ(read3(nullptr, &c2, 2), 0);
    std::string tail;
    EXPECT_EQ(read3(nullptr, &tail, 1), -1) << "reading beyond the end of a stream file";
    EXPECT_EQ(write("q", &zero), msg::pos_out_of_range) << "POS= below 1";
    EXPECT_EQ(uf::close_unit(31), 0);
    EXPECT_EQ(c1, "bXY");
    EXPECT_EQ(c2, "Zf");
    const Bytes want = {'a', 'b', 'X', 'Y', 'Z', 'f'};
    EXPECT_EQ(uf::file_bytes(ours), want);
    if (out) {
        EXPECT_EQ(*out, c1 + "\n" + c2 + "\n");
        EXPECT_EQ(uf::file_bytes(theirs), want);
    }
}

// POS= on a unit that is not connected for stream access.
TEST(UfStream, PosNeedsStreamAccess) {
    kit::Scratch_Dir dir("ufstream");
    ASSERT_EQ(uf::open_uf(32, dir.path("seq")), 0);
    int64_t one = 1;
    std::string t = "a";
    kit::Stmt w(32);
    w.flags.iostat();
    w.control.pos(one);
    w.items.chars(t).end();
    EXPECT_EQ(w.run(for_write_seq), msg::mixed_access_modes) << "110, reported as 31";
    EXPECT_EQ(uf::close_unit(32), 0);
}

}  // namespace
