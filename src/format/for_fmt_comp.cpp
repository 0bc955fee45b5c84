// The run-time format compiler: one left-to-right scan of a character
// format that appends compiled-format records through a builder. It keeps
// no state between calls; whatever it built is released on failure.
#include "format/for_fmt_comp.h"

#include <cstring>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "format/for_fmt_isb.h"
#include "runtime/for_vm.h"

namespace {

// The buffer grows in whole steps so that a long format is not
// reallocated record by record.
constexpr uint64_t grow_step = 512;

constexpr uint64_t round_up(uint64_t n, uint64_t step) { return (n + step - 1) / step * step; }

void put32(unsigned char *p, uint32_t v) { std::memcpy(p, &v, 4); }
void put64(unsigned char *p, uint64_t v) { std::memcpy(p, &v, 8); }

// Room for `bytes` more at the end of the buffer; returns where they go.
int reserve(For_Fmt_Builder &b, uint64_t bytes, unsigned char **at) {
    uint64_t need = uint64_t{b.size} + bytes;
    if (need > b.limit) return msg::no_memory;
    uint64_t have = b.buf ? round_up(b.size, grow_step) : 0;
    if (need > have) {
        void *cell = b.buf;
        int st = for__realloc_vm(static_cast<int64_t>(round_up(need, grow_step)), &cell, static_cast<int64_t>(have));
        if (st != 0) return msg::no_memory;
        b.buf = static_cast<unsigned char *>(cell);
    }
    *at = b.buf + b.size;
    std::memset(*at, 0, bytes);  // padding bytes are zero, so equal formats compile to equal bytes
    b.size = static_cast<uint32_t>(need);
    return 0;
}

bool is_m_form(int op) { return op == FOR_FMT_IM || op == FOR_FMT_OM || op == FOR_FMT_ZM || op == FOR_FMT_BM; }

}  // namespace

int emit_comp_fmt(For_Fmt_Builder &b) {
    int op = b.op;
    int c = b.count;
    b.op = 0;
    if (op <= 0 || op >= for_fmt_ncodes) return msg::format_syntax;
    if (c > fmt_check[op].fields && fmt_check[op].alt != 0) op = fmt_check[op].alt;
    // Iw, Bw, Ow, Zw carry m = 1 unless m was written: the field the letter
    // preset counts as given. Only these four have a default m; any other
    // two-field record stays two fields.
    if (c == 2 && is_m_form(op)) c = 3;
    if (op == FOR_FMT_EX) {
        if (c < 3) return msg::format_syntax;
    } else if (op == FOR_FMT_G && b.f2 == 0) {
        op = FOR_FMT_GE;  // G0 and G0.d
    } else if (c != fmt_check[op].fields) {
        return msg::format_syntax;
    }
    // T0 would address the position before the record.
    if (op == FOR_FMT_T && b.f2 == 0) return msg::format_syntax;
    if (b.f3 > for_fmt_max_dme || b.f4 > for_fmt_max_dme) return msg::format_syntax;
    bool long_form = b.f1 > UINT32_MAX || static_cast<uint64_t>(b.f2) > UINT32_MAX;
    unsigned char *p;
    if (int st = reserve(b, long_form ? 24 : 12, &p); st != 0) return st;
    uint32_t header = static_cast<uint32_t>(op) | (long_form ? FOR_FMT_LONG : 0u) | b.f4 << 16 | b.f3 << 24;
    put32(p, header);
    if (long_form) {
        put64(p + 8, b.f1);
        put64(p + 16, static_cast<uint64_t>(b.f2));
    } else {
        put32(p + 4, static_cast<uint32_t>(b.f1));
        put32(p + 8, static_cast<uint32_t>(b.f2));
    }
    return 0;
}

