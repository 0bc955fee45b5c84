// The compiler kit: builds what compiled Fortran code hands to the library
// (flag words, descriptor and value lists, control lists) so that a test
// reads like the statement it stands for:
//
//   WRITE (6, *, IOSTAT=ios, IOMSG=msg) x, a(1:10:2)
//
//   kit::Stmt w(6);
//   w.flags.iostat();
//   w.control.iomsg(msg);
//   w.items.item(x).section(kit::slice(a, 1, 10, 2)).end();
//   int ios = w.run(for_write_seq_lis, for_write_seq_lis_xmit);
#pragma once
#include <complex>
#include <cstdint>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <vorlix/abi.h>

namespace kit {

// LOGICAL(kind) as compiled code stores it.
template <class I>
struct Logical {
    I v;
};
using Logical1 = Logical<int8_t>;
using Logical2 = Logical<int16_t>;
using Logical4 = Logical<int32_t>;
using Logical8 = Logical<int64_t>;

struct Complex32 {
    __float128 re, im;
};

// The type code compiled code uses for a C++ type.
template <class T>
constexpr int type_code() {
    if constexpr (std::is_same_v<T, int8_t>)
        return FOR_TYPE_INT1;
    else if constexpr (std::is_same_v<T, int16_t>)
        return FOR_TYPE_INT2;
    else if constexpr (std::is_same_v<T, int32_t>)
        return FOR_TYPE_INT4;
    else if constexpr (std::is_same_v<T, int64_t>)
        return FOR_TYPE_INT8;
    else if constexpr (std::is_same_v<T, uint8_t>)
        return FOR_TYPE_UINT1;
    else if constexpr (std::is_same_v<T, uint16_t>)
        return FOR_TYPE_UINT2;
    else if constexpr (std::is_same_v<T, uint32_t>)
        return FOR_TYPE_UINT4;
    else if constexpr (std::is_same_v<T, uint64_t>)
        return FOR_TYPE_UINT8;
    else if constexpr (std::is_same_v<T, float>)
        return FOR_TYPE_REAL4;
    else if constexpr (std::is_same_v<T, double>)
        return FOR_TYPE_REAL8;
    else if constexpr (std::is_same_v<T, __float128>)
        return FOR_TYPE_REAL16;
    else if constexpr (std::is_same_v<T, std::complex<float>>)
        return FOR_TYPE_COMPLEX4;
    else if constexpr (std::is_same_v<T, std::complex<double>>)
        return FOR_TYPE_COMPLEX8;
    else if constexpr (std::is_same_v<T, Complex32>)
        return FOR_TYPE_COMPLEX16;
    else if constexpr (std::is_same_v<T, Logical1>)
        return FOR_TYPE_LOGICAL1;
    else if constexpr (std::is_same_v<T, Logical2>)
        return FOR_TYPE_LOGICAL2;
    else if constexpr (std::is_same_v<T, Logical4>)
        return FOR_TYPE_LOGICAL4;
    else if constexpr (std::is_same_v<T, Logical8>)
        return FOR_TYPE_LOGICAL8;
    else
        static_assert(sizeof(T) == 0, "no Fortran type for this C++ type");
}

// One dimension of an array section: subscripts lower..upper, `stride`
// bytes apart.
struct Dim {
    int64_t lower, upper, stride;
};

struct Section {
    int type;
    void *base;
    int64_t elem_len;  // 0: the type's own size (form 7)
    std::vector<Dim> dims;
};

// a(first:last:step) of a one-dimensional array declared a(1:n).
template <class T>
Section slice(T *a, int64_t first, int64_t last, int64_t step = 1) {
    int64_t count =
        step > 0 ? (last >= first ? (last - first) / step + 1 : 0) : (first >= last ? (first - last) / -step + 1 : 0);
    return {type_code<T>(), a + (first - 1), 0, {{1, count, step * static_cast<int64_t>(sizeof(T))}}};
}

// The whole of a column-major array with the given extents, as a section.
template <class T>
Section whole(T *a, std::initializer_list<int64_t> extents) {
    Section s{type_code<T>(), a, 0, {}};
    int64_t stride = sizeof(T);
    for (int64_t e : extents) {
        s.dims.push_back({1, e, stride});
        stride *= e;
    }
    return s;
}

// A descriptor list and its value list, built item by item.
class List {
  public:
    // A scalar by address (form 3).
    template <class T>
    List &item(T &x) {
        return add(type_code<T>(), FOR_FORM_ADDR, {addr(&x)});
    }
    // A value carried in the slots themselves (form 1).
    template <class T>
    List &value(T x) {
        constexpr size_t n = (sizeof(T) + 7) / 8;
        uint64_t slots[n] = {};
        std::memcpy(slots, &x, sizeof(T));
        dsc_.push_back(static_cast<uint8_t>(type_code<T>()));
        dsc_.push_back(FOR_FORM_VALUE);
        for (uint64_t s : slots) val_.push_back(s);
        return *this;
    }
    // A character scalar (form 4).
    List &chars(char *p, size_t n) { return add(FOR_TYPE_CHARACTER, FOR_FORM_CHAR, {n, addr(p)}); }
    List &chars(std::string &s) { return chars(s.data(), s.size()); }
    // A character constant: kept alive by the list.
    List &text(std::string_view t) {
        std::string &s = pool_.emplace_back(t);
        return chars(s.data(), s.size());
    }
    // A contiguous array (form 5).
    template <class T>
    List &array(T *p, size_t n) {
        return add(type_code<T>(), FOR_FORM_ARRAY, {n * sizeof(T), addr(p)});
    }
    // A contiguous array of character elements (form 6).
    List &char_array(char *p, size_t count, size_t elem_len) {
        return add(FOR_TYPE_CHARACTER, FOR_FORM_ARRAY_ELEN, {count * elem_len, addr(p), elem_len});
    }
    // A non-contiguous section (form 7, or 8 with an element length).
    List &section(const Section &s) {
        std::vector<uint64_t> slots{s.dims.size(), addr(s.base)};
        if (s.elem_len) slots.push_back(static_cast<uint64_t>(s.elem_len));
        for (const Dim &d : s.dims) {
            slots.push_back(static_cast<uint64_t>(d.lower));
            slots.push_back(static_cast<uint64_t>(d.upper));
            slots.push_back(static_cast<uint64_t>(d.stride));
        }
        return add(s.type, s.elem_len ? FOR_FORM_SECTION_ELEN : FOR_FORM_SECTION, slots);
    }
    // A 64-bit value and an address (form 11), or an object descriptor (12).
    List &value_addr(int type, uint64_t v, void *p) { return add(type, FOR_FORM_VALUE_ADDR, {v, addr(p)}); }
    List &obj_desc(int type, uint64_t v, void *desc) { return add(type, FOR_FORM_OBJ_DESC, {v, addr(desc)}); }
    // Anything at all, for the lists no correct compiler would produce.
    List &raw(int type, int form, std::initializer_list<uint64_t> slots) {
        return add(type, form, std::vector<uint64_t>(slots));
    }
    List &end_group() { return marker(FOR_TYPE_END_GROUP); }
    List &end() { return marker(FOR_TYPE_END_STMT); }

