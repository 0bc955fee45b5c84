// Floating-point exception settings, trap counts and the trap summary, and
// the classification of SIGFPE into run-time messages.
#include "runtime/for_fpe.h"

#include <ucontext.h>

#include <cstring>

#include <vorlix/stop.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"

std::atomic<uint32_t> for__l_fpe_mask{0};
std::atomic<uint32_t> for__l_undcnt{0}, for__l_ovfcnt{0}, for__l_div0cnt{0}, for__l_invcnt{0}, for__l_inecnt{0};

namespace {

// x87 control word and MXCSR: exception mask bits in the order invalid,
// denormal, divide-by-zero, overflow, underflow, precision; the x87 word
// is only ever set as a whole field of the six.
constexpr uint16_t x87_masks = 0x3f;
constexpr uint32_t mx_flags = 0x3f, mx_ie = 0x1, mx_ze = 0x4, mx_oe = 0x8, mx_ue = 0x10, mx_pe = 0x20, mx_daz = 0x40,
                   mx_mask_shift = 7, mx_masks = 0x3f << 7, mx_ftz = 0x8000;

// Exceptions in hardware order (bit of the flag and mask fields), with the
// settings trap bit, message and counter of each.
struct Kind {
    uint32_t hw_bit;
    uint32_t trap;
    int message;
    std::atomic<uint32_t> *count;
};
// Order of the x87 and SIMD error classification: invalid, divide-by-zero,
// overflow, underflow, inexact.
const Kind classify_order[] = {
    {0x1, fpe::trap_inv, msg::float_invalid, &for__l_invcnt},
    {0x4, fpe::trap_div, msg::float_divide_by_zero, &for__l_div0cnt},
    {0x8, fpe::trap_ovf, msg::float_overflow, &for__l_ovfcnt},
    {0x10, fpe::trap_und, msg::float_underflow, &for__l_undcnt},
    {0x20, fpe::trap_ine, msg::float_inexact, &for__l_inecnt},
};

uint16_t get_x87_cw() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
void set_x87_cw(uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }
uint32_t get_mxcsr() {
    uint32_t m;
    __asm__ volatile("stmxcsr %0" : "=m"(m));
    return m;
}
void set_mxcsr(uint32_t m) { __asm__ volatile("ldmxcsr %0" : : "m"(m)); }

// Whether the processor takes the denormals-are-zero bit: loading MXCSR
// with a bit outside its mask would fault.
bool daz_supported() {
    alignas(16) unsigned char area[512] = {};
    __asm__ volatile("fxsave %0" : "=m"(area));
    uint32_t mask;
    std::memcpy(&mask, area + 28, sizeof mask);
    if (mask == 0) mask = 0xffbf;  // processors that leave it 0 lack DAZ
    return mask & mx_daz;
}

uint32_t trap_bits_from_masks(uint32_t masked) {
    uint32_t t = 0;
    if (!(masked & 0x10)) t |= fpe::trap_und;
    if (!(masked & 0x08)) t |= fpe::trap_ovf;
    if (!(masked & 0x04)) t |= fpe::trap_div;
    if (!(masked & 0x01)) t |= fpe::trap_inv;
    if (!(masked & 0x20)) t |= fpe::trap_ine;
    return t;
}

uint32_t masks_from_trap_bits(uint32_t word) {
    uint32_t m = 0x3f;  // denormal always masked
    if (word & fpe::trap_und) m &= ~0x10u;
    if (word & fpe::trap_ovf) m &= ~0x08u;
    if (word & fpe::trap_div) m &= ~0x04u;
    if (word & fpe::trap_inv) m &= ~0x01u;
    if (word & fpe::trap_ine) m &= ~0x20u;
    return m;
}

const ucontext_t *uc(void *context) { return static_cast<const ucontext_t *>(context); }

// The first exception raised and unmasked, else the first raised, in the
// classification order; msg::float_exception when none is raised.
int first_exception(uint32_t flags, uint32_t masks) {
    for (const Kind &k : classify_order)
        if ((flags & k.hw_bit) && !(masks & k.hw_bit)) return k.message;
    for (const Kind &k : classify_order)
        if (flags & k.hw_bit) return k.message;
    return msg::float_exception;
}

void count(int message) {
    for (const Kind &k : classify_order)
        if (k.message == message) k.count->fetch_add(1, std::memory_order_relaxed);
}

bool holds_fill_pattern(const _libc_xmmreg &x) {
    uint64_t lo;
    std::memcpy(&lo, x.element, sizeof lo);
    return static_cast<uint32_t>(lo) == 0x7FBADDADu || lo == 0x7FF7BADDADBADDADull;
}

}  // namespace

uint32_t for__fpe_current_settings() {
    const uint32_t mx = get_mxcsr();
    const uint16_t cw = get_x87_cw();
    uint32_t word = trap_bits_from_masks((mx >> mx_mask_shift) & 0x3f) | trap_bits_from_masks(cw & x87_masks);
    if (mx & mx_ftz) word |= fpe::abrupt_und;
    word |=
        for__l_fpe_mask.load() & (fpe::count_ovf | fpe::count_und | fpe::count_div | fpe::count_inv | fpe::count_ine);
    return word;
}

