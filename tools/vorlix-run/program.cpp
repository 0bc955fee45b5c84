// Translation of statements and expressions, and the executor.
#include "program.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace vrun {

void *library_entry(const char *name) { return dlsym(RTLD_DEFAULT, name); }

void Translator::fail(const Where &at, std::string message) { throw TranslateError{{at, std::move(message)}}; }

namespace {

Type int_type(int kind = 4) { return {Base::Int, kind, 1}; }
Type logical_type(int kind = 4) { return {Base::Logical, kind, 1}; }
Type real_type(int kind = 4) { return {Base::Real, kind, 1}; }

bool numeric(const Type &t) { return t.base == Base::Int || t.base == Base::Real || t.base == Base::Complex; }

[[noreturn]] void runtime_fail(const Where &at, std::string msg) { throw RunError{at, std::move(msg)}; }

Value scalar_value(const Type &t, Scalar s) {
    Value v;
    v.type = t;
    if (t.base == Base::Char) v.type.len = static_cast<int64_t>(s.s.size());
    v.v.push_back(std::move(s));
    return v;
}

// Scalars broadcast against arrays; arrays must have the same shape.
template <class F>
Value elemental2(const Where &at, const Value &a, const Value &b, const Type &out, F f) {
    Value r;
    r.type = out;
    if (a.is_array() && b.is_array()) {
        if (a.shape != b.shape) runtime_fail(at, "the arrays of an operation have different shapes");
        r.shape = a.shape;
    } else if (a.is_array()) {
        r.shape = a.shape;
    } else if (b.is_array()) {
        r.shape = b.shape;
    }
    size_t n = r.is_array() ? (a.is_array() ? a.v.size() : b.v.size()) : 1;
    r.v.reserve(n);
    for (size_t i = 0; i < n; ++i) r.v.push_back(f(a.v[a.is_array() ? i : 0], b.v[b.is_array() ? i : 0]));
    if (out.base == Base::Char && !r.v.empty()) r.type.len = static_cast<int64_t>(r.v[0].s.size());
    return r;
}

template <class F>
Value elemental1(const Value &a, const Type &out, F f) {
    Value r;
    r.type = out;
    r.shape = a.shape;
    r.v.reserve(a.v.size());
    for (const Scalar &x : a.v) r.v.push_back(f(x));
    if (out.base == Base::Char && !r.v.empty()) r.type.len = static_cast<int64_t>(r.v[0].s.size());
    return r;
}

struct ConstNode : Node {
    Value value;
    Value eval(Machine &) override { return value; }
    bool constant() const override { return true; }
};

// Evaluation through a closure built at translation: intrinsics, implied
// constructs. `is_const` when all arguments are constant.
struct FnNode : Node {
    std::function<Value(Machine &)> fn;
    bool is_const = false;
    Value eval(Machine &m) override { return fn(m); }
    bool constant() const override { return is_const; }
};

struct UnaryNode : Node {
    std::string op;
    NodeP a;
    Value eval(Machine &m) override {
        Value x = a->eval(m);
        if (op == "()") return x;
        const Type t = type;
        try {
            return elemental1(x, type, [&](const Scalar &s) { return unary_op(op, t, s); });
        } catch (const EvalError &e) {
            runtime_fail(at, e.message);
        }
    }
    bool constant() const override { return a->constant(); }
};

struct BinaryNode : Node {
    std::string op;
    NodeP a, b;
    Type operand;  // the type both operands are converted to
    bool conv_a = false, conv_b = false;
    Value eval(Machine &m) override {
        Value x = a->eval(m);
        Value y = b->eval(m);
        if (conv_a) x = convert_value(x, operand);
        if (conv_b) y = convert_value(y, operand);
        const Type ot = operand;
        try {
            if (op == "**")
                return elemental2(at, x, y, type,
                                  [&](const Scalar &p, const Scalar &q) { return power(x.type, p, y.type, q); });
            return elemental2(at, x, y, type,
                              [&](const Scalar &p, const Scalar &q) { return binary_op(op, ot, p, q); });
        } catch (const EvalError &e) {
            runtime_fail(at, e.message);
        }
    }
    bool constant() const override { return a->constant() && b->constant(); }
};

}  // namespace

Value convert_value(const Value &v, const Type &to) {
    if (v.type == to && to.base != Base::Char) return v;
    Value r;
    r.type = to;
    r.shape = v.shape;
    r.v.reserve(v.v.size());
    for (const Scalar &s : v.v) r.v.push_back(convert(s, v.type, to));
    if (to.base == Base::Char && to.len < 0) {
        r.v = v.v;
        r.type.len = v.type.len;
    }
    return r;
}

namespace {

bool assignable(const Type &to, const Type &from) {
    if (numeric(to)) return numeric(from);
    return to.base == from.base;
}

int64_t int_of(Machine &m, const NodeP &n) {
    Value v = n->eval(m);
    return v.v[0].i;
}

}  // namespace

// ---------------------------------------------------------------------------
// Designators

bool Designator::fixed() const {
    for (const Sub &s : subs)
        for (const NodeP *p : {&s.lo, &s.hi, &s.step})
            if (*p && !(*p)->constant()) return false;
    if (sub_lo && !sub_lo->constant()) return false;
    if (sub_hi && !sub_hi->constant()) return false;
    return true;
}

Section Designator::resolve(Machine &m) const {
    Section s;
    s.base = var->data();
    s.type = var->type;
    const int64_t esize = var->type.size();
    if (subs.empty()) {
        s.rank = var->rank;
        s.whole = true;
        int64_t mult = esize;
        for (int d = 0; d < var->rank; ++d) {
            s.count[d] = var->ext[d];
            s.stride[d] = mult;
            mult *= var->ext[d];
        }
    } else {
        int64_t mult = esize;
        for (int d = 0; d < var->rank; ++d) {
            const Sub &sub = subs[static_cast<size_t>(d)];
            const int64_t lo = var->lo[d], hi = var->lo[d] + var->ext[d] - 1;
            if (!sub.triplet) {
                int64_t i = int_of(m, sub.lo);
                if (i < lo || i > hi)
                    runtime_fail(at, "subscript " + std::to_string(d + 1) + " of " + var->name + " is " +
                                         std::to_string(i) + ", outside " + std::to_string(lo) + ":" +
                                         std::to_string(hi));
                s.base += (i - lo) * mult;
            } else {
                int64_t a = sub.lo ? int_of(m, sub.lo) : lo;
                int64_t b = sub.hi ? int_of(m, sub.hi) : hi;
                int64_t st = sub.step ? int_of(m, sub.step) : 1;
                if (st == 0) runtime_fail(at, "a section stride of zero");
                int64_t n = std::max<int64_t>(0, (b - a + st) / st);
                if (n > 0) {
                    int64_t last = a + (n - 1) * st;
                    if (a < lo || a > hi || last < lo || last > hi)
                        runtime_fail(at, "section " + std::to_string(a) + ":" + std::to_string(b) + ":" +
                                             std::to_string(st) + " of " + var->name + " is outside its bounds " +
                                             std::to_string(lo) + ":" + std::to_string(hi));
                    s.base += (a - lo) * mult;
                }
                s.count[s.rank] = n;
                s.stride[s.rank] = st * mult;
                ++s.rank;
            }
            mult *= var->ext[d];
        }
    }
    if (substring) {
        int64_t a = sub_lo ? int_of(m, sub_lo) : 1;
        int64_t b = sub_hi ? int_of(m, sub_hi) : var->type.len;
        int64_t n = std::max<int64_t>(0, b - a + 1);
        if (n > 0 && (a < 1 || b > var->type.len))
            runtime_fail(at, "substring " + std::to_string(a) + ":" + std::to_string(b) + " of " + var->name +
                                 " is outside 1:" + std::to_string(var->type.len));
        if (n > 0) s.base += a - 1;
        s.type.len = n;
        s.whole = s.whole && var->rank == 0 && a == 1 && n == var->type.len;
    }
    return s;
}

