// Types and values of the interpreter. A value is computed in the precision
// of its kind: reals are held as binary128 but rounded to their kind after
// every operation, which for + - * / gives the same bits as arithmetic done
// in the kind itself (binary128 has more than twice the digits of binary64
// plus two, so the double rounding is innocuous).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vrun {

enum class Base { Int, Real, Complex, Logical, Char };

struct Type {
    Base base = Base::Int;
    int kind = 4;     // bytes of an integer, logical or real (of each part of a complex)
    int64_t len = 1;  // CHARACTER length
    // Bytes one element occupies in storage.
    int64_t size() const;
    // The item type code compiled code uses for this type.
    int code() const;
    std::string name() const;
    bool operator==(const Type &o) const {
        return base == o.base && kind == o.kind && (base != Base::Char || len == o.len);
    }
};

bool valid_kind(Base b, int kind);

// A scalar value: the active member follows the type (i for Int and Logical,
// re/im for Real and Complex, s for Char).
struct Scalar {
    int64_t i = 0;
    __float128 re = 0, im = 0;
    std::string s;
};

// A scalar or an array value in array element order.
struct Value {
    Type type;
    std::vector<int64_t> shape;  // empty for a scalar
    std::vector<Scalar> v;
    bool is_array() const { return !shape.empty(); }
    int64_t count() const { return static_cast<int64_t>(v.size()); }
};

// A failure while evaluating (division by zero of integers, a bad argument):
// the message; the caller adds the source position.
struct EvalError {
    std::string message;
};

__float128 round_to_kind(__float128 x, int kind);
int64_t wrap_to_kind(int64_t x, int kind);

// Conversions with Fortran semantics (REAL to INTEGER truncates).
Scalar convert(const Scalar &x, const Type &from, const Type &to);

// Storage: load and store an element of the given type.
Scalar load(const unsigned char *p, const Type &t);
void store(unsigned char *p, const Type &t, const Scalar &x);

// The result type of a binary arithmetic operator (+ - * / **).
Type arith_result(const Type &a, const Type &b);

// One operator on scalars already converted to the operand type `t` (for
// relational operators, to their common type). Relational and logical
// operators return a logical in i.
Scalar binary_op(const std::string &op, const Type &t, const Scalar &a, const Scalar &b);
Scalar unary_op(const std::string &op, const Type &t, const Scalar &a);

// Fortran ** with the exponent of another type (x**n with integer n).
Scalar power(const Type &tx, const Scalar &x, const Type &tn, const Scalar &n);

// Literal text to a value of the kind (4, 8, 16); the exponent letter may
// be E, D or Q.
__float128 parse_real(const std::string &text, int kind);

__float128 huge_real(int kind);
__float128 tiny_real(int kind);
__float128 epsilon_real(int kind);

// Character comparison with blank padding: <0, 0, >0.
int compare_chars(const std::string &a, const std::string &b);

// A value as text for diagnostics of the runner itself (not Fortran output).
std::string debug_text(const Type &t, const Scalar &x);

}  // namespace vrun
