// The format interpreter and the setup of a statement's format.
//
// for__interp_fmt acts on decoded records only (for__fmt_decode knows the
// layouts). It carries out control records in place and returns at the
// first record the transfer code needs; between two calls everything it
// knows lives in the unit's For_Fmt_Isb, so that the items of one
// statement continue one format across _xmit calls.
#include "format/for_intrp_fmt.h"

#include <climits>
#include <cstring>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "format/for_fmt_comp.h"
#include "format/for_fmt_decode.h"
#include "io/for_rec.h"
#include "runtime/for_threadstor.h"
#include "runtime/for_vm.h"
#include "units/for_lub.h"

namespace {

uint32_t offset_of(const For_Fmt_Isb *isb, const unsigned char *rec) {
    return static_cast<uint32_t>(rec - isb->format_start);
}

// The opcode the record at `rec` stands for, from its header alone.
int op_at(const unsigned char *rec) {
    uint32_t h;
    std::memcpy(&h, rec, 4);
    uint8_t code = static_cast<uint8_t>(h);
    return code < for_fmt_ncodes ? fmt_cat[code].op : 0;
}

bool is_data_op(int op) {
    switch (op) {
    case FOR_FMT_A_NW:
    case FOR_FMT_D_NW:
    case FOR_FMT_E_NW:
    case FOR_FMT_F_NW:
    case FOR_FMT_G_NW:
    case FOR_FMT_I_NW:
    case FOR_FMT_L_NW:
    case FOR_FMT_O_NW:
    case FOR_FMT_Z_NW:
    case FOR_FMT_A:
    case FOR_FMT_D:
    case FOR_FMT_E:
    case FOR_FMT_EE:
    case FOR_FMT_F:
    case FOR_FMT_G:
    case FOR_FMT_GE:
    case FOR_FMT_I:
    case FOR_FMT_IM:
    case FOR_FMT_L:
    case FOR_FMT_O:
    case FOR_FMT_OM:
    case FOR_FMT_Z:
    case FOR_FMT_ZM:
    case FOR_FMT_B_NW:
    case FOR_FMT_B:
    case FOR_FMT_BM:
    case FOR_FMT_EN_NW:
    case FOR_FMT_EN:
    case FOR_FMT_ENE:
    case FOR_FMT_ES_NW:
    case FOR_FMT_ES:
    case FOR_FMT_ESE:
    case FOR_FMT_EX:
    case FOR_FMT_AT_NW:
    case FOR_FMT_AT: return true;
    default: return false;
    }
}

// Descriptors whose digit minimum is 1 when no .m was written.
bool takes_default_m(int op) {
    switch (op) {
    case FOR_FMT_I_NW:
    case FOR_FMT_L_NW:
    case FOR_FMT_O_NW:
    case FOR_FMT_Z_NW:
    case FOR_FMT_I:
    case FOR_FMT_O:
    case FOR_FMT_Z:
    case FOR_FMT_B_NW:
    case FOR_FMT_B: return true;
    default: return false;
    }
}

// Fetches and checks the variable format expressions of a record. Field 1
// is a repeat count or a count (X may be 0); field 2 a width or position,
// or for P a scale factor that must fit in a signed byte.
int apply_vfe(const For_Lub *lub, For_Fmt_Rec &r) {
    const void *table = lub->lub_ctx ? lub->lub_ctx->vfe_table : nullptr;
    if (!table) return msg::vfe_value;
    if (r.vfe & 1) {
        r.f1 = get_vfe_value(table, &r.slots[0]);
        int64_t least = (r.op == FOR_FMT_X || r.op == FOR_FMT_TL || r.op == FOR_FMT_TR) ? 0 : 1;
        if (r.f1 < least) return msg::vfe_value;
    }
    if (r.vfe & 2) {
        r.f2 = get_vfe_value(table, &r.slots[1]);
        if (r.op == FOR_FMT_P ? (r.f2 < INT8_MIN || r.f2 > INT8_MAX) : r.f2 < 0) return msg::vfe_value;
    }
    if (r.vfe & 4) {
        int64_t d = get_vfe_value(table, &r.slots[2]);
        if (d < 0 || d > 32767) return msg::vfe_value;
        r.f3 = static_cast<uint32_t>(d);
    }
    if (r.vfe & 8) {
        int64_t e = get_vfe_value(table, &r.slots[3]);
        if (e < 0 || e > 255) return msg::vfe_value;
        r.f4 = static_cast<uint32_t>(e);
    }
    return 0;
}

// Left tab limit of the current record: where the statement began on it
// (a non-advancing statement continues a record), else its start.
char *tab_limit(const For_Lub *lub) { return lub->lub_rec_start + lub->lub_stmt.tab_base; }

// The farthest an output position may lie after its record's start. No
// record can be this long, so writing there fails as it would at any
// larger position; the bound keeps the pointer arithmetic within range.
constexpr uint64_t max_position = uint64_t{1} << 46;

// The position `n` characters right of the current one. Input stops at the
// record's end: no character lies beyond it, and a later TL counts back
// from there. Output positions beyond the data stay pending up to
// max_position.
char *moved_right(const For_Lub *lub, const For_Fmt_Isb *isb, uint64_t n) {
    char *p = lub->lub_buf_ptr;
    if (isb->flags & isbf::input) {
        char *end = lub->lub_buf_limit > p ? lub->lub_buf_limit : p;
        return static_cast<uint64_t>(end - p) > n ? p + n : end;
    }
    const uint64_t at = static_cast<uint64_t>(p - lub->lub_rec_start);
    const uint64_t to = at >= max_position || n >= max_position - at ? max_position : at + n;
    return to > at ? p + (to - at) : p;
}

// The open group of depth 1..for_fmt_max_depth: its remaining count and
// restart offset.
struct Group_Slot {
    int64_t &count;
    uint32_t &restart;
};
Group_Slot group_at(For_Fmt_Isb *isb, int depth) {
    if (depth <= for_fmt_inline_depth) return {isb->group_count[depth - 1], isb->group_restart[depth - 1]};
    const int i = depth - for_fmt_inline_depth - 1;
    return {isb->deep_groups->count[i], isb->deep_groups->restart[i]};
}

// What one call of the interpreter knows of the group iterations it ran
// itself. An iteration that began and ended within one call handed nothing
// to the transfer code: it holds only control records, so every further
// iteration does what it did, and all that changes is the position. The
// position after an iteration is max(p + a, c) of the position p before it
// (X and TR add, TL subtracts down to the tab limit, T sets), so two equal
// steps in a row are the step a of every later one, and no step at all
// means nothing is left to do: the remaining iterations are settled by
// arithmetic instead of being run, however large the repeat counts.
struct Idle_Groups {
    uint64_t fresh = 0;    // bit d: the current iteration of depth d began in this call
    uint64_t stepped = 0;  // bit d: step[d] holds the step of the iteration before
    // bit d: the current iteration of depth d wrote a literal. Writing the
    // same text at the same places again changes nothing, so such an
    // iteration that ends where it began is the last one that matters; one
    // that moves is run, its text marking every place it reaches.
    uint64_t output = 0;
    char *from[for_fmt_max_depth + 1];
    int64_t step[for_fmt_max_depth + 1];

