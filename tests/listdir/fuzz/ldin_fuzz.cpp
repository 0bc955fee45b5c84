// libFuzzer target: list-directed READ from an internal file. The first
// bytes choose up to eight items (integers of each kind, reals 4/8/16,
// complex, logical, character, a small integer array), the record length,
// where the list splits into a second transfer call, and DECIMAL='COMMA';
// the rest is the file's text, cut into records. Every item lives in a heap
// block of its own size, so a write outside it is caught, and the records
// in one block of their exact size, so a read past them is.
//
// A failed statement must end with a list-directed input failure (end of
// file, syntax or conversion error, a bad repeat count) and leave alone
// the items it did not reach. Which item failed is found by reading
// shorter prefixes of the list: with the shortest failing prefix of f
// items, the full list must fail alike, keep items f.. untouched and give
// items ..f-2 exactly the values the (successful) f-1 item read gave.
//
// Built with clang (-fsanitize=fuzzer,address,undefined) from the whole
// library.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <vorlix/abi.h>
#include <vorlix/io.h>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

struct Kind {
    unsigned char type, form;
    int64_t size;
};

constexpr Kind kinds[] = {
    {FOR_TYPE_INT1, FOR_FORM_ADDR, 1},       {FOR_TYPE_INT2, FOR_FORM_ADDR, 2},
    {FOR_TYPE_INT4, FOR_FORM_ADDR, 4},       {FOR_TYPE_INT8, FOR_FORM_ADDR, 8},
    {FOR_TYPE_UINT8, FOR_FORM_ADDR, 8},      {FOR_TYPE_REAL4, FOR_FORM_ADDR, 4},
    {FOR_TYPE_REAL8, FOR_FORM_ADDR, 8},      {FOR_TYPE_REAL16, FOR_FORM_ADDR, 16},
    {FOR_TYPE_COMPLEX4, FOR_FORM_ADDR, 8},   {FOR_TYPE_COMPLEX8, FOR_FORM_ADDR, 16},
    {FOR_TYPE_COMPLEX16, FOR_FORM_ADDR, 32}, {FOR_TYPE_LOGICAL1, FOR_FORM_ADDR, 1},
    {FOR_TYPE_LOGICAL4, FOR_FORM_ADDR, 4},   {FOR_TYPE_LOGICAL8, FOR_FORM_ADDR, 8},
    {FOR_TYPE_CHARACTER, FOR_FORM_CHAR, 0},  // length from the choice byte
    {FOR_TYPE_INT4, FOR_FORM_ARRAY, 12},     // INTEGER(4) :: v(3)
};

constexpr unsigned char untouched = 0x5A;
constexpr int allowed[] = {-1, 59, 64, 494, 495};

struct Input {
    std::vector<Kind> items;
    size_t split;  // the second transfer call starts at this item; 0: none
    bool comma;    // DECIMAL='COMMA'
    int64_t record_len;
    const uint8_t *text;
    size_t text_len;
};

struct Outcome {
    int status;
    std::vector<std::vector<unsigned char>> values;
};

// READ (file, *, IOSTAT=, [DECIMAL='COMMA']) items(1:k), as compiled code
// makes it: the entry with the file and the first group, a transfer call
// for the rest when the list splits.
Outcome read_prefix(const Input &in, size_t k) {
    const int64_t len = in.record_len;
    const int64_t records = static_cast<int64_t>((in.text_len + len - 1) / len);
    std::unique_ptr<char[]> file(new char[records ? records * len : 1]);
    std::memset(file.get(), ' ', records * len);
    std::memcpy(file.get(), in.text, in.text_len);

    std::vector<std::unique_ptr<unsigned char[]>> cells;
    std::vector<For_Dsc_Lst> d1, d2;
    std::vector<For_Value_List> v1, v2;
    d1 = {FOR_TYPE_CHARACTER, FOR_FORM_ARRAY_ELEN};
    v1 = {static_cast<uint64_t>(records * len), reinterpret_cast<uintptr_t>(file.get()), static_cast<uint64_t>(len)};
    const bool two = in.split > 0 && in.split < k;
    for (size_t i = 0; i < k; ++i) {
        const Kind &kd = in.items[i];
        cells.emplace_back(new unsigned char[kd.size ? kd.size : 1]);
        std::memset(cells.back().get(), untouched, kd.size);
        auto &d = two && i >= in.split ? d2 : d1;
        auto &v = two && i >= in.split ? v2 : v1;
        d.push_back(kd.type);
        d.push_back(kd.form);
        const uint64_t at = reinterpret_cast<uintptr_t>(cells.back().get());
        if (kd.form == FOR_FORM_ADDR)
            v.push_back(at);
        else
            v.insert(v.end(), {static_cast<uint64_t>(kd.size), at});
    }
    if (two) {
        d1.insert(d1.end(), {FOR_TYPE_END_GROUP, 0});
        d2.insert(d2.end(), {FOR_TYPE_END_STMT, 0});
    } else {
        d1.insert(d1.end(), {FOR_TYPE_END_STMT, 0});
    }
    static const char comma[] = "COMMA";
    const For_Dsc_Lst cdsc[] = {FOR_TYPE_CHARACTER, FOR_FORM_CHAR, FOR_KEY_DECIMAL, 0, FOR_TYPE_END_STMT, 0};
    const For_Value_List cval[] = {5, reinterpret_cast<uintptr_t>(comma)};
    For_IO_Flags flags = iof_f90 | iof_iostat | iof_ext;
    if (in.comma) flags |= iof_keys;
    v2.push_back(0);
    For_Context ctx{};
    Outcome out;
    out.status =
        for_read_int_lis(&ctx, flags, d1.data(), v1.data(), in.comma ? cdsc : nullptr, in.comma ? cval : nullptr);
    if (out.status == 0 && two) out.status = for_read_int_lis_xmit(&ctx, d2.data(), v2.data());
    check(ctx.lub == nullptr);  // the statement has ended, whatever its outcome
    for (size_t i = 0; i < k; ++i) out.values.emplace_back(cells[i].get(), cells[i].get() + in.items[i].size);
    return out;
}

bool is_untouched(const std::vector<unsigned char> &v) {
    for (unsigned char c : v)
        if (c != untouched) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    Input in;
    const size_t n = 1 + (data[0] & 7);
    in.comma = data[0] & 8;
    in.record_len = 1 + data[1] % 80;
    in.split = data[2] % (n + 1);
    if (size < 3 + n) return 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[3 + i];
        Kind k = kinds[b % 16];
        if (k.type == FOR_TYPE_CHARACTER) k.size = 1 + (b >> 4);
        in.items.push_back(k);
    }
    in.text = data + 3 + n;
    in.text_len = size - 3 - n;

    const Outcome full = read_prefix(in, n);
    if (full.status == 0) return 0;
    bool known = false;
    for (int s : allowed) known |= full.status == s;
    check(known);
    size_t f = 1;
    Outcome shorter = read_prefix(in, 0);
    check(shorter.status == 0 || shorter.status == -1);  // no items: at most the end of the file
    for (; f <= n; ++f) {
        Outcome o = read_prefix(in, f);
        if (o.status != 0) {
            check(o.status == full.status);
            break;
        }
        shorter = std::move(o);
    }
    check(f <= n);
    for (size_t i = f; i < n; ++i) check(is_untouched(full.values[i]));
    if (shorter.status == 0)
        for (size_t i = 0; i + 1 < f; ++i) check(full.values[i] == shorter.values[i]);
    return 0;
}