Value Designator::eval(Machine &m) {
    Section s = resolve(m);
    Value v;
    v.type = s.type;
    for (int d = 0; d < s.rank; ++d) v.shape.push_back(s.count[d]);
    v.v.reserve(static_cast<size_t>(s.elements()));
    s.each([&](unsigned char *p) { v.v.push_back(load(p, s.type)); });
    return v;
}

void Designator::assign(Machine &m, const Value &v) const {
    Section s = resolve(m);
    if (v.is_array()) {
        if (s.rank == 0) runtime_fail(at, "an array assigned to a scalar");
        std::vector<int64_t> shape(s.count, s.count + s.rank);
        if (shape != v.shape) runtime_fail(at, "the shapes of the assignment differ");
    }
    // The right side is fully evaluated before any element is stored, so
    // a(2:n) = a(1:n-1) moves the old values as Fortran requires.
    size_t i = 0;
    const bool arr = v.is_array();
    s.each([&](unsigned char *p) {
        const Scalar &x = v.v[arr ? i++ : 0];
        store(p, s.type, convert(x, v.type, s.type));
    });
}

// ---------------------------------------------------------------------------
// Expressions

Var *Translator::lookup(const std::string &name, const Where &at) {
    auto it = vars_.find(name);
    if (it == vars_.end()) fail(at, "'" + name + "' is not declared (implicit typing is outside the subset)");
    return it->second.get();
}

Value Translator::const_value(const Expr &e) {
    NodeP n = expr(e);
    if (!n->constant()) fail(e.at, "a constant expression is required here");
    Machine scratch;
    try {
        return n->eval(scratch);
    } catch (const RunError &r) {
        fail(e.at, r.message);
    }
}

int64_t Translator::const_int(const Expr &e) {
    Value v = const_value(e);
    if (v.type.base != Base::Int || v.is_array()) fail(e.at, "a scalar integer constant is required here");
    return v.v[0].i;
}

std::shared_ptr<Designator> Translator::designator(const Expr &e) {
    if (e.kind != Expr::Kind::Ref) fail(e.at, "a variable is required here");
    Var *v = lookup(e.name, e.at);
    auto d = std::make_shared<Designator>();
    d->at = e.at;
    d->var = v;
    d->type = v->type;
    if (e.has_args) {
        if (v->rank == 0) {
            // c(lo:hi) of a scalar character is a substring.
            if (v->type.base == Base::Char && e.args.size() == 1 && e.args[0].triplet && !e.has_substr &&
                !e.args[0].step) {
                d->substring = true;
                if (e.args[0].lo) d->sub_lo = expr(*e.args[0].lo);
                if (e.args[0].hi) d->sub_hi = expr(*e.args[0].hi);
            } else {
                fail(e.at, "'" + e.name + "' is not an array");
            }
        } else {
            if (static_cast<int>(e.args.size()) != v->rank)
                fail(e.at,
                     "'" + e.name + "' has rank " + std::to_string(v->rank) + ", not " + std::to_string(e.args.size()));
            for (size_t k = 0; k < e.args.size(); ++k) {
                if (!e.arg_keywords[k].empty()) fail(e.at, "keywords are not subscripts");
                const Subscript &s = e.args[k];
                Designator::Sub sub;
                sub.triplet = s.triplet;
                for (auto [src, dst] : {std::pair{&s.lo, &sub.lo}, {&s.hi, &sub.hi}, {&s.step, &sub.step}}) {
                    if (*src) {
                        *dst = expr(**src);
                        if ((*dst)->type.base != Base::Int || (*dst)->rank != 0)
                            fail((*src)->at,
                                 "a subscript must be a scalar integer (vector subscripts are outside the subset)");
                    }
                }
                if (sub.triplet) ++d->rank;
                d->subs.push_back(std::move(sub));
            }
        }
    } else {
        d->rank = v->rank;
    }
    if (e.has_substr) {
        if (v->type.base != Base::Char) fail(e.at, "a substring of a non-CHARACTER variable");
        d->substring = true;
        if (e.sub_lo) d->sub_lo = expr(*e.sub_lo);
        if (e.sub_hi) d->sub_hi = expr(*e.sub_hi);
    }
    if (d->substring) {
        d->type.len = -1;
        if ((!d->sub_lo || d->sub_lo->constant()) && (!d->sub_hi || d->sub_hi->constant())) {
            Machine scratch;
            int64_t a = d->sub_lo ? int_of(scratch, d->sub_lo) : 1;
            int64_t b = d->sub_hi ? int_of(scratch, d->sub_hi) : v->type.len;
            d->type.len = std::max<int64_t>(0, b - a + 1);
        }
    }
    return d;
}

namespace {

NodeP make_const(Value v, const Where &at) {
    auto n = std::make_shared<ConstNode>();
    n->type = v.type;
    n->rank = static_cast<int>(v.shape.size());
    n->at = at;
    n->value = std::move(v);
    return n;
}

// Folds a node whose operands are all constant, so that parameters and
// literals cost nothing at run time.
NodeP fold(NodeP n) {
    if (!n->constant() || dynamic_cast<ConstNode *>(n.get())) return n;
    Machine scratch;
    Value v = n->eval(scratch);
    auto c = make_const(std::move(v), n->at);
    if (n->type.base == Base::Char) c->type.len = n->type.len;
    return c;
}

int kind_arg(Translator &t, const Expr *e, int dflt, Base base) {
    if (!e) return dflt;
    int k = static_cast<int>(t.const_int(*e));
    if (!valid_kind(base, k)) t.fail(e->at, "kind " + std::to_string(k) + " is not supported for this type");
    return k;
}

}  // namespace

// The intrinsic functions of the subset. Each returns a node whose closure
// evaluates the arguments and applies the function elementwise where the
// intrinsic is elemental.
struct Intrinsics {
    Translator &t;
    const Expr &call;
    std::vector<NodeP> args;
    std::map<std::string, const Expr *> kw;

    NodeP arg(size_t i) { return i < args.size() ? args[i] : nullptr; }

    NodeP build(const std::string &name);

    [[noreturn]] void bad(const std::string &why) { t.fail(call.at, name_upper() + ": " + why); }
    std::string name_upper() const {
        std::string s = call.name;
        for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }
    void need(size_t lo, size_t hi) {
        if (args.size() < lo || args.size() > hi)
            bad("takes " + std::to_string(lo) + (hi != lo ? " to " + std::to_string(hi) : "") + " arguments");
    }
    std::shared_ptr<FnNode> fn(const Type &type, int rank, std::function<Value(Machine &)> f) {
        auto n = std::make_shared<FnNode>();
        n->type = type;
        n->rank = rank;
        n->at = call.at;
        n->fn = std::move(f);
        n->is_const = std::all_of(args.begin(), args.end(), [](const NodeP &a) { return a->constant(); });
        return n;
    }
    // An elemental function of one argument.
    NodeP el1(const Type &out, std::function<Scalar(const Scalar &, const Type &)> f) {
        NodeP a = args[0];
        Where at = call.at;
        return fn(out, a->rank, [a, out, f, at](Machine &m) {
            Value x = a->eval(m);
            try {
                return elemental1(x, out, [&](const Scalar &s) { return f(s, x.type); });
            } catch (const EvalError &e) {
                runtime_fail(at, e.message);
            }
        });
    }
};

