// Every statement under every fault at every call it makes: a clean run
// counts the system calls and allocations a statement makes, then the
// statement runs again once per call with that call failing (ENOSPC, EIO,
// EMFILE, no memory) or coming up short or interrupted. Each time:
//   - it completes, or returns its message: an interrupted or short call is
//     retried and the statement succeeds exactly as the clean run did;
//   - every record a WRITE reported written is in the file, whole and in
//     order, read back with plain POSIX calls;
//   - the unit is not left held: the next statements on it run on another
//     thread and must finish within a few seconds;
//   - nothing it allocated stays allocated once the unit is closed (and
//     the sanitizer pass checks the same with LeakSanitizer).
// The sweep prints its counts; the README's table comes from them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "support/fault.h"
#include "support/files.h"
#include "support/kit.h"

namespace {

using kit::fault::Call;
using kit::fault::Fault;
using kit::fault::Plan;

constexpr int unit = 61;

// Plain POSIX: what the file holds, whatever the library thinks.
std::string file_bytes(const std::string &path) {
    std::string out;
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return out;
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return out;
}

void put_file(const std::string &path, const std::string &bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// The records of a formatted sequential file; an unterminated tail is kept
// marked as torn.
std::vector<std::string> text_records(const std::string &bytes) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t nl = bytes.find('\n', at);
        if (nl == std::string::npos) {
            out.push_back("<torn>" + bytes.substr(at));
            break;
        }
        out.push_back(bytes.substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

// The records of an unformatted sequential file (4-byte length words).
std::vector<std::string> marked_records(const std::string &bytes) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < bytes.size()) {
        uint32_t n = 0, m = 0;
        if (bytes.size() - at < 8) return out.push_back("<torn>"), out;
        std::memcpy(&n, bytes.data() + at, 4);
        if (bytes.size() - at < 8 + uint64_t{n}) return out.push_back("<torn>"), out;
        std::memcpy(&m, bytes.data() + at + 4 + n, 4);
        out.push_back(m == n ? bytes.substr(at + 4, n) : "<bad markers>");
        at += 8 + n;
    }
    return out;
}

std::string marked(const std::string &data) {
    uint32_t n = static_cast<uint32_t>(data.size());
    std::string m(reinterpret_cast<const char *>(&n), 4);
    return m + data + m;
}

// The records of a direct-access file of `len`-byte records. A record of
// zeros only is a hole a failed WRITE left before a later record: no
// record at all.
std::function<std::vector<std::string>(const std::string &)> fixed_records(size_t len) {
    return [len](const std::string &bytes) {
        std::vector<std::string> out;
        for (size_t at = 0; at < bytes.size(); at += len) {
            std::string r = bytes.substr(at, len);
            if (r.size() < len)
                out.push_back("<torn>" + r);
            else if (r.find_first_not_of('\0') != std::string::npos)
                out.push_back(r);
        }
        return out;
    };
}

For_Char_Format fmt(const char *text) { return {static_cast<int64_t>(std::strlen(text)), text}; }
const For_Char_Format fmt_a = fmt("(A)");
const For_Char_Format fmt_a_i = fmt("(A,I8)");

std::string line(int i) {
    char b[32];
    std::snprintf(b, sizeof b, "record %06d ", i);
    return b + std::string(40, static_cast<char>('a' + i % 26));
}

// A large unformatted record: more than a block, so it takes many calls.
constexpr size_t big_count = 300000;
std::string big_record(int seed) {
    std::string r(big_count * 4, '\0');
    for (size_t k = 0; k < big_count; ++k) {
        int32_t v = static_cast<int32_t>(k * 7 + static_cast<size_t>(seed));
        std::memcpy(r.data() + k * 4, &v, 4);
    }
    return r;
}

// A statement built in advance, so that running it makes no allocation of
// the test's own: the armed window holds only the library's calls.
using Prepared = std::function<int()>;

Prepared fmt_write(const std::string &text, int u = unit) {
    auto st = std::make_shared<kit::Stmt>(u);
    st->flags.fmt_text().iostat();
    st->items.text(text).end();
    return [st] { return st->run(for_write_seq_fmt, &fmt_a); };
}

// List-directed output starts the record with a blank.
Prepared lis_write(const std::string &text) {
    auto st = std::make_shared<kit::Stmt>(unit);
    st->flags.iostat();
    st->items.text(text).end();
    return [st] { return st->run(for_write_seq_lis); };
}

Prepared uf_write(const std::shared_ptr<std::string> &data) {
    auto st = std::make_shared<kit::Stmt>(unit);
    st->flags.iostat();
    st->items.array(reinterpret_cast<int32_t *>(data->data()), data->size() / 4).end();
    return [st, data] { return st->run(for_write_seq); };
}

// A direct-access record: 64 bytes, a whole record of RECL=16 units.
constexpr size_t dir_len = 64;
std::string dir_record(int i) { return line(i) + std::string(dir_len - line(i).size(), '.'); }

Prepared dir_write(int rec) {
    auto st = std::make_shared<kit::Stmt>(unit);
    auto data = std::make_shared<std::string>(dir_record(rec));
    st->flags.iostat();
    st->items.chars(*data).end();
    return [st, data, rec] { return st->run(for_write_dir, rec); };
}

Prepared keys_stmt(int (*entry)(For_Context *, int, For_IO_Flags, const For_Dsc_Lst *, const For_Value_List *),
                   std::shared_ptr<kit::Keys> k = nullptr) {
    const For_Dsc_Lst *d = k ? k->dsc() : nullptr;
    const For_Value_List *v = k ? k->val() : nullptr;
    return [entry, k, d, v] {
        For_Context ctx{};
        return entry(&ctx, unit, kit::Flags{}.iostat(), d, v);
    };
}

std::shared_ptr<kit::Keys> open_keys(const std::string &path, const char *form, const char *buffered,
                                     const char *status = "old") {
    auto k = std::make_shared<kit::Keys>();
    k->text(FOR_KEY_FILE, path).text(FOR_KEY_STATUS, status).text(FOR_KEY_FORM, form);
    k->text(FOR_KEY_BUFFERED, buffered);
    return k;
}

std::shared_ptr<kit::Keys> direct_keys(const std::string &path, const char *buffered, const char *status) {
    auto k = open_keys(path, "unformatted", buffered, status);
    k->text(FOR_KEY_ACCESS, "direct").value(FOR_KEY_RECL, static_cast<int64_t>(dir_len / 4));
    return k;
}

// What one run of a case leaves for its checks.
struct Run {
    kit::Scratch_Dir dir{"fault"};
    std::string path = dir.path("f");
    Prepared stmt;
    // Records in the order the program wrote them, with the status its
    // WRITE returned.
    std::vector<std::pair<std::string, int>> wrote;
    std::function<std::vector<std::string>(const std::string &)> records = text_records;
    // What a READ must have put in its items (checked when it returned 0).
    std::function<bool()> read_ok;
    int follow_status = 0;  // of the follow-up statement whose result is checked
    std::string follow_text;
};

struct Case {
    const char *name;
    std::function<void(Run &)> setup;  // connects the unit, writes what comes before
    // The follow-up statements on the unit (on another thread): they end
    // with the unit closed.
    std::function<void(Run &, int ios)> follow;
    bool frees_unit = false;  // OPEN and CLOSE: the unit is free after a failure too
};

void open_ok(const std::shared_ptr<kit::Keys> &k) {
    For_Context ctx{};
    ASSERT_EQ(for_open(&ctx, unit, kit::Flags{}.iostat(), k->dsc(), k->val()), 0);
}

// Writes `n` records first, through the statement under test.
void write_first(Run &r, int n, const std::function<Prepared(const std::string &)> &make) {
    for (int i = 1; i <= n; ++i) {
        std::string t = line(i);
        r.wrote.push_back({t, make(t)()});
        ASSERT_EQ(r.wrote.back().second, 0);
    }
}

void close_unit(Run &) { (void)kit::close_unit(unit); }

// The statements and their setting.
std::vector<Case> cases() {
    std::vector<Case> v;
    for (const char *buffered : {"no", "yes"}) {
        const bool buf = buffered[0] == 'y';
        v.push_back({buf ? "formatted WRITE, BUFFERED=YES" : "formatted WRITE",
                     [buffered](Run &r) {
                         open_ok(open_keys(r.path, "formatted", buffered, "replace"));
                         write_first(r, 2, [](const std::string &t) { return fmt_write(t); });
                         std::string t = line(3);
                         r.wrote.push_back({t, -1});
                         r.stmt = fmt_write(t);
                     },
                     [](Run &r, int) {
                         std::string t = line(4);
                         r.wrote.push_back({t, fmt_write(t)()});
                         close_unit(r);
                     }});
    }
    v.push_back({"list-directed WRITE",
                 [](Run &r) {
                     open_ok(open_keys(r.path, "formatted", "no", "replace"));
                     for (int i = 1; i <= 2; ++i) {
                         r.wrote.push_back({" first " + std::to_string(i), lis_write("first " + std::to_string(i))()});
                         ASSERT_EQ(r.wrote.back().second, 0);
                     }
                     r.wrote.push_back({" third 3", -1});
                     r.stmt = lis_write("third 3");
                 },
                 [](Run &r, int) {
                     r.wrote.push_back({" after 4", lis_write("after 4")()});
                     close_unit(r);
                 }});
    v.push_back({"formatted WRITE of a long record",
                 [](Run &r) {
                     // Longer than the record area OPEN sets up: the area grows.
                     open_ok(open_keys(r.path, "formatted", "no", "replace"));
                     write_first(r, 1, [](const std::string &t) { return fmt_write(t); });
                     std::string t = line(2) + std::string(30000, 'L');
                     r.wrote.push_back({t, -1});
                     r.stmt = fmt_write(t);
                 },
                 [](Run &r, int) {
                     std::string t = line(3);
                     r.wrote.push_back({t, fmt_write(t)()});
                     close_unit(r);
                 }});
    v.push_back({"list-directed WRITE of a complex",
                 [](Run &r) {
                     open_ok(open_keys(r.path, "formatted", "no", "replace"));
                     auto st = std::make_shared<kit::Stmt>(unit);
                     auto z = std::make_shared<std::complex<double>>(1.5, -2.25);
                     st->flags.iostat();
                     st->items.item(*z).end();
                     r.wrote.push_back({" (1.50000000000000,-2.25000000000000)", -1});
                     r.stmt = [st, z] { return st->run(for_write_seq_lis); };
                 },
                 [](Run &r, int) { close_unit(r); }});
    v.push_back({"unformatted WRITE of a large array",
                 [](Run &r) {
                     r.records = marked_records;
                     open_ok(open_keys(r.path, "unformatted", "no", "replace"));
                     auto first = std::make_shared<std::string>(big_record(1));
                     r.wrote.push_back({*first, uf_write(first)()});
                     ASSERT_EQ(r.wrote.back().second, 0);
                     auto data = std::make_shared<std::string>(big_record(2));
                     r.wrote.push_back({*data, -1});
                     r.stmt = uf_write(data);
                 },
                 [](Run &r, int) {
                     auto data = std::make_shared<std::string>(big_record(3));
                     r.wrote.push_back({*data, uf_write(data)()});
                     close_unit(r);
                 }});
    v.push_back({"formatted READ",
                 [](Run &r) {
                     put_file(r.path, line(1) + "\n" + line(2) + "\n");
                     open_ok(open_keys(r.path, "formatted", "no"));
                     auto st = std::make_shared<kit::Stmt>(unit);
                     auto a = std::make_shared<std::string>(line(1).size(), '#');
                     st->flags.fmt_text().iostat();
                     st->items.chars(*a).end();
                     r.stmt = [st, a] { return st->run(for_read_seq_fmt, &fmt_a); };
                     r.read_ok = [a] { return *a == line(1); };
                 },
                 [](Run &r, int ios) {
                     // A READ that succeeded leaves the unit at the next record.
                     std::string b(line(2).size(), '#');
                     kit::Stmt st(unit);
                     st.flags.fmt_text().iostat();
                     st.items.chars(b).end();
                     r.follow_status = st.run(for_read_seq_fmt, &fmt_a);
                     r.follow_text = ios == 0 && r.follow_status == 0 && b != line(2) ? b : "";
                     close_unit(r);
                 }});
    v.push_back({"formatted READ of a long record",
                 [](Run &r) {
                     // Longer than the record area: the area grows to hold it.
                     const std::string longer = line(1) + std::string(30000, 'L');
                     put_file(r.path, longer + "\n" + line(2) + "\n");
                     open_ok(open_keys(r.path, "formatted", "no"));
                     auto st = std::make_shared<kit::Stmt>(unit);
                     auto a = std::make_shared<std::string>(longer.size(), '#');
                     st->flags.fmt_text().iostat();
                     st->items.chars(*a).end();
                     r.stmt = [st, a] { return st->run(for_read_seq_fmt, &fmt_a); };
                     r.read_ok = [a, longer] { return *a == longer; };
                 },
                 [](Run &r, int) { close_unit(r); }});
    v.push_back({"list-directed READ",
                 [](Run &r) {
                     put_file(r.path, "17, 'abc'\n25, 'de'\n");
                     open_ok(open_keys(r.path, "formatted", "no"));
                     auto st = std::make_shared<kit::Stmt>(unit);
                     auto n = std::make_shared<int32_t>(0);
                     auto a = std::make_shared<std::string>(3, '#');
                     st->flags.iostat();
                     st->items.item(*n).chars(*a).end();
                     r.stmt = [st, n, a] { return st->run(for_read_seq_lis); };
                     r.read_ok = [n, a] { return *n == 17 && *a == "abc"; };
                 },
                 [](Run &r, int) { close_unit(r); }});
    v.push_back({"unformatted READ of a large array",
                 [](Run &r) {
                     put_file(r.path, marked(big_record(5)) + marked(big_record(6)));
                     open_ok(open_keys(r.path, "unformatted", "no"));
                     auto st = std::make_shared<kit::Stmt>(unit);
                     auto got = std::make_shared<std::string>(big_count * 4, '\0');
                     st->flags.iostat();
                     st->items.array(reinterpret_cast<int32_t *>(got->data()), big_count).end();
                     r.stmt = [st, got] { return st->run(for_read_seq); };
                     r.read_ok = [got] { return *got == big_record(5); };
                 },
                 [](Run &r, int) { close_unit(r); }});
    // Records by number, written in order so that the file's records line
    // up with the program's; buffered, the records wait in the unit until
    // the buffer fills or the unit closes.
    for (const char *buffered : {"no", "yes"}) {
        v.push_back({buffered[0] == 'y' ? "direct-access WRITE, BUFFERED=YES" : "direct-access WRITE",
                     [buffered](Run &r) {
                         r.records = fixed_records(dir_len);
                         open_ok(direct_keys(r.path, buffered, "replace"));
                         for (int i = 1; i <= 2; ++i) {
                             r.wrote.push_back({dir_record(i), dir_write(i)()});
                             ASSERT_EQ(r.wrote.back().second, 0);
                         }
                         r.wrote.push_back({dir_record(3), -1});
                         r.stmt = dir_write(3);
                     },
                     [](Run &r, int) {
                         r.wrote.push_back({dir_record(4), dir_write(4)()});
                         close_unit(r);
                     }});
    }
    v.push_back({"direct-access READ",
                 [](Run &r) {
                     put_file(r.path, dir_record(1) + dir_record(2) + dir_record(3));
                     open_ok(direct_keys(r.path, "no", "old"));
                     auto st = std::make_shared<kit::Stmt>(unit);
                     auto got = std::make_shared<std::string>(dir_len, '#');
                     st->flags.iostat();
                     st->items.chars(*got).end();
                     r.stmt = [st, got] { return st->run(for_read_dir, 2); };
                     r.read_ok = [got] { return *got == dir_record(2); };
                 },
                 [](Run &r, int) {
                     // Whatever became of record 2, record 3 is read whole.
                     std::string b(dir_len, '#');
                     kit::Stmt st(unit);
                     st.flags.iostat();
                     st.items.chars(b).end();
                     r.follow_status = st.run(for_read_dir, 3);
                     r.follow_text = r.follow_status == 0 && b != dir_record(3) ? b : "";
                     close_unit(r);
                 }});
    v.push_back({"OPEN",
                 [](Run &r) {
                     put_file(r.path, line(1) + "\n");
                     r.stmt = keys_stmt(for_open, open_keys(r.path, "formatted", "no"));
                 },
                 [](Run &r, int ios) {
                     if (ios != 0) {
                         // A failed OPEN leaves the unit free for the next one.
                         auto k = open_keys(r.path, "formatted", "no");
                         For_Context ctx{};
                         r.follow_status = for_open(&ctx, unit, kit::Flags{}.iostat(), k->dsc(), k->val());
                     }
                     close_unit(r);
                 },
                 true});
    v.push_back({"OPEN of a scratch file",
                 [](Run &r) {
                     auto k = std::make_shared<kit::Keys>();
                     k->text(FOR_KEY_STATUS, "scratch").text(FOR_KEY_FORM, "unformatted");
                     r.stmt = keys_stmt(for_open, k);
                     ::setenv("FORT_TMPDIR", r.dir.dir().c_str(), 1);
                 },
                 [](Run &r, int ios) {
                     if (ios != 0) {
                         auto k = open_keys(r.path, "formatted", "no", "replace");
                         For_Context ctx{};
                         r.follow_status = for_open(&ctx, unit, kit::Flags{}.iostat(), k->dsc(), k->val());
                     }
                     close_unit(r);
                     ::unsetenv("FORT_TMPDIR");
                 },
                 true});
    v.push_back({"WRITE on an unconnected unit (implicit OPEN)",
                 [](Run &r) {
                     ::setenv(("FORT" + std::to_string(unit)).c_str(), r.path.c_str(), 1);
                     std::string t = line(1);
                     r.wrote.push_back({t, -1});
                     r.stmt = fmt_write(t);
                 },
                 [](Run &r, int) {
                     std::string t = line(2);
                     r.wrote.push_back({t, fmt_write(t)()});
                     r.follow_status = r.wrote.back().second;
                     close_unit(r);
                     ::unsetenv(("FORT" + std::to_string(unit)).c_str());
                 },
                 true});
    v.push_back({"CLOSE of a unit holding records",
                 [](Run &r) {
                     open_ok(open_keys(r.path, "formatted", "yes", "replace"));
                     write_first(r, 3, [](const std::string &t) { return fmt_write(t); });
                     r.stmt = keys_stmt(for_close);
                 },
                 [](Run &r, int) {
                     // Closed whatever it reported: the unit takes a new OPEN.
                     auto k = open_keys(r.dir.path("other"), "formatted", "no", "replace");
                     For_Context ctx{};
                     r.follow_status = for_open(&ctx, unit, kit::Flags{}.iostat(), k->dsc(), k->val());
                     close_unit(r);
                 },
                 true});
    v.push_back({"CLOSE of a direct-access unit holding records",
                 [](Run &r) {
                     r.records = fixed_records(dir_len);
                     open_ok(direct_keys(r.path, "yes", "replace"));
                     for (int i = 1; i <= 3; ++i) {
                         r.wrote.push_back({dir_record(i), dir_write(i)()});
                         ASSERT_EQ(r.wrote.back().second, 0);
                     }
                     r.stmt = keys_stmt(for_close);
                 },
                 [](Run &r, int) {
                     auto k = open_keys(r.dir.path("other"), "formatted", "no", "replace");
                     For_Context ctx{};
                     r.follow_status = for_open(&ctx, unit, kit::Flags{}.iostat(), k->dsc(), k->val());
                     close_unit(r);
                 },
                 true});
    v.push_back({"FLUSH of a unit holding records",
                 [](Run &r) {
                     open_ok(open_keys(r.path, "formatted", "yes", "replace"));
                     write_first(r, 3, [](const std::string &t) { return fmt_write(t); });
                     r.stmt = keys_stmt(for_flush);
                 },
                 [](Run &r, int) {
                     // A FLUSH that failed keeps the records owed: the CLOSE
                     // writes them (or says it could not).
                     std::string t = line(4);
                     r.wrote.push_back({t, fmt_write(t)()});
                     close_unit(r);
                 }});
    v.push_back({"BACKSPACE",
                 [](Run &r) {
                     r.records = marked_records;
                     put_file(r.path, marked(line(1)) + marked(line(2)) + marked(line(3)));
                     open_ok(open_keys(r.path, "unformatted", "no"));
                     for (int i = 0; i < 2; ++i) {
                         kit::Stmt st(unit);
                         st.flags.iostat();
                         st.items.end();
                         ASSERT_EQ(st.run(for_read_seq), 0);
                     }
                     r.stmt = keys_stmt(for_backspace);
                 },
                 [](Run &r, int ios) {
                     // Back over the second record: the next READ reads it again.
                     std::string b(line(2).size(), '#');
                     kit::Stmt st(unit);
                     st.flags.iostat();
                     st.items.chars(b).end();
                     r.follow_status = st.run(for_read_seq);
                     r.follow_text = ios == 0 && r.follow_status == 0 && b != line(2) ? b : "";
                     close_unit(r);
                 }});
    v.push_back({"REWIND after buffered output",
                 [](Run &r) {
                     open_ok(open_keys(r.path, "formatted", "yes", "replace"));
                     write_first(r, 2, [](const std::string &t) { return fmt_write(t); });
                     r.stmt = keys_stmt(for_rewind);
                 },
                 [](Run &r, int ios) {
                     std::string b(line(1).size(), '#');
                     kit::Stmt st(unit);
                     st.flags.fmt_text().iostat();
                     st.items.chars(b).end();
                     r.follow_status = st.run(for_read_seq_fmt, &fmt_a);
                     r.follow_text = ios == 0 && r.follow_status == 0 && b != line(1) ? b : "";
                     close_unit(r);
                 }});
    v.push_back({"ENDFILE",
                 [](Run &r) {
                     open_ok(open_keys(r.path, "formatted", "no", "replace"));
                     write_first(r, 2, [](const std::string &t) { return fmt_write(t); });
                     r.stmt = keys_stmt(for_endfile);
                 },
                 [](Run &r, int) { close_unit(r); }});
    v.push_back({"internal-file WRITE",
                 [](Run &r) {
                     auto st = std::make_shared<kit::Stmt>();
                     auto buf = std::make_shared<std::string>(40, '#');
                     static const For_Char_Format f = fmt("(A,I5,F8.2,L2)");
                     auto n = std::make_shared<int32_t>(42);
                     auto x = std::make_shared<double>(3.25);
                     auto l = std::make_shared<kit::Logical4>(kit::Logical4{1});
                     st->flags.fmt_text().iostat();
                     st->items.chars(*buf).text("v=").item(*n).item(*x).item(*l).end();
                     r.stmt = [st, buf, n, x, l] { return st->run(for_write_int_fmt, &f, for_write_int_fmt_xmit); };
                     r.read_ok = [buf] { return *buf == "v=   42    3.25 T" + std::string(23, ' '); };
                 },
                 [](Run &, int) {}});
    return v;
}

// The faults that make sense for each class of call; true: from the N-th
// call on, for the rest of the statement (a full disk, memory that is
// gone, so that the statement's own way out meets the fault too).
std::vector<std::pair<Fault, bool>> faults_of(Call c) {
    switch (c) {
    case Call::write:
        return {{Fault::short_io, false},
                {Fault::eintr, false},
                {Fault::enospc, false},
                {Fault::enospc, true},
                {Fault::eio, false}};
    case Call::read: return {{Fault::short_io, false}, {Fault::eintr, false}, {Fault::eio, false}};
    case Call::open: return {{Fault::emfile, false}};
    default: return {{Fault::enomem, false}, {Fault::enomem, true}};
    }
}

bool transparent(Fault f) { return f == Fault::short_io || f == Fault::eintr; }

// The messages a statement may answer a failed call with.
const std::set<int> &sensible(Fault f) {
    static const std::set<int> io{msg::write_error,   msg::read_error,   msg::close_error, msg::backspace_error,
                                  msg::endfile_error, msg::rewind_error, msg::open_failure};
    static const std::set<int> open{msg::open_failure, msg::too_many_open_files};
    static const std::set<int> mem{msg::no_memory, msg::no_buffer_memory};
    return f == Fault::emfile ? open : f == Fault::enomem ? mem : io;
}

struct Totals {
    int faults = 0, statements = 0, records = 0, crashes = 0, leaks = 0;
    int by_class[kit::fault::call_classes] = {};
};

// Runs `f` on another thread; false when it has not finished in time.
bool finishes(const std::function<void()> &f) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> fut = done->get_future();
    std::thread([f, done] {
        f();
        done->set_value();
    }).detach();
    return fut.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
}

