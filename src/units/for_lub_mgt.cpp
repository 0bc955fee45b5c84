#include "units/for_lub_mgt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "io/for_stmt.h"
#include "io/for_tty_pair.h"
#include "runtime/for_exit_handler.h"
#include "runtime/for_threadstor.h"
#include "runtime/for_vm.h"
#include "units/for_lub_lock.h"

For_Lub_Slot for__lub_table[lub_table_slots];
std::atomic<int> for__l_exit_hand_decl{0};

namespace {

// The seven preconnected blocks are static and never freed.
For_Lub lub_read, lub_accept, lub_type, lub_print, lub_stderr, lub_read_5, lub_print_6;
std::atomic<bool> preconnected_ready{false};
std::mutex preconnected_mutex;

}  // namespace

bool for__is_preconnected_block(const For_Lub *b) {
    return b == &lub_read || b == &lub_accept || b == &lub_type || b == &lub_print || b == &lub_stderr ||
           b == &lub_read_5 || b == &lub_print_6;
}

namespace {

// Computed unsigned: unit + 6 of the largest unit numbers would overflow
// an int, and a compiler may then take them for direct slots.
uint32_t encoded(int unit) { return unit >= -6 ? static_cast<uint32_t>(unit) + 6u : static_cast<uint32_t>(unit); }

// Slot guard: held for a few loads and stores, never across a wait.
class Slot_Guard {
  public:
    explicit Slot_Guard(For_Lub_Slot &s) : s_(s) {
        while (s_.slot_busy.exchange(1, std::memory_order_acquire) != 0) {
            while (s_.slot_busy.load(std::memory_order_relaxed) != 0) __builtin_ia32_pause();
        }
    }
    ~Slot_Guard() { unlock(); }
    void unlock() {
        if (locked_) {
            s_.slot_aux = 0;
            s_.slot_busy.store(0, std::memory_order_release);
            locked_ = false;
        }
    }
    Slot_Guard(const Slot_Guard &) = delete;
    Slot_Guard &operator=(const Slot_Guard &) = delete;

