// vorlix-run: runs a Fortran program of the documented subset on
// libvorlix.so.5. Exit status: the program's own (STOP code, or a severe
// diagnostic's message number); 2 for a parse, translation or run-time error
// of the runner itself; 3 when the program needs a library entry that this
// library does not have yet.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <vorlix/runtime.h>

#include "parse.h"
#include "program.h"

int main(int argc, char **argv) {
    bool check_only = false;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--check") == 0) {
        check_only = true;
        ++first;
    }
    if (argc <= first) {
        std::fprintf(stderr, "usage: vorlix-run [--check] program.f90 [arguments]\n");
        return 2;
    }
    const char *path = argv[first];
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vorlix-run: cannot read %s\n", path);
        return 2;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string source = ss.str();
    vrun::Program program;
    vrun::Error err;
    auto report = [&](const vrun::Error &e) {
        std::fprintf(stderr, "%s:%d:%d: %s\n", path, e.at.line, e.at.col, e.message.c_str());
        return e.message.rfind("this library has no ", 0) == 0 ? 3 : 2;
    };
    if (!vrun::parse_program(source, program, err)) return report(err);
    vrun::Machine machine;
    vrun::Translator translator(machine);
    if (!translator.translate(program, err)) return report(err);
    if (check_only) return 0;
    // The program's own arguments follow its file name, as argv[0] onward.
    int pargc = argc - first;
    for_rtl_init_(&pargc, argv + first);
    try {
        machine.run();
    } catch (const vrun::RunError &e) {
        std::fflush(nullptr);
        std::fprintf(stderr, "%s:%d:%d: run-time error: %s\n", path, e.at.line, e.at.col, e.message.c_str());
        for_rtl_finish_();
        return 2;
    }
    return for_rtl_finish_();
}
