// Compiled formats as a compiler emits them for a constant FORMAT: one
// 12-byte record per item (header word: opcode, d in bits 24-31, e in bits
// 16-23; then the repeat count and the width).
#pragma once
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include <vorlix/format.h>

struct Fmt_Rec {
    uint8_t op;
    uint32_t repeat;
    int32_t w;
    uint8_t d, e;
};

inline std::vector<unsigned char> compiled_format(std::initializer_list<Fmt_Rec> items) {
    std::vector<unsigned char> out;
    auto put = [&](const Fmt_Rec &r) {
        uint32_t header = r.op | (static_cast<uint32_t>(r.e) << 16) | (static_cast<uint32_t>(r.d) << 24);
        unsigned char rec[12];
        std::memcpy(rec, &header, 4);
        std::memcpy(rec + 4, &r.repeat, 4);
        std::memcpy(rec + 8, &r.w, 4);
        const size_t at = out.size();
        out.resize(at + sizeof rec);
        std::memcpy(out.data() + at, rec, sizeof rec);
    };
    put({FOR_FMT_FORMAT_BEGIN, 0, 0, 0, 0});
    for (const Fmt_Rec &r : items) put(r);
    put({FOR_FMT_FORMAT_END, 0, 0, 0, 0});
    return out;
}