NodeP Intrinsics::build(const std::string &n) {
    auto ty = [&](size_t i) { return args[i]->type; };
    auto is = [&](size_t i, Base b) { return args[i]->type.base == b; };
    if (n == "abs") {
        need(1, 1);
        Type out = ty(0);
        if (out.base == Base::Complex) out.base = Base::Real;
        if (!numeric(out)) bad("needs a numeric argument");
        return el1(out, [out](const Scalar &x, const Type &tx) {
            Scalar r;
            if (tx.base == Base::Int)
                r.i = wrap_to_kind(x.i < 0 ? static_cast<int64_t>(0 - static_cast<uint64_t>(x.i)) : x.i, tx.kind);
            else if (tx.base == Base::Real)
                r.re = x.re < 0 ? -x.re : x.re;
            else if (tx.kind == 16)
                r.re = std::hypot(static_cast<long double>(x.re), static_cast<long double>(x.im));
            else
                r.re = round_to_kind(std::hypot(static_cast<double>(x.re), static_cast<double>(x.im)), out.kind);
            if (tx.kind == 4 && tx.base == Base::Complex)
                r.re = std::hypot(static_cast<float>(x.re), static_cast<float>(x.im));
            return r;
        });
    }
    if (n == "mod" || n == "modulo") {
        need(2, 2);
        if (!(is(0, Base::Int) || is(0, Base::Real)) || ty(0).base != ty(1).base)
            bad("needs two integers or two reals");
        Type out = arith_result(ty(0), ty(1));
        NodeP a = args[0], b = args[1];
        bool modulo = n == "modulo";
        Where at = call.at;
        return fn(out, std::max(a->rank, b->rank), [a, b, out, modulo, at](Machine &m) {
            Value x = convert_value(a->eval(m), out), y = convert_value(b->eval(m), out);
            return elemental2(at, x, y, out, [&](const Scalar &p, const Scalar &q) {
                Scalar r;
                if (out.base == Base::Int) {
                    if (q.i == 0) runtime_fail(at, "MOD with a zero divisor");
                    r.i = (q.i == -1) ? 0 : p.i % q.i;
                    if (modulo && r.i != 0 && ((r.i < 0) != (q.i < 0))) r.i += q.i;
                } else {
                    long double v = std::fmod(static_cast<long double>(p.re), static_cast<long double>(q.re));
                    if (out.kind == 16)
                        r.re = p.re - static_cast<__float128>(static_cast<long long>((p.re / q.re))) * q.re;
                    else
                        r.re = round_to_kind(v, out.kind);
                    if (modulo && r.re != 0 && ((r.re < 0) != (q.re < 0))) r.re = round_to_kind(r.re + q.re, out.kind);
                }
                return r;
            });
        });
    }
    if (n == "min" || n == "max") {
        if (args.size() < 2) bad("takes at least 2 arguments");
        Type out = ty(0);
        for (size_t i = 1; i < args.size(); ++i) {
            if (ty(i).base != out.base || !(out.base == Base::Int || out.base == Base::Real || out.base == Base::Char))
                bad("needs arguments of one type, integer, real or character");
            if (out.base != Base::Char) out.kind = std::max(out.kind, ty(i).kind);
        }
        if (out.base == Base::Char) out.len = -1;
        std::vector<NodeP> as = args;
        bool is_max = n == "max";
        int rank = 0;
        for (auto &a : as) rank = std::max(rank, a->rank);
        Where at = call.at;
        return fn(out, rank, [as, out, is_max, at](Machine &m) {
            Value acc = convert_value(as[0]->eval(m), out);
            for (size_t i = 1; i < as.size(); ++i) {
                Value y = convert_value(as[i]->eval(m), out);
                acc = elemental2(at, acc, y, out, [&](const Scalar &p, const Scalar &q) {
                    int c;
                    if (out.base == Base::Int)
                        c = p.i < q.i ? -1 : p.i > q.i;
                    else if (out.base == Base::Real)
                        c = p.re < q.re ? -1 : p.re > q.re;
                    else
                        c = compare_chars(p.s, q.s);
                    return (is_max ? c >= 0 : c <= 0) ? p : q;
                });
            }
            return acc;
        });
    }
    if (n == "int" || n == "nint" || n == "floor" || n == "ceiling") {
        need(1, 2);
        if (!numeric(ty(0))) bad("needs a numeric argument");
        if (n != "int" && !is(0, Base::Real)) bad("needs a real argument");
        int k = kind_arg(t, kw.count("kind") ? kw["kind"] : nullptr, 4, Base::Int);
        if (args.size() == 2 && !kw.count("kind")) k = static_cast<int>(t.const_int(*call.args[1].lo));
        if (!valid_kind(Base::Int, k)) bad("bad kind");
        args.resize(1);
        Type out = int_type(k);
        std::string how = n;
        return el1(out, [out, how](const Scalar &x, const Type &tx) {
            if (tx.base == Base::Int) return convert(x, tx, out);
            Scalar y = x;
            if (how == "nint") y.re = static_cast<__float128>(std::round(static_cast<long double>(x.re)));
            if (how == "floor") y.re = static_cast<__float128>(std::floor(static_cast<long double>(x.re)));
            if (how == "ceiling") y.re = static_cast<__float128>(std::ceil(static_cast<long double>(x.re)));
            Type r = tx;
            r.base = Base::Real;
            return convert(y, r, out);
        });
    }
    if (n == "real" || n == "dble" || n == "aimag") {
        need(1, n == "real" ? 2 : 1);
        if (!numeric(ty(0))) bad("needs a numeric argument");
        // REAL of an integer or real is of default kind; of a complex, its kind.
        int dflt = (n == "dble") ? 8 : (ty(0).base == Base::Complex ? ty(0).kind : 4);
        int k =
            args.size() == 2 ? kind_arg(t, kw.count("kind") ? kw["kind"] : call.args[1].lo.get(), 4, Base::Real) : dflt;
        if (n == "aimag" && !is(0, Base::Complex)) bad("needs a complex argument");
        args.resize(1);
        Type out = real_type(k);
        bool im = n == "aimag";
        return el1(out, [out, im](const Scalar &x, const Type &tx) {
            Scalar y = x;
            if (im) y.re = x.im;
            Type from = tx;
            if (from.base == Base::Complex) from.base = Base::Real;
            return convert(y, from, out);
        });
    }
    if (n == "cmplx") {
        need(1, 3);
        const Expr *ke = kw.count("kind") ? kw["kind"] : (args.size() == 3 ? call.args[2].lo.get() : nullptr);
        int k = kind_arg(t, ke, 4, Base::Complex);
        if (kw.count("kind") && args.size() == 2 && call.arg_keywords[1] == "kind") args.resize(1);
        if (args.size() == 3) args.resize(2);
        Type out{Base::Complex, k, 1};
        NodeP a = args[0], b = arg(1);
        if (b && is(0, Base::Complex)) bad("with a complex X takes no Y");
        Where at = call.at;
        return fn(out, std::max(a->rank, b ? b->rank : 0), [a, b, out, at](Machine &m) {
            Value x = a->eval(m);
            Type rt = real_type(out.kind);
            if (x.type.base == Base::Complex) return convert_value(x, out);
            Value re = convert_value(x, rt);
            Value im = b ? convert_value(b->eval(m), rt) : scalar_value(rt, Scalar{});
            return elemental2(at, re, im, out, [](const Scalar &p, const Scalar &q) {
                Scalar r;
                r.re = p.re;
                r.im = q.re;
                return r;
            });
        });
    }
    if (n == "conjg") {
        need(1, 1);
        if (!is(0, Base::Complex)) bad("needs a complex argument");
        return el1(ty(0), [](const Scalar &x, const Type &) {
            Scalar r = x;
            r.im = -x.im;
            return r;
        });
    }
    if (n == "sqrt" || n == "exp" || n == "log" || n == "sin" || n == "cos" || n == "tan" || n == "atan") {
        need(1, 1);
        if (!is(0, Base::Real)) bad("needs a real argument in the subset");
        std::string f = n;
        return el1(ty(0), [f](const Scalar &x, const Type &tx) {
            Scalar r;
            auto apply = [&](auto v) -> decltype(v) {
                if (f == "sqrt") return std::sqrt(v);
                if (f == "exp") return std::exp(v);
                if (f == "log") return std::log(v);
                if (f == "sin") return std::sin(v);
                if (f == "cos") return std::cos(v);
                if (f == "tan") return std::tan(v);
                return std::atan(v);
            };
            if (tx.kind == 4)
                r.re = apply(static_cast<float>(x.re));
            else if (tx.kind == 8)
                r.re = apply(static_cast<double>(x.re));
            else
                r.re = apply(static_cast<long double>(x.re));
            return r;
        });
    }
    if (n == "sign") {
        need(2, 2);
        if (ty(0).base != ty(1).base || !(is(0, Base::Int) || is(0, Base::Real)))
            bad("needs two integers or two reals");
        Type out = arith_result(ty(0), ty(1));
        NodeP a = args[0], b = args[1];
        Where at = call.at;
        return fn(out, std::max(a->rank, b->rank), [a, b, out, at](Machine &m) {
            Value x = convert_value(a->eval(m), out), y = convert_value(b->eval(m), out);
            return elemental2(at, x, y, out, [&](const Scalar &p, const Scalar &q) {
                Scalar r = p;
                if (out.base == Base::Int) {
                    int64_t mag = p.i < 0 ? -p.i : p.i;
                    r.i = q.i < 0 ? -mag : mag;
                } else {
                    __float128 mag = p.re < 0 ? -p.re : p.re;
                    r.re = std::signbit(static_cast<long double>(q.re)) ? -mag : mag;
                }
                return r;
            });
        });
    }
    if (n == "len" || n == "len_trim") {
        need(1, 1);
        if (!is(0, Base::Char)) bad("needs a character argument");
        NodeP a = args[0];
        if (n == "len") {
            if (a->type.len >= 0) {
                Value v = scalar_value(int_type(), Scalar{});
                v.v[0].i = a->type.len;
                return make_const(v, call.at);
            }
            return fn(int_type(), 0, [a](Machine &m) {
                Value x = a->eval(m);
                Value v = scalar_value(int_type(), Scalar{});
                v.v[0].i = x.type.len;
                return v;
            });
        }
        return el1(int_type(), [](const Scalar &x, const Type &) {
            Scalar r;
            size_t e = x.s.find_last_not_of(' ');
            r.i = e == std::string::npos ? 0 : static_cast<int64_t>(e + 1);
            return r;
        });
    }
    if (n == "trim" || n == "adjustl" || n == "adjustr") {
        need(1, 1);
        if (!is(0, Base::Char)) bad("needs a character argument");
        if (n == "trim" && args[0]->rank) bad("needs a scalar");
        Type out = ty(0);
        if (n == "trim") out.len = -1;
        std::string f = n;
        return el1(out, [f](const Scalar &x, const Type &) {
            Scalar r;
            size_t e = x.s.find_last_not_of(' ');
            size_t b = x.s.find_first_not_of(' ');
            if (f == "trim")
                r.s = e == std::string::npos ? "" : x.s.substr(0, e + 1);
            else if (b == std::string::npos)
                r.s = x.s;
            else if (f == "adjustl")
                r.s = x.s.substr(b) + std::string(b, ' ');
            else
                r.s = std::string(x.s.size() - e - 1, ' ') + x.s.substr(0, e + 1);
            return r;
        });
    }
    if (n == "index") {
        need(2, 3);
        if (!is(0, Base::Char) || !is(1, Base::Char)) bad("needs character arguments");
        NodeP a = args[0], b = args[1], back = arg(2);
        if (back && back->type.base != Base::Logical) bad("BACK must be logical");
        Where at = call.at;
        return fn(int_type(), std::max(a->rank, b->rank), [a, b, back, at](Machine &m) {
            bool from_back = back && back->eval(m).v[0].i;
            return elemental2(at, a->eval(m), b->eval(m), int_type(), [&](const Scalar &p, const Scalar &q) {
                Scalar r;
                size_t pos = from_back ? p.s.rfind(q.s) : p.s.find(q.s);
                r.i = pos == std::string::npos ? 0 : static_cast<int64_t>(pos + 1);
                return r;
            });
        });
    }
    if (n == "char" || n == "achar" || n == "ichar" || n == "iachar") {
        need(1, 1);
        bool to_char = n == "char" || n == "achar";
        if (to_char != is(0, Base::Int)) bad("has an argument of the wrong type");
        Type out = to_char ? Type{Base::Char, 1, 1} : int_type();
        return el1(out, [to_char](const Scalar &x, const Type &) {
            Scalar r;
            if (to_char)
                r.s = std::string(1, static_cast<char>(x.i));
            else
                r.i = x.s.empty() ? 0 : static_cast<unsigned char>(x.s[0]);
            return r;
        });
    }
    if (n == "repeat") {
        need(2, 2);
        NodeP a = args[0], b = args[1];
        Where at = call.at;
        return fn(Type{Base::Char, 1, -1}, 0, [a, b, at](Machine &m) {
            Value x = a->eval(m);
            int64_t k = b->eval(m).v[0].i;
            if (k < 0) runtime_fail(at, "REPEAT with a negative count");
            Scalar r;
            for (int64_t i = 0; i < k; ++i) r.s += x.v[0].s;
            return scalar_value(Type{Base::Char, 1, 0}, r);
        });
    }
    if (n == "merge") {
        need(3, 3);
        if (!is(2, Base::Logical)) bad("MASK must be logical");
        Type out = ty(0);
        NodeP a = args[0], b = args[1], c = args[2];
        Where at = call.at;
        return fn(out, std::max({a->rank, b->rank, c->rank}), [a, b, c, at](Machine &m) {
            Value x = a->eval(m), y = convert_value(b->eval(m), x.type), mask = c->eval(m);
            Value xy = elemental2(at, x, y, x.type, [](const Scalar &p, const Scalar &) { return p; });
            Value r = elemental2(at, x, mask, x.type, [](const Scalar &p, const Scalar &) { return p; });
            Value ys = elemental2(at, y, mask, x.type, [](const Scalar &p, const Scalar &) { return p; });
            Value ms = elemental2(at, mask, x, mask.type, [](const Scalar &p, const Scalar &) { return p; });
            for (size_t i = 0; i < r.v.size(); ++i)
                if (!ms.v[i].i) r.v[i] = ys.v[i];
            (void)xy;
            return r;
        });
    }
    if (n == "all" || n == "any" || n == "count") {
        need(1, 1);
        if (!is(0, Base::Logical) || args[0]->rank == 0) bad("needs a logical array (DIM= is outside the subset)");
        NodeP a = args[0];
        std::string f = n;
        return fn(f == "count" ? int_type() : logical_type(), 0, [a, f](Machine &m) {
            Value x = a->eval(m);
            int64_t c = 0;
            for (const Scalar &s : x.v) c += s.i != 0;
            Scalar r;
            r.i = f == "count" ? c : f == "all" ? c == x.count() : c > 0;
            return scalar_value(f == "count" ? int_type() : logical_type(), r);
        });
    }
    if (n == "sum" || n == "product" || n == "maxval" || n == "minval") {
        need(1, 1);
        if (args[0]->rank == 0) bad("needs an array (DIM= and MASK= are outside the subset)");
        Type out = ty(0);
        if (!numeric(out) || ((n == "maxval" || n == "minval") && out.base == Base::Complex))
            bad("needs a numeric array");
        NodeP a = args[0];
        std::string f = n;
        return fn(out, 0, [a, f, out](Machine &m) {
            Value x = a->eval(m);
            Scalar acc;
            if (f == "product") {
                acc.i = 1;
                acc.re = 1;
            } else if (f == "maxval" || f == "minval") {
                bool mx = f == "maxval";
                if (out.base == Base::Int)
                    acc.i = mx ? (out.kind == 8 ? INT64_MIN : -(int64_t{1} << (8 * out.kind - 1)))
                               : (out.kind == 8 ? INT64_MAX : (int64_t{1} << (8 * out.kind - 1)) - 1);
                else
                    acc.re = mx ? -huge_real(out.kind) : huge_real(out.kind);
                for (const Scalar &s : x.v) {
                    bool take =
                        out.base == Base::Int ? (mx ? s.i > acc.i : s.i < acc.i) : (mx ? s.re > acc.re : s.re < acc.re);
                    if (take) acc = s;
                }
                return scalar_value(out, acc);
            }
            for (const Scalar &s : x.v) acc = binary_op(f == "sum" ? "+" : "*", out, acc, s);
            return scalar_value(out, acc);
        });
    }
    if (n == "size" || n == "lbound" || n == "ubound") {
        need(1, 2);
        const Expr &a0 = *call.args[0].lo;
        if (a0.kind != Expr::Kind::Ref || a0.has_args) bad("takes a whole array variable in the subset");
        Var *v = t.lookup(a0.name, a0.at);
        if (v->rank == 0) bad("needs an array");
        int64_t r = 0;
        if (args.size() == 2) {
            int64_t d = t.const_int(*call.args[1].lo);
            if (d < 1 || d > v->rank) bad("DIM is out of range");
            if (n == "size")
                r = v->ext[d - 1];
            else if (n == "lbound")
                r = v->lo[d - 1];
            else
                r = v->lo[d - 1] + v->ext[d - 1] - 1;
        } else if (n == "size") {
            r = v->count;
        } else {
            bad("without DIM= is outside the subset");
        }
        Value val = scalar_value(int_type(), Scalar{});
        val.v[0].i = r;
        return make_const(val, call.at);
    }
    if (n == "huge" || n == "tiny" || n == "epsilon" || n == "kind") {
        need(1, 1);
        Type tx = ty(0);
        Value val;
        if (n == "kind") {
            val = scalar_value(int_type(), Scalar{});
            val.v[0].i = tx.kind;
            return make_const(val, call.at);
        }
        if (n == "huge" && tx.base == Base::Int) {
            val = scalar_value(tx, Scalar{});
            val.v[0].i = tx.kind == 8 ? INT64_MAX : (int64_t{1} << (8 * tx.kind - 1)) - 1;
            return make_const(val, call.at);
        }
        if (tx.base != Base::Real) bad("needs a real argument");
        val = scalar_value(tx, Scalar{});
        val.v[0].re = n == "huge" ? huge_real(tx.kind) : n == "tiny" ? tiny_real(tx.kind) : epsilon_real(tx.kind);
        return make_const(val, call.at);
    }
    t.fail(call.at, "the function " + name_upper() + " is outside the subset");
}

