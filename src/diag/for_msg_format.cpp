// Formatting message texts one conversion at a time.
//
// A message text is a printf format, but the library cannot always trust
// the argument list to match it: GERROR has only a unit, a file name and a
// keyword to offer, a text may have been cut in the middle of a conversion,
// and a caller may pass fewer arguments than the text asks for. Each
// conversion is therefore given an argument of exactly the type it reads,
// and a conversion without an argument gets 0 or "".
#include "diag/for_diag.h"
#include "diag/for_msgtab.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string_view>

namespace {

enum class Arg_Kind { none, int32, int64, dbl, ldbl, wint, str, wstr, ptr };

struct Conversion {
    std::size_t length;  // characters of the conversion, '%' included
    int stars;           // '*' width and precision, each an int argument
    Arg_Kind kind;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr int star_limit = 999;  // the widest for_msg_field_digits allows

// Parses the conversion at fmt[0] == '%'. The rules are those of
// for__printf_signature; a conversion that one refuses, this one reports
// as length 0 so that the caller stops reading arguments.
Conversion parse(std::string_view fmt) {
    std::size_t i = 1;
    const std::size_t n = fmt.size();
    if (i < n && fmt[i] == '%') return {2, 0, Arg_Kind::none};
    std::size_t j = i;
    while (j < n && is_digit(fmt[j])) ++j;
    if (j > i && j < n && fmt[j] == '$') return {0, 0, Arg_Kind::none};
    int stars = 0;
    bool too_wide = false;
    auto skip_number = [&] {
        const std::size_t start = i;
        while (i < n && is_digit(fmt[i])) ++i;
        too_wide = too_wide || i - start > for_msg_field_digits;
    };
    while (i < n && std::strchr("-+ #0'I", fmt[i]) && fmt[i] != '\0') ++i;
    if (i < n && fmt[i] == '*') {
        ++stars;
        ++i;
    } else {
        skip_number();
    }
    if (i < n && fmt[i] == '.') {
        ++i;
        if (i < n && fmt[i] == '*') {
            ++stars;
            ++i;
        } else {
            skip_number();
        }
    }
    if (too_wide || (stars && i < n && is_digit(fmt[i]))) return {0, 0, Arg_Kind::none};
    std::string_view len;
    for (std::string_view mod : {"hh", "ll", "h", "l", "L", "q", "j", "z", "Z", "t"}) {
        if (fmt.substr(i).starts_with(mod)) {
            len = mod;
            i += mod.size();
            break;
        }
    }
    if (i >= n) return {0, 0, Arg_Kind::none};
    const char c = fmt[i++];
    const bool wide64 = len == "l" || len == "ll" || len == "q" || len == "j" || len == "z" || len == "Z" || len == "t";
    switch (c) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X': return {i, stars, wide64 ? Arg_Kind::int64 : Arg_Kind::int32};
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A': return {i, stars, len == "L" ? Arg_Kind::ldbl : Arg_Kind::dbl};
    case 'c': return {i, stars, len == "l" ? Arg_Kind::wint : Arg_Kind::int32};
    case 'C': return {i, stars, Arg_Kind::wint};
    case 's': return {i, stars, len == "l" ? Arg_Kind::wstr : Arg_Kind::str};
    case 'S': return {i, stars, Arg_Kind::wstr};
    case 'p': return {i, stars, Arg_Kind::ptr};
    case 'm':
        if (!stars && len.empty() && i == 2) return {2, 0, Arg_Kind::none};
        return {0, 0, Arg_Kind::none};
    default: return {0, 0, Arg_Kind::none};
    }
}

// Where the arguments come from.
class Arg_Source {
  public:
    virtual long long next_int64() = 0;
    virtual int next_int32() = 0;
    virtual double next_double() = 0;
    virtual long double next_ldouble() = 0;
    virtual const char *next_string() = 0;
    virtual const wchar_t *next_wstring() = 0;
    virtual const void *next_pointer() = 0;

  protected:
    ~Arg_Source() = default;
};

class Va_Source final : public Arg_Source {
  public:
    Va_Source(int nargs, va_list ap) : left_(nargs) { va_copy(ap_, ap); }
    ~Va_Source() { va_end(ap_); }
    long long next_int64() override { return take() ? va_arg(ap_, long long) : 0; }
    int next_int32() override { return take() ? va_arg(ap_, int) : 0; }
    double next_double() override { return take() ? va_arg(ap_, double) : 0.0; }
    long double next_ldouble() override { return take() ? va_arg(ap_, long double) : 0.0L; }
    const char *next_string() override {
        const char *s = take() ? va_arg(ap_, const char *) : nullptr;
        return s ? s : "";
    }
    const wchar_t *next_wstring() override {
        const wchar_t *s = take() ? va_arg(ap_, const wchar_t *) : nullptr;
        return s ? s : L"";
    }
    const void *next_pointer() override { return take() ? va_arg(ap_, const void *) : nullptr; }

