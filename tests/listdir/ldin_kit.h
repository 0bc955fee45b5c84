// What the list-directed input tests share: variables of every list type
// with a visible "unchanged" value, READ statements on a file and on an
// internal file through the library's entries, and the same statements
// as a Fortran program for gfortran. Both sides print the variables the
// same way (integers in decimal, reals and complex parts as the hex digits
// of their bits, logicals as T or F, characters in brackets), so that a
// case compares as one line of text.
#pragma once
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <vorlix/io.h>

#include "support/kit.h"

namespace ldin {

// A variable of the statement: "i1" "i2" "i4" "i8" integers, "u1" ...
// "u8" unsigned (library only), "r4" "r8" "r16" reals, "z4" "z8" "z16"
// complex, "l1" "l2" "l4" "l8" logicals, "cN" CHARACTER(N); a suffix "xN"
// makes an array of N elements.
struct Var {
    std::string kind;  // without the array suffix
    int count = 1;
    int type = 0;
    int64_t size = 0;  // bytes of one element
    std::vector<unsigned char> bytes;

    explicit Var(const std::string &text) {
        kind = text;
        if (size_t x = text.find('x'); x != std::string::npos) {
            kind = text.substr(0, x);
            count = std::stoi(text.substr(x + 1));
        }
        const std::string k = kind;
        const char c = k[0];
        const int n = k.size() > 1 ? std::stoi(k.substr(1)) : 0;
        if (c == 'i') type = n == 1 ? FOR_TYPE_INT1 : n == 2 ? FOR_TYPE_INT2 : n == 4 ? FOR_TYPE_INT4 : FOR_TYPE_INT8;
        if (c == 'u')
            type = n == 1 ? FOR_TYPE_UINT1 : n == 2 ? FOR_TYPE_UINT2 : n == 4 ? FOR_TYPE_UINT4 : FOR_TYPE_UINT8;
        if (c == 'r') type = n == 4 ? FOR_TYPE_REAL4 : n == 8 ? FOR_TYPE_REAL8 : FOR_TYPE_REAL16;
        if (c == 'z') type = n == 4 ? FOR_TYPE_COMPLEX4 : n == 8 ? FOR_TYPE_COMPLEX8 : FOR_TYPE_COMPLEX16;
        if (c == 'l')
            type = n == 1   ? FOR_TYPE_LOGICAL1
                   : n == 2 ? FOR_TYPE_LOGICAL2
                   : n == 4 ? FOR_TYPE_LOGICAL4
                            : FOR_TYPE_LOGICAL8;
        if (c == 'c') type = FOR_TYPE_CHARACTER;
        size = c == 'z' ? 2 * n : n;
        bytes.assign(static_cast<size_t>(size * count), 0);
        reset();
    }
    char c() const { return kind[0]; }
    int part() const { return std::stoi(kind.substr(1)); }
    unsigned char *elem(int i) { return bytes.data() + i * size; }

    // The value that shows an element was left alone.
    void reset() {
        for (int i = 0; i < count; ++i) {
            unsigned char *p = elem(i);
            switch (c()) {
            case 'i':
            case 'u': {
                int64_t v = c() == 'i' ? -77 : 77;
                std::memcpy(p, &v, size);
                break;
            }
            case 'l': {
                int64_t v = -1;
                std::memcpy(p, &v, size);
                break;
            }
            case 'c': std::memset(p, 'z', size); break;
            default:
                for (int k = 0; k < (c() == 'z' ? 2 : 1); ++k) {
                    unsigned char *q = p + k * part();
                    if (part() == 4) {
                        float v = -77;
                        std::memcpy(q, &v, 4);
                    }
                    if (part() == 8) {
                        double v = -77;
                        std::memcpy(q, &v, 8);
                    }
                    if (part() == 16) {
                        __float128 v = -77;
                        std::memcpy(q, &v, 16);
                    }
                }
            }
        }
    }

