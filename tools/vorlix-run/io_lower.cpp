// The lowering of I/O statements, STOP and ERROR STOP into calls of the
// library, built as compiled code builds them: a flag word, descriptor
// lists with the form each item needs, value slots, control-list keyword
// items, one entry call with the first group of items and one _xmit call
// per further group. Descriptor bytes and the slots of items whose address
// never changes are laid out once, at translation; only the slots of
// subscripted items and of expression values are rewritten per execution.
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <vorlix/abi.h>
#include <vorlix/io.h>
#include <vorlix/runtime.h>

#include "program.h"

namespace vrun {

namespace {

uint64_t addr(const void *p) { return reinterpret_cast<uintptr_t>(p); }

using SlotPatch = std::function<void(Machine &, uint64_t *)>;

// One group of items: the bytes, the slot template and the patches that
// refresh the slots of items known only at run time.
struct Group {
    std::vector<uint8_t> dsc;
    std::vector<uint64_t> val;
    std::vector<std::pair<size_t, SlotPatch>> patches;
    std::vector<std::shared_ptr<void>> keep;  // storage the slots point into
    void refresh(Machine &m) {
        for (auto &[offset, patch] : patches) patch(m, val.data() + offset);
    }
    const uint64_t *values() const {
        static const uint64_t none = 0;  // a value list is never a null pointer
        return val.empty() ? &none : val.data();
    }
};

// A segment of an I/O list: a group, or an implied DO whose body is sent as
// one group per iteration.
struct Segment {
    Group group;
    bool loop = false;
    Var *var = nullptr;
    NodeP from, to, step;
    std::vector<Segment> body;
};

[[noreturn]] void run_fail(const Where &at, std::string msg) { throw RunError{at, std::move(msg)}; }

int64_t eval_int(Machine &m, const NodeP &n) { return n->eval(m).v[0].i; }

// Appends one item (descriptor bytes and slots) to a group.
void add_item(Translator &t, Group &g, const Expr &e, bool input) {
    auto put = [&](int type, int form, std::vector<uint64_t> slots, SlotPatch patch) {
        g.dsc.push_back(static_cast<uint8_t>(type));
        g.dsc.push_back(static_cast<uint8_t>(form));
        size_t offset = g.val.size();
        g.val.insert(g.val.end(), slots.begin(), slots.end());
        if (patch) g.patches.emplace_back(offset, std::move(patch));
    };
    if (e.kind == Expr::Kind::Ref && t.has_var(e.name)) {
        auto d = t.designator(e);
        if (d->var->param) {
            if (input) t.fail(e.at, "a named constant cannot be read into");
        } else {
            const Type ty = d->var->type;
            const int code = ty.code();
            const bool chr = ty.base == Base::Char;
            auto slots_of = [d, chr, code](const Section &s) {
                std::vector<uint64_t> v;
                if (s.rank == 0) {
                    if (chr)
                        v = {static_cast<uint64_t>(s.type.len), addr(s.base)};
                    else
                        v = {addr(s.base)};
                } else if (s.whole) {
                    uint64_t bytes = static_cast<uint64_t>(s.elements() * s.type.size());
                    if (chr)
                        v = {bytes, addr(s.base), static_cast<uint64_t>(s.type.len)};
                    else
                        v = {bytes, addr(s.base)};
                } else {
                    v = {static_cast<uint64_t>(s.rank), addr(s.base)};
                    if (chr) v.push_back(static_cast<uint64_t>(s.type.len));
                    for (int k = 0; k < s.rank; ++k) {
                        v.push_back(1);
                        v.push_back(static_cast<uint64_t>(s.count[k]));
                        v.push_back(static_cast<uint64_t>(s.stride[k]));
                    }
                }
                (void)code;
                return v;
            };
            int form;
            const bool whole = d->subs.empty() && !d->substring;
            if (d->rank == 0)
                form = chr ? FOR_FORM_CHAR : FOR_FORM_ADDR;
            else if (whole)
                form = chr ? FOR_FORM_ARRAY_ELEN : FOR_FORM_ARRAY;
            else
                form = chr ? FOR_FORM_SECTION_ELEN : FOR_FORM_SECTION;
            if (d->fixed()) {
                Machine scratch;
                put(code, form, slots_of(d->resolve(scratch)), nullptr);
            } else {
                size_t n = d->rank == 0 ? (chr ? 2 : 1) : (chr ? 3 : 2) + 3 * static_cast<size_t>(d->rank);
                put(code, form, std::vector<uint64_t>(n, 0), [d, slots_of](Machine &m, uint64_t *out) {
                    Section s = d->resolve(m);
                    std::vector<uint64_t> v = slots_of(s);
                    std::memcpy(out, v.data(), v.size() * 8);
                });
            }
            return;
        }
    }
    if (input) t.fail(e.at, "an input item must be a variable");
    // An expression: its value goes into storage owned by the statement.
    NodeP n = t.expr(e);
    const Type ty = n->type;
    const bool chr = ty.base == Base::Char;
    auto temp = std::make_shared<std::vector<__float128>>();
    auto text = std::make_shared<std::string>();
    auto fill = [n, temp, text, ty, chr](Machine &m, uint64_t *out) {
        Value v = n->eval(m);
        if (chr) {
            text->clear();
            for (const Scalar &s : v.v) text->append(s.s);
            if (v.is_array()) {
                out[0] = text->size();
                out[1] = addr(text->data());
                out[2] = static_cast<uint64_t>(v.type.len);
            } else {
                out[0] = text->size();
                out[1] = addr(text->data());
            }
            return;
        }
        const int64_t es = ty.size();
        temp->assign(static_cast<size_t>((es * v.count() + 15) / 16 + 1), 0);
        auto *p = reinterpret_cast<unsigned char *>(temp->data());
        for (int64_t i = 0; i < v.count(); ++i) store(p + i * es, ty, v.v[static_cast<size_t>(i)]);
        if (v.is_array()) {
            out[0] = static_cast<uint64_t>(es * v.count());
            out[1] = addr(p);
        } else {
            out[0] = addr(p);
        }
    };
    int form = n->rank ? (chr ? FOR_FORM_ARRAY_ELEN : FOR_FORM_ARRAY) : (chr ? FOR_FORM_CHAR : FOR_FORM_ADDR);
    size_t slots = n->rank ? (chr ? 3 : 2) : (chr ? 2 : 1);
    if (n->constant()) {
        std::vector<uint64_t> v(slots, 0);
        Machine scratch;
        fill(scratch, v.data());
        put(ty.code(), form, v, nullptr);
        g.keep.push_back(temp);
        g.keep.push_back(text);
    } else {
        put(ty.code(), form, std::vector<uint64_t>(slots, 0), fill);
    }
}

void end_group(Group &g, bool last) {
    g.dsc.push_back(last ? FOR_TYPE_END_STMT : FOR_TYPE_END_GROUP);
    g.dsc.push_back(0);
}

// Splits an I/O list into segments: a run of plain items is one group; each
// implied DO is a loop whose iterations are groups of their own.
void segments_of(Translator &t, const std::vector<std::unique_ptr<ImpliedDo>> &items, bool input,
                 std::vector<Segment> &out) {
    for (const auto &it : items) {
        if (it->expr) {
            if (out.empty() || out.back().loop) out.emplace_back();
            add_item(t, out.back().group, *it->expr, input);
            continue;
        }
        Segment s;
        s.loop = true;
        s.var = t.lookup(it->var, it->at);
        if (s.var->type.base != Base::Int || s.var->rank || s.var->param)
            t.fail(it->at, "an implied-DO variable must be a scalar integer variable");
        s.from = t.expr(*it->from);
        s.to = t.expr(*it->to);
        if (it->step) s.step = t.expr(*it->step);
        for (const NodeP *p : {&s.from, &s.to, &s.step})
            if (*p && ((*p)->type.base != Base::Int || (*p)->rank))
                t.fail(it->at, "implied-DO bounds must be scalar integers");
        segments_of(t, it->body, input, s.body);
        out.push_back(std::move(s));
    }
}

// Appends a list's segments to a statement's: a run of plain items joins
// the group before it, so that the entry's group takes as many as it can.
void append_segments(std::vector<Segment> &segs, std::vector<Segment> &list) {
    for (Segment &seg : list) {
        if (!seg.loop && !segs.empty() && !segs.back().loop) {
            Group &g = segs.back().group;
            size_t base = g.val.size();
            g.dsc.insert(g.dsc.end(), seg.group.dsc.begin(), seg.group.dsc.end());
            g.val.insert(g.val.end(), seg.group.val.begin(), seg.group.val.end());
            for (auto &[off, patch] : seg.group.patches) g.patches.emplace_back(base + off, std::move(patch));
            g.keep.insert(g.keep.end(), seg.group.keep.begin(), seg.group.keep.end());
        } else {
            segs.push_back(std::move(seg));
        }
    }
}

// Marks the ends of groups: every group ends a group, except the last group
// of the statement at the top level, which ends the statement.
void close_segments(std::vector<Segment> &segs, bool top) {
    for (size_t i = 0; i < segs.size(); ++i) {
        if (segs[i].loop) {
            // A loop body is sent whole per iteration: one group.
            std::vector<Segment> flat;
            close_segments(segs[i].body, false);
        } else {
            end_group(segs[i].group, top && i + 1 == segs.size());
        }
    }
}

// A character value for the library: constant text fixed at translation,
// else evaluated per execution into statement-owned storage.
struct CharArg {
    NodeP node;
    std::shared_ptr<std::string> text = std::make_shared<std::string>();
    bool dynamic = false;
    void set(Translator &t, const Expr &e, const char *what) {
        node = t.expr(e);
        if (node->type.base != Base::Char || node->rank)
            t.fail(e.at, std::string(what) + " must be a scalar character value");
        dynamic = !node->constant();
        if (!dynamic) {
            Machine scratch;
            *text = node->eval(scratch).v[0].s;
        }
    }
    void refresh(Machine &m) {
        if (dynamic) *text = node->eval(m).v[0].s;
    }
};

// A keyword list (control list) with the same template-and-patch scheme.
struct KeyList {
    Group g;
    void key_char(Translator &t, int code, const Expr &e, const char *what) {
        auto c = std::make_shared<CharArg>();
        c->set(t, e, what);
        key_raw(FOR_TYPE_CHARACTER, FOR_FORM_CHAR, code, {c->text->size(), addr(c->text->data())});
        g.keep.push_back(c);
        if (c->dynamic) {
            g.patches.emplace_back(g.val.size() - 2, [c](Machine &m, uint64_t *out) {
                c->refresh(m);
                out[0] = c->text->size();
                out[1] = addr(c->text->data());
            });
        }
    }
    // A variable the statement writes (IOMSG=, NEWUNIT=).
    void key_var(Translator &t, int code, const Expr &e, Base want, const char *what) {
        auto d = t.designator(e);
        if (d->rank || d->type.base != want || d->var->param)
            t.fail(e.at, std::string(what) + " needs a scalar variable of the right type");
        const bool chr = want == Base::Char;
        Machine scratch;
        std::vector<uint64_t> slots = chr ? std::vector<uint64_t>{0, 0} : std::vector<uint64_t>{0};
        key_raw(d->var->type.code(), chr ? FOR_FORM_CHAR : FOR_FORM_ADDR, code, slots);
        size_t off = g.val.size() - slots.size();
        auto patch = [d, chr](Machine &m, uint64_t *out) {
            Section s = d->resolve(m);
            if (chr) {
                out[0] = static_cast<uint64_t>(s.type.len);
                out[1] = addr(s.base);
            } else {
                out[0] = addr(s.base);
            }
        };
        if (d->fixed())
            patch(scratch, g.val.data() + off);
        else
            g.patches.emplace_back(off, patch);
    }
    // An integer value passed in the slot itself (RECL=, POS=).
    void key_int(Translator &t, int code, const Expr &e, const char *what) {
        NodeP n = t.expr(e);
        if (n->type.base != Base::Int || n->rank) t.fail(e.at, std::string(what) + " must be a scalar integer");
        key_raw(FOR_TYPE_INT8, FOR_FORM_VALUE, code, {0});
        size_t off = g.val.size() - 1;
        auto patch = [n](Machine &m, uint64_t *out) { out[0] = static_cast<uint64_t>(eval_int(m, n)); };
        if (n->constant()) {
            Machine scratch;
            patch(scratch, g.val.data() + off);
        } else {
            g.patches.emplace_back(off, patch);
        }
    }
    void key_raw(int type, int form, int code, std::vector<uint64_t> slots) {
        g.dsc.insert(g.dsc.end(),
                     {static_cast<uint8_t>(type), static_cast<uint8_t>(form), static_cast<uint8_t>(code), 0});
        g.val.insert(g.val.end(), slots.begin(), slots.end());
    }
};

// The specifiers every statement may have: IOSTAT= and the branches.
struct Outcome {
    std::shared_ptr<Designator> iostat;
    int err = -1, end = -1, eor = -1;
    bool has_err = false, has_end = false, has_eor = false;
    For_IO_Flags flags() const {
        For_IO_Flags f = 0;
        if (has_err) f |= iof_err;
        if (has_end) f |= iof_end;
        if (has_eor) f |= iof_eor;
        if (iostat) f |= iof_iostat | iof_ext;
        return f;
    }
    // Stores IOSTAT= and picks the branch: END= for end of file, EOR= for
    // end of record, ERR= for any other condition the library returned.
    int finish(Machine &m, int status) const {
        if (iostat) {
            Section s = iostat->resolve(m);
            Scalar x;
            x.i = status;
            store(s.base, s.type, x);
        }
        if (status == -1 && has_end) return end;
        if (status == -2 && has_eor) return eor;
        if (status != 0 && has_err) return err;
        return -1;
    }
};

int label_of(Translator &t, const Specifier &sp) {
    if (!sp.value || sp.value->kind != Expr::Kind::Int) t.fail(sp.at, "a statement label is required");
    return static_cast<int>(sp.value->ival);
}

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The entry named, or a translation error saying which statement the
// library cannot do yet.
void *need_entry(Translator &t, const Where &at, const std::string &what, const std::string &name) {
    void *p = library_entry(name.c_str());
    if (!p) t.fail(at, "this library has no " + what + " yet (entry " + name + ")");
    return p;
}

using SeqFn = int (*)(For_Context *, int, For_IO_Flags, const uint8_t *, const uint64_t *, const uint8_t *,
                      const uint64_t *);
using SeqFmtFn = int (*)(For_Context *, int, For_IO_Flags, const uint8_t *, const uint64_t *, const void *,
                         const uint8_t *, const uint64_t *);
using DirFn = int (*)(For_Context *, int, For_IO_Flags, const uint8_t *, const uint64_t *, int64_t, const uint8_t *,
                      const uint64_t *);
using DirFmtFn = int (*)(For_Context *, int, For_IO_Flags, const uint8_t *, const uint64_t *, int64_t, const void *,
                         const uint8_t *, const uint64_t *);
using IntFn = int (*)(For_Context *, For_IO_Flags, const uint8_t *, const uint64_t *, const uint8_t *,
                      const uint64_t *);
using IntFmtFn = int (*)(For_Context *, For_IO_Flags, const uint8_t *, const uint64_t *, const void *, const uint8_t *,
                         const uint64_t *);
using XmitFn = int (*)(For_Context *, const uint8_t *, const uint64_t *, uint64_t);
using KeyFn = int (*)(For_Context *, int, For_IO_Flags, const uint8_t *, const uint64_t *);
using IoLengthFn = int (*)(For_Context *, For_IO_Flags, const uint8_t *, const uint64_t *);

enum class Family { SeqUnf, SeqLis, SeqFmt, DirUnf, DirFmt, IntLis, IntFmt, IoLength };

struct TransferAction : Action {
    Family family = Family::SeqLis;
    void *entry = nullptr;
    XmitFn xmit = nullptr;
    For_IO_Flags flags = 0;
    NodeP unit;  // external unit (null: fixed_unit)
    int fixed_unit = 0;
    NodeP rec;
    // The format: constant text fixed at translation, or evaluated.
    CharArg fmt;
    For_Char_Format fmt_arg{0, nullptr};
    bool has_control = false;
    KeyList control;
    std::vector<CharArg *> control_chars;
    std::vector<Segment> segs;
    Outcome out;

