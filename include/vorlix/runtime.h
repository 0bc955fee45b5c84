/* Run-time frame entries: start-up and the normal end of a program, and
   those that programs may call directly: the boolean environment test, the
   thread mode, the dynamic COMMON allocation hook and dynamic COMMON. */
#ifndef VORLIX_RUNTIME_H
#define VORLIX_RUNTIME_H

#include <stdint.h>

#include <vorlix/abi.h>

/* A replacement allocator for dynamic COMMON. It receives the address cell
   to fill, the size cell (bytes wanted; it may store the size it actually
   gave, 0 on failure) and the block's NUL-terminated name (at most 255
   characters). Its result is passed back to the caller as a status. A
   program may also supply one under the C name _FTN_ALLOC. */
typedef int (*for_ftn_alloc_routine)(void **address, int64_t *size, const char *name);

/* Called once before the main program runs, with the address of the
   argument count (may be null) and the argument vector. */
VORLIX_API void for_rtl_init_(int *argc, char **argv);

/* Called at the normal end of the main program: runs the exit handler
   (every unit flushed and closed) and returns its status. */
VORLIX_API int for_rtl_finish_(void);

/* 1 when the environment variable `name` is true: its value begins with
   T, t, Y or y, or is all decimal digits with a value other than zero.
   0 for a null name, an unset, empty or over-long (261+ characters) value. */
VORLIX_API int for_check_env_name(const char *name);

/* Returns the thread mode in force before the call; a request of 3 only
   reads it, any other request becomes the new mode (2: threaded program). */
VORLIX_API int for_set_reentrancy(const int *mode);

/* Installs the dynamic COMMON allocator (null restores the default chain)
   and returns the one installed before. */
VORLIX_API for_ftn_alloc_routine for__set_ftn_alloc(for_ftn_alloc_routine routine);

/* Binds the dynamic COMMON blocks of one procedure. The request list is a
   sequence of 64-bit words:
     [0] number of blocks n
     [1] address of the procedure name (NUL-terminated), used in reports
     [2] flags: bit 0 fills newly created blocks with the byte 0x81
     then n triples: block name (NUL-terminated), address of the pointer
     cell that receives the block, size in bytes.
   A block that exists already is shared; asking for more than its size, or
   failing to allocate a new one, is reported and ends the process (585). */
VORLIX_API void f90_dyncom(const void *request_list);

#endif
