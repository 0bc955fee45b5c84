// REWIND, BACKSPACE, ENDFILE, FLUSH and EOF: sequences of statements run
// by gfortran and by us on files of our own, compared by what each READ
// returns and by the bytes the file holds at the end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "unformatted/for_ufseq.h"
#include "unformatted/uf_kit.h"
#include "units/for_lub_mgt.h"

namespace fs = std::filesystem;

namespace {

class Positioning : public uf::Scratch_Test {};

// One statement of a sequence: W writes record pattern `r` of `n` bytes,
// R reads `n` bytes, B, RW, EF are BACKSPACE, REWIND, ENDFILE.
struct Op {
    char what;  // 'W', 'R', 'B', 'A' (REWIND), 'E' (ENDFILE)
    int n = 0;
    int r = 0;
};

std::string ios_text(int ios) { return ios == 0 ? "0" : ios < 0 ? "-1" : "E"; }

// Runs the sequence on our unit; one line per statement.
std::vector<std::string> run_ours(int unit, const std::vector<Op> &ops) {
    std::vector<std::string> lines;
    for (const Op &op : ops) {
        switch (op.what) {
        case 'W': {
            std::vector<int8_t> a = uf::pattern_data(op.n, op.r);
            kit::Stmt w(unit);
            w.flags.iostat();
            w.items.array(a.data(), a.size()).end();
            lines.push_back("W " + ios_text(w.run(for_write_seq)));
            break;
        }
        case 'R': {
            std::vector<int8_t> b(static_cast<size_t>(op.n), 0);
            kit::Stmt rd(unit);
            rd.flags.iostat();
            rd.items.array(b.data(), b.size()).end();
            int ios = rd.run(for_read_seq);
            int64_t sum = 0;
            for (int8_t v : b) sum += v;
            lines.push_back("R " + ios_text(ios) + (ios == 0 ? " " + std::to_string(sum) : ""));
            break;
        }
        case 'B': lines.push_back("B " + ios_text(uf::position(for_backspace, unit))); break;
        case 'A': lines.push_back("A " + ios_text(uf::position(for_rewind, unit))); break;
        case 'E': lines.push_back("E " + ios_text(uf::position(for_endfile, unit))); break;
        }
    }
    return lines;
}

std::string fortran_ops(const std::vector<Op> &ops, const std::string &file) {
    int most = 1;
    for (const Op &op : ops) most = std::max(most, op.n);
    std::string p = "program p\n  integer(1), allocatable :: a(:), b(:)\n  integer(8) :: i\n  integer :: ios\n";
    p += "  allocate (a(" + std::to_string(most) + "), b(" + std::to_string(most) + "))\n";
    p += "  open (10, file='" + file + "', form='unformatted', status='replace')\n";
    auto ios_line = [](const char *tag) {
        return std::string("  if (ios == 0) then\n    print '(A)', '") + tag +
               " 0'\n  else if (ios < 0) then\n"
               "    print '(A)', '" +
               tag + " -1'\n  else\n    print '(A)', '" + tag + " E'\n  end if\n";
    };
    for (const Op &op : ops) {
        std::string n = std::to_string(op.n);
        switch (op.what) {
        case 'W':
            p += uf::fortran_pattern("a", op.n, op.r);
            p += "  write (10, iostat=ios) a(1:" + n + ")\n" + ios_line("W");
            break;
        case 'R':
            p += "  b = 0\n  read (10, iostat=ios) b(1:" + n + ")\n";
            p += "  if (ios == 0) then\n    print '(A,I0)', 'R 0 ', sum(int(b(1:" + n +
                 "), 8))\n"
                 "  else if (ios < 0) then\n    print '(A)', 'R -1'\n  else\n    print '(A)', 'R E'\n  end if\n";
            break;
        case 'B': p += "  backspace (10, iostat=ios)\n" + ios_line("B"); break;
        case 'A': p += "  rewind (10, iostat=ios)\n" + ios_line("A"); break;
        case 'E': p += "  endfile (10, iostat=ios)\n" + ios_line("E"); break;
        }
    }
    return p + "  close (10)\nend program\n";
}

std::vector<std::string> lines_of(const std::string &s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

struct Sequence {
    const char *what;
    std::vector<Op> ops;
    uint64_t subrec_limit;
};

const Sequence sequences[] = {
    {"BACKSPACE rereads records, and stops at the first",
     {{'W', 3, 1},
      {'W', 5, 2},
      {'W', 7, 3},
      {'A'},
      {'R', 3},
      {'R', 5},
      {'B'},
      {'R', 5},
      {'B'},
      {'B'},
      {'R', 3},
      {'B'},
      {'B'},
      {'B'},
      {'R', 3}},
     0},
    {"BACKSPACE after end of file, then over the last record",
     {{'W', 4, 1}, {'W', 6, 2}, {'A'}, {'R', 4}, {'R', 6}, {'R', 1}, {'B'}, {'B'}, {'R', 6}},
     0},
    {"BACKSPACE right after WRITE, and a WRITE in the middle cuts the file",
     {{'W', 4, 1}, {'W', 6, 2}, {'W', 8, 3}, {'B'}, {'B'}, {'W', 2, 9}, {'A'}, {'R', 4}, {'R', 2}, {'R', 1}},
     0},
    {"ENDFILE cuts the file; BACKSPACE goes before the end",
     {{'W', 4, 1},
      {'W', 6, 2},
      {'W', 8, 3},
      {'A'},
      {'R', 4},
      {'E'},
      {'B'},
      {'W', 3, 5},
      {'A'},
      {'R', 4},
      {'R', 3},
      {'R', 1}},
     0},
    {"records of several subrecords are passed whole",
     {{'W', 20, 1}, {'W', 8, 2}, {'W', 9, 3}, {'B'}, {'B'}, {'R', 8}, {'B'}, {'B'}, {'R', 20}, {'R', 8}, {'R', 9}},
     8},
    {"long records written straight to the file",
     {{'W', 200000, 1}, {'W', 5, 2}, {'W', 300000, 3}, {'B'}, {'B'}, {'B'}, {'R', 200000}, {'R', 5}, {'R', 300000}},
     0},
    {"empty records", {{'W', 0, 1}, {'W', 0, 2}, {'B'}, {'B'}, {'R', 0}, {'R', 0}, {'R', 0}}, 0},
};

TEST_F(Positioning, SequencesAgreeWithGfortran) {
    int unit = 20;
    for (const Sequence &s : sequences) {
        SCOPED_TRACE(s.what);
        const std::string ours = path("o" + std::to_string(unit)), theirs = path("t" + std::to_string(unit));
        std::string flags = "-O0";
        if (s.subrec_limit) flags += " -fmax-subrecord-length=" + std::to_string(s.subrec_limit);
        auto out = uf::gfortran_run_flags(fortran_ops(s.ops, theirs), flags);
        if (!out) GTEST_SKIP() << "gfortran is not installed";
        for__l_subrec_limit = s.subrec_limit ? s.subrec_limit : for_subrec_max;
        kit::Keys k;
        k.text(FOR_KEY_STATUS, "REPLACE");
        ASSERT_EQ(uf::open_uf(unit, ours, k), 0);
        std::vector<std::string> got = run_ours(unit, s.ops);
        ASSERT_EQ(uf::close_unit(unit), 0);
        EXPECT_EQ(got, lines_of(*out));
        EXPECT_TRUE(uf::file_bytes(ours) == uf::file_bytes(theirs)) << "the files differ";
        ++unit;
    }
}

// Statements on units that have no file to move in.
TEST_F(Positioning, UnconnectedUnitsAndStreamAccess) {
    EXPECT_EQ(uf::position(for_rewind, 70), 0) << "REWIND of an unconnected unit does nothing";
    EXPECT_EQ(uf::position(for_backspace, 70), 0);
    EXPECT_EQ(uf::position(for_flush, 70), 0);
    EXPECT_EQ(uf::position(for_eof, 70), msg::unknown_unit_number) << "EOF of an unconnected unit";
    kit::Keys k;
    k.text(FOR_KEY_ACCESS, "STREAM");
    ASSERT_EQ(uf::open_uf(71, path("s"), k), 0);
    std::string msg(80, ' ');
    EXPECT_EQ(uf::position(for_backspace, 71, &msg), msg::backspace_unformatted_stream);
    EXPECT_NE(msg.find("BACKSPACE statement may not be applied"), std::string::npos) << msg;
    EXPECT_EQ(uf::close_unit(71), 0);
}

// ENDFILE on an unconnected unit opens it implicitly (fort.N) and ends
// the empty file there.
TEST_F(Positioning, EndfileConnectsAnUnconnectedUnit) {
    const std::string f = path("fort.72");
    ASSERT_EQ(setenv("FORT72", f.c_str(), 1), 0);
    EXPECT_EQ(uf::position(for_endfile, 72), 0);
    EXPECT_TRUE(fs::exists(f));
    EXPECT_EQ(uf::position(for_eof, 72), -1);
    EXPECT_EQ(uf::close_unit(72), 0);
    unsetenv("FORT72");
}

// The EOF function as the unit moves through its file; with option bit 0
// the end-of-file record ENDFILE wrote counts as the end, for VARIABLE
// and SEGMENTED alike, and POSITION='APPEND' goes before it.
TEST_F(Positioning, EofFunctionAndEndOfFileRecords) {
    struct Case {
        const char *what;
        const char *recordtype;
        uf::Bytes eof_record;
    } cases[] = {
        {"VARIABLE", nullptr, {1, 0, 0, 0, 0x1a, 1, 0, 0, 0}},
        {"SEGMENTED", "SEGMENTED", {1, 0, 0x1a, 0}},
    };
    int unit = 80;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string f = path(std::string("e") + c.what);
        kit::Keys k;
        if (c.recordtype) k.text(FOR_KEY_RECORDTYPE, c.recordtype);
        ASSERT_EQ(uf::open_uf(unit, f, k, iof_opt_a), 0);
        EXPECT_EQ(uf::position(for_eof, unit), -1) << "an empty file is at its end";
        std::string rec = "abc";
        kit::Stmt w(unit);
        w.flags.iostat();
        w.items.chars(rec).end();
        ASSERT_EQ(w.run(for_write_seq), 0);
        EXPECT_EQ(uf::position(for_eof, unit), -1) << "after the last record";
        EXPECT_EQ(uf::position(for_endfile, unit), 0);
        EXPECT_EQ(uf::position(for_eof, unit), -1) << "before the end-of-file record";
        EXPECT_EQ(uf::position(for_rewind, unit), 0);
        EXPECT_EQ(uf::position(for_eof, unit), 0) << "at the start";
        char got[3] = {};
        kit::Stmt rd(unit);
        rd.flags.iostat();
        rd.items.chars(got, 3).end();
        EXPECT_EQ(rd.run(for_read_seq), 0);
        kit::Stmt rd2(unit);
        rd2.flags.iostat();
        rd2.items.chars(got, 1).end();
        EXPECT_EQ(rd2.run(for_read_seq), -1) << "the end-of-file record ends the reading";
        ASSERT_EQ(uf::close_unit(unit), 0);
        uf::Bytes bytes = uf::file_bytes(f);
        ASSERT_GE(bytes.size(), c.eof_record.size());
        EXPECT_TRUE(uf::Bytes(bytes.end() - static_cast<long>(c.eof_record.size()), bytes.end()) == c.eof_record);

        // Appending with option bit 0 writes before the end-of-file record.
        kit::Keys k2;
        if (c.recordtype) k2.text(FOR_KEY_RECORDTYPE, c.recordtype);
        k2.text(FOR_KEY_POSITION, "APPEND");
        ASSERT_EQ(uf::open_uf(unit + 1, f, k2, iof_opt_a), 0);
        kit::Stmt w2(unit + 1);
        w2.flags.iostat();
        std::string rec2 = "de";
        w2.items.chars(rec2).end();
        ASSERT_EQ(w2.run(for_write_seq), 0);
        EXPECT_EQ(uf::position(for_eof, unit + 1), -1);
        ASSERT_EQ(uf::close_unit(unit + 1), 0);
        uf::Bytes after = uf::file_bytes(f);
        EXPECT_EQ(after.size(), bytes.size() - c.eof_record.size() + (c.recordtype ? 6 : 10))
            << "the new record replaced the end-of-file record";
        unit += 2;
    }
}

// A record shorter than the end-of-file record it replaces (after ENDFILE
// with option bit 0, or appended before one) leaves none of its bytes.
TEST_F(Positioning, AShortRecordReplacesAnEndOfFileRecordWhole) {
    const std::string f = path("short");
    const uf::Bytes first = {3, 0, 0, 0, 'a', 'b', 'c', 3, 0, 0, 0};
    const uf::Bytes empty = {0, 0, 0, 0, 0, 0, 0, 0};
    auto write_empty = [](int unit) {
        kit::Stmt w(unit);
        w.flags.iostat();
        w.items.end();
        return w.run(for_write_seq);
    };
    for (const char *position : {"ASIS", "APPEND"}) {
        SCOPED_TRACE(position);
        uf::Bytes start = first;
        start.insert(start.end(), {1, 0, 0, 0, 0x1a, 1, 0, 0, 0});
        uf::put_file(f, start);
        kit::Keys k;
        k.text(FOR_KEY_POSITION, position);
        ASSERT_EQ(uf::open_uf(90, f, k, iof_opt_a), 0);
        if (std::string(position) == "ASIS") {
            char got[3];
            kit::Stmt rd(90);
            rd.flags.iostat();
            rd.items.chars(got, 3).end();
            ASSERT_EQ(rd.run(for_read_seq), 0);
            ASSERT_EQ(uf::position(for_endfile, 90), 0);
        }
        ASSERT_EQ(write_empty(90), 0);
        ASSERT_EQ(uf::close_unit(90), 0);
        uf::Bytes want = first;
        want.insert(want.end(), empty.begin(), empty.end());
        EXPECT_EQ(uf::file_bytes(f), want);
    }
}

// Unformatted STREAM records with a RECL have no framing: BACKSPACE goes
// back to the start of the RECL-sized record the unit is in, or of the one
// before when it stands at a record's start.
TEST_F(Positioning, BackspaceOfStreamRecordsWithARecl) {
    const std::string f = path("streamrecl");
    uf::Bytes bytes(24);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i);
    uf::put_file(f, bytes);
    kit::Keys k;
    k.text(FOR_KEY_RECORDTYPE, "STREAM").value(FOR_KEY_RECL, 2);  // 8 bytes
    ASSERT_EQ(uf::open_uf(91, f, k), 0);
    auto read_first = [](int unit, int n) {
        std::vector<unsigned char> b(static_cast<size_t>(n), 0xff);
        kit::Stmt rd(unit);
        rd.flags.iostat();
        rd.items.chars(reinterpret_cast<char *>(b.data()), b.size()).end();
        int s = rd.run(for_read_seq);
        return s == 0 ? static_cast<int>(b[0]) : -100 + s;
    };
    struct Step {
        const char *what;
        int read_n;  // bytes to read first (0: none)
        int backspaces;
        int next_byte;  // the byte a READ finds afterwards
    } steps[] = {
        {"inside the second record", 8 + 3, 1, 8},
        {"at the start of the second record", 8, 1, 0},
        {"at the start of the third record, twice", 16, 2, 0},
        {"inside the first record", 5, 1, 0},
    };
    for (const Step &st : steps) {
        SCOPED_TRACE(st.what);
        ASSERT_EQ(uf::position(for_rewind, 91), 0);
        if (st.read_n > 8) {
            ASSERT_EQ(read_first(91, 8), 0);
            ASSERT_EQ(read_first(91, st.read_n - 8), 8);
        } else {
            ASSERT_EQ(read_first(91, st.read_n), 0);
        }
        for (int i = 0; i < st.backspaces; ++i) ASSERT_EQ(uf::position(for_backspace, 91), 0);
        EXPECT_EQ(read_first(91, 1), st.next_byte);
    }
    ASSERT_EQ(uf::close_unit(91), 0);
}

