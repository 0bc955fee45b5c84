// Settings taken from the environment: the boolean test and the four
// I/O size variables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "runtime/for_env.h"

namespace {

// Sets or removes one variable for the lifetime of a case.
class Scoped_Env {
  public:
    Scoped_Env(const char *name, const std::optional<std::string> &value) : name_(name) {
        if (const char *old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~Scoped_Env() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char *name_;
    std::optional<std::string> old_;
};

struct Bool_Case {
    std::optional<std::string> value;  // nullopt: unset
    int expected;
};

TEST(CheckEnvName, ReadsTheValueAsABoolean) {
    const Bool_Case cases[] = {
        {"Yes", 1},
        {"yes", 1},
        {"T", 1},
        {"true", 1},
        {"Y", 1},
        {"1", 1},
        {"007", 1},
        {"4294967296", 1},  // a non-zero number even where 32 bits wrap to 0
        {std::string(100, '0') + "1", 1},
        {"0", 0},
        {"000", 0},
        {"no", 0},
        {"F", 0},
        {"false", 0},
        {"12a", 0},
        {" 1", 0},
        {"1 ", 0},
        {"-1", 0},
        {"", 0},
        {"Y" + std::string(259, 'x'), 1},  // 260 characters: still read
        {"Y" + std::string(260, 'x'), 0},  // 261 characters: ignored
        {std::string(260, '1') + "1", 0},
        {std::nullopt, 0},
    };
    for (const Bool_Case &c : cases) {
        Scoped_Env env("VORLIX_TEST_FLAG", c.value);
        EXPECT_EQ(for_check_env_name("VORLIX_TEST_FLAG"), c.expected)
            << "value " << (c.value ? "\"" + *c.value + "\"" : std::string("unset"));
    }
}

TEST(CheckEnvName, NullNameIsFalse) { EXPECT_EQ(for_check_env_name(nullptr), 0); }

const char *const size_variables[] = {"FORT_BLOCKSIZE", "FORT_BUFFERCOUNT", "FORT_FMT_RECL", "FORT_UFMT_RECL"};

int32_t *cell_of(const std::string &name) {
    if (name == "FORT_BLOCKSIZE") return &for__l_blocksize;
    if (name == "FORT_BUFFERCOUNT") return &for__l_buffercount;
    if (name == "FORT_FMT_RECL") return &for__l_fmtrecl;
    return &for__l_ufmtrecl;
}

// Start-up state: all four settings still 0, no size variable set.
class IoSizes : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char *v : size_variables) {
            saved_[n_++] = std::make_unique<Scoped_Env>(v, std::nullopt);
            *cell_of(v) = 0;
        }
    }
    void TearDown() override {
        for (const char *v : size_variables) *cell_of(v) = 0;
    }

  private:
    std::unique_ptr<Scoped_Env> saved_[4];
    int n_ = 0;
};

struct Size_Case {
    const char *variable;
    std::string value;
    int32_t expected;
};

TEST_F(IoSizes, ConvertsAndChecksEachVariable) {
    const Size_Case cases[] = {
        {"FORT_BLOCKSIZE", "1000", 1024},
        {"FORT_BLOCKSIZE", "0", 0},
        {"FORT_BLOCKSIZE", "1", 512},
        {"FORT_BLOCKSIZE", "512", 512},
        {"FORT_BLOCKSIZE", "513", 1024},
        {"FORT_BLOCKSIZE", "abc", -2},
        {"FORT_BLOCKSIZE", "-512", -2},
        {"FORT_BLOCKSIZE", "-1", -2},
        {"FORT_BLOCKSIZE", "2147467264", 2147467264},
        {"FORT_BLOCKSIZE", "2147467265", -2},
        {"FORT_BLOCKSIZE", "2147483647", -2},
        {"FORT_BLOCKSIZE", "99999999999", -2},
        {"FORT_BLOCKSIZE", "  2048  ", 2048},
        {"FORT_BLOCKSIZE", "+2048", 2048},
        {"FORT_BLOCKSIZE", "20 48", -2},
        {"FORT_BLOCKSIZE", "2048k", -2},
        {"FORT_BLOCKSIZE", "+", -2},
        {"FORT_BLOCKSIZE", "", 0},
        {"FORT_BLOCKSIZE", std::string(258, '0') + "1", 512},  // 259 characters
        {"FORT_BLOCKSIZE", std::string(259, '0') + "1", -2},   // 260 characters
        {"FORT_BUFFERCOUNT", "127", 127},
        {"FORT_BUFFERCOUNT", "0", 0},
        {"FORT_BUFFERCOUNT", "128", -2},
        {"FORT_BUFFERCOUNT", "-1", -2},
        {"FORT_BUFFERCOUNT", "x", -2},
        {"FORT_FMT_RECL", "0", 0},
        {"FORT_FMT_RECL", "132", 132},
        {"FORT_FMT_RECL", "2147483647", 2147483647},
        {"FORT_FMT_RECL", "2147483648", -2},
        {"FORT_FMT_RECL", "-2147483648", -2},
        {"FORT_FMT_RECL", "-1", -2},
        {"FORT_FMT_RECL", "18446744073709551617", -2},  // 2**64 + 1: no wrapping to 1
        {"FORT_UFMT_RECL", "80", 80},
        {"FORT_UFMT_RECL", "-80", -2},
        {"FORT_UFMT_RECL", "8O", -2},
    };
    for (const Size_Case &c : cases) {
        for (const char *v : size_variables) *cell_of(v) = 0;
        Scoped_Env env(c.variable, c.value);
        for__default_io_sizes_env_init();
        EXPECT_EQ(*cell_of(c.variable), c.expected) << c.variable << "=\"" << c.value << "\"";
        for (const char *v : size_variables) {
            if (std::string(v) != c.variable) {
                EXPECT_EQ(*cell_of(v), -1) << v << " while setting " << c.variable;
            }
        }
    }
}

TEST_F(IoSizes, UnsetVariablesAreMinusOne) {
    for__default_io_sizes_env_init();
    for (const char *v : size_variables) EXPECT_EQ(*cell_of(v), -1) << v;
}

TEST_F(IoSizes, SettingsAreReadOnlyOnce) {
    {
        Scoped_Env a("FORT_BLOCKSIZE", "4096");
        Scoped_Env b("FORT_BUFFERCOUNT", "4");
        for__default_io_sizes_env_init();
    }
    Scoped_Env a("FORT_BLOCKSIZE", "8192");
    Scoped_Env b("FORT_BUFFERCOUNT", "200");
    for__default_io_sizes_env_init();
    EXPECT_EQ(for__l_blocksize, 4096);
    EXPECT_EQ(for__l_buffercount, 4);
    EXPECT_EQ(for__l_fmtrecl, -1);
}

TEST(StartTime, SinceEpochIsWallClockSeconds) {
    time_t before = time(nullptr);
    double now = for_since_epoch_t();
    time_t after = time(nullptr);
    EXPECT_GE(now, static_cast<double>(before));
    EXPECT_LT(now, static_cast<double>(after) + 1.0);
}

}  // namespace
