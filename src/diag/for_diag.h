// Diagnostics: looking up message numbers and issuing forrtl diagnostics.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <vorlix/diag.h>

// Issues message `number` (low 16 bits) with `nargs` printf arguments that
// follow; returns only when the message's severity does not end the process.
int for__issue_diagnostic(int number, int nargs, ...);

// The message text of `number` without header, formatted with the arguments
// when nargs > 0; an unknown number gives "". The buffer belongs to the
// calling thread and holds the text until that thread's next call.
const char *for__get_msg(int number, int nargs, ...);

// 0 when found (severity and text stored), 1 when the number is no message.
// The text is the catalog's when a catalog is open and its text asks for
// the same arguments as the built-in one, else the built-in text.
int get_message(int number, int *severity, const char **text);

// Header table: 0 to 4 the "forrtl: ..." headers by severity, 5 and 6 the
// coarray image lines. Catalog texts replace them while the catalog is open.
constexpr int for_header_image = 5;
constexpr int for_header_image_team = 6;
const char *for__msg_header(int index);
// "forrtl" or its catalog replacement (at most 15 characters), the prefix
// of perror lines of statement completion.
const char *for__forrtl_header();
// Closes the catalog at library shutdown; later lookups use built-in texts.
void for__message_catalog_close();

// Formats the printf text `fmt` into out[0..room) (always NUL-terminated
// when room > 0), reading one argument per conversion from `ap`, at most
// `nargs` of them: conversions beyond those get 0 or "". Returns the length
// written. A text cut in the middle of a conversion keeps the rest as it
// stands instead of reading an argument it does not describe.
std::size_t for__vformat_msg(char *out, std::size_t room, const char *fmt, int nargs, va_list ap);

// Formats `fmt` giving each conversion an argument of the type it expects:
// integer conversions take the values of `ints` in order, string
// conversions the texts of `strings`; anything missing is 0 or "".
std::size_t for__format_msg_typed(char *out, std::size_t room, const char *fmt, const long long *ints, int nints,
                                  const char *const *strings, int nstrings);

// The IOMSG= variable of the statement that the calling thread completes.
// Statement completion sets it just before an unhandled I/O diagnostic and
// clears it afterwards; the diagnostic's text (no header, no newline) is
// copied into it, blank-padded or cut.
extern thread_local char *for__user_iomsg_buf;
extern thread_local uint64_t for__user_iomsg_len;
void for__set_iomsg_target(char *buf, uint64_t len);
void for__clear_iomsg_target();

// Writes one finished diagnostic text to the log file and standard error.
void for__dump_msg_buff(const char *text);
// Re-opens standard error on the file named by FORT0, once per process.
void for__redirect_stderr();

// The status a severe diagnostic with this number ends the process with.
int for__severe_exit_status(int number);
// Ends the process after a severe diagnostic, with for__severe_exit_status.
[[noreturn]] void for__severe_exit(int status);
// Ends the process with `status` as it stands (exit() semantics: stdio is
// flushed, atexit handlers run), or with abort() when `core_dump`; in
// debugger mode SIGABRT is raised first.
[[noreturn]] void for__end_process(int status, bool core_dump, bool debugger);

// Environment settings of this subsystem, read afresh at every use.
bool for__diag_env_flag(const char *name);
bool for__core_dump_requested();

// Pending exception record: the signal handler points `signal_pair` at the
// (siginfo, ucontext) pair being reported; fp_reporting is non-zero while
// a floating-point condition is reported. Null when none is pending.
struct For_Excpt_Info {
    const For_Signal_Pair *signal_pair;
    int32_t fp_reporting;
};
extern For_Excpt_Info *for__l_excpt_info;

// Appends a stack trace to out[0..room) (NUL-terminated, whole lines only)
// and returns its length. It starts at the frame that resumes at
// `start_ip` (a caller's return address or a signal context's pc), or at
// the innermost frame when none matches. Mode 0 heads it with a line of
// its own; mode 1 (TRACEBACKQQ) follows the user's text directly. While
// the calling thread is already producing a trace (a signal inside one)
// it produces nothing.
std::size_t for__traceback_text(uintptr_t start_ip, char *out, std::size_t room, int mode);
// The pc at which a signal context resumes, 0 when there is none.
uintptr_t for__signal_pair_ip(const For_Signal_Pair *pair);

// The coarray image line of a diagnostic: header entry 5 when team is -1,
// else entry 6. Returns its length.
std::size_t for__image_line(char *out, std::size_t room, int image, int original_image, int team);

// Text built without the C library's formatting or the heap, for the
// signal handler: the interrupted code may hold the allocator's or stdio's
// locks. Appends what fits and keeps the text NUL-terminated.
struct For_Safe_Text {
    char *buf;
    std::size_t size;  // including the NUL
    std::size_t used = 0;

    bool fits(std::size_t n) const { return used + n < size; }
    For_Safe_Text &add(std::string_view s) {
        const std::size_t k = s.size() < size - 1 - used ? s.size() : size - 1 - used;
        std::memcpy(buf + used, s.data(), k);
        used += k;
        buf[used] = '\0';
        return *this;
    }
    For_Safe_Text &dec(long long v) {
        char d[24];
        char *p = d + sizeof d;
        unsigned long long u = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        do {
            *--p = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
        if (v < 0) *--p = '-';
        return add({p, static_cast<std::size_t>(d + sizeof d - p)});
    }
    // Lower-case hexadecimal, at least `width` digits.
    For_Safe_Text &hex(unsigned long long v, int width = 1) {
        char d[16];
        int n = 0;
        do {
            d[15 - n++] = "0123456789abcdef"[v & 0xf];
            v >>= 4;
        } while (v != 0 || n < width);
        return add({d + 16 - n, static_cast<std::size_t>(n)});
    }
};

// Formats a message text for the signal handler: %d and %i take `ints` in
// order, %s takes `strs` in order, %% is a percent sign; anything else is
// copied as it stands.
void for__safe_format(For_Safe_Text &out, const char *fmt, const long long *ints, int nints, const char *const *strs,
                      int nstrs);

// Issues message `number` from the signal handler, built in a static
// emergency buffer from the built-in texts, with a trace from the signal's
// context, and written with write(2) to the log file and standard error.
// The user error handler sees it first. Returns 1 when the handler claimed
// it (nothing printed), else 0; it never ends the process.
int for__issue_signal_diagnostic(int number, const char *arg, int line);

// for__traceback_text for the signal handler: waits a bounded time for a
// trace of another thread to end instead of blocking on it.
std::size_t for__traceback_text_in_handler(uintptr_t start_ip, char *out, std::size_t room);

// The user error handler and its context; with `wait` false the cell is
// read only when no thread is changing it (else null).
For_User_Error_Handler for__user_error_handler(void **context, bool wait);
