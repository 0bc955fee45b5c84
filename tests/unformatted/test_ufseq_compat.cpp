// The compatibility layout of unformatted sequential files: 'K' first,
// records as chains of blocks (length byte, at most 128 data bytes, the
// same length byte; 129 when the record goes on), the byte 130 at the
// end. The expected files are typed out block by block from that layout,
// not produced by the code under test.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "unformatted/for_ufseq.h"
#include "unformatted/uf_kit.h"

using uf::Bytes;

namespace {

class Compat : public uf::Scratch_Test {};

using Items = uf::Record;
using uf::total;
using uf::write_record;

int open_compat(int unit, const std::string &f, const char *position = nullptr) {
    kit::Keys k;
    if (position) k.text(FOR_KEY_POSITION, position);
    return uf::open_uf(unit, f, k, iof_ldio_ms);
}

// READ with the given items; the status, and in `got` what was read.
int read_items(int unit, const Items &items, std::vector<int8_t> &got, std::string *msg = nullptr) {
    got.assign(static_cast<size_t>(total(items)), 0);
    kit::Stmt rd(unit);
    rd.flags.iostat();
    if (msg) rd.control.iomsg(*msg);
    int64_t off = 0;
    for (int64_t n : items) {
        rd.items.array(got.data() + off, static_cast<size_t>(n));
        off += n;
    }
    rd.items.end();
    return rd.run(for_read_seq, for_read_seq_xmit);
}

::testing::AssertionResult reads_record(int unit, const Items &items, int r) {
    std::vector<int8_t> got;
    int s = read_items(unit, items, got);
    if (s != 0) return ::testing::AssertionFailure() << "READ of record " << r << " gave " << s;
    if (got != uf::pattern_data(total(items), r))
        return ::testing::AssertionFailure() << "record " << r << " read with other bytes";
    return ::testing::AssertionSuccess();
}

// Pieces of an expected file: a literal byte, or bytes [from, to) of the
// pattern of record r (1-based positions as uf::pattern_data numbers them).
struct Piece {
    int byte = -1;
    int r = 0;
    int64_t from = 0, to = 0;
};
Piece B(int b) { return {b, 0, 0, 0}; }
Piece D(int r, int64_t from, int64_t to) { return {-1, r, from, to}; }

Bytes expected(const std::vector<Piece> &pieces) {
    Bytes out;
    for (const Piece &p : pieces) {
        if (p.byte >= 0) {
            out.push_back(static_cast<unsigned char>(p.byte));
            continue;
        }
        for (int64_t i = p.from; i < p.to; ++i) out.push_back(static_cast<unsigned char>(uf::pattern(i + 1, p.r)));
    }
    return out;
}

// The file after WRITEs of the records and CLOSE, byte for byte.
TEST_F(Compat, RecordsAreChainsOfBlocksBetweenKAndTheEndByte) {
    struct Case {
        const char *what;
        std::vector<Items> records;
        std::vector<Piece> file;
    } cases[] = {
        {"no record at all", {}, {B('K'), B(130)}},
        {"three bytes", {{3}}, {B(0x4b), B(3), D(1, 0, 3), B(3), B(0x82)}},
        {"empty record", {{0}}, {B('K'), B(0), B(0), B(130)}},
        {"empty list", {{}}, {B('K'), B(0), B(0), B(130)}},
        {"one byte", {{1}}, {B('K'), B(1), D(1, 0, 1), B(1), B(130)}},
        {"128 bytes: one full last block", {{128}}, {B('K'), B(128), D(1, 0, 128), B(128), B(130)}},
        {"129 bytes", {{129}}, {B('K'), B(129), D(1, 0, 128), B(129), B(1), D(1, 128, 129), B(1), B(130)}},
        {"130 bytes", {{130}}, {B('K'), B(129), D(1, 0, 128), B(129), B(2), D(1, 128, 130), B(2), B(130)}},
        {"256 bytes: the second full block is the last",
         {{256}},
         {B('K'), B(129), D(1, 0, 128), B(129), B(128), D(1, 128, 256), B(128), B(130)}},
        {"300 bytes",
         {{300}},
         {B('K'), B(129), D(1, 0, 128), B(129), B(129), D(1, 128, 256), B(129), B(44), D(1, 256, 300), B(44), B(130)}},
        {"300 bytes in items that straddle blocks",
         {{7, 121, 1, 100, 71}},
         {B('K'), B(129), D(1, 0, 128), B(129), B(129), D(1, 128, 256), B(129), B(44), D(1, 256, 300), B(44), B(130)}},
        {"several records",
         {{3}, {0}, {129}},
         {B('K'), B(3), D(1, 0, 3), B(3), B(0), B(0), B(129), D(3, 0, 128), B(129), B(1), D(3, 128, 129), B(1),
          B(130)}},
    };
    int unit = 20;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string f = path("k" + std::to_string(unit));
        ASSERT_EQ(open_compat(unit, f), 0);
        int r = 1;
        for (const Items &rec : c.records) EXPECT_EQ(write_record(unit, rec, r++), 0);
        ASSERT_EQ(uf::close_unit(unit), 0);
        // "no record at all" writes nothing: a unit that wrote no record owes
        // the file nothing.
        Bytes want = c.records.empty() ? Bytes{} : expected(c.file);
        EXPECT_EQ(uf::file_bytes(f), want);
        ++unit;
    }
}