    const For_Dsc_Lst *dsc() const { return dsc_.data(); }
    const For_Value_List *val() const { return val_.empty() ? &empty_slot_ : val_.data(); }
    // Start of group g (0-based) of a list split by end_group markers.
    std::pair<const For_Dsc_Lst *, const For_Value_List *> group(int g) const;
    int groups() const;

  protected:
    static uint64_t addr(const void *p) { return reinterpret_cast<uintptr_t>(p); }
    List &add(int type, int form, const std::vector<uint64_t> &slots) {
        dsc_.push_back(static_cast<uint8_t>(type));
        dsc_.push_back(static_cast<uint8_t>(form));
        starts_.push_back({dsc_.size() - 2, val_.size()});
        val_.insert(val_.end(), slots.begin(), slots.end());
        return *this;
    }
    List &marker(int type) {
        dsc_.push_back(static_cast<uint8_t>(type));
        dsc_.push_back(0);
        if (type == FOR_TYPE_END_GROUP) group_starts_.push_back({dsc_.size(), val_.size()});
        return *this;
    }
    std::vector<uint8_t> dsc_;
    std::vector<uint64_t> val_;
    std::vector<std::pair<size_t, size_t>> starts_;
    std::vector<std::pair<size_t, size_t>> group_starts_;
    std::deque<std::string> pool_;
    uint64_t empty_slot_ = 0;
};

// The control list of a data transfer statement: keyword items in the
// order compiled code emits them, the end marker, then ADVANCE= and SIZE=.
class Control {
  public:
    Control &iomsg(char *p, size_t n) { return key(FOR_TYPE_CHARACTER, FOR_FORM_CHAR, FOR_KEY_IOMSG, {n, a(p)}); }
    Control &iomsg(std::string &s) { return iomsg(s.data(), s.size()); }
    Control &pos(int64_t &p) { return key(FOR_TYPE_INT8, FOR_FORM_ADDR, FOR_KEY_POS, {a(&p)}); }
    Control &blank(std::string_view v) { return word(FOR_KEY_BLANK, v); }
    Control &decimal(std::string_view v) { return word(FOR_KEY_DECIMAL, v); }
    Control &delim(std::string_view v) { return word(FOR_KEY_DELIM, v); }
    Control &pad(std::string_view v) { return word(FOR_KEY_PAD, v); }
    Control &round(std::string_view v) { return word(FOR_KEY_ROUND, v); }
    Control &sign(std::string_view v) { return word(FOR_KEY_SIGN, v); }
    Control &advance(std::string_view v) {
        std::string &s = pool_.emplace_back(v);
        advance_ = {s.data(), s.size()};
        has_advance_ = true;
        return *this;
    }
    template <class I>
    Control &size(I &n) {
        size_type_ = type_code<I>();
        size_addr_ = &n;
        return *this;
    }
    // Any keyword item at all.
    Control &key(int type, int form, int code, std::initializer_list<uint64_t> slots) {
        dsc_.insert(dsc_.end(),
                    {static_cast<uint8_t>(type), static_cast<uint8_t>(form), static_cast<uint8_t>(code), 0});
        val_.insert(val_.end(), slots);
        ++keys_;
        return *this;
    }

