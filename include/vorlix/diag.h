/*
 * libvorlix: run-time diagnostics and the error routines that programs call.
 *
 * Every run-time condition has a message number. A failing statement
 * without IOSTAT=, ERR=, END= or EOR= prints one diagnostic line,
 *     forrtl: severe (29): file not found, unit 12, file data.txt
 * to standard error (and to the file named by FOR_DIAGNOSTIC_LOG_FILE),
 * followed by a stack trace for error and severe conditions.
 *
 * Process exit status of a severe diagnostic: the message number, of which
 * the parent sees the low 8 bits (29 gives 29, 408 gives 152). A number
 * whose low 8 bits are all zero (256, 512, ...) would read as success, so
 * such a diagnostic ends the process with status 255 instead; no severe
 * message below 256 uses 255, so the status still says "failed".
 *
 * Texts come from the message catalog vorlix_msg.cat when one is found:
 * first by the C library's catalog search (NLSPATH and LANG), then with the
 * codeset cut from LANG (de_DE.UTF-8 -> de_DE) in the same NLSPATH
 * templates, then beside the library itself. A catalog text is used only
 * when it asks printf for the same arguments as the built-in text.
 */
#ifndef VORLIX_DIAG_H
#define VORLIX_DIAG_H

#include <stdint.h>

#include <vorlix/abi.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * A user error handler sees every diagnostic before it is printed: the
 * message number, whether the condition may be continued (1) or not (0),
 * the complete text (header, message, newline), the context it was
 * installed with and the length of the text. Returning non-zero means the
 * handler has dealt with the condition: nothing is printed and the program
 * continues, whatever the severity.
 */
typedef int (*For_User_Error_Handler)(int *number, int *continuable, const char *text, void *context, int64_t length);

/*
 * A machine context a trace can start from: what a SA_SIGINFO signal
 * handler receives (siginfo_t * and ucontext_t *).
 */
typedef struct For_Signal_Pair {
    const void *info;
    const void *context;
} For_Signal_Pair;

/*
 * Issues a caller-formatted text. Bits 26 and up of `code`, read as a
 * signed number, pick the severity: 0 none, 1 info, 2 warning, 3 error,
 * 4 severe (ends the process with status 152); 5 to 8 as 0 to 3 with a
 * stack trace always. Any other value prints nothing.
 */
VORLIX_API void for_emit_diagnostic(int code, const char *format, ...);

/*
 * Installs `handler` (null uninstalls) with `context`. When given, *old_handler
 * receives the previous handler and *old_context the first 64-bit word at
 * the previous context (0 when there was none). Returns 1.
 */
VORLIX_API int for__establish_user_error_handler(For_User_Error_Handler handler, void *context,
                                                 For_User_Error_Handler *old_handler, int64_t *old_context);
VORLIX_API int for__intermediate_establish(For_User_Error_Handler handler, void *context,
                                           For_User_Error_Handler *old_handler, int64_t *old_context);

/*
 * ERRSNS: the last I/O failure of the calling thread (message number,
 * errno, status, unit, condition), each through a non-null address; the
 * record is cleared afterwards, so a second call returns zeros.
 */
VORLIX_API void for_errsns(int32_t *number, int32_t *sys_errno, int32_t *status, int32_t *unit, int32_t *condition);
VORLIX_API void for_errsns_w(int16_t *number, int16_t *sys_errno, int16_t *status, int16_t *unit, int16_t *condition);
VORLIX_API void for_errsns_load(int32_t number, int32_t sys_errno, int32_t status, int32_t unit, int32_t condition);

/* GERROR: the text of the last error into a character variable, blank-padded. */
VORLIX_API void for_gerror_(char *string, int64_t length);

/* PERROR: "prefix: text of the last error" as one record on unit 0. */
VORLIX_API void for_perror_(const char *prefix, int64_t length);

/* The text of any message, formatted with the arguments that follow, into
 * a character variable: blank-padded, or cut to its length. */
VORLIX_API void for_errmsg(int number, char *string, int64_t length, ...);

/*
 * TRACEBACKQQ: writes `string` (when given) and a stack trace, from the
 * machine context that `context` points to (a For_Signal_Pair) when given,
 * else from the caller. Then the process ends with *exit_code (0 when
 * exit_code is null), unless *exit_code is -1: the call then returns 0 and
 * stores 0 through `status` (when given).
 */
VORLIX_API int tracebackqq_(const char *string, int *exit_code, int *status, const For_Signal_Pair *context,
                            int64_t length);
VORLIX_API int TRACEBACKQQ(const char *string, int *exit_code, int *status, const For_Signal_Pair *context,
                           int64_t length);

/* "...Traceback continuing on host side:" and a stack trace, on standard error. */
VORLIX_API void for__continue_traceback(void);
VORLIX_API void for__continue_traceback_(void);

/* Run-time checks of compiled code: a variable used before it was defined
 * (messages 193 and 194, severe). */
VORLIX_API void for__rtc_uninit_use(const char *variable);
VORLIX_API void for__rtc_uninit_use_src(const char *variable, const char *procedure);

#ifdef __cplusplus
}
#endif

#endif
