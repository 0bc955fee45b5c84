// write (u) a; read (u) a   with a(n) REAL(8), one record: our side.
// Built a second time with BENCH_CONVERT for the same work on a file of
// another byte order (bench/ufw_big_endian).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    const std::string data = std::string(argv[1]) + ".dat";
    // Not value-initialised: the peer's ALLOCATE does not clear either.
    std::unique_ptr<double[]> a(new double[static_cast<size_t>(n)]);
    for (long i = 1; i <= n; ++i) a[static_cast<size_t>(i - 1)] = static_cast<double>(i % 1000) + 0.5;
    // The descriptor list is constant, as the compiler emits it once.
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_REAL8, FOR_FORM_ARRAY, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {static_cast<uint64_t>(n) * sizeof(double), reinterpret_cast<uintptr_t>(a.get())};
    auto t0 = std::chrono::steady_clock::now();
    int u = bench_open_uf(data.c_str(), "replace", BENCH_CONVERT);
    For_Context w{};
    if (for_write_seq(&w, u, iof_f90, dsc, val, nullptr, nullptr) != 0) return 1;
    bench_close(u);
    auto t1 = std::chrono::steady_clock::now();
    std::fill(a.get(), a.get() + n, 0.0);
    auto t2 = std::chrono::steady_clock::now();
    u = bench_open_uf(data.c_str(), "old", BENCH_CONVERT);
    For_Context r{};
    if (for_read_seq(&r, u, iof_f90, dsc, val, nullptr, nullptr) != 0) return 1;
    bench_close(u);
    auto t3 = std::chrono::steady_clock::now();
    unlink(data.c_str());
    bench_phase("write", t0, t1);
    bench_phase("read", t2, t3);
    long long s = 0;
    for (long i = 0; i < n; ++i) s += static_cast<long long>(a[static_cast<size_t>(i)] * 2);
    FILE *out = std::fopen(argv[1], "w");
    std::fprintf(out, " %ld %lld\n", n, s);
    std::fclose(out);
    return for_rtl_finish_();
}
