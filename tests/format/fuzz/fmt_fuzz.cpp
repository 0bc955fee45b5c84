// libFuzzer target: any byte string given to the run-time format compiler
// either compiles to a record stream that the record reader walks exactly
// to its closing record, or is refused with 62, 181 or 643 -- never a crash, a
// hang or a read outside the text.
//
// Built with clang (-fsanitize=fuzzer,address,undefined) from the format
// sources and the memory primitives alone; the diagnostic entry below
// formats message 58 into a buffer so that the quoted span is read in full
// under ASan without filling standard error.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "format/for_fmt_comp.h"
#include "format/for_fmt_decode.h"
#include "format/for_fmt_isb.h"
#include "runtime/for_vm.h"

int for__issue_diagnostic(int number, int nargs, ...) {
    va_list ap;
    va_start(ap, nargs);
    char out[256];
    if (number == 58 && nargs == 2) {
        int len = va_arg(ap, int);
        const char *text = va_arg(ap, const char *);
        if (len < 0 || len > 80) __builtin_trap();
        // Touch every quoted byte: ASan reports any outside the text.
        volatile unsigned sum = 0;
        for (int i = 0; i < len; ++i) sum = sum + static_cast<unsigned char>(text[i]);
        std::snprintf(out, sizeof out, "format syntax error at or near %.*s", len, text);
    } else {
        __builtin_trap();  // the compiler issues no other message
    }
    va_end(ap);
    return 0;
}

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void walk(const unsigned char *p, uint32_t size) {
    std::size_t at = 0;
    int depth = 0;
    bool first = true;
    for (;;) {
        check(at < size);
        For_Fmt_Rec r;
        check(for__fmt_decode(p + at, size - at, &r) == 0);
        check(r.size % 4 == 0 && r.size >= 4);
        if (first) check(r.op == FOR_FMT_FORMAT_BEGIN);
        first = false;
        // The compiler writes generic records, literals and run-time DT only.
        check((r.category >= 1 && r.category <= 5) || r.code == FOR_FMT_LITERAL || r.code == FOR_FMT_DT_RT);
        check(r.vfe == 0);
        if (r.op == FOR_FMT_GROUP_BEGIN) {
            check(r.f1 >= 1);
            check(++depth <= for_fmt_max_depth - 1);  // the format's own parentheses are a level
        }
        if (r.op == FOR_FMT_GROUP_END) check(--depth >= 0);
        if (r.op == FOR_FMT_P) check(r.f2 >= -128 && r.f2 <= 127);
        if (r.op == FOR_FMT_T) check(r.f2 > 0);
        if (r.code == FOR_FMT_DT_RT) check(r.f1 >= 1);
        at += r.size;
        if (r.op == FOR_FMT_FORMAT_END) break;
    }
    check(at == size);
    check(depth == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    // The first byte chooses whether message 58 is formatted; the rest is
    // the format text, in a buffer of exactly its length.
    bool diagnose = size > 0 && (data[0] & 1);
    std::vector<char> text(data + (size > 0), data + size);
    std::string_view view(text.data(), text.size());
    unsigned char *out = nullptr;
    uint32_t n = 0;
    int st = for__format_compile_text(view, diagnose, UINT32_MAX, &out, &n);
    if (st != 0) {
        check(st == 62 || st == 181 || st == 643);
        check(out == nullptr);
        return 0;
    }
    walk(out, n);
    // The same text compiles to the same bytes.
    unsigned char *again = nullptr;
    uint32_t n2 = 0;
    check(for__format_compile_text(view, false, UINT32_MAX, &again, &n2) == 0);
    check(n2 == n && std::memcmp(out, again, n) == 0);
    // And the character-descriptor entry agrees.
    For_Char_Format f{static_cast<int64_t>(text.size()), text.data()};
    unsigned char *third = nullptr;
    check(for__format_compiler(&f, &third, 0) == 0);
    check(std::memcmp(out, third, n) == 0);
    for__free_vm(out);
    for__free_vm(again);
    for__free_vm(third);
    return 0;
}
