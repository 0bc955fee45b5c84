/*
 * libvorlix: the ending of a program (STOP, ERROR STOP, CALL EXIT, ABORT),
 * PAUSE, and the floating-point exception settings.
 *
 * Exit status. STOP with an integer code ends the process with that code;
 * STOP without a code or with a character code ends with 0; ERROR STOP
 * without a code ends with 128, ABORT with 134. The system keeps only the
 * low 8 bits of an exit status, so STOP 300 is seen by the parent as 44 and
 * STOP 256 as 0.
 *
 * None of the STOP and ERROR STOP entries returns when it ends the process.
 * When the stop text cannot be printed, a STOP entry returns the message
 * number to the program (or issues it); an ERROR STOP entry always ends the
 * process, with its own status.
 */
#ifndef VORLIX_STOP_H
#define VORLIX_STOP_H

#include <stdint.h>

#include <vorlix/abi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statement flag bits that STOP reads (the flag word of every statement). */
#define VORLIX_STOP_COMPAT 0x08000000ull        /* text to unit 6, messages 521 and 522 */
#define VORLIX_STOP_ERR 0x00000001ull           /* return a failure to print */
#define VORLIX_STOP_HIGH_VALID 0x80000000ull    /* the high word is meaningful */
#define VORLIX_STOP_IEEE_REPORT (0x40ull << 32) /* report signalling IEEE flags */
#define VORLIX_STOP_IOSTAT (0x8000ull << 32)

/* The core of every STOP: see the header comment. `text`/`length` is the
   stop code as text; with `integer_code` non-zero the text holds the digits
   of `code` (of `kind` 4 or 8 bytes), which becomes the exit status. */
VORLIX_API int for_stop_core_impl(int error_stop, const char *text, int length, int quiet, uint64_t flags, int64_t code,
                                  int kind, int integer_code);

VORLIX_API int for_stop(const char *text, int length);
VORLIX_API int for_stop_core(const char *text, int length, uint64_t flags, int32_t code, int integer_code);
VORLIX_API int for_stop_core8(const char *text, int length, uint64_t flags, int64_t code, int integer_code);
VORLIX_API int for_stop_core_quiet(const char *text, int length, int quiet, uint64_t flags, int32_t code,
                                   int integer_code);
VORLIX_API int for_stop_core_quiet_int8(const char *text, int length, int quiet, uint64_t flags, int64_t code,
                                        int integer_code);
VORLIX_API int for_stop_core_int(const int32_t *code, int ignored, int quiet, uint64_t flags);
VORLIX_API int for_stop_core_int8(const int64_t *code, int ignored, int quiet, uint64_t flags);

VORLIX_API int for_error_stop(const char *text, int length, uint64_t flags, int32_t code, int code_given);
VORLIX_API int for_error_stop8(const char *text, int length, uint64_t flags, int64_t code, int code_given);
VORLIX_API int for_error_stop_quiet(const char *text, int length, int quiet, uint64_t flags, int32_t code,
                                    int code_given);
VORLIX_API int for_error_stop_quiet_int8(const char *text, int length, int quiet, uint64_t flags, int64_t code,
                                         int code_given);
VORLIX_API int for_error_stop_int(const int32_t *code, int ignored, int quiet, uint64_t flags, int32_t value,
                                  int value_given);
VORLIX_API int for_error_stop_int8(const int64_t *code, int ignored, int quiet, uint64_t flags, int64_t value,
                                   int value_given);

/* ABORT: prints the text on unit 0 and ends with status 134. */
VORLIX_API int for_abort(const char *text, int length);
/* CALL EXIT: runs the exit handler, then ends with *status (0 when null). */
VORLIX_API void for_exit(const int32_t *status);
/* PAUSE: prompts on standard output and waits for an answer, or for a
   signal when the program runs in the background. */
VORLIX_API void for_pause(const char *text, int length);

/* Floating-point exception settings word: trap bits 0x1 underflow, 0x2
   overflow, 0x4 divide-by-zero, 0x8 invalid, 0x10 inexact; count-and-report
   bits 0x100 overflow, 0x200 underflow, 0x400 divide-by-zero, 0x800
   invalid, 0x1000 inexact; 0x10000 abrupt underflow. The entries return
   the settings found on entry. */
VORLIX_API int for_fpe_service(int set, int clear, const int *word);
VORLIX_API int for_get_fpe_(void);
VORLIX_API int for_set_fpe_(const int *word);
VORLIX_API void for_enable_underflow(void);
/* The first *n trap counts: underflow, overflow, divide-by-zero, invalid,
   inexact (at most 5). */
VORLIX_API void for_get_fpe_counts_(const int *n, int *counts);

#ifdef __cplusplus
}
#endif

#endif
