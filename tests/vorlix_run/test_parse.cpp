// The parser: what it accepts, and where it says a program is wrong.
#include <gtest/gtest.h>

#include "parse.h"

namespace {

struct BadCase {
    const char *source;
    int line, col;
    const char *message_part;
};

// Each case is a mistake a parser could let through or misplace.
const BadCase bad_cases[] = {
    {"program p\ni = 1 +\nend program\n", 2, 8, "expected an expression"},
    {"program p\nx = (1, \nend program\n", 2, 9, "expected an expression"},
    {"program p\ncall foo()\nend program\n", 2, 1, "CALL statement is outside the subset"},
    {"program p\nprint *, 'abc\nend program\n", 2, 14, "unterminated"},
    {"program p\ninteger :: a(:)\nend program\n", 2, 14, "explicit-shape"},
    {"program p\ninteger :: a(1,2,3,4)\nend program\n", 2, 22, "rank above 3"},
    {"program p\ni = a%b\nend program\n", 2, 6, "derived types"},
    {"program p\ni = 1 .xor. 2\nend program\n", 2, 7, "unknown operator"},
    {"program p\n10 format (i3\nend program\n", 2, 13, "ends with ')'"},
    {"program p\ni = 1\n", 2, 1, "no END statement"},
    {"program p\nimplicit real (a-h)\nend program\n", 2, 10, "only IMPLICIT NONE"},
    {"program p\nif (x) then y = 1\nend program\n", 2, 13, "unexpected 'y'"},
    {"program p\nend program\nsubroutine s\nend\n", 3, 1, "after END PROGRAM"},
    {"program p\ngoto (10, 20) i\nend program\n", 2, 6, "computed GOTO"},
    {"program p\n123456 continue\nend program\n", 2, 1, "at most 5 digits"},
    {"program p\ni = 1 + &", 2, 9, "last line is continued"},
};

TEST(Parse, ErrorsNameLineAndColumn) {
    for (const BadCase &c : bad_cases) {
        vrun::Program p;
        vrun::Error err;
        EXPECT_FALSE(vrun::parse_program(c.source, p, err)) << c.source;
        EXPECT_EQ(err.at.line, c.line) << c.source << " -> " << err.message;
        EXPECT_EQ(err.at.col, c.col) << c.source << " -> " << err.message;
        EXPECT_NE(err.message.find(c.message_part), std::string::npos) << c.source << " -> " << err.message;
    }
}

struct GoodCase {
    const char *source;
    size_t statements;  // in the body, END included
};

// Spellings the subset accepts: continuation, ';', comments with quotes,
// labels, keywords as names, old relational operators, FORMAT text.
const GoodCase good_cases[] = {
    {"program p\ninteger :: i\ni = 1 + &\n  & 2 ! a 'comment'\nend program\n", 3},
    {"program p\ninteger :: i; i = 1; i = 2\nend program p\n", 4},
    {"program p\nprint *, 'it''s ! not a comment'\nend\n", 2},
    {"program p\n10 format ('(', i3, ')' , 2x)\nend program\n", 2},
    {"program p\nlogical :: if\nif = 1.eq.2\nend program\n", 3},
    {"program p\ninteger :: i\ndo 10, i = 1, 3\n10 continue\nend program\n", 4},
    {"program p\ninteger :: i\nouter: do i = 1, 2\nexit outer\nend do outer\nend program\n", 5},
    {"program p\nwrite (*, '(a)', advance='no') 'x'\nend program\n", 2},
    {"program p\ninteger :: a(3)\na = (/ 1, 2, 3 /)\nend program\n", 3},
    {"program p\nprint *, 'a' // &\n  'b'\nend program\n", 2},
    {"program p\ncharacter(len=5) :: s\nprint *, s(2:3), 'x'\nend program\n", 3},
};

TEST(Parse, AcceptsTheSubset) {
    for (const GoodCase &c : good_cases) {
        vrun::Program p;
        vrun::Error err;
        EXPECT_TRUE(vrun::parse_program(c.source, p, err))
            << c.source << " -> " << err.at.line << ":" << err.at.col << " " << err.message;
        EXPECT_EQ(p.body.size(), c.statements) << c.source;
    }
}

TEST(Parse, FormatKeepsItsTextAsWritten) {
    vrun::Program p;
    vrun::Error err;
    ASSERT_TRUE(vrun::parse_program("program p\n10 FORMAT (1PE12.4, 'a''b' , &\n  3X)\nend program\n", p, err));
    ASSERT_EQ(p.body[0]->kind, vrun::Stmt::Kind::Format);
    EXPECT_EQ(p.body[0]->format_text, "(1PE12.4, 'a''b' ,   3X)");
}

TEST(Parse, PrecedenceAndAssociativity) {
    struct Case {
        const char *expr;
        const char *top_op;  // the operator at the root
    };
    const Case cases[] = {
        {"a + b * c", "+"},
        {"a ** b ** c", "**"},
        {"-a ** 2", "-"},
        {"a // b == c", "=="},
        {".not. a .and. b", ".and."},
        {"a .or. b .and. c", ".or."},
        {"a .eqv. b .or. c", ".eqv."},
        {"a - b - c", "-"},
        {"a < b .and. c", ".and."},
    };
    for (const Case &c : cases) {
        vrun::ExprP e;
        vrun::Error err;
        ASSERT_TRUE(vrun::parse_expression(c.expr, e, err)) << c.expr << ": " << err.message;
        EXPECT_EQ(e->op, c.top_op) << c.expr;
    }
    // a - b - c is (a - b) - c; a ** b ** c is a ** (b ** c).
    vrun::ExprP e;
    vrun::Error err;
    ASSERT_TRUE(vrun::parse_expression("a - b - c", e, err));
    EXPECT_EQ(e->lhs->kind, vrun::Expr::Kind::Binary);
    ASSERT_TRUE(vrun::parse_expression("a ** b ** c", e, err));
    EXPECT_EQ(e->rhs->kind, vrun::Expr::Kind::Binary);
}

}  // namespace