  private:
    For_Lub_Slot &s_;
    bool locked_ = true;
};

For_Lub *new_block(int unit) {
    void *p = nullptr;
    if (for__get_vm(sizeof(For_Lub), 0, &p) != 0) return nullptr;
    std::memset(p, 0, sizeof(For_Lub));
    For_Lub *b = new (p) For_Lub;  // zeroed just above: no second pass
    b->lub_unit = unit;
    b->lub_unit_copy = unit;
    b->lub_fd = -1;
    return b;
}

void free_block(For_Lub *b) {
    for__lub_free_owned(b);
    b->~For_Lub();
    for__free_vm(b);
}

void drop_ref(For_Lub *b) {
    if (b->lub_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) free_block(b);
}

void attach(For_Lub *b, For_Context *ctx) {
    b->lub_ctx = ctx;
    if (ctx) ctx->lub = b;
}

void detach(For_Lub *b) {
    if (b->lub_ctx) {
        b->lub_ctx->lub = nullptr;
        b->lub_ctx = nullptr;
    }
}

enum class Hold { taken, nested, child, recursive };

// Takes a block that the caller does not hold yet, or tells how the caller
// already holds it. Only `taken` means the lock was acquired here.
Hold try_hold(For_Lub *b, int op, uint32_t me, bool *must_wait) {
    *must_wait = false;
    if (lub_lock::try_take(b->lub_owner_thread, me)) return Hold::taken;
    if (lub_lock::owner(b->lub_owner_thread) == me) {
        if (b->lub_udio_depth != 0) return Hold::child;
        if (op == FOR_OP_INQUIRE) return Hold::nested;
        return Hold::recursive;
    }
    *must_wait = true;
    return Hold::taken;
}

// What a statement owes to a unit that existed before it: a prompt left
// open on the unit's file (a terminal) by another unit is written out
// before the statement can wait for input or move the line.
int process_existing_lub(For_Lub *b, int op) {
    For_Tty_Pair *pair = b->lub_tty_pair;
    if (!pair) return 0;
    if (!(b->lub_flags & lubf::formatted) || !pair->prompt_pending || b->lub_udio_depth != 0) {
        pair->prompt_pending = 0;
        return 0;
    }
    if (op == FOR_OP_OPEN) op = FOR_OP_FDOPEN;  // as lub_op records it
    switch (op) {
    case FOR_OP_READ:
    case FOR_OP_READ_LIS:
    case FOR_OP_READ_NML:
    case FOR_OP_WRITE:
    case FOR_OP_FDOPEN:
    case FOR_OP_CLOSE:
    case FOR_OP_REWIND:
    case FOR_OP_BACKSPACE:
    case FOR_OP_ENDFILE:
    case FOR_OP_EOF:
    case FOR_OP_DELETE:
    case FOR_OP_DEFINE_FILE:
    case FOR_OP_FIND:
    case FOR_OP_RESERVED_READ_PROMPT_32:
    case FOR_OP_GETC:
    case FOR_OP_PAUSE:
    case FOR_OP_RESERVED_PROMPT_38:
    case FOR_OP_REWRITE:
    case FOR_OP_FSEEK:
    case FOR_OP_RESERVED_PROMPT_41:
    case FOR_OP_STOP:
    case FOR_OP_FTELL:
    case FOR_OP_UNLOCK: return for__tty_write_pending(b, op);
    case FOR_OP_WRITE_SEQ:
        // A WRITE on the prompting unit itself continues its open record.
        if (pair->saved_lub == b) return 0;
        if (!pair->saved_lub) {
            for__issue_diagnostic(msg::internal_error, 2, "for_lub_mgt", __LINE__);
            return msg::internal_error;
        }
        return for__tty_write_pending(b, op);
    case FOR_OP_INQUIRE:
    case FOR_OP_WAIT:
    case FOR_OP_FLUSH: return 0;
    case FOR_OP_GERROR:
    case FOR_OP_RESERVED_READ_NO_PROMPT_34:
    case FOR_OP_RESERVED_NO_PROMPT_35:
    case FOR_OP_RESERVED_NO_PROMPT_37:
    case FOR_OP_RESERVED_NO_PROMPT_44: pair->prompt_pending = 0; return 0;
    default: for__issue_diagnostic(msg::internal_error, 2, "for_lub_mgt", __LINE__); return msg::internal_error;
    }
}

// The common end of every successful acquisition of a held block; inlined,
// so that each caller keeps only the branches of its own kind of hold.
[[gnu::always_inline]] inline int finish_acquire(For_Lub *b, For_Lub **out, For_Context *ctx, int op, Hold how,
                                                 bool existed) {
    *out = b;
    if (how == Hold::nested) {
        // An inspection inside the holder's own statement: the statement's
        // context and operation stay those of the holder.
        ++b->lub_nested;
        b->lub_stmt_flags |= lubs::nested;
        if (ctx) ctx->lub = b;
        return 0;
    }
    if (how == Hold::child) {
        if (ctx) ctx->lub = b;
        return 0;
    }
    b->lub_busy |= 1;
    b->lub_stmt_flags |= lubs::held;
    attach(b, ctx);
    if (op == FOR_OP_REWIND)
        b->lub_stmt_flags |= lubs::rewind_note;
    else if (op != FOR_OP_INQUIRE && op != FOR_OP_WAIT && op != FOR_OP_EOF)
        b->lub_stmt_flags &= ~lubs::rewind_note;
    b->lub_op = static_cast<uint8_t>(op == FOR_OP_OPEN ? FOR_OP_FDOPEN : op);
    if (existed && b->lub_tty_pair) {
        int s = process_existing_lub(b, op);
        if (s != 0) {
            for__release_lub(b);
            *out = nullptr;
            return s;
        }
    }
    return 0;
}

int hold_status(Hold how) { return how == Hold::recursive ? msg::recursive_io : 0; }

void ensure_preconnected() {
    if (!preconnected_ready.load(std::memory_order_acquire)) for__preconnected_units_create();
}

int acquire_internal(For_Lub **out, For_Context *ctx, int op) {
    For_Thread_Storage &ts = for__thread_storage();
    For_Lub *b = ts.ifile_spare;
    if (b) {
        ts.ifile_spare = nullptr;
        b->~For_Lub();
        std::memset(static_cast<void *>(b), 0, sizeof(For_Lub));
        b = new (b) For_Lub;  // zeroed just above: no second pass
        b->lub_unit = FOR_UNIT_INTERNAL;
        b->lub_unit_copy = FOR_UNIT_INTERNAL;
        b->lub_fd = -1;
    } else {
        b = new_block(FOR_UNIT_INTERNAL);
        if (!b) return msg::no_memory;
    }
    lub_lock::try_take(b->lub_owner_thread, for__thread_id());
    b->lub_busy |= 1;
    b->lub_stmt_flags |= lubs::held;
    b->lub_thread_next = ts.ifile_top;
    ts.ifile_top = b;
    b->lub_op = static_cast<uint8_t>(op);
    attach(b, ctx);
    *out = b;
    return 0;
}

int acquire_direct(int unit, For_Lub **out, For_Context *ctx, int op, uint32_t me) {
    For_Lub_Slot &slot = for__lub_table[unit + 6];
    For_Lub *b = slot.slot_lub.load(std::memory_order_acquire);
    bool existed = b != nullptr;
    if (!b) {
        Slot_Guard g(slot);
        b = slot.slot_lub.load(std::memory_order_relaxed);
        existed = b != nullptr;
        if (!b) {
            b = new_block(unit);
            if (!b) return msg::no_memory;
            slot.slot_lub.store(b, std::memory_order_release);
        }
    }
    // A block in a direct slot is never freed, so it can be waited on
    // without a reference: CLOSE resets it in place.
    bool wait;
    Hold how = try_hold(b, op, me, &wait);
    if (wait) lub_lock::take_slow(b->lub_owner_thread, me);
    if (int s = hold_status(how)) return s;
    return finish_acquire(b, out, ctx, op, how, existed);
}

// Finds `unit` in its bucket; the caller holds the bucket's guard.
For_Lub *find_in_bucket(For_Lub_Slot &slot, int unit, For_Lub **pred) {
    uint32_t key = encoded(unit);
    For_Lub *prev = nullptr;
    for (For_Lub *b = slot.slot_lub.load(std::memory_order_relaxed); b; b = b->lub_hash_next) {
        uint32_t k = encoded(b->lub_unit);
        if (k == key) {
            if (pred) *pred = prev;
            return b;
        }
        if (k > key) break;
        prev = b;
    }
    if (pred) *pred = prev;
    return nullptr;
}

// Sleeps until the caller holds a hashed block that another thread holds.
// The block is pinned while the bucket guard is dropped, since CLOSE may
// unlink it meanwhile; false when it was closed (the caller starts over).
bool wait_pinned(For_Lub *b, Slot_Guard &g, uint32_t me) {
    b->lub_refs.fetch_add(1, std::memory_order_relaxed);
    g.unlock();
    lub_lock::take_slow(b->lub_owner_thread, me);
    if (b->lub_stmt_flags & lubs::deallocating) {
        lub_lock::give(b->lub_owner_thread);
        drop_ref(b);
        return false;
    }
    b->lub_refs.fetch_sub(1, std::memory_order_relaxed);
    return true;
}

// The thread's cache of hashed blocks. A cached block is pinned by a
// reference, so it stays valid memory after another thread closes the
// unit; its unit number never changes. Holding it is then one
// compare-and-swap, without the bucket guard; a block found closed once
// held is given back and forgotten.
For_Lub *cached_block(For_Thread_Storage &ts, int unit) {
    for (const auto &c : ts.unit_cache)
        if (c.lub && c.unit == unit) return c.lub;
    return nullptr;
}

void forget_cached(For_Thread_Storage &ts, For_Lub *b) {
    for (auto &c : ts.unit_cache)
        if (c.lub == b) {
            c.lub = nullptr;
            drop_ref(b);
        }
}

// Called while the caller holds `b`, which is therefore not closed.
void cache_block(For_Thread_Storage &ts, For_Lub *b, int unit) {
    if (cached_block(ts, unit)) return;
    for__thread_storage_owns(ts);
    b->lub_refs.fetch_add(1, std::memory_order_relaxed);
    auto &c = ts.unit_cache[ts.unit_cache_next++ % for_unit_cache_size];
    if (c.lub) drop_ref(c.lub);
    c = {b, unit};
}

int acquire_hashed(int unit, For_Lub **out, For_Context *ctx, int op, uint32_t me, bool newunit_ok) {
    For_Thread_Storage &ts = for__thread_storage();
    For_Lub_Slot &slot = for__lub_table[for__lub_slot_index(unit)];
    for (;;) {
        Slot_Guard g(slot);
        For_Lub *pred = nullptr;
        For_Lub *b = find_in_bucket(slot, unit, &pred);
        if (b) {
            bool wait;
            Hold how = try_hold(b, op, me, &wait);
            if (!wait) {
                if (how == Hold::taken) cache_block(ts, b, unit);
                g.unlock();
                if (int s = hold_status(how)) return s;
                return finish_acquire(b, out, ctx, op, how, true);
            }
            // Closed while we waited: start over, as on a fresh unit.
            if (!wait_pinned(b, g, me)) continue;
            cache_block(ts, b, unit);
            return finish_acquire(b, out, ctx, op, Hold::taken, true);
        }
        if (unit < -6 && !newunit_ok) return msg::invalid_unit;
        b = new_block(unit);
        if (!b) return msg::no_memory;
        b->lub_refs.store(1, std::memory_order_relaxed);  // the bucket's reference
        lub_lock::try_take(b->lub_owner_thread, me);
        if (pred) {
            b->lub_hash_next = pred->lub_hash_next;
            pred->lub_hash_next = b;
        } else {
            b->lub_hash_next = slot.slot_lub.load(std::memory_order_relaxed);
            slot.slot_lub.store(b, std::memory_order_release);
        }
        cache_block(ts, b, unit);
        g.unlock();
        for__l_exit_hand_decl.store(1, std::memory_order_relaxed);
        return finish_acquire(b, out, ctx, op, Hold::taken, false);
    }
}

int release_internal(For_Lub *top) {
    For_Thread_Storage &ts = for__thread_storage();
    if (!top || top->lub_udio_depth != 0) return 0;
    // Internal files nest strictly (a function called from an I/O list may
    // write to another one), so the block released is the innermost.
    ts.ifile_top = top->lub_thread_next;
    detach(top);
    for__stmt_release(top);
    for__lub_free_owned(top);
    lub_lock::give(top->lub_owner_thread);
    if (!ts.ifile_spare) {
        for__thread_storage_owns(ts);
        ts.ifile_spare = top;
    } else {
        free_block(top);
    }
    return 0;
}

}  // namespace

