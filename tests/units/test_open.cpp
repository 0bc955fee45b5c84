// OPEN and CLOSE: what gets connected, what fails and how, and what is
// left behind on disk.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "support/files.h"
#include "support/kit.h"
#include "support/oracle.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"

// Buffers of a RECL no memory can hold must come back as null under ASan
// too: the OPEN answers them with its message.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace fs = std::filesystem;

namespace {

// A fresh directory per test, removed afterwards.
class OpenTest : public ::testing::Test {
  protected:
    std::string path(const std::string &name) const { return scratch_.path(name); }
    void touch(const std::string &name, const std::string &content = "x\n") const {
        std::ofstream(path(name)) << content;
    }
    kit::Scratch_Dir scratch_{"open"};
    const std::string &dir_ = scratch_.dir();
};

using kit::close_unit;
using kit::open_unit;

// Looks at a connected unit without disturbing it.
template <class Fn>
void with_unit(int unit, Fn fn) {
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(unit, &lub, nullptr, FOR_OP_INQUIRE), 0);
    fn(lub);
    for__release_lub(lub);
}

// Connects `unit` to a scratch file made in `dir` (as TMPDIR); its name.
std::string open_scratch(int unit, const std::string &dir) {
    setenv("TMPDIR", dir.c_str(), 1);
    unsetenv("FORT_TMPDIR");
    kit::Keys k;
    k.text(FOR_KEY_STATUS, "scratch");
    EXPECT_EQ(open_unit(unit, k), 0);
    std::string name;
    with_unit(unit, [&](For_Lub *lub) { name = lub->lub_file_name ? lub->lub_file_name : ""; });
    return name;
}

// STATUS= against an existing or missing file, with gfortran deciding which
// combinations succeed.
TEST_F(OpenTest, StatusOutcomesAgreeWithGfortran) {
    struct Case {
        const char *status;  // nullptr: no STATUS=
        bool exists;
        int ours_on_failure;
    } cases[] = {{"NEW", false, 0},     {"NEW", true, 10},    {"OLD", false, 29},    {"OLD", true, 0},
                 {"REPLACE", false, 0}, {"REPLACE", true, 0}, {"UNKNOWN", false, 0}, {"UNKNOWN", true, 0},
                 {nullptr, true, 0},    {nullptr, false, 0}};
    std::string prog = "program p\n  integer :: ios\n";
    int i = 0;
    for (const Case &c : cases) {
        std::string f = path("g" + std::to_string(i++));
        if (c.exists) prog += "  open (20, file='" + f + "', status='replace'); close (20)\n";
        prog += "  open (21, file='" + f + "'" + (c.status ? std::string(", status='") + c.status + "'" : "") +
                ", iostat=ios)\n  print '(I0)', merge(0, 1, ios == 0)\n  close (21)\n";
    }
    prog += "end program\n";
    auto want = kit::gfortran_lines(prog);
    if (!want) GTEST_SKIP() << "gfortran is not installed";
    ASSERT_EQ(want->size(), std::size(cases));
    i = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.status ? c.status : "(none)") + (c.exists ? " existing" : " missing"));
        std::string f = "o" + std::to_string(i);
        if (c.exists) touch(f);
        kit::Keys k;
        k.text(FOR_KEY_FILE, path(f));
        if (c.status) k.text(FOR_KEY_STATUS, c.status);
        int s = open_unit(30 + i, k);
        EXPECT_EQ(s == 0 ? "0" : "1", (*want)[static_cast<size_t>(i)]);
        if (s != 0) {
            EXPECT_EQ(s, c.ours_on_failure);
        } else {
            EXPECT_EQ(close_unit(30 + i), 0);
        }
        ++i;
    }
}

TEST_F(OpenTest, ReplaceEmptiesTheFile) {
    touch("r", "old contents\n");
    kit::Keys k;
    k.text(FOR_KEY_FILE, path("r")).text(FOR_KEY_STATUS, "replace");
    ASSERT_EQ(open_unit(40, k), 0);
    EXPECT_EQ(fs::file_size(path("r")), 0u);
    close_unit(40);
}