    static uint64_t bit(int depth) { return uint64_t{1} << depth; }
    void begin(int depth, char *pos) {
        fresh |= bit(depth);
        stepped &= ~bit(depth);
        output &= ~bit(depth);
        from[depth] = pos;
    }
    // A literal written at `depth`: in the iterations of every open group.
    void wrote(int depth) { output |= (bit(depth + 1) - 1) & ~uint64_t{1}; }
    // A variable format expression is evaluated anew by each iteration: an
    // iteration that held one must really run.
    void forget() { fresh = stepped = 0; }
};

}  // namespace

// The end of an iteration of the group at `depth` that handed nothing to
// the transfer code (see Idle_Groups). Returns true when the group is done:
// the position is where its last iteration would have left it.
bool settle_idle(For_Lub *unit, For_Fmt_Isb *isb, Idle_Groups &idle, int depth, int64_t &count) {
    char *p = unit->lub_buf_ptr;
    const int64_t a = p - idle.from[depth];
    if (a == 0) return true;
    if (idle.output & Idle_Groups::bit(depth)) return false;
    const bool same = (idle.stepped & Idle_Groups::bit(depth)) && idle.step[depth] == a;
    idle.step[depth] = a;
    idle.stepped |= Idle_Groups::bit(depth);
    if (!same) return false;
    const uint64_t left = static_cast<uint64_t>(count - 1);  // iterations still to run
    // Input positions stop at the record's end, and the rest of an
    // iteration may move back from there: rightward steps are run, at most
    // one per character of the record before the position stands still.
    if (a > 0 && (isb->flags & isbf::input)) return false;
    if (a > 0) {
        const uint64_t ua = static_cast<uint64_t>(a);
        const uint64_t n = left > UINT64_MAX / ua ? UINT64_MAX : left * ua;
        unit->lub_buf_ptr = moved_right(unit, isb, n);
        return true;
    }
    // Leftward: jump to where the tab limit is at most one step away and
    // leave at least one iteration to run from there, which reaches the
    // position the clamp holds (from any point below it, too).
    const uint64_t back = static_cast<uint64_t>(-a);
    char *limit = tab_limit(unit);
    const uint64_t room = p > limit ? static_cast<uint64_t>(p - limit) : 0;
    uint64_t m = room / back;
    if (m > left - 1) m = left - 1;
    unit->lub_buf_ptr = p - static_cast<int64_t>(m * back);
    count -= static_cast<int64_t>(m);
    return false;
}

