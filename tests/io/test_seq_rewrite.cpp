// REWRITE on sequential units: the record the READ before it found is
// replaced where it lies, the records around it untouched, and a record of
// another length is refused instead of shifting or corrupting the file.
// Every file is written and read back with plain POSIX calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "support/files.h"
#include "support/kit.h"

namespace {

using kit::Bytes;
using kit::file_bytes;
using kit::put_file;
Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// A VARIABLE record: marker, data, marker, little-endian or big-endian.
void var_record(Bytes &b, std::initializer_list<int32_t> ints, bool big = false) {
    const auto n = static_cast<int32_t>(ints.size() * 4);
    auto put = [&](int32_t v) {
        unsigned char c[4];
        std::memcpy(c, &v, 4);
        if (big) std::reverse(c, c + 4);
        b.insert(b.end(), c, c + 4);
    };
    put(n);
    for (int32_t v : ints) put(v);
    put(n);
}

int open_seq(int unit, const std::string &path, const char *form, const char *recordtype = nullptr, int64_t recl = 0,
             const char *convert = nullptr) {
    kit::Keys k;
    k.text(FOR_KEY_FILE, path).text(FOR_KEY_FORM, form).text(FOR_KEY_STATUS, "OLD");
    if (convert) k.text(FOR_KEY_CONVERT, convert);
    if (recordtype) k.text(FOR_KEY_RECORDTYPE, recordtype);
    if (recl) k.value(FOR_KEY_RECL, recl);
    if (std::string_view(form) == "FORMATTED") k.text(FOR_KEY_PAD, "YES");
    return kit::open_unit(unit, k);
}

int run_fmt(kit::Seq_Fmt_Entry entry, kit::Xmit xmit, int unit, const std::string &fmt, std::string *chars) {
    kit::Stmt s(unit);
    s.flags.iostat().fmt_text();
    s.items.chars(*chars).end();
    For_Char_Format f{static_cast<int64_t>(fmt.size()), fmt.data()};
    return s.run(entry, &f, xmit);
}
int read_line(int unit, std::string *into) {
    into->assign(8, '?');
    return run_fmt(for_read_seq_fmt, for_read_seq_fmt_xmit, unit, "(a)", into);
}
int rewrite_line(int unit, std::string text, const std::string &fmt = "(a)") {
    kit::Stmt s(unit);
    s.flags.iostat().fmt_text();
    s.items.chars(text).end();
    For_Char_Format f{static_cast<int64_t>(fmt.size()), fmt.data()};
    return s.run(for_rewrite_fmt, 0, &f, for_rewrite_fmt_xmit);
}

int read_ints(int unit, std::vector<int32_t> *v) {
    kit::Stmt s(unit);
    s.flags.iostat();
    for (int32_t &x : *v) s.items.item(x);
    s.items.end();
    return s.run(for_read_seq, for_read_seq_xmit);
}
int rewrite_ints(int unit, std::vector<int32_t> v) {
    kit::Stmt s(unit);
    s.flags.iostat();
    for (int32_t &x : v) s.items.item(x);
    s.items.end();
    return s.run(for_rewrite, 0, for_rewrite_xmit);
}

class Seq_Rewrite : public ::testing::Test {
  protected:
    kit::Scratch_Dir dir{"seqrw"};
    std::string path(const char *n) { return dir.path(n); }
};

// Formatted records: the second line of three is replaced; what the
// rewrite does not fill is blank, the line end stays what it was.
struct Fmt_Case {
    const char *what;
    const char *file;
    const char *fmt;
    const char *data;
    int status;
    const char *after;
};

TEST_F(Seq_Rewrite, FormattedRecordInPlace) {
    const Fmt_Case cases[] = {
        {"same length", "aaa\nbbbbbb\nccc\n", "(a)", "XYZUVW", 0, "aaa\nXYZUVW\nccc\n"},
        {"shorter: blanks", "aaa\nbbbbbb\nccc\n", "(a)", "XY", 0, "aaa\nXY    \nccc\n"},
        {"CR LF kept", "aaa\r\nbbbb\r\nccc\r\n", "(a)", "Z", 0, "aaa\r\nZ   \r\nccc\r\n"},
        {"last line without its end", "aaa\nbbbb", "(a)", "12", -1, "aaa\n12  "},
        {"longer: 66, file unchanged", "aaa\nbb\nccc\n", "(a)", "XYZ", msg::output_overflows_record, "aaa\nbb\nccc\n"},
        {"a second record: 66", "aaa\nbbbb\nccc\n", "(a,/,a)", "XY", msg::output_overflows_record, "aaa\nbbbb\nccc\n"},
    };
    for (const Fmt_Case &c : cases) {
        SCOPED_TRACE(c.what);
        put_file(path("f.txt"), text(c.file));
        ASSERT_EQ(open_seq(20, path("f.txt"), "FORMATTED"), 0);
        std::string line;
        ASSERT_EQ(read_line(20, &line), 0);
        ASSERT_EQ(read_line(20, &line), 0);
        std::string data = c.data;
        int s = std::string(c.fmt) == "(a)" ? rewrite_line(20, data) : [&] {
            kit::Stmt w(20);
            w.flags.iostat().fmt_text();
            w.items.chars(data).chars(data).end();
            const std::string fmt = c.fmt;
            For_Char_Format f{static_cast<int64_t>(fmt.size()), fmt.data()};
            return w.run(for_rewrite_fmt, 0, &f, for_rewrite_fmt_xmit);
        }();
        EXPECT_EQ(s, c.status == -1 ? 0 : c.status);
        if (c.status == 0) {
            // The unit stands before the record after the one replaced.
            ASSERT_EQ(read_line(20, &line), 0);
            EXPECT_EQ(line, "ccc     ");
        }
        ASSERT_EQ(kit::close_unit(20), 0);
        EXPECT_EQ(file_bytes(path("f.txt")), text(c.after));
    }
}

TEST_F(Seq_Rewrite, FixedFormattedRecordIsPadded) {
    put_file(path("fx.txt"), text("aaaaaabbbbbbcccccc"));
    ASSERT_EQ(open_seq(21, path("fx.txt"), "FORMATTED", "FIXED", 6), 0);
    std::string line;
    ASSERT_EQ(read_line(21, &line), 0);
    ASSERT_EQ(rewrite_line(21, "Q"), 0);
    ASSERT_EQ(read_line(21, &line), 0);
    EXPECT_EQ(line, "bbbbbb  ");
    ASSERT_EQ(kit::close_unit(21), 0);
    EXPECT_EQ(file_bytes(path("fx.txt")), text("Q     bbbbbbcccccc"));
}

// No record read right before: 53, and the file stays as it was.
TEST_F(Seq_Rewrite, NoCurrentRecord) {
    struct Case {
        const char *what;
        int reads;        // READs before
        bool then_write;  // a WRITE after them
        bool then_backspace;
    };
    const Case cases[] = {
        {"right after OPEN", 0, false, false}, {"after a READ that met the end of the file", 3, false, false},
        {"after BACKSPACE", 1, false, true},   {"a second REWRITE", -1, false, false},
        {"after a WRITE", 1, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        put_file(path("n.txt"), text("aaa\nbbb\n"));
        ASSERT_EQ(open_seq(22, path("n.txt"), "FORMATTED"), 0);
        std::string line;
        for (int i = 0; i < c.reads; ++i) read_line(22, &line);
        if (c.reads < 0) {
            ASSERT_EQ(read_line(22, &line), 0);
            ASSERT_EQ(rewrite_line(22, "xyz"), 0);
        }
        if (c.then_write) {
            std::string z = "zzz";
            kit::Stmt w(22);
            w.flags.iostat().fmt_text();
            w.items.chars(z).end();
            const std::string fmt = "(a)";
            For_Char_Format f{static_cast<int64_t>(fmt.size()), fmt.data()};
            ASSERT_EQ(w.run(for_write_seq_fmt, &f, for_write_seq_fmt_xmit), 0);
        }
        if (c.then_backspace) {
            For_Context ctx{};
            ASSERT_EQ(for_backspace(&ctx, 22, kit::Flags{}.iostat(), nullptr, nullptr), 0);
        }
        EXPECT_EQ(rewrite_line(22, "QQQ"), msg::no_current_record);
        ASSERT_EQ(kit::close_unit(22), 0);
        EXPECT_EQ(file_bytes(path("n.txt")), text(c.reads < 0    ? "xyz\nbbb\n"
                                                  : c.then_write ? "aaa\nzzz\n"
                                                                 : "aaa\nbbb\n"));
    }
}

// Unformatted VARIABLE records: the markers must stay true, so only a
// record of the same length replaces the one read.
TEST_F(Seq_Rewrite, UnformattedVariableRecord) {
    struct Case {
        const char *what;
        std::vector<int32_t> items;
        int status;
    };
    const Case cases[] = {
        {"same length", {20, 30}, 0},
        {"shorter: 54", {20}, msg::rewrite_error},
        {"longer: 66", {20, 30, 40}, msg::output_overflows_record},
    };
    for (bool big : {false, true})
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            SCOPED_TRACE(big ? "big-endian" : "little-endian");
            Bytes orig;
            var_record(orig, {1}, big);
            var_record(orig, {2, 3}, big);
            var_record(orig, {4}, big);
            put_file(path("u.bin"), orig);
            ASSERT_EQ(open_seq(23, path("u.bin"), "UNFORMATTED", nullptr, 0, big ? "BIG_ENDIAN" : nullptr), 0);
            std::vector<int32_t> one(1);
            ASSERT_EQ(read_ints(23, &one), 0);
            ASSERT_EQ(read_ints(23, &one), 0);  // reads 2 of the record {2, 3}
            EXPECT_EQ(rewrite_ints(23, c.items), c.status);
            if (c.status == 0) {
                ASSERT_EQ(read_ints(23, &one), 0);
                EXPECT_EQ(one[0], 4) << "the READ after it reads the next record";
            }
            ASSERT_EQ(kit::close_unit(23), 0);
            Bytes want;
            var_record(want, {1}, big);
            if (c.status == 0)
                var_record(want, {20, 30}, big);
            else
                var_record(want, {2, 3}, big);
            var_record(want, {4}, big);
            EXPECT_EQ(file_bytes(path("u.bin")), want);
        }
}

TEST_F(Seq_Rewrite, UnformattedFixedRecordIsZeroFilled) {
    Bytes orig(24);
    for (int i = 0; i < 24; ++i) orig[static_cast<size_t>(i)] = static_cast<unsigned char>(i + 1);
    put_file(path("x.bin"), orig);
    ASSERT_EQ(open_seq(24, path("x.bin"), "UNFORMATTED", "FIXED", 2), 0);  // 8 bytes
    std::vector<int32_t> one(1);
    ASSERT_EQ(read_ints(24, &one), 0);
    ASSERT_EQ(read_ints(24, &one), 0);
    ASSERT_EQ(rewrite_ints(24, {-1}), 0);
    ASSERT_EQ(read_ints(24, &one), 0);
    int32_t third;
    std::memcpy(&third, &orig[16], 4);
    EXPECT_EQ(one[0], third);
    ASSERT_EQ(kit::close_unit(24), 0);
    Bytes want = orig;
    std::memset(&want[8], 0, 8);
    std::memset(&want[8], 0xff, 4);
    EXPECT_EQ(file_bytes(path("x.bin")), want);
}

}  // namespace
