// Memory primitives as seen by their callers: status, result cell, contents.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "runtime/for_vm.h"

// Requests no allocator can meet must come back as null under ASan too.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

constexpr int64_t huge = std::numeric_limits<int64_t>::max();
constexpr int no_memory = 41;

struct Get_Case {
    int64_t size;
    int status;
    bool null_result;
};

TEST(GetVm, StatusAndResultBySize) {
    const Get_Case cases[] = {
        {0, 0, true},  {-1, no_memory, true}, {std::numeric_limits<int64_t>::min(), no_memory, true},
        {1, 0, false}, {4096, 0, false},      {huge, no_memory, true},
    };
    for (const Get_Case &c : cases) {
        void *p = reinterpret_cast<void *>(0x1);  // must be overwritten in every case
        EXPECT_EQ(for__get_vm(c.size, 0, &p), c.status) << "size " << c.size;
        EXPECT_EQ(p == nullptr, c.null_result) << "size " << c.size;
        if (p) {
            std::memset(p, 0x5a, static_cast<size_t>(c.size));  // the whole area is usable
            EXPECT_EQ(for__free_vm(p), 0);
        }
    }
}

TEST(FreeVm, NullIsHarmless) { EXPECT_EQ(for__free_vm(nullptr), 0); }

struct Realloc_Case {
    const char *what;
    int64_t first;  // size of the area before; 0: the cell starts null
    int64_t size;   // requested size
    int status;
    int64_t kept;  // leading bytes that must survive
};

TEST(ReallocVm, ResultsBySize) {
    const Realloc_Case cases[] = {
        {"grow", 16, 65536, 0, 16},
        {"shrink", 4096, 8, 0, 8},
        {"same", 64, 64, 0, 64},
        {"from null", 0, 64, 0, 0},
        {"to zero frees", 64, 0, 0, 0},
        {"null to zero", 0, 0, 0, 0},
        {"negative", 64, -8, no_memory, 64},
        {"impossible", 64, huge, no_memory, 64},
    };
    for (const Realloc_Case &c : cases) {
        SCOPED_TRACE(c.what);
        void *cell = nullptr;
        if (c.first) {
            ASSERT_EQ(for__get_vm(c.first, 0, &cell), 0);
            auto *bytes = static_cast<unsigned char *>(cell);
            for (int64_t i = 0; i < c.first; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
        }
        void *before = cell;
        EXPECT_EQ(for__realloc_vm(c.size, &cell, c.first), c.status);
        if (c.status != 0) {
            EXPECT_EQ(cell, before) << "a failure must leave the cell alone";
        } else if (c.size == 0) {
            EXPECT_EQ(cell, nullptr);
        } else {
            ASSERT_NE(cell, nullptr);
            std::memset(static_cast<char *>(cell) + c.kept, 0, static_cast<size_t>(c.size - c.kept));
        }
        auto *bytes = static_cast<unsigned char *>(cell);
        for (int64_t i = 0; i < c.kept; ++i) ASSERT_EQ(bytes[i], static_cast<unsigned char>(i * 7 + 1)) << "byte " << i;
        for__free_vm(cell);
    }
}

}  // namespace
