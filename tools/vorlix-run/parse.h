// Lexer and parser of the free-form subset that vorlix-run executes.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "ast.h"

namespace vrun {

struct Token {
    enum class Kind { Ident, Int, Real, Str, Logical, Op, End } kind = Kind::End;
    std::string text;    // identifiers lower-cased; Str without quotes; Op as spelled (lower case)
    int kind_param = 0;  // _k suffix of a literal
    Where at;
};

// One statement after continuation lines are joined, comments dropped and
// ';' separators split: its label, its tokens and its raw text (FORMAT keeps
// the text as written).
struct LogicalLine {
    int label = 0;
    Where at;
    std::vector<Token> tokens;
    std::string raw;            // text after the label
    std::vector<Where> raw_at;  // position of each raw character
};

// Splits and tokenizes a whole source. Returns false with `err` set on a
// lexical error.
bool lex(std::string_view source, std::vector<LogicalLine> &out, Error &err);

// Parses a whole program. Returns false with `err` set on the first error.
bool parse_program(std::string_view source, Program &out, Error &err);

// Parses a single expression (for the tests and for tools).
bool parse_expression(std::string_view text, ExprP &out, Error &err);

}  // namespace vrun