namespace {

Type literal_type(Translator &t, const Expr &e, Base b, int dflt) {
    int k = e.kind_param ? e.kind_param : dflt;
    if (!valid_kind(b, k)) t.fail(e.at, "kind " + std::to_string(k) + " is not supported for this literal");
    return {b, k, 1};
}

// Array constructor: values of all items, converted to the first item's type.
struct CtorNode : Node {
    struct Item {
        NodeP expr;
        Var *var = nullptr;
        NodeP from, to, step;
        std::vector<Item> body;
    };
    std::vector<Item> items;
    bool all_const = true;
    void collect(Machine &m, const std::vector<Item> &list, Value &out) {
        for (const Item &it : list) {
            if (it.expr) {
                Value v = it.expr->eval(m);
                if (out.type.base == Base::Char) {
                    for (Scalar &s : v.v) {
                        s.s.resize(static_cast<size_t>(out.type.len), ' ');
                        out.v.push_back(std::move(s));
                    }
                } else {
                    Value c = convert_value(v, out.type);
                    for (Scalar &s : c.v) out.v.push_back(std::move(s));
                }
                continue;
            }
            int64_t a = int_of(m, it.from), b = int_of(m, it.to), st = it.step ? int_of(m, it.step) : 1;
            if (st == 0) runtime_fail(at, "an implied DO with a zero step");
            for (int64_t i = a; st > 0 ? i <= b : i >= b; i += st) {
                Scalar s;
                s.i = i;
                store(it.var->data(), it.var->type, s);
                collect(m, it.body, out);
            }
        }
    }
    Value eval(Machine &m) override {
        Value out;
        out.type = type;
        collect(m, items, out);
        out.shape = {out.count()};
        return out;
    }
    bool constant() const override { return all_const; }
};

}  // namespace

