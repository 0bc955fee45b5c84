#include "runtime/for_write_all.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

int for__write_all(int fd, const char *data, uint64_t len, uint64_t chunk, uint64_t *written) {
    uint64_t done = 0;
    if (written) *written = 0;
    while (len > 0) {
        const uint64_t n = chunk != 0 && chunk < len ? chunk : len;
        const ssize_t w = ::write(fd, data, static_cast<size_t>(n));
        if (w < 0) {
            if (errno == EINTR) continue;
            if (written) *written = done;
            return -1;
        }
        done += static_cast<uint64_t>(w);
        data += w;
        len -= static_cast<uint64_t>(w);
    }
    return 0;
}
