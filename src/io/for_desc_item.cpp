#include "io/for_desc_item.h"

#include <cstring>

#include "diag/for_msgnum.h"

namespace {
constexpr int8_t no = -3;       // not a type code
constexpr int8_t var = -1;      // size comes with the item (character, derived)
constexpr int8_t special = -2;  // items that carry no element

constexpr For_Dsc_Itm make_row(int code) {
    switch (code) {
    case 1:
    case 2: return {0, 0};
    case 5:
    case 6:
    case 14: return {1, 1};
    case 7:
    case 8:
    case 15: return {2, 1};
    case 9:
    case 10:
    case 13:
    case 16:
    case 25:
    case 26: return {4, 1};
    case 11:
    case 12:
    case 17:
    case 28:
    case 29:
    case 31:
    case 45:
    case 46:
    case 48: return {8, 1};
    case 40:
    case 42:
    case 43:
    case 44:
    case 50: return {16, 2};
    case 52: return {32, 4};
    case 56:
    case 63:
    case 64:
    case 65:
    case 66:
    case 67: return {var, 0};
    case 60:
    case 68: return {special, 2};
    case 61:
    case 62:
    case 69:
    case 70: return {special, 0};
    default: return {no, 0};
    }
}

constexpr auto make_table() {
    struct T {
        For_Dsc_Itm r[71];
    } t{};
    for (int i = 0; i < 71; ++i) t.r[i] = make_row(i);
    return t;
}
constexpr auto itm_table = make_table();

// The object descriptor's first byte holds its flags; bit 6 says the item
// has not been read by the frame since defined I/O last handled it.
constexpr unsigned char obj_desc_unread = 0x40;

inline uint64_t take(const For_Value_List *&v) { return *v++; }
}  // namespace

const For_Dsc_Itm for__dsc_itm_table[71] = {
#define R(i) itm_table.r[i]
    R(0),  R(1),  R(2),  R(3),  R(4),  R(5),  R(6),  R(7),  R(8),  R(9),  R(10), R(11), R(12), R(13), R(14),
    R(15), R(16), R(17), R(18), R(19), R(20), R(21), R(22), R(23), R(24), R(25), R(26), R(27), R(28), R(29),
    R(30), R(31), R(32), R(33), R(34), R(35), R(36), R(37), R(38), R(39), R(40), R(41), R(42), R(43), R(44),
    R(45), R(46), R(47), R(48), R(49), R(50), R(51), R(52), R(53), R(54), R(55), R(56), R(57), R(58), R(59),
    R(60), R(61), R(62), R(63), R(64), R(65), R(66), R(67), R(68), R(69), R(70)
#undef R
};

bool for__item_int(const For_Item &item, int64_t *value) {
    const void *p = item.addr;
    if (!p) return false;
    switch (item.type) {
    case FOR_TYPE_INT1: *value = *static_cast<const int8_t *>(p); return true;
    case FOR_TYPE_UINT1: *value = *static_cast<const uint8_t *>(p); return true;
    case FOR_TYPE_INT2: *value = *static_cast<const int16_t *>(p); return true;
    case FOR_TYPE_UINT2: *value = *static_cast<const uint16_t *>(p); return true;
    case FOR_TYPE_INT4: *value = *static_cast<const int32_t *>(p); return true;
    case FOR_TYPE_UINT4: *value = *static_cast<const uint32_t *>(p); return true;
    case FOR_TYPE_INT8:
    case FOR_TYPE_UINT8: std::memcpy(value, p, 8); return true;
    default: return false;
    }
}

int64_t for__item_count(const For_Item &item, const For_Shape &shape) {
    switch (shape.form) {
    case FOR_FORM_ARRAY:
    case FOR_FORM_ARRAY_ELEN: return item.elem_len > 0 ? item.length / item.elem_len : 0;
    case FOR_FORM_SECTION:
    case FOR_FORM_SECTION_ELEN: {
        if (item.length == 0) return 0;
        int64_t n = 1;
        for (int k = 0; k < shape.rank; ++k) n *= shape.dim[k].upper - shape.dim[k].lower + 1;
        return n;
    }
    default: return 1;
    }
}

