// Module object files (kernel/module.c's ELF checks and section lookup): a real model for the
// ELF64 shared objects add_kernel_module() builds.
#include "simkernel/kernel/module_elf.h"

#include <platform/errno.h>

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace sim {
namespace {

template <typename T>
bool fetch(const std::string &file, uint64_t off, T *out) {
    if (off > file.size() || file.size() - off < sizeof(T))
        return false;
    std::memcpy(out, file.data() + off, sizeof(T));
    return true;
}

bool section_bytes(const std::string &file, const Elf64_Shdr &sh, std::string_view *out) {
    if (sh.sh_type == SHT_NOBITS || sh.sh_offset > file.size() ||
        file.size() - sh.sh_offset < sh.sh_size)
        return false;
    *out = std::string_view(file).substr(sh.sh_offset, sh.sh_size);
    return true;
}

std::string cstr_at(std::string_view table, uint64_t off) {
    if (off >= table.size())
        return {};
    std::string_view rest = table.substr(off);
    return std::string(rest.substr(0, rest.find('\0')));
}

}  // namespace

int module_image_read(const std::string &path, ModuleImage *img) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return -ENOENT;
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    Elf64_Ehdr eh;
    if (!fetch(file, 0, &eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
        eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_type != ET_DYN ||
        eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_phentsize != sizeof(Elf64_Phdr))
        return -ENOEXEC;
#if defined(__x86_64__)
    if (eh.e_machine != EM_X86_64)
        return -ENOEXEC;
#elif defined(__aarch64__)
    if (eh.e_machine != EM_AARCH64)
        return -ENOEXEC;
#endif

    *img = ModuleImage{};
    bool have_load = false;
    for (unsigned i = 0; i < eh.e_phnum; i++) {
        Elf64_Phdr ph;
        if (!fetch(file, eh.e_phoff + uint64_t(i) * sizeof ph, &ph))
            return -ENOEXEC;
        if (ph.p_type != PT_LOAD)
            continue;
        uint64_t end = ph.p_vaddr + ph.p_memsz;
        if (!have_load || ph.p_vaddr < img->map_begin)
            img->map_begin = ph.p_vaddr;
        if (!have_load || end > img->map_end)
            img->map_end = end;
        have_load = true;
    }
    if (!have_load)
        return -ENOEXEC;

    std::vector<Elf64_Shdr> sh(eh.e_shnum);
    for (unsigned i = 0; i < eh.e_shnum; i++)
        if (!fetch(file, eh.e_shoff + uint64_t(i) * sizeof(Elf64_Shdr), &sh[i]))
            return -ENOEXEC;
    std::string_view shstr;
    if (eh.e_shstrndx >= sh.size() || !section_bytes(file, sh[eh.e_shstrndx], &shstr))
        return -ENOEXEC;

    bool have_modinfo = false, have_dynsym = false;
    for (const Elf64_Shdr &s : sh) {
        std::string name = cstr_at(shstr, s.sh_name);
        if (name == ".modinfo") {
            std::string_view bytes;
            if (!section_bytes(file, s, &bytes))
                return -ENOEXEC;
            // Entries are NUL-terminated; padding between them shows up as empty strings.
            for (size_t pos = 0; pos < bytes.size();) {
                size_t nul = bytes.find('\0', pos);
                std::string_view entry = bytes.substr(pos, nul == bytes.npos ? nul : nul - pos);
                pos = nul == bytes.npos ? bytes.size() : nul + 1;
                size_t eq = entry.find('=');
                if (entry.empty() || eq == entry.npos)
                    continue;
                img->modinfo.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
            }
            have_modinfo = true;
        } else if (name == "__ksymtab") {
            img->ksymtab_addr = s.sh_addr;
            img->ksymtab_size = s.sh_size;
        } else if (name == "__param") {
            img->param_addr = s.sh_addr;
            img->param_size = s.sh_size;
        } else if (s.sh_type == SHT_DYNSYM) {
            std::string_view syms, strs;
            if (s.sh_link >= sh.size() || s.sh_entsize != sizeof(Elf64_Sym) ||
                !section_bytes(file, s, &syms) || !section_bytes(file, sh[s.sh_link], &strs))
                return -ENOEXEC;
            for (size_t off = sizeof(Elf64_Sym); off + sizeof(Elf64_Sym) <= syms.size();
                 off += sizeof(Elf64_Sym)) {
                Elf64_Sym sym;
                std::memcpy(&sym, syms.data() + off, sizeof sym);
                if (sym.st_shndx != SHN_UNDEF || ELF64_ST_BIND(sym.st_info) != STB_GLOBAL)
                    continue;
                std::string sname = cstr_at(strs, sym.st_name);
                if (!sname.empty())
                    img->imports.push_back(std::move(sname));
            }
            have_dynsym = true;
        }
    }
    if (!have_modinfo || !have_dynsym)
        return -ENOEXEC;
    return 0;
}

std::string modinfo_get(const ModuleImage &img, const std::string &key) {
    for (const auto &[k, v] : img.modinfo)
        if (k == key)
            return v;
    return {};
}

std::vector<std::string> modinfo_get_all(const ModuleImage &img, const std::string &key) {
    std::vector<std::string> out;
    for (const auto &[k, v] : img.modinfo)
        if (k == key)
            out.push_back(v);
    return out;
}

}  // namespace sim
