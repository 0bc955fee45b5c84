/* libvorlix: start-up and termination of a compiled program. */
#ifndef VORLIX_RUNTIME_H
#define VORLIX_RUNTIME_H

#include <vorlix/abi.h>

/* Called once before the main program runs; argc may be null. */
VORLIX_API void for_rtl_init_(int *argc, char **argv);
/* Called at the normal end of the main program; flushes and closes every
 * unit and returns the status of the exit handler. */
VORLIX_API int for_rtl_finish_(void);

#endif
