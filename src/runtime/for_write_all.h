// Writing a whole byte string to a descriptor, and reading or writing one
// at an offset, through short counts and interrupted calls.
#pragma once
#include <sys/types.h>

#include <cstdint>

// Writes all `len` bytes of `data` to `fd`, in pieces of at most `chunk`
// bytes (0: no limit), repeating short writes and writes interrupted by a
// signal. Only write(2) is called, so a signal handler may use it. Returns
// 0, or -1 with errno set by the write that failed; *written (when given)
// then tells how many bytes went out before it, so that the caller can keep
// the rest.
int for__write_all(int fd, const char *data, uint64_t len, uint64_t chunk = 0, uint64_t *written = nullptr);

// pwrite(2) of all `len` bytes at offset `at`, repeating short writes and
// interrupted ones: 0, or -1 with errno set.
int for__pwrite_all(int fd, const void *data, uint64_t len, off_t at);

// pread(2) of up to `len` bytes at offset `at`, repeating short reads and
// interrupted ones until `len` bytes or the end of the file: the count
// read, or -1 with errno set.
int64_t for__pread_full(int fd, void *dst, uint64_t len, off_t at);
