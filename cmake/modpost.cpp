// modpost and depmod for the simulated kernel's modules.
//
//   modpost OUTPUT.cpp OBJECT.o...
// reads a module's object files, finds the device tables that MODULE_DEVICE_TABLE() named in
// their modinfo ("devtable=of:NAME") and writes the module's MODULE_ALIAS() lines, as the
// kernel's scripts/mod/file2alias.c does.
//
//   modpost --depmod DIR
// reads every DIR/NAME.ko and writes DIR/modules.alias ("alias PATTERN NAME", from each
// module's alias= modinfo) and DIR/modules.dep ("NAME.ko: DEP.ko ...": the modules whose
// exports it uses, and theirs, listed so that modprobe loads them from the last), as depmod
// does.
#include <elf.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// struct of_device_id of platform/mod_devicetable.h.
constexpr size_t kOfNameLen = 32, kOfTypeLen = 32, kOfCompatibleLen = 128;
constexpr size_t kOfIdSize = kOfNameLen + kOfTypeLen + kOfCompatibleLen + sizeof(void *);

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct ModuleSymbols {
    std::vector<std::string> aliases, imports;
    std::set<std::string> exports;
};

// The .modinfo aliases, the undefined dynamic symbols and the defined visible ones of a .ko.
bool read_module(const std::string &path, ModuleSymbols *m) {
    std::string img = read_file(path);
    if (img.size() < sizeof(Elf64_Ehdr) || memcmp(img.data(), ELFMAG, SELFMAG) != 0)
        return false;
    const char *base = img.data();
    auto *eh = reinterpret_cast<const Elf64_Ehdr *>(base);
    auto *sh = reinterpret_cast<const Elf64_Shdr *>(base + eh->e_shoff);
    const char *shstr = base + sh[eh->e_shstrndx].sh_offset;
    for (int i = 0; i < eh->e_shnum; i++) {
        if (!strcmp(shstr + sh[i].sh_name, ".modinfo")) {
            const char *p = base + sh[i].sh_offset, *end = p + sh[i].sh_size;
            for (; p < end; p += strlen(p) + 1)
                if (!strncmp(p, "alias=", 6))
                    m->aliases.emplace_back(p + 6);
        }
        if (sh[i].sh_type != SHT_DYNSYM)
            continue;
        auto *syms = reinterpret_cast<const Elf64_Sym *>(base + sh[i].sh_offset);
        const char *strtab = base + sh[sh[i].sh_link].sh_offset;
        for (size_t j = 1; j < sh[i].sh_size / sizeof(Elf64_Sym); j++) {
            int bind = ELF64_ST_BIND(syms[j].st_info);
            if (bind != STB_GLOBAL)
                continue;
            if (syms[j].st_shndx == SHN_UNDEF)
                m->imports.emplace_back(strtab + syms[j].st_name);
            else
                m->exports.insert(strtab + syms[j].st_name);
        }
    }
    return true;
}

int depmod(const std::string &dir) {
    std::map<std::string, ModuleSymbols> mods;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() != ".ko")
            continue;
        ModuleSymbols m;
        if (!read_module(e.path().string(), &m)) {
            std::cerr << "depmod: " << e.path().string() << ": not a module\n";
            return 1;
        }
        mods[e.path().stem().string()] = std::move(m);
    }
    std::map<std::string, std::string> exporter;
    for (const auto &[name, m] : mods)
        for (const std::string &sym : m.exports)
            if (sym != "__this_module")
                exporter.emplace(sym, name);
    std::string alias_text, dep_text;
    for (const auto &[name, m] : mods) {
        for (const std::string &a : m.aliases)
            alias_text += "alias " + a + " " + name + "\n";
        // Each dependency once, after its own: a load order, written reversed.
        std::vector<std::string> order;
        std::function<void(const std::string &)> visit = [&](const std::string &mod) {
            for (const std::string &sym : mods[mod].imports) {
                auto it = exporter.find(sym);
                if (it == exporter.end() || it->second == mod ||
                    std::find(order.begin(), order.end(), it->second) != order.end())
                    continue;
                visit(it->second);
                order.push_back(it->second);
            }
        };
        visit(name);
        dep_text += name + ".ko:";
        for (auto it = order.rbegin(); it != order.rend(); ++it)
            dep_text += " " + *it + ".ko";
        dep_text += "\n";
    }
    std::ofstream(dir + "/modules.alias") << alias_text;
    std::ofstream(dir + "/modules.dep") << dep_text;
    return 0;
}

