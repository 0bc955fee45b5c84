// Speed of the conversion engine against glibc and the C++ library, per
// format and mode.  Not a test: run it and read the figures.
//   bench_cvt [count]     (default 2000000 values)
#include <vorlix/cvt.h>

#include <quadmath.h>

#include <charconv>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

volatile uint64_t sink;

template <class Fn>
double per_value_ns(size_t n, Fn fn) {
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t i = 0; i < n; ++i) fn(i);
    const auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(t1 - t0).count() / static_cast<double>(n);
}

}  // namespace

int main(int argc, char **argv) {
    const size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2000000;
    std::mt19937_64 g(12345);
    std::vector<double> vals(n);
    for (auto &v : vals) {
        // Finite values spread over the whole range.
        uint64_t b;
        do b = g();
        while (((b >> 52) & 0x7FF) == 0x7FF);
        std::memcpy(&v, &b, 8);
    }
    std::vector<double> fvals(n);  // moderate magnitudes for F editing
    for (auto &v : fvals)
        v = std::ldexp(static_cast<double>(g() >> 11), -53) * std::pow(10.0, static_cast<int>(g() % 12) - 3);
    std::vector<std::string> texts(n);
    for (size_t i = 0; i < n; ++i) {
        char b[40];
        std::snprintf(b, sizeof b, "%.16e", vals[i]);
        texts[i] = b;
    }
    char buf[512];
    int32_t f, c, e, cl, st;
    std::printf("%zu binary64 values, ns per value\n", n);
    std::printf("to 17 significant digits:\n");
    std::printf("  std::to_chars          %7.1f\n", per_value_ns(n, [&](size_t i) {
                    auto r = std::to_chars(buf, buf + 64, vals[i], std::chars_format::scientific, 16);
                    sink = sink + static_cast<uint64_t>(r.ptr - buf);
                }));
    std::printf("  snprintf %%.16e         %7.1f\n", per_value_ns(n, [&](size_t i) {
                    sink = sink + static_cast<uint64_t>(std::snprintf(buf, 64, "%.16e", vals[i]));
                }));
    for (uint32_t mode : {0x80000000u, 0x81000000u, 0x81800000u})
        std::printf("  cvtas_t_to_a %s        %7.1f\n",
                    mode == 0x80000000u   ? "RN"
                    : mode == 0x81000000u ? "RU"
                                          : "RC",
                    per_value_ns(n, [&](size_t i) {
                        cvtas_t_to_a(64, 17, mode | 1, buf, &f, &c, &e, &cl, &st, vals[i]);
                        sink = sink + static_cast<uint64_t>(buf[1]);
                    }));
    std::printf("F-style, 6 digits after the point:\n");
    std::printf("  std::to_chars fixed    %7.1f\n", per_value_ns(n, [&](size_t i) {
                    auto r = std::to_chars(buf, buf + 512, fvals[i], std::chars_format::fixed, 6);
                    sink = sink + static_cast<uint64_t>(r.ptr - buf);
                }));
    std::printf("  snprintf %%.6f          %7.1f\n", per_value_ns(n, [&](size_t i) {
                    sink = sink + static_cast<uint64_t>(std::snprintf(buf, 512, "%.6f", fvals[i]));
                }));
    for (uint32_t mode : {0x80000000u, 0x81000000u})
        std::printf("  cvtas_t_to_a F %s      %7.1f\n", mode == 0x80000000u ? "RN" : "RU",
                    per_value_ns(n, [&](size_t i) {
                        cvtas_t_to_a(512, 6, mode | 2, buf, &f, &c, &e, &cl, &st, fvals[i]);
                        sink = sink + static_cast<uint64_t>(buf[1]);
                    }));
    std::printf("  cvt_ieee_t_to_text F24.6 RN %7.1f\n", per_value_ns(n, [&](size_t i) {
                    cvt_ieee_t_to_text(&fvals[i], 24, 0, 6, 24, 0, 0x80000002u, buf);
                    sink = sink + static_cast<uint64_t>(buf[23]);
                }));
    std::printf("text of 17 significant digits to binary64:\n");
    std::printf("  std::from_chars        %7.1f\n", per_value_ns(n, [&](size_t i) {
                    double v;
                    std::from_chars(texts[i].data(), texts[i].data() + texts[i].size(), v);
                    sink = sink + static_cast<uint64_t>(v != 0);
                }));
    std::printf("  strtod                 %7.1f\n", per_value_ns(n, [&](size_t i) {
                    sink = sink + static_cast<uint64_t>(std::strtod(texts[i].c_str(), nullptr) != 0);
                }));
    for (uint32_t mode : {0x80000000u, 0x81000000u})
        std::printf(
            "  cvtas_a_to_t %s        %7.1f\n", mode == 0x80000000u ? "RN" : "RU", per_value_ns(n, [&](size_t i) {
                int32_t s2, er;
                double v = cvtas_a_to_t(texts[i].data(), static_cast<int64_t>(texts[i].size()), mode, 0, 0, &s2, &er);
                sink = sink + static_cast<uint64_t>(v != 0);
            }));
    // binary128 against libquadmath.
    const size_t nq = n / 10;
    std::vector<__float128> q(nq);
    std::vector<std::string> qt(nq);
    for (size_t i = 0; i < nq; ++i) {
        q[i] = static_cast<__float128>(vals[i]) *
               (1 + static_cast<__float128>(g() >> 11) / static_cast<__float128>(9007199254740992.0));
        quadmath_snprintf(buf, 128, "%.35Qe", q[i]);
        qt[i] = buf;
    }
    std::printf("binary128 (%zu values), 36 significant digits:\n", nq);
    std::printf("  quadmath_snprintf      %7.1f\n", per_value_ns(nq, [&](size_t i) {
                    sink = sink + static_cast<uint64_t>(quadmath_snprintf(buf, 128, "%.35Qe", q[i]));
                }));
    std::printf("  cvtas_x_to_a RN        %7.1f\n", per_value_ns(nq, [&](size_t i) {
                    cvtas_x_to_a(128, 36, 0x80000001u, buf, &f, &c, &e, &cl, &st, q[i]);
                    sink = sink + static_cast<uint64_t>(buf[1]);
                }));
    std::printf("  strtoflt128            %7.1f\n", per_value_ns(nq, [&](size_t i) {
                    sink = sink + static_cast<uint64_t>(strtoflt128(qt[i].c_str(), nullptr) != 0);
                }));
    std::printf("  cvtas_a_to_x RN        %7.1f\n", per_value_ns(nq, [&](size_t i) {
                    int32_t s2, er;
                    __float128 v =
                        cvtas_a_to_x(qt[i].data(), static_cast<int64_t>(qt[i].size()), 0x80000000u, 0, 0, &s2, &er);
                    sink = sink + static_cast<uint64_t>(v != 0);
                }));
    return 0;
}
