// Runs term_child with an ending in a fresh $TMPDIR and collects what it
// printed, how it ended and what it left there. Shared by the suites that
// end processes.
#pragma once
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/files.h"

namespace {

struct Outcome {
    std::string out, err;
    int exit_code = -1;  // -1 when killed by a signal
    int signal = 0;
    pid_t pid = 0;
    std::set<std::string> left;  // names left in $TMPDIR
};

void slurp(int out_fd, int err_fd, Outcome &o) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    int open_fds = 2;
    char buf[4096];
    while (open_fds > 0 && poll(fds, 2, 30000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            } else {
                (i == 0 ? o.out : o.err).append(buf, static_cast<std::size_t>(n));
            }
        }
    }
}

// Runs term_child with `ending` in a fresh $TMPDIR. `answer`, when given,
// is what the program reads on standard input (a socket, as a terminal
// session would be seen); otherwise standard input is /dev/null.
// `look`, when given, sees the directory before it goes.
Outcome run(const std::string &ending, std::vector<std::string> env = {}, const char *answer = nullptr,
            const std::function<void(const std::string &)> &look = {}) {
    kit::Scratch_Dir scratch("term");
    const std::string &dir = scratch.dir();
    env.push_back("TMPDIR=" + dir);
    env.push_back("FOR_DISABLE_STACK_TRACE=1");
    int out_pipe[2], err_pipe[2], in_pair[2] = {-1, -1};
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return {};
    if (answer && socketpair(AF_UNIX, SOCK_STREAM, 0, in_pair) != 0) return {};
    std::vector<char *> argv{const_cast<char *>(TERM_CHILD), const_cast<char *>(ending.c_str()), nullptr};
    std::vector<char *> envp;
    for (std::string &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (answer) {
            dup2(in_pair[1], STDIN_FILENO);
        } else {
            freopen("/dev/null", "r", stdin);
        }
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], in_pair[0], in_pair[1]})
            if (fd > 2) close(fd);
        execve(TERM_CHILD, argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (answer) {
        close(in_pair[1]);
        (void)!write(in_pair[0], answer, std::string_view(answer).size());
        shutdown(in_pair[0], SHUT_WR);
    }
    Outcome o;
    o.pid = pid;
    slurp(out_pipe[0], err_pipe[0], o);
    if (answer) close(in_pair[0]);
    // A child silent for the whole poll that does not end within seconds
    // more hangs: it is ended, and reads as killed.
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 1000 && (done = waitpid(pid, &status, WNOHANG)) == 0; ++i) usleep(10000);
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    if (WIFEXITED(status))
        o.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        o.signal = WTERMSIG(status);
    for (const auto &e : std::filesystem::directory_iterator(dir)) o.left.insert(e.path().filename().string());
    if (look) look(dir);
    return o;
}

}  // namespace
