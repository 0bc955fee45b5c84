#include <fstream>
#include "unformatted/uf_kit.h"

#include "support/oracle.h"

namespace uf {

std::optional<std::string> gfortran_run_flags(const std::string &source, const std::string &flags) {
    return kit::gfortran_run(source, flags);
}

uint64_t available_memory() {
    std::ifstream in("/proc/meminfo");
    std::string key, unit;
    uint64_t kib = 0;
    while (in >> key >> kib >> unit)
        if (key == "MemAvailable:") return kib * 1024;
    return 0;
}

}  // namespace uf