void for__lub_reset(For_Lub *b) {
    for__lub_free_owned(b);
    // What ties the block to its unit, its holder and its statement stays.
    const int unit = b->lub_unit;
    const uint64_t held = b->lub_stmt_flags & lubs::held;
    const uint8_t busy = b->lub_busy;
    For_Aio_Hold *aio = b->lub_aio;  // the asynchronous block outlives connections
    For_Lub *hash_next = b->lub_hash_next, *thread_next = b->lub_thread_next;
    For_Context *ctx = b->lub_ctx;
    std::memset(reinterpret_cast<char *>(b) + lub_reset_from, 0, sizeof(For_Lub) - lub_reset_from);
    b->lub_aio = aio;
    b->lub_hash_next = hash_next;
    b->lub_thread_next = thread_next;
    b->lub_ctx = ctx;
    b->lub_unit = unit;
    b->lub_unit_copy = unit;
    b->lub_busy = busy;
    b->lub_stmt_flags = held;
    b->lub_fd = -1;
    if (for__is_preconnected_block(b)) b->lub_flags = lubf::preconnected;
}

void for__lub_unpin(For_Lub *lub) { drop_ref(lub); }

int for__lub_slot_index(int unit) {
    uint32_t i = encoded(unit);
    if (i < lub_direct_slots) return static_cast<int>(i);
    return static_cast<int>(i % lub_hash_buckets) + lub_direct_slots;
}

