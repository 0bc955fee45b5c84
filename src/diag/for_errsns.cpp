// The error routines that programs call: ERRSNS (the last I/O failure of
// the calling thread), GERROR and PERROR (its text), and the formatted
// text of any message.
#include "diag/for_diag.h"

#include "diag/for_msgnum.h"
#include "runtime/for_threadstor.h"
#include "runtime/for_write_all.h"
#include "units/for_lub_mgt.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t perror_text_size = 4229;
constexpr std::size_t errmsg_area = 8196;
constexpr std::size_t errmsg_max = 8192;
constexpr std::size_t gerror_area = 8192;

For_Last_Error &last_error() { return for__thread_storage().last_error; }

// strerror texts that say nothing about the failure: the library's own
// message is more useful then.
bool says_something(std::string_view text) {
    for (std::string_view vague : {"Unknown error", "Undefined error", "Success", "No error"})
        if (text.starts_with(vague)) return false;
    return true;
}

// strncpy rules: a shorter text is followed by NULs up to `length`.
void copy_out(char *out, std::size_t length, const char *text) { std::strncpy(out, text, length); }

void no_memory_text(char *out, std::size_t length) {
    char text[128];
    std::snprintf(text, sizeof text, "%s\n", for__get_msg(msg::no_message_memory, 0));
    copy_out(out, length, text);
}

// The GERROR text of the calling thread's last error into out[0..length).
void gerror_text(char *out, std::size_t length) {
    const For_Last_Error &e = last_error();
    if (e.err_errno == 0 && e.err_number == 0) {
        std::memset(out, 0, length);
        return;
    }
    if (e.err_errno != 0) {
        char sysbuf[256];
        const char *sys = strerror_r(e.err_errno, sysbuf, sizeof sysbuf);
        if (sys && says_something(sys)) {
            copy_out(out, length, sys);
            return;
        }
    }

    int severity;
    const char *fmt;
    if (get_message(static_cast<int>(e.err_number), &severity, &fmt) != 0) fmt = "Message not found";

    // The unit is only looked at, never waited for: a unit that another
    // thread holds gives an empty name rather than a stalled GERROR.
    char *name = nullptr;
    if (For_Lub *lub = for__inspect_lun(e.err_unit)) {
        name = strdup(lub->lub_file_name ? lub->lub_file_name : "");
        for__release_lub(lub);
        if (!name) {
            no_memory_text(out, length);
            return;
        }
    }
    // The keyword fills all 64 bytes without a NUL when it is that long.
    char keyword[sizeof e.err_keyword + 1];
    const std::size_t klen = strnlen(e.err_keyword, sizeof e.err_keyword);
    std::memcpy(keyword, e.err_keyword, klen);
    keyword[klen] = '\0';

    char *text = static_cast<char *>(std::malloc(gerror_area));
    if (!text) {
        std::free(name);
        no_memory_text(out, length);
        return;
    }
    // Each conversion of the text takes an argument of its own type: the
    // unit for integers; the keyword (103 and 104 only) and the file name
    // for strings.
    const long long ints[1] = {e.err_unit};
    const bool with_keyword =
        e.err_number == msg::incorrect_specifier || e.err_number == msg::incorrect_specifier_value;
    const char *strings[2] = {keyword, name ? name : ""};
    for__format_msg_typed(text, gerror_area, fmt, ints, 1, with_keyword ? strings : strings + 1, with_keyword ? 2 : 1);
    copy_out(out, length, text);
    std::free(text);
    std::free(name);
}

void blank_pad(char *s, std::size_t length) {
    const char *nul = static_cast<const char *>(std::memchr(s, '\0', length));
    if (nul) std::memset(s + (nul - s), ' ', length - static_cast<std::size_t>(nul - s));
}

// The record of PERROR on unit 0. Unit 0 is standard error until the
// formatted WRITE of the I/O subsystem takes the record through the unit.
int write_unit0_record(std::string_view line) {
    std::fflush(stderr);
    std::string_view parts[3] = {" ", line, "\n"};
    for (std::string_view part : parts) {
        if (for__write_all(STDERR_FILENO, part.data(), part.size()) != 0) return msg::write_error;
    }
    return 0;
}

