// Unformatted sequential READ: the end of the file, records shorter or
// longer than the items, and files whose framing lies. A corrupt file
// gives its message and leaves the unit usable.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "unformatted/for_ufseq.h"
#include "unformatted/uf_kit.h"

using uf::Bytes;

namespace {

class UfRead : public uf::Scratch_Test {};

// READ (unit) n bytes, with IOSTAT= or END=.
int read_bytes(int unit, std::vector<char> &into, size_t n, bool end_branch = false) {
    into.assign(n, 0);
    kit::Stmt rd(unit);
    if (end_branch)
        rd.flags.end();
    else
        rd.flags.iostat();
    if (n) rd.items.chars(into.data(), n);
    rd.items.end();
    return rd.run(for_read_seq);
}

// Files of records, read with item lists of given lengths.
TEST_F(UfRead, RecordsEndsAndLengths) {
    const Bytes two_records = {3, 0, 0, 0, 'a', 'b', 'c', 3, 0, 0, 0, 2, 0, 0, 0, 'd', 'e', 2, 0, 0, 0};
    struct Step {
        size_t n;
        int want;
        const char *data;  // what the bytes read are, when want is 0
        bool end_branch;
    };
    struct Case {
        const char *what;
        Bytes file;
        std::vector<Step> steps;
    } cases[] = {
        {"records then end of file with IOSTAT=",
         two_records,
         {{3, 0, "abc", false}, {2, 0, "de", false}, {1, -1, nullptr, false}}},
        {"end of file takes END=", two_records, {{0, 0, "", false}, {0, 0, "", false}, {4, -1, nullptr, true}}},
        {"fewer items skip the rest of the record", two_records, {{1, 0, "a", false}, {1, 0, "d", false}}},
        {"more items than the record holds", two_records, {{4, 67, nullptr, false}, {2, 0, "de", false}}},
        {"an empty record read with no items and with one",
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {{0, 0, "", false}, {1, 67, nullptr, false}}},
        {"a one-byte record of 0x1A is data", {1, 0, 0, 0, 0x1a, 1, 0, 0, 0}, {{1, 0, "\x1a", false}}},
        {"subrecords are joined",
         {0xfe, 0xff, 0xff, 0xff, 'a', 'b', 2, 0, 0, 0, 1, 0, 0, 0, 'c', 0xff, 0xff, 0xff, 0xff},
         {{3, 0, "abc", false}, {1, -1, nullptr, false}}},
        {"skipping the rest passes later subrecords",
         {0xfe, 0xff, 0xff, 0xff, 'a',  'b', 2, 0, 0, 0,   1, 0, 0, 0,
          'c',  0xff, 0xff, 0xff, 0xff, 1,   0, 0, 0, 'z', 1, 0, 0, 0},
         {{1, 0, "a", false}, {1, 0, "z", false}}},
    };
    int unit = 20;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string f = path("r" + std::to_string(unit));
        uf::put_file(f, c.file);
        ASSERT_EQ(uf::open_uf(unit, f), 0);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step &s = c.steps[i];
            std::vector<char> got;
            EXPECT_EQ(read_bytes(unit, got, s.n, s.end_branch), s.want) << "READ " << i;
            if (s.want == 0 && s.data) {
                EXPECT_EQ(std::string(got.begin(), got.end()), s.data) << "READ " << i;
            }
        }
        EXPECT_EQ(uf::close_unit(unit), 0);
        ++unit;
    }
}