  private:
    bool take() {
        if (left_ <= 0) return false;
        --left_;
        return true;
    }
    int left_;
    va_list ap_;
};

class Typed_Source final : public Arg_Source {
  public:
    Typed_Source(const long long *ints, int nints, const char *const *strings, int nstrings)
        : ints_(ints), nints_(nints), strings_(strings), nstrings_(nstrings) {}
    long long next_int64() override { return nints_-- > 0 ? *ints_++ : 0; }
    int next_int32() override { return static_cast<int>(next_int64()); }
    double next_double() override { return 0.0; }
    long double next_ldouble() override { return 0.0L; }
    const char *next_string() override {
        const char *s = nstrings_-- > 0 ? *strings_++ : nullptr;
        return s ? s : "";
    }
    const wchar_t *next_wstring() override { return L""; }
    const void *next_pointer() override { return nullptr; }

  private:
    const long long *ints_;
    int nints_;
    const char *const *strings_;
    int nstrings_;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

// snprintf of one conversion with its star values and its argument.
template <typename T>
int print_one(char *out, std::size_t room, const char *piece, int nstars, const int *star, T value) {
    switch (nstars) {
    case 0: return std::snprintf(out, room, piece, value);
    case 1: return std::snprintf(out, room, piece, star[0], value);
    default: return std::snprintf(out, room, piece, star[0], star[1], value);
    }
}

std::size_t format(char *out, std::size_t room, const char *fmt, Arg_Source &args) {
    if (room == 0) return 0;
    std::size_t n = 0;
    std::string_view rest = fmt;
    // Room still free before the terminating NUL.
    auto free_room = [&] { return room - 1 - n; };
    auto put = [&](std::string_view s) {
        std::size_t k = std::min(s.size(), free_room());
        std::memcpy(out + n, s.data(), k);
        n += k;
    };
    while (!rest.empty() && free_room() > 0) {
        std::size_t pct = rest.find('%');
        put(rest.substr(0, pct));
        if (pct == std::string_view::npos) break;
        rest = rest.substr(pct);
        Conversion conv = parse(rest);
        if (conv.length == 0) {
            put(rest);
            break;
        }
        char piece[64];
        if (conv.length >= sizeof piece) {
            put(rest);
            break;
        }
        std::memcpy(piece, rest.data(), conv.length);
        piece[conv.length] = '\0';
        rest = rest.substr(conv.length);
        int star[2] = {0, 0};
        // A star width is bounded as a written one is.
        for (int s = 0; s < conv.stars; ++s) star[s] = std::clamp(args.next_int32(), -star_limit, star_limit);
        char *dst = out + n;
        const std::size_t avail = free_room() + 1;
        int w = 0;
        switch (conv.kind) {
        case Arg_Kind::none: w = std::snprintf(dst, avail, piece); break;
        case Arg_Kind::int32: w = print_one(dst, avail, piece, conv.stars, star, args.next_int32()); break;
        case Arg_Kind::int64: w = print_one(dst, avail, piece, conv.stars, star, args.next_int64()); break;
        case Arg_Kind::dbl: w = print_one(dst, avail, piece, conv.stars, star, args.next_double()); break;
        case Arg_Kind::ldbl: w = print_one(dst, avail, piece, conv.stars, star, args.next_ldouble()); break;
        case Arg_Kind::wint:
            w = print_one(dst, avail, piece, conv.stars, star, static_cast<wint_t>(args.next_int32()));
            break;
        case Arg_Kind::str: w = print_one(dst, avail, piece, conv.stars, star, args.next_string()); break;
        case Arg_Kind::wstr: w = print_one(dst, avail, piece, conv.stars, star, args.next_wstring()); break;
        case Arg_Kind::ptr: w = print_one(dst, avail, piece, conv.stars, star, args.next_pointer()); break;
        }
        if (w > 0) n += std::min(static_cast<std::size_t>(w), free_room());
    }
    out[n] = '\0';
    return n;
}

#pragma GCC diagnostic pop

}  // namespace

std::size_t for__vformat_msg(char *out, std::size_t room, const char *fmt, int nargs, va_list ap) {
    Va_Source args(nargs, ap);
    return format(out, room, fmt, args);
}

std::size_t for__format_msg_typed(char *out, std::size_t room, const char *fmt, const long long *ints, int nints,
                                  const char *const *strings, int nstrings) {
    Typed_Source args(ints, nints, strings, nstrings);
    return format(out, room, fmt, args);
}
