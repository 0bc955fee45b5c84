// Free-form source to syntax tree. The lexer works on logical lines (joined
// continuations, comments gone); the parser is recursive descent over their
// tokens. Anything outside the documented subset is an error naming where it
// starts: a construct that is guessed at would make a differential test lie.
#include "parse.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>

namespace vrun {

namespace {

std::string lower(std::string_view s) {
    std::string r(s);
    for (char &c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

// The dotted operators and literals; a digit string followed by one of these
// is an integer, not the start of a real ("1.eq.2").
const std::set<std::string> &dot_words() {
    static const std::set<std::string> w{"and", "or", "not", "eqv", "neqv", "eq",   "ne",
                                         "lt",  "le", "gt",  "ge",  "true", "false"};
    return w;
}

struct Joined {
    std::string text;
    std::vector<Where> at;
};

// Joins continuation lines, drops comments and splits at ';'. Strings may be
// continued across lines, so the quote state survives the line end.
bool join_lines(std::string_view src, std::vector<Joined> &out, Error &err) {
    Joined cur;
    char quote = 0;
    bool continuing = false;
    Where cont_at;
    int line_no = 0;
    size_t pos = 0;
    while (pos <= src.size()) {
        size_t eol = src.find('\n', pos);
        if (eol == std::string_view::npos) eol = src.size();
        std::string_view line = src.substr(pos, eol - pos);
        ++line_no;
        size_t i = 0;
        if (continuing) {
            size_t j = line.find_first_not_of(" \t");
            if (j != std::string_view::npos && line[j] == '&')
                i = j + 1;
            else if (quote)
                i = 0;
        }
        // Collect the characters of this line up to a comment.
        Joined piece;
        for (; i < line.size(); ++i) {
            char c = line[i];
            if (c == '\r') continue;
            if (quote) {
                if (c == quote) {
                    if (i + 1 < line.size() && line[i + 1] == quote) {
                        piece.text += c;
                        piece.at.push_back({line_no, static_cast<int>(i) + 1});
                        ++i;
                    } else {
                        quote = 0;
                    }
                }
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == '!') {
                break;
            } else if (c == ';') {
                // A statement ends here; the rest of the line starts another.
                for (size_t k = 0; k < piece.text.size(); ++k) {
                    cur.text += piece.text[k];
                    cur.at.push_back(piece.at[k]);
                }
                piece = {};
                out.push_back(std::move(cur));
                cur = {};
                continue;
            }
            piece.text += c;
            piece.at.push_back({line_no, static_cast<int>(i) + 1});
        }
        // A trailing '&' (outside a string, or inside one) continues the line.
        size_t last = piece.text.find_last_not_of(" \t");
        continuing = last != std::string::npos && piece.text[last] == '&';
        if (continuing) {
            cont_at = piece.at[last];
            piece.text.resize(last);
            piece.at.resize(last);
        } else if (quote) {
            err = {{line_no, static_cast<int>(line.size()) + 1}, "unterminated character literal"};
            return false;
        }
        for (size_t k = 0; k < piece.text.size(); ++k) {
            cur.text += piece.text[k];
            cur.at.push_back(piece.at[k]);
        }
        if (!continuing) {
            out.push_back(std::move(cur));
            cur = {};
        }
        if (eol == src.size()) break;
        pos = eol + 1;
    }
    if (continuing) {
        err = {cont_at, "the last line is continued"};
        return false;
    }
    return true;
}

bool is_ident_start(char c) { return std::isalpha(static_cast<unsigned char>(c)); }
bool is_ident(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)); }

bool tokenize(const Joined &j, size_t start, std::vector<Token> &out, Error &err) {
    const std::string &s = j.text;
    size_t i = start;
    auto at = [&](size_t k) { return k < j.at.size() ? j.at[k] : (j.at.empty() ? Where{} : j.at.back()); };
    // A _kind suffix on a literal: digits only (named kinds are not in the subset).
    auto kind_suffix = [&](Token &t) -> bool {
        if (i < s.size() && s[i] == '_') {
            size_t k = i + 1;
            int v = 0;
            while (k < s.size() && is_digit(s[k])) v = v * 10 + (s[k++] - '0');
            if (k == i + 1) {
                err = {at(i), "a kind parameter of a literal must be a digit string"};
                return false;
            }
            t.kind_param = v;
            i = k;
        }
        return true;
    };
    while (i < s.size()) {
        char c = s[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        Token t;
        t.at = at(i);
        if (is_ident_start(c)) {
            size_t k = i;
            while (k < s.size() && is_ident(s[k])) ++k;
            t.kind = Token::Kind::Ident;
            t.text = lower(s.substr(i, k - i));
            i = k;
        } else if (is_digit(c) || (c == '.' && i + 1 < s.size() && is_digit(s[i + 1]))) {
            size_t k = i;
            while (k < s.size() && is_digit(s[k])) ++k;
            bool real = false;
            if (k < s.size() && s[k] == '.') {
                // "1.eq.2": the dot belongs to an operator.
                size_t w = k + 1;
                while (w < s.size() && std::isalpha(static_cast<unsigned char>(s[w]))) ++w;
                bool op = w < s.size() && s[w] == '.' && dot_words().count(lower(s.substr(k + 1, w - k - 1)));
                if (!op) {
                    real = true;
                    ++k;
                    while (k < s.size() && is_digit(s[k])) ++k;
                }
            }
            if (k < s.size() && std::strchr("eEdDqQ", s[k]) && s[k] != 0) {
                size_t e = k + 1;
                if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
                if (e < s.size() && is_digit(s[e])) {
                    while (e < s.size() && is_digit(s[e])) ++e;
                    real = true;
                    k = e;
                }
            }
            t.kind = real ? Token::Kind::Real : Token::Kind::Int;
            t.text = lower(s.substr(i, k - i));
            i = k;
            if (!kind_suffix(t)) return false;
        } else if (c == '\'' || c == '"') {
            size_t k = i + 1;
            std::string v;
            for (;;) {
                if (k >= s.size()) {
                    err = {t.at, "unterminated character literal"};
                    return false;
                }
                if (s[k] == c) {
                    if (k + 1 < s.size() && s[k + 1] == c) {
                        v += c;
                        k += 2;
                        continue;
                    }
                    ++k;
                    break;
                }
                v += s[k++];
            }
            t.kind = Token::Kind::Str;
            t.text = v;
            i = k;
        } else if (c == '.') {
            size_t k = i + 1;
            while (k < s.size() && std::isalpha(static_cast<unsigned char>(s[k]))) ++k;
            std::string w = lower(s.substr(i + 1, k - i - 1));
            if (k >= s.size() || s[k] != '.' || !dot_words().count(w)) {
                err = {t.at, "unknown operator beginning with '.'"};
                return false;
            }
            i = k + 1;
            if (w == "true" || w == "false") {
                t.kind = Token::Kind::Logical;
                t.text = w;
                if (!kind_suffix(t)) return false;
            } else {
                static const std::pair<const char *, const char *> rel[] = {{"eq", "=="}, {"ne", "/="}, {"lt", "<"},
                                                                            {"le", "<="}, {"gt", ">"},  {"ge", ">="}};
                t.kind = Token::Kind::Op;
                t.text = "." + w + ".";
                for (auto [from, to] : rel)
                    if (w == from) t.text = to;
            }
        } else {
            static const char *ops[] = {"**", "//", "==", "/=", "<=", ">=", "::", "=>", "(/", "/)", "+", "-", "*",
                                        "/",  "(",  ")",  ",",  "=",  "<",  ">",  ":",  "%",  "[",  "]", "&"};
            t.kind = Token::Kind::Op;
            for (const char *o : ops) {
                size_t n = std::strlen(o);
                if (s.compare(i, n, o) == 0) {
                    // "(/)" and "(//)" are not constructors; "/)" after an
                    // operand-less "(" neither: keep them as separate tokens.
                    if (std::string_view(o) == "(/" && i + 2 < s.size() && (s[i + 2] == ')' || s[i + 2] == '/'))
                        continue;
                    t.text = o;
                    break;
                }
            }
            if (t.text.empty()) {
                err = {t.at, std::string("unexpected character '") + c + "'"};
                return false;
            }
            i += t.text.size();
        }
        out.push_back(std::move(t));
    }
    Token e;
    e.kind = Token::Kind::End;
    e.at = j.at.empty() ? Where{} : j.at.back();
    e.at.col += 1;
    out.push_back(e);
    return true;
}

}  // namespace

namespace {

bool lex_lines(std::string_view source, std::vector<LogicalLine> &out, Error &err, bool labels) {
    std::vector<Joined> lines;
    if (!join_lines(source, lines, err)) return false;
    for (const Joined &j : lines) {
        size_t i = j.text.find_first_not_of(" \t");
        if (i == std::string::npos) continue;
        LogicalLine ll;
        ll.at = j.at[i];
        if (labels && is_digit(j.text[i])) {
            size_t k = i;
            int label = 0;
            while (k < j.text.size() && is_digit(j.text[k])) {
                label = label * 10 + (j.text[k] - '0');
                if (label > 99999) {
                    err = {j.at[i], "a statement label has at most 5 digits"};
                    return false;
                }
                ++k;
            }
            if (k < j.text.size() && j.text[k] != ' ' && j.text[k] != '\t') {
                err = {j.at[k], "a statement label must be followed by a blank"};
                return false;
            }
            if (label == 0) {
                err = {j.at[i], "a statement label may not be zero"};
                return false;
            }
            ll.label = label;
            i = j.text.find_first_not_of(" \t", k);
            if (i == std::string::npos) {
                err = {j.at[k - 1], "a label without a statement"};
                return false;
            }
            ll.at = j.at[i];
        }
        ll.raw = j.text.substr(i);
        ll.raw_at.assign(j.at.begin() + static_cast<long>(i), j.at.end());
        if (!tokenize(j, i, ll.tokens, err)) return false;
        out.push_back(std::move(ll));
    }
    return true;
}

}  // namespace

bool lex(std::string_view source, std::vector<LogicalLine> &out, Error &err) {
    return lex_lines(source, out, err, true);
}

namespace {

class Parser {
  public:
    explicit Parser(const LogicalLine *l) : l_(l) {}