NodeP Translator::expr(const Expr &e) {
    switch (e.kind) {
    case Expr::Kind::Int: {
        Type ty = literal_type(*this, e, Base::Int, 4);
        Scalar s;
        s.i = wrap_to_kind(e.ival, ty.kind);
        if (ty.kind < 8 && s.i != e.ival) fail(e.at, "the literal " + e.text + " does not fit its kind");
        return make_const(scalar_value(ty, s), e.at);
    }
    case Expr::Kind::Real: {
        int dflt = 4;
        if (e.text.find_first_of("dD") != std::string::npos) dflt = 8;
        if (e.text.find_first_of("qQ") != std::string::npos) dflt = 16;
        if (e.kind_param && dflt != 4) fail(e.at, "a kind and a D or Q exponent together");
        Type ty = literal_type(*this, e, Base::Real, dflt);
        Scalar s;
        s.re = parse_real(e.text, ty.kind);
        return make_const(scalar_value(ty, s), e.at);
    }
    case Expr::Kind::Str: {
        Scalar s;
        s.s = e.text;
        return make_const(scalar_value(Type{Base::Char, 1, static_cast<int64_t>(e.text.size())}, s), e.at);
    }
    case Expr::Kind::Logical: {
        Type ty = literal_type(*this, e, Base::Logical, 4);
        Scalar s;
        s.i = e.ival;
        return make_const(scalar_value(ty, s), e.at);
    }
    case Expr::Kind::Complex: {
        NodeP re = expr(*e.lhs), im = expr(*e.rhs);
        if (!re->constant() || !im->constant() || re->rank || im->rank || !numeric(re->type) || !numeric(im->type) ||
            re->type.base == Base::Complex || im->type.base == Base::Complex)
            fail(e.at, "a complex literal takes two real or integer constants");
        int k = 4;
        for (const NodeP &p : {re, im})
            if (p->type.base == Base::Real) k = std::max(k, p->type.kind);
        Machine scratch;
        Type rt = real_type(k);
        Scalar s;
        s.re = convert_value(re->eval(scratch), rt).v[0].re;
        s.im = convert_value(im->eval(scratch), rt).v[0].re;
        return make_const(scalar_value(Type{Base::Complex, k, 1}, s), e.at);
    }
    case Expr::Kind::Unary: {
        auto n = std::make_shared<UnaryNode>();
        n->at = e.at;
        n->op = e.op;
        n->a = expr(*e.lhs);
        n->type = n->a->type;
        n->rank = n->a->rank;
        if (e.op == ".not.") {
            if (n->type.base != Base::Logical) fail(e.at, ".NOT. needs a logical operand");
        } else if (e.op != "()" && !numeric(n->type)) {
            fail(e.at, "unary " + e.op + " needs a numeric operand");
        }
        return fold(n);
    }
    case Expr::Kind::Binary: {
        auto n = std::make_shared<BinaryNode>();
        n->at = e.at;
        n->op = e.op;
        n->a = expr(*e.lhs);
        n->b = expr(*e.rhs);
        const Type ta = n->a->type, tb = n->b->type;
        if (n->a->rank && n->b->rank && n->a->rank != n->b->rank) fail(e.at, "operands of different ranks");
        n->rank = std::max(n->a->rank, n->b->rank);
        const std::string &op = e.op;
        if (op == "+" || op == "-" || op == "*" || op == "/" || op == "**") {
            if (!numeric(ta) || !numeric(tb)) fail(e.at, "operator " + op + " needs numeric operands");
            n->type = arith_result(ta, tb);
            n->operand = n->type;
            if (op == "**") {
                // x**n keeps n integer; otherwise both go to the result type.
                if (tb.base == Base::Int) {
                    n->conv_a = !(ta == n->type);
                    n->operand = n->type;
                    n->conv_b = false;
                    // power() takes the left type from the converted value.
                } else {
                    n->conv_a = n->conv_b = true;
                }
            } else {
                n->conv_a = !(ta == n->type);
                n->conv_b = !(tb == n->type);
            }
        } else if (op == "//") {
            if (ta.base != Base::Char || tb.base != Base::Char) fail(e.at, "// needs character operands");
            n->type = Type{Base::Char, 1, (ta.len < 0 || tb.len < 0) ? -1 : ta.len + tb.len};
            n->operand = n->type;
        } else if (op == ".and." || op == ".or." || op == ".eqv." || op == ".neqv.") {
            if (ta.base != Base::Logical || tb.base != Base::Logical) fail(e.at, op + " needs logical operands");
            n->type = logical_type(std::max(ta.kind, tb.kind));
            n->operand = n->type;
        } else {
            // Relational.
            if (numeric(ta) && numeric(tb)) {
                n->operand = arith_result(ta, tb);
                if (n->operand.base == Base::Complex && op != "==" && op != "/=")
                    fail(e.at, "complex values are only compared for equality");
                n->conv_a = !(ta == n->operand);
                n->conv_b = !(tb == n->operand);
            } else if (ta.base == Base::Char && tb.base == Base::Char) {
                n->operand = ta;
            } else {
                fail(e.at, "operator " + op + " between " + ta.name() + " and " + tb.name());
            }
            n->type = logical_type();
        }
        return fold(n);
    }
    case Expr::Kind::Ctor: {
        auto n = std::make_shared<CtorNode>();
        n->at = e.at;
        n->rank = 1;
        bool typed = false;
        std::function<void(const std::vector<std::unique_ptr<ImpliedDo>> &, std::vector<CtorNode::Item> &)> walk =
            [&](const std::vector<std::unique_ptr<ImpliedDo>> &src, std::vector<CtorNode::Item> &dst) {
                for (const auto &it : src) {
                    CtorNode::Item item;
                    if (it->expr) {
                        item.expr = expr(*it->expr);
                        if (!item.expr->constant()) n->all_const = false;
                        if (!typed) {
                            n->type = item.expr->type;
                            typed = true;
                        } else if (n->type.base == Base::Char && item.expr->type.base == Base::Char) {
                            if (item.expr->type.len != n->type.len)
                                fail(it->at, "the character items of a constructor differ in length");
                        } else if (!assignable(n->type, item.expr->type)) {
                            fail(it->at, "the items of a constructor differ in type");
                        }
                    } else {
                        item.var = lookup(it->var, it->at);
                        if (item.var->type.base != Base::Int || item.var->rank)
                            fail(it->at, "an implied-DO variable must be a scalar integer");
                        item.from = expr(*it->from);
                        item.to = expr(*it->to);
                        if (it->step) item.step = expr(*it->step);
                        n->all_const = false;
                        walk(it->body, item.body);
                    }
                    dst.push_back(std::move(item));
                }
            };
        walk(e.ctor, n->items);
        if (!typed) fail(e.at, "an empty array constructor needs a type, outside the subset");
        if (n->type.base == Base::Char && n->type.len < 0) fail(e.at, "constructor items of run-time length");
        return n->all_const ? fold(n) : n;
    }
    case Expr::Kind::Ref: {
        auto it = vars_.find(e.name);
        if (it != vars_.end()) {
            auto d = designator(e);
            if (it->second->param && d->fixed()) {
                Machine scratch;
                Value v = d->eval(scratch);
                auto c = make_const(std::move(v), e.at);
                c->type.len = d->type.len;
                return c;
            }
            return d;
        }
        if (!e.has_args) fail(e.at, "'" + e.name + "' is not declared (implicit typing is outside the subset)");
        Intrinsics in{*this, e, {}, {}};
        for (size_t k = 0; k < e.args.size(); ++k) {
            const Subscript &s = e.args[k];
            if (s.triplet) fail(e.at, "a section ':' in a function argument list");
            if (!e.arg_keywords[k].empty()) {
                in.kw[e.arg_keywords[k]] = s.lo.get();
                if (e.arg_keywords[k] == "kind") continue;
            }
            in.args.push_back(expr(*s.lo));
        }
        NodeP n = in.build(e.name);
        if (auto *f = dynamic_cast<FnNode *>(n.get()); f && f->is_const) return fold(n);
        return n;
    }
    }
    fail(e.at, "unknown expression");
}

