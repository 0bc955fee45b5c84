// The foreign floating conversions (VAX, IBM, Cray <-> IEEE), called through
// the shared library's three entry forms.  Expected values come from the
// published format definitions: the bytes of familiar values, hand-derived
// rounding cases whose arithmetic is spelt out beside them, structural
// identities between formats of equal width, and an exact rational
// reference (tools/foreign_float_ref.py) for thousands of generated cases.
#include <gtest/gtest.h>
#include <vorlix/cvt_foreign.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#ifndef VORLIX_SOURCE_DIR
#error "the reference needs VORLIX_SOURCE_DIR"
#endif

namespace {

using u128 = unsigned __int128;
using Plain = int32_t (*)(const void *, uint32_t, void *);
using Twin = int32_t (*)(const void *, const uint32_t *, void *);

// How a format sits in memory: IEEE little-endian (big-endian with the
// option), VAX 16-bit words most significant first, IBM and Cray big-endian.
enum class Order { ieee, vax, big };

struct Routine {
    const char *name;
    Plain plain;
    Twin twin;
    Plain upper;
    size_t in_size, out_size;
    Order in_order, out_order;
};

#define ROUTINE(lower, upper, in_size, out_size, in_order, out_order) \
    { #lower, lower, lower##_, upper, in_size, out_size, Order::in_order, Order::out_order }

const Routine kRoutines[] = {
    ROUTINE(cvt_vax_f_to_ieee_single, CVT_VAX_F_TO_IEEE_SINGLE, 4, 4, vax, ieee),
    ROUTINE(cvt_vax_d_to_ieee_double, CVT_VAX_D_TO_IEEE_DOUBLE, 8, 8, vax, ieee),
    ROUTINE(cvt_vax_g_to_ieee_double, CVT_VAX_G_TO_IEEE_DOUBLE, 8, 8, vax, ieee),
    ROUTINE(cvt_vax_h_to_ieee_double, CVT_VAX_H_TO_IEEE_DOUBLE, 16, 8, vax, ieee),
    ROUTINE(cvt_cray_to_ieee_single, CVT_CRAY_TO_IEEE_SINGLE, 8, 4, big, ieee),
    ROUTINE(cvt_cray_to_ieee_double, CVT_CRAY_TO_IEEE_DOUBLE, 8, 8, big, ieee),
    ROUTINE(cvt_ibm_short_to_ieee_single, CVT_IBM_SHORT_TO_IEEE_SINGLE, 4, 4, big, ieee),
    ROUTINE(cvt_ibm_long_to_ieee_double, CVT_IBM_LONG_TO_IEEE_DOUBLE, 8, 8, big, ieee),
    ROUTINE(cvt_ieee_single_to_vax_f, CVT_IEEE_SINGLE_TO_VAX_F, 4, 4, ieee, vax),
    ROUTINE(cvt_ieee_double_to_vax_d, CVT_IEEE_DOUBLE_TO_VAX_D, 8, 8, ieee, vax),
    ROUTINE(cvt_ieee_double_to_vax_g, CVT_IEEE_DOUBLE_TO_VAX_G, 8, 8, ieee, vax),
    ROUTINE(cvt_ieee_double_to_vax_h, CVT_IEEE_DOUBLE_TO_VAX_H, 8, 16, ieee, vax),
    ROUTINE(cvt_ieee_single_to_cray, CVT_IEEE_SINGLE_TO_CRAY, 4, 8, ieee, big),
    ROUTINE(cvt_ieee_double_to_cray, CVT_IEEE_DOUBLE_TO_CRAY, 8, 8, ieee, big),
    ROUTINE(cvt_ieee_single_to_ibm_short, CVT_IEEE_SINGLE_TO_IBM_SHORT, 4, 4, ieee, big),
    ROUTINE(cvt_ieee_double_to_ibm_long, CVT_IEEE_DOUBLE_TO_IBM_LONG, 8, 8, ieee, big),
};
#undef ROUTINE

const Routine &routine(std::string_view name) {
    for (const auto &r : kRoutines)
        if (name == r.name) return r;
    ADD_FAILURE() << "no routine " << name;
    return kRoutines[0];
}

using Bytes = std::vector<uint8_t>;

Bytes from_hex(std::string_view hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        b.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return b;
}

std::string to_hex(const uint8_t *p, size_t n) {
    std::string s;
    char buf[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        s += buf;
    }
    return s;
}
std::string to_hex(const Bytes &b) { return to_hex(b.data(), b.size()); }

// The memory form of a format's logical value (sign in the top bit).
Bytes to_memory(u128 v, size_t size, Order order, bool big_ieee) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = static_cast<uint8_t>(v >> (8 * (size - 1 - i)));  // i-th byte, most significant first
        if (order == Order::big || (order == Order::ieee && big_ieee))
            b[i] = byte;
        else if (order == Order::ieee)
            b[size - 1 - i] = byte;
        else
            b[i ^ 1] = byte;  // each 16-bit word little-endian, words in significance order
    }
    return b;
}

constexpr uint32_t kDef = 0, kRZ = CVT_OPT_ROUND_TO_ZERO, kRU = CVT_OPT_ROUND_UP, kRD = CVT_OPT_ROUND_DOWN,
                   kRN = CVT_OPT_ROUND_NEAREST, kRV = CVT_OPT_ROUND_VAX, kUF = CVT_OPT_REPORT_UNDERFLOW,
                   kBE = CVT_OPT_BIG_ENDIAN;

