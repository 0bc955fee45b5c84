// A program that supplies no _FTN_ALLOC and installs no routine: dynamic
// COMMON falls back on the library's own allocation.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "runtime/for_dyncom.h"
#include "runtime/for_vm.h"

extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

constexpr int64_t huge = std::numeric_limits<int64_t>::max();
constexpr int no_memory = 41;

// With no routine installed and no _FTN_ALLOC in the program the built-in
// allocation is used, which zeroes the size cell when it fails.
TEST(FtnAlloc, DefaultChainEndsInGetVm) {
    ASSERT_EQ(the_ftn_alloc_routine.load(), nullptr);
    void *p = nullptr;
    int64_t size = 40;
    EXPECT_EQ(do_ftn_alloc(&p, &size, "BLOCK"), 0);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(size, 40);
    for__free_vm(p);

    size = huge;
    EXPECT_EQ(do_ftn_alloc(&p, &size, "BLOCK"), no_memory);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(size, 0);
}

TEST(FtnAlloc, DynamicCommonWorksWithoutAnyAllocatorOfTheProgram) {
    int (*program_alloc)(void **, int64_t *, const char *) = _FTN_ALLOC;
    ASSERT_EQ(program_alloc, nullptr);
    void *block = nullptr;
    const int64_t list[] = {1,
                            reinterpret_cast<int64_t>("MAIN"),
                            for__dyncom_fill_flag,
                            reinterpret_cast<int64_t>("PLAIN"),
                            reinterpret_cast<int64_t>(&block),
                            12};
    f90_dyncom(list);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<unsigned char *>(block)[11], 0x81);
}

}  // namespace