    int status = 0;
    bool first = true;
    For_Context ctx{};
    int unit_now = 0;
    int64_t rec_now = 0;

    int call(Group &g) {
        const uint8_t *cd = has_control ? control.g.dsc.data() : nullptr;
        const uint64_t *cv = has_control ? control.g.values() : nullptr;
        const void *f = &fmt_arg;
        if (!first) return xmit(&ctx, g.dsc.data(), g.values(), 0);
        first = false;
        switch (family) {
        case Family::SeqUnf:
        case Family::SeqLis:
            return reinterpret_cast<SeqFn>(entry)(&ctx, unit_now, flags, g.dsc.data(), g.values(), cd, cv);
        case Family::SeqFmt:
            return reinterpret_cast<SeqFmtFn>(entry)(&ctx, unit_now, flags, g.dsc.data(), g.values(), f, cd, cv);
        case Family::DirUnf:
            return reinterpret_cast<DirFn>(entry)(&ctx, unit_now, flags, g.dsc.data(), g.values(), rec_now, cd, cv);
        case Family::DirFmt:
            return reinterpret_cast<DirFmtFn>(entry)(&ctx, unit_now, flags, g.dsc.data(), g.values(), rec_now, f, cd,
                                                     cv);
        case Family::IntLis: return reinterpret_cast<IntFn>(entry)(&ctx, flags, g.dsc.data(), g.values(), cd, cv);
        case Family::IntFmt: return reinterpret_cast<IntFmtFn>(entry)(&ctx, flags, g.dsc.data(), g.values(), f, cd, cv);
        case Family::IoLength: return reinterpret_cast<IoLengthFn>(entry)(&ctx, flags, g.dsc.data(), g.values());
        }
        return 0;
    }