// A record far larger than the record buffer: its blocks go to the file as
// the buffer fills, and the file is the same chain of blocks.
TEST_F(Compat, ARecordLargerThanTheBufferIsTheSameChain) {
    const int64_t n = 1562 * 128 + 61;  // 1562 full blocks, then a last one of 61 bytes
    const std::string f = path("big");
    ASSERT_EQ(open_compat(30, f), 0);
    ASSERT_EQ(write_record(30, {n}, 1), 0);
    ASSERT_EQ(write_record(30, {5}, 2), 0);
    ASSERT_EQ(uf::close_unit(30), 0);
    std::vector<Piece> pieces{B('K')};
    int64_t at = 0;
    for (; n - at > 128; at += 128) {
        pieces.push_back(B(129));
        pieces.push_back(D(1, at, at + 128));
        pieces.push_back(B(129));
    }
    ASSERT_EQ(n - at, 61);
    for (Piece p : {B(61), D(1, at, n), B(61), B(5), D(2, 0, 5), B(5), B(130)}) pieces.push_back(p);
    EXPECT_EQ(uf::file_bytes(f), expected(pieces));

    ASSERT_EQ(open_compat(30, f), 0);
    EXPECT_TRUE(reads_record(30, {1000, n - 1000}, 1));
    EXPECT_TRUE(reads_record(30, {5}, 2));
    ASSERT_EQ(uf::close_unit(30), 0);
}

// Records written and read back with other item lists; at the end, 613 on
// every further READ, and EOF () true.
TEST_F(Compat, RoundTripsAndTheEndOfTheFile) {
    struct Rec {
        Items written, read;
    };
    const std::vector<Rec> recs = {
        {{0}, {}},      {{1}, {1}},        {{128}, {64, 64}},       {{129}, {128, 1}}, {{130}, {1, 129}},
        {{300}, {300}}, {{4, 4, 8}, {16}}, {{1000}, {127, 2, 871}}, {{257}, {256, 1}}, {{3}, {3}},
    };
    const std::string f = path("rt");
    ASSERT_EQ(open_compat(31, f), 0);
    for (size_t i = 0; i < recs.size(); ++i) ASSERT_EQ(write_record(31, recs[i].written, int(i)), 0);
    ASSERT_EQ(uf::close_unit(31), 0);

    ASSERT_EQ(open_compat(31, f), 0);
    for (size_t i = 0; i < recs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(uf::position(for_eof, 31), 0) << "a record still follows";
        EXPECT_TRUE(reads_record(31, recs[i].read, int(i)));
    }
    EXPECT_EQ(uf::position(for_eof, 31), -1);
    std::vector<int8_t> got;
    std::string msg(60, ' ');
    EXPECT_EQ(read_items(31, {1}, got, &msg), -1);
    EXPECT_EQ(msg.substr(0, 23), "end of file encountered");
    EXPECT_EQ(read_items(31, {1}, got), -1) << "the end byte stays where it is";
    EXPECT_EQ(uf::position(for_eof, 31), -1);
    ASSERT_EQ(uf::close_unit(31), 0);
    EXPECT_EQ(uf::file_bytes(f).back(), 130) << "reading alone leaves the file as it was";
}

