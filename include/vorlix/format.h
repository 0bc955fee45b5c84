/*
 * libvorlix: the compiled format, a binary interface between generated code
 * and the library. A compiler emits constant formats in this form; the
 * library compiles character formats given at run time into the same form.
 *
 * A compiled format is a stream of records, each on a 4-byte boundary and
 * beginning with a 32-bit little-endian header word:
 *   bits 0-7    opcode (For_Fmt_Op)
 *   bit 8..11   field 1..4 comes from a variable format expression
 *   bit 12      long form: fields 1 and 2 are 64-bit
 *   bits 16-23  field 4: e, exponent digits
 *   bits 24-31  field 3: d, or m of Iw.m, Bw.m, Ow.m, Zw.m
 * Short form (12 bytes): header, u32 field 1 at 4, u32 field 2 at 8 (a
 * negative field 2, such as a negative scale factor, needs the long form).
 * Long form (24 bytes): header, 4 bytes padding, 64-bit field 1 at 8,
 * 64-bit field 2 at 16.
 * With any of bits 8-11 set, four For_Vfe_Slot follow the fixed part.
 * A literal (opcode 28) is u16 opcode, u16 length, then the characters,
 * padded to a multiple of 4.
 */
#ifndef VORLIX_FORMAT_H
#define VORLIX_FORMAT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The opcodes a record stands for. */
enum For_Fmt_Op {
    FOR_FMT_FORMAT_BEGIN = 1, /* ( of the whole format */
    FOR_FMT_FORMAT_END = 2,   /* ) of the whole format */
    FOR_FMT_GROUP_BEGIN = 3,  /* r( ; f1 = r, INT64_MAX for an unlimited group */
    FOR_FMT_GROUP_END = 4,
    FOR_FMT_BN = 5,
    FOR_FMT_BZ = 6,
    FOR_FMT_SP = 7,
    FOR_FMT_SS = 8,
    FOR_FMT_S = 9,
    FOR_FMT_P = 10, /* kP; f2 = k */
    FOR_FMT_X = 11, /* nX; f1 = n */
    FOR_FMT_T = 12,
    FOR_FMT_TL = 13,
    FOR_FMT_TR = 14, /* f2 = n */
    FOR_FMT_Q = 15,
    FOR_FMT_DOLLAR = 16, /* $ or backslash */
    FOR_FMT_COLON = 17,
    FOR_FMT_SLASH = 18, /* r/ ; f1 = r, 0 when none written */
    /* Without a width: f1 = r. */
    FOR_FMT_A_NW = 19,
    FOR_FMT_D_NW = 20,
    FOR_FMT_E_NW = 21,
    FOR_FMT_F_NW = 22,
    FOR_FMT_G_NW = 23,
    FOR_FMT_I_NW = 24,
    FOR_FMT_L_NW = 25,
    FOR_FMT_O_NW = 26,
    FOR_FMT_Z_NW = 27,
    FOR_FMT_LITERAL = 28,
    FOR_FMT_A = 29,  /* rAw */
    FOR_FMT_D = 30,  /* rDw.d */
    FOR_FMT_E = 31,  /* rEw.d */
    FOR_FMT_EE = 32, /* rEw.dEe */
    FOR_FMT_F = 33,  /* rFw.d */
    FOR_FMT_G = 34,  /* rGw.d */
    FOR_FMT_GE = 35, /* rGw.dEe, G0, G0.d */
    FOR_FMT_I = 36,  /* rIw (compiled code only) */
    FOR_FMT_IM = 37, /* rIw.m */
    FOR_FMT_L = 38,  /* rLw */
    FOR_FMT_O = 39,  /* rOw (compiled code only) */
    FOR_FMT_OM = 40, /* rOw.m */
    FOR_FMT_Z = 41,  /* rZw (compiled code only) */
    FOR_FMT_ZM = 42, /* rZw.m */
    FOR_FMT_B_NW = 43,
    FOR_FMT_B = 44,  /* rBw (compiled code only) */
    FOR_FMT_BM = 45, /* rBw.m */
    FOR_FMT_EN_NW = 46,
    FOR_FMT_EN = 47,
    FOR_FMT_ENE = 48,
    FOR_FMT_ES_NW = 49,
    FOR_FMT_ES = 50,
    FOR_FMT_ESE = 51,
    FOR_FMT_RU = 108,
    FOR_FMT_RD = 109,
    FOR_FMT_RZ = 110,
    FOR_FMT_RN = 111,
    FOR_FMT_RC = 112,
    FOR_FMT_RP = 113,
    FOR_FMT_DC = 114,
    FOR_FMT_DP = 115,
    FOR_FMT_DT = 116,    /* rDT['type'][(v-list)], compiled-code layout */
    FOR_FMT_DT_RT = 119, /* the same, as the run-time compiler lays it out */
    FOR_FMT_EX = 120,    /* rEXw.d[Ee] */
    FOR_FMT_AT_NW = 121,
    FOR_FMT_AT = 122 /* rAT */
};

/* Header bits. */
#define FOR_FMT_VFE_F1 0x100u
#define FOR_FMT_VFE_F2 0x200u
#define FOR_FMT_VFE_F3 0x400u
#define FOR_FMT_VFE_F4 0x800u
#define FOR_FMT_VFE_ANY 0xf00u
#define FOR_FMT_LONG 0x1000u

/* A variable format expression reference: which entry of the statement's
 * table (context word 2) gives the value, and how. */
typedef struct For_Vfe_Slot {
    uint16_t index;
    uint8_t kind; /* 3: the entry is the address of an integer;
                       10: the entry is 0 and the next one is a function
                           called with (table, slot) */
    uint8_t type; /* 9: 32-bit signed, 11: 64-bit */
} For_Vfe_Slot;

/* The functions of kind-10 slots: called with the statement's table and
 * the slot, they return the value in the slot's integer type. */
typedef int32_t (*For_Vfe_Fn32)(const void *table, const For_Vfe_Slot *slot);
typedef int64_t (*For_Vfe_Fn64)(const void *table, const For_Vfe_Slot *slot);

#ifdef __cplusplus
}
#endif

#endif