// Formatted files: BACKSPACE finds the previous line by its terminator,
// with read-ahead in the buffer and across buffer-sized blocks.
TEST_F(Positioning, BackspaceOfFormattedLines) {
    std::string text = "first\n" + std::string(5000, 'x') + "\nthird\nlast";
    const std::string f = path("lines");
    {
        std::vector<unsigned char> b(text.begin(), text.end());
        uf::put_file(f, b);
    }
    kit::Keys k;
    k.text(FOR_KEY_FILE, f).text(FOR_KEY_FORM, "FORMATTED");
    kit::Flags fl;
    fl.iostat();
    For_Context ctx{};
    ASSERT_EQ(for_open(&ctx, 90, fl, k.dsc(), k.val()), 0);
    auto next_line = [&]() {
        For_Lub *lub = nullptr;
        EXPECT_EQ(for__acquire_lun(90, &lub, nullptr, FOR_OP_READ), 0);
        std::string line;
        if (for__get_s(lub) == 0)
            line.assign(lub->lub_rec_start, lub->lub_buf_limit);
        else
            line = "<eof>";
        for__release_lub(lub);
        return line;
    };
    EXPECT_EQ(next_line(), "first");
    EXPECT_EQ(next_line().size(), 5000u);
    EXPECT_EQ(next_line(), "third");
    EXPECT_EQ(uf::position(for_backspace, 90), 0);
    EXPECT_EQ(next_line(), "third");
    EXPECT_EQ(uf::position(for_backspace, 90), 0);
    EXPECT_EQ(uf::position(for_backspace, 90), 0);
    EXPECT_EQ(next_line().size(), 5000u) << "the line longer than the buffer";
    EXPECT_EQ(next_line(), "third");
    EXPECT_EQ(next_line(), "last");
    EXPECT_EQ(uf::position(for_backspace, 90), 0);
    EXPECT_EQ(next_line(), "last") << "a last line without its terminator";
    EXPECT_EQ(uf::position(for_rewind, 90), 0);
    EXPECT_EQ(next_line(), "first");
    EXPECT_EQ(uf::close_unit(90), 0);
}

}  // namespace