// Fewer items than the record holds skip the rest of its blocks; more
// items than it holds give 620, and the next READ starts at the next record.
TEST_F(Compat, ShortAndLongItemLists) {
    const std::string f = path("lists");
    ASSERT_EQ(open_compat(32, f), 0);
    ASSERT_EQ(write_record(32, {300}, 1), 0);
    ASSERT_EQ(write_record(32, {128}, 2), 0);
    ASSERT_EQ(write_record(32, {0}, 3), 0);
    ASSERT_EQ(write_record(32, {2}, 4), 0);
    ASSERT_EQ(uf::position(for_rewind, 32), 0);
    struct Step {
        const char *what;
        Items items;
        int want;
        int r;  // record whose pattern the bytes read must be (0: not checked)
    } steps[] = {
        {"first 5 of 300", {5}, 0, 1},
        {"all of 128 and one more", {128, 1}, 620, 0},
        {"an empty record with an item", {1}, 620, 0},
        {"the last record, whole", {2}, 0, 4},
        {"past the end", {1}, -1, 0},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        std::vector<int8_t> got;
        std::string msg(60, ' ');
        EXPECT_EQ(read_items(32, s.items, got, &msg), s.want);
        if (s.want == 620) {
            EXPECT_EQ(msg.substr(0, 43), "too many bytes read from unformatted record");
        }
        if (s.r) {
            EXPECT_EQ(got, uf::pattern_data(total(s.items), s.r));
        }
    }
    ASSERT_EQ(uf::close_unit(32), 0);
}

