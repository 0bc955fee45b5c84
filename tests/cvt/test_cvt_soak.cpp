// The random comparisons of test_cvt_random at a hundred times the counts,
// with a seed of their own.  They take many minutes, so they only run when
// VORLIX_SOAK is set (ctest -L soak).
#include "cvt_random_cases.h"

namespace {

bool soak_wanted() { return std::getenv("VORLIX_SOAK") != nullptr; }

long soak(long n) { return scaled(n * 100); }

class Soak : public ::testing::TestWithParam<const Fmt *> {
  protected:
    void SetUp() override {
        if (!soak_wanted()) GTEST_SKIP() << "soak test: set VORLIX_SOAK=1 to run it";
        if (!have_mpfr()) GTEST_SKIP() << "MPFR not found at build time (install libmpfr-dev and libgmp-dev)";
    }
};

TEST_P(Soak, AllModesAgainstMpfrAndGlibc) {
    const Fmt &f = *GetParam();
    const uint64_t seed = test_seed() ^ 0x50a550a5ull;
    for (Mode m : kModes) {
        check_output_mpfr(f, m, soak(f.p == 113 ? 20000 : 60000), seed);
        check_input_mpfr(f, m, soak(f.p == 113 ? 20000 : 60000), seed);
        if (m != Mode::rc) check_glibc(f, m, soak(f.p == 113 ? 100000 : 1000000), seed);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, Soak, ::testing::Values(&kS, &kT, &kX),
                         [](const ::testing::TestParamInfo<const Fmt *> &i) { return std::string(i.param->name); });

}  // namespace