int for__desc_ret_item(const For_Dsc_Lst **dsc, const For_Value_List **val, For_Item *item, For_Shape *shape) {
    if (!dsc || !*dsc || !item || !shape) return msg::invalid_argument;
    const For_Dsc_Lst *d = *dsc;
    int type = d[0];
    std::memset(item, 0, sizeof *item);
    shape->form = 0;
    shape->rank = 0;
    shape->base = nullptr;
    item->type = type;
    if (type == FOR_TYPE_END_STMT || type == FOR_TYPE_END_GROUP) {
        *dsc = d + 2;
        return 0;
    }
    if (type > FOR_TYPE_MAX) return msg::invalid_argument;
    if (!val || !*val) return msg::invalid_argument;
    For_Dsc_Itm row = for__dsc_itm_table[type];
    if (row.size == no) return msg::internal_error;
    const For_Value_List *v = *val;
    int form = d[1];
    item->form = form;
    shape->form = form;

    if (row.size == special) {
        // Special items carry their slots without a form.
        if (row.slots == 2) {
            item->value = take(v);
            item->addr = reinterpret_cast<void *>(take(v));
        }
        *dsc = d + 2;
        *val = v;
        return 0;
    }

    const int64_t tsize = row.size == var ? 0 : row.size;
    const bool cplx = for__type_is_complex(type);
    int64_t elen = tsize;  // bytes of one element
    switch (form) {
    case FOR_FORM_VALUE:
        item->addr = const_cast<For_Value_List *>(v);
        item->length = tsize;
        v += row.slots;
        break;
    case FOR_FORM_ADDR:
    case FOR_FORM_ADDR_ALT:
        item->addr = reinterpret_cast<void *>(take(v));
        item->length = tsize;
        break;
    case FOR_FORM_CHAR:
        item->length = static_cast<int64_t>(take(v));
        item->addr = reinterpret_cast<void *>(take(v));
        elen = item->length;
        break;
    case FOR_FORM_ARRAY:
        item->length = static_cast<int64_t>(take(v));
        item->addr = reinterpret_cast<void *>(take(v));
        if (tsize == 0 && item->length != 0) return msg::invalid_argument;  // no element size to step by
        break;
    case FOR_FORM_ARRAY_ELEN:
        item->length = static_cast<int64_t>(take(v));
        item->addr = reinterpret_cast<void *>(take(v));
        elen = static_cast<int64_t>(take(v));
        break;
    case FOR_FORM_SECTION:
    case FOR_FORM_SECTION_ELEN: {
        int64_t rank = static_cast<int64_t>(take(v));
        if (rank < 1 || rank > for_max_rank) return msg::invalid_argument;
        shape->rank = static_cast<int>(rank);
        shape->base = reinterpret_cast<char *>(take(v));
        if (form == FOR_FORM_SECTION_ELEN) elen = static_cast<int64_t>(take(v));
        if (form == FOR_FORM_SECTION && tsize == 0) return msg::invalid_argument;
        int64_t count = 1;
        for (int k = 0; k < shape->rank; ++k) {
            For_Dim &dm = shape->dim[k];
            dm.lower = static_cast<int64_t>(take(v));
            dm.upper = static_cast<int64_t>(take(v));
            dm.stride = static_cast<int64_t>(take(v));
            int64_t extent = dm.upper >= dm.lower ? dm.upper - dm.lower + 1 : 0;
            if (__builtin_mul_overflow(count, extent, &count)) return msg::invalid_argument;
        }
        item->addr = shape->base;
        int64_t unit = elen < 2 ? 1 : elen;
        if (__builtin_mul_overflow(count, unit, &item->length)) return msg::invalid_argument;
        break;
    }
    case FOR_FORM_VALUE_ADDR:
        item->value = take(v);
        item->addr = reinterpret_cast<void *>(take(v));
        item->length = tsize;
        break;
    case FOR_FORM_OBJ_DESC: {
        item->value = take(v);
        item->obj_desc = reinterpret_cast<void *>(take(v));
        item->addr = item->obj_desc;
        if (item->obj_desc) *static_cast<unsigned char *>(item->obj_desc) &= ~obj_desc_unread;
        break;
    }
    case 2:
    case 9: return msg::internal_error;
    default: return msg::invalid_argument;
    }
    item->elem_len = elen;
    item->elem_size = cplx ? elen / 2 : elen;
    *dsc = d + 2;
    *val = v;
    return 0;
}

int for__key_desc_ret_item(const For_Dsc_Lst **dsc, const For_Value_List **val, For_Item *item, For_Shape *shape,
                           int *keyword) {
    int s = for__desc_ret_item(dsc, val, item, shape);
    if (s != 0) return s;
    if (item->type == FOR_TYPE_END_STMT || item->type == FOR_TYPE_END_GROUP) {
        *keyword = 0;
        return 0;
    }
    *keyword = static_cast<signed char>((*dsc)[0]);
    *dsc += 2;
    return 0;
}

namespace {
bool is_empty_array(const For_Item &it) { return it.form >= FOR_FORM_ARRAY && it.form <= 9 && it.length == 0; }
}  // namespace

int for__desc_zero_length_item(const For_Dsc_Lst **dsc, const For_Value_List **val, For_Item *item, For_Shape *shape,
                               int pending) {
    for (;;) {
        const For_Dsc_Lst *d = *dsc;
        const For_Value_List *v = *val;
        if (for__desc_ret_item(&d, &v, item, shape) != 0) return 1;
        if (item->type == FOR_TYPE_END_GROUP) return 2;
        if (item->type == FOR_TYPE_END_STMT) return pending < 2 ? 1 : 0;
        if (!is_empty_array(*item)) return 0;
        *dsc = d;
        *val = v;
    }
}

int for__desc_test_item(const For_Dsc_Lst *dsc, const For_Value_List *val, int pending) {
    For_Item item;
    For_Shape shape;
    return for__desc_zero_length_item(&dsc, &val, &item, &shape, pending);
}
