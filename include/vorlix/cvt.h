/*
 * libvorlix: conversion between IEEE binary floating values and decimal
 * text, for binary32 (s), binary64 (t) and binary128 (x).
 *
 * Two layers.  The digit engine (cvtas_...) produces a correctly rounded
 * digit string and decimal exponent from a value, and the correctly rounded
 * value from text, in any of five rounding modes.  The field layer
 * (cvt_...) lays the digits out as a Fortran output field or feeds an input
 * field to the engine.  Every entry is reentrant and leaves the caller's
 * floating-point environment (flags, traps, rounding mode) untouched: the
 * conversions are done in integer arithmetic only.
 *
 * Rounding-mode bits, shared by all flag words: bit 31 says a mode is
 * present; bits 22-24 hold it: 0 nearest/ties-to-even, 0x00400000 toward
 * zero, 0x00800000 down, 0x01000000 up, 0x01800000 nearest/ties-away.
 *
 * Character values are (address, length) pairs, never NUL-terminated.
 */
#ifndef VORLIX_CVT_H
#define VORLIX_CVT_H

#include <stdint.h>

#include <vorlix/abi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Rounding-mode bits of the flag words. */
#define CVT_ROUND_PRESENT 0x80000000u
#define CVT_ROUND_RN 0x00000000u
#define CVT_ROUND_RZ 0x00400000u
#define CVT_ROUND_RD 0x00800000u
#define CVT_ROUND_RU 0x01000000u
#define CVT_ROUND_RC 0x01800000u

/* Digit generator flags: what `digits` counts. */
#define CVT_DIGITS_SIGNIFICANT 0x1u
#define CVT_DIGITS_AFTER_POINT 0x2u

/* Statuses of the engine. */
#define CVT_STATUS_FINITE 0
#define CVT_STATUS_BAD_BUFFER 2
#define CVT_STATUS_BAD_FLAGS 4
#define CVT_STATUS_NO_MEMORY 41
#define CVT_STATUS_NAN 10
#define CVT_STATUS_ZERO 11
#define CVT_STATUS_INFINITY 12

/*
 * Value to digits.  Writes into buffer[0..size) the digits of the value
 * rounded to `digits` significant digits (flags & 1) or to `digits` digits
 * after the decimal point (flags & 2), in the flags' rounding mode (no mode:
 * ties to even).  Reports: *first, the offset of the first digit; *count,
 * the number of digits; *exponent, p with value = 0.d1d2... x 10^p; *cls,
 * +-1 zero, +-2 subnormal, +-3 normal, +-4 infinity, 0 NaN (+-5 quiet,
 * +-6 signalling NaN when flags has 0x2000), negative for a set sign bit;
 * *status, one of the statuses above, which is also the result.
 * After-point requests that round to zero report count 0 and exponent
 * -digits.  Special values write their spelling (flags 0x2000 clear:
 * "NaN", "Infinity"; set: upper case with 0x1000, lower case without) and
 * report its length as count and exponent.  The buffer needs room for
 * count + 1 characters (the extra one takes a carry); otherwise the status
 * is 2 and nothing meaningful is written.
 */
VORLIX_API int32_t cvtas_s_to_a(int32_t size, int32_t digits, uint32_t flags, char *buffer, int32_t *first,
                                int32_t *count, int32_t *exponent, int32_t *cls, int32_t *status, float value);
VORLIX_API int32_t cvtas_t_to_a(int32_t size, int32_t digits, uint32_t flags, char *buffer, int32_t *first,
                                int32_t *count, int32_t *exponent, int32_t *cls, int32_t *status, double value);
VORLIX_API int32_t cvtas_x_to_a(int32_t size, int32_t digits, uint32_t flags, char *buffer, int32_t *first,
                                int32_t *count, int32_t *exponent, int32_t *cls, int32_t *status, __float128 value);

