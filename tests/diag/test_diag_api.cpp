// The diagnostics routines that return their results: message formatting,
// lookups, ERRSNS, GERROR, the handler cell, exit statuses and trace text.
#include "diag/for_diag.h"
#include "diag/for_msgtab.h"
#include "runtime/for_threadstor.h"
#include "units/for_lub_mgt.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string vformat(const char *fmt, int nargs, ...) {
    char out[128];
    va_list ap;
    va_start(ap, nargs);
    std::size_t n = for__vformat_msg(out, sizeof out, fmt, nargs, ap);
    va_end(ap);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}

TEST(MsgFormat, ArgumentsFromTheCallerPerConversion) {
    EXPECT_EQ(vformat("unit %d, file %s", 2, 12, "a.dat"), "unit 12, file a.dat");
    EXPECT_EQ(vformat("unit %d, file %s", 1, 12), "unit 12, file ");
    EXPECT_EQ(vformat("unit %d, file %s", 0), "unit 0, file ");
    EXPECT_EQ(vformat("%ld and %lx", 2, 1L << 40, 255L), "1099511627776 and ff");
    EXPECT_EQ(vformat("%8.8x|%-4d|%%|%c", 3, 29u, 7, 'z'), "0000001d|7   |%|z");
    EXPECT_EQ(vformat("%.*s!", 2, 3, "abcdef"), "abc!");
    EXPECT_EQ(vformat("%5.2f", 1, 3.14159), " 3.14");
    EXPECT_EQ(vformat("x%s", 1, static_cast<const char *>(nullptr)), "x");
    // A conversion the library would not pass arguments to stops the reading.
    EXPECT_EQ(vformat("%d %n %s", 3, 1, nullptr, "no"), "1 %n %s");
    EXPECT_EQ(vformat("%2$s %1$d", 2, 1, "x"), "%2$s %1$d");
    EXPECT_EQ(vformat("cut %", 1, 5), "cut %");
}

TEST(MsgFormat, TypedArgumentsNeverCrossTypes) {
    struct Case {
        const char *fmt;
        std::string expected;
    };
    const long long ints[] = {12};
    const char *strings[] = {"KEY", "f.dat"};
    const Case cases[] = {
        {"unit %d, file %s", "unit 12, file KEY"},
        {"incorrect %s specifier, unit %d, file %s", "incorrect KEY specifier, unit 12, file f.dat"},
        {"file %s, line %d", "file KEY, line 12"},
        {"%d %d %s %s %s", "12 0 KEY f.dat "},
        {"%ld %lx", "12 0"},
        {"%f %p", "0.000000 (nil)"},
        {"plain", "plain"},
    };
    for (const Case &c : cases) {
        char out[128];
        for__format_msg_typed(out, sizeof out, c.fmt, ints, 1, strings, 2);
        EXPECT_EQ(out, c.expected) << c.fmt;
    }
}

TEST(MsgFormat, StaysWithinTheRoom) {
    const long long ints[] = {123456};
    const char *strings[] = {"abcdefghij"};
    struct Case {
        std::size_t room;
        std::string expected;
    };
    const Case cases[] = {
        {1, ""}, {2, "u"}, {8, "unit 12"}, {12, "unit 123456"}, {15, "unit 123456 ab"}, {40, "unit 123456 abcdefghij!"},
    };
    for (const Case &c : cases) {
        char out[64];
        std::memset(out, '#', sizeof out);
        std::size_t n = for__format_msg_typed(out, c.room, "unit %d %s!", ints, 1, strings, 1);
        EXPECT_EQ(std::string(out), c.expected) << c.room;
        EXPECT_EQ(n, c.expected.size());
        EXPECT_EQ(out[c.room], '#') << c.room;
    }
}