void for__lub_free_owned(For_Lub *b) {
    for__free_vm(b->lub_buf);
    b->lub_buf = nullptr;
    b->lub_buf_ptr = b->lub_buf_limit = b->lub_rec_start = nullptr;
    for__free_vm(b->lub_file_name);
    b->lub_file_name = nullptr;
    b->lub_file_name_len = 0;
}

int for__create_lub(int unit, For_Lub **out) {
    For_Lub *b = new_block(unit);
    if (!b) return msg::no_memory;
    *out = b;
    return 0;
}

namespace {
// Every acquisition the common case below does not settle.
[[gnu::noinline]] int acquire_any(int unit, For_Lub **out, For_Context *ctx, int op) {
    bool newunit_ok = op == FOR_OP_OPEN_NEWUNIT || op == FOR_OP_FDOPEN_NEWUNIT;
    if (op == FOR_OP_OPEN_NEWUNIT) op = FOR_OP_OPEN;
    if (op == FOR_OP_FDOPEN_NEWUNIT) op = FOR_OP_FDOPEN;
    ensure_preconnected();

    if (unit == FOR_UNIT_INTERNAL_TOP) {
        For_Lub *top = for__thread_storage().ifile_top;
        if (!top) return msg::invalid_unit;
        if (top->lub_udio_depth != 0) {
            // A child statement works inside its parent's: the unit keeps
            // the parent's context, which the parent's release clears.
            if (ctx) ctx->lub = top;
            *out = top;
            return 0;
        }
        return acquire_internal(out, ctx, op);
    }
    if (unit == FOR_UNIT_INTERNAL) return acquire_internal(out, ctx, op);

    uint32_t me = for__thread_id();
    if (encoded(unit) < lub_direct_slots) return acquire_direct(unit, out, ctx, op, me);
    return acquire_hashed(unit, out, ctx, op, me, newunit_ok);
}
}  // namespace

