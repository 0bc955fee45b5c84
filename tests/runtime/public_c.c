/* The public header as a C program sees it: these calls must compile as C
   and bind to the exported entries of the shared library. */
#include <stddef.h>

#include "vorlix/runtime.h"

int vorlix_c_check_env(const char *name) { return for_check_env_name(name); }

int vorlix_c_set_reentrancy(int mode) { return for_set_reentrancy(&mode); }

void *vorlix_c_dyncom(const char *procedure, const char *name, int64_t size) {
  void *block = NULL;
  const int64_t list[6] = {1, (int64_t)(intptr_t)procedure, 0,
                           (int64_t)(intptr_t)name, (int64_t)(intptr_t)&block, size};
  f90_dyncom(list);
  return block;
}

for_ftn_alloc_routine vorlix_c_set_alloc(for_ftn_alloc_routine r) { return for__set_ftn_alloc(r); }