    bool has_keys() const { return keys_ > 0; }
    bool has_advance() const { return has_advance_; }
    bool has_size() const { return size_addr_ != nullptr; }
    bool empty() const { return !has_keys() && !has_advance() && !has_size(); }
    // The finished lists (rebuilt on each call).
    const For_Dsc_Lst *dsc();
    const For_Value_List *val();

  private:
    static uint64_t a(const void *p) { return reinterpret_cast<uintptr_t>(p); }
    Control &word(int code, std::string_view v) {
        std::string &s = pool_.emplace_back(v);
        return key(FOR_TYPE_CHARACTER, FOR_FORM_CHAR, code, {s.size(), a(s.data())});
    }
    void build();
    std::vector<uint8_t> dsc_;
    std::vector<uint64_t> val_;
    std::vector<uint8_t> out_dsc_;
    std::vector<uint64_t> out_val_;
    std::deque<std::string> pool_;
    std::pair<const char *, size_t> advance_{};
    bool has_advance_ = false;
    int size_type_ = 0;
    void *size_addr_ = nullptr;
    int keys_ = 0;
};

// The keyword list of OPEN, CLOSE and INQUIRE: keyword items in any order,
// closed by the end marker.
class Keys {
  public:
    // A character value: a keyword word looked up at run time, or a name.
    Keys &text(int code, std::string_view v) {
        std::string &s = pool_.emplace_back(v);
        return item(FOR_TYPE_CHARACTER, FOR_FORM_CHAR, code, {s.size(), addr(s.data())});
    }
    // A character variable the statement writes (IOMSG=).
    Keys &chars(int code, std::string &s) {
        return item(FOR_TYPE_CHARACTER, FOR_FORM_CHAR, code, {s.size(), addr(s.data())});
    }
    // A value the compiler encoded itself (a keyword table value, RECL=).
    Keys &value(int code, int64_t v) { return item(FOR_TYPE_INT8, FOR_FORM_VALUE, code, {static_cast<uint64_t>(v)}); }
    // A variable by address (NEWUNIT=, a variable the statement fills).
    template <class T>
    Keys &var(int code, T &v) {
        return item(type_code<T>(), FOR_FORM_ADDR, code, {addr(&v)});
    }
    Keys &item(int type, int form, int code, std::initializer_list<uint64_t> slots) {
        dsc_.insert(dsc_.end(),
                    {static_cast<uint8_t>(type), static_cast<uint8_t>(form), static_cast<uint8_t>(code), 0});
        val_.insert(val_.end(), slots);
        return *this;
    }
    const For_Dsc_Lst *dsc() {
        out_ = dsc_;
        out_.insert(out_.end(), {FOR_TYPE_END_STMT, 0});
        return out_.data();
    }
    const For_Value_List *val() {
        if (val_.empty()) val_.push_back(0);
        return val_.data();
    }

