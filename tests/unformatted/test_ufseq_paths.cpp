// The common unformatted statements (plain items, no control list) take a
// shorter way through the library than the rest. Whatever way a statement
// takes, the unit must end the same: the same random sequences of WRITE,
// READ and positioning statements run on two units, one with the plain
// statements and one where every statement carries IOMSG= (which takes
// the general way), must give the same results and the same files.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "unformatted/uf_kit.h"

namespace {

class Paths : public uf::Scratch_Test {};

struct Step {
    char what;                   // W write, R read, B BACKSPACE, A REWIND, E ENDFILE, F EOF ()
    std::vector<int64_t> items;  // byte lengths: 4 an INTEGER(4) scalar, others int8 arrays
    int r;
};

// Runs one step on `unit`; `general` adds IOMSG= to data transfers. The
// result line holds the status and what a READ found.
std::string run_step(int unit, const Step &st, bool general) {
    std::string msg(80, ' ');
    switch (st.what) {
    case 'W':
    case 'R': {
        std::vector<int8_t> data = uf::pattern_data(uf::total(st.items), st.r);
        if (st.what == 'R') std::fill(data.begin(), data.end(), 0);
        std::vector<int32_t> scalars(st.items.size(), 0);
        kit::Stmt s(unit);
        s.flags.iostat();
        if (general) s.control.iomsg(msg);
        int64_t off = 0;
        for (size_t i = 0; i < st.items.size(); ++i) {
            int64_t n = st.items[i];
            if (n == 4) {
                std::memcpy(&scalars[i], data.data() + off, 4);
                s.items.item(scalars[i]);
            } else {
                s.items.array(data.data() + off, static_cast<size_t>(n));
            }
            off += n;
        }
        s.items.end();
        int ios = st.what == 'W' ? s.run(for_write_seq) : s.run(for_read_seq);
        std::string line = std::string(1, st.what) + " " + std::to_string(ios);
        if (st.what == 'R' && ios == 0) {
            off = 0;
            for (size_t i = 0; i < st.items.size(); ++i) {
                if (st.items[i] == 4) std::memcpy(data.data() + off, &scalars[i], 4);
                off += st.items[i];
            }
            int64_t sum = 0;
            for (size_t i = 0; i < data.size(); ++i) sum += (static_cast<int64_t>(i) + 1) * data[i];
            line += " " + std::to_string(sum);
        }
        return line;
    }
    case 'B': return "B " + std::to_string(uf::position(for_backspace, unit));
    case 'A': return "A " + std::to_string(uf::position(for_rewind, unit));
    case 'E': return "E " + std::to_string(uf::position(for_endfile, unit));
    default: return "F " + std::to_string(uf::position(for_eof, unit));
    }
}

TEST_F(Paths, PlainAndGeneralStatementsLeaveTheUnitAlike) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::vector<Step> steps;
        for (int i = 0; i < 300; ++i) {
            unsigned k = rng() % 40;
            Step st{k < 12 ? 'W' : k < 30 ? 'R' : "BBBBAAAEFF" [k - 30], {}, static_cast<int>(rng() % 50)};
            int n = 1 + static_cast<int>(rng() % 3);
            for (int j = 0; j < n; ++j) {
                unsigned size = rng() % 6;
                // Mostly small records; now and then one larger than the buffer.
                st.items.push_back(size == 0 ? 4 : size == 5 ? 2000 + rng() % 20000 : rng() % 40);
            }
            steps.push_back(st);
        }
        const std::string fa = path("plain" + std::to_string(seed)), fb = path("general" + std::to_string(seed));
        kit::Keys k;
        if (seed % 3 == 0) k.value(FOR_KEY_RECL, 5000);  // records bounded by RECL
        ASSERT_EQ(uf::open_uf(70, fa, k), 0);
        ASSERT_EQ(uf::open_uf(71, fb, k), 0);
        for (size_t i = 0; i < steps.size(); ++i) {
            std::string a = run_step(70, steps[i], false);
            std::string b = run_step(71, steps[i], true);
            ASSERT_EQ(a, b) << "step " << i;
        }
        ASSERT_EQ(uf::close_unit(70), 0);
        ASSERT_EQ(uf::close_unit(71), 0);
        EXPECT_TRUE(uf::file_bytes(fa) == uf::file_bytes(fb));
    }
}

}  // namespace
