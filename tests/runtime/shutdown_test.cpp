// Endings that come while other threads are in the middle of I/O: the end
// of the main program (for_rtl_finish_) and SIGTERM from outside. Each runs
// term_child with writer threads; the ending happens once, nothing reports
// a unit closed under it, and every record on disk is whole.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <regex>
#include <string>

#include "term_run.h"

namespace {

// Every line of `file` is a whole record of its writer ("writer <t> record
// <n>", n counting up from 0 for each writer) with nothing after the last.
void expect_whole_records(const std::string &file, int only_writer = -1) {
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(all.empty() || all.back() == '\n') << file << ": the last record is cut";
    static const std::regex record(R"( writer (\d) record (\d{9}))");
    int next[8] = {};
    size_t lines = 0;
    for (size_t pos = 0; pos < all.size();) {
        const size_t nl = all.find('\n', pos);
        const std::string line = all.substr(pos, nl - pos);
        pos = nl + 1;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, record)) << file << ": a broken record: '" << line << "'";
        const int t = std::stoi(m[1]);
        ASSERT_TRUE(only_writer < 0 || t == only_writer) << file;
        ASSERT_EQ(std::stoi(m[2]), next[t]) << file << ": a record of writer " << t << " is missing";
        ++next[t];
        ++lines;
    }
    EXPECT_GT(lines, 0u) << file << ": the writers wrote nothing";
}

void expect_all_whole(const std::string &dir) {
    for (int t = 0; t < 4; ++t) expect_whole_records(dir + "/w" + std::to_string(t) + ".dat", t);
    expect_whole_records(dir + "/shared.dat");
}

struct Ending {
    const char *ending;
    std::string err, out;
    int exit_code;
};

TEST(Shutdown, EndingsWhileOtherThreadsWriteHappenOnceAndLeaveWholeRecords) {
    const Ending cases[] = {
        {"finish_while_writing", "", "finish 0\n", 0},
        {"sigterm_while_writing", "forrtl: error (78): process killed (SIGTERM)\n", "", 1},
    };
    for (const Ending &c : cases) {
        SCOPED_TRACE(c.ending);
        for (int round = 0; round < 5; ++round) {
            const Outcome o = run(c.ending, {}, nullptr, expect_all_whole);
            EXPECT_EQ(o.err, c.err);
            EXPECT_EQ(o.out, c.out);
            EXPECT_EQ(o.exit_code, c.exit_code);
            EXPECT_EQ(o.signal, 0);
            for (const std::string &name : o.left)
                EXPECT_NE(name.rfind("fort.", 0), 0u) << name << ": a unit opened again after the close";
            EXPECT_EQ(o.left.count("doomed.dat"), 0u) << "units not closed at the end";
        }
    }
}

// The exit handler frees memory; run from the handler on a thread that the
// signal caught inside the allocator, it would wait for a lock its own
// thread holds. The ending runs elsewhere and the process ends as SIGTERM
// says.
TEST(Shutdown, SigtermInsideTheAllocatorStillEnds) {
    for (int round = 0; round < 3; ++round) {
        const Outcome o = run("sigterm_in_malloc");
        EXPECT_EQ(o.err, "forrtl: error (78): process killed (SIGTERM)\n");
        EXPECT_EQ(o.exit_code, 1);
        EXPECT_EQ(o.signal, 0);
        EXPECT_EQ(o.left, std::set<std::string>{"kept.dat"});
    }
}

}  // namespace
