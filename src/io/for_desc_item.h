// Reading the items of a statement out of its descriptor and value lists.
#pragma once
#include <cstddef>
#include <cstdint>

#include <vorlix/abi.h>

constexpr int for_max_rank = 31;

// One list item as the transfer routines see it.
struct For_Item {
    void *addr;      // first byte of the item (base of a section)
    int64_t length;  // total bytes the item covers (0 for an empty array)
    int type;        // type code
    int form;
    int64_t elem_size;  // element size; for complex, the size of one part
    int64_t elem_len;   // bytes of one whole element (a complex element is two parts)
    uint64_t value;     // the 64-bit value of forms 11 and 12
    void *obj_desc;     // object descriptor of form 12
};

struct For_Dim {
    int64_t upper;
    int64_t lower;
    int64_t stride;  // bytes between consecutive subscripts
};

struct For_Shape {
    int form;
    int rank;
    char *base;
    For_Dim dim[for_max_rank];
};

// Sizes of the type codes: element bytes (-1 variable, -2 special) and the
// number of value slots an inline (form 1) value takes; -3 marks a code that
// is no type at all.
struct For_Dsc_Itm {
    int8_t size;
    int8_t slots;
};
extern const For_Dsc_Itm for__dsc_itm_table[71];

// Bytes of an integer or logical variable by its type code (a record
// number or an answer stored into the program's variable); 0 for any
// other type.
inline int for__int_log_width(int type) {
    switch (type) {
    case FOR_TYPE_INT1:
    case FOR_TYPE_UINT1:
    case FOR_TYPE_LOGICAL1: return 1;
    case FOR_TYPE_INT2:
    case FOR_TYPE_UINT2:
    case FOR_TYPE_LOGICAL2: return 2;
    case FOR_TYPE_INT4:
    case FOR_TYPE_UINT4:
    case FOR_TYPE_LOGICAL4_ALT:
    case FOR_TYPE_LOGICAL4: return 4;
    case FOR_TYPE_INT8:
    case FOR_TYPE_UINT8:
    case FOR_TYPE_LOGICAL8: return 8;
    default: return 0;
    }
}

inline bool for__type_is_complex(int type) {
    switch (type) {
    case 28:
    case 29:
    case 31:
    case 40:
    case 42:
    case 43:
    case 44:
    case 52: return true;
    default: return false;
    }
}

// Reads one item and advances both cursors past it. 0, or 48 for a list
// that cannot be read (null cursor, bad type or form), or 8 for a code
// that no compiler produces (forms 2 and 9, unassigned type codes).
int for__desc_ret_item(const For_Dsc_Lst **dsc, const For_Value_List **val, For_Item *item, For_Shape *shape);

// As for__desc_ret_item, with the common cases (an end marker, a scalar
// of fixed size by address) decided here, so that the walk of a short list
// costs no call.
inline int for__desc_next(const For_Dsc_Lst **dsc, const For_Value_List **val, For_Item *item, For_Shape *shape) {
    const For_Dsc_Lst *d = dsc ? *dsc : nullptr;
    if (d && item && shape) {
        const int type = d[0];
        if (type == FOR_TYPE_END_STMT || type == FOR_TYPE_END_GROUP) {
            item->type = type;
            *dsc = d + 2;
            return 0;
        }
        if (d[1] == FOR_FORM_ADDR && type <= FOR_TYPE_MAX && val && *val && for__dsc_itm_table[type].size > 0 &&
            !for__type_is_complex(type)) {
            const int64_t size = for__dsc_itm_table[type].size;
            const For_Value_List *v = *val;
            *item = For_Item{reinterpret_cast<void *>(v[0]), size, type, FOR_FORM_ADDR, size, size, 0, nullptr};
            shape->form = FOR_FORM_ADDR;
            shape->rank = 0;
            shape->base = nullptr;
            *dsc = d + 2;
            *val = v + 1;
            return 0;
        }
    }
    return for__desc_ret_item(dsc, val, item, shape);
}

