// Output that meets a full file system, on a small tmpfs of the test's own:
// the failing WRITE reports the error, every later statement on the unit
// and the CLOSE report it until a flush gets the output out, and every
// record a WRITE reported written is in the file, whole and in order.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "support/files.h"
#include "support/kit.h"

namespace {

// The tmpfs holds a filler file beside the unit's file: removing it gives
// the unit room again, as a program that frees space would.
class FullDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        mnt_ = dir_.path("mnt");
        if (geteuid() != 0 || ::mkdir(mnt_.c_str(), 0700) != 0 ||
            ::system(("mount -t tmpfs -o size=64k tmpfs " + mnt_ + " 2>/dev/null").c_str()) != 0) {
            mnt_.clear();
            return;
        }
        std::ofstream(mnt_ + "/filler") << std::string(24 * 1024, 'f');
    }
    void TearDown() override {
        if (!mnt_.empty()) (void)::system(("umount " + mnt_).c_str());
    }
    std::string file() const { return mnt_ + "/out"; }
    void free_space() { ASSERT_EQ(::unlink((mnt_ + "/filler").c_str()), 0); }

    kit::Scratch_Dir dir_{"write-fail"};
    std::string mnt_;
};

// How a statement kind writes one record and how the file shows it.
struct Form {
    const char *name;
    const char *form;      // FORM=
    const char *buffered;  // BUFFERED=
};

constexpr Form forms[] = {
    {"list-directed, buffered", "formatted", "yes"},
    {"list-directed, unbuffered", "formatted", "no"},
    {"unformatted, buffered", "unformatted", "yes"},
    {"unformatted, unbuffered", "unformatted", "no"},
};

std::string record_text(int i) {
    char head[16];
    std::snprintf(head, sizeof head, "rec%06d:", i);
    return head + std::string(50, static_cast<char>('a' + i % 26));
}

int write_record(const Form &f, int unit, const std::string &text) {
    kit::Stmt st(unit);
    st.flags.iostat();
    st.items.text(text).end();
    return std::strcmp(f.form, "formatted") == 0 ? st.run(for_write_seq_lis) : st.run(for_write_seq);
}

int flush_unit(int unit) {
    For_Context ctx{};
    return for_flush(&ctx, unit, kit::Flags{}.iostat(), nullptr, nullptr);
}

// The records of the file, in order, as the unit's form writes them.
std::vector<std::string> records_of(const Form &f, const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string bytes = ss.str();
    std::vector<std::string> out;
    if (std::strcmp(f.form, "formatted") == 0) {
        // List-directed output starts each record with a blank.
        size_t at = 0;
        while (at < bytes.size()) {
            size_t nl = bytes.find('\n', at);
            if (nl == std::string::npos) {
                out.push_back("<torn>" + bytes.substr(at));
                break;
            }
            std::string line = bytes.substr(at, nl - at);
            out.push_back(line.empty() ? line : line.substr(1));
            at = nl + 1;
        }
        return out;
    }
    size_t at = 0;
    while (at < bytes.size()) {
        uint32_t n = 0, m = 0;
        if (bytes.size() - at < 8) {
            out.push_back("<torn>");
            break;
        }
        std::memcpy(&n, bytes.data() + at, 4);
        if (bytes.size() - at < 8 + uint64_t{n}) {
            out.push_back("<torn>");
            break;
        }
        std::memcpy(&m, bytes.data() + at + 4 + n, 4);
        out.push_back(m == n ? bytes.substr(at + 4, n) : "<bad markers>");
        at += 8 + n;
    }
    return out;
}