// Framing that lies: the message of the record type, never a crash or an
// allocation of what the file claims; afterwards REWIND and a good first
// record still work, so the unit is usable.
TEST_F(UfRead, CorruptFramingGivesItsMessageAndLeavesTheUnitUsable) {
    const Bytes good = {1, 0, 0, 0, 'k', 1, 0, 0, 0};
    auto after_good = [&](Bytes tail) {
        Bytes b = good;
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    struct Case {
        const char *what;
        const char *recordtype;
        Bytes file;
        size_t n;  // item bytes of the second READ
        int want;
    } cases[] = {
        {"most negative marker", nullptr, after_good({0, 0, 0, 0x80, 1, 2, 3, 4}), 1, 39},
        {"length beyond the end of the file", nullptr, after_good({0x10, 0, 0, 0, 1, 2}), 4, 39},
        {"huge length, skipped", nullptr, after_good({0xff, 0xff, 0xff, 0x7f, 1, 2}), 1, 39},
        {"trailing marker differs", nullptr, after_good({4, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0}), 4, 39},
        {"marker cut short", nullptr, after_good({4, 0}), 4, 39},
        {"continuation that never comes", nullptr, after_good({0xfc, 0xff, 0xff, 0xff, 1, 2, 3, 4, 4, 0, 0, 0}), 8, 39},
        {"segment without its first-segment bit", "SEGMENTED", {3, 0, 3, 0, 'k', 0, 3, 0, 0, 0, 'x', 0}, 1, 35},
        {"segment count below 2", "SEGMENTED", {3, 0, 3, 0, 'k', 0, 0, 0, 3, 0}, 1, 35},
        {"segment header cut short", "SEGMENTED", {3, 0, 3, 0, 'k', 0, 3, 0}, 1, 35},
        {"a first segment inside a record",
         "SEGMENTED",
         {3, 0, 3, 0, 'k', 0, 3, 0, 1, 0, 'a', 0, 3, 0, 3, 0, 'b', 0},
         2,
         35},
        {"segment data beyond the end of the file", "SEGMENTED", {3, 0, 3, 0, 'k', 0, 0xff, 0xff, 3, 0, 'a'}, 5, 39},
    };
    int unit = 40;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string f = path("c" + std::to_string(unit));
        uf::put_file(f, c.file);
        kit::Keys k;
        if (c.recordtype) k.text(FOR_KEY_RECORDTYPE, c.recordtype);
        ASSERT_EQ(uf::open_uf(unit, f, k), 0);
        std::vector<char> got;
        ASSERT_EQ(read_bytes(unit, got, 1), 0);
        EXPECT_EQ(got[0], 'k');
        EXPECT_EQ(read_bytes(unit, got, c.n), c.want);
        EXPECT_EQ(uf::position(for_rewind, unit), 0);
        EXPECT_EQ(read_bytes(unit, got, 1), 0) << "the unit reads again after REWIND";
        EXPECT_EQ(got[0], 'k');
        EXPECT_EQ(uf::close_unit(unit), 0);
        ++unit;
    }
}

// Random files read with random item lists: every READ ends in one of the
// statuses a READ may give, and the unit always closes cleanly. Under
// AddressSanitizer this is the check that no length from the file is
// trusted.
TEST_F(UfRead, RandomFilesNeverBreakTheReader) {
    std::mt19937 rng(20240601);
    const char *types[] = {nullptr, "SEGMENTED", "FIXED", "STREAM_LF", "STREAM_CRLF"};
    const std::string f = path("random");
    for (int round = 0; round < 600; ++round) {
        Bytes file(rng() % 64);
        for (auto &b : file) {
            // Mostly small values and the bytes of markers, so that framing
            // is sometimes right and sometimes almost right.
            unsigned v = rng() % 8;
            b = static_cast<unsigned char>(v < 4 ? rng() % 8 : v == 4 ? 0xff : v == 5 ? 0x1a : rng() % 256);
        }
        uf::put_file(f, file);
        const char *type = types[round % 5];
        kit::Keys k;
        if (type) k.text(FOR_KEY_RECORDTYPE, type);
        if (type && std::string(type) == "FIXED") k.value(FOR_KEY_RECL, 1 + rng() % 3);
        int unit = 60;
        ASSERT_EQ(uf::open_uf(unit, f, k), 0) << type;
        for (int r = 0; r < 8; ++r) {
            std::vector<char> got;
            int s = read_bytes(unit, got, rng() % 12);
            ASSERT_TRUE(s == 0 || s == -1 || s == 22 || s == 35 || s == 39 || s == 67)
                << "status " << s << " in round " << round;
            if (s == -1) break;
            if (rng() % 4 == 0) {
                // Backward over garbage: the record before, or 23 when
                // there is none to be found.
                int b = uf::position(for_backspace, unit);
                ASSERT_TRUE(b == 0 || b == 23) << "BACKSPACE gave " << b << " in round " << round;
            }
        }
        ASSERT_EQ(uf::close_unit(unit), 0);
    }
}

}  // namespace
