// The floating-point exception settings word against the hardware control
// registers, the trap counts, and the classification of SIGFPE from the
// signal information and the saved machine context.
#include <gtest/gtest.h>

#include <signal.h>
#include <ucontext.h>

#include <cstring>

#include <vorlix/stop.h>

#include "diag/for_msgnum.h"
#include "runtime/for_fpe.h"

namespace {

uint32_t mxcsr() {
    uint32_t m;
    __asm__ volatile("stmxcsr %0" : "=m"(m));
    return m;
}

uint16_t x87_cw() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

// Every case leaves the processor as it found it.
class Fpe : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_mx_ = mxcsr();
        saved_cw_ = x87_cw();
    }
    void TearDown() override {
        __asm__ volatile("ldmxcsr %0" : : "m"(saved_mx_));
        __asm__ volatile("fldcw %0" : : "m"(saved_cw_));
        for__l_fpe_mask = 0;
    }
    uint32_t saved_mx_;
    uint16_t saved_cw_;
};

TEST_F(Fpe, SettingsReachTheControlRegistersAndReadBack) {
    struct Case {
        int word;
        uint32_t mx_masks;  // MXCSR exception masks expected (bits 7..12)
        uint16_t x87_masks;
        bool ftz;
        int read_back;
    } cases[] = {
        {0, 0x1f80, 0x3f, false, 0},
        {0x4, 0x1d80, 0x3b, false, 0x4},        // divide-by-zero traps
        {0x8 | 0x2, 0x1b00, 0x36, false, 0xa},  // invalid and overflow
        {0x1, 0x1780, 0x2f, false, 0x1},        // underflow traps
        // Abrupt underflow: flushed, so the SSE underflow never traps.
        {0x10201, 0x1f80, 0x2f, true, 0x10201},
        {0x10 | 0x1000, 0x0f80, 0x1f, false, 0x1010},  // inexact, counted
    };
    for (const Case &c : cases) {
        for_set_fpe_(&c.word);
        EXPECT_EQ(mxcsr() & 0x1f80, c.mx_masks) << std::hex << c.word;
        EXPECT_EQ(x87_cw() & 0x3f, c.x87_masks) << std::hex << c.word;
        EXPECT_EQ((mxcsr() & 0x8000) != 0, c.ftz) << std::hex << c.word;
        const int back = for_get_fpe_();
        // x87 keeps the underflow trap of an abrupt-underflow word.
        EXPECT_EQ(back, c.read_back) << std::hex << c.word;
    }
}

TEST_F(Fpe, SettingAWordCopiesTrapBitsAndRaisesStickyFlags) {
    const int word = 0x4 | 0x8 | 0x200000 | 0x2000000;
    for_set_fpe_(&word);
    EXPECT_EQ(for__l_fpe_mask.load(), static_cast<uint32_t>(word | 0x40000 | 0x80000));
    EXPECT_EQ(mxcsr() & 0x3f, 0x4u | 0x10u) << "divide-by-zero and underflow flags raised";
    const int plain = 0;
    for_fpe_service(1, 1, &plain);
    EXPECT_EQ(mxcsr() & 0x3f, 0u) << "the clear flag resets the sticky flags";
}

TEST_F(Fpe, ReturnsTheSettingsFoundOnEntry) {
    const int first = 0x4;
    for_set_fpe_(&first);
    const int second = 0x8;
    EXPECT_EQ(for_set_fpe_(&second), 0x4);
    EXPECT_EQ(for_get_fpe_(), 0x8);
}

TEST_F(Fpe, EnableUnderflowAddsTrapCountAndAbruptUnderflow) {
    const int word = 0x100;
    for_set_fpe_(&word);
    for_enable_underflow();
    EXPECT_EQ(for__l_fpe_mask.load(), 0x10301u);
}

