// Formatted statements through the compiler kit, beside the same
// statements in a generated Fortran program run by gfortran: a case names
// a format and its items once, and both sides are built from that.
#pragma once
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <vorlix/io.h>

#include "support/files.h"
#include "support/kit.h"
#include "support/oracle.h"

namespace fmtk {

// One list item: its Fortran spelling and the value the kit passes.
struct Val {
    char k;  // i int4, j int8, r real8, f real4, c complex8, l logical4, a character
    int64_t i = 0;
    double r = 0, im = 0;
    std::string s;
};
inline Val I(int64_t v) { return {'i', v, 0, 0, {}}; }
inline Val J(int64_t v) { return {'j', v, 0, 0, {}}; }
inline Val R(double v) { return {'r', 0, v, 0, {}}; }
inline Val F(float v) { return {'f', 0, v, 0, {}}; }
inline Val C(double re, double im) { return {'c', 0, re, im, {}}; }
inline Val L(bool v) { return {'l', v ? 1 : 0, 0, 0, {}}; }
inline Val A(std::string v) { return {'a', 0, 0, 0, std::move(v)}; }

inline std::string fortran_real(double v, bool dbl) {
    char b[64];
    std::snprintf(b, sizeof b, dbl ? "%.17e" : "%.9e", v);
    std::string t = b;
    auto e = t.find('e');
    if (dbl) t[e] = 'd';
    return "(" + t + ")";
}

inline std::string fortran(const Val &v) {
    switch (v.k) {
    case 'i': return "(" + std::to_string(v.i) + ")";
    case 'j': return "(" + std::to_string(v.i) + "_8)";
    case 'r': return fortran_real(v.r, true);
    case 'f': return fortran_real(v.r, false);
    case 'c': return "cmplx(" + fortran_real(v.r, true) + "," + fortran_real(v.im, true) + ",kind=8)";
    case 'l': return v.i ? ".true." : ".false.";
    default: {
        std::string q = "'";
        for (char c : v.s) q += c == '\'' ? std::string("''") : std::string(1, c);
        return q + "'";
    }
    }
}

// A Fortran character constant holding `text`.
inline std::string quoted(const std::string &text) {
    std::string q = "\"";
    for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// Storage for the values of one statement, kept alive while it runs.
struct Store {
    std::vector<int32_t> i4;
    std::vector<int64_t> i8;
    std::vector<double> r8;
    std::vector<float> r4;
    std::vector<std::complex<double>> c8;
    std::vector<kit::Logical4> l4;
    std::vector<std::string> a;
    explicit Store(size_t n) {
        i4.reserve(n);
        i8.reserve(n);
        r8.reserve(n);
        r4.reserve(n);
        c8.reserve(n);
        l4.reserve(n);
        a.reserve(n);
    }
    void add(kit::List &l, const Val &v) {
        switch (v.k) {
        case 'i': l.item(i4.emplace_back(static_cast<int32_t>(v.i))); break;
        case 'j': l.item(i8.emplace_back(v.i)); break;
        case 'r': l.item(r8.emplace_back(v.r)); break;
        case 'f': l.item(r4.emplace_back(static_cast<float>(v.r))); break;
        case 'c': l.item(c8.emplace_back(v.r, v.im)); break;
        case 'l': l.item(l4.emplace_back(kit::Logical4{v.i ? -1 : 0})); break;
        default: l.chars(a.emplace_back(v.s)); break;
        }
    }
};

// A scratch directory for the files of one test.
struct Dir : kit::Scratch_Dir {
    Dir() : kit::Scratch_Dir("fmtio") {}
    std::string file(const std::string &n) const { return path(n); }
};

inline std::string slurp(const std::string &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

inline int open_file(int unit, const std::string &path, const char *status = "replace") {
    kit::Keys k;
    k.text(FOR_KEY_FILE, path).text(FOR_KEY_STATUS, status);
    // Fortran-90 semantics: PAD='YES' by default
    return kit::open_unit(unit, k, kit::Flags{}.iostat().f90());
}

inline int close_unit(int unit) { return kit::close_unit(unit); }

// The text must outlive the statement: a literal, or a string kept alive.
inline For_Char_Format text_format(std::string_view t) {
    return For_Char_Format{static_cast<int64_t>(t.size()), t.data()};
}

}  // namespace fmtk
