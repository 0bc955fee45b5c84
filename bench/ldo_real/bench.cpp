// write (u, *) x   with x(10) REAL(8), n/10 times: our side.
#include <cstdlib>

#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    int u = bench_open(argv[1]);
    double x[10];
    // The descriptor list is constant, as the compiler emits it once.
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_REAL8, FOR_FORM_ARRAY, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {sizeof x, reinterpret_cast<uintptr_t>(x)};
    for (long i = 1; i <= n / 10; ++i) {
        for (int j = 1; j <= 10; ++j) x[j - 1] = static_cast<double>(i) * 1.000001 + j / 3.0;
        For_Context ctx{};
        for_write_seq_lis(&ctx, u, iof_f90, dsc, val, nullptr, nullptr);
    }
    bench_close(u);
    return for_rtl_finish_();
}
