// The evaluator against gfortran: a table of expressions over a few
// variables is evaluated by vorlix-run's translator and printed by a
// gfortran program; integers and logicals compare as text, reals and
// complexes bit for bit (Z editing of their storage), characters in brackets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "parse.h"
#include "program.h"
#include "support/oracle.h"

namespace {

const char *declarations =
    "  integer :: i = 7, j = -3\n"
    "  integer(8) :: k = 3000000000_8\n"
    "  integer(2) :: h = 300\n"
    "  real :: x = 2.5, y = 0.1\n"
    "  real(8) :: d = 0.1d0\n"
    "  real(16) :: q = 1.0_16\n"
    "  complex :: z = (1.5, -2.0)\n"
    "  complex(8) :: zz = (0.1d0, 0.2d0)\n"
    "  logical :: t = .true.\n"
    "  character(len=6) :: s = 'ab cd'\n"
    "  integer :: a(5) = [3, 1, 4, 1, 5]\n"
    "  real :: r(4) = [0.5, 1.5, 2.5, 3.5]\n";

// Expressions a wrong promotion, rounding, truncation or padding rule
// would get wrong.
const char *expressions[] = {
    "i / j",          "mod(i, j)",      "modulo(i, j)",   "j ** 3",          "2 ** 30 * 2",
    "i * k",          "h * h",          "-i ** 2",        "abs(j)",          "min(i, j, 0)",
    "max(k, 4_8)",    "x / 3",          "y * 3",          "d * 3",           "y + d",
    "x ** 2",         "x ** 0.5",       "x ** (-2)",      "1 / x",           "i / x",
    "real(k)",        "dble(y)",        "int(-x)",        "nint(x)",         "nint(-x)",
    "int(1.0e10, 8)", "real(i, 8) / 3", "q / 3",          "q + d",           "z * z",
    "z / (0.5, 1.0)", "z + i",          "conjg(z) * zz",  "abs(z)",          "aimag(z)",
    "real(zz)",       "cmplx(i, j)",    "z ** 3",         "i > j .and. t",   ".not. t .or. x < y",
    "s == 'ab cd '",  "s < 'ab d'",     "y == d",         "real(d) == y",    "s // '|'",
    "trim(s) // '|'", "adjustr(s)",     "adjustl(s(3:))", "s(2:4)",          "len_trim(s)",
    "index(s, 'cd')", "sum(a)",         "sum(r(1:4:2))",  "product(a(2:4))", "maxval(a)",
    "minval(r)",      "count(a > 2)",   "all(a > 0)",     "any(r > 3.0)",    "size(a)",
    "sum(a(5:1:-2))", "sum(a * 2 + 1)", "huge(i)",        "huge(h)",         "epsilon(x)",
    "tiny(d)",        "huge(d)",        "epsilon(q)",     "sqrt(x)",         "sqrt(d)",
    "sign(x, -1.0)",  "floor(-x)",      "ceiling(x)",
};

// How the gfortran program prints a value of the type, and how the same
// text is made from the evaluator's value.
std::string edit_for(const vrun::Type &t) {
    switch (t.base) {
    case vrun::Base::Int: return "(i0)";
    case vrun::Base::Logical: return "(l1)";
    case vrun::Base::Char: return "(\"[\", a, \"]\")";
    case vrun::Base::Real: return "(z" + std::to_string(2 * t.kind) + "." + std::to_string(2 * t.kind) + ")";
    case vrun::Base::Complex: {
        std::string z = "z" + std::to_string(2 * t.kind) + "." + std::to_string(2 * t.kind);
        return "(" + z + ", 1x, " + z + ")";
    }
    }
    return "";
}

std::string hex_of(const void *p, int bytes) {
    std::string out;
    const auto *b = static_cast<const unsigned char *>(p);
    char buf[3];
    for (int i = bytes - 1; i >= 0; --i) {
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        out += buf;
    }
    return out;
}

std::string text_of(const vrun::Type &t, const vrun::Scalar &v) {
    switch (t.base) {
    case vrun::Base::Int: return std::to_string(v.i);
    case vrun::Base::Logical: return v.i ? "T" : "F";
    case vrun::Base::Char: return "[" + v.s + "]";
    case vrun::Base::Real:
    case vrun::Base::Complex: {
        unsigned char buf[32];
        vrun::Type one = t;
        vrun::store(buf, one, v);
        std::string s = hex_of(buf, t.kind);
        if (t.base == vrun::Base::Complex) s += " " + hex_of(buf + t.kind, t.kind);
        return s;
    }
    }
    return "";
}

TEST(Eval, ExpressionsAgreeWithGfortran) {
    vrun::Machine m;
    vrun::Translator tr(m);
    vrun::Error err;
    vrun::Program prog;
    std::string src = std::string("program p\n  implicit none\n") + declarations + "end program\n";
    ASSERT_TRUE(vrun::parse_program(src, prog, err)) << err.message;
    ASSERT_TRUE(tr.translate(prog, err)) << err.message;
    std::vector<std::string> ours;
    std::string oracle = std::string("program p\n  implicit none\n") + declarations;
    for (const char *text : expressions) {
        vrun::ExprP e;
        ASSERT_TRUE(vrun::parse_expression(text, e, err)) << text << ": " << err.message;
        vrun::NodeP n;
        try {
            n = tr.expr(*e);
        } catch (const vrun::TranslateError &te) {
            FAIL() << text << ": " << te.err.message;
        }
        ASSERT_EQ(n->rank, 0) << text;
        vrun::Value v = n->eval(m);
        ours.push_back(text_of(v.type, v.v[0]));
        oracle += "  write (*, '" + edit_for(v.type) + "') " + text + "\n";
    }
    oracle += "end program\n";
    auto lines = kit::gfortran_lines(oracle);
    if (!lines) GTEST_SKIP() << "gfortran is not installed";
    ASSERT_EQ(lines->size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(ours[i], (*lines)[i]) << expressions[i];
}

TEST(Eval, RunTimeErrorsAreReported) {
    const char *cases[] = {"a(i)", "s(5:9)", "i / (j + 3)"};
    vrun::Machine m;
    vrun::Translator tr(m);
    vrun::Error err;
    vrun::Program prog;
    std::string src = std::string("program p\n  implicit none\n") + declarations + "end program\n";
    ASSERT_TRUE(vrun::parse_program(src, prog, err));
    ASSERT_TRUE(tr.translate(prog, err));
    for (const char *text : cases) {
        vrun::ExprP e;
        ASSERT_TRUE(vrun::parse_expression(text, e, err));
        vrun::NodeP n = tr.expr(*e);
        EXPECT_THROW(n->eval(m), vrun::RunError) << text;
    }
}

}  // namespace