int for__interp_fmt(For_Lub *unit) {
    For_Fmt_Isb *isb = for__fmt_isb(unit);
    if (!isb || !isb->current) return msg::recursive_io;
    Idle_Groups idle;
    for (;;) {
        For_Fmt_Rec r;
        const unsigned char *rec = isb->current;
        // Formats are closed by their end record and the run-time compiler
        // checks every record it writes, so the reader needs no bound.
        if (int s = for__fmt_decode(rec, SIZE_MAX, &r))
            return s == msg::internal_error ? msg::internal_error : msg::format_syntax;
        if (r.vfe && !(isb->flags & isbf::end_of_list)) {
            if (int s = apply_vfe(unit, r)) return s;
            idle.forget();
        }
        isb->current = rec + r.size;
        isb->opcode = r.op;
        isb->repeat = 0;
        isb->w = isb->decoded_width = r.f2;
        isb->d = static_cast<uint16_t>(r.f3);
        isb->e = static_cast<uint16_t>(r.f4);
        const int op = r.op;
        if (is_data_op(op)) {
            if (op == FOR_FMT_GE && r.f2 == 0 && r.f4 != 0) return msg::format_syntax;
            isb->flags |= isbf::data_seen | isbf::data_since_reversion;
            isb->repeat = r.f1 < 1 ? 1 : r.f1;
            if (takes_default_m(op)) isb->d = 1;
            return 0;
        }
        switch (op) {
        case FOR_FMT_FORMAT_BEGIN:
            isb->flags &= ~(isbf::data_seen | isbf::data_since_reversion);
            isb->reversion = 0;
            isb->format_start = rec;
            if (op_at(isb->current) == FOR_FMT_FORMAT_END) isb->flags |= isbf::empty_format;
            continue;
        case FOR_FMT_FORMAT_END:
            isb->current = isb->format_start + isb->reversion;
            isb->depth = 0;
            return 0;
        case FOR_FMT_GROUP_BEGIN: {
            isb->flags &= ~isbf::data_seen;
            if (isb->depth >= for_fmt_max_depth) return msg::format_nesting_limit_exceeded;
            if (isb->depth >= for_fmt_inline_depth && !isb->deep_groups) {
                void *cell = nullptr;
                if (for__get_vm(sizeof(For_Fmt_Deep_Groups), 0, &cell) != 0) return msg::no_memory;
                isb->deep_groups = static_cast<For_Fmt_Deep_Groups *>(cell);
            }
            int depth = ++isb->depth;
            if (depth == 1) {
                // Reversion returns here: only data edits from here on
                // can take the items that are left at the format end.
                isb->reversion = offset_of(isb, rec);
                isb->flags &= ~isbf::data_since_reversion;
            }
            Group_Slot g = group_at(isb, depth);
            g.restart = offset_of(isb, isb->current);
            g.count = r.f1 < 1 ? 1 : r.f1;
            idle.begin(depth, unit->lub_buf_ptr);
            continue;
        }
        case FOR_FMT_GROUP_END: {
            int depth = isb->depth;
            if (depth <= 0) return msg::format_syntax;
            Group_Slot g = group_at(isb, depth);
            const bool idle_done =
                g.count > 1 && (idle.fresh & Idle_Groups::bit(depth)) && settle_idle(unit, isb, idle, depth, g.count);
            if (g.count <= 1 || idle_done) {
                idle.fresh &= ~Idle_Groups::bit(depth);
                --isb->depth;
            } else {
                --g.count;
                isb->current = isb->format_start + g.restart;
                const uint64_t stepped = idle.stepped & Idle_Groups::bit(depth);
                idle.begin(depth, unit->lub_buf_ptr);
                idle.stepped |= stepped;
            }
            continue;
        }
        case FOR_FMT_BN: isb->flags = (isb->flags & ~isbf::blank_mask) | isbf::blank_bn; continue;
        case FOR_FMT_BZ: isb->flags = (isb->flags & ~isbf::blank_mask) | isbf::blank_bz; continue;
        case FOR_FMT_SP: isb->flags = (isb->flags & ~isbf::sign_mask) | isbf::sign_sp; continue;
        case FOR_FMT_SS: isb->flags = (isb->flags & ~isbf::sign_mask) | isbf::sign_ss; continue;
        case FOR_FMT_S: isb->flags = (isb->flags & ~isbf::sign_mask) | isbf::sign_s; continue;
        case FOR_FMT_P: isb->scale = static_cast<int8_t>(r.f2); continue;
        // Positioning moves only the current position. Positions beyond
        // the data written so far stay pending: the record gets the blanks
        // when something is written after them, so trailing X or TR adds
        // nothing to the record.
        case FOR_FMT_X: unit->lub_buf_ptr = moved_right(unit, isb, r.f1); continue;
        case FOR_FMT_TR: unit->lub_buf_ptr = moved_right(unit, isb, static_cast<uint64_t>(r.f2)); continue;
        case FOR_FMT_T:
            // T0 never leaves the compiler; a compiled format that holds it
            // still means column 1 rather than one before the record.
            unit->lub_buf_ptr = tab_limit(unit);
            unit->lub_buf_ptr = moved_right(unit, isb, r.f2 > 0 ? static_cast<uint64_t>(r.f2 - 1) : 0);
            continue;
        case FOR_FMT_TL: {
            char *limit = tab_limit(unit);
            unit->lub_buf_ptr = unit->lub_buf_ptr - limit > r.f2 ? unit->lub_buf_ptr - r.f2 : limit;
            continue;
        }
        case FOR_FMT_Q:
            // Q takes an item as a data edit does.
            isb->flags |= isbf::data_seen | isbf::data_since_reversion;
            isb->repeat = 1;
            return 0;
        // "$" only marks the record; a colon with items left is nothing.
        // Neither goes back to the transfer code, so a repeated group that
        // holds them is still settled as the idle group it is.
        case FOR_FMT_DOLLAR:
            if (!(isb->flags & isbf::input)) isb->flags |= isbf::suppress_terminator;
            continue;
        case FOR_FMT_COLON:
            if (!(isb->flags & isbf::end_of_list)) continue;
            return 0;
        case FOR_FMT_DT:
            isb->repeat = r.f1 < 1 ? 1 : r.f1;
            isb->dt_type_name = r.dt_type;
            isb->dt_v_list = r.dt_vlist;
            return 0;
        case FOR_FMT_SLASH: isb->repeat = r.f1 < 1 ? 1 : r.f1; return 0;
        case FOR_FMT_LITERAL:
            // Output writes a literal here, and input passes over its
            // characters as X does, unless the format is the statement's
            // own and receives them; then the transfer code copies them in.
            if (!(isb->flags & isbf::input)) {
                if (int s = for__rec_put(unit, {r.text, static_cast<size_t>(r.f2)})) return s;
                idle.wrote(isb->depth);
                continue;
            }
            if (!(isb->flags & isbf::format_owned)) {
                unit->lub_buf_ptr = moved_right(unit, isb, static_cast<uint64_t>(r.f2));
                continue;
            }
            isb->literal = r.text;
            isb->w = r.f2;
            return 0;
        case FOR_FMT_RU:
        case FOR_FMT_RD:
        case FOR_FMT_RZ:
        case FOR_FMT_RN:
        case FOR_FMT_RC:
        case FOR_FMT_RP: isb->rounding = static_cast<For_Round>(op - FOR_FMT_RU + 1); continue;
        case FOR_FMT_DC: isb->modes = (isb->modes & ~isbm::decimal_mask) | isbm::decimal_dc; continue;
        case FOR_FMT_DP: isb->modes = (isb->modes & ~isbm::decimal_mask) | isbm::decimal_dp; continue;
        default: return msg::format_syntax;
        }
    }
}

