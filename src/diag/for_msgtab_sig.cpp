// printf conversion signatures.  A translated catalog text is passed the
// arguments of the built-in text, so it is only safe to use when it asks for
// the same argument types in the same order.  tools/gen_msgtab.py computes the
// built-in signatures with the same rules; keep the two in step.
#include "diag/for_msgtab.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_one_of(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

// glibc flags, including the grouping (') and locale digits (I) extensions.
constexpr std::string_view flags = "-+ #0'I";
// Longest first, so that "hh" is not taken for "h" followed by a letter.
constexpr std::string_view lengths[] = {"hh", "ll", "h", "l", "L", "q", "j", "z", "Z", "t"};
// Conversions that consume an argument.  %n is left out on purpose: a
// translated text must never make the library write through an argument.
constexpr std::string_view letters = "diouxXeEfFgGaAcspCS";

}  // namespace

std::string for__printf_signature(std::string_view fmt) {
    // printf stops at a NUL, and so does the argument list it asks for.
    fmt = fmt.substr(0, fmt.find('\0'));
    std::string sig;
    auto append = [&sig](std::string_view part) {
        if (!sig.empty()) sig += ',';
        sig += part;
    };
    const std::size_t n = fmt.size();
    std::size_t i = 0;
    while (i < n) {
        if (fmt[i] != '%') {
            ++i;
            continue;
        }
        ++i;
        if (i < n && fmt[i] == '%') {
            ++i;
            continue;
        }
        // Positional arguments ("%2$s") can reorder the arguments: refuse them.
        std::size_t j = i;
        while (j < n && is_digit(fmt[j])) ++j;
        if (j > i && j < n && fmt[j] == '$') {
            append("!");
            break;
        }
        std::string conv;
        bool too_wide = false;
        auto skip_number = [&] {
            const std::size_t start = i;
            while (i < n && is_digit(fmt[i])) ++i;
            if (i - start > for_msg_field_digits) too_wide = true;
        };
        while (i < n && is_one_of(fmt[i], flags)) ++i;
        if (i < n && fmt[i] == '*') {
            conv += '*';
            ++i;
        } else {
            skip_number();
        }
        if (i < n && fmt[i] == '.') {
            ++i;
            if (i < n && fmt[i] == '*') {
                conv += '*';
                ++i;
            } else {
                skip_number();
            }
        }
        if (too_wide) {
            append("!");
            break;
        }
        // A digit right after a star can only begin a positional star ("*2$").
        if (!conv.empty() && i < n && is_digit(fmt[i])) {
            append("!");
            break;
        }
        std::string_view length;
        for (std::string_view mod : lengths) {
            if (fmt.substr(i).starts_with(mod)) {
                length = mod;
                i += mod.size();
                break;
            }
        }
        if (i < n && is_one_of(fmt[i], letters)) {
            conv += length;
            conv += fmt[i];
            append(conv);
            ++i;
        } else if (i < n && fmt[i] == 'm' && conv.empty() && length.empty()) {
            ++i;  // glibc's %m prints strerror(errno) and takes no argument
        } else {
            append("!");
            break;
        }
    }
    return sig;
}