// Sequences of WRITE, READ, BACKSPACE, REWIND and ENDFILE; what each READ
// returns, and the file at the end.
TEST_F(Compat, PositioningStatements) {
    struct Op {
        char what;  // 'W' write n bytes of record r, 'R' read n bytes (want status, record r),
                    // 'B' BACKSPACE, 'A' REWIND, 'E' ENDFILE, 'F' EOF () must give `want`
        int64_t n = 0;
        int r = 0;
        int want = 0;
    };
    struct Case {
        const char *what;
        std::vector<Op> ops;
        std::vector<Piece> file;  // after CLOSE
    } cases[] = {
        {"BACKSPACE after writing rereads the last record",
         {{'W', 300, 1}, {'W', 5, 2}, {'B'}, {'R', 5, 2}, {'R', 1, 0, -1}},
         {B('K'), B(129), D(1, 0, 128), B(129), B(129), D(1, 128, 256), B(129), B(44), D(1, 256, 300), B(44), B(5),
          D(2, 0, 5), B(5), B(130)}},
        {"two BACKSPACEs pass a record of several blocks",
         {{'W', 300, 1}, {'W', 5, 2}, {'B'}, {'B'}, {'R', 300, 1}, {'R', 5, 2}},
         {B('K'), B(129), D(1, 0, 128), B(129), B(129), D(1, 128, 256), B(129), B(44), D(1, 256, 300), B(44), B(5),
          D(2, 0, 5), B(5), B(130)}},
        {"a READ right after writing meets the end byte",
         {{'W', 3, 1},
          {'R', 1, 0, -1},
          {'F', 0, 0, -1},
          {'B'},
          {'R', 3, 1},
          {'W', 2, 2},
          {'A'},
          {'R', 3, 1},
          {'R', 2, 2},
          {'R', 1, 0, -1}},
         {B('K'), B(3), D(1, 0, 3), B(3), B(2), D(2, 0, 2), B(2), B(130)}},
        {"BACKSPACE at the first record stays there",
         {{'W', 3, 1}, {'B'}, {'B'}, {'R', 3, 1}},
         {B('K'), B(3), D(1, 0, 3), B(3), B(130)}},
        {"BACKSPACE after the end byte was met",
         {{'W', 129, 1},
          {'W', 0, 2},
          {'A'},
          {'R', 129, 1},
          {'R', 0, 2},
          {'R', 1, 0, -1},
          {'B'},
          {'R', 0, 2},
          {'R', 1, 0, -1}},
         {B('K'), B(129), D(1, 0, 128), B(129), B(1), D(1, 128, 129), B(1), B(0), B(0), B(130)}},
        {"a WRITE after BACKSPACE replaces the records behind it",
         {{'W', 3, 1},
          {'W', 4, 2},
          {'W', 5, 3},
          {'B'},
          {'B'},
          {'W', 6, 4},
          {'A'},
          {'R', 3, 1},
          {'R', 6, 4},
          {'R', 1, 0, -1}},
         {B('K'), B(3), D(1, 0, 3), B(3), B(6), D(4, 0, 6), B(6), B(130)}},
        {"REWIND and write again: the file starts anew",
         {{'W', 200, 1}, {'A'}, {'W', 2, 2}, {'A'}, {'R', 2, 2}, {'R', 1, 0, -1}},
         {B('K'), B(2), D(2, 0, 2), B(2), B(130)}},
        {"ENDFILE after the first record cuts the rest",
         {{'W', 3, 1}, {'W', 4, 2}, {'A'}, {'R', 3, 1}, {'E'}, {'F', 0, 0, -1}, {'A'}, {'R', 3, 1}, {'R', 1, 0, -1}},
         {B('K'), B(3), D(1, 0, 3), B(3), B(130)}},
        {"ENDFILE right after writing",
         {{'W', 130, 1}, {'E'}, {'A'}, {'F', 0, 0, 0}, {'R', 130, 1}, {'F', 0, 0, -1}},
         {B('K'), B(129), D(1, 0, 128), B(129), B(2), D(1, 128, 130), B(2), B(130)}},
        {"a WRITE after ENDFILE goes before the end byte",
         {{'W', 3, 1}, {'E'}, {'W', 4, 2}, {'A'}, {'R', 3, 1}, {'R', 4, 2}, {'R', 1, 0, -1}},
         {B('K'), B(3), D(1, 0, 3), B(3), B(4), D(2, 0, 4), B(4), B(130)}},
        {"READ, EOF () and BACKSPACE right after ENDFILE",
         {{'W', 3, 1},
          {'W', 200, 2},
          {'E'},
          {'R', 1, 0, -1},
          {'F', 0, 0, -1},
          {'B'},
          {'R', 200, 2},
          {'E'},
          {'E'},
          {'W', 0, 3},
          {'A'},
          {'R', 3, 1},
          {'R', 200, 2},
          {'R', 0, 3},
          {'R', 1, 0, -1}},
         {B('K'), B(3), D(1, 0, 3), B(3), B(129), D(2, 0, 128), B(129), B(72), D(2, 128, 200), B(72), B(0), B(0),
          B(130)}},
        {"ENDFILE on an empty file", {{'E'}, {'A'}, {'R', 1, 0, -1}}, {B('K'), B(130)}},
        {"EOF () before, between and after records",
         {{'F', 0, 0, -1},
          {'W', 1, 1},
          {'W', 1, 2},
          {'A'},
          {'F', 0, 0, 0},
          {'R', 1, 1},
          {'F', 0, 0, 0},
          {'R', 1, 2},
          {'F', 0, 0, -1}},
         {B('K'), B(1), D(1, 0, 1), B(1), B(1), D(2, 0, 1), B(1), B(130)}},
    };
    int unit = 40;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string f = path("p" + std::to_string(unit));
        ASSERT_EQ(open_compat(unit, f), 0);
        int step = 0;
        for (const Op &op : c.ops) {
            SCOPED_TRACE(step++);
            std::vector<int8_t> got;
            switch (op.what) {
            case 'W': EXPECT_EQ(write_record(unit, {op.n}, op.r), 0); break;
            case 'R':
                EXPECT_EQ(read_items(unit, {op.n}, got), op.want);
                if (op.want == 0) {
                    EXPECT_EQ(got, uf::pattern_data(op.n, op.r));
                }
                break;
            case 'B': EXPECT_EQ(uf::position(for_backspace, unit), 0); break;
            case 'A': EXPECT_EQ(uf::position(for_rewind, unit), 0); break;
            case 'E': EXPECT_EQ(uf::position(for_endfile, unit), 0); break;
            case 'F': EXPECT_EQ(uf::position(for_eof, unit), op.want); break;
            }
        }
        ASSERT_EQ(uf::close_unit(unit), 0);
        EXPECT_EQ(uf::file_bytes(f), expected(c.file));
        ++unit;
    }
}

