// Internal WRITE (str, '(I0)') i: our side.
#include <cstdlib>
#include <cstdio>

#include "../fmt_common.h"
#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    const auto fmt = compiled_format({{FOR_FMT_IM, 1, 0, 1, 0}});
    char str[16];
    int32_t i = 0;
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_CHARACTER, FOR_FORM_CHAR,     FOR_TYPE_INT4,
                                      FOR_FORM_ADDR,      FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {sizeof str, reinterpret_cast<uintptr_t>(str), reinterpret_cast<uintptr_t>(&i)};
    long long total = 0;
    for (i = 1; i <= n; ++i) {
        For_Context ctx{};
        for_write_int_fmt(&ctx, iof_f90, dsc, val, fmt.data(), nullptr, nullptr);
        int len = sizeof str;
        while (len > 0 && str[len - 1] == ' ') --len;
        total += len;
    }
    FILE *f = std::fopen(argv[1], "w");
    std::fprintf(f, "%lld\n", total);
    std::fclose(f);
    return for_rtl_finish_();
}
