// A program the conversion-choice tests run as a child process with an
// environment of their own: F_UFMTENDIAN and FOR_FMT_TERMINATOR are read
// once per process, so every environment needs a fresh one. It reports on
// standard output what each OPEN answered and the representation the unit
// got; diagnostics go to standard error as in any program.
//
//   convert_child write UNIT:FILE[:CONVERT] ...   one record on each unit
//   convert_child read UNIT:FILE[:CONVERT] ...    that record read back
//   convert_child text UNIT:FILE[:ACCESS] ...     two formatted records (with
//                                                 ACCESS direct only the record type)
//   convert_child compiled FLAGS UNIT:FILE        OPEN with a flag word
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <vorlix/io.h>

#include "support/files.h"
#include "support/kit.h"
#include "units/for_lub_mgt.h"

namespace {

struct Unit_Setup {
    int unit;
    std::string file, extra;
};

Unit_Setup parse(const char *arg) {
    std::string a(arg);
    size_t c1 = a.find(':');
    size_t c2 = a.find(':', c1 + 1);
    Unit_Setup s;
    s.unit = std::atoi(a.substr(0, c1).c_str());
    s.file = a.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
    if (c2 != std::string::npos) s.extra = a.substr(c2 + 1);
    return s;
}

// "open UNIT STATUS", and for a connected unit its representation as the
// unit block holds it: "foreign F big B code C".
void report(int unit, int status) {
    std::printf("open %d %d", unit, status);
    For_Lub *lub = for__inspect_lun(unit);
    if (lub && (lub->lub_flags & lubf::opened))
        std::printf(" foreign %d big %d code %d", (lub->lub_flags & lubf::foreign) ? 1 : 0,
                    (lub->lub_flags & lubf::big_endian) ? 1 : 0, lub->lub_convert);
    else
        std::printf(" unconnected");
    if (lub) for__release_lub(lub);
    std::printf("\n");
}

int open_uf(const Unit_Setup &s, const char *status, For_IO_Flags flags = 0) {
    kit::Keys k;
    k.text(FOR_KEY_FILE, s.file).text(FOR_KEY_FORM, "unformatted").text(FOR_KEY_STATUS, status);
    if (!s.extra.empty()) k.text(FOR_KEY_CONVERT, s.extra);
    int st = kit::open_unit(s.unit, k, kit::Flags{}.iostat().set(flags));
    report(s.unit, st);
    return st;
}

// The record the tests compare: every size of integer and real, so that
// any byte left in place shows.
struct Record {
    int32_t i4 = 1;
    int16_t i2 = 258;
    int64_t i8 = 0x0102030405060708;
    float r4 = 1.5f;
    double r8 = -2.25;
    std::complex<float> c4{0.5f, -4.0f};
};

void add(kit::List &l, Record &r) { l.item(r.i4).item(r.i2).item(r.i8).item(r.r4).item(r.r8).item(r.c4).end(); }

int write_record(int unit) {
    Record r;
    kit::Stmt w(unit);
    w.flags.iostat();
    add(w.items, r);
    return w.run(for_write_seq);
}

int read_record(int unit) {
    Record r{0, 0, 0, 0, 0, {0, 0}};
    kit::Stmt rd(unit);
    rd.flags.iostat();
    add(rd.items, r);
    int s = rd.run(for_read_seq);
    std::printf("read %d %d %d %lld %g %g %g %g\n", s, r.i4, r.i2, static_cast<long long>(r.i8),
                static_cast<double>(r.r4), r.r8, static_cast<double>(r.c4.real()), static_cast<double>(r.c4.imag()));
    return s;
}

int write_text(const Unit_Setup &s) {
    kit::Keys k;
    k.text(FOR_KEY_FILE, s.file).text(FOR_KEY_FORM, "formatted").text(FOR_KEY_STATUS, "replace");
    if (!s.extra.empty()) k.text(FOR_KEY_ACCESS, s.extra);
    // A direct-access file only reports its record type.
    const bool direct = s.extra == "direct";
    if (direct) k.value(FOR_KEY_RECL, 4);
    int st = kit::open_unit(s.unit, k);
    std::printf("open %d %d", s.unit, st);
    if (direct) {
        For_Lub *lub = for__inspect_lun(s.unit);
        if (lub) {
            std::printf(" record type %d", lub->lub_record_type);
            for__release_lub(lub);
        }
    }
    std::printf("\n");
    if (st != 0 || direct) return st != 0 ? st : kit::close_unit(s.unit);
    static const char text[] = "(A)";
    For_Char_Format fmt{3, text};
    for (const char *rec : {"ab", "cd"}) {
        kit::Stmt w(s.unit);
        w.flags.iostat().fmt_text();
        w.items.text(rec).end();
        if (int e = w.run(for_write_seq_fmt, &fmt)) return e;
    }
    return kit::close_unit(s.unit);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    const std::string what = argv[1];
    if (what == "compiled") {
        // The flag word of the OPEN as a compiler would pass it.
        const auto flags = static_cast<For_IO_Flags>(std::strtoull(argv[2], nullptr, 0));
        Unit_Setup s = parse(argv[3]);
        if (open_uf(s, "replace", flags) == 0 && write_record(s.unit) == 0) kit::close_unit(s.unit);
        return 0;
    }
    for (int i = 2; i < argc; ++i) {
        Unit_Setup s = parse(argv[i]);
        if (what == "write") {
            if (open_uf(s, "replace") != 0) continue;
            if (int e = write_record(s.unit)) std::printf("write %d\n", e);
            kit::close_unit(s.unit);
        } else if (what == "read") {
            if (open_uf(s, "old") != 0) continue;
            read_record(s.unit);
            kit::close_unit(s.unit);
        } else if (what == "text") {
            if (int e = write_text(s)) std::printf("text %d\n", e);
        }
    }
    std::fflush(stdout);
    return 0;
}
