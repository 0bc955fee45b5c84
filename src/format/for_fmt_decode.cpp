// The record reader shared by the format interpreter and the tests: one
// place that knows every record layout, and checks every read against the
// bytes the caller says are there.
#include "format/for_fmt_decode.h"

#include <cstring>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "format/for_fmt_comp.h"

namespace {

uint32_t get32(const unsigned char *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint64_t get64(const unsigned char *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

constexpr std::size_t round4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// The NUL-terminated string at rec[at..avail); false when it has no NUL.
bool string_at(const unsigned char *rec, std::size_t avail, std::size_t at, const char **s, std::size_t *len) {
    if (at >= avail) return false;
    const void *nul = std::memchr(rec + at, 0, avail - at);
    if (nul == nullptr) return false;
    *s = reinterpret_cast<const char *>(rec + at);
    *len = static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - (rec + at));
    return true;
}

// DT as compiled code lays it out: a chain of tagged strings after a
// 32-byte prefix (the Part of the record layout says where each lies).
int decode_dt_compiled(const unsigned char *rec, std::size_t avail, For_Fmt_Rec *r) {
    if (avail < 33) return msg::format_syntax;
    int32_t repeat;
    std::memcpy(&repeat, rec + 24, 4);
    r->f1 = repeat;
    std::size_t tag = 32;
    if (rec[32] == 'u') {
        if (!string_at(rec, avail, 64, &r->dt_type, &r->dt_type_len)) return msg::format_syntax;
        tag = 68 + round4(r->dt_type_len);
    }
    if (tag < avail && rec[tag] == 'v') {
        if (!string_at(rec, avail, tag + 32, &r->dt_vlist, &r->dt_vlist_len)) return msg::format_syntax;
        tag += 36 + round4(r->dt_vlist_len);
    }
    if (repeat == 1 && tag < avail && rec[tag] == 't') {
        if (tag + 16 > avail) return msg::format_syntax;
        int32_t count;
        std::memcpy(&count, rec + tag + 12, 4);
        if (count != 0) {
            r->f1 = count;
            tag += 16;
        }
    }
    if (tag > avail) return msg::format_syntax;
    r->size = tag;
    return 0;
}

// DT as the run-time compiler lays it out: repeat count, then the type name
// and the v-list, each NUL-terminated.
int decode_dt_runtime(const unsigned char *rec, std::size_t avail, For_Fmt_Rec *r) {
    if (avail < 16) return msg::format_syntax;
    r->f1 = static_cast<int64_t>(get64(rec + 8));
    if (!string_at(rec, avail, 16, &r->dt_type, &r->dt_type_len) ||
        !string_at(rec, avail, 16 + r->dt_type_len + 1, &r->dt_vlist, &r->dt_vlist_len))
        return msg::format_syntax;
    r->size = 16 + round4(r->dt_type_len + r->dt_vlist_len + 2);
    return r->size <= avail ? 0 : msg::format_syntax;
}

int decode_generic(const unsigned char *rec, std::size_t avail, uint32_t h, For_Fmt_Rec *r) {
    const bool long_form = (h & FOR_FMT_LONG) != 0;
    const std::size_t fixed = long_form ? 24 : 12;
    r->vfe = static_cast<uint8_t>((h & FOR_FMT_VFE_ANY) >> 8);
    r->size = fixed + (r->vfe ? 4 * sizeof(For_Vfe_Slot) : 0);
    if (r->size > avail) return msg::format_syntax;
    if (long_form) {
        r->f1 = static_cast<int64_t>(get64(rec + 8));
        r->f2 = static_cast<int64_t>(get64(rec + 16));
    } else {
        r->f1 = get32(rec + 4);
        r->f2 = get32(rec + 8);
    }
    r->f3 = h >> 24;
    r->f4 = (h >> 16) & 0xff;
    if (r->vfe) std::memcpy(r->slots, rec + fixed, sizeof r->slots);
    return 0;
}

}  // namespace

int for__fmt_decode(const unsigned char *rec, std::size_t avail, For_Fmt_Rec *out) {
    *out = For_Fmt_Rec{};
    if (avail < 4) return msg::format_syntax;
    const uint32_t h = get32(rec);
    out->header = h;
    out->code = static_cast<uint8_t>(h);
    if (out->code >= for_fmt_ncodes || fmt_cat[out->code].category == 0) return msg::internal_error;
    out->category = fmt_cat[out->code].category;
    out->op = fmt_cat[out->code].op;
    out->size = 4;
    switch (out->category) {
    case 6: return 0;
    case 7: out->f1 = h >> 16; return 0;
    case 8:
        if (out->code == FOR_FMT_LITERAL) {
            out->f2 = h >> 16;
            out->size = 4 + round4(static_cast<std::size_t>(out->f2));
            if (out->size > avail) return msg::format_syntax;
            out->text = reinterpret_cast<const char *>(rec + 4);
            return 0;
        }
        // A compact scale factor keeps only its low byte, as a signed value.
        out->f2 = out->op == FOR_FMT_P ? static_cast<int8_t>(h >> 16) : static_cast<int64_t>(h >> 16);
        return 0;
    case 9:
        out->f1 = (h >> 8) & 0xff;
        out->f2 = h >> 16;
        return 0;
    case 10:
        out->f1 = (h >> 8) & 0xff;
        out->f2 = (h >> 16) & 0xff;
        out->f3 = h >> 24;
        return 0;
    case 11: return decode_dt_compiled(rec, avail, out);
    case 12: return decode_dt_runtime(rec, avail, out);
    default: return decode_generic(rec, avail, h, out);
    }
}

int64_t get_vfe_value(const void *table, const For_Vfe_Slot *slot) {
    const auto *entry = static_cast<const uintptr_t *>(table);
    const bool int32 = slot->type == FOR_TYPE_INT4;
    if (slot->type != FOR_TYPE_INT4 && slot->type != FOR_TYPE_INT8) {
        for__issue_diagnostic(msg::internal_error, 2, "for_fmt_decode.cpp", __LINE__);
        return 0;
    }
    switch (slot->kind) {
    case 3: {
        const void *var = reinterpret_cast<const void *>(entry[slot->index]);
        if (int32) {
            int32_t v;
            std::memcpy(&v, var, 4);
            return v;
        }
        int64_t v;
        std::memcpy(&v, var, 8);
        return v;
    }
    case 10: {
        // entry[index] is 0, marking that the next entry is a function.
        const uintptr_t fn = entry[slot->index + 1];
        if (int32) return reinterpret_cast<For_Vfe_Fn32>(fn)(table, slot);
        return reinterpret_cast<For_Vfe_Fn64>(fn)(table, slot);
    }
    default: for__issue_diagnostic(msg::internal_error, 2, "for_fmt_decode.cpp", __LINE__); return 0;
    }
}
