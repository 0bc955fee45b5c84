// The table of files connected to formatted units, and the terminal
// pairing kept in its entries: a prompt that an output unit leaves open on
// a terminal is written out before a read of that terminal, so the program's
// question and the user's answer share one line.
#include "io/for_tty_pair.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <unistd.h>

#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "io/for_stmt.h"
#include "runtime/for_threadstor.h"
#include "runtime/for_vm.h"
#include "units/for_lub_lock.h"
#include "units/for_lub.h"

For_Tty_Pair *for__file_info_hash_table[for_file_info_buckets];

int for__file_info_hash(const char *name, uint64_t len) {
    auto load = [&](uint64_t at, uint64_t n) {
        uint64_t w = 0;
        std::memcpy(&w, name + at, static_cast<size_t>(n));
        return w;
    };
    uint64_t h;
    if (len <= 8)
        h = load(0, len);
    else if (len <= 16)
        h = load(0, 8) ^ load(len - 8, 8);
    else
        h = load(len - 16 < 8 ? len - 16 : 8, 8) ^ load(len - 8, 8);
    int32_t folded = static_cast<int32_t>(static_cast<uint32_t>(h) ^ static_cast<uint32_t>(h >> 32));
    int r = folded % for_file_info_buckets;
    return r < 0 ? -r : r;
}

namespace {
// Units are opened and closed by different threads at once; the buckets are
// shared by all of them.
std::mutex lf_table_mutex;
}  // namespace

int for__add_to_lf_table(For_Lub *lub) {
    if (!lub->lub_file_name) return 0;
    std::lock_guard<std::mutex> lk(lf_table_mutex);
    const char *name = lub->lub_file_name;
    uint64_t len = std::strlen(name);
    int bucket = for__file_info_hash(name, len);
    For_Tty_Pair *prev = nullptr;
    For_Tty_Pair *e = for__file_info_hash_table[bucket];
    for (; e; prev = e, e = e->next) {
        int c = std::strcmp(e->name, name);
        if (c == 0) {
            ++e->refs;
            lub->lub_tty_pair = e;
            return 0;
        }
        if (c > 0) break;
    }
    void *p = nullptr;
    if (for__get_vm(sizeof(For_Tty_Pair), 0, &p)) return msg::no_memory;
    void *n = nullptr;
    if (for__get_vm(static_cast<int64_t>(len + 1), 0, &n)) {
        for__free_vm(p);
        return msg::no_memory;
    }
    std::memcpy(n, name, len + 1);
    For_Tty_Pair *ne = new (p) For_Tty_Pair();
    ne->name = static_cast<char *>(n);
    ne->bucket = bucket;
    ne->refs = 1;
    ne->prev = prev;
    ne->next = e;
    if (e) e->prev = ne;
    if (prev)
        prev->next = ne;
    else
        for__file_info_hash_table[bucket] = ne;
    lub->lub_tty_pair = ne;
    return 0;
}

void for__rm_from_lf_table(For_Lub *lub) {
    For_Tty_Pair *e = lub->lub_tty_pair;
    if (!e) return;
    lub->lub_tty_pair = nullptr;
    std::lock_guard<std::mutex> lk(lf_table_mutex);
    if (e->holder.load(std::memory_order_relaxed) == lub) e->holder.store(nullptr, std::memory_order_relaxed);
    if (e->saved_lub == lub) {
        e->saved_lub = nullptr;
        e->prompt_pending = 0;
        e->line_pending = 0;
    }
    if (e->refs-- > 1) return;
    if (e->prev)
        e->prev->next = e->next;
    else
        for__file_info_hash_table[e->bucket] = e->next;
    if (e->next) e->next->prev = e->prev;
    for__free_vm(e->name);
    for__free_vm(e);
}

void for__flush_other_holder(For_Lub *lub) {
    For_Tty_Pair *p = lub->lub_tty_pair;
    if (!p) return;
    For_Lub *h = p->holder.load(std::memory_order_relaxed);
    if (!h || h == lub) return;
    // The table's lock keeps the holder from being closed and freed
    // between finding it and taking it.
    std::unique_lock<std::mutex> lk(lf_table_mutex);
    h = p->holder.load(std::memory_order_relaxed);
    if (!h || h == lub || !lub_lock::try_take(h->lub_owner_thread, for__thread_id())) return;
    p->holder.store(nullptr, std::memory_order_relaxed);
    lk.unlock();
    if (h->lub_flags & lubf::held_records) (void)for__flush_output(h);
    lub_lock::give(h->lub_owner_thread);
}

bool for__unit_is_tty(For_Lub *lub) {
    if (lub->lub_tty == 0) lub->lub_tty = lub->lub_fd >= 0 && ::isatty(lub->lub_fd) ? 2 : 1;
    return lub->lub_tty == 2;
}

bool for__tty_prompt_pending(const For_Lub *lub) {
    const For_Tty_Pair *p = lub->lub_tty_pair;
    return p && p->prompt_pending && p->saved_lub == lub;
}

void for__tty_note_partial(For_Lub *lub) {
    For_Tty_Pair *p = lub->lub_tty_pair;
    if (!p || !for__unit_is_tty(lub)) return;
    p->saved_lub = lub;
    p->line_pending = 1;
    p->prompt_pending = 1;
}

int for__tty_write_pending(For_Lub *lub, int op) {
    For_Tty_Pair *p = lub->lub_tty_pair;
    For_Lub *out = p ? p->saved_lub : nullptr;
    if (!out) return 0;
    if (out->lub_rec_state == rec_output && (out->lub_flags & lubf::partial_record)) {
        if (static_cast<For_Cc>(out->lub_carriage_control) == For_Cc::fortran &&
            out->lub_rec_end > out->lub_rec_start) {
            // The record's own line movement stays; only its line end goes.
            char &c = *out->lub_rec_start;
            if (c == ' ')
                c = '$';
            else if (c == '+')
                c = '\0';
        }
        int s = for__put_sf(out);
        if (s != 0) return for__io_return(1, s, for__iostat_of(s), out);
        p->line_pending = 0;
    }
    if (op != FOR_OP_READ) p->prompt_pending = 0;
    return 0;
}

int for__tty_before_read(For_Lub *lub) {
    For_Tty_Pair *p = lub->lub_tty_pair;
    if (!p) return 0;
    For_Lub *out = p->saved_lub;
    if (p->prompt_pending) {
        // The answer's echo ends the prompt's line.
        p->prompt_pending = 0;
        p->line_open = 0;
        if (out) out->lub_line_open = 0;
        return 0;
    }
    if (out && out != lub && p->line_open && out->lub_line_open) {
        if (for__write_output(out, "\n", 1) < 0) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            return msg::write_error;
        }
        out->lub_line_open = 0;
        p->line_open = 0;
    }
    return 0;
}
