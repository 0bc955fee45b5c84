/*
 * libvorlix: the binary calling convention between compiled Fortran code
 * and the run-time library.
 *
 * Every data transfer statement is one entry call (for_write_seq_lis, ...),
 * zero or more transfer calls (the entry's _xmit companion), and ends inside
 * the call whose item group ends with the end-of-statement marker. Each call
 * receives the statement's For_Context, and items are described by a byte
 * string (For_Dsc_Lst) with a parallel array of 64-bit value slots
 * (For_Value_List). This header holds the types and codes of that
 * convention; the entry prototypes are in the other headers of vorlix/.
 */
#ifndef VORLIX_ABI_H
#define VORLIX_ABI_H

#include <stdint.h>

#ifndef VORLIX_API
#ifdef __cplusplus
#define VORLIX_API extern "C" __attribute__((visibility("default")))
#else
#define VORLIX_API extern __attribute__((visibility("default")))
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * For_Context: one per executing statement, owned by the caller and passed
 * as the first argument of every call of that statement. The library uses
 * exactly the first two 64-bit words and never touches the rest:
 *   word 1 (lub):       the statement's unit block, set when the unit is
 *                       acquired and cleared when it is released; a transfer
 *                       call whose context holds null does nothing.
 *   word 2 (vfe_table): caller-set table of variable-format-expression
 *                       slots for formatted statements: each slot is either
 *                       the address of an integer, or a null word followed by
 *                       the address of a function returning the value.
 * The two reserved words give a compiler room to keep the context at a
 * fixed 32-byte size across library versions.
 */
typedef struct For_Context {
    void *lub;
    const void *vfe_table;
    uint64_t reserved[2];
} For_Context;

/* The statement flag word, passed by value. Bits 0 to 30 are always read;
 * bits 32 to 63 only when iof_ext is set. */
typedef uint64_t For_IO_Flags;

#define VORLIX_IOF(bit) ((For_IO_Flags)1 << (bit))
static const For_IO_Flags iof_err = VORLIX_IOF(0); /* ERR= present */
static const For_IO_Flags iof_end = VORLIX_IOF(1); /* END= present */
/* The format argument of a formatted entry is a character value to be
 * compiled at run time: a pointer to For_Char_Format, not a compiled
 * format. */
static const For_IO_Flags iof_fmt_text = VORLIX_IOF(3);
static const For_IO_Flags iof_opt_a = VORLIX_IOF(7);
static const For_IO_Flags iof_f90 = VORLIX_IOF(18);     /* Fortran-90 semantics */
static const For_IO_Flags iof_advance = VORLIX_IOF(19); /* ADVANCE= follows */
static const For_IO_Flags iof_size = VORLIX_IOF(20);    /* SIZE= follows */
static const For_IO_Flags iof_eor = VORLIX_IOF(21);     /* EOR= present */
static const For_IO_Flags iof_cvterr = VORLIX_IOF(25);  /* output conversion errors not reported */
static const For_IO_Flags iof_opt_d = VORLIX_IOF(26);
static const For_IO_Flags iof_opt_c = VORLIX_IOF(27);
static const For_IO_Flags iof_name_cmdline = VORLIX_IOF(28);
static const For_IO_Flags iof_ldio_ms = VORLIX_IOF(29);
static const For_IO_Flags iof_opt_e = VORLIX_IOF(30);
static const For_IO_Flags iof_ext = VORLIX_IOF(31); /* the high half is meaningful */
static const For_IO_Flags iof_hi_opt_a = VORLIX_IOF(32);
static const For_IO_Flags iof_hi_buffered = VORLIX_IOF(33);
static const For_IO_Flags iof_hi_opt_b = VORLIX_IOF(34) | VORLIX_IOF(35);
static const For_IO_Flags iof_keys = VORLIX_IOF(36); /* control-list keyword items follow */
static const For_IO_Flags iof_strict_ldin = VORLIX_IOF(37);
static const For_IO_Flags iof_compact_int = VORLIX_IOF(39);
static const For_IO_Flags iof_hi_41 = VORLIX_IOF(41);
static const For_IO_Flags iof_no_wrap_margin = VORLIX_IOF(42);
/* Real editing writes "-" on a negative value that rounds to zero, as the
 * standard asks; without it the sign is left out (exact negative zero
 * follows the unit's own option either way). */
static const For_IO_Flags iof_minus_rounded_zero = VORLIX_IOF(46);
static const For_IO_Flags iof_iostat = VORLIX_IOF(47); /* IOSTAT= present */

