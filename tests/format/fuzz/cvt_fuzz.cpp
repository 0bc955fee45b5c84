// libFuzzer target: one input field through input editing. The first
// bytes choose the descriptor (I, B, O, Z, F, E, D, EN, ES, G, L with w, d,
// e and the scale factor), the modes (BN/BZ, DC/DP, rounding) and an item
// the descriptor edits; the rest is the field, exactly w characters in a
// heap block of its own size so that a read past it is caught. Editing
// must return 0 or the input conversion error (64), never write outside
// the item (guard bytes on both sides), crash or hang.
//
// Built with clang (-fsanitize=fuzzer,address,undefined) from the whole
// library: editing reaches the conversion engine and the diagnostics.
#include <cstdint>
#include <cstring>
#include <memory>

#include <vorlix/abi.h>
#include <vorlix/format.h>

#include "format/for_cvt_val.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

struct Item {
    int type;
    int64_t size;
};

enum Kind { integer, real, logical, any };

constexpr Item integers[] = {{FOR_TYPE_INT1, 1},  {FOR_TYPE_INT2, 2},  {FOR_TYPE_INT4, 4},  {FOR_TYPE_INT8, 8},
                             {FOR_TYPE_UINT1, 1}, {FOR_TYPE_UINT2, 2}, {FOR_TYPE_UINT4, 4}, {FOR_TYPE_UINT8, 8}};
constexpr Item reals[] = {{FOR_TYPE_REAL4, 4}, {FOR_TYPE_REAL8, 8}, {FOR_TYPE_REAL16, 16}};
constexpr Item logicals[] = {
    {FOR_TYPE_LOGICAL1, 1}, {FOR_TYPE_LOGICAL2, 2}, {FOR_TYPE_LOGICAL4, 4}, {FOR_TYPE_LOGICAL8, 8}};

struct Descriptor {
    uint8_t opcode;
    Kind reads;
};

// Each descriptor with the items it edits: B, O, Z and G take any item.
constexpr Descriptor descriptors[] = {
    {FOR_FMT_I, integer}, {FOR_FMT_IM, integer}, {FOR_FMT_B, any},   {FOR_FMT_BM, any},   {FOR_FMT_O, any},
    {FOR_FMT_OM, any},    {FOR_FMT_Z, any},      {FOR_FMT_ZM, any},  {FOR_FMT_F, real},   {FOR_FMT_E, real},
    {FOR_FMT_EE, real},   {FOR_FMT_D, real},     {FOR_FMT_EN, real}, {FOR_FMT_ENE, real}, {FOR_FMT_ES, real},
    {FOR_FMT_ESE, real},  {FOR_FMT_G, any},      {FOR_FMT_GE, any},  {FOR_FMT_L, logical}};

constexpr For_Round roundings[] = {For_Round::none, For_Round::ru, For_Round::rd, For_Round::rz,
                                   For_Round::rn,   For_Round::rc, For_Round::rp, For_Round::none};

Item pick_item(Kind k, uint8_t b) {
    switch (k) {
    case integer: return integers[b % 8];
    case real: return reals[b % 3];
    case logical: return logicals[b % 4];
    case any: break;
    }
    switch (b % 4) {
    case 0: return integers[(b / 4) % 8];
    case 1: return reals[(b / 4) % 3];
    case 2: return logicals[(b / 4) % 4];
    default: return {FOR_TYPE_CHARACTER, 1 + (b / 4) % 40};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr size_t head = 6;
    if (size < head) return 0;
    const Descriptor &desc = descriptors[data[0] % (sizeof descriptors / sizeof descriptors[0])];
    const Item item = pick_item(desc.reads, data[1]);
    const uint8_t modes = data[2];
    For_Fmt_Isb isb{};
    isb.opcode = desc.opcode;
    isb.flags = (modes & 1) ? isbf::blank_bz : isbf::blank_bn;
    isb.modes = (modes & 2) ? isbm::decimal_dc : (modes & 4) ? isbm::decimal_dp : 0;
    isb.rounding = roundings[(modes >> 3) & 7];
    isb.d = data[3] % 40;
    isb.e = data[4] % 6;
    // A scale factor a format can write: -128..127; most fields take 0.
    isb.scale = (modes & 0x40) ? static_cast<int8_t>(data[5]) : 0;

    const size_t w = size - head;
    isb.w = static_cast<int64_t>(w);
    std::unique_ptr<char[]> field(new char[w ? w : 1]);
    std::memcpy(field.get(), data + head, w);

    constexpr int guard = 16;
    constexpr unsigned char fill = 0xA5;
    unsigned char slot[guard + 64 + guard] __attribute__((aligned(16)));
    std::memset(slot, fill, sizeof slot);
    const For_Value_Info info{slot + guard, item.type, item.size};
    const int status = for__cvt_value(&isb, field.get(), &info);
    check(status == 0 || status == 64);
    for (size_t i = 0; i < sizeof slot; ++i)
        if (i < guard || i >= guard + static_cast<size_t>(item.size)) check(slot[i] == fill);
    return 0;
}
