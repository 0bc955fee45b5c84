// n records of one INTEGER(4), written with write (u) k, then read back
// with read (u) k: our side.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    const std::string data = std::string(argv[1]) + ".dat";
    int32_t k = 0;
    // The descriptor list is constant, as the compiler emits it once.
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_INT4, FOR_FORM_ADDR, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {reinterpret_cast<uintptr_t>(&k)};
    auto t0 = std::chrono::steady_clock::now();
    int u = bench_open_uf(data.c_str(), "replace");
    for (long i = 1; i <= n; ++i) {
        k = static_cast<int32_t>(i * 7 % 100003);
        For_Context ctx{};
        if (for_write_seq(&ctx, u, iof_f90, dsc, val, nullptr, nullptr) != 0) return 1;
    }
    bench_close(u);
    auto t1 = std::chrono::steady_clock::now();
    long long s = 0;
    u = bench_open_uf(data.c_str(), "old");
    for (long i = 1; i <= n; ++i) {
        For_Context ctx{};
        if (for_read_seq(&ctx, u, iof_f90, dsc, val, nullptr, nullptr) != 0) return 1;
        s += k;
    }
    bench_close(u);
    auto t2 = std::chrono::steady_clock::now();
    unlink(data.c_str());
    bench_phase("write", t0, t1);
    bench_phase("read", t1, t2);
    FILE *out = std::fopen(argv[1], "w");
    std::fprintf(out, " %ld %lld\n", n, s);
    std::fclose(out);
    return for_rtl_finish_();
}
