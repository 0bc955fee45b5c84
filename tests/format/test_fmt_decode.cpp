// The record reader: every layout a compiled format may contain, from bytes
// written out by hand, and the tables it relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "diag/for_msgnum.h"
#include "fmt_bytes.h"
#include "format/for_fmt_comp.h"
#include "format/for_fmt_decode.h"

namespace {

using fmtb::Bytes;
using fmtb::le32;
using fmtb::le64;

struct Want {
    uint8_t op, category;
    int64_t f1, f2;
    uint32_t f3, f4;
    std::size_t size;
};

struct Case {
    const char *why;
    Bytes bytes;
    Want want;
};

Bytes words(std::initializer_list<uint32_t> w) {
    Bytes b;
    for (uint32_t v : w) le32(b, v);
    return b;
}

TEST(FormatDecode, Layouts) {
    Bytes long_p;
    le32(long_p, 10 | 0x1000);
    le32(long_p, 0);
    le64(long_p, 0);
    le64(long_p, static_cast<uint64_t>(-5));
    Bytes long_group;
    le32(long_group, 3 | 0x1000);
    le32(long_group, 0xdeadbeef);  // padding is not a field
    le64(long_group, 9223372036854775807ull);
    le64(long_group, 0);
    const std::vector<Case> cases = {
        {"short generic: I8.3", words({37u | 3u << 24, 2, 8}), {37, 4, 2, 8, 3, 0, 12}},
        {"short field 2 is unsigned", words({29, 1, 0xfffffff0u}), {29, 3, 1, 0xfffffff0ll, 0, 0, 12}},
        {"e and d from the header", words({32u | 3u << 16 | 4u << 24, 1, 12}), {32, 5, 1, 12, 4, 3, 12}},
        {"long form: negative scale factor", long_p, {10, 3, 0, -5, 0, 0, 24}},
        {"long form: unlimited group, padding ignored", long_group, {3, 2, 9223372036854775807ll, 0, 0, 0, 24}},
        {"compact, no fields: 58 is BN", words({58}), {5, 6, 0, 0, 0, 0, 4}},
        {"compact, no fields: 107 is DP", words({107}), {115, 6, 0, 0, 0, 0, 4}},
        {"compact field 1: 71 is r/", words({71u | 4u << 16}), {18, 7, 4, 0, 0, 0, 4}},
        {"compact field 1: 77 is rI", words({77u | 300u << 16}), {24, 7, 300, 0, 0, 0, 4}},
        {"compact field 1: 121 is AT", words({121u | 2u << 16}), {122, 7, 2, 0, 0, 0, 4}},
        {"compact P: low byte, signed", words({63u | 0x12fdu << 16}), {10, 8, 0, -3, 0, 0, 4}},
        {"compact T: all 16 bits", words({65u | 40000u << 16}), {12, 8, 0, 40000, 0, 0, 4}},
        {"compact r,w: 81 is rAw", words({81u | 7u << 8 | 1000u << 16}), {29, 9, 7, 1000, 0, 0, 4}},
        {"compact r,w,d: 87 is rIw.m", words({87u | 2u << 8 | 10u << 16 | 5u << 24}), {37, 10, 2, 10, 5, 0, 4}},
        {"compact r,w,d: 99 is rESw.d", words({99u | 1u << 8 | 24u << 16 | 16u << 24}), {50, 10, 1, 24, 16, 0, 4}},
    };
    for (const Case &c : cases) {
        For_Fmt_Rec r;
        ASSERT_EQ(for__fmt_decode(c.bytes.data(), c.bytes.size(), &r), 0) << c.why;
        EXPECT_EQ(r.op, c.want.op) << c.why;
        EXPECT_EQ(r.category, c.want.category) << c.why;
        EXPECT_EQ(r.f1, c.want.f1) << c.why;
        EXPECT_EQ(r.f2, c.want.f2) << c.why;
        EXPECT_EQ(r.f3, c.want.f3) << c.why;
        EXPECT_EQ(r.f4, c.want.f4) << c.why;
        EXPECT_EQ(r.size, c.want.size) << c.why;
        EXPECT_EQ(r.vfe, 0) << c.why;
    }
}

TEST(FormatDecode, VariableFormatExpressionSlots) {
    // F<n>.<m>: fields 2 and 3 from expressions; the four slots follow.
    Bytes b = words({33u | 0x200 | 0x400, 1, 0});
    Bytes slots = {0, 0, 0, 0, 4, 0, 3, 9, 6, 0, 10, 11, 0, 0, 0, 0};
    b.insert(b.end(), slots.begin(), slots.end());
    For_Fmt_Rec r;
    ASSERT_EQ(for__fmt_decode(b.data(), b.size(), &r), 0);
    EXPECT_EQ(r.vfe, 0x6);
    EXPECT_EQ(r.size, 28u);
    EXPECT_EQ(r.slots[1].index, 4);
    EXPECT_EQ(r.slots[1].kind, 3);
    EXPECT_EQ(r.slots[1].type, 9);
    EXPECT_EQ(r.slots[2].index, 6);
    EXPECT_EQ(r.slots[2].kind, 10);
    EXPECT_EQ(r.slots[2].type, 11);
    // The slots are part of the record: without them it is cut short.
    EXPECT_EQ(for__fmt_decode(b.data(), 27, &r), msg::format_syntax);
}

int32_t twelve(const void *, const For_Vfe_Slot *) { return 12; }
int64_t far_away(const void *table, const For_Vfe_Slot *slot) {
    // The function sees the table and its own slot.
    return reinterpret_cast<const uintptr_t *>(table)[0] == 0 ? 0 : 5000000000ll + slot->index;
}

TEST(FormatDecode, VfeValues) {
    int32_t n32 = -7;
    int64_t n64 = 1ll << 40;
    uintptr_t table[] = {reinterpret_cast<uintptr_t>(&n32),
                         reinterpret_cast<uintptr_t>(&n64),
                         0,
                         reinterpret_cast<uintptr_t>(&twelve),
                         0,
                         reinterpret_cast<uintptr_t>(&far_away)};
    struct V {
        For_Vfe_Slot slot;
        int64_t want;
    } cases[] = {
        {{0, 3, 9}, -7},              // a 32-bit variable, sign-extended
        {{1, 3, 11}, 1ll << 40},      // a 64-bit variable
        {{2, 10, 9}, 12},             // a function returning 32 bits
        {{4, 10, 11}, 5000000004ll},  // a function returning 64 bits
    };
    for (const V &v : cases) EXPECT_EQ(get_vfe_value(table, &v.slot), v.want) << v.slot.index;
}

TEST(FormatDecode, Literal) {
    Bytes b = fmtb::lit("hello");
    For_Fmt_Rec r;
    ASSERT_EQ(for__fmt_decode(b.data(), b.size(), &r), 0);
    EXPECT_EQ(r.op, FOR_FMT_LITERAL);
    EXPECT_EQ(r.f2, 5);
    EXPECT_EQ(std::string(r.text, 5), "hello");
    EXPECT_EQ(r.size, 12u);
    EXPECT_EQ(for__fmt_decode(b.data(), 11, &r), 62);  // text runs past the bytes given
}

TEST(FormatDecode, DtRuntimeLayout) {
    Bytes b = fmtb::dt(3, "point", "1,-2");
    For_Fmt_Rec r;
    ASSERT_EQ(for__fmt_decode(b.data(), b.size(), &r), 0);
    EXPECT_EQ(r.op, FOR_FMT_DT);
    EXPECT_EQ(r.category, 12);
    EXPECT_EQ(r.f1, 3);
    EXPECT_EQ(std::string(r.dt_type, r.dt_type_len), "point");
    EXPECT_EQ(std::string(r.dt_vlist, r.dt_vlist_len), "1,-2");
    EXPECT_EQ(r.size, 16u + 12u);                                      // 5 + 4 + 2 = 11 -> 12
    EXPECT_EQ(for__fmt_decode(b.data(), 24, &r), msg::format_syntax);  // the v-list's NUL is cut off
}

// DT as compiled code writes it: a 32-byte prefix with the repeat count at
// 24, then tagged strings.
Bytes dt_compiled(int32_t repeat, const char *type, const char *vlist, int t_count, bool t_tag) {
    Bytes b(32, 0);
    b[0] = 116;
    std::memcpy(&b[24], &repeat, 4);
    auto tagged = [&b](char tag, const char *s) {
        std::size_t at = b.size();
        b.resize(at + 32, 0);
        b[at] = static_cast<uint8_t>(tag);
        b.insert(b.end(), s, s + std::strlen(s) + 1);
        b.resize(at + 36 + ((std::strlen(s) + 3) & ~std::size_t{3}), 0);
    };
    if (type) tagged('u', type);
    if (vlist) tagged('v', vlist);
    if (t_tag) {
        std::size_t at = b.size();
        b.resize(at + 16, 0);
        b[at] = 't';
        std::memcpy(&b[at + 12], &t_count, 4);
    }
    b.resize(b.size() + 4, 0xee);  // the next record's bytes, not ours
    b[b.size() - 4] = 0;
    return b;
}

TEST(FormatDecode, DtCompiledLayout) {
    struct C {
        const char *why;
        Bytes bytes;
        int64_t repeat;
        const char *type, *vlist;
        std::size_t size;
    } cases[] = {
        {"no strings", dt_compiled(2, nullptr, nullptr, 0, false), 2, nullptr, nullptr, 32},
        {"type name", dt_compiled(1, "abc", nullptr, 0, false), 1, "abc", nullptr, 72},
        {"type name and v-list", dt_compiled(1, "abcd", "1,2", 0, false), 1, "abcd", "1,2", 72 + 40},
        {"v-list only", dt_compiled(4, nullptr, "7", 0, false), 4, nullptr, "7", 32 + 40},
        {"count tag after the strings", dt_compiled(1, "t", nullptr, 6, true), 6, "t", nullptr, 72 + 16},
        {"count tag of 0 means 1 and ends before it", dt_compiled(1, nullptr, nullptr, 0, true), 1, nullptr, nullptr,
         32},
        {"count tag ignored when the repeat is not 1", dt_compiled(3, nullptr, nullptr, 9, true), 3, nullptr, nullptr,
         32},
    };
    for (const C &c : cases) {
        For_Fmt_Rec r;
        ASSERT_EQ(for__fmt_decode(c.bytes.data(), c.bytes.size(), &r), 0) << c.why;
        EXPECT_EQ(r.op, FOR_FMT_DT) << c.why;
        EXPECT_EQ(r.category, 11) << c.why;
        EXPECT_EQ(r.f1, c.repeat) << c.why;
        EXPECT_EQ(r.size, c.size) << c.why;
        EXPECT_EQ(r.dt_type ? std::string(r.dt_type, r.dt_type_len) : "<none>", c.type ? c.type : "<none>") << c.why;
        EXPECT_EQ(r.dt_vlist ? std::string(r.dt_vlist, r.dt_vlist_len) : "<none>", c.vlist ? c.vlist : "<none>")
            << c.why;
    }
    Bytes cut = dt_compiled(1, "abc", nullptr, 0, false);
    For_Fmt_Rec r;
    EXPECT_EQ(for__fmt_decode(cut.data(), 66, &r), msg::format_syntax);  // type name without its NUL
}

TEST(FormatDecode, InvalidOpcodes) {
    for (uint32_t code : {52u, 117u, 118u, 123u, 200u, 255u}) {
        Bytes b = words({code, 0, 0});
        For_Fmt_Rec r;
        EXPECT_EQ(for__fmt_decode(b.data(), b.size(), &r), 8) << code;
    }
    Bytes b = words({37, 1, 5});
    For_Fmt_Rec r;
    EXPECT_EQ(for__fmt_decode(b.data(), 11, &r), msg::format_syntax);
    EXPECT_EQ(for__fmt_decode(b.data(), 3, &r), msg::format_syntax);
    Bytes lng = words({37 | 0x1000, 0, 1, 0, 5, 0});
    EXPECT_EQ(for__fmt_decode(lng.data(), 23, &r), msg::format_syntax);
}

TEST(FormatTables, CategoryRows) {
    struct Row {
        int code, category, op;
    } rows[] = {
        {0, 1, 0},      {1, 1, 1},     {3, 2, 3},     {10, 3, 10},  {29, 3, 29},  {37, 4, 37},   {35, 5, 35},
        {120, 5, 120},  {122, 2, 122}, {28, 8, 28},   {52, 0, 0},   {117, 0, 0},  {118, 0, 0},   {53, 6, 0},
        {55, 6, 2},     {57, 6, 4},    {62, 6, 9},    {68, 6, 15},  {70, 6, 17},  {100, 6, 108}, {107, 6, 115},
        {56, 7, 3},     {64, 7, 11},   {71, 7, 18},   {80, 7, 27},  {93, 7, 43},  {96, 7, 46},   {98, 7, 49},
        {121, 7, 122},  {63, 8, 10},   {65, 8, 12},   {67, 8, 14},  {81, 9, 29},  {86, 9, 36},   {88, 9, 38},
        {89, 9, 39},    {91, 9, 41},   {94, 9, 44},   {82, 10, 30}, {83, 10, 31}, {84, 10, 33},  {85, 10, 34},
        {87, 10, 37},   {90, 10, 40},  {92, 10, 42},  {95, 10, 45}, {97, 10, 47}, {99, 10, 50},  {116, 11, 116},
        {119, 12, 116}, {108, 1, 108}, {115, 1, 115},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(fmt_cat[r.code].category, r.category) << r.code;
        if (r.category != 0) {
            EXPECT_EQ(fmt_cat[r.code].op, r.op) << r.code;
        }
    }
}

TEST(FormatTables, CheckRows) {
    struct Row {
        int op, fields, alt;
    } rows[] = {{3, 1, 0},     {10, 2, 0},    {19, 1, 29}, {24, 1, 37}, {27, 1, 42}, {31, 3, 32},
                {34, 3, 35},   {43, 1, 45},   {47, 3, 48}, {50, 3, 51}, {51, 4, 0},  {120, 4, 0},
                {121, 1, 122}, {122, 1, 122}, {18, 0, 0},  {36, 0, 0},  {1, 0, 0}};
    for (const Row &r : rows) {
        EXPECT_EQ(fmt_check[r.op].fields, r.fields) << r.op;
        EXPECT_EQ(fmt_check[r.op].alt, r.alt) << r.op;
    }
}

TEST(FormatTables, DefaultWidths) {
    struct Int_Row {
        int code, i, b, oz;
    } ints[] = {
        {5, 7, 17, 7},    {8, 7, 17, 7},       {9, 12, 33, 12}, {12, 23, 65, 23}, {13, 12, 33, 12}, {14, 7, 17, 7},
        {17, 23, 65, 23}, {26, 0, 33, 12},     {48, 0, 65, 23}, {50, 0, 129, 44}, {29, 0, 33, 12},  {40, 0, 65, 23},
        {52, 0, 129, 44}, {56, 0, 65535, 255}, {1, 0, 0, 0},    {27, 0, 0, 0},    {63, 0, 0, 0},    {70, 0, 0, 0},
    };
    for (const Int_Row &r : ints) {
        EXPECT_EQ(for__i_fmt_table[r.code], r.i) << r.code;
        EXPECT_EQ(for__b_fmt_table[r.code], r.b) << r.code;
        EXPECT_EQ(for__oz_fmt_table[r.code], r.oz) << r.code;
    }
    struct Real_Row {
        int code;
        For_Fedg_Width w;
    } reals[] = {
        {26, {15, 41, 7, 2}},   {25, {15, 41, 7, 2}},   {29, {15, 41, 7, 2}},    {48, {25, 311, 16, 2}},
        {40, {25, 311, 16, 2}}, {44, {25, 311, 16, 2}}, {50, {42, 4935, 33, 3}}, {52, {42, 4935, 33, 3}},
        {41, {42, 311, 33, 3}}, {49, {42, 311, 33, 3}}, {27, {0, 0, 0, 0}},      {9, {0, 0, 0, 0}},
        {56, {0, 0, 0, 0}},     {51, {0, 0, 0, 0}},
    };
    for (const Real_Row &r : reals) {
        const For_Fedg_Width &t = for__fedg_fmt_table[r.code];
        EXPECT_EQ(t.w, r.w.w) << r.code;
        EXPECT_EQ(t.f0_base, r.w.f0_base) << r.code;
        EXPECT_EQ(t.d, r.w.d) << r.code;
        EXPECT_EQ(t.e, r.w.e) << r.code;
    }
}

}  // namespace