namespace {
// A statement that begins while another thread ends the process (or shuts
// the library down) waits for that ending instead of finding its units
// closed under it. The check comes after the unit is taken: the ending
// sets its mark before it walks the units, so a thread either sees the mark
// here or holds its unit before the walk reaches it, and the walk waits for
// it. A thread that holds other units is inside a statement (a child or a
// nested one) and is let finish, so that its record is written whole.
[[gnu::noinline]] void stop_if_ending_elsewhere(For_Lub *b) {
    const uint32_t ending = for__ending_thread();
    if (ending == 0 || ending == for__thread_id() || lub_lock::held_by_me != 1 || b->lub_nested != 0 ||
        b->lub_udio_depth != 0 || b->lub_unit == FOR_UNIT_INTERNAL)
        return;
    for__release_lub(b);
    for__wait_for_the_ending();
}

int acquire_lun(int unit, For_Lub **out, For_Context *ctx, int op);
}  // namespace

int for__acquire_lun(int unit, For_Lub **out, For_Context *ctx, int op) {
    const int s = acquire_lun(unit, out, ctx, op);
    if (s == 0 && for__ending_thread() != 0) [[unlikely]]
        stop_if_ending_elsewhere(*out);
    return s;
}

namespace {
int acquire_lun(int unit, For_Lub **out, For_Context *ctx, int op) {
    if (!out) return msg::internal_error;
    *out = nullptr;
    // The common case, kept small: an existing external unit of a direct
    // slot, or one in this thread's cache, that nobody holds. A cached
    // block found closed once held is given back and forgotten.
    if (unit != FOR_UNIT_INTERNAL && unit != FOR_UNIT_INTERNAL_TOP && op != FOR_OP_OPEN_NEWUNIT &&
        op != FOR_OP_FDOPEN_NEWUNIT && preconnected_ready.load(std::memory_order_acquire)) {
        const bool direct = encoded(unit) < lub_direct_slots;
        For_Thread_Storage &ts = for__thread_storage();
        For_Lub *b =
            direct ? for__lub_table[unit + 6].slot_lub.load(std::memory_order_acquire) : cached_block(ts, unit);
        if (b && lub_lock::try_take(b->lub_owner_thread, for__thread_id())) {
            if (direct || !(b->lub_stmt_flags & lubs::deallocating))
                return finish_acquire(b, out, ctx, op, Hold::taken, true);
            lub_lock::give(b->lub_owner_thread);
            forget_cached(ts, b);
        }
    }
    return acquire_any(unit, out, ctx, op);
}
}  // namespace

int for__release_lub(For_Lub *b) {
    if (!b) return 0;
    if (b->lub_unit == FOR_UNIT_INTERNAL) {
        if (b != for__thread_storage().ifile_top) return 0;
        return release_internal(b);
    }
    if (lub_lock::owner(b->lub_owner_thread) != for__thread_id()) return 0;
    if (b->lub_nested != 0) {
        if (--b->lub_nested == 0) b->lub_stmt_flags &= ~lubs::nested;
        return 0;
    }
    if (b->lub_udio_depth != 0) return 0;  // a child ends; the parent keeps the unit
    detach(b);
    for__stmt_release(b);
    b->lub_busy &= ~1;
    b->lub_stmt_flags &= ~lubs::held;
    lub_lock::give(b->lub_owner_thread);
    return 0;
}

