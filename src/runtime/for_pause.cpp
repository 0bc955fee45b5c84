// PAUSE: a prompt on standard output, then an answer from the terminal or,
// in the background, a signal. Reads and writes the C streams directly,
// not through units, once the units on standard output have given out
// what they hold.
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <vorlix/abi.h>
#include <vorlix/stop.h>

#include "io/for_rec.h"
#include "runtime/for_write_all.h"
#include "units/for_lub.h"
#include "units/for_lub_mgt.h"

namespace {

constexpr int answer_max = 79;

void bg_paused(int) {}

bool is_socket(int fd) {
    int type = 0;
    socklen_t len = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0 || errno != ENOTSOCK;
}

// The prompt goes to standard output behind the program's own output: the
// console units that write there give out the records they hold, and the
// first of them whose last record left its line open (carriage control
// FORTRAN ends a record with a carriage return) gets that line ended.
void end_pending_terminal_output() {
    const int out = fileno(stdout);
    bool ended = false;
    for (int unit : {6, int{FOR_UNIT_TYPE}, 0, int{FOR_UNIT_PRINT}}) {
        For_Lub *lub = nullptr;
        if (for__acquire_lun(unit, &lub, nullptr, FOR_OP_PAUSE) != 0 || !lub) continue;
        if (lub->lub_fd == out && (lub->lub_flags & lubf::opened)) {
            for__flush_output(lub);
            if (!ended && lub->lub_tty_pair && for__line_is_open(lub)) {
                for__write_all(out, "\n", 1);
                for__line_closed(lub);
                ended = true;
            }
        }
        for__release_lub(lub);
    }
}

// In the background: wait for SIGTERM (or any signal), then go on. The
// handler SIGTERM had before comes back afterwards, so that a later SIGTERM
// ends the program as it would have without the PAUSE.
void wait_in_background() {
    std::printf("To continue from background, execute 'kill -%d %d'\n", SIGTERM, static_cast<int>(getpid()));
    std::fflush(stdout);
    struct sigaction sa {
    }, old{};
    sa.sa_handler = bg_paused;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, &old);
    pause();
    sigaction(SIGTERM, &old, nullptr);
}

// The answer line: at most 79 characters up to a NUL or newline, upper
// case, blanks trimmed at both ends. End of input reads as -1 characters,
// which no prefix of CONTINUE contains.
bool answer_continues() {
    char line[answer_max + 1];
    int n = 0;
    bool eof = false;
    while (n < answer_max) {
        const int c = std::getc(stdin);
        if (c == EOF) {
            eof = true;
            break;
        }
        if (c == '\0' || c == '\n') break;
        line[n++] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    if (eof) return false;
    std::string_view a{line, static_cast<std::size_t>(n)};
    while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
    while (!a.empty() && a.front() == ' ') a.remove_prefix(1);
    return std::string_view("CONTINUE").starts_with(a);
}

}  // namespace

VORLIX_API void for_pause(const char *text, int length) {
    end_pending_terminal_output();
    if (length == 0)
        std::fputs("FORTRAN PAUSE", stdout);
    else if (length > 0 && text)
        std::fwrite(text, 1, static_cast<std::size_t>(length), stdout);
    std::fputs("\nPAUSE prompt> ", stdout);
    std::fflush(stdout);
    if (!isatty(STDIN_FILENO) && !is_socket(STDIN_FILENO)) {
        wait_in_background();
        return;
    }
    if (answer_continues()) return;
    const int32_t zero = 0;
    for_exit(&zero);
}
