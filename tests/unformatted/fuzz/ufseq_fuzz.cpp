// libFuzzer target: any bytes, taken as a file connected for unformatted
// input with any record type, read by any sequence of READ statements with
// any item lists, BACKSPACE, REWIND and EOF (u) -- never a crash, a read
// or write outside the items, or a status a READ cannot give. A corrupt
// file gives its error and leaves the unit usable: after everything, REWIND
// and the first READ again give the same status and the same bytes as the
// first time, and CLOSE succeeds.
//
// Built with clang (-fsanitize=fuzzer,address,undefined) from the whole
// library and the compiler kit; every item buffer is allocated to its
// exact size so that a byte stored past an item is an ASan report.
//
// Input: byte 0 chooses the connection, bytes 1-2 the file length, then
// the file, then the statements, a few bytes each.
#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <vorlix/io.h>
#include <vorlix/runtime.h>

#include "support/kit.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// The statuses an unformatted READ may give on a damaged or short file:
// end of file, the record too short for the items (22 and 67), a record
// that cannot be found (23), bad framing (35) or a file that lies about its
// lengths (39); in the compatibility layout a damaged block (605) or a
// record shorter than the item list (620).
bool read_status_ok(int s) {
    return s == 0 || s == -1 || s == 22 || s == 23 || s == 35 || s == 39 || s == 67 || s == 605 || s == 620;
}

struct Connection {
    const char *recordtype;  // RECORDTYPE=, or null
    const char *access;      // ACCESS=, or null
    const char *convert;     // CONVERT=, or null
    For_IO_Flags options;    // option bits of the OPEN flag word
    bool recl;               // RECL= from the input
};

const Connection connections[] = {
    {nullptr, nullptr, nullptr, 0, false},
    {nullptr, nullptr, nullptr, iof_opt_a, false},  // ENDFILE writes end-of-file records
    {"VARIABLE", nullptr, "BIG_ENDIAN", 0, false},
    {"SEGMENTED", nullptr, nullptr, 0, false},
    {"SEGMENTED", nullptr, nullptr, iof_opt_a, false},
    {"SEGMENTED", nullptr, nullptr, 0, true},
    {"FIXED", nullptr, nullptr, 0, true},
    {"STREAM", nullptr, nullptr, 0, false},
    {"STREAM_LF", nullptr, nullptr, 0, false},
    {"STREAM_CR", nullptr, nullptr, 0, false},
    {"STREAM_CRLF", nullptr, nullptr, 0, false},
    {nullptr, nullptr, nullptr, iof_ldio_ms, false},  // the compatibility layout
    {nullptr, "STREAM", nullptr, 0, false},
    {"VARIABLE", nullptr, nullptr, 0, true},
};

std::string scratch_file() {
    static std::string path = [] {
        const char *base = std::getenv("TMPDIR");
        std::string t = std::string(base && *base ? base : "/tmp") + "/vorlix-ufz-XXXXXX";
        check(mkdtemp(t.data()) != nullptr);
        return t + "/f";
    }();
    return path;
}

int position(int (*entry)(For_Context *, int, For_IO_Flags, const For_Dsc_Lst *, const For_Value_List *), int unit) {
    kit::Keys k;
    kit::Flags f;
    f.iostat();
    For_Context ctx{};
    int s = entry(&ctx, unit, f, k.dsc(), k.val());
    if (std::getenv("UFSEQ_FUZZ_TRACE"))
        std::fprintf(stderr, "%s %d\n",
                     entry == for_backspace ? "BACKSPACE"
                     : entry == for_rewind  ? "REWIND"
                                            : "EOF",
                     s);
    return s;
}

// The storage of the items of one READ, each of exactly its size.
struct Items {
    std::vector<std::unique_ptr<unsigned char[]>> store;
    std::vector<size_t> sizes;

    unsigned char *take(size_t n) {
        store.emplace_back(new unsigned char[n ? n : 1]);
        std::memset(store.back().get(), 0xa5, n ? n : 1);
        sizes.push_back(n);
        return store.back().get();
    }
    // What the items hold after the READ, in order.
    std::string bytes() const {
        std::string out;
        for (size_t i = 0; i < store.size(); ++i) out.append(reinterpret_cast<const char *>(store[i].get()), sizes[i]);
        return out;
    }
};

