#include "runtime/for_env.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>

int32_t for__l_blocksize = 0;
int32_t for__l_buffercount = 0;
int32_t for__l_fmtrecl = 0;
int32_t for__l_ufmtrecl = 0;

double for_process_start_time = 0.0;
int32_t for__l_argc = 0;
char **for__a_argv = nullptr;

namespace {

// Longer values are taken for junk rather than for a setting.
constexpr size_t max_bool_value = 260;
constexpr size_t max_size_value = 259;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Decimal integer text as integer input editing reads it: blanks around, an
// optional sign, digits; an empty or all-blank value is 0. False on any other
// character and on values outside 32 bits.
bool parse_int32(std::string_view text, int32_t *value) {
    size_t b = text.find_first_not_of(' ');
    if (b == std::string_view::npos) {
        *value = 0;
        return true;
    }
    text = text.substr(b, text.find_last_not_of(' ') - b + 1);
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    int64_t v = 0;
    for (char c : text) {
        if (!is_digit(c)) return false;
        v = v * 10 + (c - '0');
        if (v > int64_t{INT32_MAX} + 1) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

// The raw value of a size variable: unset, invalid, or parsed into *value.
int32_t read_size_variable(const char *name, int32_t *value) {
    const char *text = std::getenv(name);
    if (!text) return for__setting_unset;
    size_t len = std::strlen(text);
    if (len > max_size_value || !parse_int32({text, len}, value)) return for__setting_invalid;
    return 0;
}

int32_t blocksize_setting() {
    int32_t v;
    if (int32_t s = read_size_variable("FORT_BLOCKSIZE", &v)) return s;
    // The bound keeps the rounding up to 512 inside 32 bits.
    if (v < 0 || v >= 2147467265) return for__setting_invalid;
    return (v + 511) & ~511;
}

int32_t buffercount_setting() {
    int32_t v;
    if (int32_t s = read_size_variable("FORT_BUFFERCOUNT", &v)) return s;
    return static_cast<uint32_t>(v) <= 127 ? v : for__setting_invalid;
}

int32_t recl_setting(const char *name) {
    int32_t v;
    if (int32_t s = read_size_variable(name, &v)) return s;
    return v >= 0 ? v : for__setting_invalid;
}

std::mutex io_sizes_lock;

}  // namespace

VORLIX_API int for_check_env_name(const char *name) {
    if (!name) return 0;
    const char *value = std::getenv(name);
    if (!value) return 0;
    std::string_view v{value, strnlen(value, max_bool_value + 1)};
    if (v.empty() || v.size() > max_bool_value) return 0;
    switch (v.front()) {
    case 'T':
    case 't':
    case 'Y':
    case 'y': return 1;
    default: break;
    }
    // "000" is false; a long run of digits is true when any of them is not 0,
    // however large the number it spells.
    bool nonzero = false;
    for (char c : v) {
        if (!is_digit(c)) return 0;
        nonzero = nonzero || c != '0';
    }
    return nonzero ? 1 : 0;
}

void for__default_io_sizes_env_init() {
    std::lock_guard guard(io_sizes_lock);
    if (for__l_blocksize || for__l_buffercount || for__l_fmtrecl || for__l_ufmtrecl) return;
    for__l_blocksize = blocksize_setting();
    for__l_buffercount = buffercount_setting();
    for__l_fmtrecl = recl_setting("FORT_FMT_RECL");
    for__l_ufmtrecl = recl_setting("FORT_UFMT_RECL");
}

double for__process_start_time() { return for_process_start_time; }

double for_since_epoch_t() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
