// A program that uses only what libvorlix.so.5 exports, run by the tests
// in a child process: which catalog the installed library finds by itself.
//
//   diag_child_shared <code for for_emit_diagnostic> <text>
#include <vorlix/diag.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc < 3) return 92;
    char var[60];
    for_errmsg(9, var, sizeof var, 12, "x.dat");
    std::printf("[%.*s]\n", static_cast<int>(sizeof var), var);
    std::fflush(stdout);
    for_emit_diagnostic(static_cast<int>(std::strtol(argv[1], nullptr, 0)), "%s", argv[2]);
    return 0;
}
