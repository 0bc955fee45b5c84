// The run-time signal handler: each fatal signal becomes a run-time message
// with a trace from the point of the fault, and the process ends through
// the exit handler; a stack that can still grow is grown instead.
#pragma once
#include <signal.h>

#include "diag/for_diag.h"

// Installs for__signal_handler for SIGFPE, SIGILL, SIGSEGV, SIGABRT,
// SIGTERM, SIGQUIT and SIGINT on an alternate signal stack. Start-up.
void for__install_signal_handlers();

// Turns the alternate stack off again (the end of the program).
void for__disable_signal_stack();

void for__signal_handler(int sig, siginfo_t *info, void *context);

// The pending exception record the handler uses when start-up could not
// allocate one (or it was freed at the end): never freed.
extern For_Excpt_Info for__signal_fallback_record;