/*
 * Text to value.  Input flag word: 2 blanks are ignored (BN), 64 blanks
 * are zeros (BZ; BN wins when both are set), bit 27 decimal comma, the
 * rounding bits (no bit 31 and no mode: ties away from zero).  d is the
 * implied number of fraction digits when the text has no point; k the scale
 * factor, applied only when the text has no exponent.  *status: 0 finite
 * nonzero, 10 NaN, 11 zero, 12 infinity.  *error: 0, or 1 when the text is
 * not a number (the value is then +0), or 41 when memory for an exact
 * decision was not available.
 */
VORLIX_API float cvtas_a_to_s(const char *text, int64_t length, uint32_t flags, int32_t d, int32_t k, int32_t *status,
                              int32_t *error);
VORLIX_API double cvtas_a_to_t(const char *text, int64_t length, uint32_t flags, int32_t d, int32_t k, int32_t *status,
                               int32_t *error);
VORLIX_API __float128 cvtas_a_to_x(const char *text, int64_t length, uint32_t flags, int32_t d, int32_t k,
                                   int32_t *status, int32_t *error);

/*
 * NaN from the text that follows the letters NAN: empty, or "(payload)".
 * A payload that is an unsigned integer (decimal, 0x hexadecimal or 0
 * octal) goes into the significand below the quiet bit, which is always
 * set; letters, digits and "_" are accepted but give no payload; any other
 * text gives the default NaN (sign bit, all exponent bits and the quiet bit).
 */
VORLIX_API float cvtas__nan_s(const char *text, int32_t length);
VORLIX_API double cvtas__nan_t(const char *text, int32_t length);
VORLIX_API __float128 cvtas__nan_x(const char *text, int32_t length);

/*
 * Incremental number recogniser for list-directed and namelist input.
 * Start with a state holding the decimal-point character in bits 12-19.
 */
VORLIX_API int32_t cvt__lex_number_char(uint32_t *state, int32_t c);
VORLIX_API int32_t cvt__lex_number_complete(uint32_t *state);

/*
 * Output field layer: the value laid out in a field of width w, under the
 * kind word of output editing (1 E, 2 F, 4 letter D, 16 SP, 0x40 e given,
 * 0x100 zero width, 0x200 EN, 0x400 ES, 0x1C40 EX, none of these: G;
 * rounding bits).  Result: 0, 2 (asterisks), 6 (bad width), 10 (NaN
 * written), 12 (infinity written).  *length receives w, or the number of
 * characters written under zero-width editing.
 */
VORLIX_API int32_t cvt_ieee_s_to_text_ex(const float *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e,
                                         uint32_t kind, char *field, uint64_t options, uint32_t *length);
VORLIX_API int32_t cvt_ieee_t_to_text_ex(const double *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e,
                                         uint32_t kind, char *field, uint64_t options, uint32_t *length);
VORLIX_API int32_t cvt_ieee_x_to_text_ex(const __float128 *value, int32_t w, int32_t k, int32_t d, int32_t fw,
                                         int32_t e, uint32_t kind, char *field, uint64_t options, uint32_t *length);
VORLIX_API int32_t cvt_ieee_s_to_text(const float *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e,
                                      uint32_t kind, char *field);
VORLIX_API int32_t cvt_ieee_t_to_text(const double *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e,
                                      uint32_t kind, char *field);
VORLIX_API int32_t cvt_ieee_x_to_text(const __float128 *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e,
                                      uint32_t kind, char *field);

/*
 * Input field layer.  Length 0 stores +0.  Returns 1 when the text is not
 * a number (input editing reports message 64), else 0.  flags: the input
 * flag word above (BN 2, BZ 64, rounding bits); bit 34 of options selects
 * the decimal comma.
 */
VORLIX_API int32_t cvt_text_to_ieee_s_ex(const char *text, int64_t length, int32_t k, int32_t d, uint32_t flags,
                                         float *result, uint64_t options);
