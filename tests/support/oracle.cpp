#include "support/oracle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#ifndef VORLIX_SOURCE_DIR
#error "the kit needs VORLIX_SOURCE_DIR"
#endif

namespace kit {

std::optional<std::string> gfortran_run(const std::string &source) { return gfortran_run(source, "-O0"); }

std::optional<std::string> gfortran_run(const std::string &source, const std::string &flags) {
    char path[] = "/tmp/vorlix-oracle-src-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        ADD_FAILURE() << "no temporary file";
        return std::nullopt;
    }
    ::close(fd);
    std::ofstream(path) << source;
    std::string cmd =
        std::string("python3 ") + VORLIX_SOURCE_DIR "/tools/gfortran_oracle.py '--flags=" + flags + "' < " + path;
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

std::optional<std::vector<std::string>> gfortran_lines(const std::string &source) {
    auto out = gfortran_run(source);
    if (!out) return std::nullopt;
    std::vector<std::string> lines;
    std::istringstream in(*out);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

}  // namespace kit