/*
 * A run-time character format (iof_fmt_text): the format argument points
 * to this pair. The text is not NUL-terminated.
 */
typedef struct For_Char_Format {
    int64_t length;
    const char *text;
} For_Char_Format;

/*
 * Descriptor list: a byte string. A list item is two bytes, type code then
 * form; a control-list keyword item is four: type code, form, keyword code,
 * a zero byte. Value list: an array of 64-bit slots, consumed by the items
 * in order (the number of slots depends on type and form, see below).
 */
typedef unsigned char For_Dsc_Lst;
typedef uint64_t For_Value_List;

/* Type codes (first descriptor byte). */
enum For_Type_Code {
    FOR_TYPE_END_STMT = 1,  /* end of statement: no more items */
    FOR_TYPE_END_GROUP = 2, /* end of group: a transfer call follows */
    FOR_TYPE_INT1 = 5,
    FOR_TYPE_UINT1 = 6,
    FOR_TYPE_INT2 = 7,
    FOR_TYPE_UINT2 = 8,
    FOR_TYPE_INT4 = 9,
    FOR_TYPE_UINT4 = 10,
    FOR_TYPE_INT8 = 11,
    FOR_TYPE_UINT8 = 12,
    FOR_TYPE_LOGICAL4_ALT = 13,
    FOR_TYPE_LOGICAL1 = 14,
    FOR_TYPE_LOGICAL2 = 15,
    FOR_TYPE_LOGICAL4 = 16,
    FOR_TYPE_LOGICAL8 = 17,
    FOR_TYPE_REAL4_ALT = 25,
    FOR_TYPE_REAL4 = 26, /* IEEE binary32 */
    FOR_TYPE_COMPLEX8_ALT1 = 28,
    FOR_TYPE_COMPLEX4 = 29, /* COMPLEX(4): two binary32, real part first */
    FOR_TYPE_COMPLEX8_ALT2 = 31,
    FOR_TYPE_COMPLEX8 = 40, /* COMPLEX(8): two binary64 */
    FOR_TYPE_COMPLEX16_ALT1 = 42,
    FOR_TYPE_COMPLEX16_ALT2 = 43,
    FOR_TYPE_COMPLEX16_ALT3 = 44,
    FOR_TYPE_REAL8_ALT1 = 45,
    FOR_TYPE_REAL8_ALT2 = 46,
    FOR_TYPE_REAL8 = 48,     /* IEEE binary64 */
    FOR_TYPE_REAL16 = 50,    /* IEEE binary128 */
    FOR_TYPE_COMPLEX16 = 52, /* COMPLEX(16): two binary128 */
    FOR_TYPE_CHARACTER = 56,
    FOR_TYPE_SPECIAL_60 = 60,   /* two slots: a value, then a pointer; no form */
    FOR_TYPE_DERIVED_UDIO = 63, /* derived type with defined input/output */
    FOR_TYPE_DERIVED_64 = 64,
    FOR_TYPE_DERIVED_65 = 65,
    FOR_TYPE_DERIVED_66 = 66,
    FOR_TYPE_DERIVED_67 = 67,
    FOR_TYPE_SPECIAL_68 = 68,
    FOR_TYPE_MAX = 70
};

/* Forms (second descriptor byte): how the item's value slots are laid out. */
enum For_Form {
    FOR_FORM_VALUE = 1,        /* the value itself in the slots */
    FOR_FORM_ADDR = 3,         /* 1 slot: address of a scalar */
    FOR_FORM_CHAR = 4,         /* 2 slots: length, address */
    FOR_FORM_ARRAY = 5,        /* 2 slots: total byte length, address */
    FOR_FORM_ARRAY_ELEN = 6,   /* 3 slots: total length, address, element length */
    FOR_FORM_SECTION = 7,      /* 2+3r slots: rank, base, then (lower, upper, stride) per dimension */
    FOR_FORM_SECTION_ELEN = 8, /* 3+3r slots: rank, base, element length, then the triples */
    FOR_FORM_ADDR_ALT = 10,    /* as 3 */
    FOR_FORM_VALUE_ADDR = 11,  /* 2 slots: a 64-bit value and an address */
    FOR_FORM_OBJ_DESC = 12     /* 2 slots: a 64-bit value and an object descriptor address */
};