    static std::string hex(const unsigned char *p, int n) {
        std::string s;
        char b[3];
        for (int i = n - 1; i >= 0; --i) {
            std::snprintf(b, sizeof b, "%02X", p[i]);
            s += b;
        }
        return s;
    }
    std::string show() const {
        std::string s;
        for (int i = 0; i < count; ++i) {
            const unsigned char *p = bytes.data() + i * size;
            s += ' ';
            switch (c()) {
            case 'i': {
                int64_t v = 0;
                std::memcpy(&v, p, size);
                v = (v << (64 - 8 * size)) >> (64 - 8 * size);
                s += std::to_string(v);
                break;
            }
            case 'u': {
                uint64_t v = 0;
                std::memcpy(&v, p, size);
                s += std::to_string(v);
                break;
            }
            case 'l': s += (p[0] & 1) ? "T" : "F"; break;
            case 'c': s += "[" + std::string(reinterpret_cast<const char *>(p), size) + "]"; break;
            case 'r': s += hex(p, part()); break;
            default: s += hex(p, part()) + " " + hex(p + part(), part()); break;
            }
        }
        return s;
    }

    // The Fortran declaration of variable `name`.
    std::string decl(const std::string &name) const {
        std::string t;
        switch (c()) {
        case 'i': t = "integer(" + kind.substr(1) + ")"; break;
        case 'r': t = "real(" + kind.substr(1) + ")"; break;
        case 'z': t = "complex(" + kind.substr(1) + ")"; break;
        case 'l': t = "logical(" + kind.substr(1) + ")"; break;
        default: t = "character(len=" + kind.substr(1) + ")"; break;
        }
        return "  " + t + " :: " + name + (count > 1 ? "(" + std::to_string(count) + ")" : "") + "\n";
    }
    std::string fortran_reset(const std::string &name) const {
        switch (c()) {
        case 'i': return "  " + name + " = -77\n";
        case 'r': return "  " + name + " = -77\n";
        case 'z': return "  " + name + " = (-77, -77)\n";
        case 'l': return "  " + name + " = .true.\n";
        default: return "  " + name + " = repeat('z', len(" + name + "))\n";
        }
    }
    std::string fortran_show(const std::string &name) const {
        std::string out;
        for (int i = 0; i < count; ++i) {
            std::string e = count > 1 ? name + "(" + std::to_string(i + 1) + ")" : name;
            out += "  write (*, '(a)', advance='no') ' '\n";
            const std::string z = "z" + std::to_string(2 * part()) + "." + std::to_string(2 * part());
            switch (c()) {
            case 'i': out += "  write (*, '(i0)', advance='no') " + e + "\n"; break;
            case 'l': out += "  write (*, '(l1)', advance='no') " + e + "\n"; break;
            case 'c': out += "  write (*, '(3a)', advance='no') '[', " + e + ", ']'\n"; break;
            case 'r': out += "  write (*, '(" + z + ")', advance='no') " + e + "\n"; break;
            default: out += "  write (*, '(" + z + ",1x," + z + ")', advance='no') real(" + e + "), aimag(" + e + ")\n";
            }
        }
        return out;
    }
};

// A Fortran character expression for any text: apostrophes doubled, tabs
// and other controls through achar, pieces on continuation lines so that
// no source line is too long.
inline std::string fortran_text(const std::string &t) {
    if (t.empty()) return "''";
    std::string out, piece;
    auto flush = [&] {
        if (piece.empty()) return;
        if (!out.empty()) out += " // &\n    ";
        out += "'" + piece + "'";
        piece.clear();
    };
    for (char ch : t) {
        if (static_cast<unsigned char>(ch) < 32) {
            flush();
            if (!out.empty()) out += " // &\n    ";
            out += "achar(" + std::to_string(static_cast<unsigned char>(ch)) + ")";
            continue;
        }
        piece += ch;
        if (ch == '\'') piece += '\'';
        if (piece.size() >= 60) flush();
    }
    flush();
    return out;
}

// One test case: the records of the input, the variables, and the READ
// statements (each a list of variable indices; empty: one READ of all).
struct Case {
    const char *what;
    std::vector<std::string> records;
    std::vector<std::string> vars;
    std::vector<std::vector<int>> reads;
    bool comma = false;           // DECIMAL='COMMA'
    const char *round = nullptr;  // ROUND=
    Case(const char *w, std::vector<std::string> r, std::vector<std::string> v, std::vector<std::vector<int>> rd = {},
         bool dc = false)
        : what(w), records(std::move(r)), vars(std::move(v)), reads(std::move(rd)), comma(dc) {}
};

inline std::vector<std::vector<int>> reads_of(const Case &c) {
    if (!c.reads.empty()) return c.reads;
    std::vector<int> all;
    for (size_t i = 0; i < c.vars.size(); ++i) all.push_back(static_cast<int>(i));
    return {all};
}

inline std::string status_word(int ios) { return ios == 0 ? "ok" : ios < 0 ? "eof" : "err"; }

inline size_t record_len(const Case &c) {
    size_t n = 1;
    for (const std::string &r : c.records) n = std::max(n, r.size());
    return n;
}

// The program: for each case a subroutine that reads the records from a
// file and then from an internal file, printing one line per pass.
inline std::string fortran_program(const std::vector<Case> &cases) {
    std::string main = "program ldin\n", subs;
    for (size_t k = 0; k < cases.size(); ++k) {
        const Case &c = cases[k];
        const std::string sub = "case" + std::to_string(k);
        main += "  call " + sub + "()\n";
        std::string s = "subroutine " + sub + "()\n  integer :: u, ios\n";
        s += "  character(len=" + std::to_string(record_len(c)) + ") :: rec(" +
             std::to_string(std::max<size_t>(c.records.size(), 1)) + ")\n";
        for (size_t i = 0; i < c.vars.size(); ++i) s += Var(c.vars[i]).decl("v" + std::to_string(i));
        std::string reset, show;
        for (size_t i = 0; i < c.vars.size(); ++i) {
            reset += Var(c.vars[i]).fortran_reset("v" + std::to_string(i));
            show += Var(c.vars[i]).fortran_show("v" + std::to_string(i));
        }
        const std::string dec = c.comma ? ", decimal='comma'" : "";
        auto list = [&](const std::vector<int> &r) {
            std::string l;
            for (size_t i = 0; i < r.size(); ++i) l += (i ? ", v" : " v") + std::to_string(r[i]);
            return l;
        };
        auto status_and_show = [&] {
            return "  if (ios == 0) write (*, '(a)', advance='no') 'ok'\n"
                   "  if (ios < 0) write (*, '(a)', advance='no') 'eof'\n"
                   "  if (ios > 0) write (*, '(a)', advance='no') 'err'\n"
                   "  if (ios <= 0) then\n" +
                   show + "  end if\n  write (*, '(a)') ''\n";
        };
        s += "  rec = ''\n";
        for (size_t i = 0; i < c.records.size(); ++i)
            s += "  rec(" + std::to_string(i + 1) + ") = " + fortran_text(c.records[i]) + "\n";
        // The file pass.
        s += reset;
        s += "  open (newunit=u, file='ldin_" + std::to_string(k) + ".txt', status='replace')\n";
        for (const std::string &r : c.records) s += "  write (u, '(a)') " + fortran_text(r) + "\n";
        s += "  rewind (u)\n  ios = 0\n";
        for (const auto &r : reads_of(c)) s += "  if (ios == 0) read (u, *, iostat=ios" + dec + ")" + list(r) + "\n";
        s += "  close (u, status='delete')\n";
        s += status_and_show();
        // The internal-file pass: its first READ only (each READ of an
        // internal file starts at its first record again).
        s += reset;
        s += "  read (rec, *, iostat=ios" + dec + ")" + list(reads_of(c)[0]) + "\n";
        s += status_and_show();
        s += "end subroutine\n";
        subs += s;
    }
    return main + "contains\n" + subs + "end program\n";
}

inline std::string temp_path(const std::string &tag) {
    const char *dir = std::getenv("VORLIX_TEST_TMP");
    return std::string(dir ? dir : "/tmp") + "/ldin_" + tag + "_" + std::to_string(::getpid());
}

inline void add_items(kit::List &l, std::vector<Var> &vars, const std::vector<int> &which) {
    for (int i : which) {
        Var &v = vars[static_cast<size_t>(i)];
        if (v.type == FOR_TYPE_CHARACTER) {
            if (v.count == 1)
                l.chars(reinterpret_cast<char *>(v.bytes.data()), static_cast<size_t>(v.size));
            else
                l.char_array(reinterpret_cast<char *>(v.bytes.data()), static_cast<size_t>(v.count),
                             static_cast<size_t>(v.size));
        } else if (v.count == 1) {
            l.raw(v.type, FOR_FORM_ADDR, {reinterpret_cast<uintptr_t>(v.bytes.data())});
        } else {
            l.raw(v.type, FOR_FORM_ARRAY, {v.bytes.size(), reinterpret_cast<uintptr_t>(v.bytes.data())});
        }
    }
}

// Every value is shown after a failure too when `always` is set: what an
// error leaves in the variables is the library's to define, not gfortran's.
inline bool show_always = false;

inline std::string show_all(int ios, const std::vector<Var> &vars) {
    std::string s = show_always ? std::to_string(ios) : status_word(ios);
    if (ios <= 0 || show_always)
        for (const Var &v : vars) s += v.show();
    return s;
}

// The statements of a case on an external unit connected to a file that
// holds the records, one line each. `flags` adds bits to each READ.
inline std::string run_file(const Case &c, int unit, For_IO_Flags flags = iof_f90, int *last_ios = nullptr) {
    const std::string path = temp_path(std::to_string(unit));
    {
        std::ofstream f(path, std::ios::binary);
        for (const std::string &r : c.records) f << r << '\n';
    }
    kit::Keys k;
    k.text(FOR_KEY_FILE, path).text(FOR_KEY_STATUS, "OLD");
    For_Context octx{};
    // The unit remembers the f90 mode it was connected under.
    kit::Flags of;
    of.iostat().set(flags & iof_f90);
    EXPECT_EQ(for_open(&octx, unit, of, k.dsc(), k.val()), 0) << path;
    std::vector<Var> vars;
    for (const std::string &v : c.vars) vars.emplace_back(v);
    int ios = 0;
    for (const auto &r : reads_of(c)) {
        kit::Stmt st(unit);
        st.flags.iostat().set(flags);
        if (c.comma) st.control.decimal("COMMA");
        if (c.round) st.control.round(c.round);
        add_items(st.items, vars, r);
        st.items.end();
        ios = st.run(for_read_seq_lis, for_read_seq_lis_xmit);
        if (ios != 0) break;
    }
    kit::Keys ck;
    For_Context cctx{};
    for_close(&cctx, unit, of, ck.dsc(), ck.val());
    ::unlink(path.c_str());
    if (last_ios) *last_ios = ios;
    return show_all(ios, vars);
}

// The first READ of a case on an internal file whose records are the
// case's records blank-padded to the longest.
inline std::string run_internal(const Case &c, For_IO_Flags flags = iof_f90, int *last_ios = nullptr) {
    const size_t len = record_len(c);
    const size_t n = std::max<size_t>(c.records.size(), 1);
    std::string file(len * n, ' ');
    for (size_t i = 0; i < c.records.size(); ++i) file.replace(i * len, c.records[i].size(), c.records[i]);
    std::vector<Var> vars;
    for (const std::string &v : c.vars) vars.emplace_back(v);
    kit::Stmt st;
    st.flags.iostat().set(flags);
    if (c.comma) st.control.decimal("COMMA");
    if (c.round) st.control.round(c.round);
    st.items.char_array(file.data(), n, len);
    add_items(st.items, vars, reads_of(c)[0]);
    st.items.end();
    const int ios = st.run(for_read_int_lis, for_read_int_lis_xmit);
    if (last_ios) *last_ios = ios;
    return show_all(ios, vars);
}

}  // namespace ldin