std::string field(const char *p, size_t len) {
    return std::string(p, strnlen(p, len));
}

// do_of_entry_multi(): "of:NnameTtype[*]Ccompatible", then the same with "C*" appended for
// devices that list further compatibles.
void of_aliases(const char *table, size_t size, std::vector<std::string> *out) {
    // The last entry is the terminator.
    for (size_t off = 0; off + 2 * kOfIdSize <= size; off += kOfIdSize) {
        const char *e = table + off;
        std::string name = field(e, kOfNameLen);
        std::string type = field(e + kOfNameLen, kOfTypeLen);
        std::string compatible = field(e + kOfNameLen + kOfTypeLen, kOfCompatibleLen);
        std::string alias =
            "of:N" + (name.empty() ? "*" : name) + "T" + (type.empty() ? "*" : type);
        if (!compatible.empty())
            alias += (type.empty() ? "" : "*") + std::string("C") + compatible;
        for (char &c : alias)
            if (std::isspace(static_cast<unsigned char>(c)))
                c = '_';
        out->push_back(alias);
        out->push_back(alias + "C*");
    }
}

bool scan_object(const std::string &path, std::vector<std::string> *aliases) {
    std::string img = read_file(path);
    if (img.size() < sizeof(Elf64_Ehdr) || memcmp(img.data(), ELFMAG, SELFMAG) != 0) {
        std::cerr << "modpost: " << path << ": not an ELF object\n";
        return false;
    }
    const char *base = img.data();
    auto *eh = reinterpret_cast<const Elf64_Ehdr *>(base);
    auto *sh = reinterpret_cast<const Elf64_Shdr *>(base + eh->e_shoff);
    const char *shstr = base + sh[eh->e_shstrndx].sh_offset;
    // The symbol names a table may have: extern, or static (internal linkage, mangled "_ZL").
    std::set<std::string> tables;
    for (int i = 0; i < eh->e_shnum; i++) {
        if (strcmp(shstr + sh[i].sh_name, ".modinfo"))
            continue;
        const char *p = base + sh[i].sh_offset, *end = p + sh[i].sh_size;
        for (; p < end; p += strlen(p) + 1) {
            if (strncmp(p, "devtable=of:", 12))
                continue;
            std::string name = p + 12;
            tables.insert(name);
            tables.insert("_ZL" + std::to_string(name.size()) + name);
        }
    }
    for (int i = 0; i < eh->e_shnum && !tables.empty(); i++) {
        if (sh[i].sh_type != SHT_SYMTAB)
            continue;
        auto *syms = reinterpret_cast<const Elf64_Sym *>(base + sh[i].sh_offset);
        const char *strtab = base + sh[sh[i].sh_link].sh_offset;
        for (size_t j = 1; j < sh[i].sh_size / sizeof(Elf64_Sym); j++) {
            if (!tables.count(strtab + syms[j].st_name) || syms[j].st_shndx >= eh->e_shnum)
                continue;
            const Elf64_Shdr &sec = sh[syms[j].st_shndx];
            if (sec.sh_type != SHT_NOBITS)
                of_aliases(base + sec.sh_offset + syms[j].st_value, syms[j].st_size, aliases);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && !strcmp(argv[1], "--depmod"))
        return depmod(argv[2]);
    if (argc < 2) {
        std::cerr << "usage: modpost OUTPUT.cpp OBJECT.o... | modpost --depmod DIR\n";
        return 2;
    }
    std::vector<std::string> aliases;
    for (int i = 2; i < argc; i++)
        if (!scan_object(argv[i], &aliases))
            return 1;
    std::string text =
        "// Generated by modpost: the aliases of the module's device tables.\n"
        "#include <platform/module.h>\n\n";
    for (const std::string &a : aliases)
        text += "MODULE_ALIAS(\"" + a + "\");\n";
    std::ofstream(argv[1], std::ios::binary) << text;
    return 0;
}