/*
 * Strides of forms 7 and 8 are in bytes: element (i1, ..., ir) of a section
 * lies at base + sum over k of (ik - lower_k) * stride_k. The subscripts step
 * from lower to upper, first dimension fastest.
 *
 * A form 1 value sits in the slots themselves, which are only 8-byte
 * aligned: the library reads REAL(16) and COMPLEX values there without
 * assuming more.
 *
 * The object descriptor of form 12 starts with a flag byte; the library
 * clears its bit 6 when it reads the item.
 */

/*
 * Argument order of the data transfer entries (C = the two control-list
 * arguments, present as described below; F = the format: a compiled format,
 * or with iof_fmt_text a For_Char_Format):
 *   external sequential   for_read_seq[_lis|_nml], for_write_seq[_lis|_nml]:
 *                         (context, unit, flags, dsc, val, C)
 *   sequential formatted  for_read_seq_fmt, for_write_seq_fmt:
 *                         (context, unit, flags, dsc, val, F, C)
 *   direct access         for_read_dir, for_write_dir, for_rewrite:
 *                         (context, unit, flags, dsc, val, int64 record, C)
 *   direct formatted      for_read_dir_fmt, for_write_dir_fmt, for_rewrite_fmt:
 *                         (context, unit, flags, dsc, val, int64 record, F, C)
 *   internal              for_read_int_lis, for_write_int_lis:
 *                         (context, flags, dsc, val, C)
 *   internal formatted    for_read_int_fmt, for_write_int_fmt:
 *                         (context, flags, dsc, val, F, C)
 *   transfer calls        ..._xmit: (context, dsc, val)
 * For internal statements the first item of the list is the internal file.
 * Unit -5 in an external entry continues the innermost internal file of the
 * calling thread (child statements of defined I/O).
 */

/* Keyword codes of control-list items (third byte of a keyword item). */
enum For_Keyword_Code {
    FOR_KEY_ACCESS = 2,
    FOR_KEY_ASSOCIATEVARIABLE = 4,
    FOR_KEY_ASSOCIATEVARIABLE_TYPE = 5,
    FOR_KEY_BLANK = 6,
    FOR_KEY_CARRIAGECONTROL = 8,
    FOR_KEY_DEFAULTFILE = 10,
    FOR_KEY_DISPOSE = 12,
    FOR_KEY_FILE = 13,
    FOR_KEY_FORM = 15,
    FOR_KEY_ORGANIZATION = 18,
    FOR_KEY_READONLY = 20,
    FOR_KEY_RECL = 21,
    FOR_KEY_RECORDTYPE = 23,
    FOR_KEY_SHARED = 25,
    FOR_KEY_STATUS = 26,
    FOR_KEY_NAME = 43,
    FOR_KEY_MAXREC = 49,
    FOR_KEY_BLOCKSIZE = 50,
    FOR_KEY_BUFFERCOUNT = 51,
    FOR_KEY_CONVERT = 52,
    FOR_KEY_USEROPEN = 57,
    FOR_KEY_ACTION = 58,
    FOR_KEY_DELIM = 59,
    FOR_KEY_PAD = 60,
    FOR_KEY_POSITION = 61,
    FOR_KEY_RECL_BYTES = 65,
    FOR_KEY_MODE = 67,
    FOR_KEY_SHARE = 68,
    FOR_KEY_BUFFERED = 71,
    FOR_KEY_NOSHARED = 72,
    FOR_KEY_ASYNCHRONOUS = 75,
    FOR_KEY_IOMSG = 78,
    FOR_KEY_POS = 79,
    FOR_KEY_ROUND = 81,
    FOR_KEY_DECIMAL = 82,
    FOR_KEY_SIGN = 83,
    FOR_KEY_ENCODING = 84,
    FOR_KEY_NEWUNIT = 86
};

/*
 * Control lists of data transfer statements. The entry takes two extra
 * arguments, a descriptor list and a value list, when iof_keys (with
 * iof_ext), iof_advance or iof_size is set. They hold, in this order:
 *   1. the keyword items, each at most once and in this fixed order:
 *      IOMSG= (56/4, code 78), POS= (11/1 or 11/3, code 79), BLANK= (6),
 *      DECIMAL= (82), DELIM= (59), PAD= (60), ROUND= (81), SIGN= (83);
 *      the character ones as form 4 (length, address);
 *   2. an end marker (type 1), always present, even with no keyword items;
 *   3. with iof_advance, the ADVANCE= value as a plain two-byte character
 *      item (56/4: length, address);
 *   4. with iof_size, the SIZE= variable as a plain integer item of its kind
 *      (5, 7, 9 or 11, form 3: its address).
 * The marker keeps the keyword walk self-delimiting, so ADVANCE= and SIZE=
 * need no keyword code of their own and a list without them ends there.
 */

