// The syntax tree of a vorlix-run program: what the parser produces and the
// translator consumes. Every node keeps the line and column where it begins,
// so that a translation error points into the source as a parse error does.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vrun {

struct Where {
    int line = 0, col = 0;
};

// A failure of lexing, parsing or translation, reported as
// "file:line:col: message".
struct Error {
    Where at;
    std::string message;
};

struct Expr;
using ExprP = std::unique_ptr<Expr>;

// One subscript of a reference: a scalar subscript, or a triplet lo:hi:step
// with any part omitted.
struct Subscript {
    bool triplet = false;
    ExprP lo, hi, step;
};

struct ImpliedDo;

struct Expr {
    enum class Kind { Int, Real, Str, Logical, Ref, Unary, Binary, Ctor, Complex } kind;
    Where at;
    // Literals: the text as written (Real keeps it for exact conversion).
    std::string text;
    int kind_param = 0;  // the _k of a literal, 0 = default
    int64_t ival = 0;    // Int value, Logical value
    // Ref: name, optional subscript list (has_args distinguishes a() from a),
    // optional substring range.
    std::string name;
    bool has_args = false;
    std::vector<Subscript> args;
    std::vector<std::string> arg_keywords;  // "" for positional; parallel to args
    bool has_substr = false;
    ExprP sub_lo, sub_hi;
    // Unary / Binary: operator spelled as in Fortran (+ - * / ** // == /= < <=
    // > >= .and. .or. .not. .eqv. .neqv.), operands in lhs (and rhs).
    std::string op;
    ExprP lhs, rhs;
    // Ctor: array constructor elements (an element is an expression or an
    // implied DO); Complex: lhs and rhs are the parts.
    std::vector<std::unique_ptr<ImpliedDo>> ctor;
};

// An item of an I/O list or array constructor: an expression, or an implied
// DO over a list of items.
struct ImpliedDo {
    ExprP expr;  // set for a plain item
    std::vector<std::unique_ptr<ImpliedDo>> body;
    std::string var;
    ExprP from, to, step;
    Where at;
};

struct TypeSpec {
    enum class Base { Int, Real, Complex, Logical, Char } base = Base::Int;
    int kind = 0;           // 0 = default
    ExprP len;              // CHARACTER length expression (null = 1)
    bool len_star = false;  // CHARACTER(len=*) of a parameter
};

struct Entity {
    std::string name;
    Where at;
    std::vector<std::pair<ExprP, ExprP>> dims;  // lower (may be null), upper
    ExprP char_len;                             // name*len
    ExprP init;
};

struct Decl {
    TypeSpec type;
    bool parameter = false;
    std::vector<std::pair<ExprP, ExprP>> dims;  // DIMENSION(...)
    std::vector<Entity> entities;
};

// A specifier of a control list: KEYWORD=value, or positional (keyword "").
// `star` marks a * value (UNIT=* or FMT=*).
struct Specifier {
    std::string keyword;
    ExprP value;
    bool star = false;
    Where at;
};

struct Stmt;
using StmtP = std::unique_ptr<Stmt>;

struct Stmt {
    enum class Kind {
        Decl,
        ImplicitNone,
        Assign,
        If,
        IfThen,
        ElseIf,
        Else,
        EndIf,
        Do,
        DoWhile,
        EndDo,
        Exit,
        Cycle,
        Goto,
        Continue,
        Stop,
        ErrorStop,
        Format,
        Open,
        Close,
        Read,
        Write,
        Print,
        Rewind,
        Backspace,
        Endfile,
        Flush,
        Inquire,
        Wait,
        End
    } kind;
    Where at;
    int label = 0;
    Decl decl;
    ExprP target, value;    // Assign; value also the IF/ELSE IF/DO WHILE condition, STOP code
    StmtP then;             // logical IF's statement
    std::string do_var;     // DO
    ExprP from, to, step;   // DO bounds
    int do_label = 0;       // DO with a terminating label
    std::string construct;  // construct name of DO (for EXIT/CYCLE) or of EXIT/CYCLE
    int goto_label = 0;
    std::string format_text;                        // FORMAT: "(...)" as written
    std::vector<Specifier> specifiers;              // control list
    std::vector<std::unique_ptr<ImpliedDo>> items;  // I/O list
    bool quiet = false;
};

struct Program {
    std::string name;
    std::vector<StmtP> body;
};

}  // namespace vrun
