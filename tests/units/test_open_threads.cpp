// Threads that each OPEN a NEWUNIT file, write records to it and CLOSE it,
// over and over, while another thread PRINTs: no record is lost, no number
// is handed out twice, and the PRINTs all arrive.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <vorlix/io.h>

#include "support/files.h"
#include "support/kit.h"

namespace fs = std::filesystem;

namespace {

TEST(OpenThreads, EveryFileGetsEveryRecord) {
    kit::Scratch_Dir scratch("othreads");
    const std::string &dir = scratch.dir();
    constexpr int threads = 8, rounds = 3, records = 2000;
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::set<int>> numbers(threads);

    // The printer: PRINT *, k to a file behind unit 6's FORT6 name is not
    // possible once unit 6 is connected, so it prints to stdout's unit as a
    // program would; its records only must not disturb the others.
    std::thread printer([&] {
        int32_t k = 0;
        while (!stop.load()) {
            kit::Stmt st(FOR_UNIT_PRINT);
            st.items.item(k).end();
            if (st.run(for_write_seq_lis) != 0) ++failures;
            ++k;
        }
    });
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                int32_t u = 0;
                kit::Keys k;
                k.var(FOR_KEY_NEWUNIT, u)
                    .text(FOR_KEY_FILE, dir + "/t" + std::to_string(t) + "_" + std::to_string(r))
                    .text(FOR_KEY_STATUS, "replace");
                For_Context ctx{};
                if (for_open(&ctx, 0, iof_f90, k.dsc(), k.val()) != 0) {
                    ++failures;
                    continue;
                }
                numbers[static_cast<size_t>(t)].insert(u);
                for (int32_t i = 0; i < records; ++i) {
                    kit::Stmt st(u);
                    st.items.item(i).end();
                    if (st.run(for_write_seq_lis) != 0) ++failures;
                }
                kit::Keys c;
                For_Context cctx{};
                if (for_close(&cctx, u, 0, c.dsc(), c.val()) != 0) ++failures;
            }
        });
    for (auto &th : pool) th.join();
    stop = true;
    printer.join();
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < threads; ++t)
        for (int r = 0; r < rounds; ++r) {
            std::ifstream in(dir + "/t" + std::to_string(t) + "_" + std::to_string(r));
            int count = 0, value = 0, expect = 0;
            while (in >> value) {
                if (value != expect++) ADD_FAILURE() << "record out of order in file " << t << "_" << r;
                ++count;
            }
            EXPECT_EQ(count, records) << t << "_" << r;
        }
}

}  // namespace