TEST(GetMsg, TextsFormattedAndCopied) {
    EXPECT_STREQ(for__get_msg(29, 2, 12, "a.dat"), "file not found, unit 12, file a.dat");
    EXPECT_STREQ(for__get_msg(29, 0), "file not found, unit %d, file %s");
    EXPECT_STREQ(for__get_msg(1000, 0), "");
    EXPECT_STREQ(for__get_msg(-1, 1, 5), "");
    EXPECT_STREQ(for__get_msg(503, 2, 29, 29),
                 "Insufficient memory to allocate Fortran RTL message buffer, message #29 = hex 0000001d.");
    // A long file name is cut to the 263 characters of the buffer.
    const std::string name(400, 'n');
    const std::string full = "file not found, unit 1, file " + name;
    EXPECT_EQ(for__get_msg(29, 2, 1, name.c_str()), full.substr(0, 263));
}

TEST(GetMsg, BufferBelongsToTheThread) {
    const char *mine = for__get_msg(29, 2, 1, "mine");
    std::string other;
    std::thread t([&] { other = for__get_msg(9, 2, 2, "other"); });
    t.join();
    EXPECT_STREQ(mine, "file not found, unit 1, file mine");
    EXPECT_EQ(other, "permission to access file denied, unit 2, file other");
}

TEST(GetMessage, FoundAndNotFound) {
    int severity = -7;
    const char *text = "untouched";
    EXPECT_EQ(get_message(789, &severity, &text), 1);
    EXPECT_EQ(severity, -7);
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(get_message(408, &severity, &text), 0);
    EXPECT_EQ(severity, 4);
    EXPECT_STREQ(text, "%s");
    EXPECT_STREQ(for__msg_header(4), "forrtl: severe (%i): ");
    EXPECT_STREQ(for__msg_header(0), "forrtl: ");
    EXPECT_STREQ(for__forrtl_header(), "forrtl");
}

TEST(ImageLine, TeamOrNot) {
    struct Case {
        int image, original, team;
        std::size_t room;
        std::string expected;
    };
    const Case cases[] = {
        {3, 3, -1, 100, "In coarray image 3\n"},
        {3, 5, 2, 100, "In coarray image 3 (original image 5, team 2)\n"},
        {3, 5, 0, 100, "In coarray image 3 (original image 5, team 0)\n"},
        {12, 1, -1, 10, "In coarra"},
    };
    for (const Case &c : cases) {
        char out[128];
        EXPECT_EQ(for__image_line(out, c.room, c.image, c.original, c.team), c.expected.size());
        EXPECT_EQ(out, c.expected);
    }
}

TEST(SevereExit, StatusNeverReadsAsSuccess) {
    struct Case {
        int number;
        int status;
    };
    const Case cases[] = {
        {29, 29},   {408, 408},       {1000, 1000},       {255, 255}, {256, 255}, {512, 255},
        {768, 255}, {65536 + 29, 29}, {65536 + 256, 255}, {0, 255},   {257, 257},
    };
    for (const Case &c : cases) {
        const int s = for__severe_exit_status(c.number);
        EXPECT_EQ(s, c.status) << c.number;
        EXPECT_NE(s & 0xff, 0) << c.number;
    }
}

class LastError : public ::testing::Test {
  protected:
    void SetUp() override { for__thread_storage().last_error = For_Last_Error{}; }
    void TearDown() override { for__thread_storage().last_error = For_Last_Error{}; }
};

TEST_F(LastError, ErrsnsReturnsAndClears) {
    for_errsns_load(65536 + 29, 2, 3, 12, 5);
    int32_t v[5] = {-1, -1, -1, -1, -1};
    for_errsns(&v[0], &v[1], &v[2], &v[3], &v[4]);
    EXPECT_EQ(v[0], 29);
    EXPECT_EQ(v[1], 2);
    EXPECT_EQ(v[2], 3);
    EXPECT_EQ(v[3], 12);
    EXPECT_EQ(v[4], 5);
    for_errsns(&v[0], &v[1], &v[2], &v[3], &v[4]);
    for (int x : v) EXPECT_EQ(x, 0);
}