// ---------------------------------------------------------------------------
// Statements

namespace {

struct AssignAction : Action {
    std::shared_ptr<Designator> target;
    NodeP value;
    // A scalar numeric store into a fixed address skips the section walk.
    unsigned char *fixed_addr = nullptr;
    int run(Machine &m) override {
        Value v = value->eval(m);
        if (fixed_addr && !v.is_array()) {
            store(fixed_addr, target->type, convert(v.v[0], v.type, target->type));
            return -1;
        }
        target->assign(m, v);
        return -1;
    }
};

struct JumpAction : Action {
    int target = -1;
    int run(Machine &) override { return target; }
};

struct BranchFalse : Action {
    NodeP cond;
    int target = -1;
    int run(Machine &m) override { return cond->eval(m).v[0].i ? -1 : target; }
};

// DO var = from, to, step: the trip count is fixed on entry, as Fortran
// requires; the variable is stepped by END DO.
struct DoStart : Action {
    Var *var = nullptr;
    NodeP from, to, step;
    int64_t trips = 0, inc = 1;
    int exit_target = -1;
    int run(Machine &m) override {
        int64_t a = int_of(m, from), b = int_of(m, to);
        inc = step ? int_of(m, step) : 1;
        if (inc == 0) runtime_fail(at, "a DO loop with a zero step");
        trips = std::max<int64_t>(0, (b - a + inc) / inc);
        Scalar s;
        s.i = a;
        store(var->data(), var->type, s);
        return trips > 0 ? -1 : exit_target;
    }
};

struct DoEnd : Action {
    DoStart *start = nullptr;
    int body = -1;
    int run(Machine &) override {
        Var *v = start->var;
        // The loop variable is stepped in place: the end of a DO runs once
        // per iteration, and a general load and store would cost more than
        // the statements of a short body.
        unsigned char *p = v->data();
        switch (v->type.kind) {
        case 4: step<int32_t>(p); break;
        case 8: step<int64_t>(p); break;
        case 2: step<int16_t>(p); break;
        default: step<int8_t>(p); break;
        }
        return --start->trips > 0 ? body : -1;
    }
    template <class T>
    void step(unsigned char *p) const {
        T x;
        std::memcpy(&x, p, sizeof x);
        // Integers wrap in their kind, as everywhere in the runner.
        x = static_cast<T>(static_cast<uint64_t>(static_cast<int64_t>(x)) + static_cast<uint64_t>(start->inc));
        std::memcpy(p, &x, sizeof x);
    }
};

struct EndAction : Action {
    int run(Machine &) override { return -2; }
};

}  // namespace

