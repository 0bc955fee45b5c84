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

/* UNLOCK (u): releases record locks; the unit must exist. */
VORLIX_API int for_unlock(For_Context *ctx, int unit, For_IO_Flags flags);

#endif
