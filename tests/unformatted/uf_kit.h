// Helpers of the unformatted tests: units on files of a scratch directory,
// the statements as compiled code would call them, and gfortran programs
// built with chosen flags.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <vorlix/io.h>

#include "support/files.h"
#include "support/kit.h"
#include "unformatted/for_ufseq.h"

namespace uf {

using Bytes = std::vector<unsigned char>;

inline Bytes file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void put_file(const std::string &path, const Bytes &b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

// OPEN (unit, FILE=path, FORM='UNFORMATTED', ...) with extra keywords.
// `options`: statement option bits of the OPEN flag word (iof_opt_a gives
// the unit option bit 0: physical end-of-file records).
inline int open_uf(int unit, const std::string &path, kit::Keys k = {}, For_IO_Flags options = 0) {
    k.text(FOR_KEY_FILE, path).text(FOR_KEY_FORM, "UNFORMATTED");
    return kit::open_unit(unit, k, kit::Flags{}.iostat().set(options));
}

inline int close_unit(int unit) { return kit::close_unit(unit); }

// A positioning statement with IOSTAT=.
using Pos_Entry = int (*)(For_Context *, int, For_IO_Flags, const For_Dsc_Lst *, const For_Value_List *);
inline int position(Pos_Entry e, int unit, std::string *iomsg = nullptr) {
    kit::Keys k;
    if (iomsg) k.chars(FOR_KEY_IOMSG, *iomsg);
    kit::Flags f;
    f.iostat();
    For_Context ctx{};
    return e(&ctx, unit, f, k.dsc(), k.val());
}

// The bytes a record of the tests holds: a pattern that differs between
// records and positions, so that a shifted or swapped byte shows.
inline int8_t pattern(int64_t i, int r) { return static_cast<int8_t>((i * 31 + r * 7) % 256 - 128); }
inline std::vector<int8_t> pattern_data(int64_t n, int r) {
    std::vector<int8_t> v(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) v[static_cast<size_t>(i)] = pattern(i + 1, r);
    return v;
}
// The same pattern in Fortran, for array `a` of record r with n elements.
inline std::string fortran_pattern(const std::string &a, int64_t n, int r) {
    return "  do i = 1, " + std::to_string(n) + "\n    " + a + "(i) = int(mod(i*31_8 + " + std::to_string(r) +
           "*7, 256_8) - 128, 1)\n  end do\n";
}

// The byte sizes of a record's items, and their sum.
using Record = std::vector<int64_t>;
inline int64_t total(const Record &r) {
    int64_t t = 0;
    for (int64_t n : r) t += n;
    return t;
}

// WRITE (unit) with the record's items, each a piece of record r's pattern.
inline int write_record(int unit, const Record &items, int r) {
    std::vector<int8_t> data = pattern_data(total(items), r);
    kit::Stmt w(unit);
    w.flags.iostat();
    int64_t off = 0;
    for (int64_t n : items) {
        w.items.array(data.data() + off, static_cast<size_t>(n));
        off += n;
    }
    w.items.end();
    return w.run(for_write_seq, for_write_seq_xmit);
}

// A test with a scratch directory of its own, removed afterwards; it also
// puts back the subrecord limit a test may have lowered.
class Scratch_Test : public ::testing::Test {
  protected:
    void TearDown() override { for__l_subrec_limit = for_subrec_max; }
    std::string path(const std::string &name) const { return scratch_.path(name); }
    kit::Scratch_Dir scratch_{"uf"};
    const std::string &dir_ = scratch_.dir();
};

// MemAvailable of /proc/meminfo in bytes (0 when unknown).
uint64_t available_memory();

// gfortran with flags of our choosing (the kit's oracle uses its defaults).
std::optional<std::string> gfortran_run_flags(const std::string &source, const std::string &flags);

}  // namespace uf
