// read (u, *) a, b, c   with INTEGER(4) a, b, c, n/2 times, from the
// prepared file: our side. The sums are written with stdio.
#include <cstdio>
#include <cstdlib>

#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    int u = bench_open(argv[3], "old");
    int32_t a = 0, b = 0, c = 0;
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_INT4, FOR_FORM_ADDR, FOR_TYPE_INT4,     FOR_FORM_ADDR,
                                      FOR_TYPE_INT4, FOR_FORM_ADDR, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {reinterpret_cast<uintptr_t>(&a), reinterpret_cast<uintptr_t>(&b),
                                  reinterpret_cast<uintptr_t>(&c)};
    int64_t sa = 0, sb = 0, sc = 0;
    for (long i = 1; i <= n / 2; ++i) {
        For_Context ctx{};
        if (for_read_seq_lis(&ctx, u, iof_f90, dsc, val, nullptr, nullptr) != 0) return 1;
        sa += a;
        sb += b;
        sc += c;
    }
    bench_close(u);
    FILE *out = std::fopen(argv[1], "w");
    std::fprintf(out, "%ld %lld %lld %lld\n", n / 2, static_cast<long long>(sa), static_cast<long long>(sb),
                 static_cast<long long>(sc));
    std::fclose(out);
    return for_rtl_finish_();
}
