// The number recogniser of list-directed and namelist input: decides, one
// character at a time, whether the characters still belong to a numeric
// token, and at the end whether the token is a complete number.
#include <vorlix/cvt.h>

namespace {

// State word bits.
constexpr uint32_t kSign = 0x1;      // sign seen in the current part
constexpr uint32_t kWord = 0x2;      // spelling INF / INFINITY
constexpr uint32_t kNan = 0x4;       // spelling NAN
constexpr uint32_t kLeadZero = 0x8;  // a leading "0" seen
constexpr uint32_t kHex = 0x10;      // "0X" seen
constexpr uint32_t kDigit = 0x20;    // a digit seen in the current part
constexpr uint32_t kPoint = 0x40;
constexpr uint32_t kExp = 0x80;
constexpr int kPosShift = 8;  // bits 8-11: position in a spelled word
constexpr uint32_t kPosMask = 0xFu << kPosShift;
constexpr int kPointShift = 12;  // bits 12-19: the decimal-point character

constexpr char kInfinity[] = "INFINITY";

uint32_t pos_of(uint32_t s) { return (s & kPosMask) >> kPosShift; }
uint32_t with_pos(uint32_t s, uint32_t p) { return (s & ~kPosMask) | (p << kPosShift); }

char upper(int c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : static_cast<char>(c); }

bool is_payload_char(int c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Nothing but an optional sign so far.
bool at_start(uint32_t s) { return !(s & (kWord | kNan | kLeadZero | kHex | kDigit | kPoint | kExp)); }

int32_t accept(uint32_t *state, uint32_t s) {
    *state = s;
    return 1;
}

}  // namespace

int32_t cvt__lex_number_char(uint32_t *state, int32_t c) {
    uint32_t s = *state;
    const char u = upper(c);
    const int point = static_cast<int>((s >> kPointShift) & 0xFF);

    if (s & kWord) {
        const uint32_t p = pos_of(s);
        if (p < 8 && u == kInfinity[p]) return accept(state, with_pos(s, p + 1));
        return 0;
    }
    if (s & kNan) {
        const uint32_t p = pos_of(s);
        if (p == 1 && u == 'A') return accept(state, with_pos(s, 2));
        if (p == 2 && u == 'N') return accept(state, with_pos(s, 3));
        if (p == 3 && c == '(') return accept(state, with_pos(s, 4));
        if (p == 4 && c == ')') return accept(state, with_pos(s, 5));
        if (p == 4 && is_payload_char(c)) return accept(state, s);
        return 0;
    }
    if (c >= '0' && c <= '9') {
        // The first zero of the mantissa is told apart: only "0X" starts a
        // hexadecimal number.
        if (c == '0' && !(s & (kLeadZero | kExp))) return accept(state, s | kLeadZero);
        return accept(state, s | kDigit);
    }
    if (c == '+' || c == '-') {
        if (!(s & kExp)) {
            if (s & kHex) return 0;
            if (s & (kDigit | kLeadZero)) return accept(state, (s & ~(kSign | kDigit)) | kExp | kSign);
            if (s & kSign) return 0;
            return accept(state, s | kSign);
        }
        if (s & (kSign | kDigit)) return 0;
        return accept(state, s | kSign);
    }
    if (c == point && point != 0) {
        if (s & (kPoint | kExp)) return 0;
        return accept(state, s | kPoint);
    }
    if (u == 'X') {
        // Only "0X" or "+0X": a single leading zero, no point, no exponent.
        if ((s & kLeadZero) && !(s & (kDigit | kPoint | kExp | kHex))) return accept(state, s | kHex);
        return 0;
    }
    if (s & kHex) {
        if (!(s & kExp) && ((u >= 'A' && u <= 'F'))) return accept(state, s | kDigit);
        if (u == 'P' && !(s & kExp) && (s & kDigit)) return accept(state, (s & ~(kSign | kDigit)) | kExp);
        return 0;
    }
    if (u == 'D' || u == 'E' || u == 'Q') {
        if ((s & (kDigit | kLeadZero)) && !(s & kExp)) return accept(state, (s & ~(kSign | kDigit)) | kExp);
        return 0;
    }
    if (u == 'I' && at_start(s)) return accept(state, with_pos(s | kWord, 1));
    if (u == 'N' && at_start(s)) return accept(state, with_pos(s | kNan, 1));
    return 0;
}

int32_t cvt__lex_number_complete(uint32_t *state) {
    const uint32_t s = *state;
    if (s & kWord) return pos_of(s) == 3 || pos_of(s) == 8;
    if (s & kNan) return pos_of(s) == 3 || pos_of(s) == 5;
    if (s & kExp) {
        if (s & kDigit) return 1;
        // A bare exponent letter is complete; a letter and a sign is not,
        // and a hexadecimal number needs its exponent digits.
        return !(s & (kSign | kHex));
    }
    return (s & (kDigit | kLeadZero)) && !(s & kHex);
}
