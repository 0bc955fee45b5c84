// The representation of a unit's unformatted data, decided at OPEN from
// its five sources in order; each source that applies replaces what the
// ones before it decided.
#include "units/for_convert_choice.h"

#include <cstdlib>
#include <cstring>

#include "cvt/for_endian_env.h"
#include "diag/for_msgnum.h"
#include "units/for_lub.h"
#include "units/for_open.h"

namespace {

struct Named {
    std::string_view name;
    For_Conversion conversion;
};
constexpr Named named[] = {
    {"NATIVE", {false, false, 0}},   {"LITTLE_ENDIAN", {false, false, 0}},
    {"BIG_ENDIAN", {true, true, 0}}, {"VAXG", {true, false, 1}},
    {"VAXD", {true, false, 2}},      {"IBM", {true, true, 3}},
    {"CRAY", {true, true, 4}},       {"FDX", {true, false, 5}},
    {"FGX", {true, false, 6}},
};

// CONVERT= table values (1 BIG_ENDIAN ... 9 NATIVE) to the rows above.
constexpr int row_of_keyword[] = {-1, 2, 1, 4, 3, 5, 6, 7, 8, 0};

// Only the first 20 characters of a value are read: no name is longer.
constexpr size_t max_word = 20;
// A variable with a longer value is taken for junk and not applied.
constexpr size_t max_value = 260;

// The value of a variable when it is set, not empty and not over-long.
const char *usable(const std::string &name) {
    const char *v = std::getenv(name.c_str());
    return v && *v && std::strlen(v) <= max_value ? v : nullptr;
}

}  // namespace

For_Conversion For_Conversion::of(const For_Lub *lub) {
    return {(lub->lub_flags & lubf::foreign) != 0, (lub->lub_flags & lubf::big_endian) != 0, lub->lub_convert};
}

void For_Conversion::store(uint64_t *flags, uint8_t *c) const {
    *flags = (*flags & ~(lubf::foreign | lubf::big_endian)) | (foreign ? lubf::foreign : 0) |
             (big_endian ? lubf::big_endian : 0);
    *c = code;
}

void For_Conversion::store(For_Lub *lub) const { store(&lub->lub_flags, &lub->lub_convert); }

// Codes the library has no conversion for are no choice at all: a unit
// marked foreign with such a code would convert as native anyway, and
// report a representation it does not have.
bool for__compiled_conversion(For_IO_Flags flags, For_Conversion *c) {
    const auto code = static_cast<uint8_t>(flags >> 8);
    const bool big = (flags & (For_IO_Flags{1} << 16)) != 0;
    if (!big && (code == 0 || code > 6)) return false;
    *c = {true, big, code > 6 ? uint8_t{0} : code};
    return true;
}

int for__set_conversion_option(For_Conversion *c, std::string_view value) {
    *c = {true, false, 0};
    if (value.size() > max_word) return msg::inconsistent_open_close;
    char up[max_word];
    for (size_t i = 0; i < value.size(); ++i) {
        char ch = value[i];
        up[i] = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
    }
    const std::string_view word(up, value.size());
    for (const Named &n : named)
        if (n.name == word) {
            *c = n.conversion;
            return 0;
        }
    return msg::inconsistent_open_close;
}

std::string_view for__file_extension(std::string_view name) {
    // Only the last component: a '.' in a directory's name is no extension.
    if (size_t slash = name.rfind('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
}

int for__set_foreign_bits(For_Conversion *c, const For_Open_Args &args, int unit, std::string_view file_name) {
    if (args.convert) {
        if (args.convert >= std::size(row_of_keyword)) return msg::invalid_argument;
        *c = named[row_of_keyword[args.convert]].conversion;
    }
    switch (CheckEndian(unit)) {
    case 1: *c = named[2].conversion; break;
    case -1: *c = named[1].conversion; break;
    default: break;
    }
    if (std::string_view ext = for__file_extension(file_name); !ext.empty()) {
        const char *v = usable("FORT_CONVERT." + std::string(ext));
        if (!v) v = usable("FORT_CONVERT_" + std::string(ext));
        if (v)
            if (int s = for__set_conversion_option(c, v)) return s;
    }
    if (const char *v = usable("FORT_CONVERT" + std::to_string(unit)))
        if (int s = for__set_conversion_option(c, v)) return s;
    return 0;
}
