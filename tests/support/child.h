// Runs a program as a child process with exactly the environment a test
// gives it, for the settings a process reads once: what it wrote on
// standard output and standard error, and how it ended.
#pragma once
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kit {

struct Child_Outcome {
    int exit_code = -1;  // -1 when it did not exit normally
    std::string out, err;
};

inline std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Standard output and error go to files beside each other in `dir`.
inline Child_Outcome run_child(const std::string &program, const std::vector<std::string> &args,
                               const std::vector<std::string> &env, const std::string &dir) {
    const std::string out = dir + "/child.out", err = dir + "/child.err";
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) _exit(126);
        dup2(o, STDOUT_FILENO);
        dup2(e, STDERR_FILENO);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    Child_Outcome r;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return r;
    if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

}  // namespace kit
