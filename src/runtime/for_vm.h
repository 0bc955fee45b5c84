// Memory primitives: every heap block of the library goes through these, so
// that a signal arriving while the C allocator holds its locks is held back
// until the allocator has returned.
#pragma once
#include <cstdint>

// When 1, for__free_vm frees nothing (set late in termination, when blocks
// may still be referenced by handlers that run after the exit handler).
extern int for__dont_free;

// size 0: *out = null, 0. Negative size: *out = null, 41. Otherwise malloc;
// 41 when it fails. `flags` is accepted for the calling convention only.
int for__get_vm(int64_t size, int64_t flags, void **out);

// Resizes the area at *cell (null: a new area) to `size` bytes, keeping the
// first min(old_size, size) bytes when realloc has to fall back on a copy.
// size 0 frees the area and stores null. 41 with *cell untouched when the
// size is negative or no memory can be had.
int for__realloc_vm(int64_t size, void **cell, int64_t old_size);

// Frees p unless it is null or for__dont_free is set. Always 0.
int for__free_vm(void *p);

// Sets for__dont_free.
void for__disable_vm();

// Called by the signal handler: 1 when the calling thread is inside one of
// the primitives, in which case `sig` is recorded and raised again with
// kill(getpid(), sig) as soon as the primitive returns; else 0.
int for__set_signal_ops_during_vm(int sig);

// Drops the signals recorded for the calling thread.
void for__clear_signal_ops_during_vm();
