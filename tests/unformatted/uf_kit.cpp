#include "unformatted/uf_kit.h"

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace uf {

std::optional<std::string> gfortran_run_flags(const std::string &source, const std::string &flags) {
    char path[] = "/tmp/vorlix-uf-src-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return std::nullopt;
    ::close(fd);
    std::ofstream(path) << source;
    std::string cmd = std::string("python3 ") + VORLIX_SOURCE_DIR "/tools/gfortran_oracle.py '--flags=" +
                      flags + "' < " + path;
    FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int st = p ? pclose(p) : -1;
    ::unlink(path);
    if (WIFEXITED(st) && WEXITSTATUS(st) == 3) return std::nullopt;
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) {
        ADD_FAILURE() << "the oracle program failed (status " << st << "):\n" << source;
        return std::nullopt;
    }
    return out;
}

}  // namespace uf