// One run of a case under `p`: what it reported and what it left.
struct Outcome {
    int ios = 0;
    bool threw = false;
    int live = 0;
    Run run;
};

void run_once(const Case &c, const Plan &p, Outcome &o, Totals &t) {
    c.setup(o.run);
    if (::testing::Test::HasFatalFailure()) return;
    {
        kit::fault::Armed a(p);
        try {
            o.ios = o.run.stmt();
        } catch (...) {
            o.threw = true;  // an exception crossing the library
        }
    }
    ++t.statements;
    if (!finishes([&] { c.follow(o.run, o.ios); })) {
        ADD_FAILURE() << c.name << " under " << kit::fault::text(p) << ": the unit is left held";
        std::fflush(nullptr);
        std::_Exit(3);  // a thread is stuck on the unit: nothing after this means anything
    }
    o.live = kit::fault::live_blocks();
}

// The record of the statement under test was reported as the statement's status.
void settle(Outcome &o) {
    for (auto &w : o.run.wrote)
        if (w.second == -1) w.second = o.ios;
}

// The statuses the program was given and the records the file holds.
std::string describe(const Run &r, const std::vector<std::string> &file) {
    std::string d = "\n  statuses:";
    for (const auto &w : r.wrote) d += " " + std::to_string(w.second);
    d += "\n  file records (bytes):";
    for (const std::string &f : file) d += " " + (f.size() > 60 ? std::to_string(f.size()) : "'" + f + "'");
    return d;
}

