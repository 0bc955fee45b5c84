// Binding through the shared library: libvorlix.so.5 must carry each hook as
// a weak, preemptible reference, so that the dynamic linker settles it on the
// program's definition when there is one and on null otherwise.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>

#include "vorlix/runtime.h"

#define HOOK extern "C" __attribute__((visibility("default")))
HOOK int for_rtl_QCAF_THIS_IMAGE() { return 3; }
HOOK int for_rtl_QCAF_THIS_TEAM_ID() { return 1; }

namespace {

const char *const hooks[] = {
    "for_rtl_QCAF_INIT",
    "for_rtl_QCAF_THIS_IMAGE",
    "for_rtl_QCAF_THIS_ORIGINAL_IMAGE",
    "for_rtl_QCAF_THIS_TEAM_ID",
    "for_rtl_QCAF_PROBABLY_ABORT",
    "for_rtl_QCAF_ABORT",
    "for_rtl_QCAF_FINALIZE",
    "_FTN_ALLOC",
};

std::string loaded_library() {
    // A call into the library keeps it among the program's needed libraries.
    if (for_check_env_name(nullptr) != 0) return {};
    std::string path;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *out) {
            if (std::strstr(info->dlpi_name, "libvorlix.so")) *static_cast<std::string *>(out) = info->dlpi_name;
            return 0;
        },
        &path);
    return path;
}

struct Dyn_Symbol {
    unsigned char bind, type, visibility;
    bool defined;
};

// The dynamic symbol table of an ELF file, by name (version suffix dropped).
std::map<std::string, Dyn_Symbol> dynamic_symbols(const std::string &path) {
    std::map<std::string, Dyn_Symbol> out;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return out;
    struct stat st {};
    fstat(fd, &st);
    void *map = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return out;
    auto *base = static_cast<const char *>(map);
    auto *eh = reinterpret_cast<const Elf64_Ehdr *>(base);
    auto *sh = reinterpret_cast<const Elf64_Shdr *>(base + eh->e_shoff);
    for (int i = 0; i < eh->e_shnum; ++i) {
        if (sh[i].sh_type != SHT_DYNSYM) continue;
        auto *syms = reinterpret_cast<const Elf64_Sym *>(base + sh[i].sh_offset);
        const char *names = base + sh[sh[i].sh_link].sh_offset;
        size_t n = sh[i].sh_size / sizeof(Elf64_Sym);
        for (size_t k = 1; k < n; ++k)
            out[names + syms[k].st_name] = {static_cast<unsigned char>(ELF64_ST_BIND(syms[k].st_info)),
                                            static_cast<unsigned char>(ELF64_ST_TYPE(syms[k].st_info)),
                                            static_cast<unsigned char>(ELF64_ST_VISIBILITY(syms[k].st_other)),
                                            syms[k].st_shndx != SHN_UNDEF};
    }
    munmap(map, static_cast<size_t>(st.st_size));
    return out;
}

TEST(CafBinding, LibraryReferencesEveryHookWeakly) {
    std::string path = loaded_library();
    ASSERT_FALSE(path.empty()) << "libvorlix.so.5 is not loaded";
    auto syms = dynamic_symbols(path);
    ASSERT_FALSE(syms.empty()) << path;
    for (const char *h : hooks) {
        SCOPED_TRACE(h);
        auto it = syms.find(h);
        ASSERT_NE(it, syms.end()) << "no dynamic reference: the hook was settled when the library was linked";
        EXPECT_FALSE(it->second.defined) << "the library must not define a hook itself";
        EXPECT_EQ(it->second.bind, STB_WEAK);
        EXPECT_EQ(it->second.visibility, STV_DEFAULT);
    }
}

TEST(CafBinding, OnlyThePublicEntriesAreExported) {
    auto syms = dynamic_symbols(loaded_library());
    const char *const exported[] = {"for_check_env_name", "for_set_reentrancy", "for__set_ftn_alloc", "f90_dyncom"};
    for (const char *e : exported) {
        auto it = syms.find(e);
        ASSERT_NE(it, syms.end()) << e;
        EXPECT_TRUE(it->second.defined) << e;
        EXPECT_EQ(it->second.type, STT_FUNC) << e;
    }
    const char *const internal[] = {
        "for__caf_init",    "for__this_image_number_or_zero", "for__get_vm",          "for__once_private",
        "for__l_blocksize", "the_ftn_alloc_routine",          "for__reentrancy_mode", "do_ftn_alloc"};
    for (const char *i : internal) {
        auto it = syms.find(i);
        EXPECT_TRUE(it == syms.end() || !it->second.defined) << i << " leaks out of the library";
    }
}

// The lookup the dynamic linker does for the library's references finds the
// program's definitions, and nothing for the hooks it leaves out.
TEST(CafBinding, ProgramHooksAreVisibleToTheLibrary) {
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "for_rtl_QCAF_THIS_IMAGE"), reinterpret_cast<void *>(&for_rtl_QCAF_THIS_IMAGE));
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "for_rtl_QCAF_THIS_TEAM_ID"), reinterpret_cast<void *>(&for_rtl_QCAF_THIS_TEAM_ID));
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "for_rtl_QCAF_FINALIZE"), nullptr);
}

}  // namespace