TEST(FpeCounts, TheFirstNCountsInTheirOrder) {
    for__l_undcnt = 1;
    for__l_ovfcnt = 2;
    for__l_div0cnt = 3;
    for__l_invcnt = 4;
    for__l_inecnt = 5;
    struct Case {
        int n;
        int expect[6];
    } cases[] = {{2, {1, 2, -1, -1, -1, -1}},
                 {0, {-1, -1, -1, -1, -1, -1}},
                 {-3, {-1, -1, -1, -1, -1, -1}},
                 {5, {1, 2, 3, 4, 5, -1}},
                 {9, {1, 2, 3, 4, 5, -1}}};
    for (const Case &c : cases) {
        int got[6] = {-1, -1, -1, -1, -1, -1};
        for_get_fpe_counts_(&c.n, got);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], c.expect[i]) << "n=" << c.n << " i=" << i;
    }
}

TEST(FpeClassify, SignalCodesAndTrapNumbers) {
    struct Case {
        int code;
        long trapno;
        uint16_t swd, cwd;  // x87 status and control words
        uint32_t mx;
        int message;
    } cases[] = {
        {FPE_INTDIV, 0, 0, 0x37f, 0x1f80, 71},
        {FPE_INTOVF, 0, 0, 0x37f, 0x1f80, 70},
        {FPE_FLTDIV, 19, 0, 0x37f, 0x1f80, 73},
        {FPE_FLTOVF, 19, 0, 0x37f, 0x1f80, 72},
        {FPE_FLTUND, 19, 0, 0x37f, 0x1f80, 74},
        {FPE_FLTRES, 19, 0, 0x37f, 0x1f80, 140},
        {FPE_FLTINV, 19, 0, 0x37f, 0x1f80, 65},
        {FPE_FLTSUB, 0, 0, 0x37f, 0x1f80, 138},
        // Sent with kill: whatever trap number the context holds, no
        // instruction divided by zero.
        {SI_USER, 0, 0, 0x37f, 0x1f80, 75},
        {SI_TKILL, 0, 0, 0x37f, 0x1f80, 75},
        {SI_QUEUE, 16, 0x4, 0x37b, 0x1f80, 75},
        // Kernel codes the table does not know: decided by the trap number.
        {9, 0, 0, 0x37f, 0x1f80, 71},
        {9, 4, 0, 0x37f, 0x1f80, 70},
        {9, 16, 0x4 | 0x1, 0x37b, 0x1f80, 73},  // invalid masked, divide unmasked
        {9, 16, 0x4 | 0x1, 0x37f, 0x1f80, 65},  // all masked: first raised
        {9, 16, 0, 0x37f, 0x1f80, 75},
        {9, 19, 0, 0x37f, (0x1f80 & ~0x400u) | 0x8, 72},  // overflow raised, unmasked
        {9, 5, 0, 0x37f, 0x1f80, 75},
    };
    for (const Case &c : cases) {
        siginfo_t info{};
        info.si_signo = SIGFPE;
        info.si_code = c.code;
        ucontext_t uc{};
        _libc_fpstate fp{};
        fp.swd = c.swd;
        fp.cwd = c.cwd;
        fp.mxcsr = c.mx;
        uc.uc_mcontext.fpregs = &fp;
        uc.uc_mcontext.gregs[REG_TRAPNO] = c.trapno;
        EXPECT_EQ(handle_flt_signal(&info, &uc), c.message) << "code " << c.code << " trap " << c.trapno;
    }
    EXPECT_EQ(handle_flt_signal(nullptr, nullptr), msg::float_exception);
}

TEST(FpeClassify, UninitialisedOperandsAreNamed) {
    struct Case {
        uint64_t xmm0, xmm1;
        int message;
    } cases[] = {{0x7FBADDADull, 0, 182}, {0, 0x7FF7BADDADBADDADull, 182}, {0x7FC00000ull, 0, 65}, {0, 0, 65}};
    for (const Case &c : cases) {
        siginfo_t info{};
        info.si_code = FPE_FLTINV;
        ucontext_t uc{};
        _libc_fpstate fp{};
        std::memcpy(fp._xmm[0].element, &c.xmm0, sizeof c.xmm0);
        std::memcpy(fp._xmm[1].element, &c.xmm1, sizeof c.xmm1);
        uc.uc_mcontext.fpregs = &fp;
        EXPECT_EQ(handle_flt_signal(&info, &uc), c.message) << std::hex << c.xmm0 << ' ' << c.xmm1;
    }
}

}  // namespace