int emit_udio(For_Fmt_Builder &b, const char *type_name, std::size_t type_len, const char *vlist,
              std::size_t vlist_len) {
    b.op = 0;
    uint64_t text = uint64_t{type_len} + vlist_len + 2;
    unsigned char *p;
    if (int st = reserve(b, 16 + round_up(text, 4), &p); st != 0) return st;
    put32(p, FOR_FMT_DT_RT);
    put64(p + 8, b.f1);
    if (type_len) std::memcpy(p + 16, type_name, type_len);
    if (vlist_len) std::memcpy(p + 16 + type_len + 1, vlist, vlist_len);
    return 0;
}

namespace {

// One literal record of at most 65535 characters (0 allowed: 0H).
int literal_record(For_Fmt_Builder &b, const char *text, uint32_t n) {
    unsigned char *p;
    if (int st = reserve(b, 4 + round_up(n, 4), &p); st != 0) return st;
    put32(p, FOR_FMT_LITERAL | n << 16);
    if (n) std::memcpy(p + 4, text, n);
    return 0;
}

}  // namespace

int emit_literal(For_Fmt_Builder &b, const char *text, std::size_t len) {
    // The length field has 16 bits; longer text continues in the next
    // record, which the interpreter copies on directly after this one.
    while (len > 0) {
        uint32_t n = len > for_fmt_max_literal ? for_fmt_max_literal : static_cast<uint32_t>(len);
        if (int st = literal_record(b, text, n); st != 0) return st;
        text += n;
        len -= n;
    }
    return 0;
}

namespace {

bool is_blank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

unsigned char upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

// One compilation: the text, the scan position and the state of the Part
// being scanned. Every failure goes through fail(), which quotes the text
// when asked to and leaves the buffer for the caller to release.
class Compiler {
  public:
    Compiler(std::string_view text, bool diagnose, uint32_t limit) : s_(text), diagnose_(diagnose) { b_.limit = limit; }
    ~Compiler() { for__free_vm(b_.buf); }

    int run();
    unsigned char *release(uint32_t *size) {
        *size = b_.size;
        unsigned char *p = b_.buf;
        b_.buf = nullptr;
        return p;
    }

  private:
    // Message 58 quotes from the character before the offending one, at
    // most 80 characters, never past the end of the text.
    int fail_at(std::size_t offending) { return quote_from(offending > 0 ? offending - 1 : 0); }
    int quote_from(std::size_t from) {
        if (diagnose_) {
            if (from > s_.size()) from = s_.size();
            std::size_t n = s_.size() - from;
            if (n > 80) n = 80;
            for__issue_diagnostic(msg::format_syntax_near, 2, static_cast<int>(n), s_.data() + from);
        }
        return msg::format_syntax;
    }

    // Index of the next non-blank character at or after i (s_.size() at end).
    std::size_t next_nonblank(std::size_t i) const {
        while (i < s_.size() && is_blank(static_cast<unsigned char>(s_[i]))) ++i;
        return i;
    }
    // The next non-blank character after position i, upper-cased, or 0.
    unsigned char peek_after(std::size_t i) const {
        std::size_t j = next_nonblank(i + 1);
        return j < s_.size() ? upper(static_cast<unsigned char>(s_[j])) : 0;
    }
    // Steps over the next non-blank character after i (the second letter of
    // a two-letter descriptor).
    std::size_t skip_second(std::size_t i) const { return next_nonblank(i + 1); }

    bool nothing_pending() const { return b_.op == 0 && !digits_ && sign_ == 0; }

    // Moves pending digits into the next field of the pending descriptor and
    // emits it. No diagnostic: the fault lies in the descriptor as a whole.
    int finish();
    int start_descriptor(std::size_t at, int op, bool default_m);
    int emit_now(int op);
    int literal_quoted(std::size_t &i);
    int hollerith(std::size_t &i);
    int data_type(std::size_t &i);
    int close_group(std::size_t at, bool &done);

    // The descriptor families; each takes the upper-cased character at
    // s_[i], may step i over the rest of its descriptor, and returns a status.
    int step(std::size_t &i, unsigned char c, bool &done);
    int number(std::size_t i, unsigned char c);
    int data_edit(std::size_t &i, unsigned char c);
    int control(std::size_t &i, unsigned char c);
    int position(std::size_t &i, unsigned char c);
    int literal(std::size_t &i, unsigned char c);
    int group(std::size_t i, unsigned char c, bool &done);
    int separator(std::size_t i, unsigned char c);

