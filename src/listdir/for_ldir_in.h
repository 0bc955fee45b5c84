// List-directed input: the scanning state of one READ (*) statement and
// the transfer that the external and the internal-file entries share, so
// that an internal file reads exactly as an external one.
#pragma once
#include <cstdint>

#include <vorlix/abi.h>

#include "io/for_desc_item.h"
#include "listdir/for_ldir_state.h"

struct For_Lub;

// Prepares the state for a statement on a held unit and positions it at its
// first record. `flags` is the statement's flag word. 0 or a status that
// fails the statement.
int for__ldir_in_begin(For_Lub *lub, For_IO_Flags flags);

// Gives back what the state holds beyond the statement's unit (its copied
// text); the statement's release calls it.
void for__ldir_in_release(For_Ldir_In_State &st);

// The transfer of list-directed input: one value per element of each item.
struct For_Ldir_In {
    int item(For_Lub *lub, const For_Item &item, const For_Shape &shape);
    int finish(For_Lub *lub);
};
