// Start-up and the normal end of a compiled program.
#include <vorlix/runtime.h>

#include "units/for_lub_mgt.h"

VORLIX_API void for_rtl_init_(int * /*argc*/, char ** /*argv*/) {
    for__preconnected_units_create();
}

VORLIX_API int for_rtl_finish_(void) { return 0; }