// POSITION='APPEND' goes before the end byte: the new records follow the
// old ones and the file still ends with one end byte.
TEST_F(Compat, AppendGoesBeforeTheEndByte) {
    const std::string f = path("app");
    ASSERT_EQ(open_compat(50, f), 0);
    ASSERT_EQ(write_record(50, {2}, 1), 0);
    ASSERT_EQ(uf::close_unit(50), 0);
    ASSERT_EQ(open_compat(50, f, "APPEND"), 0);
    ASSERT_EQ(write_record(50, {129}, 2), 0);
    ASSERT_EQ(uf::close_unit(50), 0);
    ASSERT_EQ(open_compat(50, f, "APPEND"), 0);
    ASSERT_EQ(write_record(50, {1}, 3), 0);
    ASSERT_EQ(uf::close_unit(50), 0);
    EXPECT_EQ(uf::file_bytes(f), expected({B('K'), B(2), D(1, 0, 2), B(2), B(129), D(2, 0, 128), B(129), B(1),
                                           D(2, 128, 129), B(1), B(1), D(3, 0, 1), B(1), B(130)}));
    ASSERT_EQ(open_compat(50, f), 0);
    EXPECT_TRUE(reads_record(50, {2}, 1));
    EXPECT_TRUE(reads_record(50, {129}, 2));
    EXPECT_TRUE(reads_record(50, {1}, 3));
    std::vector<int8_t> got;
    EXPECT_EQ(read_items(50, {1}, got), -1);
    ASSERT_EQ(uf::close_unit(50), 0);

    // Appending to a file that does not exist yet starts it with 'K'.
    const std::string g = path("fresh");
    ASSERT_EQ(open_compat(51, g, "APPEND"), 0);
    ASSERT_EQ(write_record(51, {1}, 1), 0);
    ASSERT_EQ(uf::close_unit(51), 0);
    EXPECT_EQ(uf::file_bytes(g), expected({B('K'), B(1), D(1, 0, 1), B(1), B(130)}));
}

