/*
 * libvorlix: entries of the input/output statements.
 *
 * Every entry returns a 32-bit status: 0 means "continue"; anything else
 * ends the statement and is what the program asked for (an IOSTAT= value,
 * or -1 / -2 / a message number selecting its END=, EOR= or ERR= branch).
 * Without IOSTAT=, ERR=, END= or EOR= a failure does not return: it becomes
 * a run-time diagnostic.
 */
#ifndef VORLIX_IO_H
#define VORLIX_IO_H

#include <vorlix/abi.h>

#include <stddef.h>

/* OPEN (u, ...): the keywords as a control list of keyword items (type,
 * form, keyword code, 0) ending with the end marker. Keyword values are
 * passed either encoded (an integer item holding the table value) or as
 * character items looked up at run time. NEWUNIT= passes the variable
 * itself (an integer item by address). */
VORLIX_API int for_open(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                        const For_Value_List *values);

/* CLOSE (u, STATUS= or DISPOSE= (code 12), IOMSG= (code 78)). */
VORLIX_API int for_close(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                         const For_Value_List *values);

/*
 * INQUIRE (u, ...) and INQUIRE (FILE=name, ...): the specifiers as keyword
 * items (type, form, keyword code, 0) closed by the end marker. Inputs:
 * FILE= (13), DEFAULTFILE= (10), the directory to ask about (73), ID= (77),
 * as character items or the address of a NUL-terminated string. Answers:
 * character variables (56/4) for the text answers; integer or logical
 * variables of kind 1, 2, 4 or 8 by address (form 3) for the others, each
 * stored in its own width. Codes: ACCESS 2, BLANK 6, CARRIAGECONTROL 8,
 * FORM 15, ORGANIZATION 18, RECL 21 (stream: the largest value) and 87
 * (stream -2, not connected -1), RECORDTYPE 23, EXIST 27, NAMED 29,
 * NEXTREC 31, NUMBER 33, OPENED 35, DIRECT 37, FORMATTED 39, KEYED 41,
 * NAME 43, SEQUENTIAL 45, UNFORMATTED 47, BLOCKSIZE 50, CONVERT 52,
 * ACTION 58, DELIM 59, PAD 60, POSITION 61, READ 62, READWRITE 63, WRITE 64,
 * MODE 67, SHARE 68, BINARY 70, BUFFERED 71, the full name 74,
 * ASYNCHRONOUS 75, PENDING 76, IOMSG 78, POS 79, STREAM 80, ROUND 81,
 * DECIMAL 82, SIGN 83, ENCODING 84, SIZE 85.
 * An answer wider than its variable is never cut: SIZE= becomes -1 (size
 * unknown), the stream RECL of code 21 the variable's largest value, and
 * any other makes the statement fail with 550 (INTEGER assignment
 * overflow) leaving every variable as it was. Nothing is stored either
 * when the statement fails for another reason.
 */
VORLIX_API int for_inquire(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                           const For_Value_List *values);

/*
 * INQUIRE (IOLENGTH=n) list: the first item of the list is n (an integer
 * variable of kind 1, 2, 4 or 8 by address), the rest the output list, in
 * groups as for a WRITE (for_iolength_xmit for the later groups). n
 * receives the length of the record an unformatted WRITE of the list
 * would make, in the units RECL= of an unformatted OPEN counts: 4-byte
 * units, rounded up. A length n cannot hold fails the statement with 550.
 */
VORLIX_API int for_iolength(For_Context *ctx, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_iolength_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);

/* DEFINE FILE u (maxrec, recl, U, assoc_var): recl counts 2-byte units. */
VORLIX_API int for_define_file(For_Context *ctx, int unit, For_IO_Flags flags, int maxrec, int recl, void *assoc_var,
                               int assoc_kind);

/* Connects unit to an open descriptor. options: "KEY=VALUE,..." with
 * NEWLINE=YES|NO, BLANK=ZERO|NULL, STATUS=OLD|SCRATCH|UNKNOWN,
 * FORM=FORMATTED|UNFORMATTED. Returns 0 or an errno value. */
VORLIX_API int for_fdopen(int fd, int unit, const char *options, size_t length);

/* List-directed WRITE (u, *) and PRINT *: the items of the first group,
 * then one _xmit call per further group. */
VORLIX_API int for_write_seq_lis(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                 const For_Value_List *val, const For_Dsc_Lst *ctl_dsc, const For_Value_List *ctl_val);
VORLIX_API int for_write_seq_lis_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);

/* List-directed WRITE (internal-file, *): the first item is the internal
 * file (a character scalar: one record; a character array: one record per
 * element). */
VORLIX_API int for_write_int_lis(For_Context *ctx, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                 const For_Value_List *val, const For_Dsc_Lst *ctl_dsc, const For_Value_List *ctl_val);
VORLIX_API int for_write_int_lis_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
/* Unformatted sequential WRITE (u[, POS=]) and READ: one record per
 * statement, framed by the unit's record type; the argument order of the
 * external sequential entries (abi.h). */
VORLIX_API int for_write_seq(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                             const For_Value_List *val, const For_Dsc_Lst *cdsc, const For_Value_List *cval);
VORLIX_API int for_write_seq_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_read_seq(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                            const For_Value_List *val, const For_Dsc_Lst *cdsc, const For_Value_List *cval);
VORLIX_API int for_read_seq_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);

