// The two tables that describe the compiled-format record stream: fmt_cat
// (what each record opcode stands for and how its fields are laid out) and
// fmt_check (how many fields a generic record needs). They are written as
// the lists of the record layout and expanded at compile time, so a row
// cannot be typed into the wrong slot.
#include <array>

#include "format/for_fmt_comp.h"

namespace {

using Cat_Table = std::array<For_Fmt_Cat, for_fmt_ncodes>;

struct Compact {
    int from, to, stands_for;  // record codes from..to stand for stands_for..
};

constexpr void set_range(Cat_Table &t, int category, Compact r) {
    for (int c = r.from; c <= r.to; ++c)
        t[c] = {static_cast<uint8_t>(category), static_cast<uint8_t>(r.stands_for + (c - r.from))};
}

// Generic records: category 1 + the number of fields the opcode uses, so
// the category alone tells a reader which fields carry meaning.
constexpr int generic_category(int op) {
    switch (op) {
    case FOR_FMT_GROUP_BEGIN:
    case FOR_FMT_X:
    case FOR_FMT_SLASH:
    case FOR_FMT_B_NW:
    case FOR_FMT_EN_NW:
    case FOR_FMT_ES_NW:
    case FOR_FMT_AT: return 2;
    case FOR_FMT_P:
    case FOR_FMT_T:
    case FOR_FMT_TL:
    case FOR_FMT_TR:
    case FOR_FMT_A:
    case FOR_FMT_I:
    case FOR_FMT_L:
    case FOR_FMT_O:
    case FOR_FMT_Z:
    case FOR_FMT_B: return 3;
    case FOR_FMT_D:
    case FOR_FMT_E:
    case FOR_FMT_F:
    case FOR_FMT_G:
    case FOR_FMT_IM:
    case FOR_FMT_OM:
    case FOR_FMT_ZM:
    case FOR_FMT_BM:
    case FOR_FMT_EN:
    case FOR_FMT_ES: return 4;
    case FOR_FMT_EE:
    case FOR_FMT_GE:
    case FOR_FMT_ENE:
    case FOR_FMT_ESE:
    case FOR_FMT_EX: return 5;
    default: return op >= FOR_FMT_A_NW && op <= FOR_FMT_Z_NW ? 2 : 1;
    }
}

constexpr Cat_Table make_cat() {
    Cat_Table t{};
    for (int op = 0; op <= 51; ++op)
        if (op != FOR_FMT_LITERAL) t[op] = {static_cast<uint8_t>(generic_category(op)), static_cast<uint8_t>(op)};
    for (int op = 108; op <= 115; ++op) t[op] = {static_cast<uint8_t>(generic_category(op)), static_cast<uint8_t>(op)};
    t[FOR_FMT_EX] = {static_cast<uint8_t>(generic_category(FOR_FMT_EX)), FOR_FMT_EX};
    t[FOR_FMT_AT] = {static_cast<uint8_t>(generic_category(FOR_FMT_AT)), FOR_FMT_AT};
    // Category 6: no fields.
    for (Compact r :
         {Compact{53, 55, 0}, Compact{57, 57, 4}, Compact{58, 62, 5}, Compact{68, 70, 15}, Compact{100, 107, 108}})
        set_range(t, 6, r);
    // Category 7: field 1 in bits 16-31.
    for (Compact r : {Compact{56, 56, 3}, Compact{64, 64, 11}, Compact{71, 80, 18}, Compact{93, 93, 43},
                      Compact{96, 96, 46}, Compact{98, 98, 49}, Compact{121, 121, 122}})
        set_range(t, 7, r);
    // Category 8: field 2 in bits 16-31; the literal keeps its length there.
    for (Compact r : {Compact{63, 63, 10}, Compact{65, 67, 12}, Compact{28, 28, 28}}) set_range(t, 8, r);
    // Category 9: field 1 in bits 8-15, field 2 in bits 16-31.
    for (Compact r :
         {Compact{81, 81, 29}, Compact{86, 86, 36}, Compact{88, 89, 38}, Compact{91, 91, 41}, Compact{94, 94, 44}})
        set_range(t, 9, r);
    // Category 10: fields 1, 2, 3 in bits 8-15, 16-23, 24-31.
    for (Compact r : {Compact{82, 83, 30}, Compact{84, 85, 33}, Compact{87, 87, 37}, Compact{90, 90, 40},
                      Compact{92, 92, 42}, Compact{95, 95, 45}, Compact{97, 97, 47}, Compact{99, 99, 50}})
        set_range(t, 10, r);
    t[FOR_FMT_DT] = {11, FOR_FMT_DT};
    t[FOR_FMT_DT_RT] = {12, FOR_FMT_DT};
    return t;
}

constexpr Cat_Table cat = make_cat();

// Exactly 52, 117 and 118 are left invalid: every other code was placed.
constexpr bool only_three_invalid() {
    for (int c = 0; c < for_fmt_ncodes; ++c)
        if ((cat[c].category == 0) != (c == 52 || c == 117 || c == 118)) return false;
    return true;
}
static_assert(only_three_invalid());
static_assert(cat[63].op == FOR_FMT_P && cat[99].op == FOR_FMT_ES && cat[80].op == FOR_FMT_Z_NW);
static_assert(cat[107].op == FOR_FMT_DP && cat[70].op == FOR_FMT_COLON);

using Check_Table = std::array<For_Fmt_Check, for_fmt_ncodes>;

constexpr Check_Table make_check() {
    Check_Table t{};
    struct Row {
        int op, fields, alt;
    };
    for (Row r : {Row{3, 1, 0},     Row{10, 2, 0},   Row{11, 1, 0},  Row{12, 2, 0},  Row{13, 2, 0},  Row{14, 2, 0},
                  Row{19, 1, 29},   Row{20, 1, 30},  Row{21, 1, 31}, Row{22, 1, 33}, Row{23, 1, 34}, Row{24, 1, 37},
                  Row{25, 1, 38},   Row{26, 1, 40},  Row{27, 1, 42}, Row{28, 2, 0},  Row{29, 2, 0},  Row{30, 3, 0},
                  Row{31, 3, 32},   Row{32, 4, 0},   Row{33, 3, 0},  Row{34, 3, 35}, Row{35, 4, 0},  Row{37, 3, 0},
                  Row{38, 2, 0},    Row{40, 3, 0},   Row{42, 3, 0},  Row{43, 1, 45}, Row{45, 3, 0},  Row{46, 1, 47},
                  Row{47, 3, 48},   Row{48, 4, 0},   Row{49, 1, 50}, Row{50, 3, 51}, Row{51, 4, 0},  Row{120, 4, 0},
                  Row{121, 1, 122}, Row{122, 1, 122}})
        t[r.op] = {static_cast<uint8_t>(r.fields), static_cast<uint8_t>(r.alt)};
    return t;
}

constexpr Check_Table check = make_check();

}  // namespace

constinit const std::array<For_Fmt_Cat, for_fmt_ncodes> fmt_cat = cat;
constinit const std::array<For_Fmt_Check, for_fmt_ncodes> fmt_check = check;
