// n unformatted direct-access records of eight INTEGER(8), written with
// write (u, rec=i) k in sequence, then read with read (u, rec=r) k in the
// order of peer.f90's fixed permutation: our side.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../ldo_common.h"

namespace {

// OPEN (NEWUNIT=u, FILE=path, ACCESS='DIRECT', FORM='UNFORMATTED',
// RECL=16, STATUS=status): RECL counts 4-byte units, so the records are
// 64 bytes as the peers' RECL=64 bytes are.
int open_direct(const char *path, const char *status) {
    int32_t unit = 0;
    static const char unformatted[] = "unformatted", direct[] = "direct";
    const For_Dsc_Lst keys[] = {FOR_TYPE_INT4,      FOR_FORM_ADDR,
                                FOR_KEY_NEWUNIT,    0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_FILE,       0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_STATUS,     0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_FORM,       0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_ACCESS,     0,
                                FOR_TYPE_INT8,      FOR_FORM_VALUE,
                                FOR_KEY_RECL,       0,
                                FOR_TYPE_END_STMT,  0};
    const For_Value_List vals[] = {reinterpret_cast<uintptr_t>(&unit),       std::strlen(path),
                                   reinterpret_cast<uintptr_t>(path),        std::strlen(status),
                                   reinterpret_cast<uintptr_t>(status),      11,
                                   reinterpret_cast<uintptr_t>(unformatted), 6,
                                   reinterpret_cast<uintptr_t>(direct),      16};
    For_Context ctx{};
    if (for_open(&ctx, 0, iof_f90, keys, vals) != 0) return 0;
    return unit;
}

}  // namespace

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    const int64_t n = std::atol(argv[2]);
    const std::string data = std::string(argv[1]) + ".dat";
    int64_t m = 1;
    while (m < n) m *= 2;
    int64_t k[8] = {};
    // The descriptor list is constant, as the compiler emits it once.
    static const For_Dsc_Lst dsc[] = {FOR_TYPE_INT8, FOR_FORM_ARRAY, FOR_TYPE_END_STMT, 0};
    const For_Value_List val[] = {sizeof k, reinterpret_cast<uintptr_t>(k)};
    auto t0 = std::chrono::steady_clock::now();
    int u = open_direct(data.c_str(), "replace");
    if (u == 0) return 1;
    for (int64_t i = 1; i <= n; ++i) {
        for (int j = 0; j < 8; ++j) k[j] = i * 8 + j + 1;
        For_Context ctx{};
        if (for_write_dir(&ctx, u, iof_f90, dsc, val, i, nullptr, nullptr) != 0) return 1;
    }
    bench_close(u);
    auto t1 = std::chrono::steady_clock::now();
    int64_t s = 0;
    u = open_direct(data.c_str(), "old");
    if (u == 0) return 1;
    int64_t x = 0;
    for (int64_t i = 1; i <= m; ++i) {
        x = (x * 1103515245 + 12345) & (m - 1);
        if (x >= n) continue;
        const int64_t r = x + 1;
        For_Context ctx{};
        if (for_read_dir(&ctx, u, iof_f90, dsc, val, r, nullptr, nullptr) != 0) return 1;
        s += k[0] - k[7] + r;
    }
    bench_close(u);
    auto t2 = std::chrono::steady_clock::now();
    unlink(data.c_str());
    bench_phase("write", t0, t1);
    bench_phase("read", t1, t2);
    FILE *out = std::fopen(argv[1], "w");
    std::fprintf(out, " %lld %lld\n", static_cast<long long>(n), static_cast<long long>(s));
    std::fclose(out);
    return for_rtl_finish_();
}