TEST_F(LastError, ErrsnsShortResultsAndNullAddresses) {
    for_errsns_load(39, 5, 0, -7, 1);
    int16_t number = -1, unit = -1;
    for_errsns_w(&number, nullptr, nullptr, &unit, nullptr);
    EXPECT_EQ(number, 39);
    EXPECT_EQ(unit, -7);
    for_errsns_w(&number, nullptr, nullptr, &unit, nullptr);
    EXPECT_EQ(number, 0);
    for_errsns(nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(LastError, IsPerThread) {
    for_errsns_load(29, 0, 0, 1, 0);
    int32_t seen = -1;
    std::thread t([&] { for_errsns(&seen, nullptr, nullptr, nullptr, nullptr); });
    t.join();
    EXPECT_EQ(seen, 0);
    int32_t mine = -1;
    for_errsns(&mine, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(mine, 29);
}

void name_unit(int unit, const char *name) {
    For_Lub *lub = nullptr;
    For_Context ctx{};
    ASSERT_EQ(for__acquire_lun(unit, &lub, &ctx, FOR_OP_OPEN), 0);
    std::free(lub->lub_file_name);
    lub->lub_file_name = name ? strdup(name) : nullptr;
    for__release_lub(lub);
}

std::string gerror(std::size_t length) {
    std::string s(length, '?');
    for_gerror_(s.data(), static_cast<int64_t>(length));
    return s;
}

std::string padded(std::string s, std::size_t length) {
    s.resize(length, ' ');
    return s;
}

TEST_F(LastError, GerrorTexts) {
    name_unit(31, "data.txt");
    name_unit(32, nullptr);
    struct Case {
        const char *what;
        uint32_t number;
        int32_t sys_errno;
        int32_t unit;
        std::string keyword;  // exactly as stored; 64 characters has no NUL
        std::size_t length;
        std::string expected;
    };
    const std::string k64(64, 'K');
    const Case cases[] = {
        {"no error: all blanks", 0, 0, 0, "", 20, ""},
        {"message with the unit's file", 29, 0, 31, "", 60, "file not found, unit 31, file data.txt"},
        {"cut to the variable", 29, 0, 31, "", 10, "file not f"},
        {"unit without a name", 29, 0, 32, "", 60, "file not found, unit 32, file "},
        {"unit without a block", 29, 0, 33, "", 60, "file not found, unit 33, file "},
        {"system text wins", 29, ENOENT, 31, "", 60, "No such file or directory"},
        {"a vague system text does not", 29, 9999, 31, "", 60, "file not found, unit 31, file data.txt"},
        {"keyword message", 103, 0, 31, "STATUS", 100,
         "incorrect STATUS specifier for connected file, unit 31, file data.txt"},
        {"keyword of 64 characters without NUL", 104, 0, 31, k64, 200,
         "incorrect " + k64 + " specifier value for connected file, unit 31, file data.txt"},
        {"keyword ignored by other messages", 29, 0, 31, "STATUS", 60, "file not found, unit 31, file data.txt"},
        {"string before integer gets the file, not the unit", 8, 0, 31, "", 80,
         "internal consistency check failure, file data.txt, line 31"},
        {"unknown number", 1000, 0, 31, "", 30, "Message not found"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        For_Last_Error &e = for__thread_storage().last_error;
        e = For_Last_Error{};
        e.err_number = c.number;
        e.err_errno = c.sys_errno;
        e.err_unit = c.unit;
        std::memcpy(e.err_keyword, c.keyword.data(), c.keyword.size());
        // Whatever follows the record must not leak into the text.
        EXPECT_EQ(gerror(c.length), padded(c.expected, c.length));
    }
}

TEST(UserHandler, EstablishReportsThePrevious) {
    auto h1 = [](int *, int *, const char *, void *, int64_t) { return 1; };
    auto h2 = [](int *, int *, const char *, void *, int64_t) { return 0; };
    int64_t ctx1 = 0x1122334455667788;
    For_User_Error_Handler old = nullptr;
    int64_t old_ctx = -1;
    EXPECT_EQ(for__establish_user_error_handler(h1, &ctx1, &old, &old_ctx), 1);
    EXPECT_EQ(old, nullptr);
    EXPECT_EQ(old_ctx, 0);
    EXPECT_EQ(for__intermediate_establish(h2, nullptr, &old, &old_ctx), 1);
    EXPECT_EQ(old, +h1);
    EXPECT_EQ(old_ctx, 0x1122334455667788);
    EXPECT_EQ(for__establish_user_error_handler(nullptr, nullptr, &old, nullptr), 1);
    EXPECT_EQ(old, +h2);
    EXPECT_EQ(for__establish_user_error_handler(nullptr, nullptr, &old, &old_ctx), 1);
    EXPECT_EQ(old, nullptr);
    EXPECT_EQ(old_ctx, 0);
}

extern "C" __attribute__((visibility("default"), noinline)) std::size_t trace_probe(char *out, std::size_t room,
                                                                                    int mode) {
    std::size_t n = for__traceback_text(reinterpret_cast<uintptr_t>(__builtin_return_address(0)), out, room, mode);
    asm volatile("" ::: "memory");  // keeps the call from becoming a tail call
    return n;
}

extern "C" __attribute__((visibility("default"), noinline)) std::size_t trace_probe_caller(char *out, std::size_t room,
                                                                                           int mode) {
    std::size_t n = trace_probe(out, room, mode);
    asm volatile("" ::: "memory");
    return n;
}

TEST(Traceback, StartsAtTheCallerAndKeepsWholeLines) {
    char full[8192];
    std::size_t n = trace_probe_caller(full, sizeof full, 0);
    ASSERT_GT(n, 0u);
    const std::string text(full, n);
    EXPECT_EQ(text.rfind("Stack trace, innermost call first:\n#0   0x", 0), 0u) << text;
    // The frame of trace_probe is skipped; its caller comes first.
    const std::size_t first_end = text.find('\n', 35);
    const std::string first = text.substr(35, first_end - 35);
    EXPECT_NE(first.find(" trace_probe_caller+0x"), std::string::npos) << text;
    EXPECT_EQ(text.find(" trace_probe+0x"), std::string::npos) << text;

    char plain[8192];
    std::size_t m = trace_probe_caller(plain, sizeof plain, 1);
    EXPECT_EQ(std::string(plain, m).rfind("#0   0x", 0), 0u);

    // One call site for all rooms, so that every trace has the same frames.
    std::string whole;
    for (std::size_t room :
         {std::size_t{8192}, std::size_t{1}, std::size_t{10}, std::size_t{36}, std::size_t{80}, n, n + 1}) {
        SCOPED_TRACE(room);
        char buf[8193];
        std::memset(buf, '#', sizeof buf);
        std::size_t k = trace_probe_caller(buf, room, 0);
        if (whole.empty()) {
            whole.assign(buf, k);
            continue;
        }
        EXPECT_LT(k, room);
        EXPECT_EQ(buf[k], '\0');
        EXPECT_EQ(buf[room], '#');
        EXPECT_EQ(std::string(buf, k), whole.substr(0, k));
        if (k > 0) {
            EXPECT_EQ(buf[k - 1], '\n');
        }
        if (room == whole.size() + 1) {
            EXPECT_EQ(k, whole.size());
        } else if (room > 36) {
            EXPECT_GT(k, 0u);
        }
    }
    char none[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(for__traceback_text(0, none, 0, 0), 0u);
    EXPECT_EQ(none[0], '#');
}

TEST(Traceback, EachThreadGetsItsOwn) {
    std::string a, b;
    auto work = [](std::string *s) {
        char buf[8192];
        for (int i = 0; i < 50; ++i) {
            std::size_t n = trace_probe_caller(buf, sizeof buf, 1);
            if (n == 0) *s = "empty";
        }
        std::size_t n = trace_probe_caller(buf, sizeof buf, 1);
        if (s->empty()) s->assign(buf, n);
    };
    std::thread t1(work, &a), t2(work, &b);
    t1.join();
    t2.join();
    EXPECT_NE(a.find("trace_probe_caller"), std::string::npos) << a;
    EXPECT_NE(b.find("trace_probe_caller"), std::string::npos) << b;
}

}  // namespace