// Calls one entry form on copies placed so that the value ends exactly at
// the end of its heap block, one byte past an alignment boundary: the
// sanitizer build then catches any access beyond the declared size, and a
// guard byte in front catches a write before it.
struct Result {
    int32_t status;
    Bytes out;
    bool guard_intact;
};

Result call(const Routine &r, int form, uint32_t options, const Bytes &in, uint8_t fill = 0xA5) {
    EXPECT_EQ(in.size(), r.in_size) << r.name;
    std::unique_ptr<uint8_t[]> ib(new uint8_t[r.in_size + 1]);
    std::unique_ptr<uint8_t[]> ob(new uint8_t[r.out_size + 1]);
    std::memcpy(ib.get() + 1, in.data(), r.in_size);
    std::memset(ob.get(), fill, r.out_size + 1);
    int32_t st = form == 0   ? r.plain(ib.get() + 1, options, ob.get() + 1)
                 : form == 1 ? r.twin(ib.get() + 1, &options, ob.get() + 1)
                             : r.upper(ib.get() + 1, options, ob.get() + 1);
    return {st, Bytes(ob.get() + 1, ob.get() + 1 + r.out_size), ob[0] == fill};
}

// ---- The reference, run as a separate program.

std::vector<std::string> run_reference(const std::string &args, const std::string &input) {
    char path[] = "/tmp/vorlix-foreign-ref-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    if (fd < 0) return {};
    EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(fd);
    std::string cmd = "python3 " VORLIX_SOURCE_DIR "/tools/foreign_float_ref.py " + args + " < " + path;
    FILE *p = popen(cmd.c_str(), "r");
    std::string text;
    char buf[65536];
    size_t n;
    while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int st = p ? pclose(p) : -1;
    ::unlink(path);
    EXPECT_EQ(st, 0) << "the reference failed: " << cmd;
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// ---- The values the file layouts are usually recognised by.

struct ByteCase {
    const char *routine;
    uint32_t options;
    const char *in;
    int32_t status;
    const char *out;
};

const ByteCase kPublished[] = {
    // REAL(4) 1.0 and REAL(8) 1.0 in each foreign layout, and back.
    {"cvt_ieee_single_to_vax_f", kDef, "0000803f", 0, "80400000"},
    {"cvt_ieee_single_to_ibm_short", kDef, "0000803f", 0, "41100000"},
    {"cvt_ieee_double_to_ibm_long", kDef, "000000000000f03f", 0, "4110000000000000"},
    {"cvt_ieee_double_to_cray", kDef, "000000000000f03f", 0, "4001800000000000"},
    {"cvt_ieee_single_to_cray", kDef, "0000803f", 0, "4001800000000000"},
    {"cvt_ieee_double_to_vax_d", kDef, "000000000000f03f", 0, "8040000000000000"},
    // G: exponent 1025 = 0x401 above a 4-bit fraction head gives 0x4010.
    {"cvt_ieee_double_to_vax_g", kDef, "000000000000f03f", 0, "1040000000000000"},
    {"cvt_ieee_double_to_vax_h", kDef, "000000000000f03f", 0, "01400000000000000000000000000000"},
    {"cvt_vax_f_to_ieee_single", kDef, "80400000", 0, "0000803f"},
    {"cvt_vax_d_to_ieee_double", kDef, "8040000000000000", 0, "000000000000f03f"},
    {"cvt_vax_g_to_ieee_double", kDef, "1040000000000000", 0, "000000000000f03f"},
    {"cvt_vax_h_to_ieee_double", kDef, "01400000000000000000000000000000", 0, "000000000000f03f"},
    {"cvt_ibm_short_to_ieee_single", kDef, "41100000", 0, "0000803f"},
    {"cvt_ibm_long_to_ieee_double", kDef, "4110000000000000", 0, "000000000000f03f"},
    {"cvt_cray_to_ieee_double", kDef, "4001800000000000", 0, "000000000000f03f"},
    {"cvt_cray_to_ieee_single", kDef, "4001800000000000", 0, "0000803f"},
    // -1.0: only the sign bit moves.
    {"cvt_ieee_single_to_vax_f", kDef, "000080bf", 0, "80c00000"},
    {"cvt_ieee_single_to_ibm_short", kDef, "000080bf", 0, "c1100000"},
    {"cvt_ieee_double_to_cray", kDef, "000000000000f0bf", 0, "c001800000000000"},
    // The big-endian option applies to the IEEE side only.
    {"cvt_ieee_single_to_vax_f", kBE, "3f800000", 0, "80400000"},
    {"cvt_vax_f_to_ieee_single", kBE, "80400000", 0, "3f800000"},
    {"cvt_ieee_double_to_ibm_long", kBE, "3ff0000000000000", 0, "4110000000000000"},
    {"cvt_cray_to_ieee_double", kBE, "4001800000000000", 0, "3ff0000000000000"},
    {"cvt_vax_f_to_ieee_single", kBE, "00800000", 13, "7fbfffff"},

    // Invalid inputs give the target's invalid value.
    {"cvt_vax_f_to_ieee_single", kDef, "00800000", 13, "ffffbf7f"},  // reserved operand
    {"cvt_vax_f_to_ieee_single", kDef, "7f803412", 13, "ffffbf7f"},  // reserved, fraction set
    {"cvt_vax_d_to_ieee_double", kDef, "0080000000000000", 13, "fffffffffffff77f"},
    {"cvt_vax_g_to_ieee_double", kDef, "0f80ffffffffffff", 13, "fffffffffffff77f"},
    {"cvt_vax_h_to_ieee_double", kDef, "00800000000000000000000000000000", 13, "fffffffffffff77f"},
    {"cvt_ieee_double_to_vax_d", kDef, "000000000000f87f", 13, "0080000000000000"},
    {"cvt_ieee_single_to_vax_f", kDef, "0100807f", 13, "00800000"},  // signalling NaN
    {"cvt_ieee_double_to_vax_h", kDef, "000000000000f8ff", 13, "00800000000000000000000000000000"},
    {"cvt_ieee_single_to_ibm_short", kDef, "0000c07f", 13, "ff000000"},
    {"cvt_ieee_double_to_ibm_long", kDef, "000000000000f87f", 13, "ff00000000000000"},
    {"cvt_ieee_double_to_cray", kDef, "000000000000f8ff", 13, "6000000000000000"},
    {"cvt_ieee_single_to_cray", kDef, "0000c07f", 13, "6000000000000000"},
    {"cvt_ibm_short_to_ieee_single", kDef, "40010000", 13, "ffffbf7f"},  // leading digit 0
    {"cvt_ibm_short_to_ieee_single", kDef, "c00fffff", 13, "ffffbf7f"},
    {"cvt_ibm_long_to_ieee_double", kDef, "4000000000000001", 13, "fffffffffffff77f"},
    {"cvt_cray_to_ieee_double", kDef, "1fff800000000000", 13, "fffffffffffff77f"},  // exponent below 0x2000
    {"cvt_cray_to_ieee_double", kDef, "6000800000000000", 13, "fffffffffffff77f"},  // exponent above 0x5FFF
    {"cvt_cray_to_ieee_double", kDef, "4001400000000000", 13, "fffffffffffff77f"},  // bit 47 clear
    {"cvt_cray_to_ieee_double", kDef, "0000000000000001", 13, "fffffffffffff77f"},  // zero upper half
    {"cvt_cray_to_ieee_single", kDef, "8000000080000000", 13, "ffffbf7f"},
    // The Cray exponent limits themselves are valid.
    {"cvt_cray_to_ieee_double", kDef, "2000800000000000", 0, "0000000000000000"},
    {"cvt_cray_to_ieee_double", kUF, "a000800000000000", 9, "0000000000000080"},
    {"cvt_cray_to_ieee_double", kRZ, "5fffffffffffffff", 8, "ffffffffffffef7f"},

    // Infinities.
    {"cvt_ieee_single_to_vax_f", kDef, "0000807f", 15, "00800000"},
    {"cvt_ieee_single_to_vax_f", kDef, "000080ff", 16, "00800000"},
    {"cvt_ieee_double_to_vax_d", kRZ, "000000000000f07f", 15, "0080000000000000"},
    {"cvt_ieee_double_to_vax_g", kDef, "000000000000f0ff", 16, "0080000000000000"},
    {"cvt_ieee_double_to_vax_h", kDef, "000000000000f07f", 15, "00800000000000000000000000000000"},
    {"cvt_ieee_double_to_cray", kDef, "000000000000f07f", 15, "6000000000000000"},
    {"cvt_ieee_double_to_cray", kDef, "000000000000f0ff", 16, "e000000000000000"},
    {"cvt_ieee_single_to_cray", kDef, "000080ff", 16, "e000000000000000"},
    {"cvt_ieee_single_to_ibm_short", kDef, "0000807f", 0, "7fffffff"},
    {"cvt_ieee_single_to_ibm_short", kDef, "000080ff", 0, "ffffffff"},
    {"cvt_ieee_double_to_ibm_long", kDef, "000000000000f0ff", 0, "ffffffffffffffff"},

    // Zeros: VAX has one, the others keep the sign; a VAX zero exponent
    // means zero whatever the fraction.
    {"cvt_ieee_single_to_vax_f", kDef, "00000080", 0, "00000000"},
    {"cvt_ieee_double_to_vax_d", kDef, "0000000000000080", 0, "0000000000000000"},
    {"cvt_ieee_double_to_vax_h", kDef, "0000000000000080", 0, "00000000000000000000000000000000"},
    {"cvt_ieee_single_to_ibm_short", kDef, "00000080", 0, "80000000"},
    {"cvt_ieee_double_to_cray", kDef, "0000000000000080", 0, "8000000000000000"},
    {"cvt_vax_f_to_ieee_single", kDef, "00001234", 0, "00000000"},
    {"cvt_vax_f_to_ieee_single", kDef, "7f00ffff", 0, "00000000"},
    {"cvt_vax_g_to_ieee_double", kDef, "0f00ffffffffffff", 0, "0000000000000000"},
    {"cvt_ibm_short_to_ieee_single", kDef, "80000000", 0, "00000080"},
    {"cvt_ibm_short_to_ieee_single", kDef, "41000000", 0, "00000000"},  // zero fraction, any exponent
    {"cvt_cray_to_ieee_double", kDef, "8000000000000000", 0, "0000000000000080"},
    {"cvt_cray_to_ieee_single", kDef, "0000000000000000", 0, "00000000"},
};

void PrintTo(const ByteCase &c, std::ostream *os) {
    *os << c.routine << " options " << std::hex << c.options << " in " << c.in;
}

class ForeignFloatPublished : public ::testing::TestWithParam<ByteCase> {};

TEST_P(ForeignFloatPublished, BytesAndStatus) {
    const ByteCase &c = GetParam();
    const Routine &r = routine(c.routine);
    for (int form = 0; form < 3; ++form) {
        Result got = call(r, form, c.options, from_hex(c.in));
        EXPECT_EQ(got.status, c.status) << c.routine << " form " << form << " in " << c.in;
        EXPECT_EQ(to_hex(got.out), c.out) << c.routine << " form " << form << " in " << c.in;
        EXPECT_TRUE(got.guard_intact);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ForeignFloatPublished, ::testing::ValuesIn(kPublished));

// ---- Rounding rules, overflow and underflow at their boundaries, as
// logical values (the library's byte order is checked above).

struct ValueCase {
    const char *routine;
    uint32_t options;
    u128 in;
    int32_t status;
    u128 out;
};

constexpr u128 H(uint64_t hi, uint64_t lo) { return (u128{hi} << 64) | lo; }

const ValueCase kBoundaries[] = {
    // VAX D 1.0 = 0x4080...; its fraction has 3 bits more than binary64's.
    // Low bits 100: a tie with an even kept part.
    {"cvt_vax_d_to_ieee_double", kDef, 0x4080000000000004, 0, 0x3FF0000000000000},
    {"cvt_vax_d_to_ieee_double", kRN, 0x4080000000000004, 0, 0x3FF0000000000000},
    {"cvt_vax_d_to_ieee_double", kRV, 0x4080000000000004, 0, 0x3FF0000000000001},
    {"cvt_vax_d_to_ieee_double", kRU, 0x4080000000000004, 0, 0x3FF0000000000001},
    {"cvt_vax_d_to_ieee_double", kRD, 0x4080000000000004, 0, 0x3FF0000000000000},
    {"cvt_vax_d_to_ieee_double", kRZ, 0x4080000000000004, 0, 0x3FF0000000000000},
    // Low bits 1100: a tie with an odd kept part.
    {"cvt_vax_d_to_ieee_double", kDef, 0x408000000000000C, 0, 0x3FF0000000000002},
    {"cvt_vax_d_to_ieee_double", kRV, 0x408000000000000C, 0, 0x3FF0000000000002},
    {"cvt_vax_d_to_ieee_double", kRZ, 0x408000000000000C, 0, 0x3FF0000000000001},
    {"cvt_vax_d_to_ieee_double", kRD, 0x408000000000000C, 0, 0x3FF0000000000001},
    // Just below (011) and just above (101) the tie.
    {"cvt_vax_d_to_ieee_double", kDef, 0x4080000000000003, 0, 0x3FF0000000000000},
    {"cvt_vax_d_to_ieee_double", kRV, 0x4080000000000003, 0, 0x3FF0000000000000},
    {"cvt_vax_d_to_ieee_double", kRU, 0x4080000000000003, 0, 0x3FF0000000000001},
    {"cvt_vax_d_to_ieee_double", kDef, 0x4080000000000005, 0, 0x3FF0000000000001},
    {"cvt_vax_d_to_ieee_double", kRZ, 0x4080000000000005, 0, 0x3FF0000000000000},
    // Negative: up and down trade places, nearest and VAX act on the magnitude.
    {"cvt_vax_d_to_ieee_double", kDef, 0xC080000000000004, 0, 0xBFF0000000000000},
    {"cvt_vax_d_to_ieee_double", kRV, 0xC080000000000004, 0, 0xBFF0000000000001},
    {"cvt_vax_d_to_ieee_double", kRU, 0xC080000000000004, 0, 0xBFF0000000000000},
    {"cvt_vax_d_to_ieee_double", kRD, 0xC080000000000004, 0, 0xBFF0000000000001},
    {"cvt_vax_d_to_ieee_double", kRZ, 0xC080000000000005, 0, 0xBFF0000000000000},
    // 2 - 2^-55 carries into the exponent unless truncated.
    {"cvt_vax_d_to_ieee_double", kDef, 0x40FFFFFFFFFFFFFF, 0, 0x4000000000000000},
    {"cvt_vax_d_to_ieee_double", kRZ, 0x40FFFFFFFFFFFFFF, 0, 0x3FFFFFFFFFFFFFFF},
    // The largest VAX D stays finite in binary64 whatever the rounding.
    {"cvt_vax_d_to_ieee_double", kRU, 0x7FFFFFFFFFFFFFFF, 0, 0x47E0000000000000},
    {"cvt_vax_d_to_ieee_double", kRZ, 0x7FFFFFFFFFFFFFFF, 0, 0x47DFFFFFFFFFFFFF},

    // IBM short keeps 21 bits after a leading digit 1: 1 + 2^-21 (0x3F800004)
    // is a tie at 2^-20 units, 1 + 3 x 2^-21 a tie above an odd digit.
    {"cvt_ieee_single_to_ibm_short", kDef, 0x3F800004, 0, 0x41100000},
    {"cvt_ieee_single_to_ibm_short", kRV, 0x3F800004, 0, 0x41100001},
    {"cvt_ieee_single_to_ibm_short", kRU, 0x3F800004, 0, 0x41100001},
    {"cvt_ieee_single_to_ibm_short", kRZ, 0x3F800004, 0, 0x41100000},
    {"cvt_ieee_single_to_ibm_short", kDef, 0x3F80000C, 0, 0x41100002},
    {"cvt_ieee_single_to_ibm_short", kRZ, 0x3F80000C, 0, 0x41100001},
    {"cvt_ieee_single_to_ibm_short", kRD, 0xBF800004, 0, 0xC1100001},
    {"cvt_ieee_single_to_ibm_short", kRU, 0xBF800004, 0, 0xC1100000},
    {"cvt_ieee_single_to_ibm_short", kDef, 0x3F800001, 0, 0x41100000},  // 1 + 2^-23, below the tie
    {"cvt_ieee_single_to_ibm_short", kRU, 0x3F800001, 0, 0x41100001},
    // 2 - 2^-23 rounds to 2 within the same hexadecimal exponent.
    {"cvt_ieee_single_to_ibm_short", kDef, 0x3FFFFFFF, 0, 0x41200000},
    // Values in [8, 16) keep all 24 bits: the largest binary32 below 16.
    {"cvt_ieee_single_to_ibm_short", kRZ, 0x417FFFFF, 0, 0x41FFFFFF},
    // IBM long: 16^63 is past the top in every rounding; just below is exact.
    {"cvt_ieee_double_to_ibm_long", kDef, 0x4FB0000000000000, 8, 0x7FFFFFFFFFFFFFFF},
    {"cvt_ieee_double_to_ibm_long", kRZ, 0xCFB0000000000000, 8, 0xFFFFFFFFFFFFFFFF},
    {"cvt_ieee_double_to_ibm_long", kDef, 0x4FAFFFFFFFFFFFFF, 0, 0x7FFFFFFFFFFFFFF8},
    // 16^-65 is the smallest normal; below it, zero of the sign.
    {"cvt_ieee_double_to_ibm_long", kDef, 0x2FB0000000000000, 0, 0x0010000000000000},
    {"cvt_ieee_double_to_ibm_long", kUF, 0x2FAFFFFFFFFFFFFF, 9, 0x0000000000000000},
    {"cvt_ieee_double_to_ibm_long", kRU, 0x2FAFFFFFFFFFFFFF, 0, 0x0000000000000000},
    {"cvt_ieee_double_to_ibm_long", kUF | kRD, 0xAFAFFFFFFFFFFFFF, 9, 0x8000000000000000},
    // IBM short to binary32: 16^32 = 2^128 is past binary32's top.
    {"cvt_ibm_short_to_ieee_single", kDef, 0x61100000, 8, 0x7F800000},
    {"cvt_ibm_short_to_ieee_single", kRZ, 0x61100000, 8, 0x7F7FFFFF},
    {"cvt_ibm_short_to_ieee_single", kRU, 0xE1100000, 8, 0xFF7FFFFF},
    {"cvt_ibm_short_to_ieee_single", kRD, 0xE1100000, 8, 0xFF800000},
    {"cvt_ibm_short_to_ieee_single", kDef, 0x60FFFFFF, 0, 0x7F7FFFFF},  // 2^128 - 2^104: the largest

    // binary32 exponent 254 is beyond VAX F: the reserved operand unless the
    // rounding settles for the largest value of the sign.
    {"cvt_ieee_single_to_vax_f", kDef, 0x7F000000, 8, 0x80000000},
    {"cvt_ieee_single_to_vax_f", kRV, 0x7F000000, 8, 0x80000000},
    {"cvt_ieee_single_to_vax_f", kRN, 0x7F000000, 8, 0x80000000},
    {"cvt_ieee_single_to_vax_f", kRZ, 0x7F000000, 8, 0x7FFFFFFF},
    {"cvt_ieee_single_to_vax_f", kRD, 0x7F000000, 8, 0x7FFFFFFF},
    {"cvt_ieee_single_to_vax_f", kRU, 0x7F000000, 8, 0x80000000},
    {"cvt_ieee_single_to_vax_f", kRU, 0xFF7FFFFF, 8, 0xFFFFFFFF},
    {"cvt_ieee_single_to_vax_f", kRD, 0xFF7FFFFF, 8, 0x80000000},
    {"cvt_ieee_single_to_vax_f", kRZ, 0xFF000000, 8, 0xFFFFFFFF},
    {"cvt_ieee_single_to_vax_f", kDef, 0x7EFFFFFF, 0, 0x7FFFFFFF},  // exactly the largest VAX F
    {"cvt_ieee_double_to_vax_g", kDef, 0x7FE0000000000000, 8, 0x8000000000000000},
    {"cvt_ieee_double_to_vax_g", kRZ, 0xFFEFFFFFFFFFFFFF, 8, 0xFFFFFFFFFFFFFFFF},
    {"cvt_ieee_double_to_vax_g", kDef, 0x7FDFFFFFFFFFFFFF, 0, 0x7FFFFFFFFFFFFFFF},
    // binary64 to VAX D: 2^127 is past the top, 2^-128 the bottom.
    {"cvt_ieee_double_to_vax_d", kDef, 0x47E0000000000000, 8, 0x8000000000000000},
    {"cvt_ieee_double_to_vax_d", kRZ, 0x47E0000000000000, 8, 0x7FFFFFFFFFFFFFFF},
    {"cvt_ieee_double_to_vax_d", kDef, 0x47DFFFFFFFFFFFFF, 0, 0x7FFFFFFFFFFFFFF8},
    {"cvt_ieee_double_to_vax_d", kUF, 0x37F0000000000000, 0, 0x0080000000000000},
    {"cvt_ieee_double_to_vax_d", kUF, 0x37EFFFFFFFFFFFFF, 9, 0},
    {"cvt_ieee_double_to_vax_d", kRU | kUF, 0x37EFFFFFFFFFFFFF, 9, 0},
    {"cvt_ieee_double_to_vax_d", kDef, 0xB7EFFFFFFFFFFFFF, 0, 0},

    // VAX F exponents 1 and 2 land among binary32 subnormals.  Exponent 2,
    // fraction 1: (2^23 + 1) x 2^-150 = (2^22 + 1/2) subnormal units.
    {"cvt_vax_f_to_ieee_single", kDef, 0x01000001, 0, 0x00400000},
    {"cvt_vax_f_to_ieee_single", kUF, 0x01000001, 9, 0x00400000},
    {"cvt_vax_f_to_ieee_single", kRV, 0x01000001, 0, 0x00400001},
    {"cvt_vax_f_to_ieee_single", kRU, 0x01000001, 0, 0x00400001},
    {"cvt_vax_f_to_ieee_single", kRD | kUF, 0x81000001, 9, 0x80400001},
    {"cvt_vax_f_to_ieee_single", kDef, 0x01000003, 0, 0x00400002},
    // Exponent 1, fraction 0: 2^-128, an exact subnormal, still an underflow.
    {"cvt_vax_f_to_ieee_single", kUF, 0x00800000, 9, 0x00200000},
    // (2^24 - 1) x 2^-150 = 2^23 - 1/2 units: a tie that rounds up to the
    // smallest normal, which is no underflow; truncated it stays subnormal.
    {"cvt_vax_f_to_ieee_single", kUF, 0x017FFFFF, 0, 0x00800000},
    {"cvt_vax_f_to_ieee_single", kUF | kRZ, 0x017FFFFF, 9, 0x007FFFFF},
    {"cvt_vax_f_to_ieee_single", kUF, 0x01800000, 0, 0x00800000},  // exponent 3: normal
    // Back: binary32 subnormals at or above 2^-128 fit VAX F exactly, the
    // smaller ones are zero in every rounding.
    {"cvt_ieee_single_to_vax_f", kUF, 0x00200000, 0, 0x00800000},
    {"cvt_ieee_single_to_vax_f", kUF, 0x00600000, 0, 0x01400000},
    {"cvt_ieee_single_to_vax_f", kUF, 0x001FFFFF, 9, 0},
    {"cvt_ieee_single_to_vax_f", kRU, 0x00000001, 0, 0},
    {"cvt_ieee_single_to_vax_f", kUF | kRD, 0x80000001, 9, 0},

    // Cray to binary32: 2^-150 is half the smallest subnormal.
    {"cvt_cray_to_ieee_single", kUF, 0x3F6B800000000000, 9, 0x00000000},
    {"cvt_cray_to_ieee_single", kRV, 0x3F6B800000000000, 0, 0x00000001},
    {"cvt_cray_to_ieee_single", kRU | kUF, 0x3F6B800000000000, 9, 0x00000001},
    {"cvt_cray_to_ieee_single", kRD, 0xBF6B800000000000, 0, 0x80000001},
    {"cvt_cray_to_ieee_single", kDef, 0x3F6B800000000001, 0, 0x00000001},
    // 2^128 is binary32's overflow; 2^128 - 2^103 rounds to it.
    {"cvt_cray_to_ieee_single", kDef, 0x4081800000000000, 8, 0x7F800000},
    {"cvt_cray_to_ieee_single", kDef, 0x4080FFFFFF800000, 8, 0x7F800000},
    {"cvt_cray_to_ieee_single", kRZ, 0x4080FFFFFF800000, 0, 0x7F7FFFFF},
    {"cvt_cray_to_ieee_single", kRD, 0xC080FFFFFF800000, 8, 0xFF800000},
    {"cvt_cray_to_ieee_single", kRU, 0xC080FFFFFF800000, 0, 0xFF7FFFFF},
    // binary64 to Cray drops 5 bits: 1 + 2^-48 is a tie at the last place.
    {"cvt_ieee_double_to_cray", kDef, 0x3FF0000000000010, 0, 0x4001800000000000},
    {"cvt_ieee_double_to_cray", kRV, 0x3FF0000000000010, 0, 0x4001800000000001},
    {"cvt_ieee_double_to_cray", kRD, 0xBFF0000000000001, 0, 0xC001800000000001},
    {"cvt_ieee_double_to_cray", kDef, 0x3FFFFFFFFFFFFFFF, 0, 0x4002800000000000},
    // Cray reaches binary64 subnormals: 0x3BCF holds 2^-1074.
    {"cvt_cray_to_ieee_double", kUF, 0x3BCF800000000000, 9, 0x0000000000000001},
    {"cvt_cray_to_ieee_double", kDef, 0x3BCEC00000000000, 0, 0x0000000000000001},  // 3/4 of it

    // VAX H holds 113 bits: (1 - 2^-60) x 2^1024 rounds up past binary64.
    {"cvt_vax_h_to_ieee_double", kDef, H(0x4400FFFFFFFFFFFF, 0xFFE0000000000000), 8, 0x7FF0000000000000},
    {"cvt_vax_h_to_ieee_double", kRZ, H(0x4400FFFFFFFFFFFF, 0xFFE0000000000000), 0, 0x7FEFFFFFFFFFFFFF},
    {"cvt_vax_h_to_ieee_double", kRD, H(0x4400FFFFFFFFFFFF, 0xFFE0000000000000), 0, 0x7FEFFFFFFFFFFFFF},
    {"cvt_vax_h_to_ieee_double", kRZ, H(0x4401000000000000, 0), 8, 0x7FEFFFFFFFFFFFFF},
    {"cvt_vax_h_to_ieee_double", kRU, H(0xC401000000000000, 0), 8, 0xFFEFFFFFFFFFFFFF},
    {"cvt_vax_h_to_ieee_double", kRV, H(0xC401000000000000, 0), 8, 0xFFF0000000000000},
    // 1 + 2^-53 + 2^-112: above the tie only by the last H bit.
    {"cvt_vax_h_to_ieee_double", kDef, H(0x4001000000000000, 0x0800000000000001), 0, 0x3FF0000000000001},
    {"cvt_vax_h_to_ieee_double", kDef, H(0x4001000000000000, 0x0800000000000000), 0, 0x3FF0000000000000},
    // Far below binary64: zero, or the smallest subnormal rounding up.
    {"cvt_vax_h_to_ieee_double", kUF, H(0x0001000000000000, 0), 9, 0},
    {"cvt_vax_h_to_ieee_double", kRU, H(0x0001000000000000, 0), 0, 1},
    {"cvt_vax_h_to_ieee_double", kRD, H(0x8001000000000000, 0), 0, 0x8000000000000001},
    // binary64 to VAX H is exact, the smallest subnormal included.
    {"cvt_ieee_double_to_vax_h", kUF, 0x0000000000000001, 0, H(0x3BCF000000000000, 0)},
    {"cvt_ieee_double_to_vax_h", kDef, 0xFFEFFFFFFFFFFFFF, 0, H(0xC400FFFFFFFFFFFF, 0xF000000000000000)},
};

void PrintTo(const ValueCase &c, std::ostream *os) {
    *os << c.routine << " options " << std::hex << c.options << " in " << static_cast<uint64_t>(c.in >> 64) << ":"
        << static_cast<uint64_t>(c.in);
}

class ForeignFloatBoundaries : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ForeignFloatBoundaries, RoundingOverflowUnderflow) {
    const ValueCase &c = GetParam();
    const Routine &r = routine(c.routine);
    for (int form = 0; form < 3; ++form) {
        Result got = call(r, form, c.options, to_memory(c.in, r.in_size, r.in_order, false));
        EXPECT_EQ(got.status, c.status) << c.routine << " options " << std::hex << c.options;
        EXPECT_EQ(to_hex(got.out), to_hex(to_memory(c.out, r.out_size, r.out_order, false)))
            << c.routine << " options " << std::hex << c.options;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ForeignFloatBoundaries, ::testing::ValuesIn(kBoundaries));

// The hand-derived rows and the exact reference must tell the same story:
// a disagreement is an arithmetic slip in one of the two.
TEST(ForeignFloatReference, AgreesWithTheHandTables) {
    std::string input;
    std::vector<std::pair<std::string, std::string>> want;
    for (const auto &c : kPublished) {
        char opt[16];
        std::snprintf(opt, sizeof opt, "%x", c.options);
        input += std::string(c.routine) + " " + opt + " " + c.in + "\n";
        want.emplace_back(c.routine, std::to_string(c.status) + " " + c.out);
    }
    for (const auto &c : kBoundaries) {
        const Routine &r = routine(c.routine);
        char opt[16];
        std::snprintf(opt, sizeof opt, "%x", c.options);
        input +=
            std::string(c.routine) + " " + opt + " " + to_hex(to_memory(c.in, r.in_size, r.in_order, false)) + "\n";
        want.emplace_back(c.routine,
                          std::to_string(c.status) + " " + to_hex(to_memory(c.out, r.out_size, r.out_order, false)));
    }
    auto lines = run_reference("eval", input);
    ASSERT_EQ(lines.size(), want.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], want[i].second) << "row " << i << " " << want[i].first;
}

// ---- Generated cases against the exact reference, spread over the
// boundaries of each target, over ties, special inputs and every option.

TEST(ForeignFloatReference, GeneratedCasesAgree) {
    auto lines = run_reference("random 20240917 2500", "");
    ASSERT_EQ(lines.size(), 16u * 2500u);
    std::map<std::string, std::set<int>> statuses;
    int failures = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::istringstream f(lines[i]);
        std::string name, opt, in, out;
        int32_t status;
        f >> name >> opt >> in >> status >> out;
        const Routine &r = routine(name);
        const uint32_t options = static_cast<uint32_t>(std::stoul(opt, nullptr, 16));
        Result got = call(r, static_cast<int>(i % 3), options, from_hex(in));
        // The untouched fill is what "nothing stored" looks like.
        const std::string shown = out == "-" && got.out == Bytes(r.out_size, 0xA5) ? "-" : to_hex(got.out);
        statuses[name].insert(status);
        if (got.status != status || shown != out || !got.guard_intact) {
            if (++failures <= 20)
                ADD_FAILURE() << name << " options " << opt << " in " << in << ": got " << got.status << " "
                              << to_hex(got.out) << ", reference " << status << " " << out;
        }
    }
    EXPECT_EQ(failures, 0);
    // The generator must reach what it is meant to: otherwise a quiet change
    // in it would leave whole behaviours untested.
    std::set<int> all;
    for (const auto &[name, s] : statuses) {
        EXPECT_TRUE(s.count(0) && s.count(4)) << name;
        all.insert(s.begin(), s.end());
    }
    EXPECT_EQ(all, (std::set<int>{0, 4, 8, 9, 13, 15, 16}));
    EXPECT_EQ(statuses.size(), 16u);
}

