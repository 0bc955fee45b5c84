// Dynamic COMMON: shared blocks by name, the allocation chain, the fill, and
// the two reports that end the process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/for_dyncom.h"
#include "runtime/for_vm.h"

// The program's own allocator: counts and records what it is asked, then
// allocates as the library would.
namespace program_alloc {
std::atomic<int> calls{0};
std::string last_name;
int64_t last_size = 0;
}  // namespace program_alloc

extern "C" int _FTN_ALLOC(void **address, int64_t *size, const char *name) {
    ++program_alloc::calls;
    program_alloc::last_name = name;
    program_alloc::last_size = *size;
    return default_FTN_ALLOC(address, size);
}

namespace {

// One procedure's request list as the compiler lays it out.
class Request_List {
  public:
    Request_List(const char *procedure, int64_t flags) { words_ = {0, reinterpret_cast<int64_t>(procedure), flags}; }
    Request_List &block(const char *name, void **cell, int64_t size) {
        words_.push_back(reinterpret_cast<int64_t>(name));
        words_.push_back(reinterpret_cast<int64_t>(cell));
        words_.push_back(size);
        ++words_[0];
        return *this;
    }
    void bind() const { f90_dyncom(words_.data()); }

  private:
    std::vector<int64_t> words_;
};

void *bind_one(const char *name, int64_t size, int64_t flags = 0) {
    void *p = nullptr;
    Request_List("SUBR", flags).block(name, &p, size).bind();
    return p;
}

// Installed allocator of the replaceable hook: records, and may fail.
namespace installed {
int calls = 0;
int64_t give = -1;  // when >= 0, the size it claims to have allocated
bool fail = false;
int alloc(void **address, int64_t *size, const char *) {
    ++calls;
    if (fail) {
        *address = nullptr;
        *size = 0;
        return 41;
    }
    int status = default_FTN_ALLOC(address, size);
    if (give >= 0) *size = give;
    return status;
}
}  // namespace installed

TEST(Dyncom, SameNameGivesTheSameBlock) {
    int before = program_alloc::calls;
    void *first = bind_one("SHARED1", 64);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(bind_one("SHARED1", 64), first);
    EXPECT_EQ(bind_one("SHARED1", 8), first) << "a smaller declaration shares the block";
    EXPECT_EQ(program_alloc::calls, before + 1);
}

TEST(Dyncom, NamesInOneBucketStayApart) {
    // Same length, same first + last character: one hash bucket.
    const char *const names[] = {"AXB", "BXA", "AYB", "BYA"};
    std::vector<void *> blocks;
    for (const char *n : names) blocks.push_back(bind_one(n, 16));
    for (size_t i = 0; i < blocks.size(); ++i) {
        ASSERT_NE(blocks[i], nullptr) << names[i];
        for (size_t j = 0; j < i; ++j) EXPECT_NE(blocks[i], blocks[j]) << names[i] << " vs " << names[j];
    }
    for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(bind_one(names[i], 16), blocks[i]) << names[i];
}

struct Fill_Case {
    const char *name;
    int64_t size;
    int64_t allocated;  // after rounding up to a multiple of 8
};

TEST(Dyncom, NewBlocksAreRoundedAndFilled) {
    const Fill_Case cases[] = {
        {"FILL1", 1, 8},
        {"FILL20", 20, 24},
        {"FILL64", 64, 64},
        {"FILL0", 0, 8},
    };
    for (const Fill_Case &c : cases) {
        auto *p = static_cast<unsigned char *>(bind_one(c.name, c.size, for__dyncom_fill_flag));
        ASSERT_NE(p, nullptr) << c.name;
        EXPECT_EQ(program_alloc::last_size, c.allocated) << c.name;
        EXPECT_EQ(program_alloc::last_name, c.name);
        for (int64_t i = 0; i < c.allocated; ++i) ASSERT_EQ(p[i], 0x81) << c.name << " byte " << i;
    }
}

TEST(Dyncom, AnExistingBlockIsNotFilledAgain) {
    auto *p = static_cast<char *>(bind_one("KEEPME", 16, for__dyncom_fill_flag));
    ASSERT_NE(p, nullptr);
    std::strcpy(p, "values");
    EXPECT_EQ(bind_one("KEEPME", 16, for__dyncom_fill_flag), p);
    EXPECT_STREQ(p, "values");
}

TEST(Dyncom, OneListBindsEveryBlock) {
    void *a = nullptr, *b = nullptr, *c = nullptr;
    Request_List("MAIN", 0).block("LISTA", &a, 8).block("LISTB", &b, 80).block("LISTA", &c, 8).bind();
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(c, a);
}

TEST(Dyncom, LongNamesAreCutForTheAllocatorOnly) {
    std::string name1(300, 'L'), name2(300, 'L');
    name2[290] = 'M';  // differs after the 255 characters the allocator sees
    void *a = bind_one(name1.c_str(), 8);
    EXPECT_EQ(program_alloc::last_name, std::string(255, 'L'));
    void *b = bind_one(name2.c_str(), 8);
    EXPECT_NE(a, b);
    EXPECT_EQ(bind_one(name1.c_str(), 8), a);
}

TEST(Dyncom, InstalledRoutineComesFirst) {
    EXPECT_EQ(for__set_ftn_alloc(installed::alloc), nullptr);
    int program_before = program_alloc::calls;
    installed::calls = 0;
    EXPECT_NE(bind_one("HOOKED", 32), nullptr);
    EXPECT_EQ(installed::calls, 1);
    EXPECT_EQ(program_alloc::calls, program_before);

    EXPECT_EQ(for__set_ftn_alloc(nullptr), installed::alloc);
    EXPECT_NE(bind_one("UNHOOKED", 32), nullptr);
    EXPECT_EQ(installed::calls, 1);
    EXPECT_EQ(program_alloc::calls, program_before + 1);
}

TEST(Dyncom, ConcurrentFirstRequestsShareOneBlock) {
    int before = program_alloc::calls;
    constexpr int n = 8;
    void *seen[n] = {};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            while (!go) std::this_thread::yield();
            seen[i] = bind_one("RACED", 128);
        });
    go = true;
    for (auto &t : threads) t.join();
    EXPECT_EQ(program_alloc::calls, before + 1);
    for (int i = 0; i < n; ++i) EXPECT_EQ(seen[i], seen[0]);
}

