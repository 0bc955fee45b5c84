// The floating-point exception settings of the program: which exceptions
// trap, which are counted and reported at exit, whether underflow is
// flushed to zero; the trap counts; and the classification of SIGFPE.
#pragma once
#include <signal.h>

#include <atomic>
#include <cstdint>

namespace fpe {
// Trap bits, report-at-exit bits and the abrupt-underflow bit of the
// settings word.
constexpr uint32_t trap_und = 0x1, trap_ovf = 0x2, trap_div = 0x4, trap_inv = 0x8, trap_ine = 0x10;
constexpr uint32_t traps = 0x1f;
constexpr uint32_t count_ovf = 0x100, count_und = 0x200, count_div = 0x400, count_inv = 0x800, count_ine = 0x1000;
constexpr uint32_t abrupt_und = 0x10000;
// Sticky MXCSR flags raised when the word is set.
constexpr uint32_t raise_div = 0x200000, raise_ine = 0x400000, raise_inv = 0x800000, raise_ovf = 0x1000000,
                   raise_und = 0x2000000;
}  // namespace fpe

extern std::atomic<uint32_t> for__l_fpe_mask;
extern std::atomic<uint32_t> for__l_undcnt, for__l_ovfcnt, for__l_div0cnt, for__l_invcnt, for__l_inecnt;

// The trap summary of the exit handler: an info message per kind that is
// both asked for and counted.
void for__fpe_exit_handler();

// The message of a SIGFPE (counting it), or 0 when the condition was
// repaired and the program resumes. Safe inside the signal handler.
int handle_flt_signal(const siginfo_t *info, void *context);
int handle_flt_und(void *context);
int get_flt_inv_message(void *context);

// The settings word as the hardware holds it now: trap bits from the
// unmasked exceptions of MXCSR and the x87 control word, abrupt underflow
// from MXCSR flush-to-zero, the report bits from for__l_fpe_mask.
uint32_t for__fpe_current_settings();