// An OPEN that fails after it opened the file (here: no memory for a
// buffer of 127 blocks of 2**44 bytes) leaves the file system as it was:
// a file it made is gone, a file that was there keeps its contents.
TEST_F(OpenTest, FailedOpenLeavesNoFileAndNoEmptiedFile) {
    struct Case {
        const char *what;
        const char *status;
        bool existed;
    } cases[] = {
        {"REPLACE of a new file", "replace", false},      {"NEW", "new", false},
        {"UNKNOWN of a new file", "unknown", false},      {"REPLACE of an existing file", "replace", true},
        {"UNKNOWN of an existing file", "unknown", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(path("f"));
        if (c.existed) touch("f", "old contents\n");
        kit::Keys k;
        k.text(FOR_KEY_FILE, path("f")).text(FOR_KEY_STATUS, c.status);
        k.value(FOR_KEY_BLOCKSIZE, int64_t{1} << 44).value(FOR_KEY_BUFFERCOUNT, 127);
        EXPECT_EQ(open_unit(42, k), msg::no_memory);
        EXPECT_EQ(fs::exists(path("f")), c.existed);
        if (c.existed) {
            std::ifstream in(path("f"));
            std::string line;
            std::getline(in, line);
            EXPECT_EQ(line, "old contents");
        }
    }
    // The same OPEN that succeeds still empties the file it replaces.
    touch("f", "old contents\n");
    kit::Keys k;
    k.text(FOR_KEY_FILE, path("f")).text(FOR_KEY_STATUS, "replace").text(FOR_KEY_POSITION, "append");
    ASSERT_EQ(open_unit(42, k), 0);
    EXPECT_EQ(fs::file_size(path("f")), 0u);
    close_unit(42);
}

// A direct unit's buffer holds a generous run of whole records whatever
// block size the file system reports, so that records written in sequence
// go out in few large writes.
TEST_F(OpenTest, DirectBufferHoldsManyWholeRecords) {
    for (int64_t recl : {64, 100, 4096, 100000}) {
        SCOPED_TRACE(recl);
        kit::Keys k;
        k.text(FOR_KEY_FILE, path("d")).text(FOR_KEY_STATUS, "replace").text(FOR_KEY_ACCESS, "direct");
        k.text(FOR_KEY_FORM, "unformatted").value(FOR_KEY_RECL_BYTES, recl);
        ASSERT_EQ(open_unit(43, k), 0);
        with_unit(43, [&](For_Lub *lub) {
            const auto len = static_cast<uint64_t>(recl);
            EXPECT_EQ(lub->lub_rec_len, len);
            EXPECT_EQ(lub->lub_buf_size % len, 0u) << "whole records";
            EXPECT_GE(lub->lub_buf_size, std::max<uint64_t>(131072 - len + 1, 4 * len));
        });
        close_unit(43);
    }
}

TEST_F(OpenTest, FailuresFillIomsgAndLeaveNoConnection) {
    touch("exists");
    std::string longname(5000, 'n');
    struct Case {
        const char *what;
        std::string file;
        const char *status;
        int want;
        const char *text;
    } cases[] = {
        {"a directory", dir_, "old", 30, "open failure, unit 41, file "},
        {"missing directory", path("no/such/file"), "new", 29, "file not found, unit 41"},
        {"existing file, NEW", path("exists"), "new", 10, "cannot overwrite existing file, unit 41"},
        {"name too long", longname, "new", 785, "File-path is longer than"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string msg(60, ' ');
        kit::Keys k;
        k.text(FOR_KEY_FILE, c.file).text(FOR_KEY_STATUS, c.status);
        k.chars(FOR_KEY_IOMSG, msg);
        EXPECT_EQ(open_unit(41, k), c.want);
        EXPECT_EQ(msg.rfind(c.text, 0), 0u) << msg;
        with_unit(41, [](For_Lub *lub) {
            EXPECT_FALSE(lub->lub_flags & lubf::opened);
            EXPECT_EQ(lub->lub_fd, -1);
        });
    }
}

TEST_F(OpenTest, DefaultNamesAndDirectories) {
    std::string cwd = fs::current_path();
    fs::current_path(dir_);
    struct Case {
        const char *what;
        const char *env;     // FORT12 value, or nullptr
        const char *defdir;  // DEFAULTFILE=, or nullptr
        std::string want;
    } cases[] = {
        {"fort.n in the current directory", nullptr, nullptr, path("fort.12")},
        {"FORTn names the file", "named12", nullptr, path("named12")},
        {"empty FORTn counts as unset", "", nullptr, path("fort.12")},
        {"the default directory", nullptr, "sub", "sub/fort.12"},
    };
    fs::create_directory(path("sub"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.env)
            setenv("FORT12", c.env, 1);
        else
            unsetenv("FORT12");
        kit::Keys k;
        std::string want = c.want;
        if (c.defdir) {
            k.text(FOR_KEY_DEFAULTFILE, path(c.defdir));
            want = path(c.want);
        }
        ASSERT_EQ(open_unit(12, k), 0);
        with_unit(12, [&](For_Lub *lub) { EXPECT_STREQ(lub->lub_file_name, want.c_str()); });
        EXPECT_TRUE(fs::exists(want));
        close_unit(12);
    }
    unsetenv("FORT12");
    fs::current_path(cwd);
}

TEST_F(OpenTest, TildeMeansHome) {
    std::string old = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", dir_.c_str(), 1);
    kit::Keys k;
    k.text(FOR_KEY_FILE, "~/t.dat");
    ASSERT_EQ(open_unit(13, k), 0);
    EXPECT_TRUE(fs::exists(path("t.dat")));
    close_unit(13);
    setenv("HOME", old.c_str(), 1);
}

TEST_F(OpenTest, ScratchFilesArePrivateAndGoAwayAtClose) {
    const std::string name = open_scratch(14, dir_);
    with_unit(14, [&](For_Lub *lub) { EXPECT_TRUE(fcntl(lub->lub_fd, F_GETFD) & FD_CLOEXEC); });
    EXPECT_EQ(name.rfind(dir_ + "/fort", 0), 0u) << name;
    EXPECT_EQ(name.size(), dir_.size() + 11);
    struct stat st;
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(close_unit(14, "keep"), msg::inconsistent_open_close) << "a scratch file cannot be kept";
    EXPECT_EQ(close_unit(14), 0);
    EXPECT_FALSE(fs::exists(name));
    unsetenv("TMPDIR");
}

TEST_F(OpenTest, ScratchWithFileWarnsAndIgnoresTheName) {
    setenv("TMPDIR", dir_.c_str(), 1);
    testing::internal::CaptureStderr();
    kit::Keys k;
    k.text(FOR_KEY_STATUS, "scratch").text(FOR_KEY_FILE, path("ignored"));
    ASSERT_EQ(open_unit(15, k), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("(530): FILE= specifier ignored when STATUS has value SCRATCH"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(path("ignored")));
    close_unit(15);
    unsetenv("TMPDIR");
}

TEST_F(OpenTest, DeletionNeedsAWritableConnection) {
    touch("ro");
    touch("ar");
    kit::Keys k1;
    k1.text(FOR_KEY_FILE, path("ro")).value(FOR_KEY_READONLY, 1);
    ASSERT_EQ(open_unit(16, k1), 0);
    EXPECT_EQ(close_unit(16, "delete"), msg::inconsistent_open_close);
    with_unit(16, [](For_Lub *lub) { EXPECT_TRUE(lub->lub_flags & lubf::opened) << "still connected"; });
    EXPECT_EQ(close_unit(16), 0);
    EXPECT_TRUE(fs::exists(path("ro")));

    kit::Keys k2;
    k2.text(FOR_KEY_FILE, path("ar")).text(FOR_KEY_ACTION, "read");
    ASSERT_EQ(open_unit(17, k2), 0);
    EXPECT_EQ(close_unit(17, "delete"), 0);
    EXPECT_FALSE(fs::exists(path("ar")));
}

TEST_F(OpenTest, ReopenKeepsTheModesItDoesNotName) {
    touch("m");
    kit::Keys k1;
    k1.text(FOR_KEY_FILE, path("m"))
        .text(FOR_KEY_DELIM, "quote")
        .text(FOR_KEY_DECIMAL, "comma")
        .text(FOR_KEY_PAD, "no")
        .text(FOR_KEY_BLANK, "zero");
    ASSERT_EQ(open_unit(18, k1), 0);
    // The same file by another spelling, changing SIGN= only.
    kit::Keys k2;
    k2.text(FOR_KEY_FILE, dir_ + "/./m").text(FOR_KEY_SIGN, "plus");
    ASSERT_EQ(open_unit(18, k2), 0);
    with_unit(18, [](For_Lub *lub) {
        EXPECT_EQ(lub->lub_sign, FOR_SIGN_PLUS);
        EXPECT_EQ(lub->lub_delim, '"');
        EXPECT_EQ(lub->lub_decimal, FOR_DECIMAL_COMMA);
        EXPECT_FALSE(lub->lub_flags & lubf::pad);
        EXPECT_FALSE(lub->lub_flags & lubf::blank_null);
    });
    kit::Keys k3;
    k3.text(FOR_KEY_FILE, path("m")).value(FOR_KEY_RECL, 77);
    std::string msg(80, ' ');
    k3.chars(FOR_KEY_IOMSG, msg);
    EXPECT_EQ(open_unit(18, k3), msg::incorrect_specifier_value);
    EXPECT_EQ(msg.rfind("incorrect RECL= specifier value for connected file, unit 18", 0), 0u) << msg;
    // Another file: the first is closed and the second connected.
    kit::Keys k4;
    k4.text(FOR_KEY_FILE, path("other"));
    ASSERT_EQ(open_unit(18, k4), 0);
    with_unit(18, [&](For_Lub *lub) { EXPECT_STREQ(lub->lub_file_name, path("other").c_str()); });
    close_unit(18);
}

TEST_F(OpenTest, ReadOnlyFileWithoutActionFallsBackToReading) {
    touch("locked");
    chmod(path("locked").c_str(), 0444);
    if (access(path("locked").c_str(), W_OK) == 0) GTEST_SKIP() << "running as root: permissions do not bind";
    kit::Keys k;
    k.text(FOR_KEY_FILE, path("locked"));
    ASSERT_EQ(open_unit(19, k), 0);
    with_unit(19, [](For_Lub *lub) { EXPECT_TRUE(lub->lub_flags & lubf::readonly); });
    close_unit(19);
    kit::Keys k2;
    k2.text(FOR_KEY_FILE, path("locked")).text(FOR_KEY_ACTION, "readwrite");
    EXPECT_EQ(open_unit(19, k2), 9) << "an explicit ACTION does not fall back";
}

TEST_F(OpenTest, NewunitNumbersAndTheirFailures) {
    int32_t u1 = 0, u2 = 0;
    int8_t small = 0;
    kit::Keys k1;
    k1.var(FOR_KEY_NEWUNIT, u1).text(FOR_KEY_FILE, path("n1"));
    ASSERT_EQ(open_unit(0, k1), 0);
    EXPECT_LE(u1, -129);
    kit::Keys bad;
    bad.var(FOR_KEY_NEWUNIT, u2);  // neither FILE= nor STATUS='SCRATCH'
    EXPECT_EQ(open_unit(0, bad), msg::newunit_needs_file);
    kit::Keys k2;
    k2.var(FOR_KEY_NEWUNIT, u2).text(FOR_KEY_FILE, path("no/dir/n2"));
    EXPECT_EQ(open_unit(0, k2), msg::file_not_found);
    kit::Keys k3;
    k3.var(FOR_KEY_NEWUNIT, u2).text(FOR_KEY_FILE, path("n3"));
    ASSERT_EQ(open_unit(0, k3), 0);
    EXPECT_EQ(u2, u1 - 1) << "numbers of failed OPENs were given back";
    kit::Keys k4;
    k4.var(FOR_KEY_NEWUNIT, small).text(FOR_KEY_FILE, path("n4"));
    ASSERT_EQ(open_unit(0, k4), 0);
    EXPECT_LE(small, -7);
    EXPECT_GE(small, -128) << "an INTEGER(1) variable gets a number it can hold";
    for (int u : {u1, u2, static_cast<int>(small)}) EXPECT_EQ(close_unit(u), 0);
    int32_t again = 0;
    kit::Keys k5;
    k5.var(FOR_KEY_NEWUNIT, again).text(FOR_KEY_FILE, path("n5"));
    ASSERT_EQ(open_unit(0, k5), 0);
    EXPECT_EQ(again, u1) << "CLOSE gives the numbers back: the lowest free comes first";
    close_unit(again);
}

TEST_F(OpenTest, RecordLengths) {
    struct Case {
        const char *what;
        const char *form;
        int recl_code;
        int64_t recl;
        const char *recordtype;
        int status;
        uint64_t rec_len;
    } cases[] = {
        {"unformatted RECL in 4-byte units, VARIABLE", "unformatted", FOR_KEY_RECL, 10, nullptr, 0, 48},
        {"RECL in bytes", "unformatted", FOR_KEY_RECL_BYTES, 10, nullptr, 0, 18},
        {"SEGMENTED 4 bytes is too short", "unformatted", FOR_KEY_RECL, 1, "segmented", 531, 0},
        {"SEGMENTED 8 bytes", "unformatted", FOR_KEY_RECL, 2, "segmented", 0, 8},
        {"formatted default", "formatted", 0, 0, nullptr, 0, 133 + 1},
        {"RECL overflowing", "unformatted", FOR_KEY_RECL, INT64_MAX / 2, nullptr, 769, 0},
    };
    int unit = 50;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        kit::Keys k;
        k.text(FOR_KEY_FILE, path("r" + std::to_string(unit))).text(FOR_KEY_FORM, c.form);
        if (c.recl_code) k.value(c.recl_code, c.recl);
        if (c.recordtype) k.text(FOR_KEY_RECORDTYPE, c.recordtype);
        EXPECT_EQ(open_unit(unit, k), c.status);
        if (c.status == 0) {
            with_unit(unit, [&](For_Lub *lub) { EXPECT_EQ(lub->lub_rec_len, c.rec_len); });
            close_unit(unit);
        }
        ++unit;
    }
}

TEST_F(OpenTest, KeywordValues) {
    struct Case {
        int code;
        const char *value;
        int want;
    } cases[] = {{FOR_KEY_ACCESS, "sequential  ", 0},
                 {FOR_KEY_ACCESS, "SEQ", 45},
                 {FOR_KEY_ACCESS, " SEQUENTIAL", 45},
                 {FOR_KEY_FORM, "Formatted", 0},
                 {FOR_KEY_STATUS, "ancient", 45}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        kit::Keys k;
        k.text(FOR_KEY_FILE, path("kw")).text(c.code, c.value);
        EXPECT_EQ(open_unit(60, k), c.want);
        if (c.want == 0) close_unit(60);
    }
    kit::Keys app;
    app.text(FOR_KEY_FILE, path("ap")).text(FOR_KEY_ACCESS, "append").text(FOR_KEY_STATUS, "new");
    EXPECT_EQ(open_unit(61, app), msg::inconsistent_open_close) << "APPEND with NEW";
}

TEST_F(OpenTest, ConsoleUnitsConnectToTheirDescriptorsAndSurviveClose) {
    For_Lub *lub = nullptr;
    ASSERT_EQ(for__acquire_lun(6, &lub, nullptr, FOR_OP_WRITE_SEQ), 0);
    ASSERT_EQ(for__open_default(lub, 1, 4, 1), 0);
    EXPECT_EQ(lub->lub_fd, 1);
    EXPECT_TRUE(lub->lub_flags & lubf::formatted);
    EXPECT_TRUE(lub->lub_flags & lubf::access_seq);
    EXPECT_EQ(lub->lub_xfer_kind, 1);
    for__release_lub(lub);
    EXPECT_EQ(close_unit(6, "delete"), 0);
    EXPECT_NE(fcntl(1, F_GETFD), -1) << "standard output stays open";
    ASSERT_EQ(for__acquire_lun(6, &lub, nullptr, FOR_OP_WRITE_SEQ), 0);
    EXPECT_EQ(lub->lub_flags, lubf::preconnected) << "back to the console defaults";
    for__release_lub(lub);
}

TEST_F(OpenTest, UnformattedRepresentation) {
    struct Case {
        const char *convert;  // CONVERT=, or nullptr
        const char *env;      // FORT_CONVERT80, or nullptr
        int status;
        bool foreign, big_endian;
        uint8_t code;
    } cases[] = {
        {nullptr, nullptr, 0, false, false, 0},     {"big_endian", nullptr, 0, true, true, 0},
        {"vaxd", nullptr, 0, true, false, 2},       {"ibm", nullptr, 0, true, true, 3},
        {"native", "big_endian", 0, true, true, 0}, {"big_endian", "Little_Endian", 0, false, false, 0},
        {nullptr, "cray", 0, true, true, 4},        {nullptr, "middle_endian", 46, false, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.convert ? c.convert : "-") + " / " + (c.env ? c.env : "-"));
        if (c.env)
            setenv("FORT_CONVERT80", c.env, 1);
        else
            unsetenv("FORT_CONVERT80");
        kit::Keys k;
        k.text(FOR_KEY_FILE, path("cv")).text(FOR_KEY_FORM, "unformatted");
        if (c.convert) k.text(FOR_KEY_CONVERT, c.convert);
        ASSERT_EQ(open_unit(80, k), c.status);
        if (c.status != 0) continue;
        with_unit(80, [&](For_Lub *lub) {
            EXPECT_EQ(bool(lub->lub_flags & lubf::foreign), c.foreign);
            EXPECT_EQ(bool(lub->lub_flags & lubf::big_endian), c.big_endian);
            EXPECT_EQ(lub->lub_convert, c.code);
        });
        close_unit(80);
    }
    unsetenv("FORT_CONVERT80");
}

// File-system faults on a small tmpfs of the test's own: a full file system
// and a read-only one each give an error through IOSTAT= and IOMSG= and
// leave no half-connected unit.
class FileSystemFaults : public OpenTest {
  protected:
    void SetUp() override {
        OpenTest::SetUp();
        mnt_ = path("mnt");
        fs::create_directory(mnt_);
        if (geteuid() != 0 || ::system(("mount -t tmpfs -o size=64k tmpfs " + mnt_ + " 2>/dev/null").c_str()) != 0)
            mnt_.clear();
    }
    void TearDown() override {
        if (!mnt_.empty()) (void)::system(("umount " + mnt_).c_str());
        OpenTest::TearDown();
    }
    std::string mnt_;
};

TEST_F(FileSystemFaults, AFullFileSystemFailsTheWriteNotTheProgram) {
    if (mnt_.empty()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    kit::Keys k;
    k.text(FOR_KEY_FILE, mnt_ + "/big").text(FOR_KEY_STATUS, "replace");
    ASSERT_EQ(open_unit(90, k), 0);
    std::string line(1000, 'x');
    int status = 0;
    for (int i = 0; i < 200 && status == 0; ++i) {
        kit::Stmt st(90);
        st.flags.iostat();
        st.items.text(line).end();
        status = st.run(for_write_seq_lis);
    }
    // Buffered records meet the full disk when written out, at the latest
    // at CLOSE.
    std::string msg(80, ' ');
    kit::Keys c;
    c.chars(FOR_KEY_IOMSG, msg);
    kit::Flags f;
    f.iostat();
    For_Context ctx{};
    int close_status = for_close(&ctx, 90, f, c.dsc(), c.val());
    EXPECT_TRUE(status == 38 || close_status == 28) << status << " " << close_status;
    with_unit(90, [](For_Lub *lub) { EXPECT_FALSE(lub->lub_flags & lubf::opened); });
}

TEST_F(FileSystemFaults, AReadOnlyFileSystemRefusesNewFiles) {
    if (mnt_.empty()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    ASSERT_EQ(::system(("mount -o remount,ro " + mnt_).c_str()), 0);
    std::string msg(80, ' ');
    kit::Keys k;
    k.text(FOR_KEY_FILE, mnt_ + "/new").text(FOR_KEY_STATUS, "new");
    k.chars(FOR_KEY_IOMSG, msg);
    EXPECT_EQ(open_unit(91, k), 9);
    EXPECT_EQ(msg.rfind("permission to access file denied, unit 91", 0), 0u) << msg;
    with_unit(91, [](For_Lub *lub) { EXPECT_FALSE(lub->lub_flags & lubf::opened); });
}

TEST_F(FileSystemFaults, AReadOnlyFileWithoutActionIsOpenedForReading) {
    if (mnt_.empty()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    std::ofstream(mnt_ + "/old") << "1\n";
    ASSERT_EQ(::system(("mount -o remount,ro " + mnt_).c_str()), 0);
    kit::Keys k;
    k.text(FOR_KEY_FILE, mnt_ + "/old");
    ASSERT_EQ(open_unit(92, k), 0);
    with_unit(92, [](For_Lub *lub) { EXPECT_TRUE(lub->lub_flags & lubf::readonly); });
    // Writing to it is refused as the connection says.
    int32_t x = 5;
    kit::Stmt st(92);
    st.flags.iostat();
    st.items.item(x).end();
    EXPECT_EQ(st.run(for_write_seq_lis), msg::write_to_readonly);
    EXPECT_EQ(close_unit(92), 0);
    kit::Keys k2;
    k2.text(FOR_KEY_FILE, mnt_ + "/old").text(FOR_KEY_ACTION, "readwrite");
    EXPECT_EQ(open_unit(92, k2), 9) << "an explicit ACTION does not fall back";
}

TEST_F(OpenTest, ActionReadRefusesAWrite) {
    touch("in");
    kit::Keys k;
    k.text(FOR_KEY_FILE, path("in")).text(FOR_KEY_ACTION, "read");
    ASSERT_EQ(open_unit(93, k), 0);
    int32_t x = 5;
    std::string msg(60, ' ');
    kit::Stmt st(93);
    st.flags.iostat();
    st.control.iomsg(msg);
    st.items.item(x).end();
    EXPECT_EQ(st.run(for_write_seq_lis), msg::write_to_readonly);
    EXPECT_EQ(msg.rfind("write to READONLY file, unit 93", 0), 0u) << msg;
    close_unit(93);
}

namespace {
std::string user_open_seen;
int user_open_flags = 0;
int user_open(const char *name, int *flags, int *mode, int *unit, int len) {
    user_open_seen = std::string(name, static_cast<size_t>(len)) + " unit " + std::to_string(*unit);
    user_open_flags = *flags;
    *mode = 0600;
    return ::open(name, *flags | O_CREAT, *mode);
}
}  // namespace

TEST_F(OpenTest, AUserOpenFunctionOpensTheFile) {
    kit::Keys k;
    k.text(FOR_KEY_FILE, path("user"))
        .item(FOR_TYPE_INT8, FOR_FORM_VALUE, FOR_KEY_USEROPEN, {reinterpret_cast<uintptr_t>(&user_open)});
    ASSERT_EQ(open_unit(94, k), 0);
    EXPECT_EQ(user_open_seen, path("user") + " unit 94");
    EXPECT_TRUE(user_open_flags & O_CLOEXEC);
    struct stat st;
    ASSERT_EQ(stat(path("user").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    close_unit(94);
}

TEST_F(OpenTest, ClosingAnUnopenedUnitIsNotAnError) {
    EXPECT_EQ(close_unit(70), 0);
    EXPECT_EQ(close_unit(123456), 0);
}

TEST_F(OpenTest, ThreadsOpenAndCloseTheirOwnNewunits) {
    constexpr int threads = 8, rounds = 40;
    std::vector<std::vector<int>> numbers(threads);
    std::vector<std::thread> pool;
    std::atomic<int> failures{0};
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                int32_t u = 0;
                kit::Keys k;
                k.var(FOR_KEY_NEWUNIT, u).text(FOR_KEY_FILE, path("t" + std::to_string(t)));
                if (open_unit(0, k) != 0) ++failures;
                numbers[static_cast<size_t>(t)].push_back(u);
                if (close_unit(u) != 0) ++failures;
            }
        });
    for (auto &th : pool) th.join();
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < threads; ++t) EXPECT_TRUE(fs::exists(path("t" + std::to_string(t))));
}

// CLOSE (STATUS='DELETE') takes away a plain file or a symbolic link (the
// link, not what it names); a FIFO or a device node it was connected to
// stays, and the CLOSE reports the refused deletion naming the file.
TEST_F(OpenTest, DeletionRemovesOnlyPlainFilesAndLinks) {
    touch("plain");
    touch("target");
    ASSERT_EQ(symlink(path("target").c_str(), path("link").c_str()), 0);
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    // A node of the null device made here, never /dev/null itself.
    const bool device = mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    struct Case {
        const char *name;
        int want;
        bool stays;
    } cases[] = {
        {"plain", 0, false},
        {"link", 0, false},
        {"fifo", msg::close_error, true},
        {"null", msg::close_error, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string_view(c.name) == "null" && !device) continue;
        kit::Keys k;
        k.text(FOR_KEY_FILE, path(c.name)).text(FOR_KEY_STATUS, "old");
        ASSERT_EQ(open_unit(95, k), 0);
        std::string msg(200, ' ');
        kit::Keys ck;
        ck.text(FOR_KEY_DISPOSE, "delete").chars(FOR_KEY_IOMSG, msg);
        For_Context ctx{};
        EXPECT_EQ(for_close(&ctx, 95, kit::Flags{}.iostat(), ck.dsc(), ck.val()), c.want);
        struct stat st;
        EXPECT_EQ(lstat(path(c.name).c_str(), &st) == 0, c.stays);
        if (c.want != 0) {
            EXPECT_EQ(msg.substr(0, msg.find_last_not_of(' ') + 1), "CLOSE error, unit 95, file " + path(c.name));
        }
        with_unit(95, [](For_Lub *lub) { EXPECT_FALSE(lub->lub_flags & lubf::opened); });
    }
    EXPECT_TRUE(fs::exists(path("target"))) << "the link went, not the file it names";
}

// A scratch file's name that came to hold something else by the time of
// the CLOSE is not the program's to remove: kept, and nothing said.
TEST_F(OpenTest, ScratchCleanUpKeepsWhatIsNoLongerItsFile) {
    const std::string name = open_scratch(96, dir_);
    ASSERT_EQ(unlink(name.c_str()), 0);
    ASSERT_EQ(mkfifo(name.c_str(), 0600), 0);
    EXPECT_EQ(close_unit(96), 0);
    EXPECT_TRUE(fs::exists(name));
    unsetenv("TMPDIR");
}

// A failed OPEN or CLOSE names the file it failed on, in IOMSG= as in the
// message on standard error, never "Unknown".
TEST_F(OpenTest, FailedOpenNamesItsFile) {
    touch("exists");
    struct Case {
        const char *what;
        std::string file;
        std::vector<std::pair<int, std::string>> more;  // further keywords
        int want;
        const char *text;
    } cases[] = {
        {"missing directory", path("no/such"), {{FOR_KEY_STATUS, "old"}}, msg::file_not_found, "file not found"},
        {"a directory", dir_, {}, msg::open_failure, "open failure"},
        {"existing file, NEW", path("exists"), {{FOR_KEY_STATUS, "new"}}, 10, "cannot overwrite existing file"},
        {"a file as a directory", path("exists/sub"), {}, msg::file_name_error, "file name specification error"},
        {"READONLY and ACTION='WRITE'",
         path("exists"),
         {{FOR_KEY_ACTION, "write"}},
         msg::inconsistent_open_close,
         "inconsistent OPEN/CLOSE parameters"},
        {"a keyword value",
         path("exists"),
         {{FOR_KEY_FORM, "sideways"}},
         msg::open_keyword_value,
         "keyword value error in OPEN statement"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string msg(300, ' ');
        kit::Keys k;
        k.text(FOR_KEY_FILE, c.file);
        for (const auto &[code, value] : c.more) k.text(code, value);
        if (c.want == msg::inconsistent_open_close) k.value(FOR_KEY_READONLY, 1);
        k.chars(FOR_KEY_IOMSG, msg);
        EXPECT_EQ(open_unit(97, k), c.want);
        EXPECT_EQ(msg.substr(0, msg.find_last_not_of(' ') + 1), std::string(c.text) + ", unit 97, file " + c.file);
        with_unit(97, [](For_Lub *lub) {
            EXPECT_FALSE(lub->lub_flags & lubf::opened);
            EXPECT_EQ(lub->lub_file_name, nullptr) << "the name goes once the failure is told";
        });
    }
}

// The unit's file from FORTn that cannot be opened is named in the
// implicit OPEN's failure, and on standard error when nothing takes it.
TEST_F(OpenTest, FailedImplicitOpenNamesTheFileFromTheEnvironment) {
    const std::string file = path("no/such/dir/out");
    setenv("FORT78", file.c_str(), 1);
    std::string msg(200, ' ');
    int32_t x = 5;
    kit::Stmt st(78);
    st.flags.iostat();
    st.control.iomsg(msg);
    st.items.item(x).end();
    EXPECT_EQ(st.run(for_write_seq_lis), msg::file_not_found);
    EXPECT_EQ(msg.substr(0, msg.find_last_not_of(' ') + 1), "file not found, unit 78, file " + file);
    EXPECT_EXIT(
        {
            kit::Stmt w(78);
            w.items.item(x).end();
            w.run(for_write_seq_lis);
            std::exit(0);
        },
        testing::ExitedWithCode(msg::file_not_found),
        "forrtl: No such file or directory\nforrtl: severe \\(29\\): file not found, unit 78, file " + file);
    unsetenv("FORT78");
}

// SCRATCH goes to FORT_TMPDIR, TMPDIR or the default directory (DEFAULTFILE=
// or the current one), the first that is a directory; when none is, the
// OPEN fails with the reason and makes no file anywhere else.
TEST_F(OpenTest, ScratchWithNowhereToGoFails) {
    const fs::path cwd = fs::current_path();
    const std::string elsewhere = path("elsewhere");
    fs::create_directory(elsewhere);
    touch("plain");
    fs::current_path(elsewhere);  // writable, but not where the OPEN asked
    setenv("TMPDIR", path("missing").c_str(), 1);
    setenv("FORT_TMPDIR", path("plain").c_str(), 1);
    struct Case {
        const char *what;
        std::string default_dir;
    } cases[] = {
        {"a missing DEFAULTFILE directory", path("missing")},
        {"a DEFAULTFILE that is a file", path("plain")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string msg(100, ' ');
        kit::Keys k;
        k.text(FOR_KEY_STATUS, "scratch").text(FOR_KEY_DEFAULTFILE, c.default_dir).chars(FOR_KEY_IOMSG, msg);
        EXPECT_EQ(open_unit(98, k), msg::open_failure);
        EXPECT_EQ(msg.rfind("open failure, unit 98", 0), 0u) << msg;
        EXPECT_TRUE(fs::is_empty(elsewhere)) << "no scratch file elsewhere";
        with_unit(98, [](For_Lub *lub) { EXPECT_FALSE(lub->lub_flags & lubf::opened); });
        close_unit(98);
    }
    // The current directory as the default directory takes the file.
    kit::Keys k2;
    k2.text(FOR_KEY_STATUS, "scratch");
    EXPECT_EQ(open_unit(98, k2), 0);
    std::string name;
    with_unit(98, [&](For_Lub *lub) { name = lub->lub_file_name; });
    EXPECT_EQ(name.rfind(elsewhere + "/fort", 0), 0u) << name;
    close_unit(98);
    fs::current_path(cwd);
    unsetenv("TMPDIR");
    unsetenv("FORT_TMPDIR");
}

}  // namespace
