// Thread mode of the program, and holding back asynchronous signals around
// sections that must not be interrupted.
#pragma once
#include <atomic>
#include <csignal>
#include <cstdint>

#include "vorlix/runtime.h"  // for_set_reentrancy

// 0 until the program declares itself; 2 marks a threaded program, which
// the signal handler treats differently.
extern std::atomic<int32_t> for__reentrancy_mode;

inline constexpr int32_t for__reentrancy_query = 3;
inline constexpr int32_t for__reentrancy_threaded = 2;

// Blocks every signal for the calling thread, saving the mask in force in
// *old. 0.
int for__disable_asynch_deliv_private(sigset_t *old);

// Restores a mask saved by for__disable_asynch_deliv_private. 0.
int for__enable_asynch_deliv_private(const sigset_t *old);