namespace {
// The block of `unit` if it exists, without holding anything.
For_Lub *lookup(int unit) {
    if (unit == FOR_UNIT_INTERNAL || unit == FOR_UNIT_INTERNAL_TOP) return for__thread_storage().ifile_top;
    int i = for__lub_slot_index(unit);
    if (i < lub_direct_slots) return for__lub_table[i].slot_lub.load(std::memory_order_acquire);
    Slot_Guard g(for__lub_table[i]);
    return find_in_bucket(for__lub_table[i], unit, nullptr);
}
}  // namespace

int for__release_lun(int unit) {
    // Only the holder may release, and a held block cannot be freed under
    // its holder, so the unlocked lookup is safe for the caller that counts.
    return for__release_lub(lookup(unit));
}

For_Lub *for__inspect_lun(int unit) {
    ensure_preconnected();
    uint32_t me = for__thread_id();
    int i = for__lub_slot_index(unit);
    if (unit == FOR_UNIT_INTERNAL || unit == FOR_UNIT_INTERNAL_TOP) return nullptr;
    For_Lub_Slot &slot = for__lub_table[i];
    Slot_Guard g(slot);
    For_Lub *b =
        i < lub_direct_slots ? slot.slot_lub.load(std::memory_order_relaxed) : find_in_bucket(slot, unit, nullptr);
    if (!b) return nullptr;
    bool wait;
    Hold how = try_hold(b, FOR_OP_INQUIRE, me, &wait);
    if (wait) return nullptr;
    For_Lub *out = nullptr;
    finish_acquire(b, &out, nullptr, FOR_OP_INQUIRE, how, false);
    return out;
}

int for__deallocate_lub(int unit) {
    if (unit == FOR_UNIT_INTERNAL) return release_internal(for__thread_storage().ifile_top);
    uint32_t me = for__thread_id();
    int i = for__lub_slot_index(unit);
    For_Lub_Slot &slot = for__lub_table[i];
    if (i < lub_direct_slots) {
        For_Lub *b = slot.slot_lub.load(std::memory_order_acquire);
        if (!b || lub_lock::owner(b->lub_owner_thread) != me) return 0;
        if (b->lub_nested != 0) return for__release_lub(b);
        detach(b);
        for__lub_reset(b);
        if (for__is_preconnected_block(b)) b->lub_stmt_flags |= lubs::reset_by_close;
        b->lub_busy = 0;
        b->lub_stmt_flags &= ~lubs::held;
        lub_lock::give(b->lub_owner_thread);
        return 0;
    }
    For_Lub *b;
    {
        Slot_Guard g(slot);
        For_Lub *pred = nullptr;
        b = find_in_bucket(slot, unit, &pred);
        if (!b || lub_lock::owner(b->lub_owner_thread) != me) return 0;
        if (b->lub_nested != 0) {
            g.unlock();
            return for__release_lub(b);
        }
        b->lub_stmt_flags |= lubs::deallocating;
        if (pred)
            pred->lub_hash_next = b->lub_hash_next;
        else
            slot.slot_lub.store(b->lub_hash_next, std::memory_order_release);
    }
    detach(b);
    lub_lock::give(b->lub_owner_thread);
    drop_ref(b);
    return 0;
}