// ---- Formats of equal fraction width differ only in the exponent bias and
// the hidden bit's place: VAX F's exponent field is binary32's plus 2, VAX
// G's is binary64's plus 2, and binary64 sits inside VAX D with three zero
// bits appended.  Every normal value in the common range converts exactly,
// in both directions and under every rounding rule.

struct Pairing {
    const char *to_vax;
    const char *from_vax;
    int frac_bits;        // binary's fraction width
    int vax_frac_bits;    // VAX's fraction width
    int bias_shift;       // VAX exponent field minus binary's
    uint32_t emin, emax;  // binary exponent fields whose values VAX holds as normals
};

const Pairing kPairings[] = {
    {"cvt_ieee_single_to_vax_f", "cvt_vax_f_to_ieee_single", 23, 23, 2, 1, 253},
    {"cvt_ieee_double_to_vax_g", "cvt_vax_g_to_ieee_double", 52, 52, 2, 1, 2045},
    // D: exponent field = binary64's - 1023 + 129.
    {"cvt_ieee_double_to_vax_d", "cvt_vax_d_to_ieee_double", 52, 55, 129 - 1023, 1023 - 128, 1023 + 126},
};

TEST(ForeignFloatExactness, NormalValuesConvertExactlyBothWays) {
    std::mt19937_64 rng(7);
    const uint32_t modes[] = {kDef, kRN, kRZ, kRU, kRD, kRV};
    for (const auto &p : kPairings) {
        const Routine &to = routine(p.to_vax), &from = routine(p.from_vax);
        const size_t size = to.in_size;
        for (int i = 0; i < 6000; ++i) {
            const uint64_t sign = rng() & 1;
            // Both ends of the range often, the middle otherwise.
            const uint32_t span = p.emax - p.emin + 1;
            uint32_t e = p.emin + static_cast<uint32_t>(rng() % span);
            if (i % 3 == 0)
                e = i % 2 ? p.emin + static_cast<uint32_t>(rng() % 3) : p.emax - static_cast<uint32_t>(rng() % 3);
            const uint64_t f = rng() & ((uint64_t{1} << p.frac_bits) - 1);
            const uint64_t ieee = sign << (size * 8 - 1) | uint64_t{e} << p.frac_bits | f;
            const uint64_t vax = sign << (size * 8 - 1) |
                                 uint64_t(static_cast<int64_t>(e) + p.bias_shift) << p.vax_frac_bits |
                                 f << (p.vax_frac_bits - p.frac_bits);
            const uint32_t opts = modes[i % 6] | (i % 4 == 0 ? kUF : 0);
            Result a = call(to, i % 3, opts, to_memory(ieee, size, Order::ieee, false));
            ASSERT_EQ(a.status, 0) << p.to_vax << std::hex << " " << ieee;
            ASSERT_EQ(to_hex(a.out), to_hex(to_memory(vax, size, Order::vax, false)))
                << p.to_vax << std::hex << " " << ieee;
            Result b = call(from, (i + 1) % 3, opts, a.out);
            ASSERT_EQ(b.status, 0) << p.from_vax << std::hex << " " << vax;
            ASSERT_EQ(to_hex(b.out), to_hex(to_memory(ieee, size, Order::ieee, false)))
                << p.from_vax << std::hex << " " << vax;
        }
    }
}

