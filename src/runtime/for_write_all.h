// Writing a whole byte string to a descriptor.
#pragma once
#include <cstdint>

// Writes all `len` bytes of `data` to `fd`, in pieces of at most `chunk`
// bytes (0: no limit), repeating short writes and writes interrupted by a
// signal. Only write(2) is called, so a signal handler may use it. Returns
// 0, or -1 with errno set by the write that failed; *written (when given)
// then tells how many bytes went out before it, so that the caller can keep
// the rest.
int for__write_all(int fd, const char *data, uint64_t len, uint64_t chunk = 0,
                   uint64_t *written = nullptr);
