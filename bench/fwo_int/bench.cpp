// WRITE (u, '(10I12)') k   with k(10) INTEGER(4): our side.
#include <cstdlib>

#include "../fmt_common.h"
#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    int u = bench_open(argv[1]);
    const auto fmt = compiled_format({{FOR_FMT_I, 10, 12, 0, 0}});
    int32_t k[10];
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_INT4, FOR_FORM_ARRAY, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {sizeof k, reinterpret_cast<uintptr_t>(k)};
    for (long i = 1; i <= n / 10; ++i) {
        for (int j = 1; j <= 10; ++j) k[j - 1] = static_cast<int32_t>(i * 7 + j - 500000);
        For_Context ctx{};
        for_write_seq_fmt(&ctx, u, iof_f90, dsc, val, fmt.data(), nullptr, nullptr);
    }
    bench_close(u);
    return for_rtl_finish_();
}
