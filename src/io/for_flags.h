// The statement flag word as every entry reads it.
#pragma once
#include <vorlix/abi.h>

// The flag word with its high half cleared unless iof_ext says the high
// half is meaningful: compilers that predate it leave garbage there.
inline For_IO_Flags for__effective_flags(For_IO_Flags flags) {
    return (flags & iof_ext) ? flags : (flags & 0xffffffffull);
}
