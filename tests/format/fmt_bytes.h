// Expected compiled-format records, spelled from the record layout (not
// from the compiler): a test lists what each format must compile to.
#pragma once
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace fmtb {

using Bytes = std::vector<uint8_t>;

inline void le32(Bytes &b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void le64(Bytes &b, uint64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A generic record: short form unless field 1 or field 2 (as unsigned) needs
// more than 32 bits; d/m in header bits 24-31, e in bits 16-23.
inline Bytes rec(int op, uint64_t f1 = 0, int64_t f2 = 0, uint32_t f3 = 0, uint32_t f4 = 0) {
    Bytes b;
    bool lng = f1 > 0xffffffffu || static_cast<uint64_t>(f2) > 0xffffffffu;
    le32(b, static_cast<uint32_t>(op) | (lng ? 0x1000u : 0u) | f4 << 16 | f3 << 24);
    if (lng) {
        le32(b, 0);
        le64(b, f1);
        le64(b, static_cast<uint64_t>(f2));
    } else {
        le32(b, static_cast<uint32_t>(f1));
        le32(b, static_cast<uint32_t>(f2));
    }
    return b;
}

// A literal record: u16 28, u16 length, the text, zero padding to 4.
inline Bytes lit(const std::string &s) {
    Bytes b;
    le32(b, 28u | static_cast<uint32_t>(s.size()) << 16);
    b.insert(b.end(), s.begin(), s.end());
    while (b.size() % 4) b.push_back(0);
    return b;
}

// The run-time DT record: 119, padding, u64 repeat, type NUL v-list NUL.
inline Bytes dt(uint64_t r, const std::string &type, const std::string &vlist) {
    Bytes b;
    le32(b, 119);
    le32(b, 0);
    le64(b, r);
    b.insert(b.end(), type.begin(), type.end());
    b.push_back(0);
    b.insert(b.end(), vlist.begin(), vlist.end());
    b.push_back(0);
    while (b.size() % 4) b.push_back(0);
    return b;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The whole format: opening record, the items, closing record.
template <class List>
inline Bytes fmt_of(const List &items) {
    Bytes out = rec(1);
    for (const Bytes &p : items) out.insert(out.end(), p.begin(), p.end());
    Bytes end = rec(2);
    out.insert(out.end(), end.begin(), end.end());
    return out;
}
inline Bytes fmt(std::initializer_list<Bytes> items) { return fmt_of(items); }
inline Bytes fmt(const std::vector<Bytes> &items) { return fmt_of(items); }

}  // namespace fmtb