/*
 * File positioning: REWIND, BACKSPACE, ENDFILE, FLUSH (u, IOSTAT=, IOMSG=,
 * ERR=) and the EOF (u) function. Their control list is OPEN's form, so a
 * compiler emits every statement with keywords one way: keyword items
 * (here only IOMSG=, code 78, as a character item) closed by the end
 * marker; `keys` and `values` may both be null when there are none.
 * IOSTAT= and ERR= are flags (iof_iostat, iof_err) as everywhere.
 * for_eof returns the LOGICAL result (0 false, -1 true, 1 true with unit
 * option bit 4) or a message number when the statement fails.
 */
VORLIX_API int for_rewind(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                          const For_Value_List *values);
VORLIX_API int for_backspace(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                             const For_Value_List *values);
VORLIX_API int for_endfile(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                           const For_Value_List *values);
VORLIX_API int for_flush(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                         const For_Value_List *values);
VORLIX_API int for_eof(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                       const For_Value_List *values);

/* UNLOCK (u): releases record locks; the unit must exist. */
VORLIX_API int for_unlock(For_Context *ctx, int unit, For_IO_Flags flags);

/*
 * Formatted sequential and internal-file statements. `fmt` is a compiled
 * format (<vorlix/format.h>), or with iof_fmt_text in the flags a
 * For_Char_Format compiled at run time. The control lists (cdsc, cval) are
 * present as abi.h describes; otherwise pass null. For the internal-file
 * entries the first item of the lists is the internal file (a CHARACTER
 * scalar, or a contiguous CHARACTER array of one record per element).
 * The _xmit entries transfer the further groups of items of the statement.
 */
VORLIX_API int for_write_seq_fmt(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                 const For_Value_List *val, const void *fmt, const For_Dsc_Lst *cdsc,
                                 const For_Value_List *cval);
VORLIX_API int for_write_seq_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_read_seq_fmt(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                const For_Value_List *val, const void *fmt, const For_Dsc_Lst *cdsc,
                                const For_Value_List *cval);
VORLIX_API int for_read_seq_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_write_int_fmt(For_Context *ctx, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                 const For_Value_List *val, const void *fmt, const For_Dsc_Lst *cdsc,
                                 const For_Value_List *cval);
VORLIX_API int for_write_int_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_read_int_fmt(For_Context *ctx, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val,
                                const void *fmt, const For_Dsc_Lst *cdsc, const For_Value_List *cval);
VORLIX_API int for_read_int_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
/*
 * Direct access by record number (the argument order of abi.h). WRITE and
 * READ (u, REC=r) unformatted and formatted; REWRITE (u) rebuilds the
 * record read last (its record argument is not used: the record is the
 * one before the unit's next record). FIND (u, REC=r) positions at record
 * r; DELETE (u, REC=r) marks record r of a relative file deleted. FIND and
 * DELETE take the control list of the positioning statements (IOMSG=
 * items and the end marker, or null).
 */
VORLIX_API int for_write_dir(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                             const For_Value_List *val, int64_t rec, const For_Dsc_Lst *cdsc,
                             const For_Value_List *cval);
VORLIX_API int for_write_dir_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_read_dir(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                            const For_Value_List *val, int64_t rec, const For_Dsc_Lst *cdsc,
                            const For_Value_List *cval);
VORLIX_API int for_read_dir_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_rewrite(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                           const For_Value_List *val, int64_t rec, const For_Dsc_Lst *cdsc, const For_Value_List *cval);
VORLIX_API int for_rewrite_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_write_dir_fmt(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                 const For_Value_List *val, int64_t rec, const void *fmt, const For_Dsc_Lst *cdsc,
                                 const For_Value_List *cval);
VORLIX_API int for_write_dir_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_read_dir_fmt(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                const For_Value_List *val, int64_t rec, const void *fmt, const For_Dsc_Lst *cdsc,
                                const For_Value_List *cval);
VORLIX_API int for_read_dir_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_rewrite_fmt(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                               const For_Value_List *val, int64_t rec, const void *fmt, const For_Dsc_Lst *cdsc,
                               const For_Value_List *cval);
VORLIX_API int for_rewrite_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);
VORLIX_API int for_find(For_Context *ctx, int unit, For_IO_Flags flags, int64_t rec, const For_Dsc_Lst *keys,
                        const For_Value_List *values);
VORLIX_API int for_delete(For_Context *ctx, int unit, For_IO_Flags flags, int64_t rec, const For_Dsc_Lst *keys,
                          const For_Value_List *values);

/* READ (u, *) list: list-directed input from an external unit, and the
 * transfer call of its later item groups. */
VORLIX_API int for_read_seq_lis(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                const For_Value_List *val, const For_Dsc_Lst *cdsc, const For_Value_List *cval);
VORLIX_API int for_read_seq_lis_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);

/* READ (internal-file, *) list: the first item of the list is the internal
 * file (a character scalar, or an array of records one after another). */
VORLIX_API int for_read_int_lis(For_Context *ctx, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val,
                                const For_Dsc_Lst *cdsc, const For_Value_List *cval);
VORLIX_API int for_read_int_lis_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);

#endif