void build_items(FuzzedDataProvider &in, Items &it, kit::List &list) {
    int count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: list.item(*reinterpret_cast<int8_t *>(it.take(1))); break;
        case 1: list.item(*reinterpret_cast<int32_t *>(it.take(4))); break;
        case 2: list.item(*reinterpret_cast<double *>(it.take(8))); break;
        case 3: {
            size_t n = in.ConsumeIntegralInRange<size_t>(0, 40);
            list.chars(reinterpret_cast<char *>(it.take(n)), n);
            break;
        }
        case 4: {
            size_t n = in.ConsumeIntegralInRange<size_t>(0, 16);
            list.array(reinterpret_cast<int32_t *>(it.take(4 * n)), n);
            break;
        }
        case 5: {
            // Every other element of an array of 2n-1: a strided section.
            int64_t n = in.ConsumeIntegralInRange<int64_t>(1, 8);
            auto *a = reinterpret_cast<int16_t *>(it.take(static_cast<size_t>(2 * (2 * n - 1))));
            list.section(kit::slice(a, 1, 2 * n - 1, 2));
            break;
        }
        case 6: {
            // Backwards: a(n:1:-1).
            int64_t n = in.ConsumeIntegralInRange<int64_t>(1, 8);
            auto *a = reinterpret_cast<int64_t *>(it.take(static_cast<size_t>(8 * n)));
            list.section(kit::slice(a, n, 1, -1));
            break;
        }
        case 7: list.end_group(); break;  // the rest goes through _xmit
        }
    }
    list.end();
}

int do_read(FuzzedDataProvider &in, int unit, std::string *got) {
    Items it;
    kit::Stmt rd(unit);
    rd.flags.iostat();
    build_items(in, it, rd.items);
    int s = rd.run(for_read_seq, for_read_seq_xmit);
    if (got) *got = it.bytes();
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const Connection &c = connections[in.ConsumeIntegralInRange<size_t>(0, std::size(connections) - 1)];
    int64_t recl = c.recl ? in.ConsumeIntegralInRange<int64_t>(1, 12) : 0;
    size_t file_len = in.ConsumeIntegralInRange<size_t>(0, 600);
    std::vector<uint8_t> file = in.ConsumeBytes<uint8_t>(file_len);
    const std::string path = scratch_file();
    {
        FILE *f = std::fopen(path.c_str(), "wb");
        check(f != nullptr);
        check(std::fwrite(file.data(), 1, file.size(), f) == file.size());
        std::fclose(f);
    }
    const int unit = 17;
    kit::Keys k;
    k.text(FOR_KEY_FILE, path).text(FOR_KEY_FORM, "UNFORMATTED").text(FOR_KEY_ACTION, "READ");
    if (c.recordtype) k.text(FOR_KEY_RECORDTYPE, c.recordtype);
    if (c.access) k.text(FOR_KEY_ACCESS, c.access);
    if (c.convert) k.text(FOR_KEY_CONVERT, c.convert);
    if (recl) k.value(FOR_KEY_RECL, recl);
    kit::Flags of;
    of.iostat().set(c.options);
    For_Context octx{};
    int os = for_open(&octx, unit, of, k.dsc(), k.val());
    if (os != 0) return 0;  // a combination OPEN refuses (RECL too short for segments)

    // The first READ, remembered: the unit must give it again at the end.
    const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
    FuzzedDataProvider first_in(rest.data(), rest.size());
    std::string first_bytes;
    const int first = do_read(first_in, unit, &first_bytes);
    check(read_status_ok(first));

    FuzzedDataProvider ops(rest.data(), rest.size());
    for (int step = 0; step < 24 && ops.remaining_bytes() > 0; ++step) {
        switch (ops.ConsumeIntegralInRange(0, 7)) {
        case 0: {
            int b = position(for_backspace, unit);
            // Stream access has no records to step back over (113).
            check(b == 0 || b == 23 || b == 35 || b == 39 || (c.access && b == 113));
            break;
        }
        case 1: check(position(for_rewind, unit) == 0); break;
        case 2: {
            // EOF (u) reads without moving: a READ after it is unaffected,
            // and it never fails on a connected unit.
            position(for_eof, unit);
            break;
        }
        default: {
            int s = do_read(ops, unit, nullptr);
            if (std::getenv("UFSEQ_FUZZ_TRACE")) std::fprintf(stderr, "READ %d\n", s);
            check(read_status_ok(s));
            break;
        }
        }
    }

    check(position(for_rewind, unit) == 0);
    FuzzedDataProvider again_in(rest.data(), rest.size());
    std::string again_bytes;
    const int again = do_read(again_in, unit, &again_bytes);
    if (std::getenv("UFSEQ_FUZZ_TRACE")) std::fprintf(stderr, "first READ %d, again after REWIND %d\n", first, again);
    check(again == first);
    if (first == 0) check(again_bytes == first_bytes);

    kit::Keys ck;
    kit::Flags cf;
    cf.iostat();
    For_Context cctx{};
    check(for_close(&cctx, unit, cf, ck.dsc(), ck.val()) == 0);
    return 0;
}
