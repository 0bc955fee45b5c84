/*
 * libvorlix: conversion of floating values between IEEE binary32/binary64
 * and the foreign formats that unformatted files may hold: VAX F, D, G and
 * H floating, IBM hexadecimal short and long, and Cray 64-bit.
 *
 * Each routine reads the value at `in`, converts it and stores the result
 * at `out` (never the same storage as `in`), and returns a status:
 *   CVT_FOREIGN_OK           done
 *   CVT_FOREIGN_BAD_OPTIONS  unknown option bits or two rounding bits
 *                            (nothing stored)
 *   CVT_FOREIGN_OVERFLOW     too large for the target: a limit value stored
 *   CVT_FOREIGN_UNDERFLOW    below the target's smallest normal value: zero
 *                            stored, or an IEEE subnormal; reported only
 *                            with CVT_OPT_REPORT_UNDERFLOW, else 0
 *   CVT_FOREIGN_INVALID      NaN, VAX reserved operand, unnormalised IBM or
 *                            invalid Cray input: the target's invalid value
 *   CVT_FOREIGN_POS_INF, CVT_FOREIGN_NEG_INF
 *                            an infinity given to a format without one: the
 *                            target's reserved or overflow value
 * IBM and Cray values are big-endian in memory; VAX values are in VAX word
 * order; IEEE values are native (little-endian) unless CVT_OPT_BIG_ENDIAN.
 * Each routine has a twin for Fortran callers, with a trailing underscore,
 * that takes the options by address, and an upper-case alias of the plain
 * name.
 */
#ifndef VORLIX_CVT_FOREIGN_H
#define VORLIX_CVT_FOREIGN_H

#include <stdint.h>

#include <vorlix/abi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Option bits; at most one rounding bit. Without one, conversions to IEEE,
 * IBM and Cray round to nearest and conversions to VAX use VAX rounding. */
#define CVT_OPT_REPORT_UNDERFLOW 0x1000u
#define CVT_OPT_ROUND_TO_ZERO 0x2000u
#define CVT_OPT_ROUND_UP 0x4000u
#define CVT_OPT_ROUND_DOWN 0x8000u
#define CVT_OPT_ROUND_NEAREST 0x100000u
#define CVT_OPT_ROUND_VAX 0x200000u
#define CVT_OPT_BIG_ENDIAN 0x400000u

#define CVT_FOREIGN_OK 0
#define CVT_FOREIGN_BAD_OPTIONS 4
#define CVT_FOREIGN_OVERFLOW 8
#define CVT_FOREIGN_UNDERFLOW 9
#define CVT_FOREIGN_INVALID 13
#define CVT_FOREIGN_POS_INF 15
#define CVT_FOREIGN_NEG_INF 16

VORLIX_API int32_t cvt_vax_f_to_ieee_single(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_vax_f_to_ieee_single_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_VAX_F_TO_IEEE_SINGLE(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_vax_d_to_ieee_double(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_vax_d_to_ieee_double_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_VAX_D_TO_IEEE_DOUBLE(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_vax_g_to_ieee_double(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_vax_g_to_ieee_double_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_VAX_G_TO_IEEE_DOUBLE(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_vax_h_to_ieee_double(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_vax_h_to_ieee_double_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_VAX_H_TO_IEEE_DOUBLE(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_cray_to_ieee_single(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_cray_to_ieee_single_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_CRAY_TO_IEEE_SINGLE(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_cray_to_ieee_double(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_cray_to_ieee_double_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_CRAY_TO_IEEE_DOUBLE(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ibm_short_to_ieee_single(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ibm_short_to_ieee_single_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IBM_SHORT_TO_IEEE_SINGLE(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ibm_long_to_ieee_double(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ibm_long_to_ieee_double_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IBM_LONG_TO_IEEE_DOUBLE(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_single_to_vax_f(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_single_to_vax_f_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IEEE_SINGLE_TO_VAX_F(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_vax_d(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_vax_d_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IEEE_DOUBLE_TO_VAX_D(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_vax_g(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_vax_g_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IEEE_DOUBLE_TO_VAX_G(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_vax_h(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_vax_h_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IEEE_DOUBLE_TO_VAX_H(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_single_to_cray(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_single_to_cray_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IEEE_SINGLE_TO_CRAY(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_cray(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_cray_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IEEE_DOUBLE_TO_CRAY(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_single_to_ibm_short(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_single_to_ibm_short_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IEEE_SINGLE_TO_IBM_SHORT(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_ibm_long(const void *in, uint32_t options, void *out);
VORLIX_API int32_t cvt_ieee_double_to_ibm_long_(const void *in, const uint32_t *options, void *out);
VORLIX_API int32_t CVT_IEEE_DOUBLE_TO_IBM_LONG(const void *in, uint32_t options, void *out);

#ifdef __cplusplus
}
#endif

#endif
