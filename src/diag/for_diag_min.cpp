// Interim diagnostics: header, formatted text, exit for severe messages.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/for_diag.h"
#include "diag/for_msgtab.h"

namespace {
thread_local char *iomsg_buf;
thread_local uint64_t iomsg_len;
thread_local char msg_buf[264];
const char *const headers[] = {"forrtl: ", "forrtl: info (%i): ", "forrtl: warning (%i): ",
                               "forrtl: error (%i): ", "forrtl: severe (%i): "};
}  // namespace

int get_message(int number, int *severity, const char **text) {
    const For_Msg_Row *r = for__msg_row(number);
    if (!r) return 1;
    *severity = static_cast<int>(r->severity);
    *text = r->text;
    return 0;
}

const char *for__get_msg(int number, int nargs, ...) {
    const For_Msg_Row *r = for__msg_row(number);
    msg_buf[0] = 0;
    if (!r) return msg_buf;
    if (nargs <= 0) {
        std::snprintf(msg_buf, 257, "%s", r->text);
        return msg_buf;
    }
    va_list ap;
    va_start(ap, nargs);
    std::vsnprintf(msg_buf, sizeof msg_buf, r->text, ap);
    va_end(ap);
    return msg_buf;
}

void for__set_iomsg_target(char *buf, uint64_t len) {
    iomsg_buf = buf;
    iomsg_len = len;
}
void for__clear_iomsg_target() {
    iomsg_buf = nullptr;
    iomsg_len = 0;
}

int for__issue_diagnostic(int number, int nargs, ...) {
    number &= 0xffff;
    const For_Msg_Row *r = for__msg_row(number);
    int sev = r ? static_cast<int>(r->severity) : 4;
    char text[4096];
    if (!r) {
        std::snprintf(text, sizeof text, "Message not found");
    } else if (nargs <= 0) {
        std::snprintf(text, sizeof text, "%s", r->text);
    } else {
        va_list ap;
        va_start(ap, nargs);
        std::vsnprintf(text, sizeof text, r->text, ap);
        va_end(ap);
    }
    if (iomsg_buf && iomsg_len) {
        size_t n = std::strlen(text);
        if (n > iomsg_len) n = iomsg_len;
        std::memcpy(iomsg_buf, text, n);
        std::memset(iomsg_buf + n, ' ', iomsg_len - n);
    }
    std::fprintf(stderr, headers[sev], number);
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    if (sev == 4) std::exit(number & 0xff ? number : 1);
    return 0;
}
