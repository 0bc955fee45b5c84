// Translation of a parsed program into resolved actions, and their
// execution. Translation does every name lookup, type decision and label
// resolution once; execution walks a flat array of actions with jumps, so
// that a loop around an I/O statement costs the library call and little else.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ast.h"
#include "value.h"

namespace vrun {

// A variable or named constant: static storage for the whole run (a main
// program has no recursion, so every address is fixed at translation).
struct Var {
    std::string name;
    Type type;
    int rank = 0;
    int64_t lo[3] = {1, 1, 1};
    int64_t ext[3] = {1, 1, 1};
    int64_t count = 1;
    bool param = false;
    Where at;
    std::vector<__float128> buf;  // 16-byte aligned storage, zero-filled
    unsigned char *data() { return reinterpret_cast<unsigned char *>(buf.data()); }
};

// A failure at run time, with the statement position.
struct RunError {
    Where at;
    std::string message;
};

class Machine;

// A resolved piece of storage: an element, substring or array section.
// Strides are in bytes; dimension 0 varies fastest.
struct Section {
    unsigned char *base = nullptr;
    Type type;
    int rank = 0;
    int64_t count[3] = {1, 1, 1};
    int64_t stride[3] = {0, 0, 0};
    bool whole = false;  // the whole of a variable: contiguous from base
    int64_t elements() const { return count[0] * count[1] * count[2]; }
    template <class F>
    void each(F f) const {
        for (int64_t k = 0; k < count[2]; ++k)
            for (int64_t j = 0; j < count[1]; ++j)
                for (int64_t i = 0; i < count[0]; ++i) f(base + i * stride[0] + j * stride[1] + k * stride[2]);
    }
};

struct Node;
using NodeP = std::shared_ptr<Node>;

// An expression with its static type and rank. A CHARACTER node whose
// length is only known at run time has type.len = -1.
struct Node {
    Type type;
    int rank = 0;
    Where at;
    virtual ~Node() = default;
    virtual Value eval(Machine &m) = 0;
    // Whether the value is known at translation (no variables involved).
    virtual bool constant() const { return false; }
};

// A reference to a variable: whole, element, section, substring.
struct Designator : Node {
    Var *var = nullptr;
    struct Sub {
        bool triplet = false;
        NodeP lo, hi, step;
    };
    std::vector<Sub> subs;
    bool substring = false;
    NodeP sub_lo, sub_hi;
    Section resolve(Machine &m) const;
    Value eval(Machine &m) override;
    void assign(Machine &m, const Value &v) const;
    // True when the address and shape never change (no subscripts that
    // depend on variables).
    bool fixed() const;
};

struct Action {
    Where at;
    virtual ~Action() = default;
    // Runs the action; returns the next action index, or -1 for the next one.
    virtual int run(Machine &m) = 0;
};
using ActionP = std::unique_ptr<Action>;

class Machine {
  public:
    std::vector<ActionP> actions;
    int run();  // returns the exit status
};

// Translation state: the symbol table, labels and the emitted actions.
class Translator {
  public:
    explicit Translator(Machine &m) : m_(m) {}
    bool translate(const Program &p, Error &err);

    // Expressions, for the I/O lowering.
    NodeP expr(const Expr &e);
    std::shared_ptr<Designator> designator(const Expr &e);
    Var *lookup(const std::string &name, const Where &at);
    bool has_var(const std::string &name) const { return vars_.count(name) != 0; }
    Value const_value(const Expr &e);  // evaluates a constant expression
    int64_t const_int(const Expr &e);
    // The FORMAT text of a label (resolved at the end of translation).
    const std::string *format_of(int label) const;
    // Registers a branch target to be patched with the action index of `label`.
    void branch(int label, const Where &at, int *slot);
    Machine &machine() { return m_; }
    [[noreturn]] void fail(const Where &at, std::string message);

  private:
    friend struct TranslatorImpl;
    Machine &m_;
    std::map<std::string, std::unique_ptr<Var>> vars_;
    std::map<int, int> labels_;           // label -> action index
    std::map<int, std::string> formats_;  // label -> FORMAT text
    std::vector<std::tuple<int, Where, int *>> fixups_;
    bool implicit_none_ = false;
    void declare(const Decl &d, const Where &at);
};

// The lowering of an I/O statement into an action (io_lower.cpp).
ActionP lower_io(Translator &t, const Stmt &s);
// STOP and ERROR STOP.
ActionP lower_stop(Translator &t, const Stmt &s);

// Converts a value to a type (elementwise for arrays).
Value convert_value(const Value &v, const Type &to);

// The translation failure thrown inside the translator.
struct TranslateError {
    Error err;
};

// The library entry named `name`, or null when this library lacks it.
void *library_entry(const char *name);

}  // namespace vrun
