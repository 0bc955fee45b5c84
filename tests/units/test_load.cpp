// Load: 8 threads each run 100,000 statements at once: list-directed WRITEs
// to one shared unit and to a unit of their own, unformatted WRITEs to a
// unit of their own, internal WRITEs, and now and then a CLOSE and an OPEN
// again for APPEND. Afterwards every record is on disk whole, in its
// thread's order, none missing. In the thread-checking run (label
// "threads") the same load must be free of races.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "support/files.h"
#include "support/kit.h"

namespace {

constexpr int threads = 8;
constexpr int statements = 100000;  // per thread
constexpr int reopen_every = 5000;
constexpr int shared_unit = 60;
int formatted_unit(int t) { return 70 + t; }
int unformatted_unit(int t) { return 80 + t; }

std::string record(char kind, int t, int n) {
    char text[32];
    std::snprintf(text, sizeof text, "%c%d %09d", kind, t, n);
    return text;
}

int write_text(int unit, const std::string &text) {
    kit::Stmt st(unit);
    st.flags.iostat();
    st.items.text(text).end();
    return st.run(for_write_seq_lis);
}

int open_file(int unit, const std::string &file, const char *form, bool append) {
    kit::Keys k;
    k.text(FOR_KEY_FILE, file).text(FOR_KEY_FORM, form);
    if (append)
        k.text(FOR_KEY_POSITION, "append");
    else
        k.text(FOR_KEY_STATUS, "replace");
    return kit::open_unit(unit, k);
}

std::string contents(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The records of a list-directed file, " <kind><t> <n>" each, counted per
// thread: false at the first one that is broken, out of order or missing.
::testing::AssertionResult whole_text_records(const std::string &all, char kind, int only, int *counts) {
    size_t pos = 0;
    while (pos < all.size()) {
        const size_t nl = all.find('\n', pos);
        if (nl == std::string::npos) return ::testing::AssertionFailure() << "a record without its end";
        const std::string line = all.substr(pos, nl - pos);
        pos = nl + 1;
        int t = -1, n = -1;
        char k = 0, tail = 0;
        if (std::sscanf(line.c_str(), " %c%d %d%c", &k, &t, &n, &tail) != 3 || k != kind || t < 0 || t >= threads ||
            (only >= 0 && t != only) || line != " " + record(kind, t, n))
            return ::testing::AssertionFailure() << "a broken record: '" << line << "'";
        if (n != counts[t])
            return ::testing::AssertionFailure() << "thread " << t << " record " << counts[t] << " missing";
        ++counts[t];
    }
    return ::testing::AssertionSuccess();
}

TEST(Load, EightThreadsOfMixedStatementsKeepEveryRecordWhole) {
    kit::Scratch_Dir scratch("load");
    const std::string shared = scratch.path("shared.txt");
    ASSERT_EQ(open_file(shared_unit, shared, "formatted", false), 0);
    std::atomic<int> failures{0};
    std::atomic<int> first_failure{0};
    auto fail = [&](int s) {
        if (s == 0) return;
        int none = 0;
        first_failure.compare_exchange_strong(none, s);
        ++failures;
    };
    // Per thread: how many records each kind of statement wrote.
    std::vector<int> shared_written(threads), text_written(threads), binary_written(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            const std::string text_file = scratch.path("text" + std::to_string(t));
            const std::string binary_file = scratch.path("binary" + std::to_string(t));
            fail(open_file(formatted_unit(t), text_file, "formatted", false));
            fail(open_file(unformatted_unit(t), binary_file, "unformatted", false));
            int shared_n = 0, text_n = 0, binary_n = 0;
            for (int i = 0; i < statements; ++i) {
                switch (i % 4) {
                case 0: fail(write_text(shared_unit, record('S', t, shared_n++))); break;
                case 1: fail(write_text(formatted_unit(t), record('P', t, text_n++))); break;
                case 2: {
                    int32_t pair[2] = {t, binary_n++};
                    kit::Stmt st(unformatted_unit(t));
                    st.flags.iostat();
                    st.items.item(pair[0]).item(pair[1]).end();
                    fail(st.run(for_write_seq));
                    break;
                }
                case 3: {
                    char line[24];
                    kit::Stmt st;
                    st.flags.iostat();
                    st.items.chars(line, sizeof line).text(record('I', t, i)).end();
                    const int s = st.run(for_write_int_lis);
                    fail(s);
                    const std::string want = " " + record('I', t, i);
                    if (s == 0 && std::string(line, sizeof line) != want + std::string(sizeof line - want.size(), ' '))
                        fail(-1);
                    break;
                }
                }
                if (i % reopen_every == reopen_every - 1) {
                    fail(kit::close_unit(formatted_unit(t)));
                    fail(open_file(formatted_unit(t), text_file, "formatted", true));
                }
            }
            fail(kit::close_unit(formatted_unit(t)));
            fail(kit::close_unit(unformatted_unit(t)));
            shared_written[static_cast<size_t>(t)] = shared_n;
            text_written[static_cast<size_t>(t)] = text_n;
            binary_written[static_cast<size_t>(t)] = binary_n;
        });
    for (auto &th : pool) th.join();
    ASSERT_EQ(kit::close_unit(shared_unit), 0);
    EXPECT_EQ(failures.load(), 0) << "first failure " << first_failure.load();

    int shared_counts[threads] = {};
    EXPECT_TRUE(whole_text_records(contents(shared), 'S', -1, shared_counts));
    for (int t = 0; t < threads; ++t) {
        SCOPED_TRACE("thread " + std::to_string(t));
        EXPECT_EQ(shared_counts[t], shared_written[static_cast<size_t>(t)]);
        int counts[threads] = {};
        EXPECT_TRUE(whole_text_records(contents(scratch.path("text" + std::to_string(t))), 'P', t, counts));
        EXPECT_EQ(counts[t], text_written[static_cast<size_t>(t)]);
        // Unformatted records: length 8, the thread, the count, length 8.
        const std::string bin = contents(scratch.path("binary" + std::to_string(t)));
        ASSERT_EQ(bin.size(), 16u * static_cast<size_t>(binary_written[static_cast<size_t>(t)]));
        for (size_t r = 0; r * 16 < bin.size(); ++r) {
            int32_t w[4];
            std::memcpy(w, bin.data() + r * 16, sizeof w);
            if (w[0] != 8 || w[1] != t || w[2] != static_cast<int32_t>(r) || w[3] != 8) {
                ADD_FAILURE() << "unformatted record " << r << " broken";
                break;
            }
        }
    }
}

}  // namespace