const std::string *Translator::format_of(int label) const {
    auto it = formats_.find(label);
    return it == formats_.end() ? nullptr : &it->second;
}

void Translator::branch(int label, const Where &at, int *slot) { fixups_.emplace_back(label, at, slot); }

void Translator::declare(const Decl &d, const Where &) {
    Type base;
    const TypeSpec &ts = d.type;
    switch (ts.base) {
    case TypeSpec::Base::Int: base.base = Base::Int; break;
    case TypeSpec::Base::Real: base.base = Base::Real; break;
    case TypeSpec::Base::Complex: base.base = Base::Complex; break;
    case TypeSpec::Base::Logical: base.base = Base::Logical; break;
    case TypeSpec::Base::Char: base.base = Base::Char; break;
    }
    base.kind = ts.kind ? ts.kind : (base.base == Base::Char ? 1 : 4);
    if (!valid_kind(base.base, base.kind))
        fail(d.entities.empty() ? Where{} : d.entities[0].at, "kind " + std::to_string(base.kind) +
                                                                  " is not supported for " +
                                                                  base.name().substr(0, base.name().find('(')));
    if (base.base == Base::Char) base.len = ts.len ? const_int(*ts.len) : 1;
    for (const Entity &en : d.entities) {
        if (vars_.count(en.name)) fail(en.at, "'" + en.name + "' is declared twice");
        auto v = std::make_unique<Var>();
        v->name = en.name;
        v->at = en.at;
        v->type = base;
        v->param = d.parameter;
        if (en.char_len) v->type.len = const_int(*en.char_len);
        if (v->type.len < 0) v->type.len = 0;
        const auto &dims = en.dims.empty() ? d.dims : en.dims;
        v->rank = static_cast<int>(dims.size());
        for (int k = 0; k < v->rank; ++k) {
            const auto &[lo, hi] = dims[static_cast<size_t>(k)];
            v->lo[k] = lo ? const_int(*lo) : 1;
            int64_t h = const_int(*hi);
            v->ext[k] = std::max<int64_t>(0, h - v->lo[k] + 1);
            v->count *= v->ext[k];
        }
        Value init;
        bool has_init = en.init != nullptr;
        if (has_init) init = const_value(*en.init);
        if (ts.len_star) {
            if (!d.parameter || !has_init || init.type.base != Base::Char)
                fail(en.at, "CHARACTER(len=*) is only for named character constants");
            v->type.len = init.type.len;
        }
        int64_t bytes = v->count * v->type.size();
        v->buf.assign(static_cast<size_t>((bytes + 15) / 16 + 1), 0);
        Var *raw = v.get();
        vars_[en.name] = std::move(v);
        if (has_init) {
            if (!assignable(raw->type, init.type))
                fail(en.init->at, "an initialiser of the wrong type for " + raw->name);
            if (init.is_array() && (raw->rank == 0 || init.count() != raw->count))
                fail(en.init->at, "the initialiser of " + raw->name + " has the wrong size");
            Section s;
            s.base = raw->data();
            s.type = raw->type;
            size_t i = 0;
            const int64_t esize = raw->type.size();
            for (int64_t k = 0; k < raw->count; ++k) {
                const Scalar &x = init.v[init.is_array() ? i++ : 0];
                store(s.base + k * esize, raw->type, convert(x, init.type, raw->type));
            }
        }
    }
}

namespace {

struct Block {
    enum class Kind { If, Do } kind;
    Where at;
    std::vector<int *> to_end;     // jumps to patch with the index after END IF / END DO
    int *pending_false = nullptr;  // the false branch of the last IF / ELSE IF
    bool had_else = false;
    DoStart *start = nullptr;
    int body = -1;
    int cycle_index = -1;       // the END DO action, for CYCLE
    std::vector<int *> cycles;  // CYCLE jumps, patched to the END DO action
    std::string name;
    int do_label = 0;
    bool is_while = false;
    int while_test = -1;
};

}  // namespace

struct TranslatorImpl {
    Translator &t;
    Machine &m;
    std::vector<Block> blocks;

    template <class A>
    A *emit(std::unique_ptr<A> a, const Where &at) {
        a->at = at;
        A *raw = a.get();
        m.actions.push_back(std::move(a));
        return raw;
    }
    int here() const { return static_cast<int>(m.actions.size()); }

    void close_do(const Where &at) {
        Block b = std::move(blocks.back());
        blocks.pop_back();
        int end_index = here();
        if (b.is_while) {
            auto j = std::make_unique<JumpAction>();
            j->target = b.while_test;
            emit(std::move(j), at);
        } else {
            auto e = std::make_unique<DoEnd>();
            e->start = b.start;
            e->body = b.body;
            emit(std::move(e), at);
        }
        for (int *c : b.cycles) *c = end_index;
        for (int *p : b.to_end) *p = here();
        if (b.start) b.start->exit_target = here();
    }

    Block *find_loop(const std::string &name, const Where &at) {
        for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
            if (it->kind == Block::Kind::Do && (name.empty() || it->name == name)) return &*it;
        t.fail(at, name.empty() ? "EXIT or CYCLE outside a DO loop" : "no enclosing DO named " + name);
    }