  private:
    static uint64_t addr(const void *p) { return reinterpret_cast<uintptr_t>(p); }
    std::vector<uint8_t> dsc_, out_;
    std::vector<uint64_t> val_;
    std::deque<std::string> pool_;
};

// The flag word, spelled by the specifiers that set its bits.
struct Flags {
    For_IO_Flags bits = 0;
    Flags &err() {
        bits |= iof_err;
        return *this;
    }
    Flags &end() {
        bits |= iof_end;
        return *this;
    }
    Flags &eor() {
        bits |= iof_eor;
        return *this;
    }
    Flags &iostat() {
        bits |= iof_iostat | iof_ext;
        return *this;
    }
    Flags &cvterr() {
        bits |= iof_cvterr;
        return *this;
    }
    Flags &f90() {
        bits |= iof_f90;
        return *this;
    }
    Flags &fmt_text() {
        bits |= iof_fmt_text;
        return *this;
    }
    Flags &set(For_IO_Flags b) {
        bits |= b;
        if (b >> 32) bits |= iof_ext;
        return *this;
    }
    operator For_IO_Flags() const { return bits; }
};

// Signatures of the entry families.
using Seq_Entry = int (*)(For_Context *, int, For_IO_Flags, const For_Dsc_Lst *, const For_Value_List *,
                          const For_Dsc_Lst *, const For_Value_List *);
using Seq_Fmt_Entry = int (*)(For_Context *, int, For_IO_Flags, const For_Dsc_Lst *, const For_Value_List *,
                              const void *, const For_Dsc_Lst *, const For_Value_List *);
using Int_Entry = int (*)(For_Context *, For_IO_Flags, const For_Dsc_Lst *, const For_Value_List *, const For_Dsc_Lst *,
                          const For_Value_List *);
using Int_Fmt_Entry = int (*)(For_Context *, For_IO_Flags, const For_Dsc_Lst *, const For_Value_List *, const void *,
                              const For_Dsc_Lst *, const For_Value_List *);
using Dir_Entry = int (*)(For_Context *, int, For_IO_Flags, const For_Dsc_Lst *, const For_Value_List *, int64_t,
                          const For_Dsc_Lst *, const For_Value_List *);
using Dir_Fmt_Entry = int (*)(For_Context *, int, For_IO_Flags, const For_Dsc_Lst *, const For_Value_List *, int64_t,
                              const void *, const For_Dsc_Lst *, const For_Value_List *);
using Xmit = int (*)(For_Context *, const For_Dsc_Lst *, const For_Value_List *);

// One statement: its context, unit, flags, items and control list.
struct Stmt {
    explicit Stmt(int u = FOR_UNIT_INTERNAL) : unit(u) {}
    For_Context ctx{};
    int unit;
    Flags flags;
    List items;
    Control control;

    // The flag word with the bits that announce the control lists.
    For_IO_Flags flag_word();
    const For_Dsc_Lst *cdsc() { return control.empty() ? nullptr : control.dsc(); }
    const For_Value_List *cval() { return control.empty() ? nullptr : control.val(); }

    // Runs the statement: the entry with the first group of items, then
    // `xmit` with each further group; returns the first non-zero status.
    int run(Seq_Entry entry, Xmit xmit = nullptr);
    int run(Seq_Fmt_Entry entry, const void *fmt, Xmit xmit = nullptr);
    int run(Int_Entry entry, Xmit xmit = nullptr);
    int run(Int_Fmt_Entry entry, const void *fmt, Xmit xmit = nullptr);
    // A statement by record number (REC=; REWRITE passes 0).
    int run(Dir_Entry entry, int64_t rec, Xmit xmit = nullptr);
    int run(Dir_Fmt_Entry entry, int64_t rec, const void *fmt, Xmit xmit = nullptr);

  private:
    int rest(Xmit xmit, int first);
};

}  // namespace kit