/* Operation codes: what a statement does to its unit. */
enum For_Op_Code {
    FOR_OP_READ = 1,
    FOR_OP_READ_LIS = 2,
    FOR_OP_READ_NML = 3,
    FOR_OP_WRITE = 4,
    FOR_OP_WRITE_SEQ = 5,
    FOR_OP_OPEN = 6,
    FOR_OP_OPEN_NEWUNIT = 7,
    FOR_OP_FDOPEN = 9,
    FOR_OP_FDOPEN_NEWUNIT = 10,
    FOR_OP_CLOSE = 11,
    FOR_OP_REWIND = 12,
    FOR_OP_BACKSPACE = 13,
    FOR_OP_ENDFILE = 14,
    FOR_OP_INQUIRE = 15,
    FOR_OP_WAIT = 16,
    FOR_OP_EOF = 18,
    FOR_OP_DELETE = 27,
    FOR_OP_DEFINE_FILE = 28,
    FOR_OP_FIND = 29,
    FOR_OP_FLUSH = 30,
    FOR_OP_GERROR = 31,
    FOR_OP_GETC = 33,
    FOR_OP_PAUSE = 36,
    FOR_OP_REWRITE = 39,
    FOR_OP_FSEEK = 40,
    FOR_OP_STOP = 42,
    FOR_OP_FTELL = 43,
    FOR_OP_UNLOCK = 45,
    /* Reserved by the calling convention for statements this library does
     * not define; no entry of the library passes them. Each name says what
     * the library does with a unit acquired for it:
     *   READ       too many records ends the statement as end of file;
     *   PROMPT     a prompt pending on the unit's terminal is written first;
     *   NO_PROMPT  a pending prompt is dropped.
     * 24 and 25 have no prompt handling: a pending prompt at their
     * acquisition is an internal error. */
    FOR_OP_RESERVED_READ_24 = 24,
    FOR_OP_RESERVED_READ_25 = 25,
    FOR_OP_RESERVED_READ_PROMPT_32 = 32,
    FOR_OP_RESERVED_READ_NO_PROMPT_34 = 34,
    FOR_OP_RESERVED_NO_PROMPT_35 = 35,
    FOR_OP_RESERVED_NO_PROMPT_37 = 37,
    FOR_OP_RESERVED_PROMPT_38 = 38,
    FOR_OP_RESERVED_PROMPT_41 = 41,
    FOR_OP_RESERVED_NO_PROMPT_44 = 44
};

/* Reserved unit numbers. */
enum For_Unit {
    FOR_UNIT_PRINT = -1,
    FOR_UNIT_TYPE = -2,
    FOR_UNIT_ACCEPT = -3,
    FOR_UNIT_READ = -4,
    FOR_UNIT_INTERNAL = -5,
    FOR_UNIT_INTERNAL_TOP = -6,
    FOR_UNIT_STDERR = 0,
    FOR_UNIT_STDIN = 5,
    FOR_UNIT_STDOUT = 6
};

/* Keyword values: the one encoding of OPEN/CLOSE/INQUIRE and control-list
 * values, small integers from 1. */
enum { FOR_ACCESS_SEQUENTIAL = 1, FOR_ACCESS_DIRECT, FOR_ACCESS_APPEND, FOR_ACCESS_KEYED, FOR_ACCESS_STREAM };
enum { FOR_BLANK_ZERO = 1, FOR_BLANK_NULL };
enum { FOR_CARRIAGE_FORTRAN = 1, FOR_CARRIAGE_LIST, FOR_CARRIAGE_NONE };
enum { FOR_DELIM_APOSTROPHE = 1, FOR_DELIM_NONE, FOR_DELIM_QUOTE };
enum {
    FOR_ROUND_UP = 1,
    FOR_ROUND_DOWN,
    FOR_ROUND_ZERO,
    FOR_ROUND_NEAREST,
    FOR_ROUND_COMPATIBLE,
    FOR_ROUND_PROCESSOR_DEFINED
};
enum { FOR_DECIMAL_POINT = 1, FOR_DECIMAL_COMMA };
enum { FOR_SIGN_PROCESSOR_DEFINED = 1, FOR_SIGN_PLUS, FOR_SIGN_SUPPRESS };
enum { FOR_NO = 1, FOR_YES };

#ifdef __cplusplus
}
#endif

#endif
