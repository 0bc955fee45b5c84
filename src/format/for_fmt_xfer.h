// Formatted transfer statements: one template on the direction (Out true
// for WRITE, false for READ) shared by the sequential and the internal-file
// entries, and by the direct-access ones. The entries themselves
// (for_wseq_fmt.cpp, for_rseq_fmt.cpp, for_wint_fmt.cpp, for_rint_fmt.cpp,
// for_wdir_fmt.cpp, for_rdir_fmt.cpp) only name their statement kind.
#pragma once
#include <vorlix/abi.h>

#include "io/for_stmt.h"

// The entry of a formatted statement: acquires the unit through the frame,
// sets up an internal file from the first item when the kind is internal,
// prepares the format and the first record, and transfers the first group
// of items.
// A kind that is direct transfers by record number: `rec` is its REC=.
template <bool Out>
int for__fmt_entry(const For_Stmt_Kind &kind, const For_Stmt &stmt, const void *fmt, const For_Dsc_Lst *dsc,
                   const For_Value_List *val, int64_t rec = 0);

// A transfer call of a formatted statement (the _xmit entries).
template <bool Out>
int for__fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val);

// Names of internal files in messages.
inline constexpr char for_ifile_write_name[] = "Internal Formatted Write or ENCODE";
inline constexpr char for_ifile_read_name[] = "Internal Formatted Read or DECODE";
