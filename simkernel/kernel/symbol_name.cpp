// Real model of kallsyms lookups for reports: the host's dynamic linker finds the object that
// holds an address, and that object's ELF symbol table (.symtab, which keeps the module's
// hidden and static functions) names the function or object there.
#include "simkernel/kernel/symbol_name.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

namespace sim {
namespace {

struct Sym {
    uint64_t value, size;
    std::string name;
};

// Defined functions and objects of the ELF file at path, from .symtab (or .dynsym if stripped).
std::vector<Sym> read_symbols(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> img((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Sym> out;
    if (img.size() < sizeof(Elf64_Ehdr) || memcmp(img.data(), ELFMAG, SELFMAG) != 0)
        return out;
    auto *eh = reinterpret_cast<const Elf64_Ehdr *>(img.data());
    if (eh->e_shoff == 0 || eh->e_shoff + (uint64_t)eh->e_shnum * sizeof(Elf64_Shdr) > img.size())
        return out;
    auto *sh = reinterpret_cast<const Elf64_Shdr *>(img.data() + eh->e_shoff);
    for (uint32_t want : {SHT_SYMTAB, SHT_DYNSYM}) {
        for (unsigned i = 0; i < eh->e_shnum; i++) {
            if (sh[i].sh_type != want || sh[i].sh_link >= eh->e_shnum)
                continue;
            const Elf64_Shdr &strs = sh[sh[i].sh_link];
            if (sh[i].sh_offset + sh[i].sh_size > img.size() ||
                strs.sh_offset + strs.sh_size > img.size())
                continue;
            auto *syms = reinterpret_cast<const Elf64_Sym *>(img.data() + sh[i].sh_offset);
            size_t n = sh[i].sh_size / sizeof(Elf64_Sym);
            for (size_t k = 0; k < n; k++) {
                unsigned type = ELF64_ST_TYPE(syms[k].st_info);
                if ((type != STT_FUNC && type != STT_OBJECT) || syms[k].st_shndx == SHN_UNDEF ||
                    syms[k].st_name >= strs.sh_size)
                    continue;
                out.push_back({syms[k].st_value, syms[k].st_size,
                               std::string(img.data() + strs.sh_offset + syms[k].st_name)});
            }
            if (!out.empty())
                return out;
        }
    }
    return out;
}

// The function's own name, as kallsyms shows it: demangled, without scope or parameters.
std::string plain_name(const std::string &sym) {
    int status = 0;
    char *d = abi::__cxa_demangle(sym.c_str(), nullptr, nullptr, &status);
    if (status != 0 || !d)
        return sym;
    std::string s(d);
    free(d);
    s = s.substr(0, s.find('('));
    size_t scope = s.rfind("::");
    return scope == std::string::npos ? s : s.substr(scope + 2);
}

struct SymbolCache {
    std::mutex lock;
    std::map<std::string, std::vector<Sym>> by_file;
};

SymbolCache &cache() {
    static SymbolCache c;
    return c;
}

}  // namespace

std::string symbol_name(const void *addr) {
    Dl_info info;
    if (dladdr(addr, &info) && info.dli_fbase) {
        std::string file = info.dli_fname && *info.dli_fname ? info.dli_fname : "/proc/self/exe";
        uint64_t off =
            reinterpret_cast<uintptr_t>(addr) - reinterpret_cast<uintptr_t>(info.dli_fbase);
        SymbolCache &c = cache();
        std::lock_guard g(c.lock);
        auto it = c.by_file.find(file);
        if (it == c.by_file.end())
            it = c.by_file.emplace(file, read_symbols(file)).first;
        for (const Sym &s : it->second)
            if (off >= s.value && off < s.value + (s.size ? s.size : 1))
                return plain_name(s.name);
    }
    char buf[32];
    snprintf(buf, sizeof(buf), "%p", addr);
    return buf;
}

}  // namespace sim
