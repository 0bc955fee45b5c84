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

int for__pwrite_all(int fd, const void *data, uint64_t len, off_t at) {
    const char *p = static_cast<const char *>(data);
    while (len > 0) {
        const ssize_t w = ::pwrite(fd, p, static_cast<size_t>(len), at);
        if (w < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        p += w;
        at += w;
        len -= static_cast<uint64_t>(w);
    }
    return 0;
}

int64_t for__pread_full(int fd, void *dst, uint64_t len, off_t at) {
    char *p = static_cast<char *>(dst);
    uint64_t done = 0;
    while (done < len) {
        const ssize_t r = ::pread(fd, p + done, static_cast<size_t>(len - done), at + static_cast<off_t>(done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        done += static_cast<uint64_t>(r);
    }
    return static_cast<int64_t>(done);
}
