// read (u, '(5ES24.16)') x   with x(5) REAL(8), n/5 times, from the
// prepared file: our side. A format that is a character constant reaches
// the library as its text (iof_fmt_text), as it does from compiled code
// that leaves formats to run time; the library compiles it on the first
// statement and takes it from the thread's format cache afterwards, so the
// loop measures the reads, not the compiler. The checksum line is written
// with stdio.
#include <cstdio>
#include <cstdlib>

#include "../ldo_common.h"

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const long n = std::atol(argv[2]);
    int u = bench_open(argv[3], "old");
    double x[5] = {};
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_REAL8, FOR_FORM_ARRAY, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {sizeof x, reinterpret_cast<uintptr_t>(x)};
    static const char text[] = "(5ES24.16)";
    const For_Char_Format fmt{sizeof text - 1, text};
    double s = 0;
    for (long i = 1; i <= n / 5; ++i) {
        For_Context ctx{};
        if (for_read_seq_fmt(&ctx, u, iof_f90 | iof_fmt_text, dsc, val, &fmt, nullptr, nullptr) != 0) return 1;
        double t = 0;  // SUM(x) in the peers' order
        for (double v : x) t += v;
        s += t;
    }
    bench_close(u);
    FILE *out = std::fopen(argv[1], "w");
    std::fprintf(out, "%ld %.17E %.17E\n", n / 5 * 5, s, x[4]);
    std::fclose(out);
    return for_rtl_finish_();
}
