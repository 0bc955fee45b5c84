// What compiled code does for OPEN (NEWUNIT=u, FILE=path, STATUS=status),
// its unformatted form, and CLOSE (u), shared by the benchmarks' own sides.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <vorlix/vorlix.h>

inline int bench_open(const char *path, const char *status = "replace") {
    int32_t unit = 0;
    const For_Dsc_Lst keys[] = {FOR_TYPE_INT4,      FOR_FORM_ADDR,
                                FOR_KEY_NEWUNIT,    0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_FILE,       0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_STATUS,     0,
                                FOR_TYPE_END_STMT,  0};
    const For_Value_List vals[] = {reinterpret_cast<uintptr_t>(&unit), std::strlen(path),
                                   reinterpret_cast<uintptr_t>(path), std::strlen(status),
                                   reinterpret_cast<uintptr_t>(status)};
    For_Context ctx{};
    if (for_open(&ctx, 0, iof_f90, keys, vals) != 0) return 0;
    return unit;
}

// OPEN (NEWUNIT=u, FILE=path, FORM='UNFORMATTED', STATUS=status[, CONVERT=convert]).
inline int bench_open_uf(const char *path, const char *status, const char *convert = nullptr) {
    int32_t unit = 0;
    static const char unformatted[] = "unformatted";
    const For_Dsc_Lst keys[] = {FOR_TYPE_INT4,      FOR_FORM_ADDR,
                                FOR_KEY_NEWUNIT,    0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_FILE,       0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_STATUS,     0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_FORM,       0,
                                FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                                FOR_KEY_CONVERT,    0,
                                FOR_TYPE_END_STMT,  0};
    const For_Value_List vals[] = {reinterpret_cast<uintptr_t>(&unit),       std::strlen(path),
                                   reinterpret_cast<uintptr_t>(path),        std::strlen(status),
                                   reinterpret_cast<uintptr_t>(status),      11,
                                   reinterpret_cast<uintptr_t>(unformatted), convert ? std::strlen(convert) : 0,
                                   reinterpret_cast<uintptr_t>(convert)};
    // Without CONVERT= the list ends before its item, as compiled code
    // leaves out a specifier the statement does not have.
    For_Dsc_Lst plain[sizeof keys];
    std::memcpy(plain, keys, sizeof keys);
    if (!convert) {
        plain[16] = FOR_TYPE_END_STMT;
        plain[17] = 0;
    }
    For_Context ctx{};
    if (for_open(&ctx, 0, iof_f90, plain, vals) != 0) return 0;
    return unit;
}

inline void bench_close(int unit) {
    const For_Dsc_Lst keys[] = {FOR_TYPE_END_STMT, 0};
    const For_Value_List vals[] = {0};
    For_Context ctx{};
    for_close(&ctx, unit, 0, keys, vals);
}

// A timed phase of the work, on stderr as tools/bench.py reads it.
inline void bench_phase(const char *name, std::chrono::steady_clock::time_point from,
                        std::chrono::steady_clock::time_point to) {
    std::fprintf(stderr, "phase %s %.6f\n", name, std::chrono::duration<double>(to - from).count());
}