VORLIX_API int for_fpe_service(int set, int clear, const int *word) {
    const int before = static_cast<int>(for__fpe_current_settings());
    uint16_t cw = get_x87_cw();
    uint32_t mx = get_mxcsr();
    if (clear) {
        __asm__ volatile("fnclex");
        mx &= ~mx_flags;
    }
    if (set && word) {
        uint32_t w = static_cast<uint32_t>(*word) & ~0xe0000u;
        w |= (w & (fpe::trap_ovf | fpe::trap_div | fpe::trap_inv)) << 16;
        for__l_fpe_mask.store(w);
        const uint32_t masks = masks_from_trap_bits(w);
        // Precision and rounding fields stay as the program set them.
        cw = static_cast<uint16_t>((cw & ~x87_masks) | masks);
        uint32_t mx_masks_new = masks;
        if (w & fpe::abrupt_und) mx_masks_new |= 0x10;  // flushed results never trap
        mx = (mx & ~(mx_masks | mx_ftz | mx_daz)) | (mx_masks_new << mx_mask_shift);
        if (w & fpe::abrupt_und) {
            mx |= mx_ftz;
            if (daz_supported()) mx |= mx_daz;
        }
        if (w & fpe::raise_div) mx |= mx_ze;
        if (w & fpe::raise_ine) mx |= mx_pe;
        if (w & fpe::raise_inv) mx |= mx_ie;
        if (w & fpe::raise_ovf) mx |= mx_oe;
        if (w & fpe::raise_und) mx |= mx_ue;
        set_x87_cw(cw);
    }
    if (set || clear) set_mxcsr(mx);
    return before;
}

VORLIX_API int for_get_fpe_(void) { return for_fpe_service(0, 0, nullptr); }

VORLIX_API int for_set_fpe_(const int *word) { return for_fpe_service(1, 1, word); }

VORLIX_API void for_enable_underflow(void) {
    const int word = static_cast<int>(for__l_fpe_mask.load() | fpe::trap_und | fpe::count_und | fpe::abrupt_und);
    for_fpe_service(1, 0, &word);
}

VORLIX_API void for_get_fpe_counts_(const int *n, int *counts) {
    if (!n || !counts) return;
    const std::atomic<uint32_t> *order[] = {&for__l_undcnt, &for__l_ovfcnt, &for__l_div0cnt, &for__l_invcnt,
                                            &for__l_inecnt};
    for (int i = 0; i < *n && i < 5; ++i) counts[i] = static_cast<int>(order[i]->load());
}

void for__fpe_exit_handler() {
    struct Line {
        uint32_t bit;
        int message;
        const std::atomic<uint32_t> *count;
    };
    static const Line lines[] = {{fpe::count_und, msg::fpe_underflow_traps, &for__l_undcnt},
                                 {fpe::count_ovf, msg::fpe_overflow_traps, &for__l_ovfcnt},
                                 {fpe::count_div, msg::fpe_divide_by_zero_traps, &for__l_div0cnt},
                                 {fpe::count_inv, msg::fpe_invalid_traps, &for__l_invcnt},
                                 {fpe::count_ine, msg::fpe_inexact_traps, &for__l_inecnt}};
    const uint32_t mask = for__l_fpe_mask.load();
    for (const Line &l : lines) {
        const uint32_t n = l.count->load();
        if ((mask & l.bit) && n != 0) for__issue_diagnostic(l.message, 1, static_cast<int>(n));
    }
}

int get_flt_inv_message(void *context) {
    if (for__l_excpt_info) for__l_excpt_info->fp_reporting = 1;
    // An uninitialised real is filled with a signalling-NaN pattern; scalar
    // SSE operations take their operands in the first two registers.
    if (context && uc(context)->uc_mcontext.fpregs) {
        const auto *fp = uc(context)->uc_mcontext.fpregs;
        if (holds_fill_pattern(fp->_xmm[0]) || holds_fill_pattern(fp->_xmm[1])) return msg::float_invalid_uninit;
    }
    return msg::float_invalid;
}

int handle_flt_und(void *) {
    // Repairing an x87 underflow in place needs the instruction decoded;
    // no form is decoded here, so every one is reported as it stands.
    for__l_undcnt.fetch_add(1, std::memory_order_relaxed);
    return msg::float_underflow;
}

int handle_flt_signal(const siginfo_t *info, void *context) {
    if (!info) return msg::float_exception;
    int message = 0;
    switch (info->si_code) {
    case FPE_INTDIV: return msg::integer_divide_by_zero;
    case FPE_INTOVF: return msg::integer_overflow;
    case FPE_FLTDIV: message = msg::float_divide_by_zero; break;
    case FPE_FLTOVF: message = msg::float_overflow; break;
    case FPE_FLTUND: return handle_flt_und(context);
    case FPE_FLTRES: message = msg::float_inexact; break;
    case FPE_FLTINV: for__l_invcnt.fetch_add(1, std::memory_order_relaxed); return get_flt_inv_message(context);
    case FPE_FLTSUB: return msg::sigtrap_bounds;
    default: break;
    }
    if (message != 0) {
        count(message);
        return message;
    }
    // Sent by a process (kill, sigqueue, tgkill): no instruction faulted, so
    // the trap number left in the context says nothing about this signal.
    if (info->si_code <= 0 || !context) return msg::float_exception;
    const mcontext_t &mc = uc(context)->uc_mcontext;
    switch (mc.gregs[REG_TRAPNO]) {
    case 0: return msg::integer_divide_by_zero;
    case 4: return msg::integer_overflow;
    case 16:
        if (!mc.fpregs) return msg::float_exception;
        message = first_exception(mc.fpregs->swd, mc.fpregs->cwd);
        break;
    case 19:
        if (!mc.fpregs) return msg::float_exception;
        message = first_exception(mc.fpregs->mxcsr & mx_flags, (mc.fpregs->mxcsr >> mx_mask_shift) & 0x3f);
        break;
    default: return msg::float_exception;
    }
    if (message == msg::float_underflow) return handle_flt_und(context);
    count(message);
    return message;
}