VORLIX_API int32_t cvt_text_to_ieee_t_ex(const char *text, int64_t length, int32_t k, int32_t d, uint32_t flags,
                                         double *result, uint64_t options);
VORLIX_API int32_t cvt_text_to_ieee_x_ex(const char *text, int64_t length, int32_t k, int32_t d, uint32_t flags,
                                         __float128 *result, uint64_t options);

/*
 * Integer, bit-pattern and logical input fields.
 *
 * Flag word of the integer, unsigned and bit-pattern converters: tabs are
 * skipped like blanks (otherwise a tab is not allowed); blanks inside the
 * field are skipped (BN) or read as zeros (BZ; BN wins when both are set;
 * with neither a blank is not allowed); underscores are skipped.  0x2000 is
 * accepted and has no effect.  Formatted input passes BN or BZ.
 *
 * Results: 0 done (an empty or all-blank field gives 0 or false), 1 not a
 * logical value, 3 a character that is not allowed, 4 bad flags, 5 bad
 * radix, 6 negative width, 8 out of range (the value is then 0).
 */
#define CVT_IN_TABS 0x1u
#define CVT_IN_BN 0x2u
#define CVT_IN_UNDERSCORE 0x10u
#define CVT_IN_BZ 0x40u
#define CVT_IN_NOEFFECT 0x2000u

#define CVT_IN_OK 0
#define CVT_IN_NOT_LOGICAL 1
#define CVT_IN_BAD_CHAR 3
#define CVT_IN_BAD_FLAGS 4
#define CVT_IN_BAD_RADIX 5
#define CVT_IN_BAD_WIDTH 6
#define CVT_IN_RANGE 8

/* Signed decimal: leading blanks, an optional sign, then digits. */
VORLIX_API int32_t cvt_text_to_integer64(const char *text, int32_t length, uint32_t flags, int64_t *value);
VORLIX_API int32_t cvt_text_to_integer(const char *text, int32_t length, uint32_t flags, int32_t *value);

/* Unsigned digits of radix 2 to 16 (letters A-F in either case); no sign. */
VORLIX_API int32_t cvt_text_to_unsigned64(const char *text, int32_t length, int32_t radix, uint32_t flags,
                                          uint64_t *value);
VORLIX_API int32_t cvt_text_to_unsigned(const char *text, int32_t length, int32_t radix, uint32_t flags,
                                        uint32_t *value);

/*
 * A bit pattern of radix 2, 8 or 16 into exactly `size` bytes at
 * `destination`, least significant byte first.  The destination is zeroed
 * first; nonzero bits beyond it give 8 and leave the bits that fit.  Flags
 * above 83 (tabs, BN, underscores, BZ) are refused.  The two names are one
 * operation.
 */
VORLIX_API int32_t cvt_text_to_data(const char *text, int32_t w, int32_t size, int32_t radix, uint32_t flags,
                                    void *destination);
VORLIX_API int32_t cvt_text_to_data64(const char *text, int32_t w, int32_t size, int32_t radix, uint32_t flags,
                                      void *destination);

/*
 * A logical field.  Style CVT_BOOLEAN_FORTRAN: after leading blanks, T or
 * .T is true (-1, all bits set), F or .F false (0), either case, anything
 * after the deciding letter ignored; an all-blank field is false.  Style 0
 * (digits): "0" stores 1 and "1" stores 0; an all-blank field is result 1.
 */
#define CVT_BOOLEAN_FORTRAN 0x04000000
VORLIX_API int32_t cvt_text_to_boolean(const char *text, int32_t w, int32_t style, int32_t *value);
VORLIX_API int32_t cvt_text_to_boolean64(const char *text, int32_t w, int32_t style, int64_t *value);

/*
 * The descriptor of a real input field had an exponent width (Ew.dEe and
 * the like).  Its own bit, apart from BZ: a field read under BN must not
 * have its trailing blanks turned into exponent digits.  Input accepts an
 * exponent of any width, so the bit changes nothing in the value.
 */