int for__get_next_lub(For_Lub **lub, int *index, int op) {
    uint32_t me = for__thread_id();
    ensure_preconnected();
    int start = *index;
    *lub = nullptr;
    // Direct slots first, by slot number. A hashed position is an encoded
    // unit number, negative for NEWUNIT numbers, so compare unsigned.
    if (start == -1 || static_cast<uint32_t>(start) < lub_direct_slots) {
        for (int s = start + 1; s < lub_direct_slots; ++s) {
            For_Lub *b = for__lub_table[s].slot_lub.load(std::memory_order_acquire);
            if (!b) continue;
            bool wait;
            Hold how = try_hold(b, FOR_OP_INQUIRE, me, &wait);
            if (wait) {
                lub_lock::take_slow(b->lub_owner_thread, me);
                how = Hold::taken;
            }
            if (how == Hold::recursive) how = Hold::nested;
            *index = s;
            return finish_acquire(b, lub, nullptr, op, how, true);
        }
        start = -1;  // continue with the buckets from their beginning
    }
    // Then the buckets, resuming after the unit number of the last call:
    // a pointer to the last block could name one freed meanwhile.
    bool resume = start != -1;
    uint32_t last = static_cast<uint32_t>(start);
    int first_bucket = resume ? static_cast<int>(last % lub_hash_buckets) + lub_direct_slots : lub_direct_slots;
    for (int s = first_bucket; s < lub_table_slots; ++s) {
        For_Lub_Slot &slot = for__lub_table[s];
        for (;;) {
            Slot_Guard g(slot);
            For_Lub *b = slot.slot_lub.load(std::memory_order_relaxed);
            while (b && resume && s == first_bucket && encoded(b->lub_unit) <= last) b = b->lub_hash_next;
            if (!b) break;
            bool wait;
            Hold how = try_hold(b, FOR_OP_INQUIRE, me, &wait);
            if (wait) {
                if (!wait_pinned(b, g, me)) continue;  // look again in this bucket
                how = Hold::taken;
            } else {
                g.unlock();
            }
            if (how == Hold::recursive) how = Hold::nested;
            *index = static_cast<int>(encoded(b->lub_unit));
            return finish_acquire(b, lub, nullptr, op, how, true);
        }
    }
    *index = -1;
    return 0;
}

void for__preconnected_units_create() {
    std::lock_guard<std::mutex> lk(preconnected_mutex);
    if (preconnected_ready.load(std::memory_order_relaxed)) return;
    struct Pre {
        For_Lub *b;
        int unit;
    };
    const Pre order[] = {{&lub_read, -4},  {&lub_accept, -3}, {&lub_print, -1}, {&lub_type, -2},
                         {&lub_stderr, 0}, {&lub_read_5, 5},  {&lub_print_6, 6}};
    for (const Pre &p : order) {
        For_Lub *b = p.b;
        b->lub_unit = p.unit;
        b->lub_unit_copy = p.unit;
        b->lub_fd = -1;
        b->lub_flags = lubf::preconnected;
        if (p.unit >= 0) {
            char name[16];
            std::snprintf(name, sizeof name, "FORT%d", p.unit);
            // Set even to an empty value: the unit will be opened on that name.
            if (std::getenv(name)) b->lub_flags = lubf::preconnected_env;
        }
        for__lub_table[p.unit + 6].slot_lub.store(b, std::memory_order_release);
    }
    preconnected_ready.store(true, std::memory_order_release);
}

// NEWUNIT numbers ------------------------------------------------------------

namespace {
std::mutex newunit_mutex;
uint32_t *newunit_map;  // 1024 words; bit 31 of word i stands for -(32 i) - 1
}  // namespace

int for__get_free_newunit(int *unit, int64_t selector) {
    std::lock_guard<std::mutex> lk(newunit_mutex);
    if (!newunit_map) {
        void *p = nullptr;
        if (int s = for__get_vm(1024 * sizeof(uint32_t), 0, &p)) return s;
        std::memset(p, 0, 1024 * sizeof(uint32_t));
        newunit_map = static_cast<uint32_t *>(p);
        newunit_map[0] = 0xfc000000u;  // -1 to -6 are reserved unit numbers
    }
    int first = selector == 5 ? 0 : 4;
    int last = selector == 5 ? 4 : 1024;
    for (int i = first; i < last; ++i) {
        uint32_t w = newunit_map[i];
        if (w == 0xffffffffu) continue;
        int j = __builtin_clz(~w);
        newunit_map[i] = w | (0x80000000u >> j);
        *unit = -(32 * i + j) - 1;
        return 0;
    }
    *unit = -32769;
    return msg::integer_assignment_overflow;
}

void for__release_newunit(int unit) {
    if (unit > -7 || unit < -32768) return;
    std::lock_guard<std::mutex> lk(newunit_mutex);
    if (!newunit_map) return;
    int n = -unit - 1;
    newunit_map[n / 32] &= ~(0x80000000u >> (n % 32));
}