    std::string_view s_;
    bool diagnose_;
    For_Fmt_Builder b_;
    int level_ = 0;
    bool empty_[for_fmt_max_depth + 1] = {};
    bool unlimited_[for_fmt_max_depth + 1] = {};
    uint64_t num_ = 0;
    bool digits_ = false;
    int sign_ = 0;
    bool star_ = false;  // "*" marked the group the next "(" opens
    bool unlimited_seen_ = false;
    bool unlimited_closed_ = false;  // back at level 1 after the unlimited group
};

int Compiler::finish() {
    if (digits_) {
        if (b_.count == 0 || b_.count >= 4) return msg::format_syntax;
        if (b_.count == 1) {
            b_.f2 = static_cast<int64_t>(num_);
        } else {
            // d, m and e live in 8-bit fields of the record header, which
            // compiled code shares: a larger value cannot be kept, and
            // editing with a smaller one instead would be a different edit.
            if (num_ > for_fmt_max_dme) return msg::format_syntax;
            (b_.count == 2 ? b_.f3 : b_.f4) = static_cast<uint32_t>(num_);
        }
        ++b_.count;
        digits_ = false;
        num_ = 0;
    }
    if (b_.op == 0) return 0;
    return emit_comp_fmt(b_);
}

// A data descriptor letter: its repeat count, its fields cleared.
int Compiler::start_descriptor(std::size_t at, int op, bool default_m) {
    if (sign_ != 0 || b_.op != 0 || (digits_ && num_ == 0)) return fail_at(at);
    b_.op = static_cast<uint8_t>(op);
    b_.count = 1;
    b_.f1 = digits_ ? num_ : 1;
    b_.f2 = 0;
    b_.f3 = default_m ? 1 : 0;
    b_.f4 = 0;
    digits_ = false;
    num_ = 0;
    empty_[level_] = false;
    return 0;
}

// A record with no numeric fields, emitted at once.
int Compiler::emit_now(int op) {
    b_.op = static_cast<uint8_t>(op);
    b_.count = 0;
    b_.f1 = 0;
    b_.f2 = 0;
    b_.f3 = b_.f4 = 0;
    return emit_comp_fmt(b_);
}

// A quoted literal starting at s_[i]; leaves i on its closing quote. A
// doubled quote ends one literal with a quote character and opens the next
// at the second quote, so 'it''s' is "it'" and "s".
int Compiler::literal_quoted(std::size_t &i) {
    const char q = s_[i];
    for (;;) {
        std::size_t close = s_.find(q, i + 1);
        if (close == std::string_view::npos) return quote_from(s_.size() - 1);
        bool doubled = close + 1 < s_.size() && s_[close + 1] == q;
        std::size_t len = close - (i + 1) + (doubled ? 1 : 0);
        if (int st = emit_literal(b_, s_.data() + i + 1, len); st != 0) return st;
        if (!doubled) {
            i = close;
            return 0;
        }
        i = close + 1;
    }
}

int Compiler::hollerith(std::size_t &i) {
    if (sign_ != 0 || b_.op != 0) return fail_at(i);
    uint64_t n = digits_ ? num_ : 1;
    digits_ = false;
    num_ = 0;
    if (n > s_.size() - (i + 1)) return quote_from(s_.size() - 1);
    // 0H is an empty literal record; a longer one splits like any literal.
    int st = n == 0 ? literal_record(b_, nullptr, 0) : emit_literal(b_, s_.data() + i + 1, n);
    i += n;
    return st;
}

// DT['type'][(v-list)] starting at the D in s_[i]; emits the record and
// leaves i before the "," or ")" that must follow.
int Compiler::data_type(std::size_t &i) {
    const std::size_t n = s_.size();
    auto at_or_end = [n](std::size_t k) { return k < n ? k : n; };
    if (sign_ != 0 || b_.op != 0 || (digits_ && num_ == 0)) return fail_at(i);
    b_.f1 = digits_ ? num_ : 1;
    digits_ = false;
    num_ = 0;
    empty_[level_] = false;
    std::size_t j = next_nonblank(skip_second(i) + 1);
    const char *type = nullptr;
    std::size_t type_len = 0;
    if (j < n && (s_[j] == '\'' || s_[j] == '"')) {
        // The type name ends at the first matching quote; the record keeps
        // it NUL-terminated, so a NUL inside cannot be represented.
        const char q = s_[j];
        std::size_t k = j + 1;
        while (k < n && s_[k] != q && s_[k] != '\0') ++k;
        if (k >= n || s_[k] == '\0') return fail_at(at_or_end(k));
        type = s_.data() + j + 1;
        type_len = k - (j + 1);
        j = next_nonblank(k + 1);
    }
    const char *vlist = nullptr;
    std::size_t vlist_len = 0;
    if (j < n && s_[j] == '(') {
        std::size_t k = next_nonblank(j + 1);
        const std::size_t from = k;
        if (!(k < n && s_[k] == ')')) {
            for (;;) {
                bool negative = false;
                if (k < n && (s_[k] == '+' || s_[k] == '-')) {
                    negative = s_[k] == '-';
                    k = next_nonblank(k + 1);
                }
                if (k >= n || s_[k] < '0' || s_[k] > '9') return fail_at(at_or_end(k));
                // Each value must fit the default INTEGER it is passed as.
                const uint64_t most = negative ? uint64_t{INT32_MAX} + 1 : INT32_MAX;
                uint64_t v = 0;
                for (; k < n && ((s_[k] >= '0' && s_[k] <= '9') || is_blank(s_[k])); ++k) {
                    if (is_blank(s_[k])) continue;
                    v = v * 10 + static_cast<uint64_t>(s_[k] - '0');
                    if (v > most) return fail_at(k);
                }
                if (k < n && s_[k] == ',') {
                    k = next_nonblank(k + 1);
                    continue;
                }
                if (k < n && s_[k] == ')') break;
                return fail_at(at_or_end(k));
            }
        }
        vlist = s_.data() + from;
        vlist_len = k - from;
        j = next_nonblank(k + 1);
    }
    if (j >= n || (s_[j] != ',' && s_[j] != ')')) return fail_at(at_or_end(j));
    i = j - 1;
    return emit_udio(b_, type, type_len, vlist, vlist_len);
}

int Compiler::close_group(std::size_t at, bool &done) {
    if (sign_ != 0) return fail_at(at);
    if (int st = finish(); st != 0) return st;
    if (empty_[level_] && unlimited_[level_]) return msg::empty_unlimited_format;
    // An empty nested group leaves its enclosing group as it was.
    if (!empty_[level_] && level_ > 1) empty_[level_ - 1] = false;
    if (level_ == 1) {
        done = true;
        return emit_now(FOR_FMT_FORMAT_END);
    }
    if (unlimited_[level_]) unlimited_closed_ = true;
    --level_;
    return emit_now(FOR_FMT_GROUP_END);
}

// Digits, signs and the "." of w.d: the numbers that a descriptor, a
// group or a scale factor takes its counts and fields from.
int Compiler::number(std::size_t i, unsigned char c) {
    const std::size_t n = s_.size();
    if (c >= '0' && c <= '9') {
        const uint64_t d = c - '0';
        if (num_ > (uint64_t{INT64_MAX} - d) / 10) return fail_at(i);
        num_ = num_ * 10 + d;
        digits_ = true;
        return 0;
    }
    if (c == '+' || c == '-') {
        if (digits_ || sign_ != 0 || b_.op != 0) return fail_at(i);
        sign_ = c == '-' ? -1 : 1;
        return 0;
    }
    // ".": w ends and d must follow.
    if (b_.op == 0 || b_.count != 1 || !digits_) return fail_at(i);
    b_.f2 = static_cast<int64_t>(num_);
    b_.count = 2;
    digits_ = false;
    num_ = 0;
    std::size_t j = next_nonblank(i + 1);
    if (j >= n || s_[j] < '0' || s_[j] > '9') return fail_at(j < n ? j : n);
    return 0;
}

// The data edit descriptors (A, B, D, E, F, G, I, L, O, Z and their
// two-letter forms, DT) and the exponent part of Ew.dEe and its kin.
int Compiler::data_edit(std::size_t &i, unsigned char c) {
    switch (c) {
    case 'A':
        if (peek_after(i) == 'T') {
            int st = start_descriptor(i, FOR_FMT_AT, false);
            i = skip_second(i);
            return st;
        }
        return start_descriptor(i, FOR_FMT_A_NW, false);
    case 'D':
        if (peek_after(i) == 'T') return data_type(i);
        return start_descriptor(i, FOR_FMT_D_NW, false);
    case 'E': {
        if (b_.op != 0) {
            // The exponent part of Ew.dEe, Gw.dEe, ENw.dEe, ESw.dEe, EXw.dEe.
            int op = b_.op;
            int with_e = op == FOR_FMT_E_NW    ? FOR_FMT_EE
                         : op == FOR_FMT_G_NW  ? FOR_FMT_GE
                         : op == FOR_FMT_EN_NW ? FOR_FMT_ENE
                         : op == FOR_FMT_ES_NW ? FOR_FMT_ESE
                         : op == FOR_FMT_EX    ? FOR_FMT_EX
                                               : 0;
            if (with_e == 0 || b_.count != 2 || !digits_ || num_ > for_fmt_max_dme) return fail_at(i);
            b_.op = static_cast<uint8_t>(with_e);
            b_.f3 = static_cast<uint32_t>(num_);
            b_.count = 3;
            digits_ = false;
            num_ = 0;
            return 0;
        }
        unsigned char p = peek_after(i);
        int op = p == 'N' ? FOR_FMT_EN_NW : p == 'S' ? FOR_FMT_ES_NW : p == 'X' ? FOR_FMT_EX : FOR_FMT_E_NW;
        int st = start_descriptor(i, op, false);
        if (op != FOR_FMT_E_NW) i = skip_second(i);
        return st;
    }
    case 'F': return start_descriptor(i, FOR_FMT_F_NW, false);
    case 'G': return start_descriptor(i, FOR_FMT_G_NW, false);
    case 'L': return start_descriptor(i, FOR_FMT_L_NW, false);
    case 'I': return start_descriptor(i, FOR_FMT_I_NW, true);
    case 'O': return start_descriptor(i, FOR_FMT_O_NW, true);
    case 'Z': return start_descriptor(i, FOR_FMT_Z_NW, true);
    case 'B': return start_descriptor(i, FOR_FMT_B_NW, true);
    default: return fail_at(i);
    }
}

// The descriptors that set a mode of the statement and take no item: S,
// SP, SS, BN, BZ, RU/RD/RZ/RN/RC/RP, DC, DP, the scale factor P, and Q.
int Compiler::control(std::size_t &i, unsigned char c) {
    const std::size_t n = s_.size();
    switch (c) {
    case 'B':
    case 'D': {
        if (!nothing_pending()) return fail_at(i);
        unsigned char p = peek_after(i);
        i = skip_second(i);
        if (c == 'B') return emit_now(p == 'N' ? FOR_FMT_BN : FOR_FMT_BZ);
        return emit_now(p == 'C' ? FOR_FMT_DC : FOR_FMT_DP);
    }
    case 'S': {
        if (!nothing_pending()) return fail_at(i);
        unsigned char p = peek_after(i);
        int op = FOR_FMT_S;
        if (p == 'P' || p == 'S') {
            op = p == 'P' ? FOR_FMT_SP : FOR_FMT_SS;
            i = skip_second(i);
        }
        return emit_now(op);
    }
    case 'R': {
        if (!nothing_pending()) return fail_at(i);
        static constexpr char modes[] = "UDZNCP";
        unsigned char p = peek_after(i);
        const char *m = p ? std::strchr(modes, p) : nullptr;
        if (m == nullptr) return fail_at(skip_second(i) < n ? skip_second(i) : n);
        i = skip_second(i);
        return emit_now(FOR_FMT_RU + static_cast<int>(m - modes));
    }
    case 'Q':
        if (!nothing_pending()) return fail_at(i);
        return emit_now(FOR_FMT_Q);
    case 'P': {
        if (b_.op != 0 || (sign_ != 0 && !digits_)) return fail_at(i);
        // The scale factor lives in a signed byte of the state.
        int64_t k = digits_ ? static_cast<int64_t>(num_) : 0;
        if (sign_ < 0) k = -k;
        if (k < INT8_MIN || k > INT8_MAX) return fail_at(i);
        sign_ = 0;
        digits_ = false;
        num_ = 0;
        b_.op = FOR_FMT_P;
        b_.count = 2;
        b_.f1 = 0;
        b_.f2 = k;
        b_.f3 = b_.f4 = 0;
        return emit_comp_fmt(b_);
    }
    default: return fail_at(i);
    }
}

// nX, and T, TL, TR, whose position follows as their field.
int Compiler::position(std::size_t &i, unsigned char c) {
    if (c == 'X') {
        if (b_.op != 0) return msg::format_syntax;
        if (sign_ != 0 || (digits_ && num_ == 0)) return fail_at(i);
        b_.op = FOR_FMT_X;
        b_.count = 1;
        b_.f1 = digits_ ? num_ : 1;
        b_.f2 = 0;
        b_.f3 = b_.f4 = 0;
        digits_ = false;
        num_ = 0;
        return emit_comp_fmt(b_);
    }
    if (!nothing_pending()) return fail_at(i);
    unsigned char p = peek_after(i);
    int op = FOR_FMT_T;
    if (p == 'L' || p == 'R') {
        op = p == 'L' ? FOR_FMT_TL : FOR_FMT_TR;
        i = skip_second(i);
    }
    b_.op = static_cast<uint8_t>(op);
    b_.count = 1;
    b_.f1 = 0;
    b_.f2 = 0;
    b_.f3 = b_.f4 = 0;
    return 0;
}

// nH and quoted literals.
int Compiler::literal(std::size_t &i, unsigned char c) {
    if (c == 'H') return hollerith(i);
    if (sign_ != 0 || (b_.op == 0 && digits_)) return fail_at(i);
    int st = finish();
    if (st == 0) st = literal_quoted(i);
    return st;
}

// "(" with its repeat count or the "*" before it, and ")"; `done` is set
// by the final ")".
int Compiler::group(std::size_t i, unsigned char c, bool &done) {
    const std::size_t n = s_.size();
    switch (c) {
    case '*':
        if (unlimited_seen_ || !nothing_pending() || i + 1 >= n || s_[i + 1] != '(') return fail_at(i);
        unlimited_seen_ = true;
        star_ = true;
        return 0;
    case '(': {
        if (b_.op != 0 || sign_ < 0) return fail_at(i);
        if (level_ == for_fmt_max_depth) return msg::format_nesting_limit_exceeded;
        b_.op = FOR_FMT_GROUP_BEGIN;
        b_.count = 1;
        b_.f1 = star_ ? uint64_t{for_fmt_unlimited} : digits_ && num_ != 0 ? num_ : 1;
        b_.f2 = 0;
        b_.f3 = b_.f4 = 0;
        sign_ = 0;
        digits_ = false;
        num_ = 0;
        int st = emit_comp_fmt(b_);
        ++level_;
        empty_[level_] = true;
        unlimited_[level_] = star_;
        star_ = false;
        return st;
    }
    default: return close_group(i, done);
    }
}

// The separators: "," between items, and "/", ":", "$" and "\", which
// end the pending descriptor and are records of their own.
int Compiler::separator(std::size_t i, unsigned char c) {
    if (c == ',') {
        if (b_.op != 0) return finish();
        if (digits_ || sign_ != 0) return fail_at(i);
        return 0;
    }
    if (sign_ != 0) return fail_at(i);
    if (c != '/') {
        int st = finish();
        if (st == 0) st = emit_now(c == ':' ? FOR_FMT_COLON : FOR_FMT_DOLLAR);
        return st;
    }
    uint64_t r = 0;
    int st = 0;
    if (b_.op == 0 && digits_) {
        r = num_;
        digits_ = false;
        num_ = 0;
    } else {
        st = finish();
    }
    if (st == 0) {
        // The count is carried in field 1 without counting as a field:
        // fmt_check gives "/" none to require.
        b_.op = FOR_FMT_SLASH;
        b_.count = 0;
        b_.f1 = r;
        b_.f2 = 0;
        b_.f3 = b_.f4 = 0;
        st = emit_comp_fmt(b_);
    }
    return st;
}

// One upper-cased character of the format to the family it belongs to.
int Compiler::step(std::size_t &i, unsigned char c, bool &done) {
    if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') return number(i, c);
    switch (c) {
    case 'B': {
        unsigned char p = peek_after(i);
        return p == 'N' || p == 'Z' ? control(i, c) : data_edit(i, c);
    }
    case 'D': {
        unsigned char p = peek_after(i);
        return p == 'C' || p == 'P' ? control(i, c) : data_edit(i, c);
    }
    case 'A':
    case 'E':
    case 'F':
    case 'G':
    case 'L':
    case 'I':
    case 'O':
    case 'Z': return data_edit(i, c);
    case 'S':
    case 'R':
    case 'Q':
    case 'P': return control(i, c);
    case 'X':
    case 'T': return position(i, c);
    case 'H':
    case '\'':
    case '"': return literal(i, c);
    case '*':
    case '(':
    case ')': return group(i, c, done);
    case '/':
    case ':':
    case '$':
    case '\\':
    case ',': return separator(i, c);
    default: return fail_at(i);
    }
}

int Compiler::run() {
    const std::size_t n = s_.size();
    std::size_t i = next_nonblank(0);
    if (i >= n || s_[i] != '(') return quote_from(i);
    if (int st = emit_now(FOR_FMT_FORMAT_BEGIN); st != 0) return st;
    level_ = 1;
    empty_[1] = true;
    unlimited_[1] = false;
    for (++i; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s_[i]);
        if (is_blank(c)) continue;
        if (c < '\t' || c > 'z') return fail_at(i);
        // The unlimited group ends the outer list: once back at level 1,
        // only the final ")" may follow: no comma and no further item.
        if (unlimited_closed_ && level_ == 1 && c != ')') return fail_at(i);
        bool done = false;
        if (int st = step(i, upper(c), done); st != 0) return st;
        if (done) return 0;  // text after the final ")" is not examined
    }
    return quote_from(n - 1);
}

}  // namespace

int for__format_compile_text(std::string_view text, bool diagnose, uint32_t limit, unsigned char **result,
                             uint32_t *size) {
    Compiler c(text, diagnose, limit);
    if (int st = c.run(); st != 0) return st;
    *result = c.release(size);
    return 0;
}

int for__format_compiler(const For_Char_Format *fmt, unsigned char **result, int32_t diagnose) {
    std::string_view text;
    if (fmt != nullptr && fmt->text != nullptr && fmt->length > 0)
        text = std::string_view(fmt->text, static_cast<std::size_t>(fmt->length));
    uint32_t size;
    return for__format_compile_text(text, diagnose != 0, for_fmt_max_size, result, &size);
}

void for__format_free(For_Fmt_Isb *isb) {
    if (!(isb->flags & isbf::format_owned)) return;
    isb->flags &= ~isbf::format_owned;
    for__free_vm(const_cast<unsigned char *>(isb->format_start));
    isb->format_start = nullptr;
    isb->current = nullptr;
}
