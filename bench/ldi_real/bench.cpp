// read (u, *) x   with x(10) REAL(8), n/10 times, from the prepared file:
// our side. The checksum line is written with stdio: only the reads are
// the library's work here.
#include <cstdio>
#include <cstdlib>

#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    int u = bench_open(argv[3], "old");
    double x[10] = {};
    // The descriptor list is constant, as the compiler emits it once.
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_REAL8, FOR_FORM_ARRAY, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {sizeof x, reinterpret_cast<uintptr_t>(x)};
    double s = 0;
    for (long i = 1; i <= n / 10; ++i) {
        For_Context ctx{};
        if (for_read_seq_lis(&ctx, u, iof_f90, dsc, val, nullptr, nullptr) != 0) return 1;
        double t = 0;  // SUM(x) in the peers' order
        for (double v : x) t += v;
        s += t;
    }
    bench_close(u);
    FILE *out = std::fopen(argv[1], "w");
    std::fprintf(out, "%ld %.17E %.17E\n", n / 10 * 10, s, x[9]);
    std::fclose(out);
    return for_rtl_finish_();
}