struct Report_Case {
    const char *what;
    void (*provoke)();
    const char *stderr_pattern;
};

TEST(DyncomDeathTest, FailuresAreReportedAndEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Report_Case cases[] = {
        {"larger second declaration",
         [] {
             bind_one("GROWN", 16);
             void *p = nullptr;
             Request_List("LATER", 0).block("GROWN", &p, 32).bind();
         },
         "^\nforrtl: Allocate Dynamic Common Error - Inconsistent Common Size\n"
         " The current size of dynamic common GROWN is 16\n"
         " The declared size in procedure LATER is 32 bytes\n\n"
         "forrtl: severe \\(585\\): array not allocated"},
        {"allocator gives nothing",
         [] {
             installed::fail = true;
             for__set_ftn_alloc(installed::alloc);
             void *p = nullptr;
             Request_List("FIRST", 0).block("NOMEM", &p, 40).bind();
         },
         "^\nforrtl: Allocate Dynamic Common Error - Allocation Failure\n"
         " The allocation of dynamic common NOMEM of size 40 in procedure FIRST failed\n\n"
         "forrtl: severe \\(585\\): array not allocated"},
        {"allocator gives less",
         [] {
             installed::give = 8;
             for__set_ftn_alloc(installed::alloc);
             bind_one("SHORT", 24);
         },
         "Allocation Failure\n"
         " The allocation of dynamic common SHORT of size 24 in procedure SUBR failed\n"},
        {"negative size", [] { bind_one("NEGATIVE", -8); },
         "Allocation Failure\n"
         " The allocation of dynamic common NEGATIVE of size -8 in procedure SUBR failed\n"},
    };
    for (const Report_Case &c : cases) {
        SCOPED_TRACE(c.what);
        // The process ends with status 585, of which a parent sees the low 8 bits.
        EXPECT_EXIT(c.provoke(), ::testing::ExitedWithCode(585 & 0xff), c.stderr_pattern);
    }
}

}  // namespace