    void statement(const Stmt &s) {
        using K = Stmt::Kind;
        switch (s.kind) {
        case K::Decl: t.fail(s.at, "a declaration after the first executable statement");
        case K::ImplicitNone: t.fail(s.at, "IMPLICIT NONE after the first executable statement");
        case K::Format: return;
        case K::Assign: {
            auto a = std::make_unique<AssignAction>();
            a->target = t.designator(*s.target);
            if (a->target->var->param) t.fail(s.target->at, "assignment to the named constant " + a->target->var->name);
            a->value = t.expr(*s.value);
            if (!assignable(a->target->type, a->value->type))
                t.fail(s.at, "cannot assign " + a->value->type.name() + " to " + a->target->type.name());
            if (a->value->rank && !a->target->rank) t.fail(s.at, "an array assigned to a scalar");
            if (a->value->rank && a->value->rank != a->target->rank) t.fail(s.at, "the ranks of the assignment differ");
            if (a->target->rank == 0 && a->target->fixed() && !a->target->substring) {
                Machine scratch;
                a->fixed_addr = a->target->resolve(scratch).base;
            }
            emit(std::move(a), s.at);
            return;
        }
        case K::If: {
            auto b = std::make_unique<BranchFalse>();
            b->cond = condition(*s.value);
            BranchFalse *raw = emit(std::move(b), s.at);
            statement(*s.then);
            raw->target = here();
            return;
        }
        case K::IfThen: {
            Block b{Block::Kind::If, s.at, {}, nullptr, false, nullptr, -1, -1, {}, "", 0, false, -1};
            auto br = std::make_unique<BranchFalse>();
            br->cond = condition(*s.value);
            b.pending_false = &emit(std::move(br), s.at)->target;
            blocks.push_back(std::move(b));
            return;
        }
        case K::ElseIf:
        case K::Else: {
            if (blocks.empty() || blocks.back().kind != Block::Kind::If) t.fail(s.at, "ELSE without IF THEN");
            Block &b = blocks.back();
            if (b.had_else) t.fail(s.at, "ELSE IF or ELSE after ELSE");
            auto j = std::make_unique<JumpAction>();
            b.to_end.push_back(&emit(std::move(j), s.at)->target);
            *b.pending_false = here();
            b.pending_false = nullptr;
            if (s.kind == K::ElseIf) {
                auto br = std::make_unique<BranchFalse>();
                br->cond = condition(*s.value);
                b.pending_false = &emit(std::move(br), s.at)->target;
            } else {
                b.had_else = true;
            }
            return;
        }
        case K::EndIf: {
            if (blocks.empty() || blocks.back().kind != Block::Kind::If) t.fail(s.at, "END IF without IF THEN");
            Block b = std::move(blocks.back());
            blocks.pop_back();
            if (b.pending_false) *b.pending_false = here();
            for (int *p : b.to_end) *p = here();
            return;
        }
        case K::Do: {
            Block b{Block::Kind::Do, s.at, {}, nullptr, false, nullptr, -1, -1, {}, s.construct, s.do_label, false, -1};
            auto d = std::make_unique<DoStart>();
            d->var = t.lookup(s.do_var, s.at);
            if (d->var->type.base != Base::Int || d->var->rank)
                t.fail(s.at, "a DO variable must be a scalar integer in the subset");
            if (d->var->param) t.fail(s.at, "a DO variable may not be a named constant");
            d->from = int_expr(*s.from);
            d->to = int_expr(*s.to);
            if (s.step) d->step = int_expr(*s.step);
            b.start = emit(std::move(d), s.at);
            b.body = here();
            blocks.push_back(std::move(b));
            return;
        }
        case K::DoWhile: {
            Block b{Block::Kind::Do, s.at, {}, nullptr, false, nullptr, -1, -1, {}, s.construct, s.do_label, true, -1};
            b.while_test = here();
            if (s.value) {
                auto br = std::make_unique<BranchFalse>();
                br->cond = condition(*s.value);
                b.to_end.push_back(&emit(std::move(br), s.at)->target);
            }
            blocks.push_back(std::move(b));
            return;
        }
        case K::EndDo: {
            if (blocks.empty() || blocks.back().kind != Block::Kind::Do) t.fail(s.at, "END DO without DO");
            if (blocks.back().do_label && blocks.back().do_label != s.label)
                t.fail(s.at, "this DO ends at label " + std::to_string(blocks.back().do_label));
            close_do(s.at);
            return;
        }
        case K::Exit:
        case K::Cycle: {
            Block *b = find_loop(s.construct, s.at);
            auto j = std::make_unique<JumpAction>();
            int *slot = &emit(std::move(j), s.at)->target;
            if (s.kind == K::Exit)
                b->to_end.push_back(slot);
            else
                b->cycles.push_back(slot);
            return;
        }
        case K::Goto: {
            auto j = std::make_unique<JumpAction>();
            t.branch(s.goto_label, s.at, &emit(std::move(j), s.at)->target);
            return;
        }
        case K::Continue: {
            return;
        }
        case K::Stop:
        case K::ErrorStop:
            m.actions.push_back(lower_stop(t, s));
            m.actions.back()->at = s.at;
            return;
        case K::End: emit(std::make_unique<EndAction>(), s.at); return;
        default:
            m.actions.push_back(lower_io(t, s));
            m.actions.back()->at = s.at;
            return;
        }
    }

    NodeP condition(const Expr &e) {
        NodeP n = t.expr(e);
        if (n->type.base != Base::Logical || n->rank) t.fail(e.at, "a condition must be a scalar logical");
        return n;
    }
    NodeP int_expr(const Expr &e) {
        NodeP n = t.expr(e);
        if (n->type.base != Base::Int || n->rank) t.fail(e.at, "a scalar integer is required here");
        return n;
    }
};

bool Translator::translate(const Program &p, Error &err) {
    try {
        TranslatorImpl impl{*this, m_, {}};
        bool executable = false;
        for (const StmtP &sp : p.body) {
            const Stmt &s = *sp;
            if (s.kind == Stmt::Kind::Format) {
                if (formats_.count(s.label) || labels_.count(s.label))
                    fail(s.at, "label " + std::to_string(s.label) + " is used twice");
                formats_[s.label] = s.format_text;
            }
        }
        for (const StmtP &sp : p.body) {
            const Stmt &s = *sp;
            if (s.kind == Stmt::Kind::ImplicitNone) {
                if (executable || !vars_.empty()) fail(s.at, "IMPLICIT NONE must come before the declarations");
                implicit_none_ = true;
                continue;
            }
            if (s.kind == Stmt::Kind::Decl && !executable) {
                if (s.label) fail(s.at, "labels on declarations are outside the subset");
                declare(s.decl, s.at);
                continue;
            }
            if (s.kind != Stmt::Kind::Format) executable = true;
            if (s.label && s.kind != Stmt::Kind::Format) {
                if (labels_.count(s.label) || formats_.count(s.label))
                    fail(s.at, "label " + std::to_string(s.label) + " is used twice");
                labels_[s.label] = impl.here();
            }
            impl.statement(s);
            // Labelled DO loops end after the statement carrying their label.
            while (s.label && s.kind != Stmt::Kind::EndDo && !impl.blocks.empty() &&
                   impl.blocks.back().kind == Block::Kind::Do && impl.blocks.back().do_label == s.label) {
                impl.close_do(s.at);
            }
        }
        if (!impl.blocks.empty()) fail(impl.blocks.back().at, "this block is not closed");
        for (auto &[label, at, slot] : fixups_) {
            auto it = labels_.find(label);
            if (it == labels_.end()) fail(at, "no executable statement has the label " + std::to_string(label));
            *slot = it->second;
        }
        return true;
    } catch (const TranslateError &e) {
        err = e.err;
        return false;
    }
}

int Machine::run() {
    int pc = 0;
    const int n = static_cast<int>(actions.size());
    while (pc >= 0 && pc < n) {
        int next = actions[static_cast<size_t>(pc)]->run(*this);
        if (next == -2) return 0;
        pc = next == -1 ? pc + 1 : next;
    }
    return 0;
}

}  // namespace vrun