// ---- Options are checked before anything is read or stored.

TEST(ForeignFloatOptions, BadOptionsStoreNothing) {
    const uint32_t bad[] = {0x1,       0x800,     0x10000,         0x800000,        0x80000000,
                            kRZ | kRU, kRN | kRV, kRU | kRD | kUF, kRZ | kRN | kBE, 0xFFFFFFFF};
    for (const auto &r : kRoutines) {
        const Bytes in(r.in_size, 0x41);
        for (uint32_t o : bad)
            for (int form = 0; form < 3; ++form) {
                Result got = call(r, form, o, in, 0x5A);
                EXPECT_EQ(got.status, CVT_FOREIGN_BAD_OPTIONS) << r.name << std::hex << " " << o;
                EXPECT_EQ(got.out, Bytes(r.out_size, 0x5A)) << r.name << std::hex << " " << o;
            }
        // Every single rounding bit with the other two flags is accepted.
        for (uint32_t o : {kDef, kRZ, kRU, kRD, kRN, kRV})
            EXPECT_NE(call(r, 0, o | kUF | kBE, in).status, CVT_FOREIGN_BAD_OPTIONS) << r.name << std::hex << " " << o;
    }
}

// An absent optional argument of the Fortran twin means no options.
TEST(ForeignFloatOptions, TwinWithoutOptionsUsesTheDefaults) {
    const uint8_t one_s[4] = {0x00, 0x00, 0x80, 0x3f};
    uint8_t out[4];
    EXPECT_EQ(cvt_ieee_single_to_vax_f_(one_s, nullptr, out), 0);
    EXPECT_EQ(to_hex(out, 4), "80400000");
    // VAX D to binary64 at a tie: the default is nearest-even, not VAX rounding.
    const Bytes tie = to_memory(0x4080000000000004, 8, Order::vax, false);
    uint8_t outd[8];
    EXPECT_EQ(cvt_vax_d_to_ieee_double_(tie.data(), nullptr, outd), 0);
    EXPECT_EQ(to_hex(outd, 8), "000000000000f03f");
}

}  // namespace
