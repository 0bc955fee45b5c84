// Real output editing against GNU Fortran on many values at once: random
// bit patterns of every magnitude, values next to powers of ten (where
// rounding carries into a new digit and G editing changes its choice), and
// exact decimal ties, each under every rounding mode and the edits that
// list-directed and formatted output use most.  The values travel to the
// oracle as bit patterns, so both sides edit the very same numbers.
#include <gtest/gtest.h>
#include <vorlix/abi.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fmt_val_kit.h"
#include "support/oracle.h"

namespace {

using fmtkit::Desc;
using fmtkit::Ed;

const char *const kModes[] = {"RN", "RU", "RD", "RZ", "RC"};
constexpr size_t kNModes = sizeof kModes / sizeof kModes[0];

// `twin`: for a G edit with as many digits as the kind holds, the index of
// the ES edit that rounds to the same d significant digits (see compare).
struct Edit {
    Ed ed;
    int w, d, e;
    const char *scale;  // "" or a scale factor such as "2P"
    int twin;
};

const Edit kEdits8[] = {
    {Ed::G, 24, 15, 3, "", 11}, {Ed::ES, 24, 16, 3, "", -1},  {Ed::E, 24, 16, 3, "", -1},   {Ed::F, 30, 12, 0, "", -1},
    {Ed::G, 12, 4, 0, "", -1},  {Ed::ES, 12, 3, 0, "", -1},   {Ed::F, 12, 3, 0, "", -1},    {Ed::G, 10, 1, 0, "", -1},
    {Ed::G, 25, 17, 3, "", -1}, {Ed::G, 24, 15, 3, "2P", 11}, {Ed::E, 14, 5, 0, "-1P", -1}, {Ed::ES, 24, 14, 3, "", -1},
};
const Edit kEdits4[] = {
    {Ed::G, 15, 7, 2, "", 4},  {Ed::ES, 15, 8, 2, "", -1}, {Ed::F, 20, 6, 0, "", -1},
    {Ed::G, 10, 3, 0, "", -1}, {Ed::ES, 15, 6, 2, "", -1},
};

// Exponent of an ES field's value: x = m x 10^(s-1) with 1 <= m < 10.
int es_exponent(const std::string &f) {
    const size_t at = f.find_first_of("E+-", f.find('.'));
    return std::atoi(f.c_str() + (f[at] == 'E' ? at + 1 : at)) + 1;
}

uint64_t bits_of(double x) {
    uint64_t b;
    std::memcpy(&b, &x, 8);
    return b;
}

// Values of binary64: random patterns, random values where F and E
// editing both occur, neighbours of powers of ten, 15- and 16-digit
// integers that sit on a decimal tie, and short dyadic fractions.
std::vector<uint64_t> values8() {
    std::vector<uint64_t> v;
    std::mt19937_64 rng(20240611);
    for (int i = 0; i < 250; ++i) {
        uint64_t b = rng() & 0x7FFFFFFFFFFFFFFFu;
        if ((b & 0x7FF0000000000000u) == 0x7FF0000000000000u) b ^= 0x4000000000000000u;  // keep it finite
        v.push_back(b | (rng() & 1 ? 0x8000000000000000u : 0));
    }
    std::uniform_real_distribution<double> frac(1.0, 2.0);
    for (int i = 0; i < 250; ++i) {
        const int ex = static_cast<int>(rng() % 80) - 20;  // about 1e-6 to 1e18
        const double x = std::ldexp(frac(rng), ex);
        v.push_back(bits_of(rng() & 1 ? -x : x));
    }
    for (int k = -8; k <= 22; ++k) {
        const double p = std::pow(10.0, k);
        for (double x : {std::nextafter(p, 0.0), p, std::nextafter(p, 1e300)}) {
            v.push_back(bits_of(x));
            v.push_back(bits_of(-x));
        }
        // The largest values that round to k - 1 digits with 15, 16 and
        // 17 significant digits, and their neighbours.
        for (double t : {9.999999999999995, 9.9999999999999995, 9.99999999999999, 9.9999999999999}) {
            const double x = t * std::pow(10.0, k - 1);
            v.push_back(bits_of(x));
            v.push_back(bits_of(std::nextafter(x, 0.0)));
            v.push_back(bits_of(-std::nextafter(x, 1e300)));
        }
    }
    // Ties at the 15th and 16th significant digit (exact below 2^53).
    for (double x : {1234567890123455.0, 8999999999999995.0, 999999999999999.5, 123456789012345.25, 2000000000000005.0,
                     4503599627370495.5, 99999999999999.95, 0.5, 1.5, 2.5, 0.125, 0.375, 1.0625, 1024.5, 99.5, 9.5,
                     0.0625, 12345.5}) {
        v.push_back(bits_of(x));
        v.push_back(bits_of(-x));
    }
    for (int j = 1; j <= 12; ++j)
        for (int m = 1; m < 40; m += 3) v.push_back(bits_of(std::ldexp(static_cast<double>(m), -j)));
    // Subnormals and the extremes.
    for (uint64_t b : {uint64_t{1}, uint64_t{0x000FFFFFFFFFFFFF}, uint64_t{0x0010000000000000},
                       uint64_t{0x7FEFFFFFFFFFFFFF}, uint64_t{0x0000000012345678}})
        v.push_back(b);
    return v;
}

std::vector<uint32_t> values4() {
    std::vector<uint32_t> v;
    std::mt19937 rng(611);
    for (int i = 0; i < 200; ++i) {
        uint32_t b = rng() & 0x7FFFFFFFu;
        if ((b & 0x7F800000u) == 0x7F800000u) b ^= 0x40000000u;
        v.push_back(b | (rng() & 1 ? 0x80000000u : 0));
    }
    for (int k = -6; k <= 12; ++k) {
        const float p = std::pow(10.0f, static_cast<float>(k));
        for (float x : {std::nextafter(p, 0.0f), p, std::nextafter(p, 1e30f)}) {
            uint32_t b;
            std::memcpy(&b, &x, 4);
            v.push_back(b);
        }
    }
    for (float x : {0.5f, 2.5f, 0.125f, 1234.5f, 9999999.5f, 12345675.0f}) {
        uint32_t b;
        std::memcpy(&b, &x, 4);
        v.push_back(b);
    }
    return v;
}

std::string format_of(const Edit &e, const char *mode) {
    std::string s = std::string(mode) + (e.scale[0] ? std::string(",") + e.scale : "");
    return s;
}

Desc desc_of(const Edit &e, const char *mode) { return Desc(e.ed, e.w, e.d, e.e, format_of(e, mode)); }

// The oracle program: for each value, every edit in every mode, one line
// each, in the order the test walks them.
template <class T>
std::string program(const std::vector<T> &vals, const Edit *edits, size_t nedits, const char *kind, const char *ikind) {
    std::ostringstream s;
    s << "program real_fields\n  implicit none\n  integer :: i, j\n  real(" << kind << ") :: x\n";
    const size_t nf = nedits * (sizeof kModes / sizeof kModes[0]);
    s << "  character(len=48) :: f(" << nf << ")\n";
    s << "  integer(" << ikind << ") :: b(" << vals.size() << ")\n";
    size_t k = 0;
    for (const Edit &e : std::vector<Edit>(edits, edits + nedits))
        for (const char *m : kModes) {
            s << "  f(" << ++k << ") = '(\"[\"," << fmtkit::fortran_text(desc_of(e, m)) << ",\"]\")'\n";
        }
    for (size_t i = 0; i < vals.size(); ++i) {
        // Two's complement patterns as signed literals; the most negative
        // one is never among the values.
        using S = std::make_signed_t<T>;
        S sv;
        std::memcpy(&sv, &vals[i], sizeof sv);
        s << "  b(" << i + 1 << ") = " << static_cast<long long>(sv) << "_" << ikind << "\n";
    }
    s << "  do i = 1, size(b)\n    x = transfer(b(i), x)\n    do j = 1, size(f)\n"
         "      write (*, f(j)) x\n    end do\n  end do\nend program\n";
    return s.str();
}

template <class T>
void compare(const std::vector<T> &vals, const Edit *edits, size_t nedits, const char *kind, const char *ikind,
             int type) {
    const auto lines = kit::gfortran_lines(program(vals, edits, nedits, kind, ikind));
    if (!lines) GTEST_SKIP() << "gfortran is not installed";
    ASSERT_EQ(lines->size(), vals.size() * nedits * (sizeof kModes / sizeof kModes[0]));
    size_t at = 0, bad = 0, skipped = 0, twinned = 0;
    for (const T &b : vals) {
        const size_t base = at;
        for (size_t j = 0; j < nedits; ++j)
            for (size_t mi = 0; mi < kNModes; ++mi) {
                const char *m = kModes[mi];
                const std::string &l = (*lines)[at++];
                ASSERT_TRUE(l.size() >= 2 && l.front() == '[' && l.back() == ']') << l;
                const std::string want = l.substr(1, l.size() - 2);
                // A value that rounds to zero in F editing is where GNU
                // Fortran goes its own way (a minus sign on zero, directed
                // modes that do not round away from it): no oracle there.
                if (want.find_first_of("123456789") == std::string::npos) {
                    ++skipped;
                    continue;
                }
                const Desc d = desc_of(edits[j], m);
                const fmtkit::Edited got = fmtkit::edit(&b, type, 0, d);
                if (got.field != want && edits[j].twin >= 0) {
                    // GNU Fortran decides G editing with d digits as long as
                    // the kind's precision by a floating-point comparison
                    // that errs next to powers of ten.  There the field must
                    // hold the value its own ES edit rounds to d digits, in F
                    // form exactly when that value's exponent s is in 0..d.
                    // (Under a scale factor the E form has d + 1 digits:
                    // no twin for it.)
                    const std::string &tl = (*lines)[base + static_cast<size_t>(edits[j].twin) * kNModes + mi];
                    const std::string es = tl.substr(1, tl.size() - 2);
                    const int s = es_exponent(es);
                    const bool f_form = got.field.find('E') == std::string::npos;
                    ++twinned;
                    if (std::strtod(got.field.c_str(), nullptr) == std::strtod(es.c_str(), nullptr) &&
                        f_form == (s >= 0 && s <= edits[j].d) && (f_form || !edits[j].scale[0]))
                        continue;
                }
                if (got.field != want && ++bad <= 200)
                    ADD_FAILURE() << fmtkit::fortran_text(d) << " of bits 0x" << std::hex
                                  << static_cast<unsigned long long>(b) << std::dec << ": got [" << got.field
                                  << "] want [" << want << "]";
            }
    }
    EXPECT_EQ(bad, 0u);
    EXPECT_LT((skipped + twinned) * 4, lines->size()) << "too few fields compared with the oracle's own";
}

TEST(RealEditingOracle, Binary64InEveryModeAsGfortranWritesIt) {
    compare(values8(), kEdits8, sizeof kEdits8 / sizeof kEdits8[0], "8", "8", FOR_TYPE_REAL8);
}

TEST(RealEditingOracle, Binary32InEveryModeAsGfortranWritesIt) {
    compare(values4(), kEdits4, sizeof kEdits4 / sizeof kEdits4[0], "4", "4", FOR_TYPE_REAL4);
}

}  // namespace