// The items of a statement that are all plain bytes in one place each
// (scalars of fixed size, character scalars, contiguous arrays of a
// fixed-size type), up to the end of the statement within this call: the
// shape of most unformatted statements, which can then move them without
// the general item walk.
struct For_Plain_Items {
    static constexpr int most = 8;
    int count = 0;
    uint64_t total = 0;
    struct {
        char *addr;
        uint64_t length;
    } item[most];
};

// False (and nothing read) when the list is not all plain items.
inline bool for__plain_items(const For_Dsc_Lst *d, const For_Value_List *v, For_Plain_Items *out) {
    if (!d) return false;
    int n = 0;
    uint64_t total = 0;
    for (;; d += 2) {
        const int type = d[0];
        if (type == FOR_TYPE_END_STMT) break;
        if (n == For_Plain_Items::most || type > FOR_TYPE_MAX || !v) return false;
        const int64_t size = for__dsc_itm_table[type].size;
        uint64_t len;
        switch (d[1]) {
        case FOR_FORM_ADDR:
            if (size <= 0) return false;
            len = static_cast<uint64_t>(size);
            out->item[n].addr = reinterpret_cast<char *>(v[0]);
            v += 1;
            break;
        case FOR_FORM_CHAR:
            if (type != FOR_TYPE_CHARACTER) return false;
            len = v[0];
            out->item[n].addr = reinterpret_cast<char *>(v[1]);
            v += 2;
            break;
        case FOR_FORM_ARRAY:
            if (size <= 0) return false;
            len = v[0];
            out->item[n].addr = reinterpret_cast<char *>(v[1]);
            v += 2;
            break;
        default: return false;
        }
        if (len > (uint64_t{1} << 40)) return false;  // leave the checks of huge items to the walk
        out->item[n++].length = len;
        total += len;
    }
    out->count = n;
    out->total = total;
    return true;
}

// Reads one control-list keyword item: the item, its keyword code, a pad.
int for__key_desc_ret_item(const For_Dsc_Lst **dsc, const For_Value_List **val, For_Item *item, For_Shape *shape,
                           int *keyword);

// Looks ahead without consuming: 0 when data follows, 2 when the end of the
// group comes first, and at the end of the statement 1 if pending < 2.
// Empty arrays do not count as data.
int for__desc_test_item(const For_Dsc_Lst *dsc, const For_Value_List *val, int pending);

// As the test, but consumes the empty arrays it steps over; returns the
// same answer and leaves the cursors at the first item that counts.
int for__desc_zero_length_item(const For_Dsc_Lst **dsc, const For_Value_List **val, For_Item *item, For_Shape *shape,
                               int pending);

// The value of an integer item of any kind; false for another type.
bool for__item_int(const For_Item &item, int64_t *value);

// Number of elements of an item (1 for a scalar).
int64_t for__item_count(const For_Item &item, const For_Shape &shape);

// Visits the elements of an item in array element order, first subscript
// fastest; stops at the first non-zero status of `fn(char *element)`.
template <class Fn>
int for__each_element(const For_Item &item, const For_Shape &shape, Fn &&fn) {
    char *p = static_cast<char *>(item.addr);
    if (shape.form == FOR_FORM_SECTION || shape.form == FOR_FORM_SECTION_ELEN) {
        if (item.length == 0) return 0;
        int64_t sub[for_max_rank];
        for (int k = 0; k < shape.rank; ++k) sub[k] = shape.dim[k].lower;
        for (;;) {
            if (int s = fn(p)) return s;
            int k = 0;
            for (; k < shape.rank; ++k) {
                if (sub[k] < shape.dim[k].upper) {
                    ++sub[k];
                    p += shape.dim[k].stride;
                    break;
                }
                p -= (sub[k] - shape.dim[k].lower) * shape.dim[k].stride;
                sub[k] = shape.dim[k].lower;
            }
            if (k == shape.rank) return 0;
        }
    }
    int64_t n = for__item_count(item, shape);
    for (int64_t i = 0; i < n; ++i, p += item.elem_len)
        if (int s = fn(p)) return s;
    return 0;
}
