// The exported entries through libvorlix.so.5, as a compiled program calls
// them; the program's own _FTN_ALLOC must be found by the library at load time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "vorlix/runtime.h"

extern "C" {
int vorlix_c_check_env(const char *name);
int vorlix_c_set_reentrancy(int mode);
void *vorlix_c_dyncom(const char *procedure, const char *name, int64_t size);
for_ftn_alloc_routine vorlix_c_set_alloc(for_ftn_alloc_routine r);
}

namespace {
int program_calls = 0;
std::string program_name;
alignas(8) unsigned char program_area[256];

int installed_calls = 0;
alignas(8) unsigned char installed_area[64];
int installed(void **address, int64_t *size, const char *) {
    ++installed_calls;
    *address = installed_area;
    return *size <= static_cast<int64_t>(sizeof installed_area) ? 0 : 41;
}
}  // namespace

// Exported from the executable: the library's weak reference binds here.
// Default visibility: the test is built with hidden visibility like the library.
extern "C" __attribute__((visibility("default"))) int _FTN_ALLOC(void **address, int64_t *size, const char *name) {
    ++program_calls;
    program_name = name;
    *address = program_area;
    return *size <= static_cast<int64_t>(sizeof program_area) ? 0 : 41;
}

namespace {

TEST(PublicEntries, EnvironmentTestFromC) {
    setenv("VORLIX_PUBLIC_FLAG", "yes", 1);
    EXPECT_EQ(vorlix_c_check_env("VORLIX_PUBLIC_FLAG"), 1);
    setenv("VORLIX_PUBLIC_FLAG", "0", 1);
    EXPECT_EQ(vorlix_c_check_env("VORLIX_PUBLIC_FLAG"), 0);
    unsetenv("VORLIX_PUBLIC_FLAG");
}

TEST(PublicEntries, ReentrancyFromC) {
    EXPECT_EQ(vorlix_c_set_reentrancy(2), 0);
    EXPECT_EQ(vorlix_c_set_reentrancy(3), 2);
    EXPECT_EQ(vorlix_c_set_reentrancy(0), 2);
}

TEST(PublicEntries, DynamicCommonUsesTheProgramsAllocator) {
    void *block = vorlix_c_dyncom("MAIN", "PROGCOM", 100);
    EXPECT_EQ(block, program_area);
    EXPECT_EQ(program_calls, 1);
    EXPECT_EQ(program_name, "PROGCOM");
    EXPECT_EQ(vorlix_c_dyncom("OTHER", "PROGCOM", 100), program_area);
    EXPECT_EQ(program_calls, 1);
}

TEST(PublicEntries, InstalledAllocatorOverridesTheProgramsOwn) {
    EXPECT_EQ(vorlix_c_set_alloc(installed), nullptr);
    EXPECT_EQ(vorlix_c_dyncom("MAIN", "HOOKCOM", 16), installed_area);
    EXPECT_EQ(installed_calls, 1);
    EXPECT_EQ(vorlix_c_set_alloc(nullptr), installed);
}

}  // namespace
