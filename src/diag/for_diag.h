// Diagnostics: looking up message numbers and issuing forrtl diagnostics.
#pragma once
#include <cstdint>

// Issues message `number` (low 16 bits) with `nargs` printf arguments that
// follow; returns only when the message's severity does not end the process.
int for__issue_diagnostic(int number, int nargs, ...);

// The message text of `number` without header, formatted with the arguments
// when nargs > 0; an unknown number gives "". Process-wide buffer.
const char *for__get_msg(int number, int nargs, ...);

// 0 when found (severity and text stored), 1 when the number is no message.
int get_message(int number, int *severity, const char **text);

// The IOMSG= variable of the statement whose failure is being diagnosed
// (per thread): the diagnostic's text is copied into it, blank-padded.
void for__set_iomsg_target(char *buf, uint64_t len);
void for__clear_iomsg_target();
