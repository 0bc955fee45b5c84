// Records written before the program ends are on disk, complete and framed,
// however it ends: STOP, ERROR STOP, a severe I/O error that nobody
// handles, or for_rtl_finish_ followed by an exit that runs nothing else.
// Each ending happens in a child process; the parent then checks the file
// byte for byte and, when gfortran is installed, has a gfortran program
// read it back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include <vorlix/runtime.h>
#include <vorlix/stop.h>

#include "support/oracle.h"
#include "unformatted/for_ufseq.h"
#include "unformatted/uf_kit.h"

using uf::Bytes;

namespace {

// The records every child writes: a large INTEGER(4) array (bigger than a
// unit's buffer, so that it may go straight from the array to the file),
// a short CHARACTER record and a REAL(8) scalar, which stay in the buffer
// until the program ends.
constexpr int big_n = 100000;
std::vector<int32_t> big_array() {
    std::vector<int32_t> a(big_n);
    std::iota(a.begin(), a.end(), 1);
    return a;
}
const std::string text_record = "hello";
constexpr double real_record = 3.25;

void put_le(Bytes &out, int32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(static_cast<uint32_t>(v) >> (8 * i)));
}

// A VARIABLE record as subrecords of at most `limit` data bytes.
void variable_record(Bytes &out, const unsigned char *p, size_t n, size_t limit) {
    size_t at = 0;
    do {
        size_t len = std::min(limit, n - at);
        bool more = at + len<n, before = at> 0;
        put_le(out, more ? -static_cast<int32_t>(len) : static_cast<int32_t>(len));
        out.insert(out.end(), p + at, p + at + len);
        put_le(out, before ? -static_cast<int32_t>(len) : static_cast<int32_t>(len));
        at += len;
    } while (at < n);
}

Bytes expected_file(size_t limit) {
    Bytes out;
    auto a = big_array();
    variable_record(out, reinterpret_cast<const unsigned char *>(a.data()), a.size() * 4, limit);
    variable_record(out, reinterpret_cast<const unsigned char *>(text_record.data()), text_record.size(), limit);
    variable_record(out, reinterpret_cast<const unsigned char *>(&real_record), 8, limit);
    return out;
}

enum class Ending { stop, error_stop, severe_error, rtl_finish };

// In the child: writes the records on unit 30, then ends as told. Never
// returns.
[[noreturn]] void child(const std::string &path, const std::string &other, Ending how, uint64_t limit) {
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    char name[] = "ufseq_crash";
    char *argv[] = {name, nullptr};
    int argc = 1;
    for_rtl_init_(&argc, argv);
    for__l_subrec_limit = limit;
    if (uf::open_uf(30, path) != 0) _exit(90);
    auto a = big_array();
    std::string t = text_record;
    double r = real_record;
    kit::Stmt w1(30), w2(30), w3(30);
    w1.items.array(a.data(), a.size()).end();
    w2.items.chars(t).end();
    w3.items.item(r).end();
    if (w1.run(for_write_seq) != 0 || w2.run(for_write_seq) != 0 || w3.run(for_write_seq) != 0) _exit(91);
    switch (how) {
    case Ending::stop: for_stop_core(nullptr, 0, 0, 0, 0); break;
    case Ending::error_stop: for_error_stop(nullptr, 0, 0, 0, 0); break;
    case Ending::severe_error: {
        // An unformatted WRITE on a formatted unit, with no IOSTAT= or
        // ERR= to take the error: the program ends with its message.
        kit::Keys k;
        k.text(FOR_KEY_FILE, other).text(FOR_KEY_FORM, "FORMATTED");
        kit::Flags f;
        For_Context ctx{};
        if (for_open(&ctx, 31, f, k.dsc(), k.val()) != 0) _exit(92);
        kit::Stmt bad(31);
        bad.items.item(r).end();
        bad.run(for_write_seq);
        _exit(93);  // the error did not end the program
    }
    case Ending::rtl_finish: for_rtl_finish_(); _exit(0);  // no exit handler: for_rtl_finish_ alone must have done it
    }
    _exit(94);  // a STOP that returned
}

class UfCrash : public uf::Scratch_Test, public ::testing::WithParamInterface<std::tuple<Ending, uint64_t>> {};

TEST_P(UfCrash, RecordsBeforeTheEndAreOnDisk) {
    const auto [how, limit] = GetParam();
    const std::string path = dir_ + "/data", other = dir_ + "/other";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) child(path, other, how, limit);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    switch (how) {
    case Ending::stop:
    case Ending::rtl_finish: EXPECT_EQ(WEXITSTATUS(status), 0); break;
    case Ending::error_stop: EXPECT_EQ(WEXITSTATUS(status), 128); break;
    case Ending::severe_error:
        // The status is the message number, 256 (an unformatted statement
        // on a formatted unit), whose low 8 bits would say success: 255.
        EXPECT_EQ(WEXITSTATUS(status), 255);
        break;
    }
    const Bytes want = expected_file(limit);
    const Bytes got = uf::file_bytes(path);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << "first difference at byte "
                             << (std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin());

    // And another program reads every record back, then the end of file.
    auto out =
        kit::gfortran_run("program p\n  integer(4) :: a(" + std::to_string(big_n) +
                          ")\n  integer(8) :: s\n  character(5) :: t\n  real(8) :: r\n  integer :: ios\n"
                          "  open (10, file='" +
                          path +
                          "', form='unformatted', status='old')\n"
                          "  read (10) a\n  read (10) t\n  read (10) r\n  read (10, iostat=ios) r\n"
                          "  s = sum(int(a, 8))\n  print '(i0,1x,a,1x,f5.2,1x,l1)', s, t, r, ios < 0\nend program\n");
    if (!out) GTEST_SKIP() << "gfortran is not installed";
    const long long sum = static_cast<long long>(big_n) * (big_n + 1) / 2;
    EXPECT_EQ(*out, std::to_string(sum) + " hello  3.25 T\n");
}

std::string case_name(const ::testing::TestParamInfo<std::tuple<Ending, uint64_t>> &info) {
    static const char *names[] = {"Stop", "ErrorStop", "SevereError", "RtlFinish"};
    return std::string(names[static_cast<int>(std::get<0>(info.param))]) +
           (std::get<1>(info.param) == for_subrec_max ? "" : "Subrecords");
}

INSTANTIATE_TEST_SUITE_P(Endings, UfCrash,
                         ::testing::Combine(::testing::Values(Ending::stop, Ending::error_stop, Ending::severe_error,
                                                              Ending::rtl_finish),
                                            // The usual subrecord limit, and one that splits the
                                            // large record into many subrecords.
                                            ::testing::Values(for_subrec_max, uint64_t{4000})),
                         case_name);

}  // namespace