    // Sends the segments; false once a call has ended the statement.
    bool send(Machine &m, std::vector<Segment> &list) {
        for (Segment &s : list) {
            if (!s.loop) {
                s.group.refresh(m);
                status = call(s.group);
                if (status != 0) return false;
                continue;
            }
            int64_t a = eval_int(m, s.from), b = eval_int(m, s.to), st = s.step ? eval_int(m, s.step) : 1;
            if (st == 0) run_fail(at, "an implied DO with a zero step");
            for (int64_t i = a; st > 0 ? i <= b : i >= b; i += st) {
                Scalar x;
                x.i = i;
                store(s.var->data(), s.var->type, x);
                if (!send(m, s.body)) return false;
            }
        }
        return true;
    }

    int run(Machine &m) override {
        ctx = For_Context{};
        first = true;
        status = 0;
        if (unit)
            unit_now = static_cast<int>(eval_int(m, unit));
        else
            unit_now = fixed_unit;
        if (rec) rec_now = eval_int(m, rec);
        if (fmt.node && fmt.dynamic) {
            fmt.refresh(m);
            fmt_arg = {static_cast<int64_t>(fmt.text->size()), fmt.text->data()};
        }
        for (CharArg *c : control_chars) c->refresh(m);
        if (has_control) control.g.refresh(m);
        send(m, segs);
        return out.finish(m, status);
    }
    ~TransferAction() override {
        for (CharArg *c : control_chars) delete c;
    }
};

std::string family_words(Family f) {
    switch (f) {
    case Family::SeqUnf: return "unformatted sequential";
    case Family::SeqLis: return "list-directed";
    case Family::SeqFmt: return "formatted";
    case Family::DirUnf: return "unformatted direct-access";
    case Family::DirFmt: return "formatted direct-access";
    case Family::IntLis: return "list-directed internal";
    case Family::IntFmt: return "formatted internal";
    case Family::IoLength: return "INQUIRE (IOLENGTH=)";
    }
    return "";
}

ActionP lower_transfer(Translator &t, const Stmt &s) {
    auto a = std::make_unique<TransferAction>();
    const bool input = s.kind == Stmt::Kind::Read;
    const Specifier *unit = nullptr, *fmt = nullptr;
    std::map<std::string, const Specifier *> kw;
    int positional = 0;
    for (const Specifier &sp : s.specifiers) {
        std::string k = sp.keyword;
        if (k.empty()) {
            ++positional;
            if (positional == 1 && s.kind != Stmt::Kind::Print &&
                !(s.kind == Stmt::Kind::Read && s.specifiers[0].keyword == "fmt"))
                k = "unit";
            else if (positional <= 2)
                k = "fmt";
            else
                t.fail(sp.at, "too many positional specifiers");
        }
        if (kw.count(k)) t.fail(sp.at, upper(k) + "= is given twice");
        kw[k] = &sp;
    }
    if (kw.count("unit")) unit = kw["unit"];
    if (kw.count("fmt")) fmt = kw["fmt"];
    static const std::set<std::string> known{"unit",    "fmt",   "rec",     "iostat", "iomsg", "err",
                                             "end",     "eor",   "advance", "size",   "pos",   "blank",
                                             "decimal", "delim", "pad",     "round",  "sign"};
    for (auto &[k, sp] : kw) {
        if (k == "nml") t.fail(sp->at, "namelist I/O is outside the subset");
        if (!known.count(k)) t.fail(sp->at, "the specifier " + upper(k) + "= is outside the subset of data transfers");
    }
    const bool print_like = s.kind == Stmt::Kind::Print || (s.kind == Stmt::Kind::Read && !unit);
    if (!print_like && !unit) t.fail(s.at, "a data transfer needs a unit");
    bool internal = false;
    std::shared_ptr<Designator> internal_file;
    if (print_like) {
        a->fixed_unit = s.kind == Stmt::Kind::Print ? FOR_UNIT_PRINT : FOR_UNIT_READ;
    } else if (unit->star) {
        a->fixed_unit = input ? FOR_UNIT_READ : FOR_UNIT_PRINT;
    } else {
        NodeP u = t.expr(*unit->value);
        if (u->type.base == Base::Char) {
            internal = true;
            internal_file = t.designator(*unit->value);
            if (internal_file->var->param && !input) t.fail(unit->at, "writing into a named constant");
        } else if (u->type.base != Base::Int || u->rank) {
            t.fail(unit->at, "a unit must be a scalar integer or a character variable");
        } else if (u->constant()) {
            Machine scratch;
            a->fixed_unit = static_cast<int>(u->eval(scratch).v[0].i);
        } else {
            a->unit = u;
        }
    }
    // The format and the statement family.
    bool list_directed = fmt && fmt->star;
    if (fmt && !fmt->star) {
        const Expr &fe = *fmt->value;
        if (fe.kind == Expr::Kind::Int) {
            const std::string *text = t.format_of(static_cast<int>(fe.ival));
            if (!text) t.fail(fmt->at, "no FORMAT statement has the label " + std::to_string(fe.ival));
            *a->fmt.text = *text;
            a->fmt.node = nullptr;
        } else {
            a->fmt.set(t, fe, "a format");
            a->fmt.node = a->fmt.dynamic ? a->fmt.node : nullptr;
        }
        a->fmt_arg = {static_cast<int64_t>(a->fmt.text->size()), a->fmt.text->data()};
    }
    const bool direct = kw.count("rec") != 0;
    if (direct) {
        a->rec = t.expr(*kw["rec"]->value);
        if (a->rec->type.base != Base::Int || a->rec->rank) t.fail(kw["rec"]->at, "REC= must be a scalar integer");
        if (internal) t.fail(kw["rec"]->at, "REC= with an internal file");
        if (list_directed) t.fail(kw["rec"]->at, "REC= with list-directed I/O");
    }
    if (internal)
        a->family = list_directed ? Family::IntLis : Family::IntFmt;
    else if (direct)
        a->family = fmt ? Family::DirFmt : Family::DirUnf;
    else
        a->family = !fmt ? Family::SeqUnf : list_directed ? Family::SeqLis : Family::SeqFmt;
    if (internal && !fmt) t.fail(s.at, "an internal file needs a format or *");
    std::string dir = input ? "read" : "write";
    std::string name;
    switch (a->family) {
    case Family::SeqUnf: name = "for_" + dir + "_seq"; break;
    case Family::SeqLis: name = "for_" + dir + "_seq_lis"; break;
    case Family::SeqFmt: name = "for_" + dir + "_seq_fmt"; break;
    case Family::DirUnf: name = "for_" + dir + "_dir"; break;
    case Family::DirFmt: name = "for_" + dir + "_dir_fmt"; break;
    case Family::IntLis: name = "for_" + dir + "_int_lis"; break;
    case Family::IntFmt: name = "for_" + dir + "_int_fmt"; break;
    case Family::IoLength: name = "for_iolength"; break;
    }
    std::string what = (s.kind == Stmt::Kind::Print ? "PRINT" : upper(dir)) + " (" + family_words(a->family) + ")";
    // Branches and IOSTAT=.
    for (auto [k, flag] : {std::pair{"err", &a->out.has_err}, {"end", &a->out.has_end}, {"eor", &a->out.has_eor}}) {
        if (!kw.count(k)) continue;
        *flag = true;
        int *slot = std::string(k) == "err" ? &a->out.err : std::string(k) == "end" ? &a->out.end : &a->out.eor;
        t.branch(label_of(t, *kw[k]), kw[k]->at, slot);
    }
    if ((a->out.has_end || a->out.has_eor) && !input) t.fail(s.at, "END= and EOR= belong to READ");
    if (kw.count("iostat")) {
        a->out.iostat = t.designator(*kw["iostat"]->value);
        if (a->out.iostat->rank || a->out.iostat->type.base != Base::Int)
            t.fail(kw["iostat"]->at, "IOSTAT= needs a scalar integer variable");
    }
    // A compiler of standard Fortran asks every transfer for the minus sign
    // of a negative value that rounds to zero.
    a->flags = a->out.flags() | iof_f90 | iof_minus_rounded_zero | iof_ext;
    if (a->fmt_arg.text || a->fmt.node) a->flags |= iof_fmt_text;
    // The control list: keyword items in their fixed order, the end marker,
    // then ADVANCE= and SIZE=.
    KeyList &c = a->control;
    bool keys = false;
    if (kw.count("iomsg")) {
        c.key_var(t, FOR_KEY_IOMSG, *kw["iomsg"]->value, Base::Char, "IOMSG=");
        keys = true;
    }
    if (kw.count("pos")) {
        c.key_int(t, FOR_KEY_POS, *kw["pos"]->value, "POS=");
        keys = true;
    }
    for (auto [k, code] : {std::pair{"blank", FOR_KEY_BLANK},
                           {"decimal", FOR_KEY_DECIMAL},
                           {"delim", FOR_KEY_DELIM},
                           {"pad", FOR_KEY_PAD},
                           {"round", FOR_KEY_ROUND},
                           {"sign", FOR_KEY_SIGN}}) {
        if (!kw.count(k)) continue;
        c.key_char(t, code, *kw[k]->value, (upper(k) + "=").c_str());
        keys = true;
    }
    c.g.dsc.insert(c.g.dsc.end(), {FOR_TYPE_END_STMT, 0});
    bool extra = false;
    if (kw.count("advance")) {
        auto *arg = new CharArg;
        a->control_chars.push_back(arg);
        arg->set(t, *kw["advance"]->value, "ADVANCE=");
        c.g.dsc.insert(c.g.dsc.end(), {FOR_TYPE_CHARACTER, FOR_FORM_CHAR});
        c.g.val.insert(c.g.val.end(), {arg->text->size(), addr(arg->text->data())});
        if (arg->dynamic)
            c.g.patches.emplace_back(c.g.val.size() - 2, [arg](Machine &, uint64_t *out) {
                out[0] = arg->text->size();
                out[1] = addr(arg->text->data());
            });
        a->flags |= iof_advance;
        extra = true;
    }
    if (kw.count("size")) {
        if (!input) t.fail(kw["size"]->at, "SIZE= belongs to READ");
        auto d = t.designator(*kw["size"]->value);
        if (d->rank || d->type.base != Base::Int) t.fail(kw["size"]->at, "SIZE= needs a scalar integer variable");
        c.g.dsc.insert(c.g.dsc.end(), {static_cast<uint8_t>(d->type.code()), FOR_FORM_ADDR});
        c.g.val.push_back(0);
        c.g.patches.emplace_back(c.g.val.size() - 1,
                                 [d](Machine &m, uint64_t *out) { out[0] = addr(d->resolve(m).base); });
        a->flags |= iof_size;
        extra = true;
    }
    if (keys) a->flags |= iof_keys | iof_ext;
    a->has_control = keys || extra;
    // The items: the internal file first, then the list.
    if (internal) {
        a->segs.emplace_back();
        Group &g = a->segs.back().group;
        auto d = internal_file;
        g.dsc.push_back(FOR_TYPE_CHARACTER);
        if (d->rank == 0) {
            g.dsc.push_back(FOR_FORM_CHAR);
            g.val.insert(g.val.end(), {0, 0});
            g.patches.emplace_back(0, [d](Machine &m, uint64_t *out) {
                Section sec = d->resolve(m);
                out[0] = static_cast<uint64_t>(sec.type.len);
                out[1] = addr(sec.base);
            });
        } else {
            if (!d->subs.empty() || d->substring)
                t.fail(unit->at, "an internal file array must be a whole array in the subset");
            g.dsc.push_back(FOR_FORM_ARRAY_ELEN);
            Machine scratch;
            Section sec = d->resolve(scratch);
            g.val.insert(g.val.end(), {static_cast<uint64_t>(sec.elements() * sec.type.len), addr(sec.base),
                                       static_cast<uint64_t>(sec.type.len)});
        }
    }
    std::vector<Segment> list;
    segments_of(t, s.items, input, list);
    append_segments(a->segs, list);
    // The entry takes a group of its own; a list that starts or ends with an
    // implied DO gets an empty first group or a closing group.
    if (a->segs.empty() || a->segs.front().loop) a->segs.insert(a->segs.begin(), Segment{});
    if (a->segs.back().loop) a->segs.emplace_back();
    close_segments(a->segs, true);
    bool several = a->segs.size() > 1;
    a->entry = need_entry(t, s.at, what, name);
    if (several)
        a->xmit = reinterpret_cast<XmitFn>(need_entry(t, s.at, what + " with several item groups", name + "_xmit"));
    return a;
}

// OPEN, CLOSE and the positioning statements: one call with a keyword list.
struct KeyedAction : Action {
    KeyFn entry = nullptr;
    NodeP unit;
    int fixed_unit = 0;
    For_IO_Flags flags = 0;
    KeyList keys;
    Outcome out;
    int run(Machine &m) override {
        For_Context ctx{};
        int u = unit ? static_cast<int>(eval_int(m, unit)) : fixed_unit;
        keys.g.refresh(m);
        int status = entry(&ctx, u, flags, keys.g.dsc.data(), keys.g.values());
        return out.finish(m, status);
    }
    // The keyword of a specifier: the one positional specifier is the unit.
    std::string specifier_name(Translator &t, const Specifier &sp, int *positional, std::set<std::string> *seen) {
        std::string k = sp.keyword;
        if (k.empty()) {
            if (++*positional > 1) t.fail(sp.at, "only the unit may be given without a keyword");
            k = "unit";
        }
        if (!seen->insert(k).second) t.fail(sp.at, upper(k) + "= is given twice");
        if (sp.star) t.fail(sp.at, "'*' is not a unit here");
        return k;
    }
    // The specifiers every keyed statement has: UNIT=, IOSTAT=, ERR=,
    // IOMSG=. False for any other.
    bool common_specifier(Translator &t, const Specifier &sp, const std::string &k, bool *have_unit) {
        if (k == "unit") {
            NodeP u = t.expr(*sp.value);
            if (u->type.base != Base::Int || u->rank) t.fail(sp.at, "a unit must be a scalar integer");
            if (u->constant()) {
                Machine scratch;
                fixed_unit = static_cast<int>(u->eval(scratch).v[0].i);
            } else {
                unit = u;
            }
            *have_unit = true;
        } else if (k == "iostat") {
            out.iostat = t.designator(*sp.value);
            if (out.iostat->rank || out.iostat->type.base != Base::Int)
                t.fail(sp.at, "IOSTAT= needs a scalar integer variable");
        } else if (k == "err") {
            out.has_err = true;
            t.branch(label_of(t, sp), sp.at, &out.err);
        } else if (k == "iomsg") {
            keys.key_var(t, FOR_KEY_IOMSG, *sp.value, Base::Char, "IOMSG=");
        } else {
            return false;
        }
        return true;
    }
};

ActionP lower_keyed(Translator &t, const Stmt &s) {
    auto a = std::make_unique<KeyedAction>();
    std::string stmt;
    std::string entry;
    switch (s.kind) {
    case Stmt::Kind::Open:
        stmt = "OPEN";
        entry = "for_open";
        break;
    case Stmt::Kind::Close:
        stmt = "CLOSE";
        entry = "for_close";
        break;
    case Stmt::Kind::Rewind:
        stmt = "REWIND";
        entry = "for_rewind";
        break;
    case Stmt::Kind::Backspace:
        stmt = "BACKSPACE";
        entry = "for_backspace";
        break;
    case Stmt::Kind::Endfile:
        stmt = "ENDFILE";
        entry = "for_endfile";
        break;
    case Stmt::Kind::Flush:
        stmt = "FLUSH";
        entry = "for_flush";
        break;
    default: break;
    }
    const bool open = s.kind == Stmt::Kind::Open;
    const bool close = s.kind == Stmt::Kind::Close;
    static const std::map<std::string, int> open_text{{"file", FOR_KEY_FILE},
                                                      {"status", FOR_KEY_STATUS},
                                                      {"access", FOR_KEY_ACCESS},
                                                      {"form", FOR_KEY_FORM},
                                                      {"action", FOR_KEY_ACTION},
                                                      {"position", FOR_KEY_POSITION},
                                                      {"blank", FOR_KEY_BLANK},
                                                      {"delim", FOR_KEY_DELIM},
                                                      {"pad", FOR_KEY_PAD},
                                                      {"decimal", FOR_KEY_DECIMAL},
                                                      {"round", FOR_KEY_ROUND},
                                                      {"sign", FOR_KEY_SIGN},
                                                      {"encoding", FOR_KEY_ENCODING},
                                                      {"convert", FOR_KEY_CONVERT},
                                                      {"asynchronous", FOR_KEY_ASYNCHRONOUS},
                                                      {"buffered", FOR_KEY_BUFFERED},
                                                      {"carriagecontrol", FOR_KEY_CARRIAGECONTROL},
                                                      {"recordtype", FOR_KEY_RECORDTYPE},
                                                      {"share", FOR_KEY_SHARE},
                                                      {"dispose", FOR_KEY_DISPOSE},
                                                      {"organization", FOR_KEY_ORGANIZATION}};
    bool have_unit = false, newunit = false;
    std::set<std::string> seen;
    int positional = 0;
    for (const Specifier &sp : s.specifiers) {
        const std::string k = a->specifier_name(t, sp, &positional, &seen);
        if (a->common_specifier(t, sp, k, &have_unit)) continue;
        if (open && k == "newunit") {
            a->keys.key_var(t, FOR_KEY_NEWUNIT, *sp.value, Base::Int, "NEWUNIT=");
            newunit = true;
        } else if (open && k == "recl") {
            // Compiled as with the byte-RECL option: RECL= counts bytes for
            // unformatted files too, so the files match other compilers'.
            a->keys.key_int(t, FOR_KEY_RECL_BYTES, *sp.value, "RECL=");
        } else if (open && open_text.count(k)) {
            a->keys.key_char(t, open_text.at(k), *sp.value, (upper(k) + "=").c_str());
        } else if (close && (k == "status" || k == "dispose")) {
            a->keys.key_char(t, FOR_KEY_DISPOSE, *sp.value, "STATUS=");
        } else {
            t.fail(sp.at, "the specifier " + upper(k) + "= is outside the subset of " + stmt);
        }
    }
    if (newunit && have_unit) t.fail(s.at, "UNIT= and NEWUNIT= together");
    if (!have_unit && !newunit) t.fail(s.at, stmt + " needs a unit");
    a->keys.g.dsc.insert(a->keys.g.dsc.end(), {FOR_TYPE_END_STMT, 0});
    // Code compiled from free-form source marks every statement as Fortran
    // 90 or later; on OPEN that selects the standard connection defaults
    // (PAD='yes', DELIM= applying to list-directed output).
    a->flags = a->out.flags() | iof_f90;
    // The positioning statements read their keyword list only when told.
    if (!open && !close && a->keys.g.dsc.size() > 2) a->flags |= iof_keys | iof_ext;
    a->entry = reinterpret_cast<KeyFn>(need_entry(t, s.at, stmt, entry));
    return a;
}

// INQUIRE (IOLENGTH=n) list: a transfer whose first item is n.
ActionP lower_iolength(Translator &t, const Stmt &s) {
    auto a = std::make_unique<TransferAction>();
    a->family = Family::IoLength;
    const Specifier &sp = s.specifiers.front();
    auto d = t.designator(*sp.value);
    if (d->rank || d->type.base != Base::Int || d->var->param)
        t.fail(sp.at, "IOLENGTH= needs a scalar integer variable");
    a->segs.emplace_back();
    add_item(t, a->segs.back().group, *sp.value, true);
    std::vector<Segment> list;
    segments_of(t, s.items, false, list);
    append_segments(a->segs, list);
    if (a->segs.back().loop) a->segs.emplace_back();
    close_segments(a->segs, true);
    a->flags = iof_f90;
    a->entry = need_entry(t, s.at, "INQUIRE (IOLENGTH=)", "for_iolength");
    if (a->segs.size() > 1)
        a->xmit = reinterpret_cast<XmitFn>(
            need_entry(t, s.at, "INQUIRE (IOLENGTH=) with several item groups", "for_iolength_xmit"));
    return a;
}

// INQUIRE by unit or by file: one call with a keyword list of inputs and
// of the variables that receive the answers.
ActionP lower_inquire(Translator &t, const Stmt &s) {
    for (const Specifier &sp : s.specifiers)
        if (sp.keyword == "iolength") {
            if (s.specifiers.size() != 1) t.fail(sp.at, "IOLENGTH= stands alone");
            return lower_iolength(t, s);
        }
    if (!s.items.empty()) t.fail(s.at, "only INQUIRE (IOLENGTH=) has an output list");
    auto a = std::make_unique<KeyedAction>();
    static const std::map<std::string, int> char_answers{
        {"access", 2},      {"blank", 6},        {"carriagecontrol", 8}, {"form", 15},      {"organization", 18},
        {"recordtype", 23}, {"direct", 37},      {"formatted", 39},      {"keyed", 41},     {"name", 43},
        {"sequential", 45}, {"unformatted", 47}, {"convert", 52},        {"action", 58},    {"delim", 59},
        {"pad", 60},        {"position", 61},    {"read", 62},           {"readwrite", 63}, {"write", 64},
        {"mode", 67},       {"share", 68},       {"binary", 70},         {"buffered", 71},  {"asynchronous", 75},
        {"stream", 80},     {"round", 81},       {"decimal", 82},        {"sign", 83},      {"encoding", 84}};
    static const std::map<std::string, int> int_answers{{"recl", 87},      {"nextrec", 31}, {"number", 33},
                                                        {"blocksize", 50}, {"pos", 79},     {"size", 85}};
    static const std::map<std::string, int> logical_answers{
        {"exist", 27}, {"named", 29}, {"opened", 35}, {"pending", 76}};
    static const std::map<std::string, int> text_inputs{
        {"file", FOR_KEY_FILE}, {"defaultfile", FOR_KEY_DEFAULTFILE}, {"directory", 73}};
    bool have_unit = false, have_file = false;
    std::set<std::string> seen;
    int positional = 0;
    for (const Specifier &sp : s.specifiers) {
        const std::string k = a->specifier_name(t, sp, &positional, &seen);
        if (a->common_specifier(t, sp, k, &have_unit)) continue;
        if (text_inputs.count(k)) {
            a->keys.key_char(t, text_inputs.at(k), *sp.value, (upper(k) + "=").c_str());
            if (k != "defaultfile") have_file = true;
        } else if (k == "id") {
            a->keys.key_int(t, 77, *sp.value, "ID=");
        } else if (char_answers.count(k)) {
            a->keys.key_var(t, char_answers.at(k), *sp.value, Base::Char, (upper(k) + "=").c_str());
        } else if (int_answers.count(k)) {
            a->keys.key_var(t, int_answers.at(k), *sp.value, Base::Int, (upper(k) + "=").c_str());
        } else if (logical_answers.count(k)) {
            a->keys.key_var(t, logical_answers.at(k), *sp.value, Base::Logical, (upper(k) + "=").c_str());
        } else {
            t.fail(sp.at, "the specifier " + upper(k) + "= is outside the subset of INQUIRE");
        }
    }
    if (have_unit == have_file) t.fail(s.at, "INQUIRE needs exactly one of a unit and FILE=");
    a->keys.g.dsc.insert(a->keys.g.dsc.end(), {FOR_TYPE_END_STMT, 0});
    a->flags = a->out.flags() | iof_f90;
    a->entry = reinterpret_cast<KeyFn>(need_entry(t, s.at, "INQUIRE", "for_inquire"));
    return a;
}

}  // namespace

ActionP lower_io(Translator &t, const Stmt &s) {
    switch (s.kind) {
    case Stmt::Kind::Read:
    case Stmt::Kind::Write:
    case Stmt::Kind::Print: return lower_transfer(t, s);
    case Stmt::Kind::Open:
    case Stmt::Kind::Close:
    case Stmt::Kind::Rewind:
    case Stmt::Kind::Backspace:
    case Stmt::Kind::Endfile:
    case Stmt::Kind::Flush: return lower_keyed(t, s);
    case Stmt::Kind::Inquire: return lower_inquire(t, s);
    case Stmt::Kind::Wait:
        need_entry(t, s.at, "WAIT", "for_wait");
        t.fail(s.at, "WAIT is not lowered by this vorlix-run yet");
    default: break;
    }
    t.fail(s.at, "statement not handled");
}

namespace {

using StopTextFn = int (*)(const char *, int, For_IO_Flags, int, int);
using StopQuietFn = int (*)(const char *, int, int, For_IO_Flags, int, int);
using ErrorStopFn = int (*)(const char *, int, For_IO_Flags, int, int);
using ErrorStopQuietFn = int (*)(const char *, int, int, For_IO_Flags, int, int);

// STOP [code] and ERROR STOP [code]. With the library's entries the text
// and the exit go through them; without, the runner prints the code to
// standard error, closes the units through the normal end and exits with
// the status the STOP rules give (the code, 0, or 128 for ERROR STOP).
struct StopAction : Action {
    bool error = false;
    bool quiet = false;
    NodeP code;
    void *entry = nullptr;
    int run(Machine &m) override {
        std::string text;
        bool integer = false;
        int64_t value = 0;
        if (code) {
            Value v = code->eval(m);
            if (v.type.base == Base::Int) {
                integer = true;
                value = v.v[0].i;
                text = std::to_string(value);
            } else {
                text = v.v[0].s;
            }
        }
        const int len = static_cast<int>(text.size());
        if (entry) {
            if (!error) {
                if (quiet)
                    reinterpret_cast<StopQuietFn>(entry)(text.data(), len, 1, 0, static_cast<int>(value), integer);
                else
                    reinterpret_cast<StopTextFn>(entry)(text.data(), len, 0, static_cast<int>(value), integer);
            } else {
                if (quiet)
                    reinterpret_cast<ErrorStopQuietFn>(entry)(text.data(), len, 1, 0, static_cast<int>(value), integer);
                else
                    reinterpret_cast<ErrorStopFn>(entry)(text.data(), len, 0, static_cast<int>(value), integer);
            }
        }
        int status = integer ? static_cast<int>(value) : (error ? 128 : 0);
        if (!quiet && len) std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
        for_rtl_finish_();
        std::fflush(nullptr);
        _exit(status);
    }
};

}  // namespace

ActionP lower_stop(Translator &t, const Stmt &s) {
    auto a = std::make_unique<StopAction>();
    a->error = s.kind == Stmt::Kind::ErrorStop;
    a->quiet = s.quiet;
    if (s.value) {
        a->code = t.expr(*s.value);
        if (a->code->rank || (a->code->type.base != Base::Int && a->code->type.base != Base::Char))
            t.fail(s.value->at, "a stop code is a scalar integer or character value");
        if (a->code->type.base == Base::Int && a->code->type.kind != 4)
            t.fail(s.value->at, "a stop code of a kind other than 4 is outside the subset");
    }
    const char *name = a->error ? (a->quiet ? "for_error_stop_quiet" : "for_error_stop")
                                : (a->quiet ? "for_stop_core_quiet" : "for_stop_core");
    a->entry = library_entry(name);
    return a;
}

}  // namespace vrun
