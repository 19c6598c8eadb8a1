// Reading a module's object file before it is loaded, as load_module() does with the image
// user space hands it: metadata, imports, and where its sections land once mapped.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct ModuleImage {
    // .modinfo "key=value" strings in file order.
    std::vector<std::pair<std::string, std::string>> modinfo;
    // Undefined, non-weak symbols of the dynamic symbol table.
    std::vector<std::string> imports;
    // Offset of __ksymtab from the load base, and its size; 0/0 if the module exports nothing.
    uint64_t ksymtab_addr = 0, ksymtab_size = 0;
    // Likewise for __param, the module's parameters.
    uint64_t param_addr = 0, param_size = 0;
    // Extent of the loadable segments, relative to the load base.
    uint64_t map_begin = 0, map_end = 0;
};

// Parses an ELF64 shared object; 0, -ENOENT if the file is missing, -ENOEXEC if it is not a
// module this loader can link (not ELF64 for this machine, no dynamic symbols, no .modinfo).
int module_image_read(const std::string &path, ModuleImage *img);

// get_modinfo(): the first value of key, or "" if absent.
std::string modinfo_get(const ModuleImage &img, const std::string &key);
std::vector<std::string> modinfo_get_all(const ModuleImage &img, const std::string &key);

}  // namespace sim
