// Dynamic COMMON: blocks named at run time, created on first request and
// shared by every later request of the same name, through a replaceable
// allocator.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "vorlix/runtime.h"

// Allocator installed by for__set_ftn_alloc; null when none.
extern std::atomic<for_ftn_alloc_routine> the_ftn_alloc_routine;

// A program may define its own allocator under this name; bound weakly so
// that its absence is no error.
extern "C" __attribute__((weak, visibility("default"))) int _FTN_ALLOC(void **address, int64_t *size, const char *name);

// Allocates *size bytes for the block `name` through the installed routine,
// else the program's _FTN_ALLOC, else default_FTN_ALLOC; returns the status
// of the routine used.
int do_ftn_alloc(void **address, int64_t *size, const char *name);

// for__get_vm of *size bytes; on failure *size becomes 0 and the status is 41.
int default_FTN_ALLOC(void **address, int64_t *size);

// Serialises the block table; held while one request list is bound.
extern std::mutex for__protect_dyncom;

// Layout of the request list passed to f90_dyncom.
struct For_Dyncom_Request {
    const char *name;
    void **address;
    int64_t size;
};
struct For_Dyncom_List {
    int64_t count;
    const char *procedure;
    int64_t flags;
    // `count` For_Dyncom_Request records follow.
};
static_assert(sizeof(For_Dyncom_Request) == 24 && sizeof(For_Dyncom_List) == 24);

inline constexpr int64_t for__dyncom_fill_flag = 1;
inline constexpr unsigned char for__dyncom_fill_byte = 0x81;