// ---------------------------------------------------------------------------
// The thread's cache of compiled run-time formats.

namespace {

struct Cache_Entry {
    char *text = nullptr;  // a copy of the key
    int64_t len = 0;
    unsigned char *fmt = nullptr;  // the compiled format
    uint32_t pins = 0;             // statements running with it
    uint64_t used = 0;             // clock of the last use, for eviction
};

struct Fmt_Cache {
    Cache_Entry e[for_fmt_cache_entries];
    uint64_t clock = 0;
    uint64_t compiles = 0;
    bool armed = false;
    // At the thread's end the compiled formats go back.
    static void release(void *self) {
        auto *cache = static_cast<Fmt_Cache *>(self);
        for (Cache_Entry &c : cache->e) drop(c);
        cache->armed = false;
    }
    static For_Thread_Exit exit;
    static void drop(Cache_Entry &c) {
        for__free_vm(c.text);
        for__free_vm(c.fmt);
        c = Cache_Entry{};
    }
    Cache_Entry *find(const char *text, int64_t len) {
        for (Cache_Entry &c : e)
            if (c.fmt && c.len == len && std::memcmp(c.text, text, static_cast<size_t>(len)) == 0) return &c;
        return nullptr;
    }
    Cache_Entry *holding(const unsigned char *fmt) {
        for (Cache_Entry &c : e)
            if (c.fmt == fmt) return &c;
        return nullptr;
    }
    // A free slot, or the least recently used one no statement is using;
    // null when every slot is in use.
    Cache_Entry *victim() {
        Cache_Entry *best = nullptr;
        for (Cache_Entry &c : e) {
            if (!c.fmt) return &c;
            if (c.pins == 0 && (!best || c.used < best->used)) best = &c;
        }
        if (best) drop(*best);
        return best;
    }
};

For_Thread_Exit Fmt_Cache::exit;
// initial-exec: asked at every statement with a text format.
thread_local Fmt_Cache fmt_cache __attribute__((tls_model("initial-exec")));

// The compiled format of a character format: from the cache, or compiled
// now. *cached tells which: a format not cached belongs to the statement.
int text_format(const For_Char_Format *cf, bool diagnose, unsigned char **out, bool *cached) {
    Fmt_Cache &cache = fmt_cache;
    const int64_t len = cf->length < 0 ? 0 : cf->length;
    *cached = false;
    if (len <= for_fmt_cache_max_text) {
        if (Cache_Entry *hit = cache.find(cf->text, len)) {
            ++hit->pins;
            hit->used = ++cache.clock;
            *out = hit->fmt;
            *cached = true;
            return 0;
        }
    }
    unsigned char *fmt = nullptr;
    ++cache.compiles;
    if (int s = for__format_compiler(cf, &fmt, diagnose ? 1 : 0)) return s;
    *out = fmt;
    if (len > for_fmt_cache_max_text) return 0;
    Cache_Entry *slot = cache.victim();
    if (!slot) return 0;
    if (!cache.armed) {
        cache.armed = true;
        for__arm_thread_exit(Fmt_Cache::exit, Fmt_Cache::release, &cache);
    }
    void *copy = nullptr;
    if (for__get_vm(len > 0 ? len : 1, 0, &copy) != 0) return 0;  // uncached, still usable
    if (len > 0) std::memcpy(copy, cf->text, static_cast<size_t>(len));
    slot->text = static_cast<char *>(copy);
    slot->len = len;
    slot->fmt = fmt;
    slot->pins = 1;
    slot->used = ++cache.clock;
    *cached = true;
    return 0;
}

}  // namespace