// Checks the file against what the program was told; the records checked.
int check_records(const Case &c, const Plan &p, const Run &r, int close_failed) {
    if (r.wrote.empty()) return 0;
    std::vector<std::string> file = r.records(file_bytes(r.path));
    size_t at = 0;
    for (size_t i = 0; i < r.wrote.size(); ++i) {
        const auto &[text, status] = r.wrote[i];
        if (at < file.size() && file[at] == text) {
            ++at;
            continue;
        }
        // A record may be missing only when its WRITE said so, or when a
        // failed CLOSE said the unit's held output could not go out.
        if (status == 0 && !close_failed) {
            ADD_FAILURE() << c.name << " under " << kit::fault::text(p) << ": record " << i + 1
                          << " was reported written and is " << (at < file.size() ? "not next in the file" : "missing")
                          << describe(r, file);
            return static_cast<int>(i);
        }
    }
    if (close_failed && at < file.size() && file[at].rfind("<torn>", 0) == 0) ++at;
    EXPECT_EQ(at, file.size()) << c.name << " under " << kit::fault::text(p) << ": the file holds more records";
    return static_cast<int>(at);
}

TEST(FaultSweep, EveryStatementUnderEveryFaultAtEveryCall) {
    if (auto only = kit::fault::from_env()) std::printf("VORLIX_FAULT=%s\n", kit::fault::text(*only).c_str());
    Totals t;
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        // A first run warms what the library keeps between statements (the
        // format cache, the thread's storage); the second counts.
        Outcome warm, clean;
        run_once(c, Plan{}, warm, t);
        run_once(c, Plan{}, clean, t);
        ASSERT_EQ(clean.ios, 0);
        ASSERT_FALSE(clean.threw);
        if (clean.run.read_ok) {
            ASSERT_TRUE(clean.run.read_ok());
        }
        ASSERT_EQ(clean.run.follow_status, 0);
        settle(clean);
        t.records += check_records(c, Plan{}, clean.run, 0);
        int counted[kit::fault::call_classes];
        for (int k = 0; k < kit::fault::call_classes; ++k) counted[k] = kit::fault::calls(static_cast<Call>(k));
        std::printf("%-36s write %3d  read %3d  open %2d  alloc %3d  (live after: %d)\n", c.name, counted[0],
                    counted[1], counted[2], counted[3], clean.live);

        for (int k = 0; k < kit::fault::call_classes; ++k) {
            const Call call = static_cast<Call>(k);
            for (auto [f, persist] : faults_of(call)) {
                for (int n = 1; n <= counted[k]; ++n) {
                    const Plan p{call, f, n, persist};
                    if (auto only = kit::fault::from_env(); only && kit::fault::text(*only) != kit::fault::text(p))
                        continue;
                    Outcome o;
                    run_once(c, p, o, t);
                    if (::testing::Test::HasFatalFailure()) return;
                    if (kit::fault::fired()) {
                        ++t.faults;
                        ++t.by_class[k];
                    }
                    const std::string where = std::string(c.name) + " under " + kit::fault::text(p);
                    if (o.threw) {
                        ++t.crashes;
                        ADD_FAILURE() << where << ": an exception left the library";
                        continue;
                    }
                    if (o.live > clean.live) {
                        ++t.leaks;
                        ADD_FAILURE() << where << ": " << o.live - clean.live << " blocks stay allocated";
                    }
                    if (transparent(f)) {
                        EXPECT_EQ(o.ios, 0) << where << ": a short or interrupted call is retried";
                    } else if (o.ios != 0) {
                        EXPECT_TRUE(sensible(f).count(o.ios)) << where << ": status " << o.ios;
                    }
                    if (o.ios == 0 && o.run.read_ok) {
                        EXPECT_TRUE(o.run.read_ok()) << where << ": wrong data read";
                    }
                    if (o.ios == 0 && o.run.read_ok) ++t.records;
                    EXPECT_EQ(o.run.follow_text, "") << where << ": the next statement read the wrong record";
                    settle(o);
                    // After OPEN and CLOSE the unit is free whatever they said;
                    // after another statement that failed the unit may go on
                    // refusing (a write error is kept until acted on).
                    if (o.ios == 0 || c.frees_unit) {
                        EXPECT_EQ(o.run.follow_status, 0) << where << ": the next statement on the unit failed";
                    }
                    // The statement under test is the CLOSE: its failure is the report.
                    t.records += check_records(c, p, o.run, c.frees_unit && o.ios != 0);
                }
            }
        }
    }
    std::printf("faults injected by class: write %d, read %d, open %d, alloc %d\n", t.by_class[0], t.by_class[1],
                t.by_class[2], t.by_class[3]);
    // A unit left held ends the run (see run_once): reaching here means none was.
    std::printf("faults injected %d, statements run %d, records verified %d, crashes %d, leaks %d, units held 0\n",
                t.faults, t.statements, t.records, t.crashes, t.leaks);
}

}  // namespace