    const Token &peek(size_t k = 0) const {
        size_t i = pos_ + k;
        return i < l_->tokens.size() ? l_->tokens[i] : l_->tokens.back();
    }
    bool at_end() const { return peek().kind == Token::Kind::End; }
    bool is_op(const char *o, size_t k = 0) const { return peek(k).kind == Token::Kind::Op && peek(k).text == o; }
    bool is_word(const char *w, size_t k = 0) const { return peek(k).kind == Token::Kind::Ident && peek(k).text == w; }
    const Token &next() { return l_->tokens[pos_ < l_->tokens.size() - 1 ? pos_++ : pos_]; }
    bool accept(const char *o) {
        if (is_op(o)) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool accept_word(const char *w) {
        if (is_word(w)) {
            ++pos_;
            return true;
        }
        return false;
    }
    void fail(const Where &at, std::string msg) {
        if (!failed_) err_ = {at, std::move(msg)};
        failed_ = true;
    }
    bool expect(const char *o) {
        if (accept(o)) return true;
        fail(peek().at, std::string("expected '") + o + "'" + found());
        return false;
    }
    std::string found() const {
        const Token &t = peek();
        if (t.kind == Token::Kind::End) return ", found the end of the statement";
        return ", found '" + t.text + "'";
    }
    bool expect_end() {
        if (at_end()) return true;
        fail(peek().at, "unexpected '" + peek().text + "' after the statement");
        return false;
    }
    bool ident(std::string &out) {
        if (peek().kind != Token::Kind::Ident) {
            fail(peek().at, "expected a name" + found());
            return false;
        }
        out = next().text;
        return true;
    }

    // Expressions, by Fortran precedence from the lowest.
    ExprP expr() { return equiv(); }

    ExprP binary(const Token &t, std::string op, ExprP a, ExprP b) {
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Binary;
        e->at = t.at;
        e->op = std::move(op);
        e->lhs = std::move(a);
        e->rhs = std::move(b);
        return e;
    }
    ExprP unary(const Token &t, std::string op, ExprP a) {
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Unary;
        e->at = t.at;
        e->op = std::move(op);
        e->lhs = std::move(a);
        return e;
    }
    ExprP equiv() {
        ExprP a = disj();
        while (a && (is_op(".eqv.") || is_op(".neqv."))) {
            const Token &t = next();
            ExprP b = disj();
            if (!b) return nullptr;
            a = binary(t, t.text, std::move(a), std::move(b));
        }
        return a;
    }
    ExprP disj() {
        ExprP a = conj();
        while (a && is_op(".or.")) {
            const Token &t = next();
            ExprP b = conj();
            if (!b) return nullptr;
            a = binary(t, t.text, std::move(a), std::move(b));
        }
        return a;
    }
    ExprP conj() {
        ExprP a = negation();
        while (a && is_op(".and.")) {
            const Token &t = next();
            ExprP b = negation();
            if (!b) return nullptr;
            a = binary(t, t.text, std::move(a), std::move(b));
        }
        return a;
    }
    ExprP negation() {
        if (is_op(".not.")) {
            const Token &t = next();
            ExprP a = negation();
            if (!a) return nullptr;
            return unary(t, ".not.", std::move(a));
        }
        return comparison();
    }
    ExprP comparison() {
        ExprP a = concat();
        if (a && peek().kind == Token::Kind::Op) {
            static const std::set<std::string> rel{"==", "/=", "<", "<=", ">", ">="};
            if (rel.count(peek().text)) {
                const Token &t = next();
                ExprP b = concat();
                if (!b) return nullptr;
                a = binary(t, t.text, std::move(a), std::move(b));
            }
        }
        return a;
    }
    ExprP concat() {
        ExprP a = additive();
        while (a && is_op("//")) {
            const Token &t = next();
            ExprP b = additive();
            if (!b) return nullptr;
            a = binary(t, "//", std::move(a), std::move(b));
        }
        return a;
    }
    ExprP additive() {
        ExprP a;
        if (is_op("+") || is_op("-")) {
            const Token &t = next();
            ExprP b = term();
            if (!b) return nullptr;
            a = unary(t, t.text, std::move(b));
        } else {
            a = term();
        }
        while (a && (is_op("+") || is_op("-"))) {
            const Token &t = next();
            ExprP b = term();
            if (!b) return nullptr;
            a = binary(t, t.text, std::move(a), std::move(b));
        }
        return a;
    }
    ExprP term() {
        ExprP a = power();
        while (a && (is_op("*") || is_op("/"))) {
            const Token &t = next();
            ExprP b = power();
            if (!b) return nullptr;
            a = binary(t, t.text, std::move(a), std::move(b));
        }
        return a;
    }
    ExprP power() {
        ExprP a = primary();
        if (a && is_op("**")) {
            const Token &t = next();
            // Right-associative, and "2**-1" is accepted as processors do.
            ExprP b;
            if (is_op("-") || is_op("+")) {
                const Token &s = next();
                ExprP p = power();
                if (!p) return nullptr;
                b = unary(s, s.text, std::move(p));
            } else {
                b = power();
            }
            if (!b) return nullptr;
            a = binary(t, "**", std::move(a), std::move(b));
        }
        return a;
    }

    ExprP primary() {
        const Token &t = peek();
        auto e = std::make_unique<Expr>();
        e->at = t.at;
        switch (t.kind) {
        case Token::Kind::Int: {
            next();
            e->kind = Expr::Kind::Int;
            e->text = t.text;
            e->kind_param = t.kind_param;
            errno = 0;
            unsigned long long v = std::strtoull(t.text.c_str(), nullptr, 10);
            if (errno || v > static_cast<unsigned long long>(INT64_MAX)) {
                fail(t.at, "integer literal out of range");
                return nullptr;
            }
            e->ival = static_cast<int64_t>(v);
            return substring_of_literal(std::move(e));
        }
        case Token::Kind::Real:
            next();
            e->kind = Expr::Kind::Real;
            e->text = t.text;
            e->kind_param = t.kind_param;
            return e;
        case Token::Kind::Str:
            next();
            e->kind = Expr::Kind::Str;
            e->text = t.text;
            return substring_of_literal(std::move(e));
        case Token::Kind::Logical:
            next();
            e->kind = Expr::Kind::Logical;
            e->ival = t.text == "true";
            e->kind_param = t.kind_param;
            return e;
        case Token::Kind::Ident: return reference();
        case Token::Kind::Op:
            if (t.text == "(/" || t.text == "[") return constructor();
            if (t.text == "(") {
                next();
                ExprP a = expr();
                if (!a) return nullptr;
                if (accept(",")) {
                    // A complex literal (re, im).
                    ExprP b = expr();
                    if (!b) return nullptr;
                    if (!expect(")")) return nullptr;
                    e->kind = Expr::Kind::Complex;
                    e->lhs = std::move(a);
                    e->rhs = std::move(b);
                    return e;
                }
                if (!expect(")")) return nullptr;
                // Parentheses are kept as a unary node: (a) is not a variable.
                return unary(t, "()", std::move(a));
            }
            break;
        default: break;
        }
        fail(t.at, "expected an expression" + found());
        return nullptr;
    }

    ExprP substring_of_literal(ExprP e) {
        if (e->kind == Expr::Kind::Str && is_op("(")) {
            fail(peek().at, "substrings of literals are outside the subset");
            return nullptr;
        }
        return e;
    }

    bool subscript(Subscript &s) {
        if (!is_op(":")) {
            s.lo = expr();
            if (!s.lo) return false;
        }
        if (accept(":")) {
            s.triplet = true;
            if (!is_op(":") && !is_op(")") && !is_op(",")) {
                s.hi = expr();
                if (!s.hi) return false;
            }
            if (accept(":")) {
                s.step = expr();
                if (!s.step) return false;
            }
        }
        return true;
    }

    ExprP reference() {
        const Token &t = next();
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Ref;
        e->at = t.at;
        e->name = t.text;
        if (accept("(")) {
            e->has_args = true;
            if (!accept(")")) {
                for (;;) {
                    std::string kw;
                    if (peek().kind == Token::Kind::Ident && is_op("=", 1)) {
                        kw = next().text;
                        next();
                    }
                    Subscript s;
                    if (!subscript(s)) return nullptr;
                    e->args.push_back(std::move(s));
                    e->arg_keywords.push_back(kw);
                    if (accept(")")) break;
                    if (!expect(",")) return nullptr;
                }
            }
            // name(i)(lo:hi) or name(lo:hi) on a scalar: decided at translation.
            if (is_op("(")) {
                next();
                Subscript s;
                if (!subscript(s)) return nullptr;
                if (!s.triplet) {
                    fail(e->at, "expected a substring range (lo:hi)");
                    return nullptr;
                }
                if (!expect(")")) return nullptr;
                e->has_substr = true;
                e->sub_lo = std::move(s.lo);
                e->sub_hi = std::move(s.hi);
            }
        }
        if (is_op("%")) {
            fail(peek().at, "derived types are outside the subset");
            return nullptr;
        }
        return e;
    }

    ExprP constructor() {
        const Token &t = next();
        bool bracket = t.text == "[";
        const char *close = bracket ? "]" : "/)";
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Ctor;
        e->at = t.at;
        if (peek().kind == Token::Kind::Ident && is_op("::", 1)) {
            fail(peek().at, "a type in an array constructor is outside the subset");
            return nullptr;
        }
        if (!accept(close)) {
            for (;;) {
                auto item = io_item();
                if (!item) return nullptr;
                e->ctor.push_back(std::move(item));
                if (accept(close)) break;
                if (!expect(",")) return nullptr;
            }
        }
        return e;
    }

    // Whether the parenthesis at the cursor opens an implied DO: a top-level
    // "name =" after a comma before its closing parenthesis.
    bool implied_do_ahead() const {
        if (!is_op("(")) return false;
        int depth = 0;
        for (size_t k = 0;; ++k) {
            const Token &t = peek(k);
            if (t.kind == Token::Kind::End) return false;
            if (t.kind != Token::Kind::Op) continue;
            if (t.text == "(" || t.text == "(/" || t.text == "[")
                ++depth;
            else if (t.text == ")" || t.text == "/)" || t.text == "]") {
                if (--depth == 0) return false;
            } else if (depth == 1 && t.text == "," && peek(k + 1).kind == Token::Kind::Ident &&
                       peek(k + 2).kind == Token::Kind::Op && peek(k + 2).text == "=") {
                return true;
            }
        }
    }

    std::unique_ptr<ImpliedDo> io_item() {
        auto item = std::make_unique<ImpliedDo>();
        item->at = peek().at;
        if (implied_do_ahead()) {
            next();
            for (;;) {
                if (peek().kind == Token::Kind::Ident && is_op("=", 1)) break;
                auto sub = io_item();
                if (!sub) return nullptr;
                item->body.push_back(std::move(sub));
                if (!expect(",")) return nullptr;
            }
            item->var = next().text;
            next();
            item->from = expr();
            if (!item->from || !expect(",")) return nullptr;
            item->to = expr();
            if (!item->to) return nullptr;
            if (accept(",")) {
                item->step = expr();
                if (!item->step) return nullptr;
            }
            if (!expect(")")) return nullptr;
            return item;
        }
        item->expr = expr();
        if (!item->expr) return nullptr;
        return item;
    }

    bool io_list(Stmt &s) {
        if (at_end()) return true;
        for (;;) {
            auto item = io_item();
            if (!item) return false;
            s.items.push_back(std::move(item));
            if (at_end()) return true;
            if (!expect(",")) return false;
        }
    }

    // A control list "(...)": positional items first, then KEYWORD=value.
    bool control_list(Stmt &s) {
        if (!expect("(")) return false;
        for (;;) {
            Specifier sp;
            sp.at = peek().at;
            if (peek().kind == Token::Kind::Ident && is_op("=", 1)) {
                sp.keyword = next().text;
                next();
            }
            if (is_op("*") && (is_op(",", 1) || is_op(")", 1))) {
                next();
                sp.star = true;
            } else {
                sp.value = expr();
                if (!sp.value) return false;
            }
            s.specifiers.push_back(std::move(sp));
            if (accept(")")) return true;
            if (!expect(",")) return false;
        }
    }

    // The format of PRINT: "*", a label or a character expression.
    bool print_format(Stmt &s) {
        Specifier sp;
        sp.at = peek().at;
        sp.keyword = "fmt";
        if (accept("*"))
            sp.star = true;
        else {
            sp.value = expr();
            if (!sp.value) return false;
        }
        s.specifiers.push_back(std::move(sp));
        return true;
    }

    bool kind_selector(TypeSpec &t) {
        if (accept("*")) {
            if (peek().kind != Token::Kind::Int) {
                fail(peek().at, "expected a kind after '*'" + found());
                return false;
            }
            t.kind = static_cast<int>(std::strtol(next().text.c_str(), nullptr, 10));
            if (t.base == TypeSpec::Base::Complex) t.kind /= 2;
            return true;
        }
        if (!is_op("(")) return true;
        next();
        accept_word("kind") && expect("=");
        if (peek().kind != Token::Kind::Int) {
            fail(peek().at, "a kind must be an integer literal in the subset" + found());
            return false;
        }
        t.kind = static_cast<int>(std::strtol(next().text.c_str(), nullptr, 10));
        return expect(")");
    }

    bool char_selector(TypeSpec &t) {
        if (accept("*")) {
            if (accept("(")) {
                if (accept("*"))
                    t.len_star = true;
                else if (!(t.len = expr()))
                    return false;
                return expect(")");
            }
            if (peek().kind != Token::Kind::Int) {
                fail(peek().at, "expected a length after '*'" + found());
                return false;
            }
            t.len = primary();
            return t.len != nullptr;
        }
        if (!accept("(")) return true;
        for (;;) {
            std::string kw = "len";
            if (peek().kind == Token::Kind::Ident && is_op("=", 1)) {
                kw = next().text;
                next();
            }
            if (kw == "len") {
                if (accept("*"))
                    t.len_star = true;
                else if (!(t.len = expr()))
                    return false;
            } else if (kw == "kind") {
                if (peek().kind != Token::Kind::Int || peek().text != "1") {
                    fail(peek().at, "only CHARACTER kind 1 is in the subset");
                    return false;
                }
                next();
            } else {
                fail(peek().at, "unknown CHARACTER selector '" + kw + "'");
                return false;
            }
            if (accept(")")) return true;
            if (!expect(",")) return false;
        }
    }

    bool type_spec(TypeSpec &t) {
        std::string w = next().text;
        if (w == "integer")
            t.base = TypeSpec::Base::Int;
        else if (w == "real")
            t.base = TypeSpec::Base::Real;
        else if (w == "complex")
            t.base = TypeSpec::Base::Complex;
        else if (w == "logical")
            t.base = TypeSpec::Base::Logical;
        else if (w == "character") {
            t.base = TypeSpec::Base::Char;
            return char_selector(t);
        } else if (w == "double") {
            if (accept_word("precision")) {
                t.base = TypeSpec::Base::Real;
            } else if (accept_word("complex")) {
                t.base = TypeSpec::Base::Complex;
            } else {
                fail(peek().at, "expected PRECISION or COMPLEX after DOUBLE");
                return false;
            }
            t.kind = 8;
            return true;
        } else if (w == "doubleprecision") {
            t.base = TypeSpec::Base::Real;
            t.kind = 8;
            return true;
        }
        return kind_selector(t);
    }

    bool dim_list(std::vector<std::pair<ExprP, ExprP>> &dims) {
        if (!expect("(")) return false;
        for (;;) {
            if (is_op(":") || is_op("*")) {
                fail(peek().at, "only explicit-shape arrays are in the subset");
                return false;
            }
            ExprP a = expr();
            if (!a) return false;
            ExprP lo, hi;
            if (accept(":")) {
                lo = std::move(a);
                if (!(hi = expr())) return false;
            } else {
                hi = std::move(a);
            }
            dims.emplace_back(std::move(lo), std::move(hi));
            if (accept(")")) break;
            if (!expect(",")) return false;
        }
        if (dims.size() > 3) {
            fail(peek().at, "arrays of rank above 3 are outside the subset");
            return false;
        }
        return true;
    }

    bool declaration(Stmt &s) {
        s.kind = Stmt::Kind::Decl;
        if (!type_spec(s.decl.type)) return false;
        bool colons = false;
        while (accept(",")) {
            std::string attr;
            if (!ident(attr)) return false;
            if (attr == "parameter")
                s.decl.parameter = true;
            else if (attr == "dimension") {
                if (!dim_list(s.decl.dims)) return false;
            } else if (attr == "save" || attr == "target") {
                // Every variable of a main program already behaves so.
            } else {
                fail(peek().at, "the attribute " + attr + " is outside the subset");
                return false;
            }
        }
        if (accept("::")) colons = true;
        for (;;) {
            Entity en;
            en.at = peek().at;
            if (!ident(en.name)) return false;
            if (is_op("(") && !dim_list(en.dims)) return false;
            if (accept("*")) {
                if (s.decl.type.base != TypeSpec::Base::Char) {
                    fail(peek().at, "a length is given only to CHARACTER entities");
                    return false;
                }
                if (accept("(")) {
                    if (!(en.char_len = expr()) || !expect(")")) return false;
                } else if (!(en.char_len = primary())) {
                    return false;
                }
            }
            if (is_op("=")) {
                if (!colons) {
                    fail(peek().at, "an initialiser needs '::' in the declaration");
                    return false;
                }
                next();
                if (!(en.init = expr())) return false;
            } else if (s.decl.parameter) {
                fail(peek().at, "a PARAMETER needs a value");
                return false;
            }
            s.decl.entities.push_back(std::move(en));
            if (at_end()) return true;
            if (!expect(",")) return false;
        }
    }

    bool do_statement(Stmt &s) {
        s.kind = Stmt::Kind::Do;
        if (peek().kind == Token::Kind::Int)
            s.do_label = static_cast<int>(std::strtol(next().text.c_str(), nullptr, 10));
        accept(",");
        if (at_end()) {
            s.kind = Stmt::Kind::DoWhile;  // DO without control: DO WHILE (.true.)
            return true;
        }
        if (accept_word("while")) {
            s.kind = Stmt::Kind::DoWhile;
            if (!expect("(") || !(s.value = expr()) || !expect(")")) return false;
            return expect_end();
        }
        if (!ident(s.do_var) || !expect("=")) return false;
        if (!(s.from = expr()) || !expect(",") || !(s.to = expr())) return false;
        if (accept(",") && !(s.step = expr())) return false;
        return expect_end();
    }

    int label_ref() {
        if (peek().kind != Token::Kind::Int) {
            fail(peek().at, "expected a statement label" + found());
            return 0;
        }
        return static_cast<int>(std::strtol(next().text.c_str(), nullptr, 10));
    }

    // An executable statement or a declaration (not FORMAT, which needs the
    // raw text and is handled by the caller).
    bool statement(Stmt &s) {
        const Token &t = peek();
        s.at = t.at;
        if (t.kind != Token::Kind::Ident) {
            fail(t.at, "expected a statement" + found());
            return false;
        }
        // name: DO ...
        if (is_op(":", 1) && is_word("do", 2)) {
            s.construct = next().text;
            next();
        }
        // Assignment: a designator followed by '=' at the top level.
        if (!is_op(":", 1) && assignment_ahead()) {
            s.kind = Stmt::Kind::Assign;
            if (!(s.target = reference())) return false;
            if (!expect("=") || !(s.value = expr())) return false;
            return expect_end();
        }
        std::string w = next().text;
        if (w == "integer" || w == "real" || w == "complex" || w == "logical" || w == "character" || w == "double" ||
            w == "doubleprecision") {
            --pos_;
            return declaration(s);
        }
        if (w == "implicit") {
            s.kind = Stmt::Kind::ImplicitNone;
            if (!accept_word("none")) {
                fail(peek().at, "only IMPLICIT NONE is in the subset");
                return false;
            }
            return expect_end();
        }
        if (w == "if") {
            if (!expect("(") || !(s.value = expr()) || !expect(")")) return false;
            if (accept_word("then")) {
                s.kind = Stmt::Kind::IfThen;
                return expect_end();
            }
            s.kind = Stmt::Kind::If;
            s.then = std::make_unique<Stmt>();
            if (!statement(*s.then)) return false;
            static const std::set<Stmt::Kind> bad{
                Stmt::Kind::If,   Stmt::Kind::IfThen, Stmt::Kind::Do,    Stmt::Kind::DoWhile, Stmt::Kind::End,
                Stmt::Kind::Decl, Stmt::Kind::EndDo,  Stmt::Kind::EndIf, Stmt::Kind::Else,    Stmt::Kind::ElseIf};
            if (bad.count(s.then->kind)) {
                fail(s.then->at, "this statement may not follow a logical IF");
                return false;
            }
            return true;
        }
        if (w == "else") {
            if (accept_word("if")) {
                s.kind = Stmt::Kind::ElseIf;
                if (!expect("(") || !(s.value = expr()) || !expect(")")) return false;
                if (!accept_word("then")) {
                    fail(peek().at, "expected THEN" + found());
                    return false;
                }
                return expect_end();
            }
            s.kind = Stmt::Kind::Else;
            return expect_end();
        }
        if (w == "elseif") {
            s.kind = Stmt::Kind::ElseIf;
            if (!expect("(") || !(s.value = expr()) || !expect(")")) return false;
            if (!accept_word("then")) {
                fail(peek().at, "expected THEN" + found());
                return false;
            }
            return expect_end();
        }
        if (w == "endif") {
            s.kind = Stmt::Kind::EndIf;
            return expect_end();
        }
        if (w == "enddo") {
            s.kind = Stmt::Kind::EndDo;
            if (peek().kind == Token::Kind::Ident) next();
            return expect_end();
        }
        if (w == "end") {
            if (accept_word("if")) {
                s.kind = Stmt::Kind::EndIf;
                return expect_end();
            }
            if (accept_word("do")) {
                s.kind = Stmt::Kind::EndDo;
                if (peek().kind == Token::Kind::Ident) next();
                return expect_end();
            }
            s.kind = Stmt::Kind::End;
            if (accept_word("program") && peek().kind == Token::Kind::Ident) next();
            return expect_end();
        }
        if (w == "endprogram") {
            s.kind = Stmt::Kind::End;
            if (peek().kind == Token::Kind::Ident) next();
            return expect_end();
        }
        if (w == "do") return do_statement(s);
        if (w == "exit" || w == "cycle") {
            s.kind = w == "exit" ? Stmt::Kind::Exit : Stmt::Kind::Cycle;
            if (peek().kind == Token::Kind::Ident) s.construct = next().text;
            return expect_end();
        }
        if (w == "goto" || (w == "go" && accept_word("to"))) {
            s.kind = Stmt::Kind::Goto;
            if (is_op("(")) {
                fail(peek().at, "computed GOTO is outside the subset");
                return false;
            }
            s.goto_label = label_ref();
            return s.goto_label && expect_end();
        }
        if (w == "continue") {
            s.kind = Stmt::Kind::Continue;
            return expect_end();
        }
        if (w == "stop" || w == "error" || w == "errorstop") {
            s.kind = Stmt::Kind::Stop;
            if (w != "stop") {
                if (w == "error" && !accept_word("stop")) {
                    fail(peek().at, "expected STOP after ERROR");
                    return false;
                }
                s.kind = Stmt::Kind::ErrorStop;
            }
            if (!at_end() && !is_op(",")) {
                if (!(s.value = expr())) return false;
            }
            if (accept(",")) {
                if (!accept_word("quiet") || !expect("=")) return false;
                ExprP q = expr();
                if (!q) return false;
                if (q->kind != Expr::Kind::Logical) {
                    fail(q->at, "QUIET= takes a logical literal in the subset");
                    return false;
                }
                s.quiet = q->ival != 0;
            }
            return expect_end();
        }
        static const std::pair<const char *, Stmt::Kind> positioning[] = {{"rewind", Stmt::Kind::Rewind},
                                                                          {"backspace", Stmt::Kind::Backspace},
                                                                          {"endfile", Stmt::Kind::Endfile},
                                                                          {"flush", Stmt::Kind::Flush}};
        for (auto [name, kind] : positioning) {
            if (w == name) {
                s.kind = kind;
                if (is_op("(")) {
                    if (!control_list(s)) return false;
                } else {
                    Specifier sp;
                    sp.at = peek().at;
                    if (!(sp.value = expr())) return false;
                    s.specifiers.push_back(std::move(sp));
                }
                return expect_end();
            }
        }
        if (w == "open" || w == "close" || w == "inquire" || w == "wait") {
            s.kind = w == "open"      ? Stmt::Kind::Open
                     : w == "close"   ? Stmt::Kind::Close
                     : w == "inquire" ? Stmt::Kind::Inquire
                                      : Stmt::Kind::Wait;
            if (!control_list(s)) return false;
            if (s.kind == Stmt::Kind::Inquire && !at_end()) {
                if (!io_list(s)) return false;
            }
            return expect_end();
        }
        if (w == "read" || w == "write") {
            s.kind = w == "read" ? Stmt::Kind::Read : Stmt::Kind::Write;
            if (is_op("(")) {
                if (!control_list(s)) return false;
                accept(",");  // a comma before the list is an old extension; tolerate it
            } else if (w == "read") {
                // READ fmt [, list]
                if (!print_format(s)) return false;
                if (!at_end() && !expect(",")) return false;
            } else {
                fail(peek().at, "expected '(' after WRITE");
                return false;
            }
            return io_list(s) && expect_end();
        }
        if (w == "print") {
            s.kind = Stmt::Kind::Print;
            if (!print_format(s)) return false;
            if (!at_end() && !expect(",")) return false;
            return io_list(s) && expect_end();
        }
        if (w == "program") {
            fail(t.at, "PROGRAM must be the first statement");
            return false;
        }
        static const std::set<std::string> known{
            "call",      "subroutine", "function", "module",     "use",     "contains", "select", "case",
            "where",     "forall",     "allocate", "deallocate", "type",    "namelist", "common", "equivalence",
            "data",      "interface",  "block",    "associate",  "pause",   "return",   "entry",  "include",
            "dimension", "save",       "external", "intrinsic",  "nullify", "pointer"};
        if (known.count(w))
            fail(t.at, "the " + upper(w) + " statement is outside the subset");
        else
            fail(t.at, "unknown statement '" + w + "'");
        return false;
    }

    static std::string upper(std::string s) {
        for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }

    // name [(...)] [(...)] '=' at the top level means an assignment, even
    // when the name is a keyword ("if = 3" is legal Fortran).
    bool assignment_ahead() const {
        if (peek().kind != Token::Kind::Ident) return false;
        size_t k = 1;
        for (int group = 0; group < 2 && is_op("(", k); ++group) {
            int depth = 0;
            for (;; ++k) {
                const Token &t = peek(k);
                if (t.kind == Token::Kind::End) return false;
                if (t.kind != Token::Kind::Op) continue;
                if (t.text == "(" || t.text == "(/" || t.text == "[")
                    ++depth;
                else if (t.text == ")" || t.text == "/)" || t.text == "]") {
                    if (--depth == 0) {
                        ++k;
                        break;
                    }
                }
            }
        }
        return is_op("=", k);
    }

    bool ok() const { return !failed_; }
    const Error &error() const { return err_; }
    size_t pos_ = 0;

  private:
    const LogicalLine *l_;
    bool failed_ = false;
    Error err_;
};

}  // namespace

bool parse_program(std::string_view source, Program &out, Error &err) {
    std::vector<LogicalLine> lines;
    if (!lex(source, lines, err)) return false;
    size_t i = 0;
    if (i < lines.size() && lines[i].tokens[0].kind == Token::Kind::Ident && lines[i].tokens[0].text == "program") {
        Parser p(&lines[i]);
        p.next();
        if (!p.ident(out.name) || !p.expect_end()) {
            err = p.error();
            return false;
        }
        ++i;
    }
    bool ended = false;
    for (; i < lines.size(); ++i) {
        const LogicalLine &l = lines[i];
        if (ended) {
            err = {l.at, "statements after END PROGRAM (procedures are outside the subset)"};
            return false;
        }
        auto s = std::make_unique<Stmt>();
        s->label = l.label;
        s->at = l.at;
        const auto &tk = l.tokens;
        if (tk.size() >= 2 && tk[0].kind == Token::Kind::Ident && tk[0].text == "format" &&
            tk[1].kind == Token::Kind::Op && tk[1].text == "(") {
            s->kind = Stmt::Kind::Format;
            size_t open = l.raw.find('(');
            size_t close = l.raw.find_last_not_of(" \t");
            if (l.raw[close] != ')') {
                err = {l.raw_at[close], "a FORMAT statement ends with ')'"};
                return false;
            }
            s->format_text = l.raw.substr(open, close - open + 1);
            if (!l.label) {
                err = {l.at, "a FORMAT statement needs a label"};
                return false;
            }
            out.body.push_back(std::move(s));
            continue;
        }
        Parser p(&l);
        if (!p.statement(*s)) {
            err = p.error();
            return false;
        }
        if (s->kind == Stmt::Kind::End) ended = true;
        out.body.push_back(std::move(s));
    }
    if (!ended) {
        err = {lines.empty() ? Where{1, 1} : lines.back().at, "the program has no END statement"};
        return false;
    }
    return true;
}

bool parse_expression(std::string_view text, ExprP &out, Error &err) {
    std::vector<LogicalLine> lines;
    if (!lex_lines(text, lines, err, false)) return false;
    if (lines.size() != 1) {
        err = {{1, 1}, "expected one expression"};
        return false;
    }
    Parser p(&lines[0]);
    out = p.expr();
    if (out) p.expect_end();
    if (!p.ok()) {
        err = p.error();
        return false;
    }
    return true;
}

}  // namespace vrun