// With option bit 0 ENDFILE writes a record holding 0x1A before the end
// byte and stays before it: READ and EOF () take it for the end, a WRITE
// replaces it, and POSITION='APPEND' goes before it.
TEST_F(Compat, EndOfFileRecordsOfOptionBitZero) {
    const std::string f = path("eofrec");
    auto open0 = [&](int unit, const char *position = nullptr) {
        kit::Keys k;
        if (position) k.text(FOR_KEY_POSITION, position);
        return uf::open_uf(unit, f, k, iof_ldio_ms | iof_opt_a);
    };
    std::vector<int8_t> got;
    ASSERT_EQ(open0(60), 0);
    ASSERT_EQ(uf::position(for_endfile, 60), 0) << "on the empty file";
    EXPECT_EQ(uf::position(for_eof, 60), -1);
    EXPECT_EQ(read_items(60, {1}, got), -1);
    ASSERT_EQ(write_record(60, {3}, 1), 0) << "replaces the end-of-file record";
    ASSERT_EQ(uf::position(for_endfile, 60), 0);
    EXPECT_EQ(uf::position(for_eof, 60), -1);
    ASSERT_EQ(uf::close_unit(60), 0);
    EXPECT_EQ(uf::file_bytes(f), expected({B('K'), B(3), D(1, 0, 3), B(3), B(1), B(0x1a), B(1), B(130)}));

    ASSERT_EQ(open0(60), 0);
    EXPECT_TRUE(reads_record(60, {3}, 1));
    EXPECT_EQ(uf::position(for_eof, 60), -1);
    EXPECT_EQ(read_items(60, {1}, got), -1) << "the end-of-file record ends the reading";
    ASSERT_EQ(uf::close_unit(60), 0);

    ASSERT_EQ(open0(60, "APPEND"), 0);
    ASSERT_EQ(write_record(60, {0}, 2), 0);
    ASSERT_EQ(uf::close_unit(60), 0);
    EXPECT_EQ(uf::file_bytes(f), expected({B('K'), B(3), D(1, 0, 3), B(3), B(0), B(0), B(130)}))
        << "the empty record replaced the end-of-file record";

    // Without option bit 0 the same bytes are a record of data.
    ASSERT_EQ(open_compat(61, f), 0);
    EXPECT_TRUE(reads_record(61, {3}, 1));
    ASSERT_EQ(uf::close_unit(61), 0);
    uf::put_file(f, {'K', 1, 0x1a, 1, 130});
    ASSERT_EQ(open_compat(61, f), 0);
    EXPECT_EQ(read_items(61, {1}, got), 0);
    EXPECT_EQ(got, std::vector<int8_t>{0x1a});
    ASSERT_EQ(uf::close_unit(61), 0);
}

// Length bytes from the file are untrusted: each corruption gives its
// message, and afterwards REWIND and the good first record still work.
TEST_F(Compat, CorruptFilesGiveTheirMessageAndLeaveTheUnitUsable) {
    const Bytes head = {'K', 1, 'k', 1};  // 'K' and a good one-byte record
    auto after_good = [&](Bytes tail) {
        Bytes b = head;
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    Bytes long_then_cut = after_good({129});
    long_then_cut.resize(long_then_cut.size() + 128, 7);
    Bytes cont_then_end = long_then_cut;
    cont_then_end.push_back(129);
    Bytes cont_then_131 = cont_then_end;
    cont_then_131.push_back(131);
    Bytes cont_then_130 = cont_then_end;
    cont_then_130.push_back(130);
    struct Case {
        const char *what;
        Bytes file;
        int64_t n;  // item bytes of the second READ
        int want;
        const char *msg;
    } cases[] = {
        {"block byte 131", after_good({131, 1, 131}), 1, 605, "illegal structure for unformatted file"},
        {"block byte 255", after_good({255, 1, 2, 3}), 1, 605, "illegal structure for unformatted file"},
        {"trailing byte differs", after_good({2, 'a', 'b', 3, 130}), 2, 605, "illegal structure"},
        {"trailing byte 129 after a last block", after_good({2, 'a', 'b', 129, 130}), 2, 605, "illegal"},
        {"cut inside the data", after_good({5, 'a', 'b'}), 5, 605, "illegal"},
        {"cut inside the data, rest of record skipped", after_good({5, 'a', 'b'}), 1, 605, "illegal"},
        {"cut before the trailing byte", after_good({2, 'a', 'b'}), 2, 605, "illegal"},
        {"cut where a continuation block should be", cont_then_end, 129, 605, "illegal"},
        {"continuation block with byte 131", cont_then_131, 129, 605, "illegal"},
        {"end byte inside a record", cont_then_130, 129, 605, "illegal"},
        {"no end byte after the last record", head, 1, -1, "end of file encountered"},
    };
    int unit = 60;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string f = path("c" + std::to_string(unit));
        uf::put_file(f, c.file);
        ASSERT_EQ(open_compat(unit, f), 0);
        std::vector<int8_t> got;
        ASSERT_EQ(read_items(unit, {1}, got), 0);
        EXPECT_EQ(got[0], 'k');
        std::string msg(60, ' ');
        EXPECT_EQ(read_items(unit, {c.n}, got, &msg), c.want);
        EXPECT_EQ(msg.substr(0, std::string(c.msg).size()), c.msg);
        EXPECT_EQ(uf::position(for_rewind, unit), 0);
        ASSERT_EQ(read_items(unit, {1}, got), 0) << "the unit reads again after REWIND";
        EXPECT_EQ(got[0], 'k');
        EXPECT_EQ(uf::close_unit(unit), 0);
        EXPECT_EQ(uf::file_bytes(f), c.file) << "reading never changes the file";
        ++unit;
    }
}

