// The unit table: from unit numbers to unit blocks, and the acquisition and
// release of a unit by a statement.
#pragma once
#include <atomic>
#include <cstdint>

#include "units/for_lub.h"

// One slot of the unit table. Slots 0..105 hold units -6..99 directly;
// slots 106..626 head hash buckets kept in ascending (unsigned) unit order.
struct For_Lub_Slot {
    uint64_t lock_word;  // kept for layout; unused
    std::atomic<For_Lub *> slot_lub;
    std::atomic<uint32_t> slot_busy;  // guards the bucket list and block creation
    uint64_t slot_aux;
};

constexpr int lub_direct_slots = 106;
constexpr int lub_hash_buckets = 521;
constexpr int lub_table_slots = lub_direct_slots + lub_hash_buckets;
extern For_Lub_Slot for__lub_table[lub_table_slots];

// Set once a unit outside the direct slots exists: the exit handler then
// has to walk the buckets too.
extern std::atomic<int> for__l_exit_hand_decl;

// Slot of a unit: u + 6 for -6 <= u <= 99, else its bucket.
int for__lub_slot_index(int unit);

// Acquires `unit` for a statement doing operation `op`. On 0 the block is
// held by the calling thread, stored in *out and in the context's word 1.
// Another thread's statement on the unit makes the caller wait; the same
// thread coming back while it holds the unit gets msg::recursive_io, except
// for an inspection (FOR_OP_INQUIRE), which nests, and a child statement of defined I/O.
int for__acquire_lun(int unit, For_Lub **out, For_Context *ctx, int op);

// Ends the hold that the calling thread's statement has on the unit.
// Releasing a unit the caller does not hold does nothing.
int for__release_lun(int unit);
int for__release_lub(For_Lub *lub);

// Tries to hold a unit for a look by the library itself (FOR_OP_INQUIRE) without
// waiting: null when the unit does not exist or another thread holds it.
For_Lub *for__inspect_lun(int unit);

int for__create_lub(int unit, For_Lub **out);

// Disconnects the unit's block for good: a hashed block is unlinked and
// freed once no waiting thread refers to it; a block of a direct slot is
// reset in place (the preconnected ones to their preconnected state).
// The caller holds the unit; the hold ends here.
int for__deallocate_lub(int unit);

// Iteration over every unit: start with *index == -1; each call returns the
// next unit held by the caller (who releases it) until *index is -1 again.
int for__get_next_lub(For_Lub **lub, int *index, int op);

// NEWUNIT numbers. selector 5 draws from -7..-128, anything else from
// -129..-32768; msg::integer_assignment_overflow when the range is used up
// (the number is then -32769).
int for__get_free_newunit(int *unit, int64_t selector);
void for__release_newunit(int unit);

void for__preconnected_units_create();

// Drops a reference that pins a hashed block (a thread's unit cache); the
// block is freed with the last one.
void for__lub_unpin(For_Lub *lub);

// True for the seven static blocks of the console units.
bool for__is_preconnected_block(const For_Lub *lub);

// Puts a block back to "never connected" while keeping its identity (unit,
// links, holder, the active statement's context); a console unit returns
// to its preconnected state. The caller holds the block.
void for__lub_reset(For_Lub *lub);

// Frees a block's owned storage (record buffer, file name) and nulls it.
void for__lub_free_owned(For_Lub *lub);
