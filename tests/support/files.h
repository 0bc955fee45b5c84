// Files and connections of a test: a scratch directory that goes away with
// everything in it, and OPEN / CLOSE as compiled code calls them. Header-only
// so that suites loading the shared library use it as well.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <vorlix/abi.h>
#include <vorlix/io.h>

#include "support/kit.h"

namespace kit {

// A fresh directory below `root` named after the suite, removed at the end
// of its scope. A test that cannot make one cannot mean anything, so the
// failure throws (GoogleTest reports it as the test's failure).
class Scratch_Dir {
  public:
    explicit Scratch_Dir(std::string_view tag = "scratch", std::string_view root = "/tmp") {
        std::string templ = std::string(root) + "/vorlix-" + std::string(tag) + "-XXXXXX";
        if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp " + templ);
        dir_ = templ;
    }
    ~Scratch_Dir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    Scratch_Dir(const Scratch_Dir &) = delete;
    Scratch_Dir &operator=(const Scratch_Dir &) = delete;

    const std::string &dir() const { return dir_; }
    std::string path(std::string_view name) const { return dir_ + "/" + std::string(name); }

  private:
    std::string dir_;
};

// A file's bytes, read and written with the plain library: what a test
// compares a unit's file with, or gives a unit to read.
using Bytes = std::vector<unsigned char>;
inline Bytes file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void put_file(const std::string &path, const Bytes &b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

// OPEN (unit, <keys>) with IOSTAT= unless `flags` says otherwise.
inline int open_unit(int unit, Keys &keys, For_IO_Flags flags = Flags{}.iostat()) {
    For_Context ctx{};
    return for_open(&ctx, unit, flags, keys.dsc(), keys.val());
}

// CLOSE (unit[, STATUS=status], IOSTAT=ios).
inline int close_unit(int unit, const char *status = nullptr) {
    Keys k;
    if (status) k.text(FOR_KEY_DISPOSE, status);
    For_Context ctx{};
    return for_close(&ctx, unit, Flags{}.iostat(), k.dsc(), k.val());
}

}  // namespace kit
