// One data item as editing sees it: where it is, its type code (the item
// codes of the descriptor list) and its length in bytes, which matters for
// CHARACTER items and for bit-pattern editing of them.
#pragma once
#include <cstdint>

struct For_Value_Info {
    void *address;
    int32_t type;
    int64_t length;
};
