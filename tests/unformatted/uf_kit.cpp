#include "unformatted/uf_kit.h"

#include "support/oracle.h"

namespace uf {

std::optional<std::string> gfortran_run_flags(const std::string &source, const std::string &flags) {
    return kit::gfortran_run(source, flags);
}

}  // namespace uf