TEST_F(FullDisk, NoRecordReportedWrittenIsLostAndTheErrorStaysUntilAFlushSucceeds) {
    if (mnt_.empty()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    for (const Form &f : forms) {
        SCOPED_TRACE(f.name);
        ::unlink(file().c_str());
        kit::Keys k;
        k.text(FOR_KEY_FILE, file()).text(FOR_KEY_STATUS, "replace");
        k.text(FOR_KEY_FORM, f.form).text(FOR_KEY_BUFFERED, f.buffered);
        ASSERT_EQ(kit::open_unit(40, k), 0);
        int written = 0, status = 0;
        while (written < 2000 && (status = write_record(f, 40, record_text(written))) == 0) ++written;
        ASSERT_EQ(status, msg::write_error) << "after " << written << " records";
        // Sticky: nothing more is taken while the output is owed.
        for (int i = 0; i < 3; ++i) EXPECT_EQ(write_record(f, 40, record_text(5000 + i)), msg::write_error);
        EXPECT_EQ(flush_unit(40), msg::write_error) << "the disk is still full";
        EXPECT_EQ(write_record(f, 40, record_text(6000)), msg::write_error);

        // Room again: the flush gets out what was owed, and the unit works.
        free_space();
        EXPECT_EQ(flush_unit(40), 0);
        ASSERT_EQ(write_record(f, 40, record_text(7000)), 0);
        EXPECT_EQ(kit::close_unit(40), 0);

        std::vector<std::string> recs = records_of(f, file());
        ASSERT_GE(recs.size(), static_cast<size_t>(written) + 1);
        for (int i = 0; i < written; ++i) ASSERT_EQ(recs[i], record_text(i)) << "record " << i;
        // The record of the failing WRITE was reported, not taken: it may
        // follow whole, but nothing else comes between.
        size_t next = written;
        if (recs.size() == next + 2) {
            EXPECT_EQ(recs[next++], record_text(written));
        }
        ASSERT_EQ(recs.size(), next + 1);
        EXPECT_EQ(recs[next], record_text(7000));

        std::ofstream(mnt_ + "/filler") << std::string(24 * 1024, 'f');
    }
}

TEST_F(FullDisk, TheCloseOfAUnitWhoseOutputCannotGoOutReportsIt) {
    if (mnt_.empty()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    for (const Form &f : forms) {
        SCOPED_TRACE(f.name);
        ::unlink(file().c_str());
        kit::Keys k;
        k.text(FOR_KEY_FILE, file()).text(FOR_KEY_STATUS, "replace");
        k.text(FOR_KEY_FORM, f.form).text(FOR_KEY_BUFFERED, f.buffered);
        ASSERT_EQ(kit::open_unit(41, k), 0);
        int written = 0, status = 0;
        while (written < 2000 && (status = write_record(f, 41, record_text(written))) == 0) ++written;
        ASSERT_EQ(status, msg::write_error);
        std::string iomsg(120, ' ');
        kit::Keys c;
        c.chars(FOR_KEY_IOMSG, iomsg);
        For_Context ctx{};
        const int close_status = for_close(&ctx, 41, kit::Flags{}.iostat(), c.dsc(), c.val());
        // The bytes the failing WRITE could not write are still owed, and
        // the CLOSE cannot write them either: it says so.
        EXPECT_EQ(close_status, msg::close_error);
        EXPECT_EQ(iomsg.rfind("CLOSE error, unit 41", 0), 0u) << iomsg;
        // What the file holds is in order, whole up to the byte where the
        // file system ran out.
        std::vector<std::string> recs = records_of(f, file());
        if (!recs.empty() && recs.back().rfind("<torn>", 0) == 0) recs.pop_back();
        ASSERT_LE(recs.size(), static_cast<size_t>(written) + 1);
        for (size_t i = 0; i < recs.size(); ++i) ASSERT_EQ(recs[i], record_text(static_cast<int>(i))) << "record " << i;
        // The unit is free for a new connection.
        kit::Keys again;
        again.text(FOR_KEY_FILE, dir_.path("again")).text(FOR_KEY_STATUS, "replace");
        EXPECT_EQ(kit::open_unit(41, again), 0);
        EXPECT_EQ(kit::close_unit(41, "delete"), 0);
    }
}

}  // namespace