// The first byte decides whether the file is in this layout at all.
TEST_F(Compat, TheFirstByteMustBeK) {
    struct Case {
        const char *what;
        Bytes file;
        int want;
    } cases[] = {
        {"a VARIABLE file", {1, 0, 0, 0, 'k', 1, 0, 0, 0}, 605},
        {"lower-case k", {'k', 1, 'k', 1, 130}, 605},
        {"an empty file", {}, -1},
        {"only the K", {'K'}, -1},
        {"K and the end byte", {'K', 130}, -1},
    };
    int unit = 80;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string f = path("f" + std::to_string(unit));
        uf::put_file(f, c.file);
        ASSERT_EQ(open_compat(unit, f), 0);
        std::vector<int8_t> got;
        EXPECT_EQ(read_items(unit, {1}, got), c.want);
        EXPECT_EQ(read_items(unit, {1}, got), c.want) << "and again";
        EXPECT_EQ(uf::close_unit(unit), 0);
        ++unit;
    }
}

// Random files read with random item lists, with BACKSPACE now and then:
// only the statuses a READ of this layout may give, and a clean CLOSE.
// Under AddressSanitizer this shows that no length byte is trusted.
TEST_F(Compat, RandomFilesNeverBreakTheReader) {
    std::mt19937 rng(77001);
    const std::string f = path("random");
    for (int round = 0; round < 800; ++round) {
        Bytes file(rng() % 300);
        for (auto &b : file) {
            unsigned v = rng() % 8;
            b = static_cast<unsigned char>(v < 3 ? rng() % 6 : v == 3 ? 129 : v == 4 ? 130 : rng() % 256);
        }
        if (!file.empty() && rng() % 4 != 0) file[0] = 'K';
        uf::put_file(f, file);
        ASSERT_EQ(open_compat(90, f), 0);
        for (int r = 0; r < 8; ++r) {
            std::vector<int8_t> got;
            int s = read_items(90, {int64_t(rng() % 10), int64_t(rng() % 200)}, got);
            ASSERT_TRUE(s == 0 || s == -1 || s == 605 || s == 620) << "status " << s << " in round " << round;
            if (rng() % 3 == 0) {
                int b = uf::position(for_backspace, 90);
                ASSERT_TRUE(b == 0 || b == 23) << "BACKSPACE gave " << b << " in round " << round;
            }
        }
        ASSERT_EQ(uf::close_unit(90), 0);
        ASSERT_EQ(uf::file_bytes(f), file) << "reading changed the file in round " << round;
    }
}

}  // namespace
