// PRINT *, i   for i = 1..n, as compiled code does: the program that the
// buffering test watches.
#include <cstdint>
#include <cstdlib>

#include <vorlix/vorlix.h>

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = argc > 1 ? std::atol(argv[1]) : 1000;
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_INT4, FOR_FORM_ADDR, FOR_TYPE_END_STMT, 0};
    int32_t i = 0;
    const For_Value_List val[] = {reinterpret_cast<uintptr_t>(&i)};
    for (i = 1; i <= n; ++i) {
        For_Context ctx{};
        for_write_seq_lis(&ctx, FOR_UNIT_PRINT, 0, dsc, val, nullptr, nullptr);
    }
    return for_rtl_finish_();
}
