// F_UFMTENDIAN and FOR_FMT_TERMINATOR: one grammar, two sets of words,
// each variable scanned once per process under its own once-guard.
#include "cvt/for_endian_env.h"

#include <cstdlib>
#include <cstring>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "runtime/for_once.h"

namespace {

// Longer values are not read at all.
constexpr size_t max_value = 260;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int32_t mode_of(std::string_view w, const For_Setting_Word *words, int nwords) {
    for (int i = 0; i < nwords; ++i)
        if (words[i].word == w) return words[i].mode;
    return 0;
}

// A unit number of the list: decimal digits only, and a value a unit
// number can have (a longer run of digits is junk, not a huge unit).
bool parse_unit(std::string_view t, int32_t *v) {
    if (t.empty()) return false;
    int64_t n = 0;
    for (char c : t) {
        if (!is_digit(c)) return false;
        n = n * 10 + (c - '0');
        if (n > INT32_MAX) return false;
    }
    *v = static_cast<int32_t>(n);
    return true;
}

bool parse_list(std::string_view list, For_Unit_Setting *s) {
    if (list.empty() || !is_digit(list.front()) || list.back() == ',') return false;
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view entry = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        if (s->count == For_Unit_Setting::max_ranges) return false;
        size_t dash = entry.find('-');
        int32_t lo = 0, hi = 0;
        if (dash == std::string_view::npos) {
            if (!parse_unit(entry, &lo)) return false;
            hi = lo;
        } else if (!parse_unit(entry.substr(0, dash), &lo) || !parse_unit(entry.substr(dash + 1), &hi) || lo > hi) {
            return false;
        }
        s->beg[s->count] = lo;
        s->end[s->count] = hi;
        ++s->count;
    }
    return true;
}

const For_Setting_Word endian_words[] = {{"big", 1}, {"little", -1}};
const For_Setting_Word terminator_words[] = {{"CR", 7}, {"LF", 6}, {"CRLF", 8}};

For_Unit_Setting endian_setting;
For_Unit_Setting rectype_setting;
For_Once_Block endian_var_scanned;
For_Once_Block rectype_var_scanned;

// Reads a variable into its setting. An unset or empty variable is no
// setting; anything else that does not follow the grammar (an over-long
// value among them) is discarded with warning 96, once, since the scan is.
// Both variables share that message: the table has none naming the
// terminator variable.
void scan(const char *name, const For_Setting_Word *words, int nwords, int32_t listed_default, For_Unit_Setting *out) {
    *out = For_Unit_Setting{};
    const char *v = std::getenv(name);
    if (!v || !*v) return;
    const size_t n = std::strlen(v);
    if (n > max_value || !for__parse_unit_setting({v, n}, words, nwords, listed_default, out))
        for__issue_diagnostic(msg::ufmtendian_syntax, 0);
}

void scan_endian() { scan("F_UFMTENDIAN", endian_words, 2, 1, &endian_setting); }
void scan_rectype() { scan("FOR_FMT_TERMINATOR", terminator_words, 3, 7, &rectype_setting); }

}  // namespace

int32_t For_Unit_Setting::lookup(int unit) const {
    if (exception != 0)
        for (int i = 0; i < count; ++i)
            if (unit >= beg[i] && unit <= end[i]) return exception;
    return mode;
}

bool for__parse_unit_setting(std::string_view text, const For_Setting_Word *words, int nwords, int32_t listed_default,
                             For_Unit_Setting *out) {
    *out = For_Unit_Setting{};
    if (int32_t m = mode_of(text, words, nwords)) {
        out->mode = m;
        return true;
    }
    For_Unit_Setting s;
    s.exception = listed_default;
    if (size_t semi = text.find(';'); semi != std::string_view::npos) {
        s.mode = mode_of(text.substr(0, semi), words, nwords);
        if (s.mode == 0) return false;
        text.remove_prefix(semi + 1);
    }
    if (size_t colon = text.find(':'); colon != std::string_view::npos) {
        s.exception = mode_of(text.substr(0, colon), words, nwords);
        if (s.exception == 0) return false;
        text.remove_prefix(colon + 1);
    }
    if (text.find_first_not_of("0123456789,-") != std::string_view::npos) return false;
    if (!parse_list(text, &s)) return false;
    // A list that says what the rest says changes nothing.
    if (s.exception == s.mode) {
        s.exception = 0;
        s.count = 0;
    }
    *out = s;
    return true;
}

void SetEndian() { for__once_private(&endian_var_scanned, scan_endian); }

int CheckEndian(int unit) {
    SetEndian();
    return endian_setting.lookup(unit);
}

int CheckStreamRecortType(int unit) {
    for__once_private(&rectype_var_scanned, scan_rectype);
    return rectype_setting.lookup(unit);
}

bool for__set_terminator_option(int unit, uint8_t *record_type, uint8_t *carriage_control) {
    const int t = CheckStreamRecortType(unit);
    if (t == 0) return false;
    *record_type = static_cast<uint8_t>(t);
    *carriage_control = 3;
    return true;
}