uint64_t for__fmt_cache_compiles() { return fmt_cache.compiles; }

void for__fmt_stmt_done(For_Fmt_Isb &isb) {
    for__free_vm(isb.deep_groups);
    isb.deep_groups = nullptr;
    if (isb.flags & isbf::format_cached) {
        if (Cache_Entry *c = fmt_cache.holding(isb.format_start))
            if (c->pins > 0) --c->pins;
        isb.flags &= ~isbf::format_cached;
        isb.format_start = isb.current = nullptr;
    }
    for__format_free(&isb);
}

int for__fmt_stmt_start(For_Lub *lub, const void *fmt, bool text, bool diagnose) {
    For_Fmt_Isb *isb = &lub->lub_stmt.xfer.begin_formatted();
    isb->unit = lub;

    uint32_t flags = 0;
    switch (lub->lub_sign) {
    case FOR_SIGN_PLUS: flags |= isbf::sign_sp; break;
    case FOR_SIGN_SUPPRESS: flags |= isbf::sign_ss; break;
    default: flags |= isbf::sign_s; break;
    }
    // An internal file has no connection of its own: blanks are null
    // unless the statement says BLANK='ZERO'.
    bool null_blanks = lub->lub_unit == FOR_UNIT_INTERNAL && !(lub->lub_stmt.saved.overridden & stmo::blank)
                           ? true
                           : (lub->lub_flags & lubf::blank_null) != 0;
    flags |= null_blanks ? isbf::blank_bn : isbf::blank_bz;
    // The statement's own editing option rides in the modes that editing
    // passes to the converter.
    if (lub->lub_stmt_flags & lubs::minus_rounded_zero) isb->modes |= isbm::minus_rounded_zero;
    isb->rounding =
        lub->lub_round >= 1 && lub->lub_round <= 6 ? static_cast<For_Round>(lub->lub_round) : For_Round::none;
    unsigned char *start = nullptr;
    if (text) {
        bool cached = false;
        if (int s = text_format(static_cast<const For_Char_Format *>(fmt), diagnose, &start, &cached)) {
            isb->flags = flags;
            return s;
        }
        flags |= cached ? isbf::format_cached : isbf::format_owned;
    } else {
        start = static_cast<unsigned char *>(const_cast<void *>(fmt));
        if (!start) return msg::format_syntax;
    }
    isb->flags = flags;
    isb->format_start = isb->current = start;
    return 0;
}