template <typename T>
void store(T *to, int32_t value) {
    if (to) *to = static_cast<T>(value);
}

template <typename T>
void errsns(T *number, T *sys_errno, T *status, T *unit, T *condition) {
    For_Last_Error &e = last_error();
    store(number, static_cast<int32_t>(e.err_number & 0xffff));
    store(sys_errno, e.err_errno);
    store(status, e.err_status);
    store(unit, e.err_unit);
    store(condition, e.err_condition);
    e = For_Last_Error{};
}

}  // namespace

VORLIX_API void for_errsns(int32_t *number, int32_t *sys_errno, int32_t *status, int32_t *unit, int32_t *condition) {
    errsns(number, sys_errno, status, unit, condition);
}

VORLIX_API void for_errsns_w(int16_t *number, int16_t *sys_errno, int16_t *status, int16_t *unit, int16_t *condition) {
    errsns(number, sys_errno, status, unit, condition);
}

VORLIX_API void for_errsns_load(int32_t number, int32_t sys_errno, int32_t status, int32_t unit, int32_t condition) {
    For_Last_Error &e = last_error();
    e.err_number = static_cast<uint32_t>(number);
    e.err_errno = sys_errno;
    e.err_status = status;
    e.err_unit = unit;
    e.err_condition = condition;
}

VORLIX_API void for_gerror_(char *string, int64_t length) {
    if (!string || length <= 0) return;
    gerror_text(string, static_cast<std::size_t>(length));
    blank_pad(string, static_cast<std::size_t>(length));
}

VORLIX_API void for_perror_(const char *prefix, int64_t length) {
    for__redirect_stderr();
    char text[perror_text_size];
    gerror_text(text, sizeof text - 1);
    text[sizeof text - 1] = '\0';
    std::size_t tlen = std::strlen(text);
    while (tlen > 0 && std::strchr("\n\r ", text[tlen - 1])) --tlen;
    text[tlen] = '\0';

    const std::size_t plen = prefix && length > 0 ? strnlen(prefix, static_cast<std::size_t>(length)) : 0;
    const std::string_view sep = length != 0 ? ": " : "";
    char *line = static_cast<char *>(std::malloc(plen + sep.size() + tlen + 1));
    if (!line) {
        std::fprintf(stderr, "%.*s : %s\n ", static_cast<int>(plen), prefix ? prefix : "", text);
        std::fprintf(stderr, "%s\n", for__get_msg(msg::no_message_memory, 0));
        return;
    }
    std::memcpy(line, prefix, plen);
    std::memcpy(line + plen, sep.data(), sep.size());
    std::memcpy(line + plen + sep.size(), text, tlen);
    const int status = write_unit0_record({line, plen + sep.size() + tlen});
    std::free(line);
    if (status != 0) {
        For_Last_Error &e = last_error();
        e.err_number = static_cast<uint32_t>(status);
        e.err_errno = 0;
        e.err_unit = 0;
    }
}

VORLIX_API void for_errmsg(int number, char *string, int64_t length, ...) {
    if (!string || length <= 0) return;
    const std::size_t len = static_cast<std::size_t>(length);
    // for__get_msg's buffer belongs to this thread; the copy keeps the text
    // while the formatting below may look messages up again.
    char text[264];
    std::strcpy(text, for__get_msg(number, 0));
    char *area = static_cast<char *>(std::malloc(errmsg_area));
    const char *result = text;
    if (area) {
        va_list ap;
        va_start(ap, length);
        // The program passes what the text asks for; the text is the
        // built-in one or a catalog text with the same conversions.
        for__vformat_msg(area, errmsg_max + 1, text, INT_MAX, ap);
        va_end(ap);
        result = area;
    }
    const std::size_t n = std::min(std::strlen(result), len);
    std::memcpy(string, result, n);
    std::memset(string + n, ' ', len - n);
    std::free(area);
}
