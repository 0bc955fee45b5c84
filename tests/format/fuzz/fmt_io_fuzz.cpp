// libFuzzer target: formatted WRITE and READ of internal files under any
// run-time format. The input gives the format text, the shape of the
// internal file, the items and the records read; both statements must
// end with a status (IOSTAT= is present, so every condition comes back)
// without a crash, a touch outside the file or the items, a hang or an
// allocation the records do not need. The hostile formats of repeat
// counts that multiply, fields far wider than their record and advances
// past the last record are what it looks for first: each of them once
// ran for minutes or took gigabytes.
//
// Built with clang (-fsanitize=fuzzer,address,undefined) from the whole
// library and the compiler kit; the internal file and every item are
// blocks of exactly their size, so a byte stored past one is an ASan
// report.
//
// Input: byte 0 the file's record count (1-4), byte 1 its record length
// (1-64), byte 2 the items, then the format text (a length-prefixed
// string), then the records read.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <vorlix/io.h>

#include "support/kit.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Exactly sized storage for one statement's items and internal file.
struct Blocks {
    std::vector<std::unique_ptr<char[]>> store;
    char *take(size_t n, char fill) {
        store.emplace_back(new char[n ? n : 1]);
        std::memset(store.back().get(), fill, n ? n : 1);
        return store.back().get();
    }
};

// The item list: up to six items of the types formatted editing meets.
void build_items(uint8_t choice, FuzzedDataProvider &in, Blocks &b, kit::List &list) {
    const int count = choice % 7;
    for (int i = 0; i < count; ++i) {
        switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: {
            auto *p = reinterpret_cast<int32_t *>(b.take(4, 0));
            *p = in.ConsumeIntegral<int32_t>();
            list.item(*p);
            break;
        }
        case 1: {
            auto *p = reinterpret_cast<int64_t *>(b.take(8, 0));
            *p = in.ConsumeIntegral<int64_t>();
            list.item(*p);
            break;
        }
        case 2: {
            auto *p = reinterpret_cast<float *>(b.take(4, 0));
            *p = in.ConsumeFloatingPoint<float>();
            list.item(*p);
            break;
        }
        case 3: {
            auto *p = reinterpret_cast<double *>(b.take(8, 0));
            *p = in.ConsumeFloatingPoint<double>();
            list.item(*p);
            break;
        }
        case 4: {
            auto *p = reinterpret_cast<kit::Logical4 *>(b.take(sizeof(kit::Logical4), 0));
            p->v = in.ConsumeBool() ? -1 : 0;
            list.item(*p);
            break;
        }
        case 5: {
            auto *p = reinterpret_cast<std::complex<double> *>(b.take(16, 0));
            *p = {in.ConsumeFloatingPoint<double>(), in.ConsumeFloatingPoint<double>()};
            list.item(*p);
            break;
        }
        default: {
            const size_t n = in.ConsumeIntegralInRange<size_t>(0, 12);
            list.chars(b.take(n, 'q'), n);
            break;
        }
        }
    }
    list.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t records = 1 + in.ConsumeIntegralInRange<size_t>(0, 3);
    const size_t length = 1 + in.ConsumeIntegralInRange<size_t>(0, 63);
    const uint8_t items = in.ConsumeIntegral<uint8_t>();
    const std::string text = in.ConsumeRandomLengthString(512);
    For_Char_Format format{static_cast<int64_t>(text.size()), text.data()};

    // WRITE (file, format, IOSTAT=) items.
    {
        FuzzedDataProvider values(data, size);
        Blocks b;
        char *file = b.take(records * length, '#');
        kit::Stmt st;
        st.flags.fmt_text().iostat();
        st.items.char_array(file, records, length);
        build_items(items, values, b, st.items);
        const int s = st.run(for_write_int_fmt, &format, for_write_int_fmt_xmit);
        // A WRITE has no end-of-file or end-of-record condition to return.
        check(s >= 0);
    }
    // READ (file, format, IOSTAT=) items, the file's records from the input.
    {
        const std::string rest = in.ConsumeRemainingBytesAsString();
        Blocks b;
        char *file = b.take(records * length, ' ');
        std::memcpy(file, rest.data(), rest.size() < records * length ? rest.size() : records * length);
        FuzzedDataProvider values(data, size);
        kit::Stmt st;
        st.flags.fmt_text().iostat();
        st.items.char_array(file, records, length);
        build_items(items, values, b, st.items);
        const int s = st.run(for_read_int_fmt, &format, for_read_int_fmt_xmit);
        check(s >= -2);
    }
    return 0;
}