#define CVT_IN_EXP_WIDTH 0x00010000u

/*
 * INUM, JNUM, KNUM, RNUM, DNUM, QNUM: the number a character value spells
 * (trailing blanks ignored).  Text that is not an integer issues the
 * severe diagnostic 545 ("invalid INTEGER"); text that is not a real
 * issues 547 ("invalid REAL").
 */
VORLIX_API int16_t for_inum(const char *text, int64_t length);
VORLIX_API int32_t for_jnum(const char *text, int64_t length);
VORLIX_API int64_t for_knum(const char *text, int64_t length);
VORLIX_API float for_rnum(const char *text, int64_t length);
VORLIX_API double for_dnum(const char *text, int64_t length);
VORLIX_API __float128 for_qnum(const char *text, int64_t length);

/*
 * Integer, bit-pattern and logical output fields.  Each fills exactly w
 * characters of the field, right-aligned, and never writes outside it.
 * Results: 0 done, 2 the field is asterisks (the value does not fit),
 * 4 bad flags or style, 5 bad radix, 6 bad width, minimum or size.
 */

/* Flags of the signed integer converters. */
#define CVT_INT_PLUS 16u /* "+" before a positive value (SP) */

/*
 * Iw.m: at least m digits (zero-filled, as far as the field allows), a
 * sign before them when negative or under CVT_INT_PLUS; a zero value with
 * m = 0 is an all-blank field.  w = 0 writes nothing.
 */
VORLIX_API int32_t cvt_integer_to_text(int32_t value, int32_t w, int32_t m, uint32_t flags, char *field);
VORLIX_API int32_t cvt_integer64_to_text(int64_t value, int32_t w, int32_t m, uint32_t flags, char *field);

/* The same layout without a sign, in any radix 2..16 (digits 0-9, A-F). */
VORLIX_API int32_t cvt_unsigned_to_text(uint32_t value, int32_t w, int32_t radix, int32_t m, char *field);
VORLIX_API int32_t cvt_unsigned64_to_text(uint64_t value, int32_t w, int32_t radix, int32_t m, char *field);

/*
 * Bw.m, Ow.m, Zw.m of `size` bytes taken as one unsigned number, the byte
 * at the lowest address least significant.  Radix 2, 8 or 16; another radix
 * in 2..16 gives an asterisk field and 2, one outside it 5; size < 1 gives 6.
 * The 64-bit form has the same contract (compiled code calls it for
 * 8-byte items).
 */
VORLIX_API int32_t cvt_data_to_text(const void *data, int32_t w, int32_t size, int32_t radix, int32_t m, char *field);
VORLIX_API int32_t cvt_data64_to_text(const void *data, int32_t w, int32_t size, int32_t radix, int32_t m, char *field);

/*
 * Logical fields.  Styles: CVT_BOOL_LETTER writes w - 1 blanks and "T" or
 * "F"; CVT_BOOL_WORD writes "TRUE" or "FALSE" right-aligned (cut on the
 * right when w is shorter); 0 writes one digit, "0" for true and "1" for
 * false; any other non-negative style writes nothing; a negative style
 * gives 4.  A value is true when its lowest bit is 1; with
 * CVT_BOOL_NONZERO_TRUE in the options (32-bit forms only) any nonzero
 * value is true.  The short form passes options 4.
 */
#define CVT_BOOL_WORD (1 << 25)
#define CVT_BOOL_LETTER (1 << 26)
#define CVT_BOOL_NONZERO_TRUE (UINT64_C(1) << 32)
VORLIX_API int32_t cvt_boolean_to_text_ex(int32_t value, int32_t w, int32_t style, char *field, uint64_t options);
VORLIX_API int32_t cvt_boolean_to_text(int32_t value, int32_t w, int32_t style, char *field);
VORLIX_API int32_t cvt_boolean64_to_text(int64_t value, int32_t w, int32_t style, char *field);

#ifdef __cplusplus
}
#endif

#endif
