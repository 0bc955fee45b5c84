/* The bandwidth of the file system itself for the bytes an unformatted
 * benchmark moves: write(2) of them from one buffer, close, then read(2)
 * back into it, timed apart. Nothing is synced, as no Fortran program
 * syncs on CLOSE: this is the page-cache path the benchmarks take too.
 *
 * usage: raw_io FILE COUNT big|small
 *   big    8*COUNT + 8 bytes: one REAL(8) record of COUNT elements
 *   small  12*COUNT bytes: COUNT records of one INTEGER(4)
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

/* At most 1 GiB a call: the kernel moves no more than about 2 GiB at once. */
static int all(int fd, char *p, size_t n, int out)
{
    while (n > 0) {
        size_t c = n < ((size_t)1 << 30) ? n : ((size_t)1 << 30);
        ssize_t r = out ? write(fd, p, c) : read(fd, p, c);
        if (r <= 0)
            return -1;
        p += r;
        n -= (size_t)r;
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    long n = atol(argv[2]);
    int big = strcmp(argv[3], "big") == 0;
    size_t bytes = big ? 8 * (size_t)n + 8 : 12 * (size_t)n;
    char *buf = malloc(bytes);
    if (!buf)
        return 1;
    memset(buf, 0x5a, bytes);
    double t0 = now();
    int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || all(fd, buf, bytes, 1) != 0 || close(fd) != 0)
        return 1;
    double t1 = now();
    fd = open(argv[1], O_RDONLY);
    if (fd < 0 || all(fd, buf, bytes, 0) != 0 || close(fd) != 0)
        return 1;
    double t2 = now();
    unlink(argv[1]);
    printf("raw %-5s %12zu bytes  write %.3f s (%.2f GB/s)  read %.3f s (%.2f GB/s)  total %.3f s\n",
           argv[3], bytes, t1 - t0, (double)bytes / (t1 - t0) * 1e-9, t2 - t1,
           (double)bytes / (t2 - t1) * 1e-9, t2 - t0);
    /* The phases as the benchmark programs report them (tools/bench.py). */
    fprintf(stderr, "phase write %.6f\nphase read %.6f\n", t1 - t0, t2 - t1);
    free(buf);
    return 0;
}
