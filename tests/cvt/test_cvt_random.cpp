// Random values and texts, every format and mode, against MPFR (all five
// modes) and glibc (RN, RZ, RD, RU).  Small counts run in the default suite;
// test_cvt_soak runs the same checks with large ones.
#include "cvt_random_cases.h"

namespace {

struct Param {
    const Fmt *f;
    Mode m;
};

class EngineRandom : public ::testing::TestWithParam<Param> {
  protected:
    void SetUp() override {
        if (!have_mpfr()) GTEST_SKIP() << "MPFR not found at build time (install libmpfr-dev and libgmp-dev)";
    }
};

// Per format, cases per mode: binary128 cases cost more in the oracle.
long mpfr_cases(const Fmt &f) { return scaled(f.p == 113 ? 4000 : 25000); }

TEST_P(EngineRandom, DigitsMatchMpfr) {
    check_output_mpfr(*GetParam().f, GetParam().m, mpfr_cases(*GetParam().f), test_seed());
}

TEST_P(EngineRandom, ValuesMatchMpfr) {
    check_input_mpfr(*GetParam().f, GetParam().m, mpfr_cases(*GetParam().f), test_seed());
}

std::vector<Param> all_params() {
    std::vector<Param> v;
    for (const Fmt *f : {&kS, &kT, &kX})
        for (Mode m : kModes) v.push_back({f, m});
    return v;
}

INSTANTIATE_TEST_SUITE_P(AllFormatsModes, EngineRandom, ::testing::ValuesIn(all_params()),
                         [](const ::testing::TestParamInfo<Param> &i) {
                             return std::string(i.param.f->name) + "_" + mode_name(i.param.m);
                         });

class EngineGlibc : public ::testing::TestWithParam<Param> {};

TEST_P(EngineGlibc, BothDirectionsMatchGlibc) {
    const Fmt &f = *GetParam().f;
    check_glibc(f, GetParam().m, scaled(f.p == 113 ? 10000 : 250000), test_seed());
}

std::vector<Param> ieee_params() {
    std::vector<Param> v;
    for (const Fmt *f : {&kS, &kT, &kX})
        for (Mode m : {Mode::rn, Mode::rz, Mode::rd, Mode::ru}) v.push_back({f, m});
    return v;
}

INSTANTIATE_TEST_SUITE_P(IeeeModes, EngineGlibc, ::testing::ValuesIn(ieee_params()),
                         [](const ::testing::TestParamInfo<Param> &i) {
                             return std::string(i.param.f->name) + "_" + mode_name(i.param.m);
                         });

}  // namespace
