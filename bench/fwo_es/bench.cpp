// WRITE (u, '(5ES24.16)') x   with x(5) REAL(8): our side.
#include <cstdlib>

#include "../fmt_common.h"
#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    int u = bench_open(argv[1]);
    const auto fmt = compiled_format({{FOR_FMT_ES, 5, 24, 16, 0}});
    double x[5];
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_REAL8, FOR_FORM_ARRAY, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {sizeof x, reinterpret_cast<uintptr_t>(x)};
    for (long i = 1; i <= n / 5; ++i) {
        for (int j = 1; j <= 5; ++j) x[j - 1] = static_cast<double>(i) * 1.000001 + j / 3.0;
        For_Context ctx{};
        for_write_seq_fmt(&ctx, u, iof_f90, dsc, val, fmt.data(), nullptr, nullptr);
    }
    bench_close(u);
    return for_rtl_finish_();
}
