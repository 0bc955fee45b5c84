// GNU Fortran as an oracle: run a generated Fortran program and get what it
// printed, to compare with what the library does for the same statements.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace kit {

// The program's standard output, or nullopt when gfortran is not installed
// (the caller skips). A program that fails to build or run fails the test.
std::optional<std::string> gfortran_run(const std::string &source);
// The same with compiler flags of the caller's choosing (default -O0).
std::optional<std::string> gfortran_run(const std::string &source, const std::string &flags);

// The same, split into lines without their terminators.
std::optional<std::vector<std::string>> gfortran_lines(const std::string &source);

}  // namespace kit
