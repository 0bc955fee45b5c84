// write (u) a; read (u) a   with a(n) REAL(8), one record: our side.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    const std::string data = std::string(argv[1]) + ".dat";
    std::vector<double> a(static_cast<size_t>(n));
    for (long i = 1; i <= n; ++i) a[static_cast<size_t>(i - 1)] = static_cast<double>(i % 1000) + 0.5;
    // The descriptor list is constant, as the compiler emits it once.
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_REAL8, FOR_FORM_ARRAY, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {static_cast<uint64_t>(n) * sizeof(double), reinterpret_cast<uintptr_t>(a.data())};
    int u = bench_open_uf(data.c_str(), "replace");
    For_Context w{};
    if (for_write_seq(&w, u, iof_f90, dsc, val, nullptr, nullptr) != 0) return 1;
    bench_close(u);
    std::fill(a.begin(), a.end(), 0.0);
    u = bench_open_uf(data.c_str(), "old");
    For_Context r{};
    if (for_read_seq(&r, u, iof_f90, dsc, val, nullptr, nullptr) != 0) return 1;
    bench_close(u);
    unlink(data.c_str());
    long long s = 0;
    for (double x : a) s += static_cast<long long>(x * 2);
    FILE *out = std::fopen(argv[1], "w");
    std::fprintf(out, " %ld %lld\n", n, s);
    std::fclose(out);
    return for_rtl_finish_();
}
